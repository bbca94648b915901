// generate-mailbox DIR [--people N] [--seed S] [--from YYYY-MM-DD --to YYYY-MM-DD] [--utc]
// Writes a large folder mailbox for benchmarks and says what it wrote.
#include "bench/mailboxgenerator.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>

#include <cstdio>

using namespace Qt::StringLiterals;

namespace {
int fail(const QString& message)
{
    std::fprintf(stderr, "generate-mailbox: %s\n", qPrintable(message));
    return 1;
}

bool readDate(const QCommandLineParser& parser, const QString& name, QDate& date)
{
    if (!parser.isSet(name))
        return true;
    date = QDate::fromString(parser.value(name), Qt::ISODate);
    return date.isValid();
}
} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(u"generate-mailbox"_s);

    QCommandLineParser parser;
    parser.setApplicationDescription(u"Writes a large folder mailbox (contacts, teams and calendars) for "
                                     "benchmarks. The same options always give the same files."_s);
    parser.addHelpOption();
    parser.addPositionalArgument(u"DIR"_s, u"Folder to write the mailbox into; absent or empty."_s);
    const MailboxGeneratorOptions defaults;
    parser.addOption({u"people"_s, u"Number of people (default %1)."_s.arg(defaults.people), u"N"_s});
    parser.addOption({u"seed"_s, u"Seed of the generator (default %1)."_s.arg(defaults.seed), u"S"_s});
    parser.addOption({u"from"_s, u"First day of the history (default: two years ago)."_s, u"YYYY-MM-DD"_s});
    parser.addOption({u"to"_s, u"Last day of the history (default: a year from today)."_s, u"YYYY-MM-DD"_s});
    parser.addOption({u"utc"_s, u"Write times in UTC instead of Europe/Paris."_s});
    parser.process(app);

    const QStringList arguments = parser.positionalArguments();
    if (arguments.size() != 1)
        return fail(u"give one folder to write into (see --help)"_s);
    MailboxGeneratorOptions options;
    bool ok = true;
    if (parser.isSet(u"people"_s))
        options.people = parser.value(u"people"_s).toInt(&ok);
    if (!ok || options.people < 1)
        return fail(u"--people wants a positive whole number, not \"%1\""_s.arg(parser.value(u"people"_s)));
    if (parser.isSet(u"seed"_s))
        options.seed = parser.value(u"seed"_s).toUInt(&ok);
    if (!ok)
        return fail(
            u"--seed wants a whole number from 0 to 4294967295, not \"%1\""_s.arg(parser.value(u"seed"_s)));
    if (!readDate(parser, u"from"_s, options.firstDay) || !readDate(parser, u"to"_s, options.lastDay))
        return fail(u"--from and --to want dates written YYYY-MM-DD"_s);
    const QDate today = QDate::currentDate();
    if (!options.firstDay.isValid())
        options.firstDay = today.addYears(-2);
    if (!options.lastDay.isValid())
        options.lastDay = today.addYears(1);
    if (options.lastDay < options.firstDay)
        return fail(u"--from must not be later than --to"_s);
    options.withTimeZones = !parser.isSet(u"utc"_s);

    // Refused rather than mixed: files left by another run would make the mailbox differ from its options.
    const QDir target(arguments.first());
    if (target.exists() && !target.isEmpty())
        return fail(
            u"%1 is not empty; give a new or empty folder"_s.arg(QDir::toNativeSeparators(target.path())));

    QElapsedTimer timer;
    timer.start();
    const MailboxGeneratorResult result = generateMailbox(arguments.first(), options);
    const double seconds = timer.elapsed() / 1000.0;
    if (!result.error.isEmpty())
        return fail(result.error);
    std::printf("Wrote %s\n", qPrintable(QDir::toNativeSeparators(result.root)));
    std::printf("  people:   %d (seed %u, %s)\n", result.people, options.seed,
                options.withTimeZones ? "Europe/Paris" : "UTC");
    std::printf("  history:  %s to %s\n", qPrintable(options.firstDay.toString(Qt::ISODate)),
                qPrintable(options.lastDay.toString(Qt::ISODate)));
    std::printf("  files:    %d, %.1f MB\n", result.files, result.bytes / 1e6);
    std::printf("  time:     %.1f s\n", seconds);
    return 0;
}
