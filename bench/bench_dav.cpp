// Measures the member query over a CalDAV server: the big generated mailbox served by Radicale on 127.0.0.1,
// read one request at a time and with requests in parallel, beside curl fetching the same REPORTs in
// parallel (the transfer floor: what the server and the network cost, without any client work).
//
//   bench-dav [--persons N] [--seed S] [--parallel K]
//
// The Radicale storage is built on disk from the generated mailbox, in Radicale's own layout, and kept
// under the cache folder with the cache Radicale adds to it, so that only the first run pays for them.

#include "base/languagetexts.h"
#include "base/programstate.h"
#include "base/settingsstore.h"
#include "bench/benchsupport.h"
#include "mailbox/addressbook.h"
#include "mailbox/dav/davmailbox.h"
#include "mailbox/dav/davxml.h"
#include "planning/colourrules.h"
#include "planning/enginestate.h"
#include "planning/memberquery.h"
#include "planning/planninggrid.h"
#include "planning/planningmatrix.h"
#include "planning/querycontext.h"
#include "tests/support/davserver.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cstdio>
#include <unistd.h>

namespace {

const QDate kFirstDay(2026, 9, 1);
const QDate kLastDay = kFirstDay.addDays(186); // 187 days

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

// Links (or copies) the files of a folder into a collection of Radicale's storage.
bool fillCollection(const QString& from, const QString& collection, const QByteArray& properties,
                    const QString& suffix)
{
    if (!writeFile(collection + QStringLiteral("/.Radicale.props"), properties))
        return false;
    const QStringList files = QDir(from).entryList({QStringLiteral("*") + suffix}, QDir::Files);
    for (const QString& name : files) {
        const QString source = from + u'/' + name;
        const QString target = collection + u'/' + name;
        if (::link(QFile::encodeName(source).constData(), QFile::encodeName(target).constData()) != 0 &&
            !QFile::copy(source, target))
            return false;
    }
    return true;
}

// Radicale's storage for the mailbox: the user's address books and one calendar per person.
QString prepareStorage(const QString& mailbox, const BenchOptions& options)
{
    const QString storage =
        QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) +
        QStringLiteral("/rotavine-bench/radicale-%1-%2").arg(options.people).arg(options.seed);
    if (QFile::exists(storage + QStringLiteral("/.complete")))
        return storage;
    QDir(storage).removeRecursively();
    const QString root = storage + QStringLiteral("/collection-root");
    const QString user = root + u'/' + DavServer::kUser;
    bool ok =
        fillCollection(mailbox + QStringLiteral("/contacts"), user + QStringLiteral("/contacts"),
                       R"({"tag": "VADDRESSBOOK", "D:displayname": "Contacts"})", QStringLiteral(".vcf"));
    ok = ok &&
         fillCollection(mailbox + QStringLiteral("/contacts/Rotavine"), user + QStringLiteral("/Rotavine"),
                        R"({"tag": "VADDRESSBOOK", "D:displayname": "Rotavine"})", QStringLiteral(".vcf"));
    for (const QString& owner :
         QDir(mailbox + QStringLiteral("/calendars")).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        ok = ok && fillCollection(mailbox + QStringLiteral("/calendars/") + owner,
                                  root + u'/' + owner + QStringLiteral("/calendar"),
                                  R"({"tag": "VCALENDAR"})", QStringLiteral(".ics"));
    if (!ok || !writeFile(storage + QStringLiteral("/.complete"), {})) {
        std::fprintf(stderr, "bench: cannot build the Radicale storage in %s\n", qPrintable(storage));
        return QString();
    }
    return storage;
}

QString utc(qint64 seconds)
{
    return QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC).toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'"));
}

