#pragma once

#include "planning/colourrules.h"

#include <QDate>
#include <QHash>
#include <QString>

#include <array>
#include <vector>

class MailboxItem;
struct QueryContext;

// One member's row of the member-by-day view while the member's appointments arrive. Each appointment is
// placed in the day cells it covers as it comes, colours and all, but only as a note of what goes where;
// when the member is done, write() builds every day cell's texts once, at their final length, and puts
// them into the grid and the planning matrix. The grid and the matrix end up as if each appointment had
// been appended to its cells in turn, without growing two strings per appointment and cell.
//
// With a memory, a refresh does less: a row whose calendar comes back at the revision it was last written
// from, under the same display flags, colour rules and period, is written again as it was, and its
// appointments are walked (for the yields and the cancel) but not placed.
class MemberRow {
public:
    // For one query of the days startDate .. lastDay, whose appointments are found with `restriction`.
    MemberRow(const QueryContext& context, const QDate& startDate, const QDate& lastDay,
              const QString& restriction);

    ~MemberRow();
    MemberRow(const MemberRow&) = delete;
    MemberRow& operator=(const MemberRow&) = delete;

    // The grid's day-cell texts, taken out before a new layout empties the grid: a cell that gets its text
    // back then costs no copy of the string, whose count is a cache miss away.
    void takeGridTexts();

    // Starts the row of the next member, empty.
    void begin(int row);
    // The member's calendar was found at `revision` (ItemCollection::revision), before its first appointment.
    void found(quint64 revision);
    // One appointment, in the order the calendar gives them.
    void add(const MailboxItem& item);
    // Writes the row's day cells into the grid and the matrix: as the member's appointments leave them, and
    // the others as the reset leaves a cell. The query resets everything but the member rows' day cells,
    // which get this or clear() once each, so that a cell that ends as it was is not emptied and refilled.
    // `complete` tells that every appointment of the calendar came; a row cut short is not written again
    // as it is by a later query. A row written again as it was is written whole even when cut short: its
    // calendar is known not to have changed.
    void write(bool complete);
    // A member row's day cells as the reset leaves them, for a member without appointments to place.
    void clear(int row);

private:
    // A text an appointment shows: the subject, or the private text, as the grid shows it and escaped for
    // the matrix. Kept for the whole query: the occurrences of a series, and the calendar files that carry
    // the same subject, share one.
    struct Text {
        QString shown;
        QString html;
    };
    // One appointment in one day cell.
    struct Piece {
        enum Flag : quint8 {
            Times = 1,     // the times lead the cell text (first day of an appointment with times)
            GridTimes = 2, // and the grid text
            Append = 4,    // the grid text grows by this piece
            Clear = 8,     // the grid text is emptied (details hidden)
        };
        // What the cell's texts are made of: the text's characters (a text held in m_texts, or by the
        // memory for the previous query, so that no other text can be found at the same place), the flags
        // and, for a piece with Times, the start's and end's minute of the day plus one (0 for an invalid
        // time) in 11 bits each.
        struct Key {
            const QChar* shown;
            qint32 length;
            quint32 flagsAndTimes;
            bool operator==(const Key&) const = default;
        };
        Key key;
        qint32 text;
        qint32 next; // the next piece of the same cell, -1 after the last

        quint8 flags() const { return quint8(key.flagsAndTimes >> 22); }
        // "HH:MM HH:MM ", kAppointmentTimesLength characters.
        void writeTimes(QChar* out) const;
    };
    // Where a cell's colour comes from.
    enum Colour : qint8 { Untouched = -1, Default = 0 }; // 1 to 16: the slot of that priority
    struct Cell {
        qint32 first = -1;
        qint32 last = -1;
        qint8 rank = 0;
        qint8 colour = Untouched;
    };

