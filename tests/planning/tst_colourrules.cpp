#include "planning/colourrules.h"

#include "base/languagetexts.h"
#include "base/settingsstore.h"
#include "planning/enginestate.h"
#include "planning/filterlist.h"
#include "planning/planningmatrix.h"
#include "tests/support/fixtures.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <bit>
#include <limits>

namespace {

// Each rule's colours follow from its priority, so that a cell's colours name the rule that gave them.
QString gridOf(int priority)
{
    return QString::number(priority * 1000 + 7);
}
QString htmlOf(int priority)
{
    return QStringLiteral("%1AA%1").arg(priority, 2, 10, QLatin1Char('0'));
}

// A value as the store writes it: blanks at either end kept.
QByteArray stored(QString value)
{
    if (value.startsWith(' '))
        value.replace(0, 1, "\\s");
    if (value.endsWith(' '))
        value.replace(value.size() - 1, 1, "\\s");
    return value.toUtf8();
}

} // namespace

class TestColourRules : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    LanguageTexts m_texts;
    int m_stores = 0;

    // A new store holding the filters of `rules` ("priority:type[keywords]", "!" after an unselected one;
    // an empty priority or a missing [...] leaves the key out), named R1, R2, … in the filter list's order.
    QString store(const QString& rules)
    {
        static const QRegularExpression rule(R"(([^\s:]*):([^\s\[!]+)(\[[^\]]*\])?(!?))");
        QByteArray list = "[Filters]\n";
        QByteArray sections;
        int n = 0;
        for (const QRegularExpressionMatch& m : rule.globalMatch(rules)) {
            const QByteArray name = "R" + QByteArray::number(++n);
            const int priority = m.captured(1).isEmpty() ? 9 : m.captured(1).toInt();
            list += name + "=\n";
            sections += "[" + name + "]\nType=" + m.captured(2).toUtf8() +
                        "\nColor=" + gridOf(priority).toUtf8() + "\nColorHtml=" + htmlOf(priority).toUtf8() +
                        "\nSelected=" + (m.captured(4).isEmpty() ? "1" : "0") + "\n";
            if (!m.captured(1).isEmpty())
                sections += "Prior=" + m.captured(1).toUtf8() + "\n";
            if (!m.captured(3).isEmpty())
                sections += "Txt=" + stored(m.captured(3).mid(1).chopped(1)) + "\n";
        }
        const QString path = m_dir.filePath(QStringLiteral("store%1.ini").arg(++m_stores));
        writeFile(path, list + sections);
        return path;
    }

private slots:
    void initTestCase()
    {
        writeFile(m_dir.filePath("TestMsg.txt"), "001Categories\r\n002Subject\r\n");
        writeFile(m_dir.filePath("TestScr.txt"), "001Planning\r\n");
        m_texts = LanguageTexts::load(m_dir.path(), "Test");
        QCOMPARE(m_texts.message(2), "Subject");
    }

    void appointmentsColourTheirCell_data()
    {
        QTest::addColumn<QString>("rules");
        QTest::addColumn<QString>("appointments");
        QTest::addColumn<QString>("flags");
        QTest::addColumn<int>("rank");
        QTest::addColumn<QString>("warnings");
        QFile file(ROTAVINE_TEST_DATA "/planning/colourrules.txt");
        QVERIFY(file.open(QIODevice::ReadOnly | QIODevice::Text));
        for (const QString& line : QString::fromUtf8(file.readAll()).split('\n')) {
            const QStringList fields = line.split('|');
            if (fields.size() >= 5 && !line.startsWith('#'))
                QTest::newRow(qPrintable(fields[0].trimmed()))
                    << fields[1] << fields[2] << fields[3].trimmed() << fields[4].trimmed().toInt()
                    << fields.value(5).trimmed();
        }
    }
    void appointmentsColourTheirCell()
    {
        QFETCH(QString, rules);
        QFETCH(QString, appointments);
        QFETCH(QString, flags);
        QFETCH(int, rank);
        const SettingsStore settings(store(rules));
        QStringList warnings;
        ColourRules colourRules([&](const QString& line) { warnings << line; });
        colourRules.load(loadFilterList(settings), settings, m_texts);
        QTEST(warnings.join("; "), "warnings");

        EngineState engine;
        engine.useFilters = !flags.contains('x');
        engine.filteredOnly = flags.contains('o');
        PlanningMatrix matrix;
        // The member query takes, for each appointment, the lowest of its matching slots above the cell's
        // rank: the same rank as colourCell's.
        int slotRank = 0;
        static const QRegularExpression appointment(R"(\[([^\]]*)\](?:\{([^}]*)\})?)");
        for (const QRegularExpressionMatch& m : appointment.globalMatch(appointments)) {
            colourRules.colourCell(m.captured(1), m.captured(2), 4, 1, matrix, engine, m_texts);
            const quint32 matched = colourRules.matchingSlots(m.captured(1), false) |
                                    colourRules.matchingSlots(m.captured(2), true);
            QCOMPARE(matched & 1u, 0u); // slot 0 never matches
            if (const quint32 above = matched & (~0u << (slotRank + 1)); engine.useFilters && above)
                slotRank = std::countr_zero(above);
        }
        QCOMPARE(slotRank, rank);

        const PlanningCell& cell = matrix.cell(4, 1);
        const bool uncoloured = rank == 0 && engine.filteredOnly;
        QCOMPARE(cell.gridColour, rank ? gridOf(rank) : uncoloured ? "0" : "50372");
        QCOMPARE(cell.htmlColour, rank ? htmlOf(rank) : uncoloured ? "FFFFFF" : "C4C400");
        QCOMPARE(cell.ruleRank, QString::number(rank));
        QCOMPARE(cell.html, "&nbsp"); // the text is the query's to write
        QCOMPARE(matrix.cell(4, 2).ruleRank, "0");
        for (const auto& [row, column] : {std::pair{131, 1}, {4, 191}, {-1, 1}, {4, -1}})
            colourRules.colourCell("Absent", QString(), row, column, matrix, engine, m_texts); // left alone

        // Loading rules none of which is selected empties every slot.
        colourRules.load({{"R1", false}}, settings, m_texts);
        for (int i = 0; i < ColourRules::kSlots; ++i)
            QVERIFY(colourRules.slot(i).name.isEmpty());
    }

    // The default colour's setting as the grid's colour text: a whole number, whatever the store held.
    void defaultColourText()
    {
        QCOMPARE(ColourRules::colourText(255.6), "256");
        QCOMPARE(ColourRules::colourText(2147483653.0), "2147483653");
        QCOMPARE(ColourRules::colourText(std::numeric_limits<double>::quiet_NaN()), "0");
    }
};

QTEST_GUILESS_MAIN(TestColourRules)
#include "tst_colourrules.moc"
