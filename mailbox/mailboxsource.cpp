#include "mailbox/mailboxsource.h"

#include "base/settingsstore.h"
#include "mailbox/dav/davmailbox.h"
#include "mailbox/foldermailbox.h"
#include "mailbox/mailboxerror.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

namespace {

const auto kSection = QStringLiteral("Source");

} // namespace

QString copyFolderTree(const QString& source, const QString& target)
{
    if (!QFileInfo(source).isDir())
        return QStringLiteral("%1 is not a folder").arg(source);
    const QFileInfo targetInfo(target);
    if (!QDir().mkpath(targetInfo.absolutePath()))
        return QStringLiteral("cannot create %1").arg(targetInfo.absolutePath());
    QTemporaryDir staging(targetInfo.absolutePath() + QStringLiteral("/.copy-XXXXXX"));
    if (!staging.isValid())
        return QStringLiteral("cannot write in %1").arg(targetInfo.absolutePath());

    QDirIterator it(source, QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden,
                    QDirIterator::Subdirectories);
    const QDir from(source);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString copy = staging.path() + u'/' + from.relativeFilePath(path);
        if (it.fileInfo().isSymLink())
            continue; // a mailbox holds plain files; links are not followed out of it
        if (it.fileInfo().isDir()) {
            if (!QDir().mkpath(copy))
                return QStringLiteral("cannot create %1").arg(copy);
        }
        else if (!QDir().mkpath(QFileInfo(copy).absolutePath()) || !QFile::copy(path, copy)) {
            return QStringLiteral("cannot copy %1").arg(path);
        }
    }
    if (!QDir().rename(staging.path(), target))
        return QStringLiteral("cannot move the copy to %1").arg(target);
    staging.setAutoRemove(false);
    return QString();
}

QString MailboxSource::where() const
{
    return kind == Dav ? url.toDisplayString() : QDir::toNativeSeparators(path);
}

namespace {

// A server source from its address and the settings; `error` is set when the address is no server address.
MailboxSource serverSource(MailboxSource source, const SettingsStore& settings, const QString& address,
                           const QString& user)
{
    source.kind = MailboxSource::Dav;
    source.user = user;
    source.passwordCommand = settings.read(kSection, QStringLiteral("PasswordCommand"), QString()).trimmed();
    source.insecureTls = settings.readInt(kSection, QStringLiteral("InsecureTls"), 0, 0, 1) == 1;
    source.timeoutSeconds = settings.readInt(kSection, QStringLiteral("TimeoutSeconds"), 30, 1, 3600);
    const QUrl url = QUrl::fromUserInput(address);
    // A user in the address goes to the user name; a password there is never used. An address that is no
    // server's is kept too, so that the failure names it.
    source.url = url.adjusted(QUrl::RemoveUserInfo);
    if (!url.isValid() || url.host().isEmpty() ||
        (url.scheme() != QLatin1StringView("http") && url.scheme() != QLatin1StringView("https"))) {
        source.error = QStringLiteral("\"%1\" is not the address of a calendar server").arg(address);
        return source;
    }
    if (source.user.isEmpty())
        source.user = url.userName();
    return source;
}

} // namespace