    // What each day cell was given by the last query: its pieces and the texts they made. A refresh mostly
    // meets the same pieces again, and then the cell takes those texts as they are instead of putting them
    // together again. The pieces are only as good as the texts they point into, which the memory keeps for
    // one more query: pieces left unwritten by the last query are forgotten. The texts and the colour stay
    // good as long as the row's record (RememberedRow) says so.
    struct RememberedCell {
        qint32 offset = 0; // of its pieces' keys in the row's
        qint32 count = 0;
        QString html; // what the cell was given, when it had pieces
        QString grid;
        Cell cell; // its colour and whether it had pieces (first >= 0)
    };
    struct RememberedRow {
        quint64 query = 0; // the query whose pieces the keys are
        std::vector<Piece::Key> keys;
        std::vector<RememberedCell> cells; // by column
        // To write the row again as it is: the inputs it was written under and the revision of the calendar
        // whose appointments it shows (0 when it may not be written again), and the grid's current column.
        quint64 inputs = 0;
        quint64 calendar = 0;
        int currentColumn = -1;
    };

public:
    // What a row's texts and colours come from, besides the member's calendar.
    struct Inputs {
        QDate startDate;
        qint64 lastColumn = 0;
        int columns = 0; // the grid's
        int fixedRows = 0;
        int rows = 0;
        bool hidePrivate = false;
        bool useFilters = false;
        bool filteredOnly = false;
        bool showDetails = false;
        bool showTimes = false;
        double defaultColour = 0;
        QString defaultColourHtml;
        QString privateText;
        QString restriction;
        QString locale; // the restriction is read in it
        ColourRules rules;

        bool operator==(const Inputs&) const = default;
    };

    // Owned by whoever runs the queries into one grid (the window), handed in through the query context.
    struct Memory {
        quint64 query = 0;               // the running or last query
        std::vector<Text> texts;         // the last query's texts, which its remembered pieces point into
        std::vector<RememberedRow> rows; // by row of the matrix
        bool busy = false;               // a query is using it
        // The inputs of the last query that wrote rows, and their number, which changes when they do.
        Inputs inputs;
        quint64 inputsNumber = 0;
    };

private:
    bool resets(int row) const;          // the reset covers the row
    QString* taken(int row, int column); // null outside the texts taken
    void giveGridText(int column, const QString& text);
    int textOf(const MailboxItem& item);
    quint32 matchingSlots(const MailboxItem& item);
    QString cellHtml(const Cell& cell, const QString* previous);
    QString gridText(const Cell& cell, const QString* previous);
    template <typename Segments>
    QString reusedOrNew(qsizetype length, const QString* previous, Segments segments);

    RememberedRow* rememberedRow(); // the memory's record of the row being written, if any
    void takeInputs();

    const QueryContext& m_context;
    const QDate m_startDate;
    const qint64 m_lastColumn;
    const QString m_restriction;
    const QString m_privateText;
    const QString m_privateHtml;
    // The slots' grid colours as numbers, as the grid takes them.
    std::array<qint64, 17> m_slotColours{};

    int m_row = -1;
    quint64 m_inputs = 0;      // the memory's number for this query's inputs, taken at the first row
    quint64 m_calendar = 0;    // the revision of the row's calendar; 0 until found, or when unknown
    bool m_replaying = false;  // the row is written as it was
    std::vector<Cell> m_cells; // by column
    std::vector<Piece> m_pieces;
    std::vector<Text> m_texts; // for the whole query
    int m_privateIndex = -1;
    int m_currentColumn = -1; // the column of the last piece: the grid's current cell afterwards
    // The last text of each subject seen, found by where the subject's characters are: the occurrences of
    // a series share one subject string, and so do calendar files with the same subject.
    std::array<qint32, 1024> m_recent{};
    // The colour rules' slots each subject and categories text matches, for the whole query: many
    // appointments share a few subjects and categories, and matching ignores letter case, which is slow.
    QHash<QString, quint32> m_subjectSlots;
    QHash<QString, quint32> m_categoriesSlots;
    Memory* m_memory = nullptr; // none for a query started while another runs
    // The grid texts taken before the layout, by row and column from the first member row.
    int m_takenFirstRow = 0;
    int m_takenRows = 0;
    int m_takenColumns = 0;
    std::vector<QString> m_taken;
    std::vector<Piece::Key> m_keys; // the row's keys as write() meets them
    std::vector<QChar> m_scratch;   // where a cell's text is put together
};

// What the member queries into one grid remember of each other: a refresh mostly meets the cells of the last
// query again. Optional: without one, every query puts its cells together afresh.
struct QueryMemory : MemberRow::Memory {};
