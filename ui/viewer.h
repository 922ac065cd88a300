// The viewer dialog's behaviour, independent of Win32: the dialog procedure
// and the plug-in object of the Win32 shell turn window messages and host
// calls into these.
#ifndef KESTRIN_UI_VIEWER_H
#define KESTRIN_UI_VIEWER_H

#include <cstdint>

struct PluginState;

// WM_INITDIALOG, after the shell has moved the window: sets the
// window-initialised flag.
void ViewerInitialised(PluginState& state);

// WM_MOVE: saves the position once the window is initialised.
void ViewerMoved(PluginState& state);

// WM_COMMAND with the control id (low word of wParam).
void ViewerCommand(PluginState& state, int32_t id);

// One of the private messages (the three section hand-overs, the record
// label, the channel labels, the view after a service change); false for
// any other message.
bool ViewerPrivateMessage(PluginState& state, uint32_t message);

// IDTVPlugin::OnStreamData: routes the buffer, then posts WM_RECORD_LABEL
// when a failed write stopped the recording. Never changes a control.
// Returns 0 once the window was closed.
int32_t ViewerStreamData(PluginState& state, const uint8_t* packets, uint32_t byteCount);

#endif
