#pragma once

#include "base/exitstatus.h"

class LanguageTexts;
class MainWindow;
struct CommandLine;
struct ProgramState;

// An unattended run: in the loaded, hidden main window, selects the command line's team and period, runs its
// view, writes its report and delivers it to the output. It never waits for a person: every message goes to
// standard error, and the status says how the run ended. The report keyword, the view and the team are
// checked before the view runs, which may take a while, so that a scheduler hears of a wrong or empty team
// rather than receiving an empty page.
ExitStatus runUnattended(MainWindow& window, const CommandLine& command, const ProgramState& program,
                         const LanguageTexts& texts);
