#include "mailbox/dav/davclient.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QHostAddress>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QSslError>
#include <QTimer>

#include <algorithm>
#include <deque>
#include <functional>
#include <vector>

namespace {

int defaultPort(const QUrl& url)
{
    return url.port(url.scheme().compare(QLatin1StringView("https"), Qt::CaseInsensitive) == 0 ? 443 : 80);
}

QString seconds(int milliseconds)
{
    return QString::number((milliseconds + 999) / 1000);
}

} // namespace

// Runs requests with at most inFlightLimit() at a time and waits for all of them in one local event loop.
// Each reply goes to `taken` as soon as it ends, which may add the requests that follow from it.
class DavClient::Batch {
public:
    using Taken = std::function<void(qsizetype index, const Reply& reply)>;

    Batch(DavClient& client, Taken taken) : m_client(client), m_taken(std::move(taken)) { m_clock.start(); }

    // Requests go in the order they were added: a task's next request waits behind the first requests of
    // the others, which are quick ones as a rule (where is the calendar), so that the server has the next
    // request while a reply is worked on.
    qsizetype add(Request request)
    {
        const qsizetype index = qsizetype(m_requests.size());
        m_requests.push_back(std::move(request));
        m_redirects.push_back(0);
        m_sentAt.push_back(0);
        m_waiting.push_back(index);
        return index;
    }

    void run()
    {
        sendWaiting();
        if (m_open > 0)
            m_loop.exec(QEventLoop::ExcludeUserInputEvents);
    }

private:
    void sendWaiting()
    {
        while (!m_waiting.empty() && m_atServer < m_client.inFlightLimit()) {
            const qsizetype index = m_waiting.front();
            m_waiting.pop_front();
            send(index, m_requests.at(std::size_t(index)).url);
        }
    }

    void send(qsizetype index, const QUrl& url)
    {
        const Request& request = m_requests.at(std::size_t(index));
        QNetworkRequest http(url);
        http.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
        http.setTransferTimeout(m_client.m_options.timeoutMs);
        http.setHeader(QNetworkRequest::UserAgentHeader, QByteArray("Rotavine/" ROTAVINE_VERSION));
        if (!request.contentType.isEmpty())
            http.setHeader(QNetworkRequest::ContentTypeHeader, request.contentType);
        if (!request.depth.isEmpty())
            http.setRawHeader("Depth", request.depth);
        for (const auto& [name, value] : request.headers)
            http.setRawHeader(name, value);
        // Compressing costs a server on this machine more than the copy it saves.
        if (m_client.m_loopback)
            http.setRawHeader("Accept-Encoding", "identity");
        // The password goes to the configured server only, never to where a redirect points.
        if (!m_client.m_authorization.isEmpty() && m_client.sameServer(url))
            http.setRawHeader("Authorization", m_client.m_authorization);

        QNetworkReply* reply = m_client.m_network->sendCustomRequest(http, request.method, request.body);
        m_sentAt[std::size_t(index)] = m_clock.nsecsElapsed();
        ++m_client.m_requestsSent;
        ++m_atServer;
        ++m_open;
        QObject::connect(reply, &QNetworkReply::sslErrors, reply, [this, reply](const QList<QSslError>&) {
            if (m_client.m_options.insecureTls && m_client.sameServer(reply->url()))
                reply->ignoreSslErrors();
        });
        // A reply that trickles forever still ends: the transfer time-out only watches for silence.
        auto* deadline = new QTimer(reply);
        deadline->setSingleShot(true);
        QPointer<QNetworkReply> guarded(reply);
        QObject::connect(deadline, &QTimer::timeout, reply, [reply] {
            reply->setProperty("rotavineTimedOut", true);
            reply->abort();
        });
        deadline->start(4 * std::max(1000, m_client.m_options.timeoutMs));
        // Once the reply begins the server has done its part: the next request can go while this one comes.
        QObject::connect(reply, &QNetworkReply::metaDataChanged, reply, [this, reply, index] {
            if (answered(reply))
                m_client.noteLatency((m_clock.nsecsElapsed() - m_sentAt[std::size_t(index)]) / 1e6);
            sendWaiting();
        });
        QObject::connect(reply, &QNetworkReply::finished, reply,
                         [this, reply, index] { finished(index, reply); });
    }

