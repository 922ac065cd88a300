#include "ui/viewer.h"

#include <mutex>

#include "plugin/guide_store.h"
#include "plugin/messages.h"
#include "plugin/plugin_state.h"
#include "plugin/recorder.h"
#include "plugin/router.h"
#include "plugin/settings.h"
#include "ui/caption_view.h"
#include "ui/channel_buttons.h"
#include "ui/guide_view.h"
#include "ui/programme_display.h"
#include "ui/record_button.h"
#include "ui/record_request.h"
#include "ui/resource.h"
#include "ui/viewer_menu.h"

namespace {

// IDCANCEL: the caption's close box or the Esc key.
const int32_t kCancelCommand = 2;

// The user closed the window: the template choice is saved, an open
// recording file is closed (flag and label keep showing the recording, as
// the button still has to stop it), packets are refused from now on, and
// the host is told. The window itself stays until the host removes it.
void CloseViewer(PluginState& s) {
    SaveTemplateChoice(s);
    SaveGuideTableNow(s);
    FileHandle file;
    {
        std::lock_guard<std::mutex> guard(s.lock);
        file = TakeRecordingFile(s);
        s.active = false;
    }
    // Closed here unless a write in flight closes it when it ends.
    if (file != kInvalidFileHandle) s.platform->CloseFile(file);
    // The windows the viewer opened go with it: none of them may ask the
    // host for anything once the plug-in told it that it closed.
    s.platform->CloseGuideWindow();
    s.platform->CloseCaptionWindow();
    s.platform->PluginClosed();
}

void TuneToButton(PluginState& s, int32_t index) {
    const int32_t channel = s.channelTable[index];
    if (IsTunableChannel(channel)) s.platform->TuneChannel(channel);
}

}  // namespace

void ViewerInitialised(PluginState& s) {
    s.windowInitialised = true;
    StartCaptionView(s);
    // Guide sections handed over before the window existed: their message
    // was lost with no window to take it.
    HandleGuideSections(s);
    StartGuideTableLoad(s);
}

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
            ShowOtherView(s);
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
    if (ViewerMenuCommand(s, id)) return;
    const int32_t button = ChannelButtonIndex(id);
    if (button >= 0) TuneToButton(s, button);
}

bool ViewerPrivateMessage(PluginState& s, uint32_t message) {
    switch (message) {
        case WM_EIT_PRESENT_READY:
            HandlePresentEvent(s);
            if (GuideSectionsUnannounced(s)) HandleGuideSections(s);
            return true;
        case WM_SDT_READY:
            HandleServiceName(s);
            if (GuideSectionsUnannounced(s)) HandleGuideSections(s);
            return true;
        case WM_EIT_FOLLOWING_READY:
            HandleFollowingEvent(s);
            return true;
        case WM_RECORD_LABEL:
            ApplyRecordLabel(s);
            return true;
        case WM_CHANNEL_LABELS:
            RelabelChannelButtons(s);
            return true;
        case WM_CAPTION_READY:
            HandleCaptionReady(s);
            return true;
        case WM_SERVICE_VIEW:
            ShowServiceView(s);
            return true;
        case WM_GUIDE_READY:
            HandleGuideSections(s);
            return true;
        case WM_GUIDE_CACHE:
            HandleGuideCacheStep(s);
            return true;
        default:
            return false;
    }
}

int32_t ViewerStreamData(PluginState& s, const uint8_t* packets, uint32_t byteCount) {
    if (RoutePackets(s, packets, byteCount) == 0) return 0;
    // A failed write stopped the recording on this thread. The label is the
    // window thread's to change: SetDlgItemTextA from here would wait for
    // that thread, which may itself be waiting for this one.
    bool announce;
    {
        std::lock_guard<std::mutex> guard(s.lock);
        announce = s.recordLabelPending;
        s.recordLabelPending = false;
    }
    if (announce) s.platform->PostToWindow(WM_RECORD_LABEL);
    return 1;
}
