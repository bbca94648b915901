#include "mailbox/dav/davclient.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QSslError>
#include <QTimer>

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

// Runs requests with at most maxInFlight at a time and waits for all of them in one local event loop.
class DavClient::Batch {
public:
    Batch(DavClient& client, const QList<Request>& requests)
        : m_client(client), m_requests(requests), m_replies(requests.size()), m_redirects(requests.size(), 0)
    {
    }

    QList<Reply> run()
    {
        if (m_requests.isEmpty())
            return {};
        const int limit = std::max(1, m_client.m_options.maxInFlight);
        while (m_started < m_requests.size() && m_running < limit) {
            const qsizetype index = m_started++;
            send(index, m_requests.at(index).url);
        }
        if (m_running > 0)
            m_loop.exec(QEventLoop::ExcludeUserInputEvents);
        return m_replies;
    }

private:
    void send(qsizetype index, const QUrl& url)
    {
        const Request& request = m_requests.at(index);
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
        // The password goes to the configured server only, never to where a redirect points.
        if (!m_client.m_authorization.isEmpty() && m_client.sameServer(url))
            http.setRawHeader("Authorization", m_client.m_authorization);

        QNetworkReply* reply = m_client.m_network->sendCustomRequest(http, request.method, request.body);
        ++m_client.m_requestsSent;
        ++m_running;
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
        QObject::connect(reply, &QNetworkReply::finished, reply,
                         [this, reply, index] { finished(index, reply); });
    }

    void finished(qsizetype index, QNetworkReply* reply)
    {
        reply->deleteLater();
        --m_running;
        const Request& request = m_requests.at(index);
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

        Reply& result = m_replies[index];
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

        if (m_started < m_requests.size()) {
            const qsizetype next = m_started++;
            send(next, m_requests.at(next).url);
        }
        if (m_running == 0)
            m_loop.quit();
    }

    DavClient& m_client;
    const QList<Request>& m_requests;
    QList<Reply> m_replies;
    std::vector<int> m_redirects;
    qsizetype m_started = 0;
    int m_running = 0;
    QEventLoop m_loop;
};

DavClient::DavClient(Options options)
    : m_options(std::move(options)), m_network(std::make_unique<QNetworkAccessManager>())
{
    if (!m_options.user.isEmpty())
        m_authorization = "Basic " + (m_options.user + u':' + m_options.password).toUtf8().toBase64();
    // Redirects are followed by hand, so that the password and the method go only where they should.
    m_network->setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
}

DavClient::~DavClient() = default;

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
    Batch batch(*this, requests);
    return batch.run();
}

void DavClient::runTasks(const QList<Task*>& tasks)
{
    for (;;) {
        QList<Request> requests;
        QList<Task*> waiting;
        for (Task* task : tasks) {
            if (std::optional<Request> request = task->next()) {
                requests.append(std::move(*request));
                waiting.append(task);
            }
        }
        if (requests.isEmpty())
            return;
        const QList<Reply> replies = runAll(requests);
        for (qsizetype i = 0; i < waiting.size(); ++i)
            waiting.at(i)->take(replies.at(i));
    }
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
