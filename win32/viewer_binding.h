// How a window reaches its plug-in: the viewer dialog keeps the plug-in
// object's PluginHandle (DWLP_USER) from WM_INITDIALOG on; the caption and
// guide windows reach it through their owner, the viewer. Each message
// holds the state while it is handled (plugin/plugin_lifetime.h), so that
// the object going on another thread meanwhile frees nothing in use.
#ifndef KESTRIN_WIN32_VIEWER_BINDING_H
#define KESTRIN_WIN32_VIEWER_BINDING_H

#include <windows.h>

#include "plugin/plugin_lifetime.h"

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

private:
    PluginHold hold_;
};

#endif
