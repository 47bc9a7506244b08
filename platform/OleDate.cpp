// Stand-in so this branch links on its own; the full date module replaces this file.
#include "platform/OleDate.h"

namespace morvane {

double EncodeOleDate(int year, int month, int day, int hour, int minute, int second, int ms)
{
    // Days from the civil calendar (proleptic Gregorian), counted from 1899-12-30.
    const int y = year - (month <= 2 ? 1 : 0);
    const int era = (y >= 0 ? y : y - 399) / 400;
    const int yoe = y - era * 400;
    const int doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const long days = static_cast<long>(era) * 146097 + doe - 719468; // since 1970-01-01
    const double whole = static_cast<double>(days + 25569);
    const double frac = (hour * 3600000.0 + minute * 60000.0 + second * 1000.0 + ms) / 86400000.0;
    return whole + frac;
}

} // namespace morvane
