#include "ui/record_button.h"

#include <mutex>

#include "plugin/plugin_state.h"
#include "plugin/recorder.h"
#include "ui/resource.h"

namespace {

// Shift_JIS labels: "1■" recording, "1○" idle.
const char kRecordingLabel[] = "1\x81\xA1";
const char kIdleLabel[] = "1\x81\x9B";

}  // namespace

void ToggleRecording(PluginState& s) {
    {
        std::lock_guard<std::mutex> guard(s.lock);
        s.recording = !s.recording;
        StartStopRecording(s);
    }
    ApplyRecordLabel(s);
}

void ApplyRecordLabel(PluginState& s) {
    bool recording;
    {
        std::lock_guard<std::mutex> guard(s.lock);
        if (!s.recordLabelPending) return;
        s.recordLabelPending = false;
        recording = s.recording;
    }
    // The window thread (button) and the packet path (failed write) may both
    // apply the label, each outside the lock. The label is a function of the
    // flag alone, so after each change of the text the flag is read again: if
    // it moved meanwhile, this text may have overtaken the other thread's
    // newer one, and the label is set once more. The loop ends as soon as
    // the flag holds still.
    for (;;) {
        s.platform->SetControlText(IDC_ONESEG_RECORD, recording ? kRecordingLabel : kIdleLabel);
        std::lock_guard<std::mutex> guard(s.lock);
        if (s.recording == recording) return;
        recording = s.recording;
    }
}
