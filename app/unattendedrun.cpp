#include "app/unattendedrun.h"

#include "app/commandline.h"
#include "base/languagetexts.h"
#include "base/programstate.h"
#include "base/textids.h"
#include "gui/mainwindow.h"
#include "gui/periods.h"
#include "mailbox/mailbox.h"
#include "output/htmlreport.h"
#include "output/jpegwriter.h"
#include "output/pagedplanning.h"
#include "planning/querycontext.h"

#include <QDir>
#include <QFileInfo>

#include <cstdio>

namespace {

void tell(const QString& text)
{
    std::fprintf(stderr, "rotavine: %s\n", qPrintable(text));
}

bool isReport(const QString& keyword)
{
    return keyword == QLatin1StringView("ReportHTMLPlan") ||
           keyword == QLatin1StringView("ReportHTMLColor") || keyword == QLatin1StringView("ReportImage") ||
           keyword == QLatin1StringView("ReportPNG") || keyword == QLatin1StringView("ReportPDF");
}

} // namespace

ExitStatus runUnattended(MainWindow& window, const CommandLine& command, const ProgramState& program,
                         const LanguageTexts& texts)
{
    window.loadLists(command.team);
    if (!isReport(command.report)) {
        tell(QStringLiteral("Report keyword error"));
        return ExitStatus::ReportKeywordError;
    }
    if (!Periods::reportAcceptsView(command.report, command.view)) {
        tell(texts.message(Message::ReportViewRefused));
        return ExitStatus::ViewRefused;
    }
    if (!window.hasTeam(command.team)) {
        tell(QStringLiteral("Unknown team \"%1\"").arg(command.team));
        return ExitStatus::UnknownTeam;
    }
    if (window.members().isEmpty()) {
        tell(QStringLiteral("The team \"%1\" has no members").arg(command.team));
        return ExitStatus::EmptyTeam;
    }

    // A device or a pipe standing at the page's name (/dev/null, /dev/stdout) is not a page to replace.
    const QFileInfo target(QDir(command.outputFolder).filePath(command.outputFile));
    if (target.exists() && !target.isSymLink() && !target.isFile()) {
        tell(QStringLiteral("%1 is not a file; the page is not written there").arg(target.filePath()));
        return ExitStatus::OutputNotWritable;
    }
    // The page is not to be replaced by what goes beside it (the picture, the style sheet, the logo).
    const bool pdf = command.report == QLatin1StringView("ReportPDF");
    const bool picture = command.report == QLatin1StringView("ReportImage") ||
                         command.report == QLatin1StringView("ReportPNG");
    const PictureFormat format =
        command.report == QLatin1StringView("ReportPNG") ? PictureFormat::Png : PictureFormat::Jpeg;
    QStringList beside = QDir(HtmlReport::templateFolder()).entryList(QDir::Files);
    beside << pictureFileName(format);
    if (!pdf && beside.contains(command.outputFile)) {
        tell(QStringLiteral("The page cannot be named %1: a file of that name goes beside it")
                 .arg(command.outputFile));
        return ExitStatus::UsageError;
    }
    const bool datesShown =
        command.view == QLatin1StringView("Planning") || command.view == QLatin1StringView("ColorPlanning");
    if (datesShown && command.fromDate.daysTo(command.toDate) >= Periods::kMaxDays)
        tell(QStringLiteral("The period is longer than %1 days: the planning shows %2 to %3")
                 .arg(Periods::kMaxDays)
                 .arg(command.fromDate.toString(Qt::ISODate),
                      command.fromDate.addDays(Periods::kMaxDays - 1).toString(Qt::ISODate)));
    window.choosePeriod(command.fromDate, command.toDate);
    if (!window.runView(command.view))
        return ExitStatus::ViewKeywordError;
    // A planning without anybody's appointments looks like a quiet week: it is not published.
    const QueryOutcome& outcome = window.lastQueryOutcome();
    if (outcome.nothingRead()) {
        tell(QStringLiteral("No member's calendar could be read; nothing was published"));
        return ExitStatus::NothingRead;
    }
    // What the window shows while offline is the local copy of the calendars: never published as current.
    if (const std::optional<QDateTime> since = window.mailbox().offlineSince()) {
        tell(QStringLiteral("The calendar server could not be reached; nothing was published (the local copy "
                            "is of %1)")
                 .arg(since->toLocalTime().toString(Qt::ISODate)));
        return ExitStatus::ServerUnreachable;
    }

    QString page;
    try {
        if (pdf) {
            PagedPlanning::savePdf(target.filePath(), window.gridPainter(), command.pageLayout,
                                   window.pageTexts());
        }
        else {
            page = window.writeReportPage(command.report == QLatin1StringView("ReportHTMLColor"), !picture,
                                          format);
            deliverReport(program.tempFolder, command.outputFolder, command.outputFile, picture,
                          HtmlReport::templateFolder(), format);
        }
    }
    catch (const JpegError& error) {
        tell(error.description() + QStringLiteral(": ") + error.detail());
        return ExitStatus::PictureFailed;
    }
    catch (const ReportError& error) {
        tell(texts.message(Message::ReportFailed) + error.description());
        if (pdf)
            return ExitStatus::PictureFailed;
        return page.isEmpty() ? ExitStatus::ReportFailed : ExitStatus::OutputNotWritable;
    }
    std::fprintf(stdout, "%s\n", qPrintable(QDir(command.outputFolder).filePath(command.outputFile)));
    if (!outcome.unreadable.isEmpty()) {
        tell(QStringLiteral("Published without the calendars of: %1")
                 .arg(outcome.unreadable.join(QStringLiteral(", "))));
        return ExitStatus::PartlyRead;
    }
    return ExitStatus::Delivered;
}
