#include "mailbox/mailboxerror.h"
#include "mailbox/mailboxitem.h"
#include "mailbox/restriction.h"
#include "tests/mailbox/mailboxtest.h"

#include <QRandomGenerator>
#include <QTest>

#include <functional>

namespace {

QDateTime at(int day, int hour = 0, int minute = 0, int second = 0)
{
    return QDateTime(QDate(2026, 12, day), QTime(hour, minute, second));
}

MailboxItem appointment(const QDateTime& start, const QDateTime& end)
{
    MailboxItem item;
    item.start = start;
    item.end = end;
    item.messageClass = MailboxItem::kAppointment;
    return item;
}

// What a restriction makes of the text: "matches" or "misses" for the item, "window <latest start>
// <earliest end>", or "refused: <message>".
QString outcome(const QString& text, const QLocale& locale, const MailboxItem& item)
{
    try {
        const Restriction restriction = Restriction::parse(text, locale);
        const TimeWindow window = restriction.window();
        const auto bound = [](const std::optional<QDateTime>& value) {
            return value ? value->toString(Qt::ISODate).left(16) : QStringLiteral("-");
        };
        return (restriction.matches(item) ? "matches " : "misses ") + bound(window.startAtMost) + u' ' +
               bound(window.endAtLeast);
    }
    catch (const MailboxError& error) {
        if (error.number() != MailboxError::BadRestriction ||
            !error.description().startsWith("Cannot read the restriction: "))
            return "failed otherwise: " + error.description();
        return "refused: " + error.description().mid(29);
    }
}

} // namespace

class TestRestriction : public QObject {
    Q_OBJECT

private slots:
    // The tables under tests/data/restriction, and texts too long to write there.
    void texts_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<QString>("text");
        for (const QString& name : corpus("restriction", ".txt")) {
            for (const QStringList& row : tableRows("restriction/" + name))
                QTest::newRow(qPrintable(name + ": " + row.value(0)))
                    << row.value(1) << row.value(2) << row.value(3);
        }
        const QString condition = "[Sensitivity] = 2";
        const QString tooDeep = "refused: more than 200 nested levels at character 201";
        QTest::newRow("200 levels") << "fr_FR" << QString("matches")
                                    << QString(200, u'(') + condition + QString(200, u')');
        QTest::newRow("201 levels") << "fr_FR" << tooDeep
                                    << QString(201, u'(') + condition + QString(201, u')');
        QTest::newRow("nested too deep") << "fr_FR" << tooDeep << QString(10000, u'(');
        QTest::newRow("well-formed, too deep")
            << "fr_FR" << tooDeep << QString(5000, u'(') + QString(5000, u')');
        QTest::newRow("too many nots")
            << "fr_FR" << QString("refused: more than 200 nested levels at character 801")
            << QString("not ").repeated(10000);
        QTest::newRow("a long conjunction")
            << "fr_FR" << QString("misses") << QString("[Sensitivity] = 1 and ").repeated(20000) + condition;
    }
    void texts()
    {
        QFETCH(QString, locale);
        QFETCH(QString, expected);
        QFETCH(QString, text);
        // "matches" and "misses" may name the item's start and end, or "undated" for an item without dates.
        const QStringList words = expected.split(u' ');
        MailboxItem item = appointment(at(8), at(9));
        item.allDay = true;
        item.subject = "Team Meeting";
        item.body = "say \"hi\"";
        item.categories = "Bob's;Work";
        item.sensitivity = MailboxItem::Private;
        if (words.last() == "undated")
            item = MailboxItem();
        else if (!expected.startsWith("window") && words.size() == 3)
            item = appointment(QDateTime::fromString(words[1], Qt::ISODate),
                               QDateTime::fromString(words[2], Qt::ISODate));
        const QString actual = outcome(text, QLocale(locale), item);
        if (expected.startsWith("refused: "))
            QVERIFY2(actual.startsWith("refused: ") && actual.contains(expected.mid(9)), qPrintable(actual));
        else if (expected.startsWith("window "))
            QCOMPARE(actual.section(u' ', -2), expected.section(u' ', -2));
        else
            QCOMPARE(actual.section(u' ', 0, 0), words[0]);
    }

    // Random restrictions over random items: every item that matches lies in the window. These texts and
    // those of the tables, cut short or with a character dropped, give a restriction or the one documented
    // failure, never anything else.
    void randomTexts()
    {
        QRandomGenerator random(20261207);
        const QLocale french(QLocale::French);
        const auto randomDay = [&] { return at(1 + random.bounded(28), random.bounded(24)); };
        std::function<QString(int)> expression = [&](int depth) -> QString {
            const int pick = random.bounded(depth > 3 ? 2 : 6);
            if (pick < 2) {
                const char* fields[] = {"Start", "End", "Sensitivity"};
                const char* ops[] = {"=", "<>", "<", "<=", ">", ">="};
                const char* field = fields[random.bounded(3)];
                const QString value = qstrcmp(field, "Sensitivity") == 0
                                          ? QString::number(random.bounded(4))
                                          : '"' + randomDay().toString("dd/MM/yyyy HH:mm:ss") + '"';
                return QStringLiteral("[%1] %2 %3").arg(field, ops[random.bounded(6)], value);
            }
            if (pick == 2)
                return "not " + expression(depth + 1);
            if (pick == 3)
                return "(" + expression(depth + 1) + ")";
            return expression(depth + 1) + (pick == 4 ? " and " : " or ") + expression(depth + 1);
        };
        int matched = 0;
        QStringList texts;
        for (int round = 0; round < 300; ++round) {
            texts << expression(0);
            const Restriction restriction = Restriction::parse(texts.last(), french);
            const TimeWindow window = restriction.window();
            for (int i = 0; i < 30; ++i) {
                const QDateTime start = randomDay();
                MailboxItem item = appointment(start, start.addSecs(3600 * random.bounded(100)));
                item.sensitivity = random.bounded(4);
                if (!restriction.matches(item))
                    continue;
                ++matched;
                QVERIFY2(!window.startAtMost || item.start <= *window.startAtMost, qPrintable(texts.last()));
                QVERIFY2(!window.endAtLeast || item.end >= *window.endAtLeast, qPrintable(texts.last()));
            }
        }
        QVERIFY(matched > 100); // the rounds did test something
        for (const QString& name : corpus("restriction", ".txt")) {
            for (const QStringList& row : tableRows("restriction/" + name))
                texts << row.value(3);
        }
        for (const QString& text : std::as_const(texts)) {
            for (qsizetype i = 0; i <= text.size(); ++i) {
                for (const QString& damaged : {text.left(i), text.left(i) + text.mid(i + 1)})
                    QVERIFY2(!outcome(damaged, french, appointment(at(8), at(9))).startsWith("failed"),
                             qPrintable(damaged));
            }
        }
    }
};

QTEST_GUILESS_MAIN(TestRestriction)
#include "tst_restriction.moc"
