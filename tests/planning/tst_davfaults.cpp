#include "planning/dayview.h"
#include "planning/memberquery.h"
#include "queryfixture.h"
#include "tests/support/faultproxy.h"

#include <QLocale>
#include <QTest>

using Fixture = QueryFixture;
using Fault = FaultProxy::Fault;

Q_DECLARE_METATYPE(FaultProxy::Fault)

namespace {

const QDate kMonday(2026, 12, 7);
const QDate kSunday(2026, 12, 13);
const QStringList kTeam{"A Person", "B Person", "C Person"};

void addTeam(Fixture& fixture)
{
    for (const char* who : {"a", "b", "c"})
        fixture.addPerson(QString(who).toUpper() + " Person", QString(who) + "@example.org",
                          {Fixture::timed(QByteArray("Work ") + who, "20261208T090000", "20261208T100000")});
}

} // namespace

// Faults between the program and the server, made by a proxy of the test's: each one reaches the query as
// the error of the member it hit, the query reports that member and goes on with the next, and the next run
// over a healthy connection shows everything again.
class TestDavFaults : public QObject {
    Q_OBJECT

private slots:
    void initTestCase_data()
    {
        QTest::addColumn<bool>("server");
        QTest::newRow("dav") << true;
    }
    void initTestCase()
    {
        QLocale::setDefault(QLocale(QLocale::French, QLocale::France));
        QVERIFY2(RadicaleServer::shared().isRunning(), qPrintable(RadicaleServer::shared().error()));
    }

    void oneMemberFails_data()
    {
        QTest::addColumn<Fault>("fault");
        QTest::addColumn<QString>("method"); // the requests spoiled, by method; empty: all of B's
        QTest::addColumn<QString>("reported");
        QTest::newRow("server gone mid-query") << Fault::Drop << "REPORT"
                                               << "failed";
        QTest::newRow("500 replies") << Fault::ServerError << ""
                                     << "500";
        QTest::newRow("malformed XML") << Fault::MalformedXml << ""
                                       << "makes no sense";
        QTest::newRow("reply that never ends") << Fault::NeverEnds << "REPORT"
                                               << "in time";
        QTest::newRow("wrong password") << Fault::WrongPassword << ""
                                        << "401";
    }
    void oneMemberFails()
    {
        QFETCH(Fault, fault);
        QFETCH(QString, method);
        QFETCH(QString, reported);
        Fixture fixture;
        addTeam(fixture);
        FaultProxy proxy(quint16(RadicaleServer::shared().port()));
        fixture.davServer = proxy.url();
        fixture.davTimeoutSeconds = 1;
        fixture.engine.showDetails = true;
        const QueryContext context = fixture.context();
        proxy.setRule([&](const QByteArray& verb, const QString& path) {
            const bool hit =
                path.contains("b@example.org") && (method.isEmpty() || verb == method.toLatin1());
            return hit ? fault : Fault::None;
        });

        MemberQuery::run(context, kMonday, kSunday, kTeam, false);
        QVERIFY(proxy.spoiled() > 0);
        QCOMPARE(fixture.messages.size(), 1);
        QVERIFY2(fixture.messages.first().startsWith("B PERSON: "), qPrintable(fixture.messages.first()));
        QVERIFY2(fixture.messages.first().contains(reported), qPrintable(fixture.messages.first()));
        QCOMPARE(fixture.grid.text(4, 2), "Work a");
        QCOMPARE(fixture.grid.text(5, 0), "B Person");
        QCOMPARE(fixture.grid.text(5, 2), QString());
        QCOMPARE(fixture.grid.text(6, 2), "Work c");
        QVERIFY(fixture.engine.headersValid);

        // The day view meets the same fault the same way.
        fixture.messages.clear();
        fixture.engine.headersValid = false;
        DayView::run(context, QDate(2026, 12, 8), kTeam);
        QCOMPARE(fixture.messages.size(), 1);
        QVERIFY(fixture.messages.first().startsWith("B PERSON: "));

        // The program goes on: with the connection healthy again, the next run shows everyone.
        proxy.setRule({});
        fixture.messages.clear();
        fixture.engine.headersValid = false;
        MemberQuery::run(context, kMonday, kSunday, kTeam, false);
        QCOMPARE(fixture.messages, QStringList());
        QCOMPARE(fixture.grid.text(5, 2), "Work b");
    }

    void serverGoneForEveryone()
    {
        Fixture fixture;
        addTeam(fixture);
        FaultProxy proxy(quint16(RadicaleServer::shared().port()));
        fixture.davServer = proxy.url();
        fixture.davTimeoutSeconds = 1;
        const QueryContext context = fixture.context();
        proxy.shutDown();
        MemberQuery::run(context, kMonday, kSunday, kTeam, false);
        QCOMPARE(fixture.messages.size(), 3);
        for (int i = 0; i < 3; ++i)
            QVERIFY2(fixture.messages.at(i).startsWith(kTeam.at(i).toUpper() + ": "),
                     qPrintable(fixture.messages.at(i)));
        // Names still resolve from the address books as last read.
        QCOMPARE(fixture.grid.text(4, 0), "A Person");
        QVERIFY(!fixture.engine.queryRunning);
    }
};

QTEST_GUILESS_MAIN(TestDavFaults)
#include "tst_davfaults.moc"
