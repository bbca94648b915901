#pragma once

#include "mailbox/calendarprefilter.h"

#include <QByteArray>
#include <QString>

#include <optional>
#include <vector>

// What the scans of one calendar folder learnt from its files, kept on disk for the next process (a program
// start, a nightly run): one file per folder in the user's cache folder, never inside the mailbox. The file
// is versioned and checksummed; anything damaged, foreign or cut short reads as an empty cache, so the worst
// a bad cache costs is parsing again. It is written beside and renamed, so that processes sharing it only
// ever see a whole one.
class CalendarCache {
public:
    // What identifies a file's content without reading it. The change time is there because a file written
    // in place keeps its size, and its modification time can be put back.
    struct Stamp {
        qint64 size = -1;
        qint64 modifiedNs = 0;
        quint64 inode = 0;
        qint64 changedNs = 0;
        bool operator==(const Stamp&) const = default;
    };

    struct Entry {
        QString name;
        Stamp stamp;
        // A digest of the content when the file was read so soon after it changed that a further change
        // could have kept the same stamp; it is then checked against the content before the entry is used.
        QByteArray digest;
        QString error;     // the file could not be read as a calendar
        QByteArray parsed; // ICalendarFile::serialize()
        // Where the events of a file left unparsed can lie (none of the windows asked for reached it).
        std::optional<CalendarPrefilter::Reach> reach;
    };

    // What load() found. The entries' `parsed` bytes and the expansion are not copied: they stay valid as
    // long as `bytes` does.
    struct Contents {
        QByteArray bytes;
        std::vector<Entry> entries;
        // The occurrences of the entries in the last window (ExpandedCalendar::save), when they were saved
        // with them in this environment (ExpandedCalendar::environment); empty otherwise.
        QByteArray expansion;
    };

    // No cache (enabled() false) for a folder that does not exist, or when ROTAVINE_NO_CACHE is set.
    explicit CalendarCache(const QString& directory);

    bool enabled() const { return !m_path.isEmpty(); }
    QString path() const { return m_path; }

    // The entries, in the order they were saved; none when there is no usable cache.
    Contents load() const;
    // False, with `error` set, when the cache cannot be written; nothing else depends on it.
    // `expansion` is the entries' occurrences, or empty.
    bool save(const std::vector<Entry>& entries, const QByteArray& expansion = {},
              QString* error = nullptr) const;

    // $XDG_CACHE_HOME/Rotavine/calendars
    static QString folder();
    static QByteArray digestOf(const QByteArray& content);
    // Whether a file with this stamp, looked at `nowNs`, could still change without its stamp showing it.
    static bool isRecent(const Stamp& stamp, qint64 nowNs);

private:
    QString m_canonical;
    QString m_path;
};
