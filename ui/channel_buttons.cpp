#include "ui/channel_buttons.h"

#include <cstdio>
#include <cstring>
#include <mutex>

#include "plugin/messages.h"
#include "plugin/plugin_core.h"
#include "plugin/plugin_state.h"
#include "plugin/settings.h"
#include "ui/resource.h"

const int32_t kChannelButtonIds[12] = {IDC_CH1, IDC_CH2, IDC_CH3, IDC_CH4,  IDC_CH5,  IDC_CH6,
                                       IDC_CH7, IDC_CH8, IDC_CH9, IDC_CH10, IDC_CH11, IDC_CH12};

int32_t ChannelButtonIndex(int32_t controlId) {
    for (int32_t i = 0; i < kChannelButtonCount; ++i) {
        if (kChannelButtonIds[i] == controlId) return i;
    }
    return -1;
}

int32_t TemplateForChoice(int32_t choice) {
    if (choice == 1) return IDD_VIEWER_HGP;
    if (choice == 2) return IDD_VIEWER_DF;
    return IDD_VIEWER_MS;
}

int32_t LoadSettingsBeforeWindow(PluginState& s) {
    LoadWindowSettings(s);
    return TemplateForChoice(s.templateChoice);
}

namespace {

// A button whose number cannot tune (an absent key, -1, or one outside
// 13..62) keeps its blank label whatever the host reports: the host's "no
// channel" (-1) and a stray number must neither circle nor number it.
bool ButtonShowsChannel(const PluginState& s, int32_t i, int32_t channel) {
    return s.channelTable[i] == channel && IsTunableChannel(channel);
}

void ShowPlainNumbers(PluginState& s, int32_t channel) {
    char label[4];
    for (int32_t i = 0; i < kChannelButtonCount; ++i) {
        if (ButtonShowsChannel(s, i, channel)) {
            std::snprintf(label, sizeof label, "%d", i + 1);
            s.platform->SetControlText(kChannelButtonIds[i], label);
        }
    }
}

void ShowCircledNumbers(PluginState& s, int32_t channel) {
    char label[3];
    for (int32_t i = 0; i < kChannelButtonCount; ++i) {
        if (ButtonShowsChannel(s, i, channel)) {
            // Circled digits one to twelve: Shift_JIS 0x87 0x40 + (i - 1).
            label[0] = static_cast<char>(0x87);
            label[1] = static_cast<char>(0x40 + i);
            label[2] = '\0';
            s.platform->SetControlText(kChannelButtonIds[i], label);
        }
    }
}

}  // namespace

void LoadChannelTable(PluginState& s) {
    // The settings file is read without the lock; the table is published
    // under it, as the host's thread may report a channel meanwhile and
    // reads the table then.
    int32_t table[kChannelButtonCount];
    ReadChannelTable(s, table);
    int32_t channel;
    {
        std::lock_guard<std::mutex> guard(s.lock);
        std::memcpy(s.channelTable, table, sizeof s.channelTable);
        channel = s.currentChannel;
    }
    // A button that cannot tune shows a blank label; its number stays in the
    // table (the host may still report that channel).
    for (int32_t i = 0; i < kChannelButtonCount; ++i) {
        if (!IsTunableChannel(s.channelTable[i])) s.platform->SetControlText(kChannelButtonIds[i], " ");
    }
    // The new dialog circles nothing yet. A channel the host reported
    // before the table was published (before the window existed, or while
    // the settings were read) found no button to post for: it is circled
    // here. A report after the publication posts WM_CHANNEL_LABELS, which
    // then finds the labels already right or moves them on.
    s.circledChannel = channel;
    if (channel != -1) ShowCircledNumbers(s, channel);
}

int32_t PluginOnChannelChange(PluginState& s, int32_t channel, int32_t serviceId) {
    const ChannelReport report = ChangeChannel(s, channel, serviceId);
    if (report.relabel) s.platform->PostToWindow(WM_CHANNEL_LABELS);
    if (report.showService) s.platform->PostToWindow(WM_SERVICE_VIEW);
    return 1;
}

void RelabelChannelButtons(PluginState& s) {
    int32_t channel;
    {
        std::lock_guard<std::mutex> guard(s.lock);
        channel = s.currentChannel;
    }
    const int32_t circled = s.circledChannel;
    if (channel == circled) return;
    s.circledChannel = channel;
    // The channel table is written only on this thread, so it is read here
    // without the lock.
    ShowPlainNumbers(s, circled);
    ShowCircledNumbers(s, channel);
}
