#include "ts/calendar.h"

CivilDate CivilDateOfDay(int64_t days) {
    CivilDate d;
    // 1970-01-01 was a Thursday; the remainder is taken into 0..6 whatever
    // the sign of the day.
    int64_t w = (days + 4) % 7;
    if (w < 0) w += 7;
    d.weekday = static_cast<int32_t>(w);
    // Days from civil dates, turned around (eras of 400 years, March first).
    const int64_t z = days + 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    d.day = static_cast<int32_t>(doy - (153 * mp + 2) / 5 + 1);
    d.month = static_cast<int32_t>(mp < 10 ? mp + 3 : mp - 9);
    d.year = static_cast<int32_t>(yoe + era * 400 + (d.month <= 2 ? 1 : 0));
    return d;
}

int64_t DayOfCivilDate(int32_t year, int32_t month, int32_t day) {
    // The inverse of CivilDateOfDay: eras of 400 years, the year from March.
    const int64_t y = static_cast<int64_t>(year) - (month <= 2 ? 1 : 0);
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t mp = month > 2 ? month - 3 : month + 9;
    const int64_t doy = (153 * mp + 2) / 5 + day - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

CivilDate CivilDateOfMjd(int32_t mjd) { return CivilDateOfDay(static_cast<int64_t>(mjd) - kMjdOf1970); }

int64_t DayOfJapanSeconds(int64_t japanSeconds) {
    int64_t day = japanSeconds / kSecondsPerDay;
    if (japanSeconds % kSecondsPerDay < 0) --day;
    return day;
}

int32_t SecondOfDay(int64_t japanSeconds) {
    int64_t r = japanSeconds % kSecondsPerDay;
    if (r < 0) r += kSecondsPerDay;
    return static_cast<int32_t>(r);
}
