#include "app/languagetexts.h"
#include "app/mailbox/mailbox.h"
#include "app/mailbox/mailboxerror.h"
#include "app/mailboxsource.h"
#include "app/programpaths.h"
#include "app/programstate.h"
#include "app/screentextid.h"
#include "app/settingsstore.h"
#include "app/startup.h"
#include "mainwindow/form1.h"
#include "planning/enginestate.h"
#include "planning/planningmatrix.h"

#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QStandardPaths>

#include <cstdio>
#include <memory>

namespace {

// "--mailbox PATH", "--caldav URL" and "--user NAME" name the source to open; the rest of the command line is
// read elsewhere.
QString optionValue(const QStringList& arguments, const QString& option)
{
    const qsizetype at = arguments.indexOf(option);
    return at > 0 && at + 1 < arguments.size() ? arguments.at(at + 1) : QString();
}

} // namespace

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

    SourceOverrides overrides;
    overrides.mailboxPath = optionValue(application.arguments(), QStringLiteral("--mailbox"));
    overrides.davUrl = optionValue(application.arguments(), QStringLiteral("--caldav"));
    overrides.davUser = optionValue(application.arguments(), QStringLiteral("--user"));
    const MailboxSource source =
        chooseMailboxSource(settings, overrides, ProgramPaths::dataFolder() + QStringLiteral("/demo-mailbox"),
                            QStandardPaths::writableLocation(QStandardPaths::AppDataLocation));
    std::unique_ptr<Mailbox> mailbox;
    QString failure;
    try {
        mailbox = openMailbox(source);
    }
    catch (const MailboxError& error) {
        failure = error.description();
    }
    if (!mailbox) {
        const QString text = QStringLiteral("Failed to open the mailbox \"%1\": <<%2>>. Exiting...")
                                 .arg(source.where(), failure);
        std::fprintf(stderr, "rotavine: %s\n", qPrintable(text));
        QMessageBox::warning(nullptr, QStringLiteral("Rotavine"), text);
        return 1;
    }

    EngineState engine;
    PlanningMatrix matrix;
    Form1 window(program, engine, matrix, settings, texts, *mailbox);
    window.show();
    if (source.kind == MailboxSource::Demo)
        window.setStatusText(1,
                             texts.message(Message::DemoDataShown) + QDir::toNativeSeparators(source.path));
    return QApplication::exec();
}
