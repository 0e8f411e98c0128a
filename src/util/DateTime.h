#pragma once
// Day-based local date-times: days since 30.12.1899, the fraction is the time of day, and 0
// means "not set". Stored and passed around as a plain double; converted to Qt at the edges.

#include "base/DayTime.h"

#include <QDateTime>
#include <QString>

// The current local date-time (LocalNow).
TDateTime Now();

// Local date and time of a QDateTime (converted to local time first), to the millisecond.
TDateTime DateTimeFromQt(const QDateTime& Value);
// The local QDateTime of a day-based value, rounded to the millisecond. 0 gives 30.12.1899 00:00.
// A value outside the years 1..9999 (or NaN) gives an invalid QDateTime.
QDateTime DateTimeToQt(TDateTime Value);

// Builds a date-time from its parts; false when a part is out of range.
bool TryEncodeDateTime(int Year, int Month, int Day, int Hour, int Minute, int Second, int MSec,
                       TDateTime& Value);

// Formats with a date-time pattern:
//   d dd       day (1 or 2 digits)        m mm     month (1 or 2 digits)
//   mmm mmmm   short and full month name  ddd dddd short and full day name
//   yy yyyy    year (2 or 4 digits)       h hh     hour (24-hour clock)
//   n nn       minute                     s ss     second
//   z zzz      millisecond                "..." '...' literal text
// An m or mm right after an hour stands for the minute. Month and day names come from the
// system locale (standalone forms, as a folder or heading shows them). Any other character is
// kept as it is ("." "-" " " ":" "/").
QString FormatDateTime(const QString& Pattern, TDateTime Value);

// Reads a date-time: first as "dd.mm.yyyy hh:nn:ss" (seconds and the time part are optional,
// day and month may have one digit), then in the system locale's short and long formats.
bool TryStrToDateTime(const QString& Text, TDateTime& Value);
// TryStrToDateTime, or Default when the text is not a date-time.
TDateTime StrToDateTimeDef(const QString& Text, TDateTime Default);

// The pattern used for date-times in settings files.
inline const QString SettingsDateTimeFormat = QStringLiteral("dd.mm.yyyy hh:nn:ss");
