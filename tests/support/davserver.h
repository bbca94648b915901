#pragma once

#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QRegularExpression>
#include <QString>
#include <QTemporaryDir>
#include <QUrl>

#include <memory>
#include <utility>

// A real CalDAV/CardDAV server for the tests, Radicale (Debian's radicale 3.x) or Xandikos: started on
// 127.0.0.1 with a free port, a temporary storage and one user, and killed when the object goes (and, through
// the parent-death signal, when the test program dies). The tests talk to it over HTTP as that user, like any
// client. Xandikos asks for no password and keeps its own layout of homes (<user>/calendars/,
// <user>/contacts/), which uploadMailbox follows.
//
// Rights: the user may read and write every collection except those under "private@example.org", which it
// may not even read.
class DavServer {
public:
    static inline const QString kUser = QStringLiteral("tester");
    static inline const QString kPassword = QStringLiteral("secret");
    static inline const QString kForbidden = QStringLiteral("private@example.org");

    enum class Kind { Radicale, Xandikos };

    // `storageFolder`: Radicale's filesystem_folder, kept after the server stops (the benchmark's); by
    // default a temporary one.
    explicit DavServer(const QString& storageFolder = QString(), Kind kind = Kind::Radicale);
    ~DavServer();
    DavServer(const DavServer&) = delete;
    DavServer& operator=(const DavServer&) = delete;

    // One server for the whole test program, started on first use and stopped when the program ends.
    static DavServer& shared();
    // One Xandikos for the whole test program.
    static DavServer& xandikos();

    bool isRunning() const;
    // Why the server did not start, with its output.
    QString error() const { return m_error; }
    int port() const { return m_port; }
    QUrl url(const QString& path = QStringLiteral("/")) const;
    QString storage() const;

    // Removes every collection, so that a test starts from an empty server.
    void reset();

    struct Reply {
        int status = 0;
        QByteArray body;
        QByteArray etag;
    };
    Reply request(const QByteArray& method, const QString& path, const QByteArray& body = {},
                  const QByteArray& contentType = {},
                  const QList<std::pair<QByteArray, QByteArray>>& headers = {}, const QString& user = kUser,
                  const QString& password = kPassword);
    Reply get(const QString& path) { return request("GET", path); }
    bool put(const QString& path, const QByteArray& bytes);
    bool makeCalendar(const QString& path);
    bool makeAddressBook(const QString& path, const QString& displayName);
    bool remove(const QString& path) { return request("DELETE", path).status / 100 == 2; }
    // A collection made in the storage directly, where the rights keep the user from making it.
    void makeCalendarOnDisk(const QString& path);

    // Uploads a folder mailbox: contacts/*.vcf into the user's address book "contacts", contacts/Rotavine
    // into the address book "Rotavine" beside it, each calendars/<address>/ into the calendar
    // <address>/calendar/. Returns what failed, or an empty string.
    QString uploadMailbox(const QString& root);

private:
    bool start();
    QString calendarOf(const QString& owner) const; // where uploadMailbox puts an owner's calendar

    QTemporaryDir m_dir;
    QString m_storageFolder;
    Kind m_kind;
    std::unique_ptr<QProcess> m_process;
    int m_port = 0;
    QString m_error;
};
