#pragma once

#include "planning/querycontext.h"

#include <QList>
#include <QString>

class LanguageTexts;
class SettingsStore;

// Adding, changing and deleting the stored colour rules (filters), with the checks that keep them usable:
// a complete rule, a priority no other rule holds, at most 16 rules, and a name that can be a settings
// section of its own without touching any other section.
class ColourRuleEditor {
public:
    enum class Kind { None, Categories, Subject };

    struct Rule {
        QString name;
        QString type; // message text 1 or 2 of the language the rule was saved in
        QString keywords;
        qint64 colour = 0; // OLE colour
        int priority = 9;  // as stored; a hand-edited store may hold any number
    };

    // What the user entered for one rule.
    struct Draft {
        QString name;
        QString keywords;
        Kind kind = Kind::None;
        qint64 colour = 0xFFFFFF;
        int priority = 9;
    };

    // Nothing to say when `message` is empty.
    struct Outcome {
        MessageIcon icon = MessageIcon::None;
        QString message;
        bool done() const { return message.isEmpty(); }
    };

    static constexpr int kMaxRules = 16;
    static constexpr int kFirstPriority = 1;
    static constexpr int kLastPriority = 16;

    ColourRuleEditor(SettingsStore& settings, const LanguageTexts& texts);

    // The stored rules ordered by priority; rules of one priority keep the store's order.
    QList<Rule> rules() const;
    Kind kindOf(const Rule& rule) const;

    // `priority` moved by `step`, never leaving 1 to 16.
    static int steppedPriority(int priority, int step);

    // Writes the rule, its keywords ending in ";", or says why it cannot. Nothing is written when a check
    // refuses the rule.
    Outcome save(const Draft& draft);
    // Whether the filter list holds a rule of that name (letter case aside).
    bool contains(const QString& name) const;
    // Deletes the rule's section and its entry in the filter list; a name the list does not hold is left
    // alone.
    Outcome remove(const QString& name);

    // Why `name` cannot name a rule, or nothing.
    QString nameProblem(const QString& name) const;

private:
    Outcome refusal(const QString& message) const { return {MessageIcon::Information, message}; }
    Outcome storeFailure() const;

    SettingsStore& m_settings;
    const LanguageTexts& m_texts;
};
