#include "base/programpaths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace ProgramPaths {

QString dataFolder()
{
    const QString overridden = qEnvironmentVariable("ROTAVINE_DATA_DIR");
    if (!overridden.isEmpty())
        return QDir::cleanPath(overridden);
    const QString programFolder = QCoreApplication::applicationDirPath();
    const QString beside = programFolder + QStringLiteral("/data");
    if (QFileInfo(beside).isDir())
        return beside;
    return QDir::cleanPath(programFolder + QStringLiteral("/../share/rotavine"));
}

QString languageFolder()
{
    return dataFolder() + QStringLiteral("/Language");
}

} // namespace ProgramPaths
