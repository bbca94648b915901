#pragma once

#include <QString>

// Where the program finds the files it ships (language files, HTML templates, the demo mailbox).
namespace ProgramPaths {

// ROTAVINE_DATA_DIR when set; else "data" beside the program when it holds the language files (the build
// tree), else the installed share/rotavine folder found from the program's folder (../share/rotavine).
QString dataFolder();
QString languageFolder();

} // namespace ProgramPaths
