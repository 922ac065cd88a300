// The viewer dialog's behaviour, independent of Win32: the dialog procedure
// in ui/win32 translates window messages into these calls.
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

// One of the three private messages; false for any other message.
bool ViewerPrivateMessage(PluginState& state, uint32_t message);

#endif
