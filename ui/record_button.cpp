#include "ui/record_button.h"

#include <mutex>

#include "plugin/plugin_state.h"
#include "plugin/recorder.h"
#include "ui/resource.h"

namespace {

// Shift_JIS labels: "1■" recording, "1○" idle.
const char kRecordingLabel[] = "1\x81\xA1";
const char kIdleLabel[] = "1\x81\x9B";

void ShowLabel(PluginState& s, bool recording) {
    s.platform->SetControlText(IDC_ONESEG_RECORD, recording ? kRecordingLabel : kIdleLabel);
}

}  // namespace

void ToggleRecording(PluginState& s) {
    bool start;
    bool refused;
    uint32_t press;
    {
        std::lock_guard<std::mutex> guard(s.lock);
        // The press means what the label shows. After a failed write the
        // flag may already be 0 while the label change is still on its way
        // to this thread: the user pressed "1■" to stop, and it stays
        // stopped rather than starting again.
        start = !s.recordLabelRecording;
        press = ++s.recordPresses;
        // After the close command a press on "1○" starts nothing: no file
        // may be created or replaced for a plug-in the host was told is
        // closed. The label stays with the flag at idle.
        refused = start && !s.active;
        if (refused) start = false;
        s.recording = start;
        s.recordLabelRecording = start;
    }
    ShowLabel(s, start);
    if (refused) return;
    StartStopRecording(s, press);
    if (!start) return;
    {
        std::lock_guard<std::mutex> guard(s.lock);
        // A later press (or a file that could not be created) decides.
        if (s.recordPresses != press || s.recording) return;
        s.recordLabelRecording = false;
    }
    ShowLabel(s, false);
}

void ApplyRecordLabel(PluginState& s) {
    bool recording;
    {
        std::lock_guard<std::mutex> guard(s.lock);
        recording = s.recording;
        s.recordLabelRecording = recording;
    }
    ShowLabel(s, recording);
}
