#include "app/startup.h"

#include "app/programstate.h"
#include "app/settingsstore.h"
#include "planning/enginestate.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace Startup {

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

TempFolderResult findTempFolder(const QProcessEnvironment& environment, const QString& platformTempFolder)
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

QString fitToSix(const QString& text)
{
    return text.left(6).leftJustified(6, u' ');
}

std::array<bool, kDisplayFlagCount> readWindowSettings(const SettingsStore& settings, ProgramState& program,
                                                       EngineState& engine)
{
    const QString section = QStringLiteral("Parameters");
    auto byte = [&](const char* key, int defaultValue) {
        return std::uint8_t(settings.readInt(section, QLatin1StringView(key), defaultValue, 0, 255));
    };

    engine.DefaultColor = settings.readDouble(section, QStringLiteral("DefaultColor"), 50372);
    engine.DefaultColorHTML =
        fitToSix(settings.read(section, QStringLiteral("DefaultColorHTML"), QStringLiteral("C4C400")));
    program.HeightCol = byte("HeightCol", 60);

    std::array<bool, kDisplayFlagCount> checked{};
    for (int i = 0; i < kDisplayFlagCount; ++i)
        checked[i] = settings.readInt(section, QStringLiteral("Checked%1").arg(i), 0) != 0;

    program.AtRunAction = byte("AtRunAction", 0);
    program.StartDayHour = byte("StartDayHour", 8);
    program.EndDayHour = byte("EndDayHour", 17);
    program.AutomaticDelay =
        std::int16_t(settings.readInt(section, QStringLiteral("Automaticdelay"), 0, INT16_MIN, INT16_MAX));
    return checked;
}

} // namespace Startup
