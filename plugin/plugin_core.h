// The plug-in object's operations, independent of the platform. The Win32
// class CSamplePlugin (plugin/win32) forwards its IDTVPlugin slots here.
#ifndef KESTRIN_PLUGIN_PLUGIN_CORE_H
#define KESTRIN_PLUGIN_PLUGIN_CORE_H

#include <cstdint>

struct PluginState;

// Control ids of channel buttons 1..12 (not contiguous: 1011 is the clock).
extern const int32_t kChannelButtonIds[12];

// Stores the host when sdkVersion is at least 0x10400, else shows the
// "Wrong SDK Version" box and returns 0.
int32_t PluginSetHost(PluginState& state, void* host, uint32_t sdkVersion);

// Channel-button labels and the per-service resets. Returns 1.
int32_t PluginOnChannelChange(PluginState& state, int32_t channel, int32_t serviceId);

#endif
