#pragma once

// What the mailbox tests share: inputs kept as files under tests/data (corpora walked in name order, tables
// of "|"-separated fields, golden files that hold what a test makes of an input), and the error of a call.

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QStringList>

#include "mailbox/mailboxerror.h"

#include <functional>

inline QString dataPath(const QString& relative)
{
    return QStringLiteral(ROTAVINE_TEST_DATA "/") + relative;
}

inline QByteArray readBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline QStringList readLines(const QString& path)
{
    QStringList lines = QString::fromUtf8(readBytes(path)).split(u'\n');
    if (lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

// The files under tests/data/<folder>, sub-folders included, whose names end in `suffix`: their paths
// relative to that folder, in name order.
inline QStringList corpus(const QString& folder, const QString& suffix)
{
    const QDir root(dataPath(folder));
    QStringList names;
    for (QDirIterator it(root.path(), QDir::Files, QDirIterator::Subdirectories); it.hasNext();) {
        const QString path = it.next();
        if (path.endsWith(suffix))
            names << root.relativeFilePath(path);
    }
    if (names.isEmpty())
        qFatal("no %s files under %s", qPrintable(suffix), qPrintable(root.path()));
    names.sort();
    return names;
}

// The lines of a table file cut at "|"; blank lines and lines starting with "#" are left out, and "\t",
// "\n" and "\r" stand for those characters.
inline QList<QStringList> tableRows(const QString& relative)
{
    QList<QStringList> rows;
    for (QString line : readLines(dataPath(relative))) {
        if (line.trimmed().isEmpty() || line.startsWith(u'#'))
            continue;
        line.replace(QLatin1StringView("\\t"), QLatin1StringView("\t"))
            .replace(QLatin1StringView("\\n"), QLatin1StringView("\n"))
            .replace(QLatin1StringView("\\r"), QLatin1StringView("\r"));
        rows << line.split(u'|');
    }
    return rows;
}

// What the golden file holds, line by line. With ROTAVINE_WRITE_GOLDEN set in the environment, `actual` is
// written into it first: that is how a golden file is made, or brought up to date after a wanted change.
inline QStringList golden(const QString& path, const QStringList& actual)
{
    if (qEnvironmentVariableIsSet("ROTAVINE_WRITE_GOLDEN")) {
        QFile file(path);
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            file.write((actual.join(u'\n') + u'\n').toUtf8());
    }
    return readLines(path);
}

// The number of the MailboxError the call throws, or 0.
inline int errorOf(const std::function<void()>& call)
{
    try {
        call();
    }
    catch (const MailboxError& error) {
        return error.number();
    }
    return 0;
}
