#include "tests/support/davserver.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include <csignal>
#include <sys/prctl.h>

namespace {

void writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(bytes);
}

int freePort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    return probe.serverPort();
}

DavServer* sharedServer = nullptr;
DavServer* sharedXandikos = nullptr;

void stopSharedServers()
{
    delete sharedServer;
    delete sharedXandikos;
    sharedServer = sharedXandikos = nullptr;
}

} // namespace

DavServer::DavServer(const QString& storageFolder, Kind kind)
    : m_storageFolder(storageFolder.isEmpty() ? m_dir.path() + "/collections" : storageFolder), m_kind(kind)
{
    const QString root = m_dir.path();
    writeFile(root + "/users", (kUser + ':' + kPassword + '\n').toUtf8());
    writeFile(root + "/rights",
              "[forbidden]\nuser: .+\ncollection: " + QRegularExpression::escape(kForbidden).toUtf8() +
                  "(/.*)?\npermissions:\n\n[everything]\nuser: .+\ncollection: .*\npermissions: RrWw\n");
    for (int attempt = 0; attempt < 3 && !isRunning(); ++attempt)
        start();
}

DavServer::~DavServer()
{
    if (m_process) {
        m_process->terminate();
        if (!m_process->waitForFinished(3000)) {
            m_process->kill();
            m_process->waitForFinished(3000);
        }
    }
}

DavServer& DavServer::shared()
{
    if (!sharedServer) {
        if (!sharedXandikos)
            qAddPostRoutine(stopSharedServers);
        sharedServer = new DavServer;
    }
    return *sharedServer;
}

DavServer& DavServer::xandikos()
{
    if (!sharedXandikos) {
        if (!sharedServer)
            qAddPostRoutine(stopSharedServers);
        sharedXandikos = new DavServer(QString(), Kind::Xandikos);
    }
    return *sharedXandikos;
}

QString DavServer::calendarOf(const QString& owner) const
{
    return "/" + owner + (m_kind == Kind::Xandikos ? "/calendars/calendar/" : "/calendar/");
}

bool DavServer::start()
{
    m_port = freePort();
    const QString root = m_dir.path();
    writeFile(root + "/config", QStringLiteral("[server]\nhosts = 127.0.0.1:%1\n"
                                               "[auth]\ntype = htpasswd\nhtpasswd_filename = %2/users\n"
                                               "htpasswd_encryption = plain\ndelay = 0\n"
                                               "[rights]\ntype = from_file\nfile = %2/rights\n"
                                               "[storage]\nfilesystem_folder = %3\n"
                                               "[web]\ntype = none\n"
                                               "[logging]\nlevel = warning\n")
                                    .arg(m_port)
                                    .arg(root, m_storageFolder)
                                    .toUtf8());
    m_process = std::make_unique<QProcess>();
    m_process->setProcessChannelMode(QProcess::MergedChannels);
    // Killed with the test program, however it ends.
    m_process->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    const QString program = qEnvironmentVariable("ROTAVINE_RADICALE");
    if (m_kind == Kind::Xandikos)
        m_process->start("xandikos", {"-d", m_storageFolder, "--defaults", "--current-user-principal",
                                      "/" + kUser + "/", "-l", "127.0.0.1", "-p", QString::number(m_port)});
    else if (!program.isEmpty())
        m_process->start(program, {"--config", root + "/config"});
    else if (const QString radicale = QStandardPaths::findExecutable("radicale"); !radicale.isEmpty())
        m_process->start(radicale, {"--config", root + "/config"});
    else
        m_process->start("/usr/bin/python3", {"-m", "radicale", "--config", root + "/config"});

    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 20000) {
        if (m_process->state() == QProcess::NotRunning)
            break;
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, quint16(m_port));
        if (probe.waitForConnected(200)) {
            m_error.clear();
            return true;
        }
        m_process->waitForFinished(100);
    }
    m_error = QStringLiteral("%1 did not start on port %2: %3")
                  .arg(m_kind == Kind::Xandikos ? "Xandikos" : "Radicale")
                  .arg(m_port)
                  .arg(QString::fromLocal8Bit(m_process->readAll()));
    m_process->kill();
    m_process->waitForFinished(3000);
    m_process.reset();
    return false;
}

bool DavServer::isRunning() const
{
    return m_process && m_process->state() == QProcess::Running;
}

QUrl DavServer::url(const QString& path) const
{
    QUrl url;
    url.setScheme("http");
    url.setHost("127.0.0.1");
    url.setPort(m_port);
    url.setPath(path);
    return url;
}

