// What a viewer window works on: the plug-in object's state and platform.
// The viewer dialog keeps a pointer to it (DWLP_USER) from WM_INITDIALOG on;
// the caption and guide windows reach it through their owner, the viewer.
#ifndef KESTRIN_WIN32_VIEWER_BINDING_H
#define KESTRIN_WIN32_VIEWER_BINDING_H

struct PluginState;
class Win32Platform;

struct ViewerBinding {
    PluginState* state;
    Win32Platform* platform;
};

#endif
