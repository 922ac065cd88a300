// What a viewer window works on: the plug-in object's state and platform,
// in one allocation that outlives the object for as long as a window
// handler still runs on it (plugin/plugin_lifetime.h). The viewer dialog
// keeps the handle (DWLP_USER) from WM_INITDIALOG on; the caption and guide
// windows reach it through their owner, the viewer.
#ifndef KESTRIN_WIN32_VIEWER_BINDING_H
#define KESTRIN_WIN32_VIEWER_BINDING_H

#include <windows.h>

#include "plugin/plugin_core.h"
#include "plugin/plugin_lifetime.h"
#include "plugin/plugin_state.h"
#include "win32/win32_platform.h"

struct PluginInstance {
    PluginState state;
    Win32Platform platform;

    PluginInstance() { InitPluginState(state, &platform); }

private:
    PluginInstance(const PluginInstance&) = delete;
    PluginInstance& operator=(const PluginInstance&) = delete;
};

// The handle a viewer is bound to; 0 before WM_INITDIALOG and once its
// object went.
inline PluginHandle ViewerHandle(HWND viewer) {
    return viewer != nullptr ? static_cast<PluginHandle>(GetWindowLongPtrA(viewer, DWLP_USER)) : 0;
}

// A window handler's hold on its viewer's plug-in for the handler's whole
// run: no state when the viewer is bound to none.
class ViewerHold {
public:
    explicit ViewerHold(HWND viewer) : hold_(ViewerHandle(viewer)) {}

    PluginState* State() const { return hold_.State(); }
    // The state's platform; every state of this library has a Win32Platform.
    Win32Platform* Platform() const {
        return hold_.State() != nullptr ? static_cast<Win32Platform*>(hold_.State()->platform) : nullptr;
    }

private:
    PluginHold hold_;
};

#endif
