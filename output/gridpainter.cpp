#include "output/gridpainter.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QPainter>
#include <QPalette>
#include <QTextLayout>

#include <algorithm>
#include <cmath>
#include <set>
#include <utility>

namespace {

const QColor kDataBackground = Qt::white;
const QColor kDataLine(192, 192, 192);
const QColor kFixedLine(128, 128, 128);
constexpr int kTextMargin = 2; // pixels between a cell's edge and its text
constexpr double kTwipsPerPoint = 20.0;

Qt::Alignment toQt(PlanningGrid::Alignment alignment)
{
    using A = PlanningGrid::Alignment;
    switch (alignment) {
    case A::LeftTop:
        return Qt::AlignLeft | Qt::AlignTop;
    case A::LeftCentre:
        return Qt::AlignLeft | Qt::AlignVCenter;
    case A::LeftBottom:
        return Qt::AlignLeft | Qt::AlignBottom;
    case A::CentreTop:
        return Qt::AlignHCenter | Qt::AlignTop;
    case A::Centre:
        return Qt::AlignCenter;
    case A::CentreBottom:
        return Qt::AlignHCenter | Qt::AlignBottom;
    case A::RightTop:
        return Qt::AlignRight | Qt::AlignTop;
    case A::RightCentre:
        return Qt::AlignRight | Qt::AlignVCenter;
    case A::RightBottom:
        return Qt::AlignRight | Qt::AlignBottom;
    }
    return Qt::AlignLeft | Qt::AlignVCenter;
}

} // namespace

GridPainter::GridPainter(const PlanningGrid& grid, double twipsPerPixel)
    : m_grid(grid), m_twipsPerPixel(twipsPerPixel > 0 ? twipsPerPixel : PlanningGrid::kTwipsPerPixelAt96Dpi),
      m_fixedBackground(qobject_cast<QGuiApplication*>(QCoreApplication::instance())
                            ? QGuiApplication::palette().color(QPalette::Button)
                            : QColor(240, 240, 240))
{
}

void GridPainter::setTwipsPerPixel(double twipsPerPixel)
{
    if (twipsPerPixel > 0)
        m_twipsPerPixel = twipsPerPixel;
}

QColor GridPainter::fromOleColour(qint64 oleColour)
{
    return QColor(int(oleColour & 0xff), int((oleColour >> 8) & 0xff), int((oleColour >> 16) & 0xff));
}

int GridPainter::toPixels(int twips) const
{
    return int(std::lround(twips / m_twipsPerPixel));
}

int GridPainter::columnWidth(int column) const
{
    return toPixels(m_grid.columnWidth(column));
}

int GridPainter::rowHeight(int row) const
{
    return toPixels(m_grid.rowHeight(row));
}

int GridPainter::columnX(int column) const
{
    int x = 0;
    for (int c = 0; c < std::min(column, m_grid.columns()); ++c)
        x += columnWidth(c);
    return x;
}

int GridPainter::rowY(int row) const
{
    int y = 0;
    for (int r = 0; r < std::min(row, m_grid.rows()); ++r)
        y += rowHeight(r);
    return y;
}

QSize GridPainter::fullSize() const
{
    return {columnX(m_grid.columns()), rowY(m_grid.rows())};
}

int GridPainter::fixedWidth() const
{
    return columnX(m_grid.fixedColumns());
}

int GridPainter::fixedHeight() const
{
    return rowY(m_grid.fixedRows());
}

std::vector<GridPainter::Span> GridPainter::columnSpans(int firstScrollColumn, int extent) const
{
    std::vector<Span> spans;
    int x = 0;
    for (int c = 0; c < m_grid.fixedColumns() && x < extent; ++c) {
        spans.push_back({c, x, columnWidth(c)});
        x += spans.back().length;
    }
    x = fixedWidth();
    for (int c = std::max(firstScrollColumn, m_grid.fixedColumns()); c < m_grid.columns() && x < extent;
         ++c) {
        spans.push_back({c, x, columnWidth(c)});
        x += spans.back().length;
    }
    return spans;
}

