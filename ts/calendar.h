// The broadcast calendar, one for the whole core: dates as the Modified
// Julian Date the EIT and TOT carry, times of day as two BCD digits a field,
// and "Japan seconds", the seconds since 1970-01-01 00:00 Japan time that
// the guide, the schedule and the recording request compute with.
//
// Every conversion is defined for every value it can be given: the civil
// date of any day (proleptic Gregorian, before 1970 and before 1900 too),
// and a weekday that is always 0..6, so that a table indexed by it is never
// read outside.
#ifndef KESTRIN_TS_CALENDAR_H
#define KESTRIN_TS_CALENDAR_H

#include <cstdint>

const int64_t kSecondsPerDay = 24 * 60 * 60;
// MJD of 1970-01-01, the day Japan seconds count from.
const int32_t kMjdOf1970 = 40587;

// Two BCD digits as a number, not range-tested: 0xFF reads as 165, which
// the callers treat as an undetermined field.
inline int32_t FromBcd(uint8_t b) { return (b >> 4) * 10 + (b & 0x0F); }
// Both digits 0..9.
inline bool IsBcd(uint8_t b) { return (b >> 4) <= 9 && (b & 0x0F) <= 9; }

struct CivilDate {
    int32_t year;
    int32_t month;    // 1..12
    int32_t day;      // 1..31
    int32_t weekday;  // 0 Sunday .. 6 Saturday
};

// The date of a day counted from 1970-01-01 (negative before it).
CivilDate CivilDateOfDay(int64_t daysSince1970);
// The date of an MJD.
CivilDate CivilDateOfMjd(int32_t mjd);
// The day counted from 1970-01-01 of a civil date (month 1..12, day 1..31;
// other values are not checked and give a day near by).
int64_t DayOfCivilDate(int32_t year, int32_t month, int32_t day);

// The day (floor) and the second within it, 0..86399, of a time in Japan
// seconds; negative times fall on days before 1970.
int64_t DayOfJapanSeconds(int64_t japanSeconds);
int32_t SecondOfDay(int64_t japanSeconds);

// Japan seconds of the MJD's midnight plus `secondOfDay`.
inline int64_t JapanSecondsOf(int32_t mjd, int64_t secondOfDay) {
    return (static_cast<int64_t>(mjd) - kMjdOf1970) * kSecondsPerDay + secondOfDay;
}

#endif
