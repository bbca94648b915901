#pragma once

#include "planning/querycontext.h"

#include <QString>

class QWidget;

// The program's message boxes, titled like the window they stand over: a message with its icon and OK, or a
// question answered Yes or No (No the default). The windows show them unless the tests put their own handler
// in their place.
namespace MessageBoxes {

void show(QWidget* parent, MessageIcon icon, const QString& text);
// True for Yes. A question without an icon of its own shows the question mark.
bool ask(QWidget* parent, MessageIcon icon, const QString& text);

} // namespace MessageBoxes