std::vector<GridPainter::Span> GridPainter::rowSpans(int firstScrollRow, int extent) const
{
    std::vector<Span> spans;
    int y = 0;
    for (int r = 0; r < m_grid.fixedRows() && y < extent; ++r) {
        spans.push_back({r, y, rowHeight(r)});
        y += spans.back().length;
    }
    y = fixedHeight();
    for (int r = std::max(firstScrollRow, m_grid.fixedRows()); r < m_grid.rows() && y < extent; ++r) {
        spans.push_back({r, y, rowHeight(r)});
        y += spans.back().length;
    }
    return spans;
}

int GridPainter::layoutX(int column, int firstScrollColumn) const
{
    const int fixedColumns = m_grid.fixedColumns();
    if (column < fixedColumns)
        return columnX(column);
    firstScrollColumn = std::max(firstScrollColumn, fixedColumns);
    int x = fixedWidth();
    for (int c = firstScrollColumn; c < column; ++c)
        x += columnWidth(c);
    for (int c = column; c < firstScrollColumn; ++c)
        x -= columnWidth(c);
    return x;
}

int GridPainter::layoutY(int row, int firstScrollRow) const
{
    const int fixedRows = m_grid.fixedRows();
    if (row < fixedRows)
        return rowY(row);
    firstScrollRow = std::max(firstScrollRow, fixedRows);
    int y = fixedHeight();
    for (int r = firstScrollRow; r < row; ++r)
        y += rowHeight(r);
    for (int r = row; r < firstScrollRow; ++r)
        y -= rowHeight(r);
    return y;
}

void GridPainter::paint(QPainter& painter, const QRect& viewport, int firstScrollColumn) const
{
    paintLayout(painter, viewport, m_grid.topRow(), firstScrollColumn);
}

QImage GridPainter::renderAll() const
{
    QImage image;
    renderStrip(image, 0, fullSize().height());
    return image;
}

void GridPainter::renderStrip(QImage& strip, int top, int height) const
{
    const int width = fullSize().width();
    if (strip.width() != width || strip.height() < height || strip.format() != QImage::Format_RGB32)
        strip = QImage(width, height, QImage::Format_RGB32);
    if (strip.isNull())
        return;
    strip.fill(Qt::white);
    QPainter painter(&strip);
    painter.translate(0, -top);
    paintLayout(painter, QRect(0, top, width, height), m_grid.fixedRows(), m_grid.fixedColumns());
}

void GridPainter::paintLayout(QPainter& painter, const QRect& viewport, int firstScrollRow,
                              int firstScrollColumn) const
{
    const std::vector<Span> columns = columnSpans(firstScrollColumn, viewport.right() + 1);
    const std::vector<Span> rows = rowSpans(firstScrollRow, viewport.bottom() + 1);
    const int fixedColumns = m_grid.fixedColumns();
    const int fixedRows = m_grid.fixedRows();
    const int dataLeft = fixedWidth();
    const int dataTop = fixedHeight();

    std::set<std::pair<int, int>> drawnBlocks;
    for (const Span& row : rows) {
        if (row.length <= 0 || row.start + row.length <= viewport.top())
            continue;
        for (const Span& column : columns) {
            if (column.length <= 0 || column.start + column.length <= viewport.left())
                continue;
            const PlanningGrid::Range block = m_grid.mergedRange(row.index, column.index);
            QRect rect(column.start, row.start, column.length, row.length);
            if (block.firstRow != block.lastRow || block.firstColumn != block.lastColumn) {
                if (!drawnBlocks.insert({block.firstRow, block.firstColumn}).second)
                    continue;
                const int left = layoutX(block.firstColumn, firstScrollColumn);
                const int top = layoutY(block.firstRow, firstScrollRow);
                int right = left;
                for (int c = block.firstColumn; c <= block.lastColumn; ++c)
                    right += columnWidth(c);
                int bottom = top;
                for (int r = block.firstRow; r <= block.lastRow; ++r)
                    bottom += rowHeight(r);
                rect = QRect(QPoint(left, top), QPoint(right - 1, bottom - 1));
            }
            // A block partly scrolled away must not spill over the fixed headers that stay in place.
            QRect clip = viewport;
            if (block.firstColumn >= fixedColumns)
                clip.setLeft(std::max(clip.left(), dataLeft));
            if (block.firstRow >= fixedRows)
                clip.setTop(std::max(clip.top(), dataTop));
            clip &= rect;
            if (clip.isEmpty())
                continue;
            painter.save();
            painter.setClipRect(clip);
            paintBlock(painter, block, rect, clip);
            painter.restore();
        }
    }
}

