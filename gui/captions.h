#pragma once

class LanguageTexts;
class QObject;
class QToolBar;
class QWidget;

// Windows, controls, toolbar buttons and menu entries carry the number of their screen text in a "tag"
// property; these functions give them the texts of the language in use.
namespace Captions {

void setTag(QObject* object, int screenTextNumber);

// The window's title and, in the window's control order, each tagged control's caption ("title" of a group
// box, else "text") and tooltip. A control with no tag, or one that is not a number, keeps its texts.
void applyCaptions(QWidget* window, const LanguageTexts& texts);

// Each tagged toolbar button's text and tooltip, then the texts of its drop-down menu's tagged entries.
void applyToolbarCaptions(QToolBar* toolbar, const LanguageTexts& texts);

} // namespace Captions
