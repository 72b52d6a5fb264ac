#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <ctime>

#include "QRMTime.h"

namespace {

// 2026-03-05 15:07:09 UTC, a Thursday.
const unsigned long long kThursdayAfternoon = 1772723229ULL;

class QRMTimeTest : public ::testing::Test {
protected:
    void SetUp() override { UseZone("UTC0"); }

    static void UseZone(const char* zone)
    {
        setenv("TZ", zone, 1);
        tzset();
    }
};

}  // namespace

TEST_F(QRMTimeTest, UnsetTimeConvertsToNothing)
{
    QRMTime unset;
    EXPECT_FALSE(unset.IsValid());
    EXPECT_EQ(0ull, unset.GetTime());

    QRMString text("stale", QRMString::QRM_ENCODING_UTF8);
    EXPECT_FALSE(unset.DateToString(text, true));
    EXPECT_TRUE(text.empty());
    text = QRMString("stale", QRMString::QRM_ENCODING_UTF8);
    EXPECT_FALSE(unset.DateToString(text, false));
    EXPECT_TRUE(text.empty());
    text = QRMString("stale", QRMString::QRM_ENCODING_UTF8);
    EXPECT_FALSE(unset.TimeToString(text));
    EXPECT_TRUE(text.empty());

    int fields[7] = {-7, -7, -7, -7, -7, -7, -7};
    EXPECT_FALSE(unset.GetTime(&fields[0], &fields[1], &fields[2], &fields[3], &fields[4],
                               &fields[5], &fields[6]));
    for (int f : fields)
        EXPECT_EQ(-7, f);
}

TEST_F(QRMTimeTest, FormatsDateAndTimeForTheLog)
{
    QRMTime t(kThursdayAfternoon);
    EXPECT_TRUE(t.IsValid());
    QRMString date, longDate, time;
    EXPECT_TRUE(t.DateToString(date, true));
    EXPECT_TRUE(t.DateToString(longDate, false));
    EXPECT_TRUE(t.TimeToString(time));
    EXPECT_EQ("3/5/2026", date.GetUTF8String());
    EXPECT_EQ("Thursday, March 05, 2026", longDate.GetUTF8String());
    EXPECT_EQ("03:07PM", time.GetUTF8String());
}

TEST_F(QRMTimeTest, OutputStringIsReplacedNotAppended)
{
    QRMTime t(kThursdayAfternoon);
    QRMString text("prefix ", QRMString::QRM_ENCODING_UTF8);
    EXPECT_TRUE(t.TimeToString(text));
    EXPECT_EQ("03:07PM", text.GetUTF8String());
    EXPECT_TRUE(t.DateToString(text, true));
    EXPECT_EQ("3/5/2026", text.GetUTF8String());
}

TEST_F(QRMTimeTest, LongDateCarriesTheCalendarYearAtTheYearBoundary)
{
    // 2021-01-01 belongs to ISO week 53 of 2020; the date must still say 2021.
    QRMTime newYear(1609502400ULL);
    QRMString text;
    EXPECT_TRUE(newYear.DateToString(text, false));
    EXPECT_EQ("Friday, January 01, 2021", text.GetUTF8String());
}

TEST_F(QRMTimeTest, TwelveHourClockAtMidnightAndNoon)
{
    QRMString text;
    EXPECT_TRUE(QRMTime(1772670600ULL).TimeToString(text));
    EXPECT_EQ("12:30AM", text.GetUTF8String());
    EXPECT_TRUE(QRMTime(1772712000ULL).TimeToString(text));
    EXPECT_EQ("12:00PM", text.GetUTF8String());
}

TEST_F(QRMTimeTest, ConversionsUseTheLocalZone)
{
    UseZone("EST5");   // UTC-5 all year
    QRMTime t(kThursdayAfternoon);
    QRMString time;
    EXPECT_TRUE(t.TimeToString(time));
    EXPECT_EQ("10:07AM", time.GetUTF8String());
    int hour = -1;
    EXPECT_TRUE(t.GetTime(nullptr, nullptr, nullptr, &hour, nullptr, nullptr, nullptr));
    EXPECT_EQ(10, hour);
}

TEST_F(QRMTimeTest, GetTimeIntoFields)
{
    QRMTime t(kThursdayAfternoon);
    int year, month, day, hour, minute, second, weekday;
    EXPECT_TRUE(t.GetTime(&year, &month, &day, &hour, &minute, &second, &weekday));
    EXPECT_EQ(2026, year);
    EXPECT_EQ(3, month);
    EXPECT_EQ(5, day);
    EXPECT_EQ(15, hour);
    EXPECT_EQ(7, minute);
    EXPECT_EQ(9, second);
    EXPECT_EQ(5, weekday);   // Sunday is 1
    EXPECT_TRUE(t.GetTime(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr));
}

