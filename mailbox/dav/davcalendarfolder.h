#pragma once

#include "mailbox/folder.h"

#include <QUrl>

class DavMailbox;

// A person's calendar on a CalDAV server.
class DavCalendarFolder : public Folder {
public:
    DavCalendarFolder(DavMailbox& mailbox, QUrl url, QString name);

    Kind kind() const override { return Calendar; }
    QString name() const override { return m_name; }
    QUrl url() const { return m_url; }

    QList<std::shared_ptr<MailboxItem>> storedItems() override;
    Scan occurrences(const TimeWindow& window) override;
    std::shared_ptr<MailboxItem> newItem(const QString& messageClass) override;

    void saveItem(MailboxItem& item) override;
    void deleteItem(MailboxItem& item) override;
    void displayItem(const MailboxItem& item, bool modal) override;

protected:
    QUrl location() const override { return m_url; }
    Mailbox& mailbox() const override;

private:
    DavMailbox& m_mailbox;
    QUrl m_url;
    QString m_name;
};
