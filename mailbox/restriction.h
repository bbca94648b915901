#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>

#include <memory>
#include <optional>

class MailboxItem;

// The part of time an item must touch to match a restriction: its Start at most `startAtMost` and its End
// at least `endAtLeast`. A back end enumerates occurrences of recurring series only inside it; an open side
// is unbounded.
struct TimeWindow {
    std::optional<QDateTime> startAtMost;
    std::optional<QDateTime> endAtLeast;
};

// A restriction text as the queries write it, for example
//   ([Start] >= "07/12/2026" and [Start] <= "14/12/2026") OR ([Start] <= "07/12/2026" and [End] >=
//   "14/12/2026")
// Bracketed property names, the comparisons = <> < <= > >=, values in double or single quotes (dates as the
// locale's general date text), numbers, True and False, "and"/"or"/"not" in any letter case, parentheses.
class Restriction {
public:
    // Throws MailboxError (BadRestriction) naming what is wrong and where.
    static Restriction parse(const QString& text, const QLocale& locale = QLocale());

    bool matches(const MailboxItem& item) const;

    // A window that holds every item the restriction can match (it may hold more).
    TimeWindow window() const;

    struct Node;

private:
    std::shared_ptr<const Node> m_root;
};
