#include "bench/benchsupport.h"

#include "bench/mailboxgenerator.h"
#include "mailbox/addressbook.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QStandardPaths>

#include <cstdio>

BenchOptions BenchOptions::parse(const QStringList& arguments)
{
    BenchOptions options;
    for (qsizetype i = 1; i + 1 < arguments.size(); i += 2) {
        const QString& name = arguments.at(i);
        const QString& value = arguments.at(i + 1);
        if (name == QLatin1StringView("--people"))
            options.people = std::max(1, value.toInt());
        else if (name == QLatin1StringView("--seed"))
            options.seed = value.toUInt();
        else if (name == QLatin1StringView("--repeat"))
            options.repeat = std::max(1, value.toInt());
        else if (name == QLatin1StringView("--dump"))
            options.dump = value;
        else if (name == QLatin1StringView("--dir"))
            options.directory = value;
    }
    return options;
}

QString prepareBenchMailbox(const BenchOptions& options)
{
    QString root = options.directory;
    if (root.isEmpty())
        root = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) +
               QStringLiteral("/rotavine-bench/mailbox-%1-%2").arg(options.people).arg(options.seed);
    const QString marker = root + QStringLiteral("/.complete");
    if (QFile::exists(marker))
        return root;

    QDir(root).removeRecursively();
    MailboxGeneratorOptions generator;
    generator.people = options.people;
    generator.seed = options.seed;
    generator.firstDay = QDate(2025, 3, 1); // three years of history around the measured window
    generator.lastDay = QDate(2028, 2, 29);
    QElapsedTimer timer;
    timer.start();
    const MailboxGeneratorResult result = generateMailbox(root, generator);
    if (!result.error.isEmpty()) {
        std::fprintf(stderr, "bench: cannot generate the mailbox: %s\n", qPrintable(result.error));
        return QString();
    }
    std::printf("generated %d files (%.0f MiB) for %d people in %.1f s\n", result.files,
                result.bytes / 1048576.0, result.people, timer.elapsed() / 1000.0);
    QFile done(marker);
    if (!done.open(QIODevice::WriteOnly))
        std::fprintf(stderr, "bench: cannot mark %s as complete\n", qPrintable(root));
    return root;
}

QStringList benchMembers(const QString& root)
{
    AddressBook book(root + QStringLiteral("/contacts"));
    QStringList names;
    for (const AddressBook::Contact& person : book.persons())
        names << person.name;
    return names;
}

QString touchOneCalendarFile(const QString& root)
{
    QDirIterator files(root + QStringLiteral("/calendars"), {QStringLiteral("*.ics")}, QDir::Files,
                       QDirIterator::Subdirectories);
    if (!files.hasNext())
        return QString();
    const QString path = files.next();
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite))
        return QString();
    QByteArray bytes = file.readAll();
    bytes.replace("SUMMARY:", "SUMMARY:Changed ");
    file.resize(0);
    file.write(bytes);
    return path;
}

MemoryFigures memoryFigures()
{
    MemoryFigures figures;
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return figures;
    for (const QByteArray& line : status.readAll().split('\n')) {
        const QList<QByteArray> parts = line.simplified().split(' ');
        if (parts.size() < 2)
            continue;
        if (parts.first() == "VmRSS:")
            figures.residentMiB = parts.at(1).toDouble() / 1024;
        else if (parts.first() == "VmHWM:")
            figures.peakMiB = parts.at(1).toDouble() / 1024;
    }
    return figures;
}

void printFigure(const char* label, double milliseconds, qint64 count)
{
    std::printf("%-45s %10.1f ms  %8lld occurrences\n", label, milliseconds, static_cast<long long>(count));
    std::fflush(stdout);
}
