#include "gui/captionstrip.h"

#include "planning/planningmatrix.h"

#include <QLabel>
#include <QPainter>

#include <cmath>

CaptionStrip::CaptionStrip() : m_start(resolve(m_startColour)), m_end(resolve(m_endColour)) {}

QColor CaptionStrip::resolve(qint64 colour)
{
    colour = resolveOleColour(colour);
    return QColor(int(colour & 0xFF), int((colour >> 8) & 0xFF), int((colour >> 16) & 0xFF));
}

void CaptionStrip::setSurface(QLabel* surface)
{
    m_surface = surface;
}

void CaptionStrip::setStartColour(qint64 colour)
{
    if (colour == m_startColour)
        return;
    m_startColour = colour;
    m_start = resolve(colour);
    if (m_surface)
        draw();
}

void CaptionStrip::setEndColour(qint64 colour)
{
    if (colour == m_endColour)
        return;
    m_endColour = colour;
    m_end = resolve(colour);
    if (m_surface)
        draw();
}

QList<CaptionStrip::Band> CaptionStrip::bands(const QSize& size) const
{
    QList<Band> result;
    const int h = size.height();
    const int w = size.width();
    if (h <= 0 || w <= 0)
        return result; // an empty strip has nothing to paint
    const int s = std::max(h / 255, 1);
    const int start[] = {m_start.red(), m_start.green(), m_start.blue()};
    const int difference[] = {m_end.red() - start[0], m_end.green() - start[1], m_end.blue() - start[2]};
    int current[] = {start[0], start[1], start[2]};
    int y = h;
    for (int i = h; i >= 0; i -= s) {
        result.append({QRect(0, y - s, w, s), QColor(current[0], current[1], current[2])});
        y -= s;
        for (int channel = 0; channel < 3; ++channel)
            current[channel] = int(std::nearbyint(start[channel] + double(h - i) * difference[channel] / h));
    }
    return result;
}

QImage CaptionStrip::render(const QSize& size, const QFont& font) const
{
    QImage image(size.expandedTo(QSize(1, 1)), QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    for (const Band& band : bands(size))
        painter.fillRect(band.rect, band.colour);
    // The caption runs upwards, starting 16 pixels above the bottom edge.
    painter.setFont(font);
    painter.translate(0, size.height() - 16);
    painter.rotate(-90);
    painter.setPen(Qt::white);
    painter.drawText(QPoint(0, painter.fontMetrics().ascent()), caption);
    return image;
}

void CaptionStrip::draw()
{
    if (!m_surface)
        return;
    ++m_repaints;
    m_surface->setPixmap(QPixmap::fromImage(render(m_surface->size(), m_surface->font())));
}
