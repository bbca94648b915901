#include "gui/captions.h"

#include "base/languagetexts.h"

#include <QAction>
#include <QMenu>
#include <QToolBar>
#include <QVariant>
#include <QWidget>

#include <optional>

namespace Captions {

namespace {

constexpr const char* kTag = "tag";

std::optional<int> tagOf(const QObject* object)
{
    const QVariant tag = object->property(kTag);
    bool ok = false;
    const int number = tag.toString().trimmed().toInt(&ok);
    return tag.isValid() && ok ? std::optional<int>(number) : std::nullopt;
}

// Sets a property only where the object has it, so a control without a caption is left alone.
void setIfPresent(QObject* object, const char* property, const QString& value)
{
    if (object->metaObject()->indexOfProperty(property) >= 0)
        object->setProperty(property, value);
}

void applyToControl(QObject* control, const LanguageTexts& texts)
{
    const std::optional<int> tag = tagOf(control);
    if (!tag)
        return;
    const LanguageTexts::ScreenText text = texts.screen(*tag);
    const bool hasTitle = control->metaObject()->indexOfProperty("title") >= 0;
    setIfPresent(control, hasTitle ? "title" : "text", text.caption);
    setIfPresent(control, "toolTip", text.tooltip);
}

} // namespace

void setTag(QObject* object, int screenTextNumber)
{
    object->setProperty(kTag, screenTextNumber);
}

void applyCaptions(QWidget* window, const LanguageTexts& texts)
{
    if (const std::optional<int> tag = tagOf(window))
        window->setWindowTitle(texts.screen(*tag).caption);
    for (QObject* control : window->findChildren<QObject*>())
        applyToControl(control, texts);
}

void applyToolbarCaptions(QToolBar* toolbar, const LanguageTexts& texts)
{
    for (QAction* button : toolbar->actions()) {
        if (const std::optional<int> tag = tagOf(button)) {
            const LanguageTexts::ScreenText text = texts.screen(*tag);
            button->setText(text.caption);
            button->setToolTip(text.tooltip);
        }
        if (QMenu* menu = button->menu()) {
            for (QAction* entry : menu->actions()) {
                if (const std::optional<int> tag = tagOf(entry))
                    entry->setText(texts.screen(*tag).caption);
            }
        }
    }
}

} // namespace Captions
