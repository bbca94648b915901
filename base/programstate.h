#pragma once

#include <QString>

#include <cstdint>

// State shared by the whole program from start to exit, belonging to no window.
struct ProgramState {
    QString tempFolder; // always ends in "/"
    bool automaticMode = false;
    bool activated = false;
    bool teamsChanged = true;
    bool filtersChanged = true;

    std::uint8_t reportColumnWidth = 60;
    std::uint8_t startAction = 0;
    std::uint8_t dayStartHour = 8;
    std::uint8_t dayEndHour = 17;
    std::int16_t refreshDelay = 0;
};
