#pragma once

#include <QProcessEnvironment>
#include <QString>
#include <QUrl>

#include <memory>

class Mailbox;
class SettingsStore;

// Which calendar source the program opens: a folder or a CalDAV server named on the command line, else the
// one the settings name (section "Source"), else a copy of the demo mailbox in the user's data folder, made
// on first use so that a new user sees a real planning at once.
//
// Section "Source": Path (a folder mailbox), CalDavUrl and CalDavUser (a server; it wins over Path),
// PasswordCommand (a shell command that prints the password, used when the environment has no
// ROTAVINE_PASSWORD), InsecureTls (1: accept any certificate from that one server), TimeoutSeconds (per
// request, 30 by default), OwnerName and OwnerAddress (the organizer of meeting requests). The password
// itself is never stored.
struct MailboxSource {
    enum Kind { Folder, Demo, Dav };
    Kind kind = Folder;
    QString path;
    QString ownerName;
    QString ownerAddress;
    // A CalDAV/CardDAV server
    QUrl url;
    QString user;
    QString passwordCommand;
    bool insecureTls = false;
    int timeoutSeconds = 30;
    // A password typed for this session only (the options' Test); it wins over every other way and is
    // never written anywhere.
    QString sessionPassword;
    QString error;         // set when no source could be prepared; path and url are then empty
    bool firstUse = false; // the demo mailbox was copied into place just now

    // The folder or the server address, for messages.
    QString where() const;
};

// What the command line says about the source; empty values leave the choice to the settings.
struct SourceOverrides {
    QString mailboxPath; // --mailbox
    QString davUrl;      // --caldav
    QString davUser;     // --user
};

MailboxSource chooseMailboxSource(const SettingsStore& settings, const SourceOverrides& overrides,
                                  const QString& shippedDemo, const QString& userDataFolder);

// The password for a server source: the session password, else the environment variable ROTAVINE_PASSWORD,
// else what the configured command prints (run with /bin/sh -c, its trailing line break removed), else
// nothing for a source without a user. Throws MailboxError (AccessDenied) when the command fails or there is
// no way to get one.
QString sourcePassword(const MailboxSource& source,
                       const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment(),
                       int commandTimeoutMs = 60000);

// The mailbox of a source, opened. Throws MailboxError.
std::unique_ptr<Mailbox> openMailbox(const MailboxSource& source);

// Copies a folder tree into `target`, which must not exist yet: the copy is made beside it and renamed into
// place, so an interrupted copy never passes for a mailbox. Returns why it failed, or an empty string.
QString copyFolderTree(const QString& source, const QString& target);
