#include "app/mailboxsource.h"

#include "app/settingsstore.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
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

MailboxSource chooseMailboxSource(const SettingsStore& settings, const QString& commandLinePath,
                                  const QString& shippedDemo, const QString& userDataFolder)
{
    MailboxSource source;
    source.ownerName = settings.read(kSection, QStringLiteral("OwnerName"), QString());
    source.ownerAddress = settings.read(kSection, QStringLiteral("OwnerAddress"), QString());

    const QString configured = settings.read(kSection, QStringLiteral("Path"), QString()).trimmed();
    const QString chosen = !commandLinePath.trimmed().isEmpty() ? commandLinePath.trimmed() : configured;
    if (!chosen.isEmpty()) {
        source.path = QDir(chosen).absolutePath();
        if (!QFileInfo(source.path).isDir()) {
            source.error = QStringLiteral("the mailbox folder %1 does not exist").arg(source.path);
            source.path.clear();
        }
        return source;
    }

    source.kind = MailboxSource::Demo;
    const QString demo = userDataFolder + QStringLiteral("/demo-mailbox");
    if (!QFileInfo(demo).isDir()) {
        const QString error = copyFolderTree(shippedDemo, demo);
        if (!error.isEmpty()) {
            source.error = QStringLiteral("the demo mailbox could not be prepared: %1").arg(error);
            return source;
        }
    }
    source.path = demo;
    return source;
}