QString DavServer::storage() const
{
    return m_storageFolder + "/collection-root";
}

void DavServer::reset()
{
    QDir root(storage());
    for (const QString& name : root.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden))
        QDir(root.filePath(name)).removeRecursively();
}

DavServer::Reply DavServer::request(const QByteArray& method, const QString& path, const QByteArray& body,
                                    const QByteArray& contentType,
                                    const QList<std::pair<QByteArray, QByteArray>>& headers,
                                    const QString& user, const QString& password)
{
    QNetworkAccessManager network;
    QNetworkRequest http(url(path));
    http.setRawHeader("Authorization", "Basic " + (user + ':' + password).toUtf8().toBase64());
    if (!contentType.isEmpty())
        http.setHeader(QNetworkRequest::ContentTypeHeader, contentType);
    for (const auto& [name, value] : headers)
        http.setRawHeader(name, value);
    http.setTransferTimeout(30000);
    QNetworkReply* reply = network.sendCustomRequest(http, method, body);
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
    Reply result;
    result.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    result.body = reply->readAll();
    result.etag = reply->rawHeader("ETag");
    delete reply;
    return result;
}

bool DavServer::put(const QString& path, const QByteArray& bytes)
{
    const QByteArray type =
        path.endsWith(".vcf") ? "text/vcard; charset=utf-8" : "text/calendar; charset=utf-8";
    const int status = request("PUT", path, bytes, type).status;
    return status == 201 || status == 204;
}

// A collection that is already there counts as made: uploading a mailbox again refreshes its items.
static bool created(int status)
{
    return status == 201 || status == 405 || status == 409;
}

bool DavServer::makeCalendar(const QString& path)
{
    for (int depth = 1; depth < path.count('/') - 1; ++depth)
        request("MKCOL", path.section('/', 0, depth) + '/');
    return created(request("MKCALENDAR", path).status);
}

bool DavServer::makeAddressBook(const QString& path, const QString& displayName)
{
    const QByteArray body =
        "<?xml version=\"1.0\" encoding=\"utf-8\"?>"
        "<d:mkcol xmlns:d=\"DAV:\" xmlns:card=\"urn:ietf:params:xml:ns:carddav\">"
        "<d:set><d:prop><d:resourcetype><d:collection/><card:addressbook/></d:resourcetype>"
        "<d:displayname>" +
        displayName.toHtmlEscaped().toUtf8() + "</d:displayname></d:prop></d:set></d:mkcol>";
    return created(request("MKCOL", path, body, "application/xml").status);
}

void DavServer::makeCalendarOnDisk(const QString& path)
{
    const QString directory = storage() + path;
    QDir().mkpath(directory);
    writeFile(directory + "/.Radicale.props", "{\"tag\": \"VCALENDAR\"}");
}

QString DavServer::uploadMailbox(const QString& root)
{
    // Makes sure the user's principal exists before anything goes into it.
    request("PROPFIND", "/" + kUser + "/", {}, {}, {{"Depth", "0"}});
    QString failures;
    const auto upload = [&](const QString& directory, const QString& collection) {
        const QStringList files = QDir(directory).entryList(QDir::Files, QDir::Name);
        for (const QString& name : files) {
            if (name.startsWith('.'))
                continue;
            QFile file(directory + '/' + name);
            if (!file.open(QIODevice::ReadOnly) || !put(collection + name, file.readAll()))
                failures += "PUT " + collection + name + "; ";
        }
    };
    const QString contacts = root + "/contacts";
    const QString books = "/" + kUser + (m_kind == Kind::Xandikos ? "/contacts/" : "/");
    const QString book = books + (m_kind == Kind::Xandikos ? "addressbook/" : "contacts/");
    if (QFileInfo(contacts).isDir()) {
        if (!makeAddressBook(book, "Contacts"))
            failures += "address book contacts; ";
        upload(contacts, book);
        for (const QString& name : QDir(contacts).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            if (name.compare("Rotavine", Qt::CaseInsensitive) != 0)
                continue;
            if (!makeAddressBook(books + name + "/", name))
                failures += "address book " + name + "; ";
            upload(contacts + '/' + name, books + name + "/");
        }
    }
    const QString calendars = root + "/calendars";
    for (const QString& owner : QDir(calendars).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
        const QString collection = calendarOf(owner);
        if (!makeCalendar(collection)) {
            failures += "calendar " + collection + "; ";
            continue;
        }
        upload(calendars + '/' + owner, collection);
    }
    return failures;
}
