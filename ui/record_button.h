// The one-segment record button (IDC_ONESEG_RECORD): "1■" while recording,
// "1○" when idle. Its label changes on the window's own thread only.
#ifndef KESTRIN_UI_RECORD_BUTTON_H
#define KESTRIN_UI_RECORD_BUTTON_H

struct PluginState;

// The button was pressed: stops the recording when the label shows "1■",
// else starts one ("1■" while the file is created, back to "1○" when it
// cannot be). After the window's close command a start is refused: no file
// is created, the flag stays 0 and the label "1○".
void ToggleRecording(PluginState& state);

// WM_RECORD_LABEL, posted by the packet path after a failed write stopped
// the recording: the label of the flag as it is now.
void ApplyRecordLabel(PluginState& state);

#endif
