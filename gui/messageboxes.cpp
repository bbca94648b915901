#include "gui/messageboxes.h"

#include <QMessageBox>

namespace MessageBoxes {

namespace {

QMessageBox::Icon boxIcon(MessageIcon icon, QMessageBox::Icon none)
{
    switch (icon) {
    case MessageIcon::Information:
        return QMessageBox::Information;
    case MessageIcon::Exclamation:
        return QMessageBox::Warning;
    case MessageIcon::Critical:
        return QMessageBox::Critical;
    case MessageIcon::None:
        break;
    }
    return none;
}

QString titleOf(const QWidget* parent)
{
    return parent ? parent->windowTitle() : QString();
}

} // namespace

void show(QWidget* parent, MessageIcon icon, const QString& text)
{
    QMessageBox box(boxIcon(icon, QMessageBox::NoIcon), titleOf(parent), text, QMessageBox::Ok, parent);
    box.exec();
}

bool ask(QWidget* parent, MessageIcon icon, const QString& text)
{
    QMessageBox box(boxIcon(icon, QMessageBox::Question), titleOf(parent), text,
                    QMessageBox::Yes | QMessageBox::No, parent);
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

} // namespace MessageBoxes
