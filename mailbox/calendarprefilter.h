#pragma once

#include "mailbox/icalendarfile.h"

#include <QByteArrayView>

#include <optional>

// A look at an iCalendar file's bytes, without libical, for the stretch of time its events can reach, so
// that a file whose events all lie outside a window need not be parsed for it. Only plainly written files
// get an answer: anything unusual, and anything the parser would refuse or find fault with (its faults are
// shown whatever the window), gets none, and the file is parsed.
namespace CalendarPrefilter {

// No occurrence of the file starts before firstUtc nor ends after lastUtc (seconds since the epoch).
struct Reach {
    qint64 firstUtc = 0;
    qint64 lastUtc = 0;

    // Whether an occurrence inside the reach could touch `window`, as ICalendarFile::expand() reads it.
    bool meets(const ICalendarFile::Window& window) const
    {
        return firstUtc <= window.startAtMostUtc && lastUtc >= window.endAtLeastUtc;
    }
    bool operator==(const Reach&) const = default;
};

std::optional<Reach> reachOf(QByteArrayView bytes);

} // namespace CalendarPrefilter
