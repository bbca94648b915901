#include "planning/colourrules.h"

#include "base/languagetexts.h"
#include "base/settingsstore.h"
#include "planning/enginestate.h"
#include "planning/filterlist.h"
#include "planning/planningmatrix.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

void toStandardError(const QString& line)
{
    std::fprintf(stderr, "rotavine: %s\n", qPrintable(line));
}

bool sameText(const QString& a, const QString& b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// Blanks are spaces: tabs and line breaks count as text, in the searched text and in the keywords alike.
QStringView withoutBlanks(QStringView text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text[begin] == u' ')
        ++begin;
    while (end > begin && text[end - 1] == u' ')
        --end;
    return text.sliced(begin, end - begin);
}

// The keywords of a list, each ended by ";", in list order. The list ends at the first keyword that has no
// ";" after it (a list without its trailing ";" thus loses its last keyword) and at the first ";" that
// follows another ";" or opens the list. A blank keyword trims to nothing and so occurs in any text.
QStringList keywordsOf(QStringView list)
{
    QStringList keywords;
    qsizetype start = 0;
    while (start < list.size()) {
        const qsizetype semicolon = list.indexOf(u';', start);
        if (semicolon <= start) // none left (-1), or an empty keyword
            break;
        keywords.append(withoutBlanks(list.sliced(start, semicolon - start)).toString());
        start = semicolon + 1;
    }
    return keywords;
}

} // namespace

const QString& ColourRules::rankText(int priority)
{
    // Made once: a matching cell takes one of them without building a new string.
    static const auto kTexts = [] {
        std::array<QString, kSlots> texts;
        for (int i = 0; i < kSlots; ++i)
            texts[i] = QString::number(i);
        return texts;
    }();
    return kTexts[std::clamp(priority, 0, kSlots - 1)];
}

ColourRules::ColourRules(WarningSink warn) : m_warn(warn ? std::move(warn) : WarningSink(toStandardError)) {}

void ColourRules::load(const QList<FilterListEntry>& filters, const SettingsStore& settings,
                       const LanguageTexts& texts)
{
    m_slots.fill(Slot{});
    m_matching.fill(Matching{});
    const QString categoriesType = texts.message(1);
    const QString subjectType = texts.message(2);
    const auto skip = [this](const QString& name, const QString& why) {
        m_warn(QStringLiteral("filter \"%1\" skipped: %2").arg(name, why));
    };

    for (const FilterListEntry& entry : filters) {
        if (!entry.selected)
            continue;
        const QString& name = entry.name;

        // A store edited by hand may hold any text here; the filter dialog itself only writes 1 to 16.
        const QString priorityText = settings.read(name, QStringLiteral("Prior"), QStringLiteral("9"));
        bool whole = false;
        const qlonglong priority = priorityText.toLongLong(&whole);
        if (!whole) {
            skip(name, QStringLiteral("priority \"%1\" is not a whole number").arg(priorityText));
            continue;
        }
        if (priority < 0 || priority >= kSlots) {
            skip(name, QStringLiteral("priority %1 is outside 0 to %2").arg(priority).arg(kSlots - 1));
            continue;
        }

        // A rule saved under another language names its type in that language and can never match here.
        const QString type = settings.read(name, QStringLiteral("Type"), QString());
        if (!sameText(type, categoriesType) && !sameText(type, subjectType)) {
            skip(name, QStringLiteral("type \"%1\" is neither \"%2\" nor \"%3\"")
                           .arg(type, categoriesType, subjectType));
            continue;
        }

        m_slots[priority] = {name, settings.read(name, QStringLiteral("Color"), QStringLiteral("0")), type,
                             settings.read(name, QStringLiteral("Txt"), QStringLiteral("0")),
                             settings.read(name, QStringLiteral("ColorHtml"), QStringLiteral("000000"))};
        m_matching[priority] = {sameText(type, categoriesType) ? Matching::Categories : Matching::Subject,
                                keywordsOf(m_slots[priority].keywords)};
    }
}

void ColourRules::colourCell(const QString& subject, const QString& categories, int row, int column,
                             PlanningMatrix& matrix, const EngineState& engine,
                             const LanguageTexts& texts) const
{
    if (!PlanningMatrix::contains(row, column))
        return;
    PlanningCell& cell = matrix.cell(row, column);

    if (engine.useFilters) {
        // Only a rule of a lower precedence (a higher number) than the one that already coloured the cell
        // may recolour it; slot 0 never matches.
        const int rank = cell.ruleRank.toInt();
        const QString categoriesType = texts.message(1);
        const QString subjectType = texts.message(2);
        for (int i = std::max(rank, 0) + 1; i < kSlots; ++i) {
            const Slot& rule = m_slots[i];
            if (rule.name.isEmpty())
                continue;
            QStringView searched;
            if (sameText(rule.type, categoriesType))
                searched = categories;
            else if (sameText(rule.type, subjectType))
                searched = subject;
            else
                continue;
            if (matches(m_matching[i], searched)) {
                cell.gridColour = rule.gridColour;
                cell.htmlColour = rule.htmlColour;
                cell.ruleRank = rankText(i);
                break;
            }
        }
    }

    if (cell.ruleRank == u"0" && !engine.filteredOnly) {
        // The default colour's text is made once per colour, not once per cell.
        if (m_defaultColour != engine.defaultColour || m_defaultColourText.isNull()) {
            m_defaultColour = engine.defaultColour;
            m_defaultColourText = colourText(engine.defaultColour);
        }
        cell.gridColour = m_defaultColourText;
        cell.htmlColour = engine.defaultColourHtml;
    }
}

bool ColourRules::matches(const Matching& matching, QStringView searched) const
{
    if (withoutBlanks(searched).isEmpty())
        return false;
    for (const QString& keyword : matching.keywords) {
        if (searched.contains(keyword, Qt::CaseInsensitive))
            return true;
    }
    return false;
}

quint32 ColourRules::matchingSlots(const QString& text, bool categories) const
{
    const Matching::Searched searched = categories ? Matching::Categories : Matching::Subject;
    quint32 found = 0;
    for (int i = 1; i < kSlots; ++i) {
        const Matching& matching = m_matching[i];
        if (matching.searched == searched && !m_slots[i].name.isEmpty() && matches(matching, text))
            found |= 1u << i;
    }
    return found;
}

const ColourRules::Slot& ColourRules::slot(int priority) const
{
    static const Slot kNone;
    return priority >= 0 && priority < kSlots ? m_slots[priority] : kNone;
}

QString ColourRules::colourText(double colour)
{
    // The setting is a whole number; anything else is rounded to one, and a value that is none gives the
    // standard background.
    if (!std::isfinite(colour))
        return QStringLiteral("0");
    constexpr double kLimit = 9007199254740992.0; // 2^53: every whole number up to here is exact
    return QString::number(qint64(std::clamp(std::nearbyint(colour), -kLimit, kLimit)));
}
