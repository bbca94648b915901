#include "gui/appicon.h"

#include <QSize>

QString applicationId()
{
    return QStringLiteral("org.rotavine.Rotavine");
}

QIcon appIcon()
{
    // Rendered sizes rather than the SVG: Qt draws an SVG icon only with its SVG plugin, which a desktop
    // may lack.
    QIcon builtIn;
    for (const int size : {16, 32, 48, 64, 128, 256})
        builtIn.addFile(QStringLiteral(":/icons/%1-%2.png").arg(applicationId()).arg(size),
                        QSize(size, size));
    return QIcon::fromTheme(applicationId(), builtIn);
}
