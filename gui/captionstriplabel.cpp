#include "gui/captionstriplabel.h"

#include <QHBoxLayout>

CaptionStripLabel::CaptionStripLabel(const QString& caption, QWidget* parent) : QLabel(parent)
{
    setObjectName(QStringLiteral("captionStrip"));
    setFixedWidth(26);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Ignored);
    setFont(QFont(QStringLiteral("Arial"), 11, QFont::Bold));
    m_strip.caption = caption;
    m_strip.setSurface(this);
}

void CaptionStripLabel::setCaption(const QString& caption)
{
    m_strip.caption = caption;
    m_strip.draw();
}

void CaptionStripLabel::resizeEvent(QResizeEvent* event)
{
    QLabel::resizeEvent(event);
    m_strip.draw();
}

CaptionStripLabel* CaptionStripLabel::frame(QWidget* window, QLayout* body)
{
    auto* outer = new QHBoxLayout(window);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    auto* strip = new CaptionStripLabel(window->windowTitle(), window);
    outer->addWidget(strip);
    outer->addLayout(body, 1);
    return strip;
}
