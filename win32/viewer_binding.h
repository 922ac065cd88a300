// What a viewer window works on: the plug-in object's state and platform.
#ifndef KESTRIN_WIN32_VIEWER_BINDING_H
#define KESTRIN_WIN32_VIEWER_BINDING_H

struct PluginState;
class Win32Platform;

struct ViewerBinding {
    PluginState* state;
    Win32Platform* platform;
};

#endif
