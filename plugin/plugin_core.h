// The plug-in object's state operations, independent of the platform and
// of the window.
#ifndef KESTRIN_PLUGIN_PLUGIN_CORE_H
#define KESTRIN_PLUGIN_PLUGIN_CORE_H

#include <cstdint>

struct PluginState;
class Platform;

// Puts every field to its value after construction.
void InitPluginState(PluginState& state, Platform* platform);

// True when the host's SDK version is at least 0x10400; otherwise shows the
// "Wrong SDK Version" box and returns false. The caller keeps the host.
bool PluginSetHost(PluginState& state, uint32_t sdkVersion);

// Records the channel and service the host reports. A new service resets
// everything that belongs to the old one: the section assemblers, the
// mailboxes, the programme map, the view and the event texts and keys, and
// it bumps the service generation so that no handler in flight commits a
// section of the old service. Returns the channel reported before.
int32_t ChangeChannel(PluginState& state, int32_t channel, int32_t serviceId);

#endif
