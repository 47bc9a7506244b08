// The INI date text: dates written and read in the desktop's short date format.
#include "platform/DatePattern.h"
#include "platform/OleDate.h"

#include <QLocale>
#include <QString>
#include <array>
#include <cstdio>
#include <vector>

namespace morvane {

namespace datetext {

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

// 1899-12-30 was a Saturday.
int IsoWeekday(double date)
{
    const DateParts p = DecodeOleDate(date);
    const double day = EncodeOleDate(p.Year, p.Month, p.Day);
    const long long n = static_cast<long long>(day);
    return static_cast<int>(((n + 5) % 7 + 7) % 7) + 1;
}

} // namespace datetext

namespace {

using datetext::IsoWeekday;
using datetext::PatternToken;
using datetext::TokenizePattern;

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

} // namespace morvane
