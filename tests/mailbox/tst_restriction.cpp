#include "mailbox/mailboxerror.h"
#include "mailbox/mailboxitem.h"
#include "mailbox/restriction.h"

#include <QRandomGenerator>
#include <QTest>

#include <array>
#include <functional>

namespace {

MailboxItem appointment(const QDateTime& start, const QDateTime& end)
{
    MailboxItem item;
    item.start = start;
    item.end = end;
    item.messageClass = MailboxItem::kAppointment;
    return item;
}

QDateTime at(int month, int day, int hour = 0, int minute = 0, int second = 0)
{
    return QDateTime(QDate(2026, month, day), QTime(hour, minute, second));
}

// The query the program builds for the items that touch [S, E].
QString touching(const QString& s, const QString& e)
{
    return QStringLiteral(
               "([Start] >= \"%1\" and [Start] <= \"%2\") OR ([Start] <= \"%1\" and [End] >= \"%2\") OR "
               "([Start] <= \"%1\" And [End] <= \"%2\" And [End] >= \"%1\")")
        .arg(s, e);
}

// Either a restriction or the one documented failure; anything else (another exception, a crash, a hang)
// fails the test.
std::optional<Restriction> parseOrRefuse(const QString& text,
                                         const QLocale& locale = QLocale(QLocale::French))
{
    try {
        return Restriction::parse(text, locale);
    }
    catch (const MailboxError& error) {
        if (error.number() != MailboxError::BadRestriction ||
            !error.description().startsWith(QStringLiteral("Cannot read the restriction: ")))
            qFatal("unexpected failure for %s: %s", qPrintable(text), qPrintable(error.description()));
        return std::nullopt;
    }
}

} // namespace

class TestRestriction : public QObject {
    Q_OBJECT

private slots:
    void touchingQuery_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("s");
        QTest::addColumn<QString>("e");
        QTest::addColumn<QDateTime>("start");
        QTest::addColumn<QDateTime>("end");
        QTest::addColumn<bool>("expected");

