#pragma once

#include <QString>

#include <exception>

// The one failure type of the object model: a number the callers test and a description they show.
class MailboxError : public std::exception {
public:
    enum Number : int {
        ItemUnreadable = 4096, // one item (file) could not be read; a scan goes on after it
        NotFound = 4097,       // no such calendar, folder, item or address-book entry
        AccessDenied = 4098,   // the calendar or folder cannot be read or written with the user's rights
        BadRestriction = 4099, // a restriction text that cannot be understood
        WriteFailed = 4100,    // saving, sending or deleting failed; nothing was left half written
        Conflict = 4101,       // the item changed elsewhere since it was read; nothing was overwritten
        NotResolved = 4102,    // a name that matches no entry of the address book, or several
        Unsupported = 4103,    // the operation does not apply to this kind of item or folder
        ServerError = 4104,    // the calendar server failed or gave a reply that makes no sense
        Timeout = 4105,        // the calendar server did not answer in time
    };

    MailboxError(int number, QString description) : m_number(number), m_description(std::move(description))
    {
        m_what = m_description.toUtf8();
    }

    int number() const { return m_number; }
    QString description() const { return m_description; }
    const char* what() const noexcept override { return m_what.constData(); }

private:
    int m_number;
    QString m_description;
    QByteArray m_what;
};
