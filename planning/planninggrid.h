#pragma once

#include <QObject>
#include <QString>

#include <vector>

// The planning grid as the queries and the main window see it, without any widget: rows and columns (some
// of them fixed headers), each cell's text and format, sizes in twips, and which neighbouring cells merge.
// The grid widget, the clipboard picture and the JPEG export all draw it through one painter.
//
// Colours are OLE colours (blue in bits 16–23, green 8–15, red 0–7); 0 means "no colour of its own": the
// painter uses the standard background (fixed cells: the header background).
class PlanningGrid : public QObject {
    Q_OBJECT

public:
    enum class Alignment {
        LeftTop,
        LeftCentre,
        LeftBottom,
        CentreTop,
        Centre,
        CentreBottom,
        RightTop,
        RightCentre,
        RightBottom
    };

    // How equal neighbours merge. Only cells with the same non-empty text merge.
    //   Never: no merging.
    //   Free: horizontally in rows marked with setMergeRow, vertically in columns marked with setMergeColumn.
    //   RestrictRows: horizontally only, in marked rows.
    //   RestrictColumns: vertically only, in marked columns.
    enum class MergeMode { Never, Free, RestrictRows, RestrictColumns };

    static constexpr int kDefaultColumnWidth = 960; // twips
    static constexpr int kDefaultRowHeight = 255;   // twips
    static constexpr int kTwipsPerPixelAt96Dpi = 15;

    explicit PlanningGrid(QObject* parent = nullptr);

    // Sizes. Growing keeps existing cells; shrinking drops the cells beyond. Fixed counts never exceed the
    // counts themselves.
    int rows() const;
    int columns() const;
    void setRows(int rows);
    void setColumns(int columns);
    int fixedRows() const;
    int fixedColumns() const;
    void setFixedRows(int rows);
    void setFixedColumns(int columns);
    // Every cell's text and format back to the defaults; sizes and merge settings stay.
    void clear();

    // Cells; reads outside the grid give defaults, writes outside the grid are ignored.
    QString text(int row, int column) const;
    void setText(int row, int column, const QString& text);
    void setText(int row, int column, QString&& text);
    // The cell's text, moved out: the cell is left empty.
    QString takeText(int row, int column);
    qint64 backColour(int row, int column) const;
    void setBackColour(int row, int column, qint64 oleColour);
    Alignment alignment(int row, int column) const; // default: LeftCentre for data cells, Centre for fixed
    void setAlignment(int row, int column, Alignment alignment);
    bool bold(int row, int column) const;
    void setBold(int row, int column, bool bold);
    double fontSize(int row, int column) const; // points; 0 means the grid's own font size
    void setFontSize(int row, int column, double points);

    // Sizes in twips.
    int columnWidth(int column) const;
    void setColumnWidth(int column, int twips);
    // The width a column had before the window fitted the columns to its width (0 when never recorded).
    int rememberedWidth(int column) const;
    void setRememberedWidth(int column, int twips);
    int rowHeight(int row) const;
    void setRowHeight(int row, int twips);
    int standardRowHeight() const;
    void setStandardRowHeight(int twips); // rows not given a height of their own follow it

    // Merging.
    MergeMode mergeMode() const;
    void setMergeMode(MergeMode mode);
    bool mergeRow(int row) const;
    void setMergeRow(int row, bool merge);
    bool mergeColumn(int column) const;
    void setMergeColumn(int column, bool merge);
    struct Range {
        int firstRow = 0;
        int firstColumn = 0;
        int lastRow = 0;
        int lastColumn = 0;
        bool operator==(const Range&) const = default;
    };
    // The merged block the cell belongs to (the cell alone when it merges with nothing). Fixed and data
    // cells never merge with each other. A cell in a horizontal block never joins a vertical one, so every
    // cell of a block reports the same block. Costs the length of the block, not the size of the grid.
    Range mergedRange(int row, int column) const;

    bool wordWrap() const;
    void setWordWrap(bool wrap);

    // While redraw is off, no change is announced; turning it on announces one change.
    bool redraw() const;
    void setRedraw(bool redraw);

    // Holds the announcements back while it lives and then announces one change for all, unless redraw
    // was off already: for a run of changes that a view should see at once, not cell by cell.
    class QuietChanges {
    public:
        explicit QuietChanges(PlanningGrid& grid) : m_grid(grid), m_redraw(grid.redraw())
        {
            grid.setRedraw(false);
        }
        ~QuietChanges() { m_grid.setRedraw(m_redraw); }
        QuietChanges(const QuietChanges&) = delete;
        QuietChanges& operator=(const QuietChanges&) = delete;

    private:
        PlanningGrid& m_grid;
        const bool m_redraw;
    };

    // The first data row shown below the fixed rows, and the current cell.
    int topRow() const;
    void setTopRow(int row);
    int row() const;
    int column() const;
    void setCurrentCell(int row, int column);

signals:
    // Something a view shows changed (cells, sizes, merging, top row). Coalesce: a query sends many.
    void changed();

private:
    struct Cell {
        QString text;
        qint64 backColour = 0;
        signed char alignment = -1; // -1: the default for the cell's kind
        bool bold = false;
        float fontSize = 0;
    };
    Cell* cellAt(int row, int column);
    const Cell* cellAt(int row, int column) const;
    void notify();
    void resize(int rows, int columns);
    void clampPositions();
    bool isFixed(int row, int column) const;
    bool alike(int row, int column, int otherRow, int otherColumn) const;
    bool mergesInRow(int row) const;
    bool mergesInColumn(int column) const;
    bool mergesAcross(int row, int column) const; // the cell is part of a horizontal block

    int m_rows = 0;
    int m_columns = 0;
    int m_fixedRows = 0;
    int m_fixedColumns = 0;
    std::vector<Cell> m_cells;       // row-major, m_rows × m_columns
    std::vector<int> m_columnWidths; // -1: default
    std::vector<int> m_rememberedWidths;
    std::vector<int> m_rowHeights; // -1: standard
    std::vector<bool> m_mergeRows;
    std::vector<bool> m_mergeColumns;
    int m_standardRowHeight = kDefaultRowHeight;
    MergeMode m_mergeMode = MergeMode::Never;
    bool m_wordWrap = false;
    bool m_redraw = true;
    int m_topRow = 0;
    int m_row = 0;
    int m_column = 0;
};
