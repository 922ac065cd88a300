#include "plugin/plugin_core.h"

#include <cstdio>
#include <cstring>

#include "plugin/caption_handover.h"
#include "plugin/caption_reader.h"
#include "plugin/guide_store.h"
#include "plugin/plugin_state.h"
#include "plugin/section_handover.h"

namespace {

void ClearEventDetails(EventDetails& details) { ReadEventDetails(nullptr, 0, SymbolStyle::kUserDefined, details); }

// Everything that belongs to one service, as after construction: the
// sections being collected or handed over (a section handed over before a
// change is not shown after it), the keys, the programme map, the view and
// the stored events with their times and date (a recording request must
// not ask for the old programme's end or start), the guide and the caption
// selection.
void ForgetService(PluginState& s) {
    s.presentMailbox.length = 0;
    s.followingMailbox.length = 0;
    s.sdtMailbox.length = 0;
    ResetSectionAssembler(s.eitAssembler);
    ResetSectionAssembler(s.sdtAssembler);
    ResetSectionAssembler(s.pmtAssembler);
    s.lastSdtKey = 0;
    s.pmtKey = 0;
    s.esPidTable.count = 0;
    s.view = View::kPresent;
    s.presentText[0] = '\0';
    s.followingText[0] = '\0';
    ClearEventDetails(s.presentDetails);
    ClearEventDetails(s.followingDetails);
    s.presentDescription[0] = '\0';
    s.followingDescription[0] = '\0';
    s.presentTextCut = false;
    s.followingTextCut = false;
    s.lastPresentKey = 0;
    s.lastFollowingKey = 0;
    s.eventYear = 0;
    s.eventMonth = 0;
    s.eventDay = 0;
    s.presentEndHour = s.presentEndMinute = s.presentEndSecond = -1;
    s.followingStartHour = s.followingStartMinute = s.followingStartSecond = -1;
    s.followingDurationHours = s.followingDurationMinutes = -1;
    // The lower layers' counters start again too: a new service may come
    // from another channel and its reception.
    ResetLowerLayerEit(s.mediumEit);
    ResetLowerLayerEit(s.lowEit);
    ForgetServiceGuide(s);
    ForgetCaptionService(s);
}

// Whether the window may show something of the service being left: an event
// text of it (the window shows only texts taken from the state, and a text
// with an event is never empty), the following view, or a change that the
// window has not caught up with yet.
bool WindowMayShowService(const PluginState& s) {
    return s.view != View::kPresent || s.presentText[0] != '\0' || s.followingText[0] != '\0' ||
           s.serviceViewPending;
}

bool ButtonCarries(const PluginState& s, int32_t channel) {
    for (int32_t i = 0; i < kChannelButtonCount; ++i) {
        if (s.channelTable[i] == channel) return true;
    }
    return false;
}

}  // namespace

void InitPluginState(PluginState& s, Platform* platform) {
    s.platform = platform;
    // Not listed yet: no handle, no hold (ListPlugin).
    s.handle = 0;
    s.holds = 0;
    s.nextListed = nullptr;
    s.freeFunction = nullptr;
    s.freeOwner = nullptr;
    s.hasWindow = false;
    s.active = true;
    s.currentChannel = -1;
    s.currentService = 0;
    s.serviceGeneration = 0;

    s.settingsPath[0] = '\0';
    s.templateChoice = 0;
    s.symbolStyle = SymbolStyle::kUserDefined;
    for (int32_t i = 0; i < kChannelButtonCount; ++i) s.channelTable[i] = 0;
    s.windowLeft = 0;
    s.windowTop = 0;
    s.windowInitialised = false;
    s.circledChannel = -1;
    s.shownView = View::kPresent;
    s.serviceViewPending = false;

    ResetSectionAssembler(s.eitAssembler);
    ResetSectionAssembler(s.sdtAssembler);
    ResetSectionAssembler(s.pmtAssembler);
    std::memset(s.esPidTable.entries, 0, sizeof s.esPidTable.entries);
    s.programNumber = 0;

    s.clockHour = 0;
    s.clockMinute = 0;
    s.clockSecond = 0;
    s.tickCount = -100;

    InitCaptions(s);
    ForgetService(s);

    std::memset(s.serviceName, 0, sizeof s.serviceName);

    s.recording = false;
    s.recordingFile = kInvalidFileHandle;
    s.recordLabelPending = false;
    s.recordLabelRecording = false;
    s.recordPresses = 0;
    s.stagedCount = 0;
    s.claimedCount = 0;
    s.writerBusy = false;
    s.writerFile = kInvalidFileHandle;
    s.writerCloses = false;
    s.orphanFile = kInvalidFileHandle;
}

bool PluginSetHost(PluginState& s, uint32_t sdkVersion) {
    if (sdkVersion < kMinimumSdkVersion) {
        s.platform->ShowError("Wrong SDK Version", "Error");
        return false;
    }
    return true;
}

ChannelReport ChangeChannel(PluginState& s, int32_t channel, int32_t serviceId) {
    ChannelReport report = {false, false};
    std::lock_guard<std::mutex> guard(s.lock);
    const int32_t oldChannel = s.currentChannel;
    s.currentChannel = channel;
    // A channel reported again still asks the window to look: its buttons
    // may not show it yet (reported before the table was loaded).
    report.relabel = ButtonCarries(s, channel) || (channel != oldChannel && ButtonCarries(s, oldChannel));
    if (serviceId != s.currentService) {
        s.currentService = serviceId;
        ++s.serviceGeneration;
        if (WindowMayShowService(s)) {
            s.serviceViewPending = true;
            report.showService = true;
        }
        ForgetService(s);
    }
    return report;
}
