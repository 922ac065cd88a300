// The one-segment record button (IDC_ONESEG_RECORD): "1■" while recording,
// "1○" when idle.
#ifndef KESTRIN_UI_RECORD_BUTTON_H
#define KESTRIN_UI_RECORD_BUTTON_H

struct PluginState;

// The button was pressed: starts or stops the recording, then the label.
void ToggleRecording(PluginState& state);

// Sets the label of the current state if a change is pending (after a press,
// or after a failed write stopped the recording on the packet path). Called
// without the lock.
void ApplyRecordLabel(PluginState& state);

#endif
