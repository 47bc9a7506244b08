#include "platform/OleDate.h"

#include <cmath>
#include <cstdint>
#include <ctime>
#include <sys/stat.h>

namespace morvane {

namespace {

constexpr std::int64_t kMsPerDay = 86400000;
// Day number of 1899-12-30 counted from 1970-01-01.
constexpr std::int64_t kOleEpoch = -25569;
// Far outside every date the system meets (years 100 to 9999 span about 3.6 million
// days); keeps day arithmetic well inside 64 bits for any double it is handed.
constexpr double kMaxDays = 1e8;

// Days from 1970-01-01 in the proleptic Gregorian calendar; day may run past the month's end.
std::int64_t DaysFromCivil(std::int64_t y, int m, int d)
{
    // Bring the month into 1..12 first so that the year carries.
    y += (m - 1) >= 0 ? (m - 1) / 12 : -((12 - m) / 12);
    m = ((m - 1) % 12 + 12) % 12 + 1;
    y -= m <= 2 ? 1 : 0;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const std::int64_t yoe = y - era * 400;
    const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void CivilFromDays(std::int64_t z, int& y, int& m, int& d)
{
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const std::int64_t doe = z - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = static_cast<int>(yoe + era * 400 + (m <= 2 ? 1 : 0));
}

double EncodeLocal(std::time_t seconds, int ms)
{
    tm tm = {};
    if (!::localtime_r(&seconds, &tm))
        return 0.0;
    return EncodeOleDate(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min,
                         tm.tm_sec > 59 ? 59 : tm.tm_sec, ms);
}

} // namespace

double EncodeOleDate(int year, int month, int day, int hour, int minute, int second, int ms)
{
    std::int64_t msOfDay = ((std::int64_t(hour) * 3600 + std::int64_t(minute) * 60 + second) * 1000) + ms;
    std::int64_t days = DaysFromCivil(year, month, day) - kOleEpoch;
    // A time past the day's end (or before its start) moves the day.
    days += msOfDay >= 0 ? msOfDay / kMsPerDay : -((kMsPerDay - 1 - msOfDay) / kMsPerDay);
    msOfDay = ((msOfDay % kMsPerDay) + kMsPerDay) % kMsPerDay;
    const double fraction = static_cast<double>(msOfDay) / static_cast<double>(kMsPerDay);
    // Before 1899-12-30 the whole part counts back while the fraction still counts forward
    // into that day, so the fraction is subtracted.
    return days >= 0 ? static_cast<double>(days) + fraction : static_cast<double>(days) - fraction;
}

DateParts DecodeOleDate(double date)
{
    DateParts parts;
    if (!std::isfinite(date) || std::fabs(date) > kMaxDays)
        return parts;
    const double whole = std::trunc(date);
    std::int64_t days = static_cast<std::int64_t>(whole);
    std::int64_t msOfDay = std::llround(std::fabs(date - whole) * static_cast<double>(kMsPerDay));
    if (msOfDay >= kMsPerDay) {
        // Rounded up to the next midnight; the whole part names the calendar day either side
        // of the epoch, so the next calendar day is always one more.
        msOfDay -= kMsPerDay;
        days += 1;
    }
    CivilFromDays(days + kOleEpoch, parts.Year, parts.Month, parts.Day);
    parts.Hour = static_cast<int>(msOfDay / 3600000);
    parts.Minute = static_cast<int>(msOfDay / 60000 % 60);
    parts.Second = static_cast<int>(msOfDay / 1000 % 60);
    parts.Ms = static_cast<int>(msOfDay % 1000);
    return parts;
}

double Now()
{
    timespec ts = {};
    ::clock_gettime(CLOCK_REALTIME, &ts);
    return EncodeLocal(ts.tv_sec, static_cast<int>(ts.tv_nsec / 1000000));
}

std::optional<double> FileDate(const std::string& path)
{
    struct stat st = {};
    if (::stat(path.c_str(), &st) != 0)
        return std::nullopt;
    // tv_sec is already the whole second at or before the time, also before 1970.
    return EncodeLocal(st.st_mtim.tv_sec, 0);
}

double FileDateOfNs(long long mtimeNs)
{
    constexpr long long kNsPerSecond = 1000000000;
    // The whole second at or before the time, also before 1970.
    const long long seconds =
        mtimeNs >= 0 ? mtimeNs / kNsPerSecond : -((-mtimeNs + kNsPerSecond - 1) / kNsPerSecond);
    return EncodeLocal(static_cast<std::time_t>(seconds), 0);
}

} // namespace morvane
