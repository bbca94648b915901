#include "planning/colourruleeditor.h"

#include "base/languagetexts.h"
#include "base/settingsstore.h"
#include "base/textids.h"
#include "planning/planningmatrix.h"

#include <algorithm>

namespace {

const auto kFilters = QStringLiteral("Filters");

// The sections the program keeps its own settings in; a rule of that name would write its keys into them.
const QString kReservedSections[] = {QStringLiteral("Parameters"), kFilters, QStringLiteral("Source")};

bool sameText(const QString& a, const QString& b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// The store finds sections by their case-folded name, so this is the comparison that tells whether two names
// reach the same section.
bool sameSection(const QString& a, const QString& b)
{
    return a.toCaseFolded() == b.toCaseFolded();
}

bool unsafeInSectionName(QChar c)
{
    return c == u'[' || c == u']' || c.category() == QChar::Other_Control ||
           c.category() == QChar::Separator_Line || c.category() == QChar::Separator_Paragraph;
}

} // namespace

ColourRuleEditor::ColourRuleEditor(SettingsStore& settings, const LanguageTexts& texts)
    : m_settings(settings), m_texts(texts)
{
}

QList<ColourRuleEditor::Rule> ColourRuleEditor::rules() const
{
    QList<Rule> rules;
    for (const auto& entry : m_settings.list(kFilters)) {
        Rule rule;
        rule.name = entry.first;
        rule.type = m_settings.read(rule.name, QStringLiteral("Type"), QString());
        rule.keywords = m_settings.read(rule.name, QStringLiteral("Txt"), QStringLiteral("0"));
        rule.colour = m_settings.read(rule.name, QStringLiteral("Color"), QString()).trimmed().toLongLong();
        rule.priority = m_settings.readInt(rule.name, QStringLiteral("Prior"), 9);
        rules.append(rule);
    }
    std::stable_sort(rules.begin(), rules.end(),
                     [](const Rule& a, const Rule& b) { return a.priority < b.priority; });
    return rules;
}

ColourRuleEditor::Kind ColourRuleEditor::kindOf(const Rule& rule) const
{
    return sameText(rule.type, m_texts.message(Message::FilterKindCategories)) ? Kind::Categories
                                                                               : Kind::Subject;
}

int ColourRuleEditor::steppedPriority(int priority, int step)
{
    return std::clamp(priority + step, kFirstPriority, kLastPriority);
}

QString ColourRuleEditor::nameProblem(const QString& name) const
{
    for (const QString& reserved : kReservedSections) {
        if (sameSection(name, reserved))
            return m_texts.message(Message::FilterNameReserved) + name;
    }
    if (name.isEmpty() || name.front().isSpace() || name.back().isSpace() ||
        std::any_of(name.begin(), name.end(), unsafeInSectionName))
        return m_texts.message(Message::FilterNameUnsafe);
    return {};
}

ColourRuleEditor::Outcome ColourRuleEditor::save(const Draft& draft)
{
    if (draft.name.trimmed().isEmpty() || draft.keywords.isEmpty() || draft.kind == Kind::None)
        return refusal(m_texts.message(Message::FilterIncomplete));
    if (const QString problem = nameProblem(draft.name); !problem.isEmpty())
        return refusal(problem);
    const int priority = std::clamp(draft.priority, kFirstPriority, kLastPriority);

    const QList<Rule> stored = rules();
    bool known = false;
    for (const Rule& rule : stored) {
        if (sameSection(rule.name, draft.name))
            known = true;
        else if (rule.priority == priority)
            return refusal(m_texts.message(Message::PriorityTakenBefore) + rule.name +
                           m_texts.message(Message::PriorityTakenAfter));
    }
    if (!known && stored.size() >= kMaxRules)
        return refusal(m_texts.message(Message::TooManyFilters));

    const QString keywords = draft.keywords.endsWith(u';') ? draft.keywords : draft.keywords + u';';
    const Message::Id kind =
        draft.kind == Kind::Categories ? Message::FilterKindCategories : Message::FilterKindSubject;
    const bool written =
        m_settings.write(draft.name, QStringLiteral("Type"), m_texts.message(kind)) &&
        m_settings.write(draft.name, QStringLiteral("Txt"), keywords) &&
        m_settings.write(draft.name, QStringLiteral("Color"), QString::number(draft.colour)) &&
        m_settings.write(draft.name, QStringLiteral("ColorHtml"), oleColourToHtml(draft.colour)) &&
        m_settings.write(draft.name, QStringLiteral("Prior"), QString::number(priority)) &&
        m_settings.write(kFilters, draft.name, QString());
    return written ? Outcome{} : storeFailure();
}

bool ColourRuleEditor::contains(const QString& name) const
{
    const auto listed = m_settings.list(kFilters);
    return std::any_of(listed.begin(), listed.end(),
                       [&](const auto& entry) { return sameSection(entry.first, name); });
}

ColourRuleEditor::Outcome ColourRuleEditor::remove(const QString& name)
{
    // Only a listed rule is deleted, so that a name typed by hand never takes another section with it; a
    // hand-edited list may even name one of the program's own sections, which then stays.
    if (!contains(name))
        return {};
    const bool reserved = std::any_of(std::begin(kReservedSections), std::end(kReservedSections),
                                      [&](const QString& section) { return sameSection(section, name); });
    // The section goes first: a rule listed without its section would still show, and could be deleted again.
    if ((!reserved && !m_settings.remove(name)) || !m_settings.remove(kFilters, name))
        return storeFailure();
    return {};
}

ColourRuleEditor::Outcome ColourRuleEditor::storeFailure() const
{
    return {MessageIcon::Critical, m_texts.message(Message::FilterNotSaved) + m_settings.errorString()};
}
