// Date texts: the INI date format and the format codes users type.
#include "platform/OleDate.h"

#include <QLocale>
#include <QString>
#include <cctype>
#include <cstdio>
#include <vector>

namespace morvane {

namespace {

// ---- Locale formats (QLocale's pattern letters) ------------------------------------------

struct PatternToken
{
    char Letter = 0; // 0: Literal
    int Count = 0;
    QString Literal;
};

// Splits a QLocale pattern into letter runs and literal text; '...' quotes, '' is a quote.
std::vector<PatternToken> TokenizePattern(const QString& pattern)
{
    static const QString kLetters = QStringLiteral("dMyhHmszaApPt");
    std::vector<PatternToken> tokens;
    auto literal = [&tokens](QChar c) {
        if (tokens.empty() || tokens.back().Letter != 0)
            tokens.push_back(PatternToken{});
        tokens.back().Literal += c;
    };
    for (qsizetype i = 0; i < pattern.size();) {
        const QChar c = pattern[i];
        if (c == u'\'') {
            if (i + 1 < pattern.size() && pattern[i + 1] == u'\'') {
                literal(c);
                i += 2;
                continue;
            }
            ++i;
            while (i < pattern.size()) {
                if (pattern[i] == u'\'') {
                    if (i + 1 < pattern.size() && pattern[i + 1] == u'\'') {
                        literal(u'\'');
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                literal(pattern[i++]);
            }
            continue;
        }
        if (kLetters.contains(c)) {
            qsizetype j = i;
            while (j < pattern.size() && pattern[j] == c)
                ++j;
            tokens.push_back(PatternToken{static_cast<char>(c.unicode()), static_cast<int>(j - i), {}});
            i = j;
            continue;
        }
        literal(c);
        ++i;
    }
    return tokens;
}

bool IsSeparatorChar(QChar c)
{
    return c.isPunct() || c.isSymbol();
}

// The short date format of a locale, ready to write and read INI dates.
struct IniDateFormat
{
    std::vector<PatternToken> Tokens;
    std::array<QString, 12> ShortMonths;
    std::array<QString, 12> LongMonths;
    std::array<QString, 7> DayNames; // short and long together, Monday first
    std::array<QString, 7> ShortDayNames;
};

IniDateFormat MakeIniDateFormat(const QLocale& locale)
{
    IniDateFormat f;
    f.Tokens = TokenizePattern(locale.dateFormat(QLocale::ShortFormat));
    for (PatternToken& t : f.Tokens) {
        // A two-digit year would read 2026 back as 1926: every year is written in full.
        if (t.Letter == 'y')
            t.Count = 4;
        else if (t.Letter != 0 && t.Letter != 'd' && t.Letter != 'M') {
            // A time letter in a date pattern has nothing to show; keep it out of both ways.
            t = PatternToken{};
        }
    }
    for (int m = 0; m < 12; ++m) {
        f.ShortMonths[m] = locale.monthName(m + 1, QLocale::ShortFormat);
        f.LongMonths[m] = locale.monthName(m + 1, QLocale::LongFormat);
    }
    for (int d = 0; d < 7; ++d) {
        f.DayNames[d] = locale.dayName(d + 1, QLocale::LongFormat);
        f.ShortDayNames[d] = locale.dayName(d + 1, QLocale::ShortFormat);
    }
    return f;
}

const IniDateFormat& SystemIniDateFormat()
{
    static const IniDateFormat format = MakeIniDateFormat(QLocale::system());
    return format;
}

// Monday 1 ... Sunday 7. 1899-12-30 was a Saturday.
int IsoWeekday(double date)
{
    const DateParts p = DecodeOleDate(date);
    const double day = EncodeOleDate(p.Year, p.Month, p.Day);
    const long long n = static_cast<long long>(day);
    return static_cast<int>(((n + 5) % 7 + 7) % 7) + 1;
}

QString Padded(int value, int width)
{
    return QString::number(value).rightJustified(width, u'0');
}

std::string FormatIniDateWith(double date, const IniDateFormat& f)
{
    const DateParts p = DecodeOleDate(date);
    QString out;
    for (const PatternToken& t : f.Tokens) {
        switch (t.Letter) {
        case 0:
            out += t.Literal;
            break;
        case 'd':
            if (t.Count <= 2)
                out += Padded(p.Day, t.Count);
            else
                out += (t.Count == 3 ? f.ShortDayNames : f.DayNames)[IsoWeekday(date) - 1];
            break;
        case 'M':
            if (t.Count <= 2)
                out += Padded(p.Month, t.Count);
            else
                out += (t.Count == 3 ? f.ShortMonths : f.LongMonths)[p.Month - 1];
            break;
        case 'y':
            out += Padded(p.Year, 4);
            break;
        default:
            break;
        }
    }
    std::string text = out.toStdString();
    if (p.Hour != 0 || p.Minute != 0 || p.Second != 0) {
        char buf[16];
        std::snprintf(buf, sizeof buf, " %02d:%02d:%02d", p.Hour, p.Minute, p.Second);
        text += buf;
    }
    return text;
}

// Reads up to maxDigits ASCII digits (at least minDigits) at pos.
bool ReadNumber(const QString& s, qsizetype& pos, int minDigits, int maxDigits, int& value)
{
    int n = 0;
    value = 0;
    while (pos < s.size() && n < maxDigits && s[pos] >= u'0' && s[pos] <= u'9') {
        value = value * 10 + (s[pos].unicode() - u'0');
        ++pos;
        ++n;
    }
    return n >= minDigits;
}

// Matches the longest of names at pos, ignoring case; returns its index or -1.
template <std::size_t N>
int ReadName(const QString& s, qsizetype& pos, const std::array<QString, N>& names)
{
    int best = -1;
    qsizetype bestLen = 0;
    for (std::size_t i = 0; i < N; ++i) {
        const QString& name = names[i];
        if (!name.isEmpty() && name.size() > bestLen &&
            QStringView(s).mid(pos, name.size()).compare(name, Qt::CaseInsensitive) == 0) {
            best = static_cast<int>(i);
            bestLen = name.size();
        }
    }
    pos += bestLen;
    return best;
}

int DaysInMonth(int year, int month)
{
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[month - 1];
}

bool ValidDate(int y, int m, int d)
{
    return y >= 1 && y <= 9999 && m >= 1 && m <= 12 && d >= 1 && d <= DaysInMonth(y, m);
}

std::optional<double> ParseDateWith(const QString& s, const IniDateFormat& f)
{
    int y = -1;
    int m = -1;
    int d = -1;
    qsizetype pos = 0;
    for (const PatternToken& t : f.Tokens) {
        switch (t.Letter) {
        case 0:
            for (const QChar c : t.Literal) {
                if (c.isSpace()) {
                    // Any run of blanks stands for a blank of the pattern.
                    if (pos >= s.size() || !s[pos].isSpace())
                        return std::nullopt;
                    while (pos < s.size() && s[pos].isSpace())
                        ++pos;
                } else if (pos < s.size() && s[pos] == c) {
                    ++pos;
                } else {
                    return std::nullopt;
                }
            }
            break;
        case 'd':
            if (t.Count <= 2) {
                if (!ReadNumber(s, pos, 1, 2, d))
                    return std::nullopt;
            } else if (ReadName(s, pos, f.DayNames) < 0 && ReadName(s, pos, f.ShortDayNames) < 0) {
                return std::nullopt;
            }
            break;
        case 'M':
            if (t.Count <= 2) {
                if (!ReadNumber(s, pos, 1, 2, m))
                    return std::nullopt;
            } else {
                int index = ReadName(s, pos, f.LongMonths);
                if (index < 0)
                    index = ReadName(s, pos, f.ShortMonths);
                if (index < 0)
                    return std::nullopt;
                m = index + 1;
            }
            break;
        case 'y':
            // Exactly four digits: a two-digit year is not guessed at.
            if (!ReadNumber(s, pos, 4, 4, y))
                return std::nullopt;
            break;
        default:
            break;
        }
    }
    if (pos != s.size() || !ValidDate(y, m, d))
        return std::nullopt;
    return EncodeOleDate(y, m, d);
}

// "H:mm:ss" or "H:mm", 24 hours; fraction of seconds only when allowFraction.
bool ParseTime(const QString& s, bool allowFraction, int& h, int& mi, int& sec, int& ms)
{
    qsizetype pos = 0;
    h = mi = sec = ms = 0;
    if (!ReadNumber(s, pos, 1, 2, h) || pos >= s.size() || s[pos++] != u':' || !ReadNumber(s, pos, 2, 2, mi))
        return false;
    if (pos < s.size()) {
        if (s[pos++] != u':' || !ReadNumber(s, pos, 2, 2, sec))
            return false;
        if (allowFraction && pos < s.size() && (s[pos] == u'.' || s[pos] == u',')) {
            ++pos;
            const qsizetype start = pos;
            int digits = 0;
            while (pos < s.size() && s[pos] >= u'0' && s[pos] <= u'9') {
                if (digits < 3)
                    ms = ms * 10 + (s[pos].unicode() - u'0');
                ++digits;
                ++pos;
            }
            if (pos == start)
                return false;
            for (int i = digits; i < 3; ++i)
                ms *= 10;
        }
    }
    return pos == s.size() && h <= 23 && mi <= 59 && sec <= 59;
}

// YYYY-MM-DD, optionally followed by "T" or a blank and a time.
std::optional<double> ParseIso(const QString& s)
{
    qsizetype pos = 0;
    int y = 0;
    int m = 0;
    int d = 0;
    if (!ReadNumber(s, pos, 4, 4, y) || pos >= s.size() || s[pos++] != u'-' || !ReadNumber(s, pos, 2, 2, m) ||
        pos >= s.size() || s[pos++] != u'-' || !ReadNumber(s, pos, 2, 2, d) || !ValidDate(y, m, d))
        return std::nullopt;
    if (pos == s.size())
        return EncodeOleDate(y, m, d);
    if (s[pos] != u'T' && s[pos] != u' ')
        return std::nullopt;
    int h = 0;
    int mi = 0;
    int sec = 0;
    int ms = 0;
    if (!ParseTime(s.mid(pos + 1), true, h, mi, sec, ms))
        return std::nullopt;
    return EncodeOleDate(y, m, d, h, mi, sec, ms);
}

std::optional<double> ParseIniDateWith(const std::string& text, const IniDateFormat& f)
{
    const QString s = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())).trimmed();
    if (s.isEmpty())
        return std::nullopt;
    // The time, when present, is the last blank-separated part.
    QString datePart = s;
    int h = 0;
    int mi = 0;
    int sec = 0;
    int ms = 0;
    qsizetype blank = s.size() - 1;
    while (blank >= 0 && !s[blank].isSpace())
        --blank;
    if (blank > 0 && ParseTime(s.mid(blank + 1), false, h, mi, sec, ms))
        datePart = s.left(blank).trimmed();
    else
        h = mi = sec = 0;
    if (const auto day = ParseDateWith(datePart, f)) {
        const DateParts p = DecodeOleDate(*day);
        return EncodeOleDate(p.Year, p.Month, p.Day, h, mi, sec);
    }
    return ParseIso(s);
}

// ---- Format codes ------------------------------------------------------------------------

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

std::string ZeroPadded(int value, int width)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "%0*d", width, value);
    return buf;
}

std::string FormatIniDate(double date)
{
    return FormatIniDateWith(date, SystemIniDateFormat());
}

std::optional<double> ParseIniDate(const std::string& text)
{
    return ParseIniDateWith(text, SystemIniDateFormat());
}

std::string FormatIniDate(double date, const QLocale& locale)
{
    return FormatIniDateWith(date, MakeIniDateFormat(locale));
}

std::optional<double> ParseIniDate(const std::string& text, const QLocale& locale)
{
    return ParseIniDateWith(text, MakeIniDateFormat(locale));
}

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
