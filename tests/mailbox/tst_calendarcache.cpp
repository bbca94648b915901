#include "mailbox/calendarcache.h"
#include "mailbox/calendarindex.h"
#include "mailbox/icalendarfile.h"
#include "tests/mailbox/mailboxtest.h"
#include "tests/support/fixtures.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <fcntl.h>
#include <sys/stat.h>

namespace {

// Every field an occurrence carries, one line each, then the problems. The window is "from to".
// Equal, but for a series cut for taking too long: the cut falls wherever the machine's load puts it, so
// the shorter of two such expansions must be where the longer one begins.
bool sameUpToCut(QStringList a, QStringList b)
{
    const auto cut = [](const QString& line) { return line.contains("too many dates"); };
    if (a.filter("too many dates").isEmpty() && b.filter("too many dates").isEmpty())
        return a == b;
    a.removeIf(cut);
    b.removeIf(cut);
    if (a.size() > b.size())
        std::swap(a, b);
    return b.mid(0, a.size()) == a;
}

QStringList expanded(const ICalendarFile& file, const QString& window)
{
    std::vector<MailboxItem> items;
    QStringList lines = file.problems();
    const QStringList bounds = window.split(u' ');
    file.expand({QDateTime::fromString(bounds.value(1), Qt::ISODate).toSecsSinceEpoch(),
                 QDateTime::fromString(bounds.value(0), Qt::ISODate).toSecsSinceEpoch()},
                items, &lines);
    for (const MailboxItem& item : items)
        lines << item.start.toString(Qt::ISODate) + u'|' + item.end.toString(Qt::ISODate) + u'|' +
                     item.subject + u'|' + item.body + u'|' + item.categories + u'|' + item.messageClass +
                     u'|' + item.source.uid + u'|' + item.source.recurrenceId.toString(Qt::ISODate) + u'|' +
                     QString::number(item.allDay * 10 + item.sensitivity);
    return lines;
}

// Events of 7 December 2026, a at 9:00, b at 11:00, c at 13:00.
void writeEvent(const QString& folder, char uid, const char* subject)
{
    const auto hour = [uid](int later) {
        return QByteArray::number(9 + 2 * (uid - 'a') + later).rightJustified(2, '0');
    };
    writeFile(folder + u'/' + uid + ".ics",
              calendarEvent(QByteArray(1, uid).constData(), subject, "20261207T" + hour(0) + "0000",
                            "20261207T" + hour(1) + "0000"));
}

QStringList subjects(CalendarIndex& index)
{
    QStringList list;
    for (const auto& item :
         index.scan({QDateTime(QDate(2026, 12, 8), QTime()), QDateTime(QDate(2026, 12, 7), QTime())})
             .occurrences)
        list << item->subject;
    return list;
}

QStringList allSubjects(const QString& folder, int* parsed)
{
    CalendarIndex index(folder);
    const QStringList list = subjects(index);
    *parsed = index.filesParsed();
    return list;
}

} // namespace

class TestCalendarCache : public QObject {
    Q_OBJECT

    QTemporaryDir m_cacheHome;
    QString m_stored; // set in the second process of corpusRoundTrip

private slots:
    void initTestCase()
    {
        // Never the real user's cache; a second process of this test reads the first one's.
        m_stored = qEnvironmentVariable("ROTAVINE_TEST_STORED");
        if (m_stored.isEmpty())
            qputenv("XDG_CACHE_HOME", m_cacheHome.path().toUtf8());
    }

