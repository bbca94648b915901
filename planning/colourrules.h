#pragma once

#include <QList>
#include <QString>

#include <array>
#include <functional>

struct EngineState;
struct FilterListEntry;
class LanguageTexts;
class PlanningMatrix;
class SettingsStore;

// The selected colour rules (the program calls them filters), one slot per priority, and the colouring of the
// planning cells they drive. The table is rebuilt before each query and read by the queries and, for its
// legend, by the HTML report until the next rebuild.
class ColourRules {
public:
    // Five texts, as stored; a slot whose name is empty holds no rule.
    struct Slot {
        QString name;
        QString gridColour; // OLE colour as decimal text
        QString type;       // message text 1 (match on categories) or 2 (match on subject)
        QString keywords;   // each keyword followed by ";"
        QString htmlColour; // RRGGBB
        bool operator==(const Slot&) const = default;
    };

    // Priorities 0 to 16; slot 0 may be filled but never takes part in matching.
    static constexpr int kSlots = 17;

    using WarningSink = std::function<void(const QString&)>;

    // Hand-edited rules that cannot take part are reported through `warn`, one line each; by default the
    // line goes to standard error.
    explicit ColourRules(WarningSink warn = {});

    // Empties every slot, then copies each selected entry of `filters`, in list order, into the slot of its
    // stored priority; a later entry with the same priority takes the slot over. An entry whose priority is
    // not a whole number from 0 to 16, or whose type is neither message text 1 nor 2, is left out.
    void load(const QList<FilterListEntry>& filters, const SettingsStore& settings,
              const LanguageTexts& texts);

    // Colours cell (row, column) of `matrix` for one appointment: with rules in use, the first slot above the
    // cell's present rank whose keywords occur in the subject or categories; a cell no rule has coloured gets
    // the default colour unless only filtered cells are to be coloured. A cell outside the matrix is left
    // alone.
    void colourCell(const QString& subject, const QString& categories, int row, int column,
                    PlanningMatrix& matrix, const EngineState& engine, const LanguageTexts& texts) const;

    // The slots whose rule finds one of its keywords in `text`, as bits by priority: among the rules that
    // look in the categories when `categories` is true, else among those that look in the subject, each
    // rule's type taken in the language the rules were loaded in. An appointment's bits for its subject and
    // its categories together tell, for any cell, the slot colourCell takes: the lowest above the
    // cell's rank.
    quint32 matchingSlots(const QString& text, bool categories) const;

    // Equal rules colour every appointment and cell alike: the same slots, loaded in the same language.
    bool operator==(const ColourRules& other) const
    {
        return m_slots == other.m_slots && m_matching == other.m_matching;
    }

    // The slot of `priority`; an empty slot for a priority outside 0 to 16.
    const Slot& slot(int priority) const;

    // The text of a rank as a cell records it.
    static const QString& rankText(int priority);

    // The default colour as the grid's decimal text: a whole number, so 50372 reads "50372".
    static QString colourText(double colour);

private:
    // What matching needs of a slot, worked out when the rules load rather than for every cell.
    struct Matching {
        enum Searched : quint8 { Nothing, Categories, Subject };
        Searched searched = Nothing;
        QStringList keywords; // trimmed, up to where the scan of the list stops
        bool operator==(const Matching&) const = default;
    };
    bool matches(const Matching& matching, QStringView searched) const;

    std::array<Slot, kSlots> m_slots;
    std::array<Matching, kSlots> m_matching;
    WarningSink m_warn;
    mutable double m_defaultColour = 0;
    mutable QString m_defaultColourText;
};
