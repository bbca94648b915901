#pragma once

#include <QIcon>
#include <QString>

// The program's identity on the desktop: the name of its desktop entry, icon and AppStream file.
QString applicationId();

// The icon theme's icon of that name when the desktop has one, else the built-in one (the same drawing).
QIcon appIcon();
