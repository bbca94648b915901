#include "base/datetext.h"

namespace DateText {

namespace {

// The first separator character of a locale's format, for example "/" in "M/d/yy" or "." in "dd.MM.yy".
QString separatorOf(const QString& localeFormat, const QString& fallback)
{
    bool quoted = false;
    for (const QChar c : localeFormat) {
        if (c == u'\'')
            quoted = !quoted;
        else if (!quoted && !c.isLetter() && !c.isSpace())
            return QString(c);
    }
    return fallback;
}

qsizetype runLength(const QString& pattern, qsizetype at)
{
    const QChar letter = pattern.at(at).toLower();
    qsizetype end = at;
    while (end < pattern.size() && pattern.at(end).toLower() == letter)
        ++end;
    return end - at;
}

bool startsWithInsensitive(QStringView text, QLatin1StringView prefix)
{
    return text.startsWith(prefix, Qt::CaseInsensitive);
}

// The AM/PM markers a pattern may hold, and whether one follows position `from`.
const QLatin1StringView kHalfDayMarkers[] = {QLatin1StringView("AM/PM"), QLatin1StringView("A/P"),
                                             QLatin1StringView("AMPM")};

qsizetype halfDayMarkerAt(QStringView rest)
{
    for (const QLatin1StringView marker : kHalfDayMarkers) {
        if (startsWithInsensitive(rest, marker))
            return marker.size();
    }
    return 0;
}

bool hasHalfDayMarker(const QString& pattern)
{
    for (qsizetype i = 0; i < pattern.size(); ++i) {
        if (halfDayMarkerAt(QStringView(pattern).mid(i)) > 0)
            return true;
    }
    return false;
}

QString twoDigits(int value)
{
    // By hand for the usual values: arg() parses its pattern on every call, and a query's day headers take
    // hundreds of these.
    if (value >= 0 && value < 100) {
        const QChar digits[] = {QChar(u'0' + value / 10), QChar(u'0' + value % 10)};
        return QString(digits, 2);
    }
    return QStringLiteral("%1").arg(value, 2, 10, QLatin1Char('0'));
}

} // namespace

QString format(const QDateTime& value, const QString& pattern, const QLocale& locale)
{
    const QDate date = value.date();
    const QTime time = value.time();
    const QString dateSeparator = separatorOf(locale.dateFormat(QLocale::ShortFormat), QStringLiteral("/"));
    const QString timeSeparator = separatorOf(locale.timeFormat(QLocale::ShortFormat), QStringLiteral(":"));
    const bool twelveHour = hasHalfDayMarker(pattern);

    QString out;
    bool afterHour = false; // the last field written was an hour: "m" now means minutes
    for (qsizetype i = 0; i < pattern.size();) {
        const QChar c = pattern.at(i);
        const QChar lower = c.toLower();

        if (const qsizetype marker = halfDayMarkerAt(QStringView(pattern).mid(i))) {
            const bool morning = time.hour() < 12;
            const QString text = pattern.mid(i, marker);
            if (text.compare(QLatin1StringView("AMPM"), Qt::CaseInsensitive) == 0)
                out += morning ? locale.amText() : locale.pmText();
            else if (text.size() == 3) // A/P or a/p
                out += morning ? text.at(0) : text.at(2);
            else // AM/PM or am/pm keeps the letter case written
                out += morning ? text.left(2) : text.mid(3, 2);
            i += marker;
            continue;
        }
        if (c == u'"') {
            const qsizetype close = pattern.indexOf(u'"', i + 1);
            const qsizetype end = close < 0 ? pattern.size() : close;
            out += pattern.mid(i + 1, end - i - 1);
            i = end + 1;
            continue;
        }
        if (c == u'\\') {
            if (i + 1 < pattern.size())
                out += pattern.at(i + 1);
            i += 2;
            continue;
        }
        if (c == u'/') {
            out += dateSeparator;
            ++i;
            continue;
        }
        if (c == u':') {
            out += timeSeparator;
            ++i;
            continue;
        }

        const qsizetype run = runLength(pattern, i);
        if (lower == u'd') {
            if (run >= 4)
                out += locale.dayName(date.dayOfWeek(), QLocale::LongFormat);
            else if (run == 3)
                out += locale.dayName(date.dayOfWeek(), QLocale::ShortFormat);
            else
                out += run == 2 ? twoDigits(date.day()) : QString::number(date.day());
            afterHour = false;
        }
        else if (lower == u'm') {
            if (afterHour && run <= 2)
                out += run == 2 ? twoDigits(time.minute()) : QString::number(time.minute());
            else if (run >= 4)
                out += locale.monthName(date.month(), QLocale::LongFormat);
            else if (run == 3)
                out += locale.monthName(date.month(), QLocale::ShortFormat);
            else
                out += run == 2 ? twoDigits(date.month()) : QString::number(date.month());
            afterHour = false;
        }
        else if (lower == u'y') {
            if (run >= 3)
                out += QStringLiteral("%1").arg(date.year(), 4, 10, QLatin1Char('0'));
            else if (run == 2)
                out += twoDigits(date.year() % 100);
            else
                out += QString::number(date.dayOfYear());
            afterHour = false;
        }
        else if (lower == u'h') {
            int hour = time.hour();
            if (twelveHour)
                hour = hour % 12 == 0 ? 12 : hour % 12;
            out += run >= 2 ? twoDigits(hour) : QString::number(hour);
            afterHour = true;
        }
        else if (lower == u'n') {
            out += run >= 2 ? twoDigits(time.minute()) : QString::number(time.minute());
            afterHour = false;
        }
        else if (lower == u's') {
            out += run >= 2 ? twoDigits(time.second()) : QString::number(time.second());
            afterHour = false;
        }
        else if (lower == u'q') {
            out += QString::number((date.month() - 1) / 3 + 1);
            afterHour = false;
        }
        else {
            out += pattern.mid(i, run);
        }
        i += run;
    }
    return out;
}

QString format(const QDate& value, const QString& pattern, const QLocale& locale)
{
    // Only the date and the time of day are read, so the day's midnight need not be placed in the local time
    // zone, which costs a look at the zone's rules on every call; a query's headers format hundreds of days.
    return format(QDateTime(value, QTime(0, 0), Qt::UTC), pattern, locale);
}

QString shortDateFormat(const QLocale& locale)
{
    QString date = locale.dateFormat(QLocale::ShortFormat);
    if (!date.contains(QLatin1StringView("yyyy")))
        date.replace(QLatin1StringView("yy"), QLatin1StringView("yyyy"));
    return date;
}

namespace {

// The locale's time with seconds, without the time zone that its long form carries.
QString generalTimeFormat(const QLocale& locale)
{
    QString out;
    bool quoted = false;
    for (const QChar c : locale.timeFormat(QLocale::LongFormat)) {
        if (c == u'\'')
            quoted = !quoted;
        if (quoted || c != u't')
            out += c;
    }
    return out.simplified();
}

} // namespace

QString generalDate(const QDateTime& value, const QLocale& locale)
{
    QString text = locale.toString(value.date(), shortDateFormat(locale));
    if (value.time() != QTime(0, 0))
        text += u' ' + locale.toString(value.time(), generalTimeFormat(locale));
    return text;
}

std::optional<QDateTime> parseGeneralDate(const QString& text, const QLocale& locale)
{
    const QString trimmed = text.trimmed();
    const QString dateFormat = shortDateFormat(locale);
    const QDateTime withTime = locale.toDateTime(trimmed, dateFormat + u' ' + generalTimeFormat(locale));
    if (withTime.isValid())
        return withTime;
    const QDate dateOnly = locale.toDate(trimmed, dateFormat);
    if (dateOnly.isValid())
        return QDateTime(dateOnly, QTime(0, 0));
    return std::nullopt;
}

} // namespace DateText
