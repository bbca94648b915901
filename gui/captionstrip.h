#pragma once

#include <QColor>
#include <QImage>
#include <QList>
#include <QPointer>
#include <QRect>
#include <QString>

class QLabel;

// The narrow strip along the left edge of the windows: a vertical gradient from startColour at the bottom to
// endColour at the top, with the caption written upwards. Colours are OLE colours (0x00BBGGRR, or a system
// colour with the top bit set), resolved to their RGB value when they are set.
class CaptionStrip {
public:
    CaptionStrip();

    QString caption;

    // The surface painted on; the strip is drawn into an image the label shows.
    void setSurface(QLabel* surface);

    qint64 startColour() const { return m_startColour; }
    qint64 endColour() const { return m_endColour; }
    // Storing a new value resolves it and repaints an attached surface; the same value again does nothing.
    void setStartColour(qint64 colour);
    void setEndColour(qint64 colour);

    void draw();

    // The bands of a strip of that size, bottom first: at most 511 of them, each one colour.
    struct Band {
        QRect rect;
        QColor colour;
    };
    QList<Band> bands(const QSize& size) const;
    // The strip with its caption, as draw draws it.
    QImage render(const QSize& size, const QFont& font) const;

    int repaints() const { return m_repaints; }

private:
    static QColor resolve(qint64 colour);

    QPointer<QLabel> m_surface;
    qint64 m_startColour = 0;
    qint64 m_endColour = 0x8000000F; // the button face
    QColor m_start;
    QColor m_end;
    int m_repaints = 0;
};
