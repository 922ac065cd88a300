// The broadcast clock: the TOT's time of day plus a count of ticks.
#ifndef KESTRIN_PLUGIN_BROADCAST_CLOCK_H
#define KESTRIN_PLUGIN_BROADCAST_CLOCK_H

#include <cstdint>

struct PluginState;

// Router handler for the TOT PID; lock held. A TOT sets the clock and
// restarts the tick count.
void ReadTot(PluginState& state, const uint8_t* packet);

// Advances the tick count by one second and formats the clock into `text`
// (kClockTextSize bytes). False when nothing is to be shown: no TOT yet, or
// no window. Takes the lock itself.
bool AdvanceBroadcastClock(PluginState& state, char* text);

#endif
