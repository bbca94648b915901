#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTcpServer>
#include <QUrl>

#include <functional>

class QTcpSocket;

// A small HTTP proxy of the tests' own between the program and a server on 127.0.0.1: it passes requests
// through, or spoils the ones a rule picks in one of the ways servers and networks fail.
class FaultProxy : public QObject {
public:
    enum class Fault {
        None,
        Drop,          // the connection closes without a reply: the server went away
        ServerError,   // 500 Internal Server Error
        MalformedXml,  // 207 with a body that is not well-formed XML
        NeverEnds,     // the reply starts and then nothing more comes
        WrongPassword, // the request reaches the server with another password
    };
    // Decides, from a request's method and path, what happens to it.
    using Rule = std::function<Fault(const QByteArray& method, const QString& path)>;

    explicit FaultProxy(quint16 serverPort);
    ~FaultProxy() override;

    QUrl url(const QString& path = QStringLiteral("/")) const;
    void setRule(Rule rule) { m_rule = std::move(rule); }
    // Stops accepting and drops every open connection: the server is gone.
    void shutDown();
    int spoiled() const { return m_spoiled; }

private:
    void accept();
    void serve(QTcpSocket* client);

    QTcpServer m_listener;
    quint16 m_serverPort;
    Rule m_rule;
    int m_spoiled = 0;
};
