#pragma once

#include <QDate>
#include <QString>

#include <cstdint>

// State shared by the whole program from start to exit, belonging to no window.
struct ProgramState {
    QString TempFolder; // always ends in "/"
    bool AutomaticMode = false;
    bool Activated = false;
    bool GroupsChanged = true;
    bool FiltersChanged = true;

    std::uint8_t HeightCol = 60;
    std::uint8_t AtRunAction = 0;
    std::uint8_t StartDayHour = 8;
    std::uint8_t EndDayHour = 17;
    std::int16_t AutomaticDelay = 0;

    // Values from the command line; empty (dates: null) until the command line sets them.
    QDate CmdFromDate;
    QDate CmdToDate;
    QString CmdTeam;
    QString CmdView;
    QString CmdReport;
    QString CmdOutputFolder;
    QString CmdOutputFile;
};
