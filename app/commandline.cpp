#include "app/commandline.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>

#include <array>

namespace {

constexpr int kMaxArguments = 6;
constexpr int kMaxFileNameLength = 1024;

bool isSeparator(QChar character)
{
    return character == u'/' || character == u'\'' || character == u'"' || character == u'\t';
}

// The option form's dates: ISO (2026-12-01) as people on Linux write them, or the classic DDMMYYYY.
QDate optionDate(const QString& text)
{
    const QDate iso = QDate::fromString(text, Qt::ISODate);
    return iso.isValid() ? iso : CommandLineParser::compactDate(text);
}

// "--output PATH": the folder and the file the page goes to. A folder (existing, or written with a trailing
// "/") receives "planning.htm", or "planning.pdf" for the PDF.
void splitOutputPath(const QString& path, CommandLine& into)
{
    const QFileInfo info(path);
    if (path.endsWith(u'/') || info.isDir()) {
        into.outputFolder = QDir::cleanPath(QDir(path).absolutePath());
        into.outputFile = into.report == QLatin1StringView("ReportPDF") ? QStringLiteral("planning.pdf")
                                                                        : QStringLiteral("planning.htm");
        return;
    }
    into.outputFolder = QDir::cleanPath(info.absolutePath());
    into.outputFile = info.fileName();
}

} // namespace

