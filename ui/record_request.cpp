#include "ui/record_request.h"

#include <mutex>

#include "plugin/plugin_state.h"
#include "plugin/messages.h"
#include "ts/calendar.h"

namespace {

// Sent when the length of the programme is not known: three hours.
const uint32_t kUnknownLengthMinutes = 180;
// The following programme is requested this many seconds before its start.
const int64_t kStartLeadSeconds = 11;

// Seconds from the broadcast clock (plus the ticks since the last TOT) to the
// given time of day, wrapped once past midnight. The fields are kept as
// received (an undetermined BCD byte reads as 165), so the sum is formed in
// 64 bits where no combination of them can overflow.
int64_t SecondsUntil(const PluginState& s, int32_t hour, int32_t minute, int32_t second) {
    int64_t seconds = ((static_cast<int64_t>(hour) - s.clockHour) * 60 + minute - s.clockMinute) * 60 -
                      s.tickCount - s.clockSecond + second;
    if (seconds < 0) seconds += kSecondsPerDay;
    return seconds;
}

uint32_t Low16(int64_t value) { return static_cast<uint32_t>(static_cast<uint64_t>(value) & 0xFFFFu); }

}  // namespace

bool ComputeRecordingRequest(const PluginState& s, uint32_t& word) {
    // The request is for the programme the window shows. While a service
    // change waits for WM_SERVICE_VIEW, the window still names the view it
    // showed before; the times are the new service's (not known yet), so
    // the present view asks for the unknown length and the following view
    // asks for nothing, never for the old service's programme.
    const View view = s.serviceViewPending ? s.shownView : s.view;
    if (view != View::kFollowing) {
        // Present event: minutes until it ends, rounded up.
        uint32_t minutes = kUnknownLengthMinutes;
        if (s.presentEndHour >= 0 && s.presentEndMinute >= 0 && s.presentEndSecond >= 0) {
            const int64_t remaining =
                SecondsUntil(s, s.presentEndHour, s.presentEndMinute, s.presentEndSecond);
            const int64_t rounded = remaining / 60 + (remaining % 60 != 0 ? 1 : 0);
            minutes = Low16(rounded);
        }
        word = minutes;
        return true;
    }

    // Following event: wait until shortly before it starts, then record for
    // its duration plus a minute.
    if (s.followingStartMinute < 0 || s.followingStartMinute > 59) return false;
    int64_t delay = SecondsUntil(s, s.followingStartHour, s.followingStartMinute,
                                 s.followingStartSecond) -
                    kStartLeadSeconds;
    if (delay < 0) delay = 0;
    uint32_t minutes = kUnknownLengthMinutes;
    if (s.followingDurationMinutes >= 0 && s.followingDurationMinutes <= 59) {
        minutes = Low16(static_cast<int64_t>(s.followingDurationHours) * 60 +
                        s.followingDurationMinutes + 1);
    }
    word = (Low16(delay) << 16) | minutes;
    return true;
}

void SendRecordingRequest(PluginState& s) {
    uint32_t word = 0;
    bool send;
    {
        std::lock_guard<std::mutex> guard(s.lock);
        send = ComputeRecordingRequest(s, word);
    }
    if (send) s.platform->PostToOwner(WM_RECORD_REQUEST, word);
}
