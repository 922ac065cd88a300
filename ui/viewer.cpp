#include "ui/viewer.h"

#include <cstring>
#include <mutex>

#include "plugin/plugin_core.h"
#include "plugin/plugin_state.h"
#include "plugin/settings.h"
#include "text/event_formatter.h"
#include "text/service_name.h"
#include "ui/messages.h"
#include "ui/record_request.h"
#include "ui/recorder.h"
#include "ui/resource.h"

namespace {

// IDCANCEL: the caption's close box or the Esc key.
const int32_t kCancelCommand = 2;
const int32_t kLowestChannel = 13;
const int32_t kHighestChannel = 62;

// The user closed the window: the template choice is saved, an open
// recording file is closed (flag and label keep showing the recording, as
// the button still has to stop it), packets are refused from now on, and
// the host is told. The window itself stays until the host removes it.
void CloseViewer(PluginState& s) {
    SaveTemplateChoice(s);
    {
        std::lock_guard<std::mutex> guard(s.lock);
        if (s.recordingFile != kInvalidFileHandle) {
            s.platform->CloseFile(s.recordingFile);
            s.recordingFile = kInvalidFileHandle;
        }
        s.active = 0;
    }
    s.platform->PluginClosed();
}

// Index 0..11 of a channel button, or -1.
int32_t ChannelButtonIndex(int32_t id) {
    for (int32_t i = 0; i < kChannelButtonCount; ++i) {
        if (kChannelButtonIds[i] == id) return i;
    }
    return -1;
}

void TuneToButton(PluginState& s, int32_t index) {
    const int32_t channel = s.channelTable[index];
    if (channel >= kLowestChannel && channel <= kHighestChannel) s.platform->TuneChannel(channel);
}

// Switches between the present and the following event. The text is copied
// out under the lock and shown after it is released: SetControlText waits
// for the window's thread.
void ToggleView(PluginState& s) {
    char text[kEventTextSize];
    {
        std::lock_guard<std::mutex> guard(s.lock);
        s.viewSelector = 1 - s.viewSelector;
        const char* shown = s.viewSelector == 1 ? s.followingText : s.presentText;
        std::memcpy(text, shown, sizeof text);
    }
    text[kEventTextSize - 1] = '\0';
    s.platform->SetControlText(IDC_INFO_TEXT, text);
    UpdateCaption(s);
}

void ToggleRecording(PluginState& s) {
    {
        std::lock_guard<std::mutex> guard(s.lock);
        s.recordingFlag = 1 - s.recordingFlag;
        StartStopRecording(s);
    }
    ApplyRecordLabel(s);
}

}  // namespace

void ViewerInitialised(PluginState& s) { s.windowInitialised = true; }

void ViewerMoved(PluginState& s) {
    // WM_MOVE also arrives while the dialog is being created, before it has
    // been put at the saved position; saving then would overwrite it.
    if (s.windowInitialised) SaveWindowPosition(s);
}

void ViewerCommand(PluginState& s, int32_t id) {
    switch (id) {
        case kCancelCommand:
        case IDC_CLOSE:
            CloseViewer(s);
            return;
        case IDC_PRESENT_FOLLOWING:
            ToggleView(s);
            return;
        case IDC_RECORD_REQUEST:
            SendRecordingRequest(s);
            return;
        case IDC_ONESEG_RECORD:
            ToggleRecording(s);
            return;
        default:
            break;
    }
    const int32_t button = ChannelButtonIndex(id);
    if (button >= 0) TuneToButton(s, button);
}

bool ViewerPrivateMessage(PluginState& s, uint32_t message) {
    switch (message) {
        case WM_EIT_PRESENT_READY:
            HandlePresentEvent(s);
            return true;
        case WM_SDT_READY:
            HandleServiceName(s);
            return true;
        case WM_EIT_FOLLOWING_READY:
            HandleFollowingEvent(s);
            return true;
        default:
            return false;
    }
}
