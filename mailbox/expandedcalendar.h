#pragma once

#include "mailbox/folder.h"
#include "mailbox/icalendarfile.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

#include <memory>
#include <optional>
#include <vector>

// A calendar's occurrences as last expanded, kept between scans: both back ends keep the calendar's parsed
// objects and hand the same occurrences out again while neither the objects nor the window change.
class ExpandedCalendar {
public:
    // One stored object of the calendar: parsed, or the reason it could not be read.
    struct Object {
        QString location;
        QString etag;
        std::shared_ptr<const ICalendarFile> parsed;
        QString error;
    };

    // Whether the occurrences are those of `window`; never after forget().
    bool holds(const ICalendarFile::Window& window) const;
    // The objects changed: the next scan expands them again.
    void forget() { m_window.reset(); }

    // Expands `objects` for `window`, in ascending start order; equal starts keep the objects' order. The
    // occurrences get a new revision (Folder::Scan).
    void expand(const ICalendarFile::Window& window, const std::vector<Object>& objects);

    // The occurrences as the caller's own copies, the objects that could not be read (or held events that
    // could not) as errors numbered ItemUnreadable, and the revision.
    Folder::Scan scan() const;

    // The expansion in a form the next process can take back instead of expanding again (empty when there is
    // none), and that form taken back; false, with nothing changed, for bytes that are not such a form.
    // Occurrences are kept as instants, so the local time zone they are shown in is the reader's.
    QByteArray save() const;
    bool restore(QByteArrayView bytes);
    // What else than the objects and the window an expansion depends on: this program's build, the local
    // time zone (floating times are in it) and the zone data. A saved expansion holds only as long as this
    // stays the same.
    static QByteArray environment();

private:
    std::optional<ICalendarFile::Window> m_window;
    std::vector<MailboxItem> m_occurrences;
    QList<MailboxError> m_errors;
    quint64 m_revision = 0;
};
