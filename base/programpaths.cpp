#include "base/programpaths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

// Where the data folder lies from the program's folder once installed; the build knows its install layout.
#ifndef ROTAVINE_INSTALLED_DATA
#define ROTAVINE_INSTALLED_DATA "../share/rotavine"
#endif

namespace ProgramPaths {

QString dataFolder()
{
    const QString overridden = qEnvironmentVariable("ROTAVINE_DATA_DIR");
    if (!overridden.isEmpty())
        return QDir::cleanPath(overridden);
    // Found from the program's own place, never from a path of the build: a package or a copied prefix
    // must work wherever it lands.
    const QString programFolder = QCoreApplication::applicationDirPath();
    const QString beside = programFolder + QStringLiteral("/data");
    if (QFileInfo(beside + QStringLiteral("/Language")).isDir())
        return beside;
    return QDir::cleanPath(programFolder + u'/' + QString::fromLatin1(ROTAVINE_INSTALLED_DATA));
}

QString languageFolder()
{
    return dataFolder() + QStringLiteral("/Language");
}

} // namespace ProgramPaths
