#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>

#include <optional>

namespace DateText {

// Formats with the classic date pattern letters, in any letter case:
//   d dd ddd dddd      day, two-digit day, short and long weekday name
//   m mm mmm mmmm      month, two-digit month, short and long month name; m or mm right after an hour
//                      (h or hh, separators aside) is the minute instead
//   y yy yyyy          day of the year, two- and four-digit year
//   h hh n nn s ss     hour (24-hour clock unless an AM/PM marker follows), minute, second
//   AM/PM am/pm A/P a/p AMPM   the half of the day; the hour is then on the 12-hour clock
//   q                  quarter
//   /  :               the locale's date and time separators
//   "text" \c          literal text and a literal character
// Names come from the locale. Any other character stands for itself.
QString format(const QDateTime& value, const QString& pattern, const QLocale& locale = QLocale());
QString format(const QDate& value, const QString& pattern, const QLocale& locale = QLocale());

// The locale's short date pattern (QLocale's form) with a four-digit year: the one way the program writes a
// date on screen and in reports.
QString shortDateFormat(const QLocale& locale = QLocale());

// The locale's general date text: the short date with a four-digit year, followed by the time (with
// seconds) only when the time of day is not midnight.
QString generalDate(const QDateTime& value, const QLocale& locale = QLocale());

// Reads a general date text back; nothing when the text is not one.
std::optional<QDateTime> parseGeneralDate(const QString& text, const QLocale& locale = QLocale());

} // namespace DateText
