#include "util/DateTime.h"

#include <QLocale>

#include <gtest/gtest.h>

#include <cmath>

namespace {

TDateTime Encode(int Y, int Mo, int D, int H = 0, int Mi = 0, int S = 0, int Ms = 0)
{
    TDateTime Value = 0;
    EXPECT_TRUE(TryEncodeDateTime(Y, Mo, D, H, Mi, S, Ms, Value));
    return Value;
}

TEST(DateTimeTest, CountsDaysFromTheBaseDate)
{
    EXPECT_DOUBLE_EQ(Encode(1899, 12, 30), 0.0);
    EXPECT_DOUBLE_EQ(Encode(1900, 1, 1, 12), 2.5);
    EXPECT_DOUBLE_EQ(Encode(2018, 3, 3, 6), 43162.25);
    // Before the base date the fraction still counts forward from midnight.
    EXPECT_DOUBLE_EQ(Encode(1899, 12, 29, 6), -1.25);
    TDateTime Value = 0;
    EXPECT_FALSE(TryEncodeDateTime(2018, 2, 30, 0, 0, 0, 0, Value));
    EXPECT_FALSE(TryEncodeDateTime(2018, 1, 1, 24, 0, 0, 0, Value));
}

TEST(DateTimeTest, ConvertsToAndFromQtToTheMillisecond)
{
    const QDateTime Moment(QDate(2026, 12, 10), QTime(23, 59, 59, 999));
    const TDateTime Value = DateTimeFromQt(Moment);
    EXPECT_EQ(DateTimeToQt(Value), Moment);
    EXPECT_EQ(DateTimeToQt(-1.25), QDateTime(QDate(1899, 12, 29), QTime(6, 0)));
    EXPECT_EQ(DateTimeToQt(0), QDateTime(QDate(1899, 12, 30), QTime(0, 0)));
    // A value a hair below midnight rounds to the next day, not to 24:00.
    EXPECT_EQ(DateTimeToQt(Encode(2018, 3, 3) - 1e-10), QDateTime(QDate(2018, 3, 3), QTime(0, 0)));
    EXPECT_EQ(DateTimeFromQt(QDateTime()), 0.0);
}

TEST(DateTimeTest, ValuesBeyondTheCalendarAreNoDate)
{
    EXPECT_EQ(DateTimeToQt(Encode(9999, 12, 31, 23, 59, 59, 999)),
              QDateTime(QDate(9999, 12, 31), QTime(23, 59, 59, 999)));
    EXPECT_EQ(DateTimeToQt(Encode(1, 1, 1, 12)), QDateTime(QDate(1, 1, 1), QTime(12, 0)));
    for (const double Bad : {std::nan(""), HUGE_VAL, -HUGE_VAL, 1e300, -1e300, 2958466.0, -693595.0}) {
        EXPECT_FALSE(DateTimeToQt(Bad).isValid()) << Bad;
        EXPECT_EQ(FormatDateTime("mmmm", Bad), "") << Bad;
    }
}

TEST(DateTimeTest, NowFollowsTheClock)
{
    const TDateTime Before = DateTimeFromQt(QDateTime::currentDateTime());
    const TDateTime Value = Now();
    const TDateTime After = DateTimeFromQt(QDateTime::currentDateTime());
    EXPECT_LE(Before, Value);
    EXPECT_LE(Value, After);
}

TEST(DateTimeTest, FormatsThePatternsInUse)
{
    const TDateTime Value = Encode(2018, 3, 3, 7, 5, 9, 42);
    const QLocale Locale = QLocale::system();
    struct Case {
        const char* Pattern;
        QString Expected;
    };
    const Case Cases[] = {
        {"dd.mm.yyyy hh:nn:ss", "03.03.2018 07:05:09"},
        {"dd.mm.yy hh:nn:ss", "03.03.18 07:05:09"},
        {"-yyyy-mm-dd", "-2018-03-03"},
        {"dd-mm-yy", "03-03-18"},
        {"hh:nn:ss", "07:05:09"},
        {"nn:ss.zzz", "05:09.042"},
        {"d.m.yy h:n:s", "3.3.18 7:5:9"},
        {"hh:mm", "07:05"},  // m right after an hour is the minute
        {"yyyy", "2018"},
        {"mmmm", Locale.standaloneMonthName(3, QLocale::LongFormat)},
        {"mmm", Locale.standaloneMonthName(3, QLocale::ShortFormat)},
        {"yyyy/mmmm/dd-mm-yy", "2018/" + Locale.standaloneMonthName(3, QLocale::LongFormat) + "/03-03-18"},
        {"\"day\" d 'of' mmmm", "day 3 of " + Locale.standaloneMonthName(3, QLocale::LongFormat)},
        {"DD.MM.YYYY", "03.03.2018"},
    };
    for (const Case& C : Cases)
        EXPECT_EQ(FormatDateTime(QString::fromLatin1(C.Pattern), Value), C.Expected) << C.Pattern;
}

TEST(DateTimeTest, FullMonthNamesAreTheLocaleNames)
{
    for (int Month = 1; Month <= 12; ++Month) {
        const QString Name = FormatDateTime("mmmm", Encode(2020, Month, 15));
        EXPECT_FALSE(Name.isEmpty());
        EXPECT_EQ(Name, QLocale::system().standaloneMonthName(Month, QLocale::LongFormat));
    }
}

TEST(DateTimeTest, ParsesTheSettingsFormatFirst)
{
    struct Case {
        const char* Text;
        TDateTime Expected;
    };
    const Case Cases[] = {
        {"03.04.2018 07:05:09", Encode(2018, 4, 3, 7, 5, 9)},
        {"  3.4.2018 7:05  ", Encode(2018, 4, 3, 7, 5)},
        {"03.04.2018", Encode(2018, 4, 3)},
        {"31.12.1899 00:00:00", 1.0},
    };
    for (const Case& C : Cases) {
        TDateTime Value = -7;
        ASSERT_TRUE(TryStrToDateTime(QString::fromLatin1(C.Text), Value)) << C.Text;
        EXPECT_NEAR(Value, C.Expected, 1e-9) << C.Text;
    }
    TDateTime Value = 5;
    for (const char* Bad : {"", "abc", "32.01.2018 00:00:00", "01.13.2018", "01.01.2018 25:00:00"}) {
        EXPECT_FALSE(TryStrToDateTime(QString::fromLatin1(Bad), Value)) << Bad;
        EXPECT_EQ(StrToDateTimeDef(QString::fromLatin1(Bad), 5), 5) << Bad;
    }
    EXPECT_EQ(Value, 5);
}

TEST(DateTimeTest, ParsesTheLocaleFormatSecond)
{
    const QDateTime Moment(QDate(2019, 11, 25), QTime(14, 30));
    const QString Text = QLocale::system().toString(Moment, QLocale::ShortFormat);
    TDateTime Value = 0;
    ASSERT_TRUE(TryStrToDateTime(Text, Value)) << Text.toStdString();
    EXPECT_EQ(DateTimeToQt(Value), Moment);
}

TEST(DateTimeTest, FormattedSettingsTextParsesBack)
{
    const TDateTime Value = Encode(2026, 12, 10, 3, 4, 5);
    EXPECT_DOUBLE_EQ(StrToDateTimeDef(FormatDateTime(SettingsDateTimeFormat, Value), 0), Value);
}

}  // namespace
