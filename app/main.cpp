#include "app/commandline.h"
#include "app/demosettings.h"
#include "app/unattendedrun.h"
#include "base/exitstatus.h"
#include "base/languagetexts.h"
#include "base/localtimezone.h"
#include "base/programlanguage.h"
#include "base/programpaths.h"
#include "base/programstate.h"
#include "base/settingsstore.h"
#include "base/tempfolder.h"
#include "base/textids.h"
#include "gui/appicon.h"
#include "gui/mainwindow.h"
#include "mailbox/mailbox.h"
#include "mailbox/mailboxerror.h"
#include "mailbox/mailboxsource.h"
#include "planning/enginestate.h"
#include "planning/planningmatrix.h"

#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QStandardPaths>

#include <cstdio>
#include <memory>

namespace {

void printError(const QString& text)
{
    std::fprintf(stderr, "rotavine: %s\n", qPrintable(text));
}

} // namespace

int main(int argc, char* argv[])
{
    LocalTimeZone::pinSystemZone();
    QStringList arguments;
    for (int index = 1; index < argc; ++index)
        arguments.append(QString::fromLocal8Bit(argv[index]));
    const CommandLine commandLine = CommandLineParser::parse(arguments);
    switch (commandLine.action) {
    case CommandLine::Action::Help:
        std::fputs(qPrintable(CommandLineParser::usageText()), stdout);
        return exitCode(ExitStatus::Delivered);
    case CommandLine::Action::Version:
        std::printf("rotavine %s\n", ROTAVINE_VERSION);
        return exitCode(ExitStatus::Delivered);
    case CommandLine::Action::Error:
        printError(commandLine.error);
        std::fputs("Try 'rotavine --help'.\n", stderr);
        return exitCode(ExitStatus::UsageError);
    case CommandLine::Action::Run:
        break;
    }

    // An unattended run never shows its window: it runs on Qt's offscreen platform, so that a vanished
    // display cannot stop a nightly run. A window nobody can see would wait for a person for ever.
    const bool noDisplay =
        qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    if (!commandLine.automatic && noDisplay && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        printError(QStringLiteral("there is no display to show the window on (DISPLAY is not set); give a "
                                  "report to run unattended"));
        std::fputs("Try 'rotavine --help'.\n", stderr);
        return exitCode(ExitStatus::StartFailed);
    }
    if (commandLine.automatic && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Rotavine"));
    QApplication::setApplicationVersion(QStringLiteral(ROTAVINE_VERSION));
    QApplication::setWindowIcon(appIcon());
    // Wayland matches the window to its desktop entry, and so to its icon, by this name.
    QGuiApplication::setDesktopFileName(applicationId());

    ProgramState program;
    program.automaticMode = commandLine.automatic;
    const bool unattended = program.automaticMode;

    SettingsStore settings =
        commandLine.configPath.isEmpty() ? SettingsStore() : SettingsStore(commandLine.configPath);
    if (const QString problem = settings.fileProblem(); !problem.isEmpty()) {
        printError(problem);
        return exitCode(ExitStatus::StartFailed);
    }
    const QString language = LanguageTexts::languageName(settings);
    ProgramLanguage::apply(language);
    const LanguageTexts texts = LanguageTexts::load(ProgramPaths::languageFolder(), language);
    for (const QString& warning : texts.warnings())
        std::fprintf(stderr, "rotavine: %s\n", qPrintable(warning));

    const TempFolder::Result temp =
        TempFolder::find(QProcessEnvironment::systemEnvironment(),
                         QStandardPaths::writableLocation(QStandardPaths::TempLocation));
    if (temp.folder.isEmpty()) {
        printError(temp.error);
        if (!unattended) {
            QApplication::beep();
            QMessageBox::warning(nullptr, QStringLiteral("Rotavine"), texts.message(Message::NoTempFolder));
        }
        return exitCode(ExitStatus::StartFailed);
    }
    program.tempFolder = temp.folder;

    SourceOverrides overrides;
    overrides.mailboxPath = commandLine.mailboxPath;
    overrides.davUrl = commandLine.davUrl;
    overrides.davUser = commandLine.davUser;
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
        printError(text);
        if (!unattended)
            QMessageBox::warning(nullptr, QStringLiteral("Rotavine"), text);
        return exitCode(ExitStatus::MailboxNotOpened);
    }

    if (source.kind == MailboxSource::Demo && source.firstUse)
        writeDemoSettings(settings, texts, *mailbox);

    EngineState engine;
    PlanningMatrix matrix;
    MainWindow window(program, engine, matrix, settings, texts, *mailbox);
    // The options may name another source: it is opened as the settings name it then.
    window.setMailboxOpener([&settings](QString* error) -> std::unique_ptr<Mailbox> {
        const MailboxSource changed =
            chooseMailboxSource(settings, {}, ProgramPaths::dataFolder() + QStringLiteral("/demo-mailbox"),
                                QStandardPaths::writableLocation(QStandardPaths::AppDataLocation));
        try {
            return openMailbox(changed);
        }
        catch (const MailboxError& failure) {
            *error = QStringLiteral("Failed to open the mailbox \"%1\": <<%2>>.")
                         .arg(changed.where(), failure.description());
            return nullptr;
        }
    });
    if (unattended) {
        // The window stays hidden: the run takes the steps of its first activation itself.
        return exitCode(runUnattended(window, commandLine, program, texts));
    }
    window.show();
    if (source.kind == MailboxSource::Demo)
        window.setStatusText(1,
                             texts.message(Message::DemoDataShown) + QDir::toNativeSeparators(source.path));
    return QApplication::exec();
}
