#include "planning/newappointment.h"
#include "queryfixture.h"

#include <QRegularExpression>
#include <QTest>

// Appointments created over both back ends, read back as stored: the .ics files, or the server's resources.

namespace {

const QStringList kTeam{"Élodie Martin", "José Álvarez", "Chiara Rossi <chiara@example.org>", "Ana Lima",
                        "Piet de Vries"};
const QStringList kAddresses{"elodie@example.org", "jose@example.org", "chiara@example.org",
                             "ana@example.org", "piet@example.org"};

// What the person's calendar holds, its folded lines joined again: the files, or the server's collection as
// one GET gives it (on a server the folder keeps only what was uploaded).
QByteArray stored(QueryFixture& fixture, const QString& address)
{
    QByteArray all =
        QueryFixture::onServer() ? DavServer::shared().get("/" + address + "/calendar/").body : "";
    for (const QFileInfo& file : QDir(fixture.path("calendars/" + address)).entryInfoList({"*.ics"})) {
        QFile in(file.filePath());
        all += in.open(QIODevice::ReadOnly) ? in.readAll() : "unreadable";
    }
    return all.replace("\r\n ", "");
}

} // namespace

class TestNewAppointment : public QObject {
    Q_OBJECT

private slots:
    void initTestCase_data() { QueryFixture::addSources(); }

    // Each receiver gets one item with the dialog's fields, a meeting request its attendees; a name that does
    // not resolve is reported and the others still get theirs; what cannot make an appointment writes
    // nothing.
    void writesItems_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("allDay");
        QTest::addColumn<QTime>("end");
        QTest::addColumn<QStringList>("team");
        QTest::addColumn<QList<int>>("receivers");
        QTest::addColumn<int>("refusal");
        const QTime end(16, 30);
        const QList<int> all{0, 1, 2, 3, 4};
        const QStringList unknown{kTeam[0], "Nobody Known", kTeam[1]};
        QTest::newRow("every member") << 1 << false << end << kTeam << all << 0;
        QTest::newRow("all day") << 1 << true << end << kTeam.mid(3) << QList<int>{3, 4} << 0;
        QTest::newRow("meeting") << 2 << false << end << kTeam << all << 0;
        QTest::newRow("unknown member") << 1 << false << end << unknown << QList<int>{0, 1} << 0;
        QTest::newRow("end before start") << 1 << false << QTime(14, 30) << kTeam << QList<int>{}
                                          << int(NewAppointment::Refusal::EndBeforeStart);
    }
    void writesItems()
    {
        QFETCH(int, mode);
        QFETCH(bool, allDay);
        QFETCH(QTime, end);
        QFETCH(QStringList, team);
        QFETCH(QList<int>, receivers);
        QFETCH(int, refusal);
        QueryFixture fixture;
        for (int i = 0; i < kTeam.size(); ++i)
            fixture.addPerson(NewAppointment::displayName(kTeam[i]), kAddresses[i]);
        const NewAppointment wanted{"Inventaire", QDateTime(QDate(2026, 12, 3), QTime(14, 35)),
                                    QDateTime(QDate(2026, 12, 3), end), allDay, NewAppointment::Mode(mode)};
        const NewAppointment::Outcome outcome = wanted.create(fixture.mailbox(), kTeam[2], team);
        QCOMPARE(int(outcome.refusal), refusal);
        QCOMPARE(outcome.written, mode == 2 ? int(!receivers.isEmpty()) : receivers.size());
        QCOMPARE(outcome.failures.value(0).member,
                 team.contains("Nobody Known") ? "Nobody Known" : QString());
        QStringList lines{
            allDay ? "DTSTART;VALUE=DATE:20261203\r\nDTEND;VALUE=DATE:20261204"
                   : "DTSTART;TZID=Europe/Paris:20261203T143500\r\nDTEND;TZID=Europe/Paris:20261203T163000"};
        for (const QString& address : mode == 2 ? kAddresses : QStringList())
            lines << "ATTENDEE.*ROLE=REQ-PARTICIPANT.*:mailto:" + address;
        for (int i = 0; i < kAddresses.size(); ++i) {
            const QString calendar = QString::fromUtf8(stored(fixture, kAddresses[i]));
            QCOMPARE(calendar.count("SUMMARY:Inventaire\r\n"), receivers.count(i));
            QVERIFY(!calendar.contains("VALARM"));
            QCOMPARE(calendar.contains("ATTENDEE"), mode == 2 && receivers.contains(i));
            for (const QString& line : receivers.contains(i) ? lines : QStringList())
                QVERIFY2(calendar.contains(QRegularExpression("\n" + line)), qPrintable(line));
        }
    }
};

QTEST_GUILESS_MAIN(TestNewAppointment)
#include "tst_newappointment.moc"
