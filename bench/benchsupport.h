#pragma once

#include <QString>
#include <QStringList>

// What the benchmarks share: their command line, the big mailbox they run on, and how they print.
struct BenchOptions {
    int people = 127;
    quint32 seed = 1;
    int repeat = 5;    // timed figures that repeat cheaply report the best of this many runs
    QString directory; // where the mailbox is generated; empty: under the cache folder
    QString dump;      // bench-mailbox: where to write the query's output for comparison; empty: nowhere

    static BenchOptions parse(const QStringList& arguments);
};

// The mailbox for these options, generated on first use and kept for later runs. Empty on failure (said on
// standard error).
QString prepareBenchMailbox(const BenchOptions& options);

// The display names of the mailbox's persons, in file order.
QStringList benchMembers(const QString& root);

// Rewrites one calendar file with another subject; returns its path.
QString touchOneCalendarFile(const QString& root);

struct MemoryFigures {
    double residentMiB = 0;
    double peakMiB = 0;
};
MemoryFigures memoryFigures();

void printFigure(const char* label, double milliseconds, qint64 count);
