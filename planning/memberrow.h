#pragma once

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
class MemberRow {
public:
    // For one query of the days startDate .. lastDay.
    MemberRow(const QueryContext& context, const QDate& startDate, const QDate& lastDay);

    // A refresh mostly writes the texts the cells had before: the day cells' present texts are taken out
    // before the query empties them (the grid's before a new layout, the matrix's before the reset), and a
    // cell whose text comes out the same gets its string back instead of a new one.
    void takeGridTexts();
    void takeMatrixTexts();

    // Starts the row of the next member, empty.
    void begin(int row);
    // One appointment, in the order the calendar gives them.
    void add(const MailboxItem& item);
    // Writes the day cells the row's appointments touched into the grid and the matrix.
    void write();

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
        qint32 text;
        qint32 next; // the next piece of the same cell, -1 after the last
        quint8 flags;
        QChar times[12]; // "HH:MM HH:MM ", for a piece with Times
    };
    // Where a cell's colour comes from.
    enum Colour : qint8 { Untouched = -1, Default = 0 }; // 1 to 16: the slot of that priority
    struct Cell {
        qint32 first = -1;
        qint32 last = -1;
        qint8 rank = 0;
        qint8 colour = Untouched;
    };

    // The texts cells had before the query, by row and column.
    struct Previous {
        int firstRow = 0;
        int rows = 0;
        int columns = 0;
        std::vector<QString> texts;
        QString* find(int row, int column); // null outside
    };

    int textOf(const MailboxItem& item);
    quint32 matchingSlots(const MailboxItem& item);
    QString cellHtml(const Cell& cell, QString* previous);
    QString gridText(const Cell& cell, QString* previous);
    template <typename Segments>
    QString reusedOrNew(qsizetype length, QString* previous, Segments segments);
    template <typename Take>
    Previous take(int rows, Take takeText) const;

    const QueryContext& m_context;
    const QDate m_startDate;
    const qint64 m_lastColumn;
    const QString m_privateText;
    const QString m_privateHtml;
    // The slots' grid colours as numbers, as the grid takes them.
    std::array<qint64, 17> m_slotColours{};

    int m_row = -1;
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
    Previous m_previousGrid;
    Previous m_previousHtml;
    std::vector<QChar> m_scratch; // where a cell's text is put together
};
