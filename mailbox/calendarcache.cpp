#include "mailbox/calendarcache.h"

#include "mailbox/cachefile.h"
#include "mailbox/expandedcalendar.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QFileInfo>
#include <QStandardPaths>

namespace {

constexpr char kMagic[] = "RVCCACHE";
// Bumped whenever the layout of the file, or of what ICalendarFile::serialize() writes, changes.
constexpr quint32 kFormat = 3;

// File systems that keep times to the second or two would let a change within that time keep the stamp.
constexpr qint64 kTimeResolutionNs = 2'000'000'000;

QDataStream& operator<<(QDataStream& out, const CalendarCache::Entry& entry)
{
    return out << entry.name << entry.stamp.size << entry.stamp.modifiedNs << entry.stamp.inode
               << entry.stamp.changedNs << entry.digest << entry.error << entry.reach.has_value()
               << entry.reach.value_or(CalendarPrefilter::Reach()).firstUtc
               << entry.reach.value_or(CalendarPrefilter::Reach()).lastUtc << entry.parsed;
}

// The serialised calendar is left where it is, in `payload`.
void readEntry(QDataStream& in, const QByteArray& payload, CalendarCache::Entry& entry)
{
    quint32 size = 0;
    bool reached = false;
    CalendarPrefilter::Reach reach;
    in >> entry.name >> entry.stamp.size >> entry.stamp.modifiedNs >> entry.stamp.inode >>
        entry.stamp.changedNs >> entry.digest >> entry.error >> reached >> reach.firstUtc >> reach.lastUtc >>
        size;
    if (reached)
        entry.reach = reach;
    const qint64 at = in.device()->pos();
    if (size == 0xFFFFFFFF || in.status() != QDataStream::Ok)
        return;
    if (qint64(size) > payload.size() - at) {
        in.setStatus(QDataStream::ReadPastEnd);
        return;
    }
    entry.parsed = QByteArray::fromRawData(payload.constData() + at, size);
    in.skipRawData(int(size));
}

} // namespace

CalendarCache::CalendarCache(const QString& directory)
{
    if (qEnvironmentVariableIntValue("ROTAVINE_NO_CACHE") != 0)
        return;
    m_canonical = QFileInfo(directory).canonicalFilePath();
    if (m_canonical.isEmpty())
        return;
    const QByteArray name =
        QCryptographicHash::hash(m_canonical.toUtf8(), QCryptographicHash::Sha256).toHex();
    m_path = folder() + u'/' + QString::fromLatin1(name.left(40)) + QStringLiteral(".cache");
}

QString CalendarCache::folder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) +
           QStringLiteral("/Rotavine/calendars");
}

QByteArray CalendarCache::digestOf(const QByteArray& content)
{
    return QCryptographicHash::hash(content, QCryptographicHash::Sha256);
}

bool CalendarCache::isRecent(const Stamp& stamp, qint64 nowNs)
{
    return std::max(stamp.modifiedNs, stamp.changedNs) > nowNs - kTimeResolutionNs;
}

CalendarCache::Contents CalendarCache::load() const
{
    if (!enabled())
        return {};
    const std::optional<CacheFile::Contents> file = CacheFile::read(m_path, kMagic, kFormat);
    if (!file)
        return {};
    Contents contents;
    contents.bytes = file->file; // shared, not copied: the entries point into it
    const QByteArray payloadBytes = file->payload();
    QDataStream in(payloadBytes);
    in.setVersion(QDataStream::Qt_6_0);
    QString directory;
    quint32 count = 0;
    in >> directory >> count;
    // Another folder whose name hashes alike is no help.
    if (directory != m_canonical || count > quint32(payloadBytes.size()))
        return {};
    contents.entries.resize(count);
    for (Entry& entry : contents.entries)
        readEntry(in, payloadBytes, entry);
    QByteArray environment;
    quint32 expansionSize = 0;
    in >> environment >> expansionSize;
    const qint64 at = in.device() ? in.device()->pos() : 0;
    if (in.status() != QDataStream::Ok || qint64(expansionSize) != payloadBytes.size() - at)
        return {};
    if (expansionSize > 0 && environment == ExpandedCalendar::environment())
        contents.expansion = QByteArray::fromRawData(payloadBytes.constData() + at, expansionSize);
    return contents;
}

bool CalendarCache::save(const std::vector<Entry>& entries, const QByteArray& expansion, QString* error) const
{
    if (!enabled())
        return true;
    QByteArray payload;
    {
        QDataStream out(&payload, QIODevice::WriteOnly);
        out.setVersion(QDataStream::Qt_6_0);
        out << m_canonical << quint32(entries.size());
        for (const Entry& entry : entries)
            out << entry;
        // Last, so that loading leaves it where it is.
        out << ExpandedCalendar::environment() << quint32(expansion.size());
        out.writeRawData(expansion.constData(), int(expansion.size()));
    }
    QString reason;
    if (CacheFile::write(m_path, kMagic, kFormat, payload, &reason))
        return true;
    if (error)
        *error = QStringLiteral("The calendar cache %1 cannot be written: %2").arg(m_path, reason);
    return false;
}
