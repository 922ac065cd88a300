// The broadcast clock as the viewer shows it.
#ifndef KESTRIN_TEXT_CLOCK_TEXT_H
#define KESTRIN_TEXT_CLOCK_TEXT_H

#include <cstdint>

// "HH:MM:SS" and the terminator.
const int32_t kClockTextSize = 9;

// Formats the TOT's time of day plus `ticks` seconds as "HH:MM:SS" into out
// (kClockTextSize bytes); the time of day is normalised fully, so any tick
// count and any decoded BCD value (up to 165) still give a valid time.
void FormatBroadcastClock(int32_t hour, int32_t minute, int32_t second, int32_t ticks, char* out);

#endif
