#pragma once

#include "gui/captionstrip.h"

#include <QLabel>

// The gradient caption strip as the windows show it along their left edge: a narrow label that draws its
// strip again whenever its height changes.
class CaptionStripLabel : public QLabel {
    Q_OBJECT

public:
    explicit CaptionStripLabel(const QString& caption, QWidget* parent);

    // Lays a window out as the program's windows are: the strip along its left edge, `body` beside it.
    static CaptionStripLabel* frame(QWidget* window, QLayout* body);

    CaptionStrip& strip() { return m_strip; }
    void setCaption(const QString& caption);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    CaptionStrip m_strip;
};
