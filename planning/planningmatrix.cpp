#include "planning/planningmatrix.h"

#include <QGuiApplication>
#include <QPalette>

#include <stdexcept>

PlanningMatrix::PlanningMatrix() : m_cells(std::size_t(kRows) * kColumns) {}

PlanningCell& PlanningMatrix::cell(int row, int column)
{
    return const_cast<PlanningCell&>(std::as_const(*this).cell(row, column));
}

const PlanningCell& PlanningMatrix::cell(int row, int column) const
{
    if (!contains(row, column))
        throw std::out_of_range("planning matrix cell (" + std::to_string(row) + ", " +
                                std::to_string(column) + ") is outside 131 x 191");
    return m_cells[std::size_t(row) * kColumns + column];
}

void PlanningMatrix::reset(int rowCount, int fixedRows, int columnCount,
                           const std::function<void(int, int)>& clearGridText)
{
    for (int row = std::max(fixedRows, 0); row < rowCount; ++row) {
        for (int column = 0; column < columnCount; ++column) {
            if (contains(row, column))
                cell(row, column) = PlanningCell{};
            if (clearGridText)
                clearGridText(row, column);
        }
    }
}

bool PlanningMatrix::isEmptyHtml(const QString& html)
{
    return html.compare(QLatin1StringView("&nbsp"), Qt::CaseInsensitive) == 0;
}

qint64 systemColour(int index)
{
    // The classic system colour indices, by the palette role that plays the same part.
    static const QPalette::ColorRole kRoles[] = {
        QPalette::Dark,            // 0 scroll bar
        QPalette::Window,          // 1 desktop
        QPalette::Highlight,       // 2 active caption
        QPalette::Mid,             // 3 inactive caption
        QPalette::Button,          // 4 menu
        QPalette::Base,            // 5 window
        QPalette::Shadow,          // 6 window frame
        QPalette::ButtonText,      // 7 menu text
        QPalette::Text,            // 8 window text
        QPalette::HighlightedText, // 9 caption text
        QPalette::Mid,             // 10 active border
        QPalette::Mid,             // 11 inactive border
        QPalette::Dark,            // 12 application workspace
        QPalette::Highlight,       // 13 highlight
        QPalette::HighlightedText, // 14 highlighted text
        QPalette::Button,          // 15 button face
        QPalette::Dark,            // 16 button shadow
        QPalette::PlaceholderText, // 17 grey text
        QPalette::ButtonText,      // 18 button text
        QPalette::Text,            // 19 inactive caption text
        QPalette::Light,           // 20 button highlight
        QPalette::Shadow,          // 21 3-D dark shadow
        QPalette::Midlight,        // 22 3-D light
        QPalette::ToolTipText,     // 23 tooltip text
        QPalette::ToolTipBase,     // 24 tooltip background
    };
    if (index < 0 || index >= int(std::size(kRoles)))
        return -1;
    const QPalette palette = qGuiApp ? QGuiApplication::palette() : QPalette();
    const QColor colour = palette.color(QPalette::Active, kRoles[index]);
    return qint64(colour.red()) | qint64(colour.green()) << 8 | qint64(colour.blue()) << 16;
}

qint64 resolveOleColour(qint64 colour)
{
    if (colour < 0)
        colour &= 0xFFFFFFFF;
    if (colour <= 0xFFFFFF)
        return colour;
    const bool systemFlag = (colour & 0xFFFFFFFF) >> 31;
    const qint64 resolved = systemFlag && (colour & 0x7FFFFF00) == 0 ? systemColour(int(colour & 0xFF)) : -1;
    return resolved >= 0 ? resolved : colour & 0xFFFFFF;
}

QString oleColourToHtml(qint64 colour)
{
    colour = resolveOleColour(colour);
    if (colour == 0)
        return QStringLiteral("FFFFFF");
    const QString bgr = QStringLiteral("%1").arg(colour, 6, 16, QLatin1Char('0')).toUpper();
    return bgr.mid(4, 2) + bgr.mid(2, 2) + bgr.left(2);
}

QString fitHtmlColour(const QString& text)
{
    return text.left(6).leftJustified(6, u' ');
}