QFont GridPainter::cellFont(int row, int column) const
{
    QFont font(QStringLiteral("Arial"));
    const double points = m_grid.fontSize(row, column) > 0 ? m_grid.fontSize(row, column) : kDefaultPointSize;
    // Font size in pixels of the grid's own scale, so the text keeps its size relative to the cells on any
    // paint device (screen, clipboard image, JPEG).
    font.setPixelSize(std::max(1, int(std::lround(points * kTwipsPerPoint / m_twipsPerPixel))));
    font.setBold(m_grid.bold(row, column));
    return font;
}

int GridPainter::textWidth(int row, int column, const QString& text) const
{
    return QFontMetrics(cellFont(row, column)).horizontalAdvance(text) + 2 * kTextMargin + 1;
}

size_t qHash(const GridPainter::FitKey& key, size_t seed)
{
    return qHashMulti(seed, key.text, key.width, key.height, key.font, key.flags, key.row, key.column);
}

namespace {

// The lines `text` takes at `width` pixels: broken at word boundaries, and within a word only with
// `anywhere`.
QStringList wrappedLines(const QString& text, const QFont& font, int width, bool anywhere)
{
    QString laidOut = text;
    laidOut.replace(u'\n', QChar::LineSeparator);
    QTextLayout layout(laidOut, font);
    QTextOption option;
    option.setWrapMode(anywhere ? QTextOption::WrapAtWordBoundaryOrAnywhere : QTextOption::WordWrap);
    layout.setTextOption(option);
    QStringList lines;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        lines << laidOut.mid(line.textStart(), line.textLength()).remove(QChar::LineSeparator).trimmed();
    }
    layout.endLayout();
    return lines;
}

} // namespace

// The text as it is drawn in `rect`: as it stands when it fits. A one-line text that does not fit takes the
// shortener's form, or is cut with an ellipsis; wrapped text breaks within words too, and keeps the lines
// that fit, the last of them ending in an ellipsis. `flags` lose the word wrap when the lines are given here.
QString GridPainter::fittedText(int row, int column, const QString& text, const QFont& font,
                                const QRect& rect, int& flags) const
{
    const QFontMetrics metrics(font);
    const int width = std::max(1, rect.width());
    const bool oneLine = !text.contains(u'\n');
    // A line that fits is not wrapped: the layout's own rounding could break it where the measure said it
    // fits.
    if (oneLine && metrics.horizontalAdvance(text) <= width) {
        flags &= ~int(Qt::TextWordWrap);
        return text;
    }
    // Laying a text out is what painting costs most, and the cells of a planning share their texts: what
    // was worked out is kept for the next paint.
    const FitKey key{
        text, width, rect.height(), font.key(), flags, oneLine ? row : -1, oneLine ? column : -1};
    if (const auto found = m_fitted.constFind(key); found != m_fitted.cend()) {
        flags = found->flags;
        return found->text;
    }
    if (m_fitted.size() > kFittedTexts)
        m_fitted.clear();
    const QString shown = fitText(row, column, text, metrics, font, width, rect.height(), flags);
    m_fitted.insert(key, {shown, flags});
    return shown;
}

