#pragma once

#include "mailbox/dav/davdiscovery.h"

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>
#include <QUrl>

#include <optional>
#include <vector>

// The local copy of a server account's collections, kept for the next process and for when the server
// cannot be reached: one file per calendar and per address book (its items with their ETags, its sync token
// and getctag), and one for the account (what discovery found, and when the server was last reached). The
// files live in the user's cache folder, keyed by server, user and collection. Each is versioned and
// checksummed and written beside and renamed; a damaged, foreign or cut short file reads as none, so the
// worst it costs is reading the collection again.
class DavMirror {
public:
    struct Item {
        QUrl url;
        QByteArray etag;
        QByteArray bytes; // the object as the server sent it
    };
    struct Collection {
        QString syncToken;
        QString ctag;
        std::vector<Item> items;
    };
    struct Account {
        DavDiscovery::Account homes;
        QList<DavCollection> addressBooks;
        QHash<QString, QUrl> located; // members' calendars found by the server's conventions, by key
        QDateTime lastReached;
    };

    // No mirror (enabled() false) when ROTAVINE_NO_CACHE is set.
    DavMirror(const QUrl& server, const QString& user);

    bool enabled() const { return m_enabled; }

    std::optional<Collection> loadCollection(const QUrl& collection) const;
    // False when the file cannot be written; nothing else depends on it.
    bool saveCollection(const QUrl& collection, const Collection& contents) const;
    std::optional<Account> loadAccount() const;
    bool saveAccount(const Account& account) const;

    QString collectionPath(const QUrl& collection) const;
    QString accountPath() const;

    // $XDG_CACHE_HOME/Rotavine/dav
    static QString folder();

private:
    QString identity(const QUrl& collection) const;

    bool m_enabled = false;
    QString m_account; // server and user
};
