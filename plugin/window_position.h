// Where the viewer window may be put and which position of it is kept, in
// screen pixels, without Win32: the platform answers what the window and
// the monitors look like, these functions decide.
#ifndef KESTRIN_PLUGIN_WINDOW_POSITION_H
#define KESTRIN_PLUGIN_WINDOW_POSITION_H

#include <cstdint>

// A rectangle as Win32 keeps one: right and bottom lie just outside it.
struct ScreenRect {
    int32_t left;
    int32_t top;
    int32_t right;
    int32_t bottom;
};

// How the window is shown when its position is asked for.
enum class WindowShow { kNormal, kMinimised, kMaximised };

struct WindowPlacement {
    WindowShow show;
    // The window rectangle as it is now (GetWindowRect).
    ScreenRect window;
    // The rectangle the window returns to when restored, in screen
    // coordinates (the platform converts from workspace coordinates).
    ScreenRect normal;
};

// Work areas of at most this many monitors are considered; more are ignored.
const int32_t kMaxMonitors = 16;

// Part of the window that must lie inside one monitor's work area, in each
// direction, for the window to count as reachable (a smaller window must lie
// inside it whole): enough of the caption to grab it with the mouse.
const int32_t kMinimumVisible = 32;

// The position of the window's left/top to keep in the settings for this
// placement: the window rectangle when shown normally, the restored
// rectangle when maximised; false while minimised, where Win32 parks the
// window at (-32000, -32000), and for that parking position whatever the
// show state says.
bool PositionToSave(const WindowPlacement& placement, int32_t* left, int32_t* top);

// Where a window with this rectangle opens: unchanged when it is reachable
// on one of the monitors' work areas (negative coordinates of monitors left
// of or above the primary included); otherwise moved into the work area
// nearest to it, as far as the window fits. Unchanged when no monitor is
// known. Only the position moves, never the size.
ScreenRect PlaceOnScreen(const ScreenRect& window, const ScreenRect* workAreas, int32_t count);

// GetWindowPlacement's restored rectangle of a top-level window that is not
// a tool window is in workspace coordinates: relative to the work area of
// its monitor. Shifts it by the work area's offset inside the monitor.
ScreenRect WorkspaceToScreen(const ScreenRect& workspace, const ScreenRect& monitor,
                             const ScreenRect& workArea);

#endif
