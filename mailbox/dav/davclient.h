#pragma once

#include "mailbox/mailboxerror.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QUrl>

#include <deque>
#include <memory>
#include <optional>
#include <utility>

class QNetworkAccessManager;

// The HTTP side of the DAV back end: one QNetworkAccessManager, Basic authentication sent to the configured
// server only, a time-out per request, redirects followed on the same server up to a limit, and failures
// turned into MailboxErrors. The object model's calls are synchronous, so a request waits in a local event
// loop; a batch runs many requests with a bounded number in flight on the same loop, with no thread.
class DavClient {
public:
    struct Options {
        QUrl server;
        QString user;
        QString password;
        // Certificate errors of this server (and of no other) are ignored.
        bool insecureTls = false;
        int timeoutMs = 30000;
        int maxRedirects = 5;
        int maxInFlight = 8;
    };

    struct Request {
        QByteArray method;
        QUrl url;
        QByteArray body;
        QByteArray contentType;
        QByteArray depth; // "0", "1" or empty
        QList<std::pair<QByteArray, QByteArray>> headers;
        QString what; // names the request in error texts: "the calendar of José Álvarez"
    };

    struct Reply {
        int status = 0; // HTTP status, 0 when no reply came
        QByteArray body;
        QByteArray etag;
        QUrl url; // where the reply came from, after redirects
        // Set for a failure to get a reply and for HTTP statuses from 400 on.
        std::optional<MailboxError> error;
        // No reply because the server could not be reached (connection refused, time-out, unknown host).
        bool unreachable = false;
        bool ok() const { return !error.has_value(); }
    };

    // A unit of work that needs one request after another (find a calendar, check it, read it). runTasks
    // starts every task's first request and hands each reply to its task the moment it ends, so one
    // calendar's reply is worked on while the next is still on the way.
    class Task {
    public:
        virtual ~Task() = default;
        // The next request, or nothing when the task is done.
        virtual std::optional<Request> next() = 0;
        virtual void take(const Reply& reply) = 0;
    };

    explicit DavClient(Options options);
    ~DavClient();
    DavClient(const DavClient&) = delete;
    DavClient& operator=(const DavClient&) = delete;

    const Options& options() const { return m_options; }

    Reply run(const Request& request);
    // The replies in the order of the requests.
    QList<Reply> runAll(const QList<Request>& requests);
    void runTasks(const QList<Task*>& tasks);

    // The error for an HTTP status, worded for `what`.
    static MailboxError statusError(int status, const QString& reason, const QString& what, const QUrl& url);

    // Requests in flight at most: enough to keep the server busy while replies travel, one more than the
    // round trip holds service times. More only queue at the server, and a server that takes them at once
    // may spend more on each (Radicale's threads share one interpreter lock); so a server on this machine
    // or a slow one gets one at a time, a distant quick one several, never more than maxInFlight. Learnt
    // from each reply's time, send to end (noteLatency).
    int inFlightLimit() const;
    void noteLatency(double milliseconds);

    // Counters for the benchmark and the tests.
    qint64 requestsSent() const { return m_requestsSent; }
    qint64 bytesReceived() const { return m_bytesReceived; }

    // Whether the last reply that ended came without any HTTP status because the server could not be
    // reached (connection refused, time-out, unknown host); a refusal or an error page is a reply.
    bool unreachable() const { return m_unreachable; }
    // When a reply last came from the server; invalid before the first.
    QDateTime lastReached() const { return m_lastReached; }

private:
    class Batch;
    bool sameServer(const QUrl& url) const;

    Options m_options;
    std::unique_ptr<QNetworkAccessManager> m_network;
    QByteArray m_authorization;
    bool m_loopback = false; // the server is on this machine
    qint64 m_requestsSent = 0;
    qint64 m_bytesReceived = 0;
    bool m_unreachable = false;
    QDateTime m_lastReached;
    double m_roundTripMs = -1;          // the quickest reply yet: the network's share of every reply
    std::deque<double> m_recentService; // the server's share of the last replies, queueing included
};
