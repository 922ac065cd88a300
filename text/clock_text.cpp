#include "text/clock_text.h"

#include <cstdio>

#include "ts/calendar.h"

void FormatBroadcastClock(int32_t hour, int32_t minute, int32_t second, int32_t ticks, char* out) {
    // The time of day from the whole count of seconds.
    int64_t total = static_cast<int64_t>(hour) * 3600 + static_cast<int64_t>(minute) * 60 + second + ticks;
    total %= kSecondsPerDay;
    if (total < 0) total += kSecondsPerDay;
    const int32_t t = static_cast<int32_t>(total);
    std::snprintf(out, kClockTextSize, "%2.2d:%2.2d:%2.2d", t / 3600, (t / 60) % 60, t % 60);
}
