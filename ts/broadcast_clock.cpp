#include "ts/broadcast_clock.h"

#include <cstdint>
#include <cstdio>

#include "plugin/plugin_state.h"
#include "ts/packet.h"
#include "ui/resource.h"

namespace {

const uint8_t kTotTableId = 0x73;
// JST_time: MJD at bytes 3-4, then hour, minute and second in BCD.
const int32_t kTotHourOffset = 5;
const int32_t kTotSecondOffset = 7;
const int32_t kSecondsPerDay = 24 * 60 * 60;
const size_t kClockTextSize = 9;  // "HH:MM:SS" and the terminator

// Two BCD digits, not range-tested: 0xFF reads as 165.
int32_t FromBcd(uint8_t b) { return (b >> 4) * 10 + (b & 0x0F); }

}  // namespace

void ReadTot(PluginState& state, const uint8_t* packet) {
    if (!PacketHasPusi(packet)) return;
    const int32_t s = PacketSectionStart(packet);
    // Only the first section of the packet is read, and only when its time
    // lies inside the packet.
    if (s < 0 || s + kTotSecondOffset >= kTsPacketSize || packet[s] != kTotTableId) return;
    state.clockHour = FromBcd(packet[s + kTotHourOffset]);
    state.clockMinute = FromBcd(packet[s + kTotHourOffset + 1]);
    state.clockSecond = FromBcd(packet[s + kTotSecondOffset]);
    state.tickCount = 0;
}

void FormatBroadcastClock(int32_t hour, int32_t minute, int32_t second, int32_t ticks, char* out) {
    // The time of day from the whole count of seconds, so that any tick
    // count and any decoded BCD value (up to 165) still give HH:MM:SS.
    int64_t total = static_cast<int64_t>(hour) * 3600 + static_cast<int64_t>(minute) * 60 + second + ticks;
    total %= kSecondsPerDay;
    if (total < 0) total += kSecondsPerDay;
    const int32_t t = static_cast<int32_t>(total);
    std::snprintf(out, kClockTextSize, "%2.2d:%2.2d:%2.2d", t / 3600, (t / 60) % 60, t % 60);
}

void TickBroadcastClock(PluginState& state) {
    char text[kClockTextSize];
    bool show;
    {
        std::lock_guard<std::mutex> guard(state.lock);
        // No TOT yet: the clock stays blank and the count stays negative.
        if (state.tickCount < 0) return;
        if (state.tickCount < INT32_MAX) ++state.tickCount;
        FormatBroadcastClock(state.clockHour, state.clockMinute, state.clockSecond, state.tickCount, text);
        show = state.hasWindow;
    }
    // Outside the lock: SetDlgItemTextA may wait for the window's thread.
    if (show) state.platform->SetControlText(IDC_CLOCK, text);
}
