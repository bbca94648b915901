// Measures the member query over a CalDAV server: the big generated mailbox served by Radicale on 127.0.0.1.
// The first run (an empty mirror) one request at a time and with requests in parallel, beside curl fetching
// what that run must fetch, each the best of --repeat turns; then a second process on the mirror the first
// left, nothing changed on the server: its requests and bytes against the first run's. Peak resident memory
// of each process.
//
//   bench-dav [--persons N] [--seed S] [--parallel K] [--repeat R]
//   bench-dav --child URL MAILBOX K   (the second process: one query, figures on one line)
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

#include <algorithm>
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

// curl fetching every member's whole calendar, `parallel` at a time; returns the milliseconds, -1 on
// failure. This is the floor of a first run: with an empty mirror every object of every calendar must come
// once, and a sync-collection from an empty token (what the first run sends) is the one request per calendar
// that brings them; what curl takes for them is what the server and the network cost, without client work.
double curlReports(const QUrl& server, const QStringList& addresses, int parallel, qint64* bytes)
{
    QTemporaryDir dir;
    writeFile(dir.filePath(QStringLiteral("body.xml")), DavXml::syncCollection(true, QString()));
    // One block per request: curl's "next" starts the options afresh, so no header is sent twice.
    QList<QByteArray> blocks;
    for (qsizetype i = 0; i < addresses.size(); ++i) {
        QByteArray block = "silent\nfail\n";
        block += "url = \"" +
                 server.resolved(QUrl(u'/' + addresses.at(i) + QStringLiteral("/calendar/"))).toEncoded() +
                 "\"\n";
        block += "output = \"" + dir.filePath(QStringLiteral("r%1.xml").arg(i)).toUtf8() + "\"\n";
        block += "request = \"REPORT\"\nheader = \"Depth: 0\"\nheader = \"Content-Type: application/xml\"\n";
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
    qint64 requests = 0; // of the query, and below of the whole process (the mailbox's opening too)
    qint64 processRequests = 0;
    qint64 processBytes = 0;
    double peakMiB = 0;
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
    run.processRequests = mailbox.client().requestsSent();
    run.processBytes = mailbox.client().bytesReceived();
    run.peakMiB = memoryFigures().peakMiB;
    for (int row = 4; row < grid.rows(); ++row) {
        for (int column = 1; column < grid.columns(); ++column)
            run.filledCells += !PlanningMatrix::isEmptyHtml(matrix.cell(row, column).html);
    }
    return run;
}

std::unique_ptr<DavMailbox> openMailbox(const QUrl& server, int inFlight)
{
    DavMailbox::Options options;
    options.server = server;
    options.user = DavServer::kUser;
    options.password = DavServer::kPassword;
    options.timeoutSeconds = 600;
    options.maxInFlight = inFlight;
    options.addressBookMaxAgeMs = 3600 * 1000;
    return std::make_unique<DavMailbox>(options);
}

// The members of the generated mailbox, and their addresses.
void readMembers(const QString& mailbox, QStringList* members, QStringList* addresses)
{
    for (const AddressBook::Contact& person : AddressBook(mailbox + QStringLiteral("/contacts")).persons()) {
        *members << person.name;
        *addresses << person.emails.value(0);
    }
}

// The second process: opens the mailbox on the mirror the first left and runs the query once.
int childRun(const QUrl& server, const QString& mailbox, int parallel)
{
    QStringList members;
    QStringList addresses;
    readMembers(mailbox, &members, &addresses);
    QElapsedTimer timer;
    timer.start();
    auto dav = openMailbox(server, parallel);
    const QueryRun run = memberQuery(*dav, members);
    std::printf("child %.3f %lld %lld %lld %lld %.1f\n", timer.nsecsElapsed() / 1e6,
                static_cast<long long>(run.requests), static_cast<long long>(run.processRequests),
                static_cast<long long>(run.processBytes), static_cast<long long>(run.filledCells),
                run.peakMiB);
    return 0;
}

QueryRun runChild(const QUrl& server, const QString& mailbox, int parallel, const QString& mirrors)
{
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CACHE_HOME"), mirrors);
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--child"), server.toString(), mailbox, QString::number(parallel)});
    QueryRun run;
    run.ms = -1;
    if (!child.waitForFinished(-1) || child.exitCode() != 0) {
        std::fprintf(stderr, "bench: the second process failed\n");
        return run;
    }
    for (const QByteArray& line : child.readAllStandardOutput().split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() == 7 && fields[0] == "child") {
            run.ms = fields[1].toDouble();
            run.requests = fields[2].toLongLong();
            run.processRequests = fields[3].toLongLong();
            run.processBytes = fields[4].toLongLong();
            run.filledCells = fields[5].toLongLong();
            run.peakMiB = fields[6].toDouble();
        }
    }
    return run;
}