// curl fetching every member's REPORT, `parallel` at a time; returns the milliseconds, -1 on failure.
double curlReports(const DavServer& server, const QStringList& addresses, int parallel, qint64* bytes)
{
    QTemporaryDir dir;
    const qint64 from = QDateTime(kFirstDay, QTime(0, 0)).toSecsSinceEpoch() - 86400;
    const qint64 to = QDateTime(kLastDay.addDays(1), QTime(0, 0)).toSecsSinceEpoch() + 86400;
    writeFile(dir.filePath(QStringLiteral("body.xml")), DavXml::calendarQuery(utc(from), utc(to), true));
    // One block per request: curl's "next" starts the options afresh, so no header is sent twice.
    QList<QByteArray> blocks;
    for (qsizetype i = 0; i < addresses.size(); ++i) {
        QByteArray block = "silent\nfail\n";
        block += "url = \"" + server.url(u'/' + addresses.at(i) + QStringLiteral("/calendar/")).toEncoded() +
                 "\"\n";
        block += "output = \"" + dir.filePath(QStringLiteral("r%1.xml").arg(i)).toUtf8() + "\"\n";
        block += "request = \"REPORT\"\nheader = \"Depth: 1\"\nheader = \"Content-Type: application/xml\"\n";
        block += "data-binary = \"@" + dir.filePath(QStringLiteral("body.xml")).toUtf8() + "\"\n";
        block += "user = \"" + (DavServer::kUser + u':' + DavServer::kPassword).toUtf8() + "\"\n";
        blocks.append(block);
    }
    const QByteArray config = blocks.join("next\n");
    writeFile(dir.filePath(QStringLiteral("curl.conf")), config);
    QProcess curl;
    QElapsedTimer timer;
    timer.start();
    curl.start(QStringLiteral("curl"),
               {QStringLiteral("--parallel"), QStringLiteral("--parallel-max"), QString::number(parallel),
                QStringLiteral("--config"), dir.filePath(QStringLiteral("curl.conf"))});
    if (!curl.waitForFinished(3600 * 1000) || curl.exitCode() != 0) {
        std::fprintf(stderr, "bench: curl failed: %s\n", curl.readAllStandardError().constData());
        return -1;
    }
    const double ms = timer.nsecsElapsed() / 1e6;
    *bytes = 0;
    for (qsizetype i = 0; i < addresses.size(); ++i)
        *bytes += QFileInfo(dir.filePath(QStringLiteral("r%1.xml").arg(i))).size();
    return ms;
}

struct QueryRun {
    double ms = 0;
    qint64 filledCells = 0;
    qint64 requests = 0;
    int messages = 0;
};

// The member query as bench-mailbox runs it, into a grid and a matrix.
QueryRun memberQuery(DavMailbox& mailbox, const QStringList& members)
{
    QTemporaryDir settingsFolder;
    SettingsStore settings(settingsFolder.filePath(QStringLiteral("Rotavine.ini")));
    const LanguageTexts texts =
        LanguageTexts::load(QStringLiteral(ROTAVINE_SOURCE_DATA "/Language"), QStringLiteral("English"));
    EngineState engine;
    engine.showDetails = true;
    engine.showTimes = true;
    ProgramState program;
    program.automaticMode = true;
    PlanningMatrix matrix;
    PlanningGrid grid;
    ColourRules rules;
    QueryRun run;
    QueryContext context{engine, program, matrix, grid, texts, mailbox, rules, settings, {}};
    context.yield = queryEventPump();
    context.showMessage = [&](MessageIcon, const QString&) { ++run.messages; };
    const qint64 before = mailbox.client().requestsSent();
    QElapsedTimer timer;
    timer.start();
    MemberQuery::run(context, kFirstDay, kLastDay, members, false);
    run.ms = timer.nsecsElapsed() / 1e6;
    run.requests = mailbox.client().requestsSent() - before;
    for (int row = 4; row < grid.rows(); ++row) {
        for (int column = 1; column < grid.columns(); ++column)
            run.filledCells += !PlanningMatrix::isEmptyHtml(matrix.cell(row, column).html);
    }
    return run;
}

