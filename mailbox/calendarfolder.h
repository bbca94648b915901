#pragma once

#include "mailbox/calendarindex.h"
#include "mailbox/folder.h"

#include <functional>
#include <memory>

class FolderMailbox;

// A person's calendar in a folder mailbox: a directory of iCalendar files.
class CalendarFolder : public Folder {
public:
    CalendarFolder(FolderMailbox& mailbox, std::shared_ptr<CalendarIndex> index, QString name);

    Kind kind() const override { return Calendar; }
    QString name() const override { return m_name; }

    QList<std::shared_ptr<MailboxItem>> storedItems() override;
    Scan occurrences(const TimeWindow& window) override;
    std::shared_ptr<MailboxItem> newItem(const QString& messageClass) override;

    void saveItem(MailboxItem& item) override;
    void deleteItem(MailboxItem& item) override;
    void displayItem(const MailboxItem& item, bool modal) override;

protected:
    QUrl location() const override;
    Mailbox& mailbox() const override;

private:
    FolderMailbox& m_mailbox;
    std::shared_ptr<CalendarIndex> m_index;
    QString m_name;
};
