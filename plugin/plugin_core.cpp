#include "plugin/plugin_core.h"

#include <cstdio>
#include <cstring>

#include "plugin/caption_handover.h"
#include "plugin/caption_reader.h"
#include "plugin/plugin_state.h"

namespace {

void ClearEventDetails(EventDetails& details) { ReadEventDetails(nullptr, 0, SymbolStyle::kUserDefined, details); }

// Everything that belongs to one service, as after construction: the
// sections being collected or handed over (a section handed over before a
// change is not shown after it), the keys, the programme map, the view and
// the stored events.
void ForgetService(PluginState& s) {
    s.presentMailbox.length = 0;
    s.followingMailbox.length = 0;
    s.sdtMailbox.length = 0;
    s.presentAssembler.inProgress = false;
    s.followingAssembler.inProgress = false;
    s.sdtAssembler.inProgress = false;
    s.pmtAssembler.inProgress = false;
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
    ForgetCaptionService(s);
}

}  // namespace

void InitPluginState(PluginState& s, Platform* platform) {
    s.platform = platform;
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

    ResetSectionAssembler(s.presentAssembler);
    ResetSectionAssembler(s.followingAssembler);
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
    s.eventYear = 0;
    s.eventMonth = 0;
    s.eventDay = 0;
    s.presentEndHour = s.presentEndMinute = s.presentEndSecond = -1;
    s.followingStartHour = s.followingStartMinute = s.followingStartSecond = -1;
    s.followingDurationHours = s.followingDurationMinutes = -1;

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

int32_t ChangeChannel(PluginState& s, int32_t channel, int32_t serviceId) {
    std::lock_guard<std::mutex> guard(s.lock);
    const int32_t oldChannel = s.currentChannel;
    s.currentChannel = channel;
    if (serviceId != s.currentService) {
        s.currentService = serviceId;
        ++s.serviceGeneration;
        ForgetService(s);
    }
    return oldChannel;
}