std::unique_ptr<DavMailbox> openMailbox(const DavServer& server, int inFlight)
{
    DavMailbox::Options options;
    options.server = server.url();
    options.user = DavServer::kUser;
    options.password = DavServer::kPassword;
    options.timeoutSeconds = 600;
    options.maxInFlight = inFlight;
    options.addressBookMaxAgeMs = 3600 * 1000;
    return std::make_unique<DavMailbox>(options);
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    QStringList arguments = application.arguments();
    int parallel = 8;
    for (qsizetype i = 1; i + 1 < arguments.size(); ++i) {
        if (arguments.at(i) == QLatin1StringView("--persons"))
            arguments[i] = QStringLiteral("--people");
        else if (arguments.at(i) == QLatin1StringView("--parallel"))
            parallel = std::max(1, arguments.at(i + 1).toInt());
    }
    const BenchOptions options = BenchOptions::parse(arguments);
    const QString mailbox = prepareBenchMailbox(options);
    if (mailbox.isEmpty())
        return 1;
    const QString storage = prepareStorage(mailbox, options);
    if (storage.isEmpty())
        return 1;
    DavServer server(storage);
    if (!server.isRunning()) {
        std::fprintf(stderr, "bench: %s\n", qPrintable(server.error()));
        return 1;
    }
    const QList<AddressBook::Contact> persons = AddressBook(mailbox + QStringLiteral("/contacts")).persons();
    QStringList members;
    QStringList addresses;
    for (const AddressBook::Contact& person : persons) {
        members << person.name;
        addresses << person.emails.value(0);
    }
    std::printf("Radicale on %s, storage %s\n%lld members x 187 days (%s .. %s), %d requests in flight\n",
                qPrintable(server.url().toString()), qPrintable(storage),
                static_cast<long long>(members.size()), qPrintable(kFirstDay.toString(Qt::ISODate)),
                qPrintable(kLastDay.toString(Qt::ISODate)), parallel);

    // Once to let Radicale build its own cache of the items, which it keeps in the storage.
    qint64 bytes = 0;
    QElapsedTimer timer;
    timer.start();
    if (curlReports(server, addresses, parallel, &bytes) < 0)
        return 1;
    std::printf("%-50s %10.1f ms\n", "server warm-up (curl, parallel)", timer.nsecsElapsed() / 1e6);

    const double floorMs = curlReports(server, addresses, parallel, &bytes);
    std::printf("%-50s %10.1f ms  %8.1f MiB\n", "a. curl, same REPORTs in parallel (floor)", floorMs,
                bytes / 1048576.0);
    const double curlSerialMs = curlReports(server, addresses, 1, &bytes);
    std::printf("%-50s %10.1f ms\n", "b. curl, one at a time", curlSerialMs);

    auto serial = openMailbox(server, 1);
    const QueryRun one = memberQuery(*serial, members);
    std::printf("%-50s %10.1f ms  %8lld cells  %5lld requests\n", "c. member query, one request at a time",
                one.ms, static_cast<long long>(one.filledCells), static_cast<long long>(one.requests));

    auto concurrent = openMailbox(server, parallel);
    const QueryRun many = memberQuery(*concurrent, members);
    std::printf("%-50s %10.1f ms  %8lld cells  %5lld requests\n", "d. member query, requests in parallel",
                many.ms, static_cast<long long>(many.filledCells), static_cast<long long>(many.requests));

    const QueryRun again = memberQuery(*concurrent, members);
    std::printf("%-50s %10.1f ms  %8lld cells  %5lld requests\n", "e. re-run, nothing changed (getctag)",
                again.ms, static_cast<long long>(again.filledCells), static_cast<long long>(again.requests));

    std::printf("\nparallel query / floor: %.2f (target <= 1.5)\none at a time / parallel: %.1f\n"
                "re-run / parallel: %.2f\nerrors reported: %d\n",
                many.ms / floorMs, one.ms / many.ms, again.ms / many.ms,
                one.messages + many.messages + again.messages);
    return one.filledCells == many.filledCells && many.filledCells == again.filledCells ? 0 : 2;
}