    // Parsed, stored and loaded again in another process (zones named, a file's own zone read again there),
    // every file of the corpus expands as it did; a stored file cut short is refused.
    void corpusRoundTrip()
    {
        if (!m_stored.isEmpty())
            QSKIP("the first process's part");
        QTemporaryDir stored;
        QList<QStringList> expected;
        const QStringList names = corpus("ical", ".ics");
        for (const QString& name : names) {
            QString error;
            const auto file = ICalendarFile::parse(readBytes(dataPath("ical/" + name)), &error);
            const QByteArray bytes = file ? file->serialize() : QByteArray();
            QVERIFY2(!file || !bytes.isEmpty(), qPrintable(name));
            // A series cut for taking too long is cut at no fixed place: such files are compared over the
            // window of their golden file, which they give whole.
            QString window = "1990-01-01T00:00:00 2040-01-01T00:00:00";
            if (file && !expanded(*file, window).filter("too many dates").isEmpty())
                window = readLines(dataPath("ical/" + name + ".expected")).value(0).section(u' ', 1);
            const auto copy = ICalendarFile::deserialize(bytes, &error);
            QVERIFY2(!file || (copy && sameUpToCut(expanded(*copy, window), expanded(*file, window))),
                     qPrintable(name));
            for (const qsizetype cut : {qsizetype(0), bytes.size() / 2, bytes.size() - 1})
                QVERIFY2(!ICalendarFile::deserialize(bytes.left(cut), &error) && !error.isEmpty(),
                         qPrintable(name));
            writeFile(stored.filePath(name), bytes);
            writeFile(stored.filePath(name + ".window"), window.toUtf8());
            expected.append(file ? expanded(*file, window) : QStringList());
        }
        QProcess second;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("ROTAVINE_TEST_STORED", stored.path());
        second.setProcessEnvironment(environment);
        second.start(QCoreApplication::applicationFilePath(), {"expandStored"});
        QVERIFY(second.waitForFinished(120000));
        QCOMPARE(second.exitCode(), 0);
        // The second process writes each file's lines after its name.
        const QStringList lines = readLines(stored.filePath("expanded.txt"));
        for (qsizetype file = 0, at = 0; file < names.size(); ++file) {
            QCOMPARE(lines.value(at), names[file]);
            const qsizetype end =
                file + 1 < names.size() ? lines.indexOf(names[file + 1], at + 1) : lines.size();
            QVERIFY2(end > at && sameUpToCut(lines.mid(at + 1, end - at - 1), expected[file]),
                     qPrintable(names[file]));
            at = end;
        }
    }
    void expandStored()
    {
        if (m_stored.isEmpty())
            QSKIP("the second process's part");
        QStringList lines;
        for (const QString& name : corpus("ical", ".ics")) {
            QString error;
            const QByteArray bytes = readBytes(m_stored + u'/' + name);
            const auto file = ICalendarFile::deserialize(bytes, &error);
            QVERIFY2(bytes.isEmpty() || file, qPrintable(name + ": " + error));
            const QString window = QString::fromUtf8(readBytes(m_stored + u'/' + name + ".window"));
            lines << name << (file ? expanded(*file, window) : QStringList());
        }
        writeFile(m_stored + "/expanded.txt", lines.join(u'\n').toUtf8() + '\n');
    }

    // A cache that cannot be trusted is never used, whatever it says, and is written again whole.
    void untrustedCacheIsRebuilt_data()
    {
        QTest::addColumn<QString>("damage");
        for (const char* damage : {"subject changed", "cut short", "empty", "other format", "garbage after",
                                   "newer entry from another process", "switched off"})
            QTest::newRow(damage) << QString(damage);
    }
    void untrustedCacheIsRebuilt()
    {
        QFETCH(QString, damage);
        QTemporaryDir folder;
        writeEvent(folder.path(), 'a', "Alpha");
        writeEvent(folder.path(), 'b', "Bravo");
        const QStringList both{"Alpha", "Bravo"};
        int parsed = 0;
        QCOMPARE(allSubjects(folder.path(), &parsed), both);
        QCOMPARE(parsed, 2);
        const CalendarCache cache(folder.path());
        // Nobody else's: no permission for the group or others on the file or its folder.
        QCOMPARE(QFileInfo(cache.path()).permissions() & 0x77, 0);
        QCOMPARE(QFileInfo(CalendarCache::folder()).permissions() & 0x77, 0);

        QByteArray bytes = readBytes(cache.path());
        if (damage == "subject changed")
            bytes.replace(QByteArray("\0A\0l\0p\0h\0a", 10), QByteArray("\0O\0m\0e\0g\0a", 10));
        else if (damage == "cut short")
            bytes.chop(bytes.size() / 3);
        else if (damage == "empty")
            bytes.clear();
        else if (damage == "other format")
            bytes[11] = char(bytes[11] + 1);
        else if (damage == "garbage after")
            bytes += "more";
        else if (damage == "switched off")
            qputenv("ROTAVINE_NO_CACHE", "1");
        else {
            // Two processes at once, each writing what it learnt: whichever writes last leaves a cache that
            // holds.
            auto earlier = std::make_unique<CalendarIndex>(folder.path());
            subjects(*earlier);
            writeEvent(folder.path(), 'a', "Alpha2");
            CalendarIndex later(folder.path());
            QCOMPARE(subjects(later), (QStringList{"Alpha2", "Bravo"}));
            writeEvent(folder.path(), 'c', "Charlie");
            QCOMPARE(subjects(*earlier), (QStringList{"Alpha2", "Bravo", "Charlie"}));
            earlier.reset(); // it ends, and writes what it learnt since
            QCOMPARE(allSubjects(folder.path(), &parsed), (QStringList{"Alpha2", "Bravo", "Charlie"}));
            QCOMPARE(parsed, 0);
            return;
        }
        QFile rewrite(cache.path());
        QVERIFY(rewrite.open(QIODevice::WriteOnly | QIODevice::Truncate));
        rewrite.write(bytes);
        rewrite.close();

        QCOMPARE(allSubjects(folder.path(), &parsed), both);
        QCOMPARE(parsed, 2);
        QCOMPARE(allSubjects(folder.path(), &parsed), both);
        qunsetenv("ROTAVINE_NO_CACHE");
        QCOMPARE(parsed, damage == "switched off" ? 2 : 0);
    }

