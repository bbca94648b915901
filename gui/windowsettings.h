#pragma once

#include "planning/enginestate.h"

#include <array>

class SettingsStore;
struct ProgramState;

// Reads what the main window's load step takes from the settings into the program-wide and engine state, and
// returns the stored values of the six display check boxes. A value that does not convert to its type, or
// does not fit it, gives the default.
std::array<bool, kDisplayFlagCount> loadWindowSettings(const SettingsStore& settings, ProgramState& program,
                                                       EngineState& engine);
