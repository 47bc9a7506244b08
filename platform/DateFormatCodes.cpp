// The display format codes users type ("dd/mm/yyyy hh:nn"), and the desktop's settings
// they are read with.
#include "platform/DatePattern.h"
#include "platform/OleDate.h"

#include <QLocale>
#include <QString>
#include <cctype>
#include <vector>

namespace morvane {

namespace {

using datetext::IsoWeekday;
using datetext::IsSeparatorChar;
using datetext::PatternToken;
using datetext::TokenizePattern;

char Lower(char c)
{
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

bool StartsWithNoCase(const std::string& s, std::size_t pos, const char* word)
{
    for (std::size_t i = 0; word[i]; ++i) {
        if (pos + i >= s.size() || Lower(s[pos + i]) != word[i])
            return false;
    }
    return true;
}

// Whether the format holds an am/pm code outside quotes, which switches hours to 12.
bool HasAmPm(const std::string& f)
{
    for (std::size_t i = 0; i < f.size(); ++i) {
        if (f[i] == '"' || f[i] == '\'') {
            const std::size_t close = f.find(f[i], i + 1);
            if (close == std::string::npos)
                return false;
            i = close;
        } else if (StartsWithNoCase(f, i, "am/pm") || StartsWithNoCase(f, i, "a/p") ||
                   StartsWithNoCase(f, i, "ampm")) {
            return true;
        }
    }
    return false;
}

void FormatInto(std::string& out, const std::string& f, double date, const DateParts& p,
                const DateFormatSettings& s, int depth)
{
    // ddddd, t and c expand other formats; a format that names itself stops here.
    if (depth > 3)
        return;
    const bool twelve = HasAmPm(f);
    const auto nested = [&](const std::string& inner) {
        FormatInto(out, inner, date, p, s, depth + 1);
    };
    bool afterHour = false;
    std::size_t i = 0;
    while (i < f.size()) {
        const char c = f[i];
        if (c == '"' || c == '\'') {
            std::size_t close = f.find(c, i + 1);
            if (close == std::string::npos)
                close = f.size();
            out.append(f, i + 1, close - i - 1);
            i = close + 1;
            continue;
        }
        if (c == '/') {
            out += s.DateSeparator;
            ++i;
            continue;
        }
        if (c == ':') {
            out += s.TimeSeparator;
            ++i;
            continue;
        }
        if (StartsWithNoCase(f, i, "am/pm")) {
            out += p.Hour < 12 ? f.substr(i, 2) : f.substr(i + 3, 2);
            i += 5;
            continue;
        }
        if (StartsWithNoCase(f, i, "a/p")) {
            out += p.Hour < 12 ? f[i] : f[i + 2];
            i += 3;
            continue;
        }
        if (StartsWithNoCase(f, i, "ampm")) {
            out += p.Hour < 12 ? s.TimeAmString : s.TimePmString;
            i += 4;
            continue;
        }
        const char lc = Lower(c);
        std::size_t j = i;
        while (j < f.size() && Lower(f[j]) == lc)
            ++j;
        const int n = static_cast<int>(j - i);
        switch (lc) {
        case 'y':
            out += n <= 2 ? ZeroPadded(p.Year % 100, 2) : ZeroPadded(p.Year, 4);
            afterHour = false;
            break;
        case 'm':
            if (afterHour && n <= 2) {
                out += ZeroPadded(p.Minute, n);
            } else if (n <= 2) {
                out += ZeroPadded(p.Month, n);
            } else {
                out += (n == 3 ? s.ShortMonthNames : s.LongMonthNames)[p.Month - 1];
            }
            afterHour = false;
            break;
        case 'd': {
            const int weekday = IsoWeekday(date) % 7; // Sunday 0
            if (n <= 2)
                out += ZeroPadded(p.Day, n);
            else if (n == 3)
                out += s.ShortDayNames[weekday];
            else if (n == 4)
                out += s.LongDayNames[weekday];
            else
                nested(n == 5 ? s.ShortDateFormat : s.LongDateFormat);
            afterHour = false;
            break;
        }
        case 'h': {
            int hour = p.Hour;
            if (twelve)
                hour = hour % 12 == 0 ? 12 : hour % 12;
            out += ZeroPadded(hour, n == 1 ? 1 : 2);
            afterHour = true;
            break;
        }
        case 'n':
            out += ZeroPadded(p.Minute, n == 1 ? 1 : 2);
            afterHour = false;
            break;
        case 's':
            out += ZeroPadded(p.Second, n == 1 ? 1 : 2);
            afterHour = false;
            break;
        case 'z':
            out += ZeroPadded(p.Ms, n == 1 ? 1 : 3);
            afterHour = false;
            break;
        case 't':
            nested(n == 1 ? s.ShortTimeFormat : s.LongTimeFormat);
            afterHour = false;
            break;
        case 'c':
            nested(s.ShortDateFormat);
            if (p.Hour != 0 || p.Minute != 0 || p.Second != 0 || p.Ms != 0) {
                out += ' ';
                nested(s.LongTimeFormat);
            }
            afterHour = false;
            break;
        default:
            out.append(f, i, static_cast<std::size_t>(n));
            break;
        }
        i = j;
    }
}

// Turns a QLocale pattern into format codes. Literal text equal to the separator becomes
// "/" (or ":"), other letters are quoted, the time zone is left out.
std::string PatternToCodes(const QString& pattern, QChar separator, char separatorCode)
{
    std::string out;
    const std::vector<PatternToken> tokens = TokenizePattern(pattern);
    for (std::size_t k = 0; k < tokens.size(); ++k) {
        const PatternToken& t = tokens[k];
        const int n = t.Count;
        switch (t.Letter) {
        case 0: {
            std::string quoted;
            auto flush = [&] {
                if (!quoted.empty())
                    out += '"' + quoted + '"';
                quoted.clear();
            };
            for (const QChar c : t.Literal) {
                if (c == separator) {
                    flush();
                    out += separatorCode;
                } else if (c == u'"') {
                    flush();
                    out += "'\"'";
                } else if (c.unicode() < 128 && (c.isLetter() || c == u'/' || c == u':' || c == u'\'')) {
                    quoted += static_cast<char>(c.unicode());
                } else {
                    flush();
                    out += QString(c).toStdString();
                }
            }
            flush();
            break;
        }
        case 'd':
            out += std::string(static_cast<std::size_t>(std::min(n, 4)), 'd');
            break;
        case 'M':
            out += std::string(static_cast<std::size_t>(std::min(n, 4)), 'm');
            break;
        case 'y':
            out += n <= 2 ? "yy" : "yyyy";
            break;
        case 'h':
        case 'H':
            out += n == 1 ? "h" : "hh";
            break;
        case 'm':
            out += n == 1 ? "n" : "nn";
            break;
        case 's':
            out += n == 1 ? "s" : "ss";
            break;
        case 'z':
            out += n == 1 ? "z" : "zzz";
            break;
        case 'a':
        case 'A':
            out += "ampm";
            if (k + 1 < tokens.size() && (tokens[k + 1].Letter == 'p' || tokens[k + 1].Letter == 'P'))
                ++k;
            break;
        default: // time zone, stray letters
            break;
        }
    }
    const std::size_t b = out.find_first_not_of(' ');
    const std::size_t e = out.find_last_not_of(' ');
    return b == std::string::npos ? std::string() : out.substr(b, e - b + 1);
}

QChar FirstSeparator(const QString& pattern, QChar fallback)
{
    for (const PatternToken& t : TokenizePattern(pattern)) {
        if (t.Letter != 0)
            continue;
        for (const QChar c : t.Literal) {
            if (IsSeparatorChar(c))
                return c;
        }
    }
    return fallback;
}

} // namespace

DateFormatSettings LocaleDateFormatSettings(const QLocale& locale)
{
    DateFormatSettings s;
    const QString shortDate = locale.dateFormat(QLocale::ShortFormat);
    const QString shortTime = locale.timeFormat(QLocale::ShortFormat);
    const QChar dateSep = FirstSeparator(shortDate, u'/');
    const QChar timeSep = FirstSeparator(shortTime, u':');
    s.DateSeparator = QString(dateSep).toStdString();
    s.TimeSeparator = QString(timeSep).toStdString();
    s.ShortDateFormat = PatternToCodes(shortDate, dateSep, '/');
    s.LongDateFormat = PatternToCodes(locale.dateFormat(QLocale::LongFormat), QChar(), '/');
    s.ShortTimeFormat = PatternToCodes(shortTime, timeSep, ':');
    s.LongTimeFormat = PatternToCodes(locale.timeFormat(QLocale::LongFormat), timeSep, ':');
    s.TimeAmString = locale.amText().toStdString();
    s.TimePmString = locale.pmText().toStdString();
    for (int m = 0; m < 12; ++m) {
        s.ShortMonthNames[m] = locale.monthName(m + 1, QLocale::ShortFormat).toStdString();
        s.LongMonthNames[m] = locale.monthName(m + 1, QLocale::LongFormat).toStdString();
    }
    for (int d = 0; d < 7; ++d) {
        // Qt counts from Monday (1) to Sunday (7); the settings start on Sunday.
        const int qtDay = d == 0 ? 7 : d;
        s.ShortDayNames[d] = locale.dayName(qtDay, QLocale::ShortFormat).toStdString();
        s.LongDayNames[d] = locale.dayName(qtDay, QLocale::LongFormat).toStdString();
    }
    return s;
}

const DateFormatSettings& SystemDateFormatSettings()
{
    static const DateFormatSettings settings = LocaleDateFormatSettings(QLocale::system());
    return settings;
}

std::string FormatDateTime(const std::string& format, double date)
{
    return FormatDateTime(format, date, SystemDateFormatSettings());
}

std::string FormatDateTime(const std::string& format, double date, const DateFormatSettings& settings)
{
    std::string out;
    const DateParts parts = DecodeOleDate(date);
    FormatInto(out, format.empty() ? std::string("c") : format, date, parts, settings, 0);
    return out;
}

} // namespace morvane