TEST_F(QRMTimeTest, SetTimeFromFieldsRoundTrips)
{
    QRMTime t;
    EXPECT_TRUE(t.SetTime(2026, 3, 5, 15, 7, 9));
    EXPECT_EQ(kThursdayAfternoon, t.GetTime());

    // Local fields go through the zone, daylight saving decided by the date.
    UseZone("CET-1CEST,M3.5.0,M10.5.0/3");
    EXPECT_TRUE(t.SetTime(2026, 7, 1, 14, 0, 0));
    EXPECT_EQ(1782907200ULL, t.GetTime());   // 12:00 UTC, summer time
    int hour = -1;
    EXPECT_TRUE(t.GetTime(nullptr, nullptr, nullptr, &hour, nullptr, nullptr, nullptr));
    EXPECT_EQ(14, hour);
}

struct FieldCase {
    int year, month, day, hour, minute, second;
};

TEST_F(QRMTimeTest, SetTimeRefusesFieldsOutOfRange)
{
    const FieldCase refused[] = {
        {1600, 1, 1, 0, 0, 0}, {2026, 0, 1, 0, 0, 0},  {2026, 13, 1, 0, 0, 0},
        {2026, 1, 0, 0, 0, 0}, {2026, 1, 32, 0, 0, 0}, {2026, 1, 1, 24, 0, 0},
        {2026, 1, 1, 0, 60, 0}, {2026, 1, 1, 0, 0, 60}, {2026, 1, 1, -1, 0, 0},
        {2026, 1, 1, 0, -1, 0}, {2026, -1, 1, 0, 0, 0}, {10000, 1, 1, 0, 0, 0},
    };
    for (const FieldCase& c : refused) {
        QRMTime t(42);
        EXPECT_FALSE(t.SetTime(c.year, c.month, c.day, c.hour, c.minute, c.second))
            << c.year << "-" << c.month << "-" << c.day << " " << c.hour << ":" << c.minute
            << ":" << c.second;
        EXPECT_EQ(42ull, t.GetTime());
    }
    QRMTime early;
    EXPECT_TRUE(early.SetTime(1601, 1, 1, 0, 0, 0));
}

TEST_F(QRMTimeTest, DayPastMonthEndRollsOver)
{
    QRMTime t;
    EXPECT_TRUE(t.SetTime(2026, 2, 30, 0, 0, 0));
    EXPECT_EQ(1772409600ULL, t.GetTime());   // 2 March 2026
    EXPECT_TRUE(t.SetTime(2024, 2, 30, 0, 0, 0));
    EXPECT_EQ(1709251200ULL, t.GetTime());   // 1 March 2024, a leap year
}

TEST_F(QRMTimeTest, ComparesAsUnsignedNumbers)
{
    QRMTime max(ULLONG_MAX), one(1), other(1);
    EXPECT_TRUE(max > one);
    EXPECT_TRUE(one < max);
    EXPECT_FALSE(max < one);
    EXPECT_TRUE(one == other);
    EXPECT_TRUE(one.Equals(other));
    EXPECT_FALSE(one != other);
    EXPECT_TRUE(one != max);

    QRMTime copy(max), assigned;
    assigned = one;
    EXPECT_EQ(ULLONG_MAX, copy.GetTime());
    EXPECT_EQ(1ull, assigned.GetTime());
    assigned.SetTime(7);
    EXPECT_EQ(7ull, assigned.GetTime());
}

TEST_F(QRMTimeTest, CurrentTimeIsNow)
{
    const unsigned long long before = static_cast<unsigned long long>(time(nullptr));
    const unsigned long long now = QRMTime::CurrentTime();
    const unsigned long long after = static_cast<unsigned long long>(time(nullptr));
    EXPECT_GE(now, before);
    EXPECT_LE(now, after);
}

TEST(QRMGUIDTest, EqualityAndOrder)
{
    QRMGUID a, b;
    EXPECT_TRUE(a == b);
    EXPECT_FALSE(a != b);
    EXPECT_FALSE(a < b);
    EXPECT_FALSE(a > b);

    b.Data4[7] = 1;
    EXPECT_FALSE(a == b);
    EXPECT_TRUE(a != b);
    EXPECT_TRUE(a < b);
    EXPECT_TRUE(b > a);
    EXPECT_FALSE(a > b);

    QRMGUID c;
    c.Data1 = 0xFFFFFFFFu;
    EXPECT_TRUE(b < c);   // earlier fields decide first, as unsigned numbers
    c.Data1 = 0;
    c.Data2 = 1;
    EXPECT_TRUE(b < c);

    QRMGUID copy;
    copy = b;
    EXPECT_TRUE(copy == b);
}
