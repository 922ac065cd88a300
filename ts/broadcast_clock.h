// The broadcast clock: the TOT's time of day plus a tick count.
#ifndef KESTRIN_TS_BROADCAST_CLOCK_H
#define KESTRIN_TS_BROADCAST_CLOCK_H

#include <cstdint>

struct PluginState;

// Router handler for PID 0x0014; lock held.
void ReadTot(PluginState& state, const uint8_t* packet);

// Advances the tick count and shows the time on IDC_CLOCK. Called on the
// window thread without the lock; takes it itself.
void TickBroadcastClock(PluginState& state);

// Formats the clock for the given tick count as "HH:MM:SS" into out (at
// least 9 bytes); the time of day is normalised fully.
void FormatBroadcastClock(int32_t hour, int32_t minute, int32_t second, int32_t ticks, char* out);

#endif
