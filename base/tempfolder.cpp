#include "base/tempfolder.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace TempFolder {

namespace {

QString firstSet(const QProcessEnvironment& environment, std::initializer_list<const char*> names)
{
    for (const char* name : names) {
        const QString value = environment.value(QLatin1StringView(name));
        if (!value.isEmpty())
            return value;
    }
    return QString();
}

QString withSeparator(QString folder)
{
    return folder.endsWith(u'/') ? folder : folder + u'/';
}

// Makes `path` a private folder of ours, or says why it cannot be one.
QString makePrivateFolder(const QString& path)
{
    const QByteArray native = QFile::encodeName(path);
    if (::mkdir(native.constData(), 0700) != 0 && errno != EEXIST)
        return QStringLiteral("cannot create %1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
    struct stat info {};
    if (::lstat(native.constData(), &info) != 0)
        return QStringLiteral("cannot examine %1: %2")
            .arg(path, QString::fromLocal8Bit(std::strerror(errno)));
    if (S_ISLNK(info.st_mode))
        return QStringLiteral("%1 is a link; refusing to use it").arg(path);
    if (!S_ISDIR(info.st_mode))
        return QStringLiteral("%1 exists and is not a folder").arg(path);
    if (info.st_uid != ::geteuid())
        return QStringLiteral("%1 belongs to another user; refusing to use it").arg(path);
    if ((info.st_mode & 0077) != 0 && ::chmod(native.constData(), 0700) != 0)
        return QStringLiteral("cannot make %1 private: %2")
            .arg(path, QString::fromLocal8Bit(std::strerror(errno)));
    return QString();
}

} // namespace

Result find(const QProcessEnvironment& environment, const QString& platformTempFolder)
{
    QString base = firstSet(environment, {"temp", "TEMP"});
    if (base.size() < 2)
        base = firstSet(environment, {"tmp", "TMP"});
    if (base.size() < 2)
        base = environment.value(QStringLiteral("TMPDIR"));
    if (base.size() < 2)
        base = platformTempFolder;
    if (base.size() < 2)
        return {QString(), QStringLiteral("no folder for temporary files is set (temp, tmp, TMPDIR)")};

    const QString folder = withSeparator(base) + QStringLiteral("rotavine-%1").arg(::geteuid());
    const QString error = makePrivateFolder(folder);
    if (!error.isEmpty())
        return {QString(), error};
    return {withSeparator(folder), QString()};
}

} // namespace TempFolder
