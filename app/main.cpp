#include "app/languagetexts.h"
#include "app/programpaths.h"
#include "app/programstate.h"
#include "app/screentextid.h"
#include "app/settingsstore.h"
#include "app/startup.h"

#include <QApplication>
#include <QMessageBox>
#include <QStandardPaths>

#include <cstdio>

int main(int argc, char* argv[])
{
    // Without a display (a scheduler, a server) the program still runs, on Qt's offscreen platform.
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
        qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Rotavine"));
    QApplication::setApplicationVersion(QStringLiteral(ROTAVINE_VERSION));

    SettingsStore settings;
    const LanguageTexts texts =
        LanguageTexts::load(ProgramPaths::languageFolder(), LanguageTexts::languageName(settings));
    for (const QString& warning : texts.warnings())
        std::fprintf(stderr, "rotavine: %s\n", qPrintable(warning));

    ProgramState program;
    const Startup::TempFolderResult temp =
        Startup::findTempFolder(QProcessEnvironment::systemEnvironment(),
                                QStandardPaths::writableLocation(QStandardPaths::TempLocation));
    if (temp.folder.isEmpty()) {
        std::fprintf(stderr, "rotavine: %s\n", qPrintable(temp.error));
        QApplication::beep();
        QMessageBox::warning(nullptr, QStringLiteral("Rotavine"), texts.message(Message::NoTempFolder));
        return 1;
    }
    program.TempFolder = temp.folder;
    std::printf("Rotavine %s\nsettings: %s\ntemporary folder: %s\n", ROTAVINE_VERSION,
                qPrintable(settings.filePath()), qPrintable(program.TempFolder));
    return 0;
}
