#include "plugin/plugin_core.h"

#include <cstdio>
#include <cstring>

#include "plugin/plugin_state.h"
#include "ui/resource.h"

const int32_t kChannelButtonIds[12] = {IDC_CH1, IDC_CH2, IDC_CH3, IDC_CH4,  IDC_CH5,  IDC_CH6,
                                       IDC_CH7, IDC_CH8, IDC_CH9, IDC_CH10, IDC_CH11, IDC_CH12};

static void ResetAssembler(SectionAssembler& a) {
    a.bytesCollected = 0;
    a.inProgress = 0;
    a.expectedCounter = 0;
}

void InitPluginState(PluginState& s, Platform* platform) {
    s.platform = platform;
    s.hasWindow = false;
    s.host = nullptr;
    s.active = 1;
    s.currentChannel = -1;
    s.currentService = 0;

    s.settingsPath[0] = '\0';
    s.templateChoice = 0;
    for (int32_t i = 0; i < kChannelButtonCount; ++i) s.channelTable[i] = 0;
    s.windowLeft = 0;
    s.windowTop = 0;
    s.windowInitialised = false;

    ResetAssembler(s.presentAssembler);
    ResetAssembler(s.followingAssembler);
    ResetAssembler(s.sdtAssembler);
    ResetAssembler(s.pmtAssembler);
    s.presentMailbox.length = 0;
    s.followingMailbox.length = 0;
    s.sdtMailbox.length = 0;

    std::memset(s.esPidTable.entries, 0, sizeof s.esPidTable.entries);
    s.esPidTable.count = 0;
    s.programNumber = 0;
    s.pmtKey = 0;

    s.clockHour = 0;
    s.clockMinute = 0;
    s.clockSecond = 0;
    s.tickCount = -100;

    s.viewSelector = 0;
    s.presentText[0] = '\0';
    s.followingText[0] = '\0';
    s.lastPresentKey = 0;
    s.lastFollowingKey = 0;
    s.eventYear = 0;
    s.eventMonth = 0;
    s.eventDay = 0;
    s.presentEndHour = s.presentEndMinute = s.presentEndSecond = -1;
    s.followingStartHour = s.followingStartMinute = s.followingStartSecond = -1;
    s.followingDurationHours = s.followingDurationMinutes = -1;

    std::memset(s.serviceName, 0, sizeof s.serviceName);
    s.lastSdtKey = 0;

    s.recordingFlag = 0;
    s.recordingFile = kInvalidFileHandle;
    s.recordLabelPending = false;
}

int32_t PluginSetHost(PluginState& s, void* host, uint32_t sdkVersion) {
    if (sdkVersion < kMinimumSdkVersion) {
        s.platform->ShowError("Wrong SDK Version", "Error");
        return 0;
    }
    s.host = host;
    return 1;
}

int32_t PluginOnChannelChange(PluginState& s, int32_t channel, int32_t serviceId) {
    // Button labels first, without the lock: SetControlText may wait for the
    // window's thread. The channel fields belong to the thread that reports
    // changes and to the window thread's button handler, which only reads
    // the channel table.
    int32_t oldChannel;
    {
        std::lock_guard<std::mutex> guard(s.lock);
        oldChannel = s.currentChannel;
        if (channel != oldChannel) s.currentChannel = channel;
    }
    if (channel != oldChannel) {
        char label[4];
        for (int32_t i = 0; i < kChannelButtonCount; ++i) {
            if (s.channelTable[i] == oldChannel) {
                std::snprintf(label, sizeof label, "%d", i + 1);
                s.platform->SetControlText(kChannelButtonIds[i], label);
            }
        }
        for (int32_t i = 0; i < kChannelButtonCount; ++i) {
            if (s.channelTable[i] == channel) {
                // Circled digits one to twelve: Shift_JIS 0x87 0x40 + (i - 1).
                label[0] = static_cast<char>(0x87);
                label[1] = static_cast<char>(0x40 + i);
                label[2] = '\0';
                s.platform->SetControlText(kChannelButtonIds[i], label);
            }
        }
    }

    std::lock_guard<std::mutex> guard(s.lock);
    if (serviceId != s.currentService) {
        s.currentService = serviceId;
        s.presentAssembler.inProgress = 0;
        s.followingAssembler.inProgress = 0;
        s.sdtAssembler.inProgress = 0;
        s.pmtAssembler.inProgress = 0;
        s.lastSdtKey = 0;
        s.pmtKey = 0;
        s.esPidTable.count = 0;
        s.viewSelector = 0;
        s.presentText[0] = '\0';
        s.followingText[0] = '\0';
        s.lastPresentKey = 0;
        s.lastFollowingKey = 0;
    }
    return 1;
}