MailboxSource chooseMailboxSource(const SettingsStore& settings, const SourceOverrides& overrides,
                                  const QString& shippedDemo, const QString& userDataFolder)
{
    MailboxSource source;
    source.ownerName = settings.read(kSection, QStringLiteral("OwnerName"), QString());
    source.ownerAddress = settings.read(kSection, QStringLiteral("OwnerAddress"), QString());

    const QString commandLinePath = overrides.mailboxPath.trimmed();
    const QString configuredUrl = settings.read(kSection, QStringLiteral("CalDavUrl"), QString()).trimmed();
    const QString configuredUser = settings.read(kSection, QStringLiteral("CalDavUser"), QString()).trimmed();
    const QString user =
        !overrides.davUser.trimmed().isEmpty() ? overrides.davUser.trimmed() : configuredUser;
    // The command line wins over the settings; in the settings a server wins over a folder.
    if (!overrides.davUrl.trimmed().isEmpty())
        return serverSource(source, settings, overrides.davUrl.trimmed(), user);
    if (commandLinePath.isEmpty() && !configuredUrl.isEmpty())
        return serverSource(source, settings, configuredUrl, user);

    const QString configured = settings.read(kSection, QStringLiteral("Path"), QString()).trimmed();
    const QString chosen = !commandLinePath.isEmpty() ? commandLinePath : configured;
    if (!chosen.isEmpty()) {
        source.path = QDir(chosen).absolutePath();
        // A folder that is not there keeps its name, so that the failure can say which one.
        if (!QFileInfo(source.path).isDir())
            source.error = QStringLiteral("the mailbox folder %1 does not exist").arg(source.path);
        return source;
    }

    source.kind = MailboxSource::Demo;
    const QString demo = userDataFolder + QStringLiteral("/demo-mailbox");
    source.path = demo;
    if (!QFileInfo(demo).isDir()) {
        const QString error = copyFolderTree(shippedDemo, demo);
        if (!error.isEmpty()) {
            source.error = QStringLiteral("the demo mailbox could not be prepared: %1").arg(error);
            return source;
        }
        source.firstUse = true;
    }
    return source;
}

QString sourcePassword(const MailboxSource& source, const QProcessEnvironment& environment,
                       int commandTimeoutMs)
{
    if (!source.sessionPassword.isEmpty())
        return source.sessionPassword;
    if (environment.contains(QStringLiteral("ROTAVINE_PASSWORD")))
        return environment.value(QStringLiteral("ROTAVINE_PASSWORD"));
    if (source.passwordCommand.isEmpty()) {
        if (source.user.isEmpty())
            return QString();
        throw MailboxError(
            MailboxError::AccessDenied,
            QStringLiteral("No password for %1: set the environment variable ROTAVINE_PASSWORD, or "
                           "PasswordCommand in section Source of the settings")
                .arg(source.user));
    }
    const auto failed = [&](const QString& reason) {
        return MailboxError(
            MailboxError::AccessDenied,
            QStringLiteral("The password command \"%1\" failed: %2").arg(source.passwordCommand, reason));
    };
    QProcess command;
    command.setProcessEnvironment(environment);
    command.setProcessChannelMode(QProcess::SeparateChannels);
    command.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), source.passwordCommand});
    if (!command.waitForStarted(commandTimeoutMs))
        throw failed(command.errorString());
    command.closeWriteChannel();
    if (!command.waitForFinished(commandTimeoutMs)) {
        command.kill();
        command.waitForFinished(1000);
        throw failed(QStringLiteral("no answer within %1 s").arg(commandTimeoutMs / 1000));
    }
    if (command.exitStatus() != QProcess::NormalExit)
        throw failed(QStringLiteral("it crashed"));
    if (command.exitCode() != 0) {
        const QString detail =
            QString::fromLocal8Bit(command.readAllStandardError()).trimmed().section(u'\n', 0, 0);
        throw failed(QStringLiteral("exit status %1%2")
                         .arg(command.exitCode())
                         .arg(detail.isEmpty() ? QString() : QStringLiteral(": ") + detail));
    }
    QByteArray output = command.readAllStandardOutput();
    if (output.endsWith('\n'))
        output.chop(1);
    if (output.endsWith('\r'))
        output.chop(1);
    if (output.isEmpty())
        throw failed(QStringLiteral("it printed nothing"));
    return QString::fromUtf8(output);
}

std::unique_ptr<Mailbox> openMailbox(const MailboxSource& source)
{
    if (!source.error.isEmpty())
        throw MailboxError(MailboxError::NotFound, source.error);
    if (source.kind == MailboxSource::Dav) {
        DavMailbox::Options options;
        options.server = source.url;
        options.user = source.user;
        options.password = sourcePassword(source);
        options.insecureTls = source.insecureTls;
        options.timeoutSeconds = source.timeoutSeconds;
        options.ownerName = source.ownerName;
        options.ownerAddress = source.ownerAddress;
        return std::make_unique<DavMailbox>(options);
    }
    FolderMailbox::Options options;
    options.root = source.path;
    options.ownerName = source.ownerName;
    options.ownerAddress = source.ownerAddress;
    return std::make_unique<FolderMailbox>(options);
}
