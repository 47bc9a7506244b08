#pragma once

#include <array>
#include <optional>
#include <string>

class QLocale;

namespace morvane {

// OLE dates: days since 1899-12-30 00:00 as a double, the fraction being the time of day.
// 1900-01-01 00:00 is 2.0. A duration is stored as 1900-01-01 plus the duration.
inline constexpr double kZeroDuration = 2.0;

// The one encode function: every date the system builds goes through it, so equal
// calendar values always give equal bits. ms may be 0..999.
double EncodeOleDate(int year, int month, int day, int hour = 0, int minute = 0, int second = 0, int ms = 0);

struct DateParts
{
    int Year = 1899, Month = 12, Day = 30, Hour = 0, Minute = 0, Second = 0, Ms = 0;
};
// Splits a date into its calendar parts (rounded to the millisecond).
DateParts DecodeOleDate(double date);

// The current local time as an OLE date (millisecond resolution).
double Now();

// value in decimal with zeros in front up to width digits, as dates and stamps show numbers.
std::string ZeroPadded(int value, int width);

// A file's local modification time cut to whole seconds, or nothing when it is missing.
std::optional<double> FileDate(const std::string& path);
// The same date from a modification time already read, in nanoseconds since 1970.
double FileDateOfNs(long long mtimeNs);

// Date text of INI files: the system locale's short date format with a four-digit year,
// then, unless the time is 00:00:00, a blank and the 24-hour time with seconds. Reading
// takes that format, then ISO 8601; a text that does not parse gives nothing. A date
// written and read back is equal to the bit (whole seconds).
std::string FormatIniDate(double date);
std::optional<double> ParseIniDate(const std::string& text);
// The same with a given locale's short date format. Any thread.
std::string FormatIniDate(double date, const QLocale& locale);
std::optional<double> ParseIniDate(const std::string& text, const QLocale& locale);

// Formats with the format codes users type for DateFormat: d dd ddd dddd, m mm mmm mmmm,
// yy yyyy, h hh, n nn (minutes), s ss, z zzz, am/pm, "/" and ":" as the locale's
// separators, quoted text kept literally. "c" or an empty format gives the short date
// and, unless midnight, the long time. "m" right after an hour means minutes; three or
// more "y" give the four-digit year; ddddd and dddddd are the short and long date
// formats, t and tt the short and long time formats; a/p and ampm also select 12 hours.
std::string FormatDateTime(const std::string& format, double date);

// What FormatDateTime takes from a locale. Formats are written in the codes above, so a
// caller may replace any of them (or a separator) before formatting.
struct DateFormatSettings
{
    std::string DateSeparator = "/";
    std::string TimeSeparator = ":";
    std::string ShortDateFormat = "m/d/yyyy";
    std::string LongDateFormat = "dddd, mmmm d, yyyy";
    std::string ShortTimeFormat = "h:nn ampm";
    std::string LongTimeFormat = "h:nn:ss ampm";
    std::string TimeAmString = "AM";
    std::string TimePmString = "PM";
    std::array<std::string, 12> ShortMonthNames{"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::array<std::string, 12> LongMonthNames{"January",   "February", "March",    "April",
                                               "May",       "June",     "July",     "August",
                                               "September", "October",  "November", "December"};
    // Sunday first.
    std::array<std::string, 7> ShortDayNames{"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    std::array<std::string, 7> LongDayNames{"Sunday",   "Monday", "Tuesday", "Wednesday",
                                            "Thursday", "Friday", "Saturday"};
};
// A locale's settings, its formats turned into the codes above.
DateFormatSettings LocaleDateFormatSettings(const QLocale& locale);
// The system locale's settings, computed once. Any thread.
const DateFormatSettings& SystemDateFormatSettings();
std::string FormatDateTime(const std::string& format, double date, const DateFormatSettings& settings);

} // namespace morvane
