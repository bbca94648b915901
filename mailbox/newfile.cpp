#include "mailbox/newfile.h"

#include <QFile>
#include <QTemporaryFile>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

QString writeNewFile(const QString& directory, const QString& fileName, const QByteArray& bytes)
{
    QTemporaryFile temporary(directory + QStringLiteral("/.rotavine-XXXXXX"));
    if (!temporary.open())
        return QStringLiteral("cannot write in %1: %2").arg(directory, temporary.errorString());
    if (temporary.write(bytes) != bytes.size() || !temporary.flush() || ::fsync(temporary.handle()) != 0)
        return QStringLiteral("cannot write in %1: %2").arg(directory, temporary.errorString());
    temporary.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup);

    const QByteArray from = QFile::encodeName(temporary.fileName());
    const QByteArray to = QFile::encodeName(directory + u'/' + fileName);
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) != 0) {
        const QString reason = errno == EEXIST ? QStringLiteral("a file of that name exists already")
                                               : QString::fromLocal8Bit(std::strerror(errno));
        return QStringLiteral("cannot create %1/%2: %3").arg(directory, fileName, reason);
    }
    temporary.setAutoRemove(false);
    return QString();
}
