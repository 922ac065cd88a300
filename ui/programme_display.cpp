#include "ui/programme_display.h"

#include <cstdio>
#include <cstring>
#include <mutex>

#include "plugin/broadcast_clock.h"
#include "plugin/event_handlers.h"
#include "plugin/plugin_state.h"
#include "text/clock_text.h"
#include "text/event_details.h"
#include "ui/resource.h"

namespace {

// The caption: "番組情報（次番組）- " is 20 bytes and "番組情報（現在）- " 18,
// so any name of up to 31 bytes fits.
const int32_t kCaptionSize = 64;

// The tooltip of the event of `kind`, which IDC_INFO_TEXT has just been
// given. Formatted after the lock is released, on the window thread's stack.
void ShowEventToolTip(PluginState& state, View kind) {
    StoredEventDetails stored;
    CopyEventDetails(state, kind, stored);
    char tip[kTooltipTextSize];
    FormatEventDetailsTooltip(tip, kTooltipTextSize, stored.details, stored.description, stored.textCut);
    state.platform->SetToolTipText(IDC_INFO_TEXT, tip);
}

void HandleEvent(PluginState& state, View kind) {
    char shown[kEventTextSize];
    if (!HandleEventSection(state, kind, shown)) return;
    state.platform->SetControlText(IDC_INFO_TEXT, shown);
    ShowEventToolTip(state, kind);
}

}  // namespace

void HandlePresentEvent(PluginState& state) {
    HandleEvent(state, View::kPresent);
    TickBroadcastClock(state);
}

void HandleFollowingEvent(PluginState& state) { HandleEvent(state, View::kFollowing); }

void HandleServiceName(PluginState& state) {
    if (HandleServiceSection(state)) UpdateCaption(state);
}

void UpdateCaption(PluginState& state) {
    char name[kServiceNameSize];
    const View view = PrepareCaption(state, name);
    char caption[kCaptionSize];
    // The stored name is NUL-terminated within its 32 bytes; %.31s keeps the
    // print inside it whatever the field holds.
    if (view == View::kFollowing) {
        std::snprintf(caption, sizeof caption,
                      "\x94\xD4\x91\x67\x8F\xEE\x95\xF1\x81\x69\x8E\x9F\x94\xD4\x91\x67\x81\x6A- %.31s", name);
        state.platform->SetControlText(IDC_PRESENT_FOLLOWING, "\x8E\x9F");  // 次
        state.shownView = View::kFollowing;
    } else {
        std::snprintf(caption, sizeof caption,
                      "\x94\xD4\x91\x67\x8F\xEE\x95\xF1\x81\x69\x8C\xBB\x8D\xDD\x81\x6A- %.31s", name);
        state.platform->SetControlText(IDC_PRESENT_FOLLOWING, "\x8C\xBB");  // 現
        state.shownView = View::kPresent;
    }
    state.platform->SetWindowTitle(caption);
}

void ShowOtherView(PluginState& state) {
    {
        std::lock_guard<std::mutex> guard(state.lock);
        if (state.serviceViewPending) {
            // The window still names the view it showed before a service
            // change: the press switches from that one. From here on the
            // window shows the state again.
            state.view = state.shownView;
            state.serviceViewPending = false;
        }
    }
    char text[kEventTextSize];
    const View view = ToggleView(state, text);
    // No following section yet: the guide's programme after the one on air.
    if (view == View::kFollowing && text[0] == '\0') FollowingFromGuide(state, text);
    state.platform->SetControlText(IDC_INFO_TEXT, text);
    ShowEventToolTip(state, view);
    UpdateCaption(state);
}

void ShowServiceView(PluginState& state) {
    char text[kEventTextSize];
    View view;
    {
        std::lock_guard<std::mutex> guard(state.lock);
        // From here on the window shows the state again; a later change
        // posts anew.
        state.serviceViewPending = false;
        view = state.view;
        std::memcpy(text, view == View::kFollowing ? state.followingText : state.presentText, kEventTextSize);
    }
    text[kEventTextSize - 1] = '\0';
    state.platform->SetControlText(IDC_INFO_TEXT, text);
    ShowEventToolTip(state, view);
    UpdateCaption(state);
}

void TickBroadcastClock(PluginState& state) {
    char text[kClockTextSize];
    if (AdvanceBroadcastClock(state, text)) state.platform->SetControlText(IDC_CLOCK, text);
}
