#pragma once

#include <QColor>
#include <QImage>
#include <QList>
#include <QPointer>
#include <QRect>
#include <QString>

class QLabel;

// The narrow strip along the left edge of the windows: a vertical gradient from DebutCouleur at the bottom to
// FinCouleur at the top, with the caption written upwards. Colours are OLE colours (0x00BBGGRR, or a system
// colour with the top bit set), resolved to their RGB value when they are set.
class cLogo {
public:
    cLogo();

    QString Caption;

    // The surface painted on; the strip is drawn into an image the label shows.
    void setDessinerObjet(QLabel* surface);

    qint64 DebutCouleur() const { return m_debutCouleur; }
    qint64 FinCouleur() const { return m_finCouleur; }
    // Storing a new value resolves it and repaints an attached surface; the same value again does nothing.
    void setDebutCouleur(qint64 colour);
    void setFinCouleur(qint64 colour);

    void Dessine();

    // The bands of a strip of that size, bottom first: at most 511 of them, each one colour.
    struct Band {
        QRect rect;
        QColor colour;
    };
    QList<Band> bands(const QSize& size) const;
    // The strip with its caption, as Dessine draws it.
    QImage render(const QSize& size, const QFont& font) const;

    int repaints() const { return m_repaints; }

private:
    static QColor resolve(qint64 colour);

    QPointer<QLabel> m_surface;
    qint64 m_debutCouleur = 0;
    qint64 m_finCouleur = 0x8000000F; // the button face
    QColor m_start;
    QColor m_end;
    int m_repaints = 0;
};
