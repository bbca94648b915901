#include "gui/windowsettings.h"

#include "base/programstate.h"
#include "base/settingsstore.h"
#include "planning/planningmatrix.h"

std::array<bool, kDisplayFlagCount> loadWindowSettings(const SettingsStore& settings, ProgramState& program,
                                                       EngineState& engine)
{
    const QString section = QStringLiteral("Parameters");
    auto byte = [&](const char* key, int defaultValue) {
        return std::uint8_t(settings.readInt(section, QLatin1StringView(key), defaultValue, 0, 255));
    };

    engine.defaultColour = settings.readDouble(section, QStringLiteral("DefaultColor"), 50372);
    engine.defaultColourHtml =
        fitHtmlColour(settings.read(section, QStringLiteral("DefaultColorHTML"), QStringLiteral("C4C400")));
    program.reportColumnWidth = byte("HeightCol", 60);

    std::array<bool, kDisplayFlagCount> checked{};
    for (int i = 0; i < kDisplayFlagCount; ++i)
        checked[i] = settings.readInt(section, QStringLiteral("Checked%1").arg(i), 0) != 0;

    program.startAction = byte("AtRunAction", 0);
    program.dayStartHour = byte("StartDayHour", 8);
    program.dayEndHour = byte("EndDayHour", 17);
    program.refreshDelay =
        std::int16_t(settings.readInt(section, QStringLiteral("Automaticdelay"), 0, INT16_MIN, INT16_MAX));
    return checked;
}
