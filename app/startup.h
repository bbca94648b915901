#pragma once

#include <QProcessEnvironment>
#include <QString>

#include <array>

class SettingsStore;
struct EngineState;
struct ProgramState;

namespace Startup {

struct TempFolderResult {
    QString folder; // ends in "/"; empty when no usable folder was found
    QString error;  // why, when folder is empty
};

// The folder for temporary files: "temp" (or "TEMP"), else "tmp" (or "TMP") when that is shorter than two
// characters, then TMPDIR, then the platform's temporary folder. Reports and pictures are written there and
// then opened by other programs, so the files live in a private subfolder of it, created with mode 0700; a
// subfolder that is a link, or someone else's, is refused.
TempFolderResult findTempFolder(const QProcessEnvironment& environment, const QString& platformTempFolder);

// Six characters exactly: a longer stored text is cut, a shorter one padded with spaces.
QString fitToSix(const QString& text);

constexpr int kDisplayFlagCount = 6;

// Reads what the main window's load step takes from the settings into the program-wide and engine state, and
// returns the stored values of the six display check boxes. A value that does not convert to its type, or
// does not fit it, gives the default.
std::array<bool, kDisplayFlagCount> readWindowSettings(const SettingsStore& settings, ProgramState& program,
                                                       EngineState& engine);

} // namespace Startup
