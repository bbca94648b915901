// Every parser of outside input, fed mutations of its corpus under tests/data/ for a bounded time: none may
// crash (the sanitizer build runs this too) or take long over one input. An input that fails is saved under
// artifacts/ to be added to the corpus. ROTAVINE_FUZZ_SECONDS sets the time per parser (2 by default).

#include "app/commandline.h"
#include "base/settingsstore.h"
#include "mailbox/addressbook.h"
#include "mailbox/icalendarfile.h"
#include "mailbox/mailboxerror.h"
#include "mailbox/mailboxitem.h"
#include "mailbox/restriction.h"
#include "mailbox/vcard.h"
#include "planning/filterlist.h"

#include <QDirIterator>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <functional>

namespace {

// The corpus: the files under a folder of tests/data, or their lines.
QList<QByteArray> seeds(const QString& folder, const QString& pattern, bool lines)
{
    QList<QByteArray> found;
    QDirIterator files(ROTAVINE_TEST_DATA "/" + folder, {pattern}, QDir::Files, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        QFile file(files.next());
        if (file.open(QIODevice::ReadOnly))
            lines ? void(found << file.readAll().split('\n')) : void(found << file.readAll());
    }
    return found;
}

// One to four changes: bytes flipped, set, cut out, repeated, taken from another seed, or words of the
// formats.
QByteArray mutate(QByteArray input, const QList<QByteArray>& corpus, QRandomGenerator& random)
{
    static const QList<QByteArray> words{";",
                                         ":",
                                         ",",
                                         "\r\n",
                                         " ",
                                         "\\",
                                         "=",
                                         "\"",
                                         "[",
                                         "]",
                                         "/",
                                         "-",
                                         "99999999",
                                         "0",
                                         "BEGIN:VEVENT\r\n",
                                         "END:VCALENDAR",
                                         "FREQ=SECONDLY;",
                                         "BYSETPOS=-2;",
                                         "BYMONTHDAY=30;BYMONTH=2;",
                                         "COUNT=-1;",
                                         "TZID=",
                                         "MEMBER:",
                                         "--output",
                                         "and",
                                         "or",
                                         "(",
                                         ")",
                                         "[Start]",
                                         "\xff\xfe",
                                         "\xc3"};
    const auto at = [&](qsizetype size) { return size > 0 ? qsizetype(random.bounded(int(size))) : 0; };
    for (int change = 0, changes = 1 + random.bounded(4); change < changes; ++change) {
        const qsizetype where = at(input.size());
        switch (random.bounded(6)) {
        case 0:
            if (!input.isEmpty())
                input[where] = char(input[where] ^ (1 << random.bounded(8)));
            break;
        case 1:
            input.insert(where, words.at(at(words.size())));
            break;
        case 2:
            input.remove(where, at(input.size() - where) + 1);
            break;
        case 3:
            input.insert(where, input.mid(at(input.size()), at(64) + 1).repeated(1 + random.bounded(8)));
            break;
        case 4:
            input.insert(where, corpus.at(at(corpus.size())).mid(0, at(2048) + 1));
            break;
        default:
            input.insert(where, char(random.bounded(256)));
            break;
        }
    }
    return input;
}

} // namespace

class TestFuzz : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

private slots:
    void parsers_data()
    {
        QTest::addColumn<QList<QByteArray>>("corpus");
        QTest::addColumn<std::function<void(const QByteArray&)>>("parse");
        QTest::newRow("iCalendar")
            << seeds("ical", "*.ics", false) << std::function([](const QByteArray& bytes) {
                   QString error;
                   if (const auto file = ICalendarFile::parse(bytes, &error)) {
                       std::vector<MailboxItem> items;
                       QStringList problems;
                       file->expand({1798761600, 1796083200}, items, &problems); // December 2026
                   }
               });
        QTest::newRow("vCard") << seeds("vcard", "*.vcf", false)
                               << std::function([](const QByteArray& bytes) {
                                      AddressBook::contactFromCard(VCard::parse(bytes));
                                  });
        QTest::newRow("restriction") << seeds("restriction", "*.txt", true)
                                     << std::function([](const QByteArray& bytes) {
                                            try {
                                                const Restriction restriction =
                                                    Restriction::parse(QString::fromUtf8(bytes));
                                                restriction.window();
                                                MailboxItem item;
                                                item.start = QDateTime(QDate(2026, 12, 8), QTime(9, 0));
                                                item.end = item.start.addSecs(3600);
                                                restriction.matches(item);
                                            }
                                            catch (const MailboxError&) {
                                            }
                                        });
        QTest::newRow("settings") << seeds("settings", "*.ini", false)
                                  << std::function(
                                         [path = m_dir.filePath("fuzz.ini")](const QByteArray& bytes) {
                                             QFile file(path);
                                             if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
                                                 return;
                                             file.write(bytes);
                                             file.close();
                                             const SettingsStore settings(path);
                                             loadFilterList(settings);
                                             settings.readInt("Parameters", "AtRunAction", 0, 0, 255);
                                         });
        QTest::newRow("command line")
            << seeds("commandline", "*.json", true) << std::function([](const QByteArray& bytes) {
                   CommandLineParser::parse(QString::fromUtf8(bytes).split(u' '));
               });
    }
    void parsers()
    {
        QFETCH(QList<QByteArray>, corpus);
        QFETCH(std::function<void(const QByteArray&)>, parse);
        QVERIFY(!corpus.isEmpty());
        const int seconds = qEnvironmentVariableIntValue("ROTAVINE_FUZZ_SECONDS");
        const qint64 budget = 1000 * (seconds > 0 ? seconds : 2);
        QRandomGenerator random(20261207);
        QElapsedTimer total;
        total.start();
        int inputs = 0;
        for (; total.elapsed() < budget; ++inputs) {
            const QByteArray input = mutate(corpus.at(random.bounded(int(corpus.size()))), corpus, random);
            QElapsedTimer one;
            one.start();
            parse(input);
            if (one.elapsed() > 10000) {
                const QString saved = QString(ROTAVINE_ARTIFACTS "/fuzz-%1.bin").arg(QTest::currentDataTag());
                QDir().mkpath(ROTAVINE_ARTIFACTS);
                QFile out(saved);
                if (out.open(QIODevice::WriteOnly))
                    out.write(input);
                QFAIL(qPrintable(QString("%1 ms for one input, saved as %2").arg(one.elapsed()).arg(saved)));
            }
        }
        qInfo("%d inputs", inputs);
    }
};

QTEST_GUILESS_MAIN(TestFuzz)
#include "tst_fuzz.moc"