QString GridPainter::fitText(int row, int column, const QString& text, const QFontMetrics& metrics,
                             const QFont& font, int width, int height, int& flags) const
{
    const bool oneLine = !text.contains(u'\n');
    if (oneLine && m_shortener) {
        const QString shorter = m_shortener(row, column, text, metrics, width);
        if (metrics.horizontalAdvance(shorter) <= width)
            return shorter;
    }
    if (!(flags & Qt::TextWordWrap)) {
        QStringList lines = text.split(u'\n');
        for (QString& line : lines)
            line = metrics.elidedText(line, Qt::ElideRight, width);
        return lines.join(u'\n');
    }

    const int room = std::max(1, height / std::max(1, metrics.lineSpacing()));
    QStringList lines = wrappedLines(text, font, width, false);
    const bool across = std::all_of(lines.cbegin(), lines.cend(), [&](const QString& line) {
        return metrics.horizontalAdvance(line) <= width;
    });
    if (!across)
        lines = wrappedLines(text, font, width, true);
    if (lines.size() > room) {
        const QString rest = lines.mid(room - 1).join(u' ');
        lines = lines.mid(0, room - 1);
        lines << metrics.elidedText(rest + QChar(0x2026), Qt::ElideRight, width);
    }
    flags &= ~int(Qt::TextWordWrap);
    return lines.join(u'\n');
}

void GridPainter::paintBlock(QPainter& painter, const PlanningGrid::Range& block, const QRect& rect,
                             const QRect& visible) const
{
    const int row = block.firstRow;
    const int column = block.firstColumn;
    const bool fixed = row < m_grid.fixedRows() || column < m_grid.fixedColumns();

    const qint64 ole = m_grid.backColour(row, column);
    const QColor background = ole != 0 ? fromOleColour(ole) : fixed ? m_fixedBackground : kDataBackground;
    painter.fillRect(rect, background);

    // Each cell owns the line along its right and bottom edge, so a merged block has no line inside it.
    painter.setPen(fixed ? kFixedLine : kDataLine);
    painter.drawLine(rect.topRight(), rect.bottomRight());
    painter.drawLine(rect.bottomLeft(), rect.bottomRight());

    QString text = m_grid.text(row, column);
    if (text.isEmpty())
        return;
    // The queries write Windows line breaks; a lone "\r" breaks the line too.
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(u'\r', u'\n');

    const QFont font = cellFont(row, column);
    painter.setFont(font);
    painter.setPen(Qt::black);

    int flags = int(toQt(m_grid.alignment(row, column)));
    if (m_grid.wordWrap())
        flags |= Qt::TextWordWrap;
    QRect textRect = rect.adjusted(kTextMargin, 0, -kTextMargin - 1, -1);
    if (row < m_grid.fixedRows() && block.lastColumn > block.firstColumn && (flags & Qt::AlignHCenter)) {
        textRect.setLeft(std::max(textRect.left(), visible.left() + kTextMargin));
        textRect.setRight(std::min(textRect.right(), visible.right() - kTextMargin - 1));
    }
    const QString shown = fittedText(row, column, text, font, textRect, flags);
    painter.drawText(textRect, flags, shown);
}

QRect GridPainter::cellRect(int row, int column, int firstScrollColumn) const
{
    if (row < 0 || column < 0 || row >= m_grid.rows() || column >= m_grid.columns())
        return {};
    return QRect(layoutX(column, firstScrollColumn), layoutY(row, m_grid.topRow()), columnWidth(column),
                 rowHeight(row));
}

std::optional<QPoint> GridPainter::cellAt(const QPoint& position, int firstScrollColumn) const
{
    if (position.x() < 0 || position.y() < 0)
        return std::nullopt;
    std::optional<int> column;
    for (const Span& span : columnSpans(firstScrollColumn, position.x() + 1))
        if (position.x() >= span.start && position.x() < span.start + span.length)
            column = span.index;
    std::optional<int> row;
    for (const Span& span : rowSpans(m_grid.topRow(), position.y() + 1))
        if (position.y() >= span.start && position.y() < span.start + span.length)
            row = span.index;
    if (!column || !row)
        return std::nullopt;
    return QPoint(*column, *row);
}
