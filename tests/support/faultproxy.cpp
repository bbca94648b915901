#include "tests/support/faultproxy.h"

#include <QPointer>
#include <QTcpSocket>

FaultProxy::FaultProxy(quint16 serverPort) : m_serverPort(serverPort)
{
    m_listener.listen(QHostAddress::LocalHost, 0);
    connect(&m_listener, &QTcpServer::newConnection, this, &FaultProxy::accept);
}

FaultProxy::~FaultProxy()
{
    shutDown();
}

QUrl FaultProxy::url(const QString& path) const
{
    QUrl url;
    url.setScheme("http");
    url.setHost("127.0.0.1");
    url.setPort(m_listener.serverPort());
    url.setPath(path);
    return url;
}

void FaultProxy::shutDown()
{
    m_listener.close();
    for (QTcpSocket* socket : findChildren<QTcpSocket*>())
        socket->abort();
}

void FaultProxy::accept()
{
    while (QTcpSocket* client = m_listener.nextPendingConnection()) {
        client->setParent(this);
        serve(client);
    }
}

void FaultProxy::serve(QTcpSocket* client)
{
    // The request head is read whole before anything is decided; the rest is passed through as it comes.
    auto* head = new QByteArray;
    connect(client, &QObject::destroyed, [head] { delete head; });
    connect(client, &QTcpSocket::disconnected, client, &QObject::deleteLater);
    connect(client, &QTcpSocket::readyRead, this, [this, client, head] {
        if (client->property("decided").toBool())
            return; // the upstream connection reads from here now
        head->append(client->readAll());
        const qsizetype end = head->indexOf("\r\n\r\n");
        if (end < 0)
            return;
        client->setProperty("decided", true);
        const QList<QByteArray> requestLine = head->left(head->indexOf("\r\n")).split(' ');
        const QByteArray method = requestLine.value(0);
        const QString path = QString::fromUtf8(QByteArray::fromPercentEncoding(requestLine.value(1)));
        const Fault fault = m_rule ? m_rule(method, path) : Fault::None;
        if (fault != Fault::None)
            ++m_spoiled;
        switch (fault) {
        case Fault::Drop:
            client->abort();
            return;
        case Fault::ServerError:
            client->write(
                "HTTP/1.1 500 Internal Server Error\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
            client->disconnectFromHost();
            return;
        case Fault::MalformedXml: {
            const QByteArray body =
                "<?xml version=\"1.0\"?><multistatus xmlns=\"DAV:\"><response><href>/x</hre";
            client->write("HTTP/1.1 207 Multi-Status\r\nContent-Type: application/xml\r\nContent-Length: " +
                          QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
            client->disconnectFromHost();
            return;
        }
        case Fault::NeverEnds:
            client->write(
                "HTTP/1.1 207 Multi-Status\r\nContent-Type: application/xml\r\nContent-Length: 100000\r\n\r\n"
                "<?xml version=\"1.0\"?><multistatus xmlns=\"DAV:\">");
            return;
        case Fault::WrongPassword: {
            QList<QByteArray> lines = head->left(end).split('\n');
            for (QByteArray& line : lines) {
                if (line.toLower().startsWith("authorization:"))
                    line = "Authorization: Basic " + QByteArray("tester:wrong").toBase64() + '\r';
            }
            *head = lines.join('\n') + head->mid(end);
            break;
        }
        case Fault::None:
            break;
        }
        auto* upstream = new QTcpSocket(client);
        upstream->connectToHost(QHostAddress::LocalHost, m_serverPort);
        const QByteArray pending = *head;
        connect(upstream, &QTcpSocket::connected, upstream,
                [upstream, pending] { upstream->write(pending); });
        const auto pass = [](QTcpSocket* from, QTcpSocket* to) {
            if (from->isOpen() && to->isOpen())
                to->write(from->readAll());
        };
        connect(client, &QTcpSocket::readyRead, upstream, [=] { pass(client, upstream); });
        connect(upstream, &QTcpSocket::readyRead, client, [=] { pass(upstream, client); });
        connect(upstream, &QTcpSocket::disconnected, client, [=] {
            pass(upstream, client);
            if (client->isOpen())
                client->disconnectFromHost();
        });
    });
}
