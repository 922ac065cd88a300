#include "plugin/broadcast_clock.h"

#include <cstdint>

#include "plugin/plugin_state.h"
#include "text/clock_text.h"
#include "ts/tot.h"

void ReadTot(PluginState& state, const uint8_t* packet) {
    TotTime time;
    if (!ReadTotTime(packet, time)) return;
    state.clockMjd = time.mjd;
    state.clockHour = time.hour;
    state.clockMinute = time.minute;
    state.clockSecond = time.second;
    state.tickCount = 0;
}

bool AdvanceBroadcastClock(PluginState& state, char* text) {
    std::lock_guard<std::mutex> guard(state.lock);
    // No TOT yet: the clock stays blank and the count stays negative.
    if (state.tickCount < 0) return false;
    if (state.tickCount < INT32_MAX) ++state.tickCount;
    FormatBroadcastClock(state.clockHour, state.clockMinute, state.clockSecond, state.tickCount, text);
    return state.hasWindow;
}