namespace CommandLineParser {

QDate compactDate(const QString& text)
{
    if (text.size() != 8)
        return {};
    for (const QChar character : text)
        if (!character.isDigit())
            return {};
    return QDate(text.right(4).toInt(), text.mid(2, 2).toInt(), text.left(2).toInt());
}

void parseClassic(const QString& text, CommandLine& into)
{
    if (text.isEmpty())
        return;
    into.automatic = true;

    // Argument 0 collects whatever precedes the first argument and is never used.
    std::array<QString, kMaxArguments + 1> arguments;
    int count = 0;
    bool inside = false;
    for (const QChar character : text) {
        if (isSeparator(character)) {
            inside = false;
            continue;
        }
        if (character != u' ' && !inside) {
            if (count == kMaxArguments)
                break;
            ++count;
            inside = true;
        }
        arguments[count].append(character);
    }
    for (QString& argument : arguments)
        argument = argument.trimmed();

    if (count < 1 || !(into.fromDate = compactDate(arguments[1])).isValid())
        return;
    if (count < 2 || !(into.toDate = compactDate(arguments[2])).isValid())
        return;
    if (count < 3)
        return;
    into.team = arguments[3];
    if (count < 4)
        return;
    into.view = arguments[4];
    if (count < 5)
        return;
    into.report = arguments[5];
    if (count < 6)
        return;
    // "/" separates the arguments, so the path inside the sixth one is written with "\".
    const QString& path = arguments[6];
    const qsizetype last = path.lastIndexOf(u'\\');
    if (last < 0) {
        into.outputFolder = path;
    }
    else {
        into.outputFile = path.mid(last + 1, kMaxFileNameLength);
        into.outputFolder = path.left(last);
    }
    into.outputFolder.replace(u'\\', u'/');
}

CommandLine parse(const QStringList& arguments)
{
    CommandLine line;
    if (arguments.isEmpty())
        return line;

    // Options may stand before or after a classic text; what is not an option is the classic text.
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption from(QStringLiteral("from"), QString(), QStringLiteral("date"));
    const QCommandLineOption to(QStringLiteral("to"), QString(), QStringLiteral("date"));
    const QCommandLineOption team(QStringLiteral("team"), QString(), QStringLiteral("name"));
    const QCommandLineOption view(QStringLiteral("view"), QString(), QStringLiteral("keyword"));
    const QCommandLineOption report(QStringLiteral("report"), QString(), QStringLiteral("keyword"));
    const QCommandLineOption output(QStringLiteral("output"), QString(), QStringLiteral("path"));
    const QCommandLineOption mailbox(QStringLiteral("mailbox"), QString(), QStringLiteral("path"));
    const QCommandLineOption config(QStringLiteral("config"), QString(), QStringLiteral("path"));
    const QCommandLineOption caldav(QStringLiteral("caldav"), QString(), QStringLiteral("url"));
    const QCommandLineOption user(QStringLiteral("user"), QString(), QStringLiteral("name"));
    const QCommandLineOption paper(QStringLiteral("paper"), QString(), QStringLiteral("size"));
    const QCommandLineOption orientation(QStringLiteral("orientation"), QString(), QStringLiteral("way"));
    const QCommandLineOption fit(QStringLiteral("fit"), QString(), QStringLiteral("how"));
    const QCommandLineOption help(QStringLiteral("help"));
    const QCommandLineOption version(QStringLiteral("version"));
    parser.addOptions({from, to, team, view, report, output, mailbox, config, caldav, user, paper,
                       orientation, fit, help, version});

    // QCommandLineParser expects the program's name first.
    if (!parser.parse(QStringList{QStringLiteral("rotavine")} + arguments)) {
        line.action = CommandLine::Action::Error;
        line.error = parser.errorText();
        return line;
    }
    if (parser.isSet(help)) {
        line.action = CommandLine::Action::Help;
        return line;
    }
    if (parser.isSet(version)) {
        line.action = CommandLine::Action::Version;
        return line;
    }

    const auto fail = [&line](const QString& text) {
        line.action = CommandLine::Action::Error;
        line.error = text;
        return line;
    };
    // The classic text, then the options over it.
    if (!parser.positionalArguments().isEmpty()) {
        const QString classic = parser.positionalArguments().join(u' ');
        if (classic.trimmed().isEmpty())
            return fail(
                QStringLiteral("the command line is empty: give a report to run, or nothing to open the "
                               "window"));
        parseClassic(classic, line);
        // A report without the page's name would land wherever the program happens to run.
        if (!line.report.isEmpty() && line.outputFile.isEmpty() && !parser.isSet(output))
            return fail(QStringLiteral("the classic text names no page to write: its sixth part is "
                                       "\\folder\\page.htm"));
    }
    for (const auto& [option, date] : {std::pair{&from, &line.fromDate}, std::pair{&to, &line.toDate}}) {
        if (!parser.isSet(*option))
            continue;
        const QString value = parser.value(*option);
        *date = optionDate(value);
        if (!date->isValid())
            return fail(QStringLiteral("--%1: \"%2\" is not a date (YYYY-MM-DD or DDMMYYYY)")
                            .arg(option->names().constFirst(), value));
    }
    if (line.fromDate.isValid() && line.toDate.isValid() && line.fromDate > line.toDate)
        return fail(QStringLiteral("the period ends (%1) before it starts (%2)")
                        .arg(line.toDate.toString(Qt::ISODate), line.fromDate.toString(Qt::ISODate)));
    if (parser.isSet(paper)) {
        const auto chosen = PagedPlanning::paperFromName(parser.value(paper));
        if (!chosen)
            return fail(QStringLiteral("--paper: \"%1\" is not A4, A3 or Letter").arg(parser.value(paper)));
        line.pageLayout.paper = *chosen;
    }
    if (parser.isSet(orientation)) {
        const QString value = parser.value(orientation).toLower();
        if (value != QLatin1StringView("landscape") && value != QLatin1StringView("portrait"))
            return fail(QStringLiteral("--orientation: \"%1\" is not landscape or portrait")
                            .arg(parser.value(orientation)));
        line.pageLayout.orientation =
            value == QLatin1StringView("portrait") ? QPageLayout::Portrait : QPageLayout::Landscape;
    }
    if (parser.isSet(fit)) {
        const QString value = parser.value(fit).toLower();
        if (value != QLatin1StringView("width") && value != QLatin1StringView("tile"))
            return fail(QStringLiteral("--fit: \"%1\" is not width or tile").arg(parser.value(fit)));
        line.pageLayout.fit =
            value == QLatin1StringView("tile") ? PagedPlanning::Fit::Tile : PagedPlanning::Fit::Width;
    }
    const bool runOptions = parser.isSet(from) || parser.isSet(to) || parser.isSet(team) ||
                            parser.isSet(view) || parser.isSet(report) || parser.isSet(output);
    if (runOptions) {
        line.automatic = true;
        if (parser.isSet(team))
            line.team = parser.value(team);
        if (parser.isSet(view))
            line.view = parser.value(view);
        else if (line.view.isEmpty())
            line.view = parser.isSet(from) || parser.isSet(to) ? QStringLiteral("Planning")
                                                               : QStringLiteral("ThisMonth");
        if (parser.isSet(report))
            line.report = parser.value(report);
        else if (line.report.isEmpty())
            line.report = QStringLiteral("ReportHTMLPlan");
        if (parser.isSet(output)) {
            if (parser.value(output).isEmpty())
                return fail(QStringLiteral("--output: the path is empty"));
            splitOutputPath(parser.value(output), line);
        }
        else if (line.outputFile.isEmpty()) {
            return fail(QStringLiteral("--output: where should the report go? Give the page's path."));
        }
    }
    line.mailboxPath = parser.value(mailbox);
    line.configPath = parser.value(config);
    line.davUrl = parser.value(caldav);
    line.davUser = parser.value(user);
    return line;
}

QString usageText()
{
    return QStringLiteral(
        "Usage: rotavine [OPTIONS]\n"
        "       rotavine /DDMMYYYY/DDMMYYYY/TEAM/VIEW/REPORT/\\FOLDER\\FILE.htm\n"
        "\n"
        "Without a report to write, Rotavine opens its window. Given one, it runs unattended: it selects "
        "the\n"
        "team and the period, runs the view, writes the report and ends, without showing a window.\n"
        "\n"
        "Unattended run:\n"
        "  --team NAME        the team (a list of the \"Rotavine\" contacts folder)\n"
        "  --from DATE        first day, YYYY-MM-DD or DDMMYYYY\n"
        "  --to DATE          last day\n"
        "  --view KEYWORD     Today, Tomorrow, ThisDay, ThisWeek, NextWeek, ThisMonth, NextMonth,\n"
        "                     Planning or ColorPlanning (the last two show --from to --to);\n"
        "                     default Planning with dates, ThisMonth without\n"
        "  --report KEYWORD   ReportHTMLPlan (default), ReportHTMLColor, ReportImage, ReportPNG or\n"
        "                     ReportPDF\n"
        "  --output PATH      the page to write; a folder receives planning.htm (planning.pdf for\n"
        "                     ReportPDF). The picture of ReportImage goes beside it as planning.jpg,\n"
        "                     that of ReportPNG as planning.png\n"
        "  --paper SIZE       the PDF's paper: A4 (default), A3 or Letter\n"
        "  --orientation WAY  landscape (default) or portrait\n"
        "  --fit HOW          width (default: scaled to the page's width while the text stays\n"
        "                     readable, else tiled) or tile (full size, pages across and down)\n"
        "\n"
        "Where things are:\n"
        "  --mailbox PATH     a folder of iCalendar and vCard files to read\n"
        "  --caldav URL       a CalDAV/CardDAV server to read (password from ROTAVINE_PASSWORD or\n"
        "                     the configured password command)\n"
        "  --user NAME        the user name on that server\n"
        "  --config PATH      the settings file to use\n"
        "  --help, --version\n"
        "\n"
        "Exit status: 0 report delivered; 1 start failed; 2 command line error; 3 report keyword error;\n"
        "4 view not accepted by the report; 5 view keyword error; 6 unknown team; 7 empty team;\n"
        "8 mailbox not opened; 9 output not writable; 10 picture failed; 11 report not written;\n"
        "12 no calendar could be read (nothing published); 13 published, some calendars unread.\n");
}

} // namespace CommandLineParser
