// The caption view: a window opened from the viewer that shows the caption
// on screen now (without ruby) and the recent lines, which the user can
// scroll, select and copy. What it shows and does is decided here; the
// Win32 shell only creates the window and passes its commands on.
//
// Opt-in: the packet path hands caption packets over only while the view is
// open. "Captions" in [DISPLAY] opens it with the viewer and remembers
// whether the user left it open; "CaptionLines" is how many recent lines it
// keeps.
#ifndef KESTRIN_UI_CAPTION_VIEW_H
#define KESTRIN_UI_CAPTION_VIEW_H

#include <cstdint>

struct PluginState;

// WM_INITDIALOG of the viewer: reads the caption settings and opens the view
// when "Captions" is 1.
void StartCaptionView(PluginState& state);

// The viewer's menu item: opens the view, or closes it when it is open.
void ToggleCaptionView(PluginState& state);
void OpenCaptionView(PluginState& state);
// The user closed the view: the hand-over stops, "Captions" becomes 0.
void CloseCaptionView(PluginState& state);

// WM_COMMAND of the caption window: IDCANCEL (close box, Esc) closes it;
// IDC_CAPTION_HOLD holds the recent lines still (for scrolling back and
// copying while captions go on) or lets them follow again.
void CaptionViewCommand(PluginState& state, int32_t id);

// The caption window was destroyed with its owner: the view is closed
// without touching the setting (the viewer went, not the user's choice).
void CaptionViewDestroyed(PluginState& state);

// WM_CAPTION_READY: reads the handed-over packets and shows what changed.
void HandleCaptionReady(PluginState& state);

#endif