    // What a new process takes from the cache and what it reads again. The folder is a few seconds old
    // before the first scan, so that only the stamps can tell a change.
    void newProcessSeesChanges_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<int>("parsed");
        QTest::newRow("nothing") << "nothing" << QStringList{"Alpha", "Bravo"} << 0;
        QTest::newRow("rewritten in place, same size and time")
            << "in place" << QStringList{"Omega", "Bravo"} << 1;
        QTest::newRow("deleted") << "deleted" << QStringList{"Bravo"} << 0;
        QTest::newRow("added") << "added" << QStringList{"Alpha", "Bravo", "Charlie"} << 1;
        QTest::newRow("replaced by another file") << "replaced" << QStringList{"Omega", "Bravo"} << 1;
        for (int row = 0; row < 5; ++row) {
            m_folders.push_back(std::make_unique<QTemporaryDir>());
            writeEvent(m_folders.back()->path(), 'a', "Alpha");
            writeEvent(m_folders.back()->path(), 'b', "Bravo");
        }
        QThread::msleep(2100);
    }
    void newProcessSeesChanges()
    {
        QFETCH(QString, change);
        QFETCH(QStringList, expected);
        QFETCH(int, parsed);
        const QString folder = m_folders[m_row++]->path();
        const QString path = folder + "/a.ics";
        int again = -1;
        QCOMPARE(allSubjects(folder, &again), (QStringList{"Alpha", "Bravo"}));
        if (change == "in place") {
            struct stat before {};
            QCOMPARE(::stat(QFile::encodeName(path).constData(), &before), 0);
            const QByteArray omega = readBytes(path).replace("Alpha", "Omega");
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadWrite) && file.write(omega) == omega.size());
            file.close();
            const timespec times[2] = {before.st_atim, before.st_mtim};
            QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0), 0);
        }
        else if (change == "deleted") {
            QVERIFY(QFile::remove(path));
        }
        else if (change == "added") {
            writeEvent(folder, 'c', "Charlie");
        }
        else if (change == "replaced") {
            writeFile(folder + "/new", readBytes(path).replace("Alpha", "Omega"));
            QVERIFY(::rename(QFile::encodeName(folder + "/new").constData(),
                             QFile::encodeName(path).constData()) == 0);
        }
        QCOMPARE(allSubjects(folder, &again), expected);
        QCOMPARE(again, parsed);
        QCOMPARE(allSubjects(folder, &again), expected);
        QCOMPARE(again, 0);
    }

    // A new process takes the occurrences the last one saved only for the same window and the folder named
    // alike, and they are what expanding gives: every field, the files' problems, the files' names.
    void savedOccurrencesAreExpandedOnes_data()
    {
        QTest::addColumn<QString>("folderSuffix");
        QTest::addColumn<int>("day");
        QTest::newRow("same window") << "" << 7;
        QTest::newRow("another window") << "" << 8;
        QTest::newRow("folder named otherwise") << "/." << 7;
    }
    void savedOccurrencesAreExpandedOnes()
    {
        QFETCH(QString, folderSuffix);
        QFETCH(int, day);
        QTemporaryDir folder;
        writeEvent(folder.path(), 'a', "Alpha");
        writeEvent(folder.path(), 'b', "Bravo");
        writeFile(folder.filePath("c.ics"),
                  calendarEvent("c", "Charlie", "20261207T100000", "20261231T250000"));
        const auto lines = [](const QString& path, int day) {
            CalendarIndex index(path);
            const Folder::Scan scan = index.scan(
                {QDateTime(QDate(2026, 12, day + 1), QTime()), QDateTime(QDate(2026, 12, day), QTime())});
            QStringList lines;
            for (const MailboxError& error : scan.errors)
                lines << error.description();
            for (const auto& item : scan.occurrences)
                lines << item->start.toString(Qt::ISODate) + u'|' + item->end.toString(Qt::ISODate) + u'|' +
                             item->subject + u'|' + item->source.location + u'|' + item->source.uid;
            return lines;
        };
        const QStringList first = lines(folder.path(), 7);
        QVERIFY2(first.size() == 4 && first.first().contains("c.ics"),
                 qPrintable(first.join(u'\n'))); // Charlie: a problem
        const QStringList later = lines(folder.path() + folderSuffix, day);
        qputenv("ROTAVINE_NO_CACHE", "1");
        const QStringList expanded = lines(folder.path() + folderSuffix, day);
        qunsetenv("ROTAVINE_NO_CACHE");
        QCOMPARE(later, expanded);
    }

private:
    std::vector<std::unique_ptr<QTemporaryDir>> m_folders;
    int m_row = 0;
};

QTEST_GUILESS_MAIN(TestCalendarCache)
#include "tst_calendarcache.moc"
