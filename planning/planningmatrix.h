#pragma once

#include <QString>

#include <functional>
#include <vector>

// What one grid cell shows, kept so that reports can be written long after the query ended. Every field is
// text, numbers included.
struct PlanningCell {
    QString html = QStringLiteral("&nbsp");        // HTML fragment; "&nbsp" marks an empty cell
    QString gridColour = QStringLiteral("0");      // OLE colour as decimal text; "0" = no colour of its own
    QString htmlColour = QStringLiteral("FFFFFF"); // RRGGBB, upper case, no "#"
    QString ruleRank = QStringLiteral("0"); // priority (1–16) of the rule that coloured it; "0" = none
};

// The one in-memory model of the planning grid, indexed like the grid itself. Its bounds are fixed: the
// queries stop placing data at them.
class PlanningMatrix {
public:
    static constexpr int kRows = 131;
    static constexpr int kColumns = 191;

    PlanningMatrix();

    static bool contains(int row, int column)
    {
        return row >= 0 && row < kRows && column >= 0 && column < kColumns;
    }

    // Throws std::out_of_range outside the bounds: writing there is a caller's fault, never a silent one.
    PlanningCell& cell(int row, int column);
    const PlanningCell& cell(int row, int column) const;

    // Clears rows fixedRows .. rowCount-1 and columns 0 .. columnCount-1 of the matrix (within its bounds)
    // and of the grid, through clearGridText(row, column). The header rows are left as they are.
    void reset(int rowCount, int fixedRows, int columnCount,
               const std::function<void(int, int)>& clearGridText);

    static bool isEmptyHtml(const QString& html);

private:
    std::vector<PlanningCell> m_cells;
};

// An OLE colour (blue in bits 16–23, green 8–15, red 0–7) as six hex digits red-green-blue; 0 gives "FFFFFF",
// the white of a cell without a colour of its own.
//
// Values outside 0..0xFFFFFF: a system colour (top bit of the 32-bit value set, system colour index in the
// low byte) is resolved to the application palette's colour for that index, as the platform's colour
// translation does; anything else keeps its low 24 bits. Negative values are the 32-bit two's complement of
// such a value.
QString oleColourToHtml(qint64 colour);

// An HTML colour as stored, made six characters exactly: a longer text is cut, a shorter one padded with
// spaces.
QString fitHtmlColour(const QString& text);

// The OLE colour behind a system colour index, or -1 for an index without one.
qint64 systemColour(int index);

// Any stored colour as a plain 0x00BBGGRR value: a system colour (top bit of the 32-bit value set, index in
// the low byte) becomes the palette's colour for that index; anything else above 0xFFFFFF keeps its low 24
// bits.
qint64 resolveOleColour(qint64 colour);
