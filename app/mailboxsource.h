#pragma once

#include <QString>

class SettingsStore;

// Which calendar source the program opens: a folder named on the command line, else the one the settings
// name (section "Source"), else a copy of the demo mailbox in the user's data folder, made on first use so
// that a new user sees a real planning at once.
struct MailboxSource {
    enum Kind { Folder, Demo };
    Kind kind = Folder;
    QString path;
    QString ownerName;
    QString ownerAddress;
    QString error; // set when no source could be prepared; path is then empty
};

MailboxSource chooseMailboxSource(const SettingsStore& settings, const QString& commandLinePath,
                                  const QString& shippedDemo, const QString& userDataFolder);

// Copies a folder tree into `target`, which must not exist yet: the copy is made beside it and renamed into
// place, so an interrupted copy never passes for a mailbox. Returns why it failed, or an empty string.
QString copyFolderTree(const QString& source, const QString& target);
