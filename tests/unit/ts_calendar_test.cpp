// The calendar of the core: MJD to civil date and weekday for every 16-bit
// MJD (before 1970 and before 1900 too), days and seconds of Japan time on
// both sides of 1970, and BCD fields.
#include <gtest/gtest.h>

#include <cstdint>

#include "ts/calendar.h"

namespace {

struct MjdCase {
    int32_t mjd;
    int32_t year, month, day, weekday;  // weekday 0 Sunday
};

TEST(Calendar, MjdToCivilDateAndWeekday) {
    const MjdCase cases[] = {
        {0, 1858, 11, 17, 3},      {1, 1858, 11, 18, 4},     {15078, 1900, 2, 28, 3},  {15079, 1900, 3, 1, 4},
        {40580, 1969, 12, 25, 4},  {40581, 1969, 12, 26, 5}, {40582, 1969, 12, 27, 6}, {40583, 1969, 12, 28, 0},
        {40584, 1969, 12, 29, 1},  {40585, 1969, 12, 30, 2}, {40586, 1969, 12, 31, 3}, {40587, 1970, 1, 1, 4},
        {45218, 1982, 9, 6, 1},    {51603, 2000, 2, 29, 2},  {61382, 2026, 12, 8, 2},  {0xFFFF, 2038, 4, 22, 4},
    };
    for (const MjdCase& c : cases) {
        const CivilDate d = CivilDateOfMjd(c.mjd);
        EXPECT_EQ(d.year, c.year) << c.mjd;
        EXPECT_EQ(d.month, c.month) << c.mjd;
        EXPECT_EQ(d.day, c.day) << c.mjd;
        EXPECT_EQ(d.weekday, c.weekday) << c.mjd;
    }
}

// Every 16-bit MJD: a valid date, a weekday inside the table, one day after
// the day before.
TEST(Calendar, EverySixteenBitMjdIsAValidDayAfterTheOneBefore) {
    CivilDate before = CivilDateOfMjd(0);
    int failures = 0;
    for (int32_t mjd = 1; mjd <= 0xFFFF && failures < 5; ++mjd) {
        const CivilDate d = CivilDateOfMjd(mjd);
        const bool valid = d.month >= 1 && d.month <= 12 && d.day >= 1 && d.day <= 31 && d.weekday >= 0 &&
                           d.weekday <= 6 && d.weekday == (before.weekday + 1) % 7;
        const bool next = (d.year == before.year && d.month == before.month && d.day == before.day + 1) ||
                          (d.day == 1 && ((d.year == before.year && d.month == before.month + 1) ||
                                          (d.year == before.year + 1 && d.month == 1 && before.month == 12)));
        // The civil date leads back to its day.
        const bool back = DayOfCivilDate(d.year, d.month, d.day) == static_cast<int64_t>(mjd) - kMjdOf1970;
        if (!valid || !next || !back) {
            ADD_FAILURE() << "MJD " << mjd << ": " << d.year << "-" << d.month << "-" << d.day << " w" << d.weekday;
            ++failures;
        }
        before = d;
    }
}

struct SecondsCase {
    int64_t japanSeconds;
    int64_t day;
    int32_t second;
};

TEST(Calendar, DaysAndSecondsOnBothSidesOf1970) {
    const SecondsCase cases[] = {
        {0, 0, 0},
        {86399, 0, 86399},
        {86400, 1, 0},
        {-1, -1, 86399},
        {-86400, -1, 0},
        {-86401, -2, 86399},
        {JapanSecondsOf(0, 0), -40587, 0},
        {JapanSecondsOf(61382, 22 * 3600), 61382 - 40587, 22 * 3600},
    };
    for (const SecondsCase& c : cases) {
        EXPECT_EQ(DayOfJapanSeconds(c.japanSeconds), c.day) << c.japanSeconds;
        EXPECT_EQ(SecondOfDay(c.japanSeconds), c.second) << c.japanSeconds;
    }
    EXPECT_EQ(CivilDateOfDay(DayOfJapanSeconds(-1)).day, 31);
}

TEST(Calendar, BcdFields) {
    EXPECT_EQ(FromBcd(0x59), 59);
    EXPECT_EQ(FromBcd(0xFF), 165);
    EXPECT_TRUE(IsBcd(0x99));
    EXPECT_FALSE(IsBcd(0x9A));
    EXPECT_FALSE(IsBcd(0xA0));
}

}  // namespace