    // Counts the reply out of those the server is working on, the first time only; whether it was.
    bool answered(QNetworkReply* reply)
    {
        if (reply->property("rotavineAnswered").toBool())
            return false;
        reply->setProperty("rotavineAnswered", true);
        --m_atServer;
        return true;
    }

    void finished(qsizetype index, QNetworkReply* reply)
    {
        reply->deleteLater();
        answered(reply);
        --m_open;
        const Request& request = m_requests.at(std::size_t(index));
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        const QUrl url = reply->url();

        if (status >= 300 && status < 400 && status != 304) {
            const QUrl target =
                url.resolved(reply->attribute(QNetworkRequest::RedirectionTargetAttribute).toUrl());
            if (target.isValid() && m_client.sameServer(target) &&
                m_redirects[index] < m_client.m_options.maxRedirects) {
                ++m_redirects[index];
                send(index, target);
                return;
            }
        }

        Reply result;
        result.status = status;
        result.url = url;
        if (reply->isOpen())
            result.body = reply->readAll(); // an aborted reply is closed already
        result.etag = reply->rawHeader("ETag");
        m_client.m_bytesReceived += result.body.size();
        if (status != 0)
            m_client.m_lastReached = QDateTime::currentDateTimeUtc();
        result.unreachable = status == 0 && reply->error() != QNetworkReply::SslHandshakeFailedError;
        m_client.m_unreachable = result.unreachable;
        const QString what = request.what.isEmpty() ? url.toDisplayString() : request.what;
        const QNetworkReply::NetworkError error = reply->error();
        if (status == 0 || (error != QNetworkReply::NoError && status < 400)) {
            if (error == QNetworkReply::TimeoutError || error == QNetworkReply::OperationCanceledError ||
                reply->property("rotavineTimedOut").toBool())
                result.error = MailboxError(
                    MailboxError::Timeout,
                    QStringLiteral("The calendar server did not answer in time (%1 s) while reading %2")
                        .arg(seconds(m_client.m_options.timeoutMs), what));
            else if (error == QNetworkReply::SslHandshakeFailedError)
                result.error =
                    MailboxError(MailboxError::ServerError,
                                 QStringLiteral("No secure connection to the calendar server for %1: %2")
                                     .arg(what, reply->errorString()));
            else
                result.error = MailboxError(MailboxError::ServerError,
                                            QStringLiteral("The calendar server failed while reading %1: %2")
                                                .arg(what, reply->errorString()));
        }
        else if (status >= 400) {
            result.error = statusError(
                status, reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString(), what, url);
        }
        else if (status >= 300 && status != 304) {
            result.error = MailboxError(
                MailboxError::ServerError,
                QStringLiteral("The calendar server sent %1 elsewhere (%2), which is not followed")
                    .arg(what, reply->attribute(QNetworkRequest::RedirectionTargetAttribute)
                                   .toUrl()
                                   .toDisplayString()));
        }

        // The server gets the next request before this reply is worked on, so that it is not left idle.
        sendWaiting();
        m_taken(index, result);
        sendWaiting();
        if (m_open == 0)
            m_loop.quit();
    }

    DavClient& m_client;
    Taken m_taken;
    std::deque<Request> m_requests; // by index; a deque keeps them in place as more are added
    std::vector<int> m_redirects;
    std::vector<qint64> m_sentAt; // nanoseconds on m_clock
    std::deque<qsizetype> m_waiting;
    QElapsedTimer m_clock;
    int m_atServer = 0; // sent, and no reply begun
    int m_open = 0;     // sent, and not ended
    QEventLoop m_loop;
};