        // S = 7 December 15:30, E = 14 December midnight, in each locale's general date text.
        const QList<std::array<QString, 3>> locales = {
            {QStringLiteral("fr_FR"), QStringLiteral("07/12/2026 15:30:00"), QStringLiteral("14/12/2026")},
            {QStringLiteral("en_US"), QStringLiteral("12/7/2026 3:30:00 PM"), QStringLiteral("12/14/2026")},
        };
        for (const auto& [locale, s, e] : locales) {
            const auto row = [&](const char* name) {
                return &(QTest::newRow(qPrintable(locale + QStringLiteral(": ") + QLatin1StringView(name)))
                         << locale << s << e);
            };
            *row("starts inside") << at(12, 8, 10) << at(12, 8, 11) << true;
            *row("starts inside, ends after") << at(12, 13, 22) << at(12, 16) << true;
            *row("covers") << at(12, 6) << at(12, 15) << true;
            *row("starts before, ends inside") << at(12, 7, 9) << at(12, 7, 16) << true;
            *row("ends exactly at S") << at(12, 7, 14) << at(12, 7, 15, 30) << true;
            *row("starts exactly at S") << at(12, 7, 15, 30) << at(12, 7, 17) << true;
            *row("starts exactly at E") << at(12, 14) << at(12, 14, 1) << true;
            *row("ends a second before S") << at(12, 7, 14) << at(12, 7, 15, 29, 59) << false;
            *row("starts a second after E") << at(12, 14, 0, 0, 1) << at(12, 14, 2) << false;
            *row("days before") << at(12, 1, 10) << at(12, 1, 11) << false;
            *row("days after") << at(12, 20, 10) << at(12, 20, 11) << false;
        }
    }

    void touchingQuery()
    {
        QFETCH(QString, locale);
        QFETCH(QString, s);
        QFETCH(QString, e);
        QFETCH(QDateTime, start);
        QFETCH(QDateTime, end);
        QFETCH(bool, expected);

        const Restriction restriction = Restriction::parse(touching(s, e), QLocale(locale));
        QCOMPARE(restriction.matches(appointment(start, end)), expected);

        const TimeWindow window = restriction.window();
        QCOMPARE(window.startAtMost, std::optional(at(12, 14)));
        QCOMPARE(window.endAtLeast, std::optional(at(12, 7, 15, 30)));
    }

    void conditions_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("expected");

        // Every row is checked against the same item: a private, all-day "Team Meeting" on 8 December.
        QTest::newRow("upper-case keywords")
            << "[Start] >= \"07/12/2026\" AND [Start] <= \"14/12/2026\" OR [Subject] = \"x\"" << true;
        QTest::newRow("mixed-case keywords")
            << "[Start] >= \"07/12/2026\" aNd [Start] <= \"14/12/2026\" oR [Subject] = \"x\"" << true;
        QTest::newRow("lower-case property names")
            << "[start] >= \"07/12/2026\" and [END] <= \"09/12/2026\"" << true;
        QTest::newRow("spaces inside the brackets") << "[ Start ] >= \"07/12/2026\"" << true;
        QTest::newRow("no spaces at all") << "([Start]>=\"07/12/2026\")and([End]<=\"09/12/2026\")" << true;
        QTest::newRow("tabs and new lines") << "\t[Start]\n>=\r\n\"07/12/2026\"  " << true;
        QTest::newRow("value first") << "\"07/12/2026\" <= [Start] and \"09/12/2026\" > [Start]" << true;
        QTest::newRow("value first, strict, fails") << "\"08/12/2026\" < [Start]" << false;
        QTest::newRow("ISO date") << "[Start] = \"2026-12-08\"" << true;
        QTest::newRow("ISO date and time") << "[End] = \"2026-12-09T00:00:00\"" << true;
        QTest::newRow("ISO UTC moment, one hour behind Paris") << "[End] = \"2026-12-08T23:00:00Z\"" << true;
        QTest::newRow("date with time, strict") << "[Start] < \"08/12/2026 00:00:01\"" << true;
        QTest::newRow("<> on a date") << "[Start] <> \"08/12/2026\"" << false;

        QTest::newRow("text ignores letter case") << "[Subject] = \"team meeting\"" << true;
        QTest::newRow("text <>") << "[Subject] <> \"TEAM MEETING\"" << false;
        QTest::newRow("text ordering") << "[Subject] > \"team\" and [Subject] < \"TEAM N\"" << true;
        QTest::newRow("single quotes") << "[Subject] = 'Team Meeting'" << true;
        QTest::newRow("doubled double quote") << "[Body] = \"say \"\"hi\"\"\"" << true;
        QTest::newRow("doubled single quote") << "[Categories] = 'Bob''s;Work'" << true;
        QTest::newRow("message class") << "[MessageClass] = \"ipm.appointment\"" << true;

        QTest::newRow("number") << "[Sensitivity] = 2" << true;
        QTest::newRow("number ordering") << "[Sensitivity] >= 3" << false;
        QTest::newRow("quoted number") << "[Sensitivity] = \"2\"" << true;
        QTest::newRow("decimal number") << "[Sensitivity] < 2.5" << true;
        QTest::newRow("negative number") << "[Sensitivity] > -1" << true;

        QTest::newRow("True") << "[AllDayEvent] = True" << true;
        QTest::newRow("true in lower case") << "[AllDayEvent] = true" << true;
        QTest::newRow("False") << "[AllDayEvent] = FALSE" << false;
        QTest::newRow("-1 is true") << "[AllDayEvent] = -1" << true;
        QTest::newRow("0 is false") << "[AllDayEvent] <> 0" << true;
        QTest::newRow("quoted True") << "[AllDayEvent] = \"True\"" << true;
        QTest::newRow("value first yes/no") << "False = [AllDayEvent]" << false;

        QTest::newRow("not") << "not [Subject] = \"x\"" << true;
        QTest::newRow("NOT NOT") << "NOT NOT [Subject] = \"x\"" << false;
        QTest::newRow("and binds tighter than or")
            << "[Subject] = \"Team Meeting\" or [Subject] = \"y\" and [Sensitivity] = 0" << true;
        QTest::newRow("parentheses override")
            << "([Subject] = \"Team Meeting\" or [Subject] = \"y\") and [Sensitivity] = 0" << false;
        QTest::newRow("not binds tighter than and") << "not [Subject] = \"y\" and [Sensitivity] = 0" << false;
        QTest::newRow("not over parentheses") << "not ([Subject] = \"y\" and [Sensitivity] = 0)" << true;
        QTest::newRow("keyword beside parentheses") << "not([Subject]=\"y\")and(not[Sensitivity]=0)" << true;
    }

    void conditions()
    {
        QFETCH(QString, text);
        QFETCH(bool, expected);

        MailboxItem item = appointment(at(12, 8), at(12, 9));
        item.allDay = true;
        item.subject = QStringLiteral("Team Meeting");
        item.body = QStringLiteral("say \"hi\"");
        item.categories = QStringLiteral("Bob's;Work");
        item.sensitivity = MailboxItem::Private;

        QCOMPARE(Restriction::parse(text, QLocale(QStringLiteral("fr_FR"))).matches(item), expected);
    }

    void itemWithoutDatesMatchesNoDateComparison()
    {
        const MailboxItem contact;
        for (const char* text :
             {"[Start] >= \"01/01/2000\"", "[Start] < \"01/01/2000\"", "[End] <> \"01/01/2000\""})
            QVERIFY2(!Restriction::parse(QString::fromLatin1(text), QLocale(QStringLiteral("fr_FR")))
                          .matches(contact),
                     text);
    }

    void refused_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("problem");

        QTest::newRow("empty") << ""
                               << "fr_FR"
                               << "the text is empty";
        QTest::newRow("blank") << " \t "
                               << "fr_FR"
                               << "the text is empty";
        QTest::newRow("unknown property") << "([Strat] >= \"07/12/2026\")"
                                          << "fr_FR"
                                          << "unknown property [Strat] at character 2";
        QTest::newRow("property not closed") << "[Start >= \"07/12/2026\""
                                             << "fr_FR"
                                             << "without its closing \"]\" at character 1";
        QTest::newRow("missing closing parenthesis")
            << "([Start] >= \"07/12/2026\" and [End] <= \"14/12/2026\""
            << "fr_FR"
            << "expected a closing \")\" instead of the end of the text at character 51";
        QTest::newRow("closing parenthesis replaced")
            << "([Start] >= \"07/12/2026\" [End] <= \"14/12/2026\")"
            << "fr_FR"
            << "expected a closing \")\" instead of \"[End]\" at character 26";
        QTest::newRow("impossible day") << "[Start] >= \"31/02/2026\""
                                        << "fr_FR"
                                        << "\"31/02/2026\" is not a date at character 12";
        QTest::newRow("US date in French") << "[Start] >= \"12/31/2026\""
                                           << "fr_FR"
                                           << "\"12/31/2026\" is not a date at character 12";
        QTest::newRow("French date in US") << "[Start] >= \"31/12/2026\""
                                           << "en_US"
                                           << "\"31/12/2026\" is not a date at character 12";
        QTest::newRow("impossible ISO day") << "[Start] >= \"2026-02-31\""
                                            << "fr_FR"
                                            << "\"2026-02-31\" is not a date at character 12";
        QTest::newRow("unterminated double quote") << "[Subject] = \"abc"
                                                   << "fr_FR"
                                                   << "quoted text without its closing \" at character 13";
        QTest::newRow("unterminated single quote") << "[Subject] = 'it''s"
                                                   << "fr_FR"
                                                   << "quoted text without its closing ' at character 13";
        QTest::newRow("missing operator")
            << "[Start] \"07/12/2026\""
            << "fr_FR"
            << "expected a comparison operator (=, <>, <, <=, >, >=) after [Start] "
               "instead of \"07/12/2026\" at character 9";
        QTest::newRow("missing operator after a value") << "3 [Sensitivity]"
                                                        << "fr_FR"
                                                        << "expected a comparison operator";
        QTest::newRow("missing value")
            << "[Sensitivity] ="
            << "fr_FR"
            << "compared with a number, not with the end of the text at character 16";
        QTest::newRow("trailing parenthesis")
            << "[Sensitivity] = 1 )"
            << "fr_FR"
            << "unexpected \")\" after the end of the condition at character 19";
        QTest::newRow("trailing condition") << "[Sensitivity] = 1 [Subject] = \"x\""
                                            << "fr_FR"
                                            << "unexpected \"[Subject]\" after the end of the condition";
        QTest::newRow("dangling and")
            << "[Sensitivity] = 1 and"
            << "fr_FR"
            << "expected a condition instead of the end of the text at character 22";
        QTest::newRow("leading or") << "or [Sensitivity] = 1"
                                    << "fr_FR"
                                    << "expected a condition instead of \"or\" at character 1";
        QTest::newRow("empty parentheses") << "()"
                                           << "fr_FR"
                                           << "expected a condition instead of \")\"";
        QTest::newRow("unknown word") << "[Subject] = meeting"
                                      << "fr_FR"
                                      << "unknown word \"meeting\" at character 13";
        QTest::newRow("unquoted date") << "[Start] >= 07/12/2026"
                                       << "fr_FR"
                                       << "unexpected character \"/\" at character 14";
        QTest::newRow("unknown operator") << "[Sensitivity] != 1"
                                          << "fr_FR"
                                          << "unexpected character \"!\" at character 15";
        QTest::newRow("date compared with a number") << "[Start] >= 2026"
                                                     << "fr_FR"
                                                     << "[Start] is compared with a date in quotes";
        QTest::newRow("text compared with a number") << "[Subject] = 3"
                                                     << "fr_FR"
                                                     << "[Subject] is compared with a text in quotes";
        QTest::newRow("number compared with a word") << "[Sensitivity] = \"high\""
                                                     << "fr_FR"
                                                     << "[Sensitivity] is compared with a number";
        QTest::newRow("yes/no ordered") << "[AllDayEvent] > 0"
                                        << "fr_FR"
                                        << "can only be compared with = or <>, not with >";
        QTest::newRow("yes/no compared with a word") << "[AllDayEvent] = \"maybe\""
                                                     << "fr_FR"
                                                     << "compared with True or False";
        QTest::newRow("two properties")
            << "[Start] = [End]"
            << "fr_FR"
            << "can only be compared with a value, not with [End] at character 11";
        QTest::newRow("two values") << "\"a\" = \"b\""
                                    << "fr_FR"
                                    << "expected a [property] instead of \"b\" at character 7";
        QTest::newRow("nested too deep") << QString(10000, u'(') << "fr_FR"
                                         << "more than 200 nested levels at character 201";
        QTest::newRow("too many nots") << QString(QStringLiteral("not ")).repeated(10000) << "fr_FR"
                                       << "more than 200 nested levels at character 801";
        QTest::newRow("201 levels") << QString(201, u'(') + "[Sensitivity] = 1" + QString(201, u')')
                                    << "fr_FR"
                                    << "more than 200 nested levels at character 201";
    }

    void refused()
    {
        QFETCH(QString, text);
        QFETCH(QString, locale);
        QFETCH(QString, problem);

        try {
            Restriction::parse(text, QLocale(locale));
            QFAIL("the text was accepted");
        }
        catch (const MailboxError& error) {
            QCOMPARE(error.number(), int(MailboxError::BadRestriction));
            QVERIFY2(error.description().startsWith("Cannot read the restriction: "),
                     qPrintable(error.description()));
            QVERIFY2(error.description().contains(problem), qPrintable(error.description()));
        }
    }

    void deepestAcceptedNesting()
    {
        const QString text = QString(200, u'(') + "[Sensitivity] = 1" + QString(200, u')');
        MailboxItem item;
        item.sensitivity = 1;
        QVERIFY(Restriction::parse(text).matches(item));
    }

    void window_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QDateTime>("startAtMost"); // invalid: unbounded
        QTest::addColumn<QDateTime>("endAtLeast");

        const QDateTime none;
        QTest::newRow("start from") << "[Start] >= \"07/12/2026\"" << none << at(12, 7);
        QTest::newRow("start after, strict") << "[Start] > \"07/12/2026\"" << none << at(12, 7);
        QTest::newRow("start until") << "[Start] <= \"14/12/2026\"" << at(12, 14) << none;
        QTest::newRow("start before, strict") << "[Start] < \"14/12/2026 08:00:00\"" << at(12, 14, 8) << none;
        QTest::newRow("start equal") << "[Start] = \"10/12/2026\"" << at(12, 10) << at(12, 10);
        QTest::newRow("end from") << "[End] >= \"07/12/2026\"" << none << at(12, 7);
        QTest::newRow("end until bounds the start") << "[End] <= \"14/12/2026\"" << at(12, 14) << none;
        QTest::newRow("value first") << "\"07/12/2026\" <= [End]" << none << at(12, 7);
        QTest::newRow("conjunction keeps the tightest")
            << "[Start] >= \"01/12/2026\" and [End] > \"07/12/2026\" and [Start] < \"20/12/2026\" and "
               "[Start] <= \"14/12/2026\""
            << at(12, 14) << at(12, 7);
        QTest::newRow("disjunction keeps the widest")
            << "[Start] <= \"14/12/2026\" and [End] >= \"07/12/2026\" or [Start] = \"20/12/2026\""
            << at(12, 20) << at(12, 7);
        QTest::newRow("one open alternative opens the disjunction")
            << "[Start] <= \"14/12/2026\" and [End] >= \"07/12/2026\" or [Subject] = \"x\"" << none << none;
        QTest::newRow("alternative open on one side")
            << "[Start] <= \"14/12/2026\" and [End] >= \"07/12/2026\" or [Start] <= \"10/12/2026\""
            << at(12, 14) << none;
        QTest::newRow("other properties bound nothing")
            << "[Sensitivity] = 1 and [Subject] = \"x\" and [AllDayEvent] = True" << none << none;
        QTest::newRow("other properties beside a bound")
            << "[Sensitivity] = 1 and [Start] <= \"14/12/2026\"" << at(12, 14) << none;
        QTest::newRow("not bounds nothing") << "not [Start] >= \"07/12/2026\"" << none << none;
        QTest::newRow("not beside a bound")
            << "not [Start] >= \"07/12/2026\" and [End] >= \"01/12/2026\"" << none << at(12, 1);
        QTest::newRow("<> bounds nothing") << "[Start] <> \"07/12/2026\"" << none << none;
        QTest::newRow("nested") << "([Start] >= \"07/12/2026\" or [End] >= \"05/12/2026\") and ([Start] <= "
                                   "\"14/12/2026\" or [Start] <= \"12/12/2026\")"
                                << at(12, 14) << at(12, 5);
    }

    void window()
    {
        QFETCH(QString, text);
        QFETCH(QDateTime, startAtMost);
        QFETCH(QDateTime, endAtLeast);

        const TimeWindow window = Restriction::parse(text, QLocale(QStringLiteral("fr_FR"))).window();
        const auto expected = [](const QDateTime& value) {
            return value.isValid() ? std::optional(value) : std::nullopt;
        };
        QCOMPARE(window.startAtMost, expected(startAtMost));
        QCOMPARE(window.endAtLeast, expected(endAtLeast));
    }

    // Random restrictions over random items: every item that matches lies in the window.
    void windowHoldsEveryMatch()
    {
        QRandomGenerator random(20261207);
        const QLocale french(QStringLiteral("fr_FR"));
        const auto randomDay = [&] { return at(12, 1 + random.bounded(28), random.bounded(24)); };
        std::function<QString(int)> expression = [&](int depth) -> QString {
            const int pick = random.bounded(depth > 3 ? 2 : 6);
            if (pick < 2) {
                const char* fields[] = {"Start", "End", "Sensitivity"};
                const char* ops[] = {"=", "<>", "<", "<=", ">", ">="};
                const char* field = fields[random.bounded(3)];
                const char* op = ops[random.bounded(6)];
                const QString value = qstrcmp(field, "Sensitivity") == 0
                                          ? QString::number(random.bounded(4))
                                          : '"' + randomDay().toString("dd/MM/yyyy HH:mm:ss") + '"';
                return QStringLiteral("[%1] %2 %3").arg(field, op, value);
            }
            if (pick == 2)
                return "not " + expression(depth + 1);
            if (pick == 3)
                return "(" + expression(depth + 1) + ")";
            return expression(depth + 1) + (pick == 4 ? " and " : " or ") + expression(depth + 1);
        };
        int matched = 0;
        for (int round = 0; round < 300; ++round) {
            const QString text = expression(0);
            const Restriction restriction = Restriction::parse(text, french);
            const TimeWindow window = restriction.window();
            for (int i = 0; i < 30; ++i) {
                const QDateTime start = randomDay();
                MailboxItem item = appointment(start, start.addSecs(3600 * random.bounded(100)));
                item.sensitivity = random.bounded(4);
                if (!restriction.matches(item))
                    continue;
                ++matched;
                QVERIFY2(!window.startAtMost || item.start <= *window.startAtMost, qPrintable(text));
                QVERIFY2(!window.endAtLeast || item.end >= *window.endAtLeast, qPrintable(text));
            }
        }
        QVERIFY(matched > 100); // the rounds did test something
    }

    void garbageNeverCrashes()
    {
        QRandomGenerator random(7122026);
        const QString valid = touching(QStringLiteral("07/12/2026 15:30:00"), QStringLiteral("14/12/2026"));
        const MailboxItem item = appointment(at(12, 8), at(12, 9));
        const auto exercise = [&](const QString& text) {
            if (const std::optional<Restriction> restriction = parseOrRefuse(text)) {
                restriction->matches(item);
                restriction->window();
            }
        };

        // Every prefix, and the text with each character dropped.
        for (qsizetype i = 0; i <= valid.size(); ++i) {
            exercise(valid.left(i));
            exercise(valid.left(i) + valid.mid(i + 1));
        }
        // Pieces of the grammar thrown together, and raw characters.
        const QStringList pieces = {"(",         ")",
                                    "[Start]",   "[End]",
                                    "[Subject]", "[AllDayEvent]",
                                    "[",         "]",
                                    "\"",        "'",
                                    "\"\"",      "=",
                                    "<>",        "<",
                                    ">=",        "and",
                                    "OR",        "Not",
                                    "True",      "-1",
                                    "2.5",       "\"07/12/2026\"",
                                    " ",         "\t",
                                    "é",         "\\",
                                    "-",         "..",
                                    "'a''b'",    "[Sensitivity]"};
        for (int round = 0; round < 5000; ++round) {
            QString text;
            const int length = random.bounded(12);
            for (int i = 0; i < length; ++i) {
                if (random.bounded(5) == 0)
                    text += QChar(char16_t(random.bounded(1, 0xD7FF)));
                else
                    text += pieces.at(random.bounded(pieces.size()));
            }
            exercise(text);
        }
        // Deep but well-formed and badly-formed nesting.
        exercise(QString(5000, u'(') + QString(5000, u')'));
        exercise(QString(QStringLiteral("not (")).repeated(3000));
        exercise(QString(QStringLiteral("[Sensitivity] = 1 and ")).repeated(20000) + "[Sensitivity] = 1");
    }
};

QTEST_GUILESS_MAIN(TestRestriction)
#include "tst_restriction.moc"
