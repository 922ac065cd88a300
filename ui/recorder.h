// The plug-in's own recorder of the one-segment service.
#ifndef KESTRIN_UI_RECORDER_H
#define KESTRIN_UI_RECORDER_H

struct PluginState;

// Starts (recording flag 1) or stops (flag 0) the recording. Called with
// PluginState::lock held; it never touches the window itself: it leaves the
// label to show in state.recordLabelPending, and the caller applies it with
// ApplyRecordLabel after releasing the lock.
void StartStopRecording(PluginState& state);

// Sets IDC_ONESEG_RECORD to the label of the current state if a change is
// pending. Called without the lock.
void ApplyRecordLabel(PluginState& state);

#endif
