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
    uint32_t press;
    {
        std::lock_guard<std::mutex> guard(s.lock);
        // The press means what the label shows. After a failed write the
        // flag may already be 0 while the label change is still on its way
        // to this thread: the user pressed "1■" to stop, and it stays
        // stopped rather than starting again.
        start = !s.recordLabelRecording;
        s.recording = start;
        s.recordLabelRecording = start;
        press = ++s.recordPresses;
    }
    ShowLabel(s, start);
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
