#include "gui/captionstrip.h"

#include "planning/planningmatrix.h"

#include <QLabel>
#include <QPainter>

#include <cmath>

cLogo::cLogo() : m_start(resolve(m_debutCouleur)), m_end(resolve(m_finCouleur)) {}

QColor cLogo::resolve(qint64 colour)
{
    colour = resolveOleColour(colour);
    return QColor(int(colour & 0xFF), int((colour >> 8) & 0xFF), int((colour >> 16) & 0xFF));
}

void cLogo::setDessinerObjet(QLabel* surface)
{
    m_surface = surface;
}

void cLogo::setDebutCouleur(qint64 colour)
{
    if (colour == m_debutCouleur)
        return;
    m_debutCouleur = colour;
    m_start = resolve(colour);
    if (m_surface)
        Dessine();
}

void cLogo::setFinCouleur(qint64 colour)
{
    if (colour == m_finCouleur)
        return;
    m_finCouleur = colour;
    m_end = resolve(colour);
    if (m_surface)
        Dessine();
}

QList<cLogo::Band> cLogo::bands(const QSize& size) const
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

QImage cLogo::render(const QSize& size, const QFont& font) const
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
    painter.drawText(QPoint(0, painter.fontMetrics().ascent()), Caption);
    return image;
}

void cLogo::Dessine()
{
    if (!m_surface)
        return;
    ++m_repaints;
    m_surface->setPixmap(QPixmap::fromImage(render(m_surface->size(), m_surface->font())));
}
