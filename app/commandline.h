#pragma once

#include "output/pagedplanning.h"

#include <QDate>
#include <QString>
#include <QStringList>

// What the command line asks for. Two forms are read:
//   the classic single text, arguments separated by "/", "'", '"' or a tab:
//     rotavine /01122026/31122026/Support/Planning/ReportHTMLPlan/\srv\www\planning.htm
//   and options, for people used to them:
//     rotavine --team Support --view ThisMonth --report ReportHTMLPlan --output /srv/www/planning.htm
// Options come first; anything after them that is not an option is read as the classic text.
struct CommandLine {
    enum class Action { Run, Help, Version, Error };
    Action action = Action::Run;
    QString error; // Action::Error: what is wrong, for the user

    // True when the line asks for an unattended run: a classic text, or any of the run's options.
    bool automatic = false;
    QDate fromDate;
    QDate toDate;
    QString team;
    QString view;
    QString report;
    QString outputFolder; // without a trailing separator
    QString outputFile;
    // The pages of ReportPDF: --paper, --orientation, --fit.
    PagedPlanning::Layout pageLayout;

    // Where to read and keep things; these alone leave the program interactive.
    QString mailboxPath;
    QString configPath;
    QString davUrl;
    QString davUser;
};

namespace CommandLineParser {

// The classic form: `text` is everything after the program's name, the arguments joined by blanks. At most
// six arguments are taken; reading stops, silently, at the first one that is missing or does not convert.
void parseClassic(const QString& text, CommandLine& into);

// Both forms, from the arguments after the program's name.
CommandLine parse(const QStringList& arguments);

// DDMMYYYY, as the classic form writes dates; a null date when the text names no real day.
QDate compactDate(const QString& text);

QString usageText();

} // namespace CommandLineParser