void printRun(const char* label, const QueryRun& run)
{
    std::printf("%-50s %10.1f ms  %8lld cells  %5lld requests (%lld in all, %.2f MiB)\n", label, run.ms,
                static_cast<long long>(run.filledCells), static_cast<long long>(run.requests),
                static_cast<long long>(run.processRequests), run.processBytes / 1048576.0);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    QStringList arguments = application.arguments();
    if (arguments.size() == 5 && arguments.at(1) == QLatin1StringView("--child"))
        return childRun(QUrl(arguments.at(2)), arguments.at(3), std::max(1, arguments.at(4).toInt()));
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
    QStringList members;
    QStringList addresses;
    readMembers(mailbox, &members, &addresses);
    std::printf("Radicale on %s, storage %s\n%lld members x 187 days (%s .. %s), %d requests in flight\n",
                qPrintable(server.url().toString()), qPrintable(storage),
                static_cast<long long>(members.size()), qPrintable(kFirstDay.toString(Qt::ISODate)),
                qPrintable(kLastDay.toString(Qt::ISODate)), parallel);
    // The mirrors go to folders of their own from here on: each first run starts from none.
    QTemporaryDir mirrors;

    // Once to let Radicale build its own cache of the items, which it keeps in the storage.
    qint64 bytes = 0;
    QElapsedTimer timer;
    timer.start();
    if (curlReports(server.url(), addresses, parallel, &bytes) < 0)
        return 1;
    std::printf("%-50s %10.1f ms\n", "server warm-up (curl, parallel)", timer.nsecsElapsed() / 1e6);

    // The first runs and curl take turns, and each figure is the best of --repeat turns: on a shared
    // machine a turn may be slowed by others.
    double curlParallelMs = 0;
    double curlSerialMs = 0;
    QueryRun one;
    QueryRun many;
    std::unique_ptr<DavMailbox> concurrent;
    QString parallelMirror;
    for (int turn = 0; turn < options.repeat; ++turn) {
        const double curlParallel = curlReports(server.url(), addresses, parallel, &bytes);
        const double curlSerial = curlReports(server.url(), addresses, 1, &bytes);
        if (curlParallel < 0 || curlSerial < 0)
            return 1;
        curlParallelMs = turn == 0 ? curlParallel : std::min(curlParallelMs, curlParallel);
        curlSerialMs = turn == 0 ? curlSerial : std::min(curlSerialMs, curlSerial);

        qputenv("XDG_CACHE_HOME", QFile::encodeName(mirrors.filePath(QStringLiteral("serial%1").arg(turn))));
        auto serial = openMailbox(server.url(), 1);
        const QueryRun oneNow = memberQuery(*serial, members);
        serial.reset();
        if (turn == 0 || oneNow.ms < one.ms)
            one = oneNow;

        parallelMirror = mirrors.filePath(QStringLiteral("parallel%1").arg(turn));
        qputenv("XDG_CACHE_HOME", QFile::encodeName(parallelMirror));
        concurrent = openMailbox(server.url(), parallel);
        const QueryRun manyNow = memberQuery(*concurrent, members);
        if (turn == 0 || manyNow.ms < many.ms)
            many = manyNow;
    }
    std::printf("%-50s %10.1f ms  %8.2f MiB\n", "a. curl, whole calendars in parallel", curlParallelMs,
                bytes / 1048576.0);
    std::printf("%-50s %10.1f ms\n", "b. curl, one at a time", curlSerialMs);
    // The floor is the better of the two: curl is not faster in parallel against a server that works on one
    // request at a time.
    const double floorMs = std::min(curlParallelMs, curlSerialMs);
    printRun("c. first run, one request at a time", one);
    printRun("d. first run, requests in parallel", many);

    const QueryRun again = memberQuery(*concurrent, members);
    printRun("e. same process again, nothing changed", again);

    const QueryRun second = runChild(server.url(), mailbox, parallel, parallelMirror);
    printRun("f. second process, nothing changed (with opening)", second);

    std::printf("\nfirst run in parallel / floor (the better curl figure): %.2f (target <= 1.5)\n"
                "first run one at a time / floor: %.2f\n"
                "one at a time / parallel: %.2f (target >= 1)\n"
                "second process / first run: %.3f of the bytes, %.3f of the requests (target <= 0.1)\n"
                "peak resident memory: this process %.0f MiB, second process %.0f MiB\n"
                "errors reported: %d\n",
                many.ms / floorMs, one.ms / floorMs, one.ms / many.ms,
                double(second.processBytes) / double(many.processBytes),
                double(second.processRequests) / double(many.processRequests), memoryFigures().peakMiB,
                second.peakMiB, one.messages + many.messages + again.messages);
    const bool same = one.filledCells == many.filledCells && many.filledCells == again.filledCells &&
                      again.filledCells == second.filledCells;
    return same ? 0 : 2;
}