DavClient::DavClient(Options options)
    : m_options(std::move(options)), m_network(std::make_unique<QNetworkAccessManager>())
{
    if (!m_options.user.isEmpty())
        m_authorization = "Basic " + (m_options.user + u':' + m_options.password).toUtf8().toBase64();
    const QString host = m_options.server.host();
    m_loopback = host.compare(QLatin1StringView("localhost"), Qt::CaseInsensitive) == 0 ||
                 QHostAddress(host).isLoopback();
    // Redirects are followed by hand, so that the password and the method go only where they should.
    m_network->setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
}

DavClient::~DavClient() = default;

int DavClient::inFlightLimit() const
{
    const int most = std::max(1, m_options.maxInFlight);
    if (m_recentService.empty())
        return 1; // nothing known yet: the first replies tell
    // The slowest of the recent replies decides, so that a quick one does not let two slow ones go at once.
    const double service = *std::max_element(m_recentService.begin(), m_recentService.end());
    const double covered = 1 + m_roundTripMs / std::max(service, 0.1);
    return covered >= most ? most : std::max(1, int(covered));
}

void DavClient::noteLatency(double milliseconds)
{
    if (m_roundTripMs < 0 || milliseconds < m_roundTripMs)
        m_roundTripMs = milliseconds;
    m_recentService.push_back(milliseconds - m_roundTripMs);
    if (m_recentService.size() > 8)
        m_recentService.pop_front();
}

bool DavClient::sameServer(const QUrl& url) const
{
    return url.scheme().compare(m_options.server.scheme(), Qt::CaseInsensitive) == 0 &&
           url.host().compare(m_options.server.host(), Qt::CaseInsensitive) == 0 &&
           defaultPort(url) == defaultPort(m_options.server);
}

DavClient::Reply DavClient::run(const Request& request)
{
    return runAll({request}).value(0);
}

QList<DavClient::Reply> DavClient::runAll(const QList<Request>& requests)
{
    QList<Reply> replies(requests.size());
    Batch batch(*this, [&replies](qsizetype index, const Reply& reply) { replies[index] = reply; });
    for (const Request& request : requests)
        batch.add(request);
    batch.run();
    return replies;
}

void DavClient::runTasks(const QList<Task*>& tasks)
{
    // Each task goes on as soon as its reply is taken, while the others' requests are still out: the work on
    // one reply overlaps the server's on the next.
    std::vector<Task*> owners;
    Batch batch(*this, [&](qsizetype index, const Reply& reply) {
        Task* task = owners.at(std::size_t(index));
        task->take(reply);
        if (std::optional<Request> request = task->next()) {
            batch.add(std::move(*request));
            owners.push_back(task);
        }
    });
    for (Task* task : tasks) {
        if (std::optional<Request> request = task->next()) {
            batch.add(std::move(*request));
            owners.push_back(task);
        }
    }
    batch.run();
}

MailboxError DavClient::statusError(int status, const QString& reason, const QString& what, const QUrl& url)
{
    const QString code = QStringLiteral("%1 %2").arg(status).arg(reason).trimmed();
    if (status == 401)
        return MailboxError(
            MailboxError::AccessDenied,
            QStringLiteral("The calendar server refused the user name or password for %1 (%2)")
                .arg(what, code));
    if (status == 403)
        return MailboxError(MailboxError::AccessDenied,
                            QStringLiteral("No rights to %1 on the calendar server (%2)").arg(what, code));
    if (status == 404 || status == 410)
        return MailboxError(MailboxError::NotFound,
                            QStringLiteral("No such calendar or item on the server for %1: %2 (%3)")
                                .arg(what, url.toDisplayString(), code));
    if (status == 412)
        return MailboxError(MailboxError::Conflict,
                            QStringLiteral("%1 was changed on the server since it was read; nothing was "
                                           "overwritten (%2)")
                                .arg(what, code));
    if (status == 408 || status == 504)
        return MailboxError(
            MailboxError::Timeout,
            QStringLiteral("The calendar server did not answer in time for %1 (%2)").arg(what, code));
    return MailboxError(MailboxError::ServerError,
                        QStringLiteral("The calendar server failed on %1 (%2)").arg(what, code));
}
