// The viewer's menu: opened with the right mouse button (or the menu key)
// on the programme text, one item per window that the viewer opens. Every
// dialog template has the programme text, so the menu needs no room of its
// own.
#ifndef KESTRIN_UI_VIEWER_MENU_H
#define KESTRIN_UI_VIEWER_MENU_H

#include <cstdint>

struct PluginState;

struct ViewerMenuItem {
    int32_t command;    // the WM_COMMAND id the item sends to the viewer
    const char* label;  // Shift_JIS
    bool checked;       // the window it opens is open
};

const int32_t kViewerMenuCapacity = 8;

// The items as they are now; returns how many were written (<= capacity).
int32_t ViewerMenuItems(const PluginState& state, ViewerMenuItem* items, int32_t capacity);

// A command of the menu; false for any other id.
bool ViewerMenuCommand(PluginState& state, int32_t id);

#endif
