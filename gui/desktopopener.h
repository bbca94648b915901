#pragma once

#include <QObject>

struct DisplayRequest;

// Hands files, folders, web pages and mails to the desktop: the program the user chose for calendars, else
// xdg-open. The window never waits for them; when xdg-open ends saying it found nothing to open the thing
// with, `failed` says so.
class DesktopOpener : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

    // Throws MailboxError when nothing can be started at all.
    void open(const DisplayRequest& request);

signals:
    void failed(const QString& description);
};
