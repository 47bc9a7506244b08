#include "common/TestSupport.h"
#include "platform/OleDate.h"

#include <QDateTime>
#include <QLocale>
#include <QProcess>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace morvane {
namespace {

// Cases are named by position; failure messages show the values themselves.
struct IndexName
{
    template <class T>
    std::string operator()(const ::testing::TestParamInfo<T>& info) const
    {
        return "Case" + std::to_string(info.index);
    }
};

bool SameBits(double a, double b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

double Encode(const QDateTime& t)
{
    const QDate d = t.date();
    const QTime c = t.time();
    return EncodeOleDate(d.year(), d.month(), d.day(), c.hour(), c.minute(), c.second(), c.msec());
}

// ---- Encoding ----------------------------------------------------------------------------

TEST(OleDate, KnownDays)
{
    EXPECT_EQ(EncodeOleDate(1899, 12, 30), 0.0);
    EXPECT_EQ(EncodeOleDate(1900, 1, 1), kZeroDuration);
    EXPECT_EQ(EncodeOleDate(1970, 1, 1), 25569.0);
    EXPECT_EQ(EncodeOleDate(2000, 1, 1), 36526.0);
    EXPECT_EQ(EncodeOleDate(2026, 12, 8, 12), 46364.5);
    EXPECT_EQ(EncodeOleDate(1900, 1, 1, 2), 2.0 + 1.0 / 12.0);
    // Before the epoch the fraction still counts forward into the day.
    EXPECT_EQ(EncodeOleDate(1899, 12, 29, 6), -1.25);
    EXPECT_EQ(EncodeOleDate(2024, 2, 30), EncodeOleDate(2024, 3, 1)); // runs past the month
    EXPECT_EQ(EncodeOleDate(2026, 12, 8, 24), EncodeOleDate(2026, 12, 9));
}

TEST(OleDate, DecodeInvertsEncodeToTheBit)
{
    const int times[][4] = {{0, 0, 0, 0},      {0, 0, 0, 1},    {0, 0, 1, 0},      {12, 0, 0, 0},
                            {12, 34, 56, 789}, {23, 59, 59, 0}, {23, 59, 59, 999}, {6, 0, 0, 500}};
    const double first = EncodeOleDate(100, 1, 1);
    const double last = EncodeOleDate(9999, 12, 31);
    int checked = 0;
    for (double day = first; day <= last; day += 97) {
        const DateParts base = DecodeOleDate(day);
        for (const auto& t : times) {
            const double date = EncodeOleDate(base.Year, base.Month, base.Day, t[0], t[1], t[2], t[3]);
            const DateParts p = DecodeOleDate(date);
            ASSERT_EQ(p.Year * 10000 + p.Month * 100 + p.Day,
                      base.Year * 10000 + base.Month * 100 + base.Day);
            ASSERT_EQ(p.Hour * 10000000 + p.Minute * 100000 + p.Second * 1000 + p.Ms,
                      t[0] * 10000000 + t[1] * 100000 + t[2] * 1000 + t[3]);
            ASSERT_TRUE(
                SameBits(EncodeOleDate(p.Year, p.Month, p.Day, p.Hour, p.Minute, p.Second, p.Ms), date))
                << date;
            ++checked;
        }
    }
    EXPECT_GT(checked, 100000);
}

TEST(OleDate, DecodeRoundsToTheMillisecond)
{
    const double ms = 1.0 / 86400000.0;
    const double late = EncodeOleDate(2026, 12, 8, 23, 59, 59, 999);
    DateParts p = DecodeOleDate(late + 0.4 * ms);
    EXPECT_EQ(p.Ms, 999);
    p = DecodeOleDate(late + 0.6 * ms);
    EXPECT_EQ(p.Day, 9);
    EXPECT_EQ(p.Hour + p.Minute + p.Second + p.Ms, 0);

    p = DecodeOleDate(-1.25);
    EXPECT_EQ(p.Year * 10000 + p.Month * 100 + p.Day, 18991229);
    EXPECT_EQ(p.Hour, 6);
    for (double bad : {double(NAN), double(INFINITY), -double(INFINITY), 1e300}) {
        p = DecodeOleDate(bad);
        EXPECT_EQ(p.Year * 10000 + p.Month * 100 + p.Day, 18991230);
    }
}

TEST(OleDate, NowIsLocalTime)
{
    const double before = Encode(QDateTime::currentDateTime());
    const double now = Now();
    const double after = Encode(QDateTime::currentDateTime());
    EXPECT_LE(before, now);
    EXPECT_LE(now, after);
}

TEST(OleDate, FileDateIsLocalMtimeInWholeSeconds)
{
    test::TestEnv env;
    const std::string path = env.Work() + "f.txt";
    test::WriteFile(path, "x");
    const std::int64_t secs = 1796731509; // 2026-12-08
    const struct timespec times[2] = {{secs, 0}, {secs, 987654321}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);

    const auto date = FileDate(path);
    ASSERT_TRUE(date.has_value());
    EXPECT_TRUE(SameBits(*date, Encode(QDateTime::fromSecsSinceEpoch(secs))));
    const DateParts p = DecodeOleDate(*date);
    EXPECT_EQ(p.Ms, 0);
    // And what an INI file keeps of it comes back the same.
    EXPECT_TRUE(SameBits(ParseIniDate(FormatIniDate(*date)).value_or(0), *date));
    EXPECT_FALSE(FileDate(env.Work() + "missing").has_value());
}

// ---- INI date texts ----------------------------------------------------------------------

class IniDateLocale : public ::testing::TestWithParam<const char*>
{
};

TEST_P(IniDateLocale, RoundTripsToTheBit)
{
    const QLocale locale(QString::fromLatin1(GetParam()));
    std::vector<double> dates = {0.0,
                                 kZeroDuration,
                                 EncodeOleDate(1900, 1, 1, 2),
                                 EncodeOleDate(2026, 12, 8),
                                 EncodeOleDate(2026, 12, 8, 23, 59, 59),
                                 EncodeOleDate(2026, 12, 8, 0, 0, 1),
                                 EncodeOleDate(100, 1, 1),
                                 EncodeOleDate(999, 7, 4, 12),
                                 EncodeOleDate(9999, 12, 31, 23, 59, 59),
                                 EncodeOleDate(2024, 2, 29, 13, 5, 9)};
    for (double day = EncodeOleDate(1950, 1, 1); day < EncodeOleDate(2100, 1, 1); day += 13.0)
        dates.push_back(day); // midnights: no time part
    for (int i = 0; i < 2000; ++i) {
        const DateParts p = DecodeOleDate(EncodeOleDate(1990, 1, 1) + i * 7.3);
        dates.push_back(EncodeOleDate(p.Year, p.Month, p.Day, (i * 5) % 24, (i * 7) % 60, (i * 11) % 60));
    }
    for (double date : dates) {
        const std::string text = FormatIniDate(date, locale);
        const auto back = ParseIniDate(text, locale);
        ASSERT_TRUE(back.has_value()) << text;
        ASSERT_TRUE(SameBits(*back, date)) << text << " read as " << *back << " not " << date;
    }
}

INSTANTIATE_TEST_SUITE_P(Locales, IniDateLocale,
                         ::testing::Values("en_US", "de_DE", "C", "fr_FR", "ja_JP", "ko_KR", "hu_HU", "bg_BG",
                                           "ar_EG", "fa_IR", "th_TH", "sv_SE"),
                         [](const auto& info) { return std::string(info.param); });

TEST(IniDate, TextsOfTwoLocales)
{
    const QLocale us("en_US"); // M/d/yy
    const QLocale de("de_DE"); // dd.MM.yy
    const double date = EncodeOleDate(2026, 12, 8);
    EXPECT_EQ(FormatIniDate(date, us), "12/8/2026");
    EXPECT_EQ(FormatIniDate(date, de), "08.12.2026");
    EXPECT_EQ(FormatIniDate(EncodeOleDate(2026, 12, 8, 13, 5, 9), us), "12/8/2026 13:05:09");
    EXPECT_EQ(FormatIniDate(EncodeOleDate(2026, 12, 8, 0, 0, 0, 400), de), "08.12.2026");
    EXPECT_EQ(FormatIniDate(kZeroDuration, de), "01.01.1900");
    EXPECT_EQ(FormatIniDate(EncodeOleDate(1900, 1, 1, 2), us), "1/1/1900 02:00:00");
    EXPECT_EQ(FormatIniDate(date, QLocale::c()), "8 Dec 2026");
}

struct ParseCase
{
    const char* Text;
    double Expected; // NAN: does not parse
};

class IniDateParse : public ::testing::TestWithParam<ParseCase>
{
};

TEST_P(IniDateParse, UsLocaleThenIso)
{
    const auto got = ParseIniDate(GetParam().Text, QLocale("en_US"));
    if (std::isnan(GetParam().Expected)) {
        EXPECT_FALSE(got.has_value()) << GetParam().Text << " read as " << got.value_or(0);
    } else {
        ASSERT_TRUE(got.has_value()) << GetParam().Text;
        EXPECT_TRUE(SameBits(*got, GetParam().Expected)) << GetParam().Text << ": " << *got;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, IniDateParse,
    ::testing::Values(ParseCase{"12/8/2026", EncodeOleDate(2026, 12, 8)},
                      ParseCase{"  12/08/2026   7:05:09 ", EncodeOleDate(2026, 12, 8, 7, 5, 9)},
                      ParseCase{"12/8/2026 13:05", EncodeOleDate(2026, 12, 8, 13, 5)},
                      ParseCase{"2026-12-08", EncodeOleDate(2026, 12, 8)},
                      ParseCase{"2026-12-08T13:05:09", EncodeOleDate(2026, 12, 8, 13, 5, 9)},
                      ParseCase{"2026-12-08 13:05:09.25", EncodeOleDate(2026, 12, 8, 13, 5, 9, 250)},
                      ParseCase{"2/29/2024", EncodeOleDate(2024, 2, 29)},
                      ParseCase{"12/8/26", NAN}, // a two-digit year is not guessed at
                      ParseCase{"2/29/2023", NAN}, ParseCase{"13/1/2026", NAN}, ParseCase{"0/1/2026", NAN},
                      ParseCase{"12/8/2026 24:00:00", NAN}, ParseCase{"12/8/2026 12:60", NAN},
                      ParseCase{"12/8/2026x", NAN}, ParseCase{"08.12.2026", NAN}, ParseCase{"", NAN},
                      ParseCase{"   ", NAN}, ParseCase{"abc", NAN}, ParseCase{"2026-12-08Z", NAN},
                      ParseCase{"2026-13-08", NAN}, ParseCase{"\xff\xfe", NAN}),
    IndexName());

// The system locale is fixed when a process starts, so each locale runs in a child.
TEST(IniDate, SystemLocaleOfAChildProcess)
{
    struct Run
    {
        const char* Locale;
        const char* Midnight;
        const char* Afternoon;
    };
    for (const Run& run : {Run{"en_US.UTF-8", "12/8/2026", "12/8/2026 13:05:09"},
                           Run{"de_DE.UTF-8", "08.12.2026", "08.12.2026 13:05:09"}}) {
        QStringList args = {"2026", "12", "8", "0", "0", "0", "2026", "12", "8", "13", "5", "9"};
        for (int i = 0; i < 200; ++i) {
            args << QString::number(1900 + i * 3) << QString::number(1 + i % 12)
                 << QString::number(1 + i % 28) << QString::number(i % 24) << QString::number(i % 60)
                 << QString::number((i * 7) % 60);
        }
        QProcess child;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("LC_ALL", run.Locale);
        environment.insert("LANG", run.Locale);
        child.setProcessEnvironment(environment);
        child.start(QString::fromStdString(test::HelperPath("ini_date_child")), args);
        ASSERT_TRUE(child.waitForFinished(60000));
        const QStringList lines =
            QString::fromUtf8(child.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
        ASSERT_EQ(lines.size(), 202) << run.Locale;
        EXPECT_EQ(lines[0].toStdString(), std::string(run.Midnight) + "\tok");
        EXPECT_EQ(lines[1].toStdString(), std::string(run.Afternoon) + "\tok");
        for (const QString& line : lines)
            EXPECT_TRUE(line.endsWith("\tok")) << run.Locale << ": " << line.toStdString();
    }
}

// ---- Format codes ------------------------------------------------------------------------

struct FormatCase
{
    const char* Format;
    const char* Expected;
};

class DateFormatCodes : public ::testing::TestWithParam<FormatCase>
{
};

TEST_P(DateFormatCodes, Formats)
{
    DateFormatSettings s; // English names, "m/d/yyyy" and "h:nn:ss ampm"
    s.DateSeparator = "-";
    s.TimeSeparator = ".";
    const double date = EncodeOleDate(2026, 12, 8, 13, 5, 9, 42); // a Tuesday
    EXPECT_EQ(FormatDateTime(GetParam().Format, date, s), GetParam().Expected) << GetParam().Format;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DateFormatCodes,
    ::testing::Values(
        FormatCase{"yyyy/mm/dd", "2026-12-08"}, FormatCase{"d/m/yy", "8-12-26"}, FormatCase{"y", "26"},
        FormatCase{"yyy", "2026"}, FormatCase{"dd mmm yyyy", "08 Dec 2026"},
        FormatCase{"dddd d mmmm", "Tuesday 8 December"}, FormatCase{"ddd", "Tue"}, FormatCase{"DDD", "Tue"},
        FormatCase{"hh:mm", "13.05"}, FormatCase{"h:m:s", "13.5.9"}, FormatCase{"hh mm", "13 05"},
        FormatCase{"mm/dd hh:mm", "12-08 13.05"}, FormatCase{"hh:nn:ss.zzz", "13.05.09.042"},
        FormatCase{"z", "42"}, FormatCase{"h am/pm", "1 pm"}, FormatCase{"h AM/PM", "1 PM"},
        FormatCase{"hh a/p", "01 p"}, FormatCase{"h ampm", "1 PM"}, FormatCase{"HH:NN", "13.05"},
        FormatCase{"'d m y' \"h:n\"", "d m y h:n"}, FormatCase{"c", "12-8-2026 1.05.09 PM"},
        FormatCase{"", "12-8-2026 1.05.09 PM"}, FormatCase{"ddddd", "12-8-2026"},
        FormatCase{"dddddd", "Tuesday, December 8, 2026"}, FormatCase{"t", "1.05 PM"},
        FormatCase{"tt", "1.05.09 PM"}, FormatCase{"yyyy-mm-dd hh-nn", "2026-12-08 13-05"},
        FormatCase{"x q [é]", "x q [é]"}, FormatCase{"'open", "open"}),
    IndexName());

TEST(DateFormat, MidnightAndSettingsFromCallers)
{
    DateFormatSettings s;
    s.DateSeparator = "-";
    s.ShortDateFormat = "yyy-mm-dd"; // three letters y give the four-digit year
    s.LongTimeFormat = "h-mm-ss";
    EXPECT_EQ(FormatDateTime("c", EncodeOleDate(2026, 12, 8), s), "2026-12-08");
    EXPECT_EQ(FormatDateTime("c", EncodeOleDate(2026, 12, 8, 9, 3, 4), s), "2026-12-08 9-03-04");
    // A format that names itself ends instead of recursing forever.
    s.ShortDateFormat = "ddddd";
    EXPECT_EQ(FormatDateTime("ddddd", 0.0, s), "");
}

TEST(DateFormat, LocaleSettings)
{
    const double date = EncodeOleDate(2026, 12, 8, 13, 5, 9);
    const DateFormatSettings us = LocaleDateFormatSettings(QLocale("en_US"));
    EXPECT_EQ(us.ShortDateFormat, "m/d/yy");
    EXPECT_EQ(us.DateSeparator, "/");
    EXPECT_EQ(us.ShortTimeFormat, "h:nn ampm");
    EXPECT_EQ(us.LongTimeFormat, "h:nn:ss ampm");
    EXPECT_EQ(FormatDateTime("c", date, us), "12/8/26 1:05:09 PM");
    EXPECT_EQ(us.LongDayNames[0], "Sunday");

    const DateFormatSettings de = LocaleDateFormatSettings(QLocale("de_DE"));
    EXPECT_EQ(de.ShortDateFormat, "dd/mm/yy");
    EXPECT_EQ(de.DateSeparator, ".");
    EXPECT_EQ(FormatDateTime("c", date, de), "08.12.26 13:05:09");
    EXPECT_EQ(FormatDateTime("dddd, d. mmmm", date, de), "Dienstag, 8. Dezember");

    // The short formats come out as the locale itself writes them.
    const QDateTime qt(QDate(2026, 12, 8), QTime(13, 5, 9));
    for (const char* name : {"en_US", "de_DE", "fr_FR", "ja_JP", "cs_CZ", "hu_HU", "ko_KR", "zh_CN", "nl_NL",
                             "bg_BG", "sv_SE", "en_GB"}) {
        const QLocale locale(QString::fromLatin1(name));
        const DateFormatSettings s = LocaleDateFormatSettings(locale);
        EXPECT_EQ(FormatDateTime("ddddd", date, s),
                  locale.toString(qt.date(), QLocale::ShortFormat).toStdString())
            << name << " " << s.ShortDateFormat;
        EXPECT_EQ(FormatDateTime("t", date, s),
                  locale.toString(qt.time(), QLocale::ShortFormat).toStdString())
            << name << " " << s.ShortTimeFormat;
    }
}

} // namespace
} // namespace morvane
