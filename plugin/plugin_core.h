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

// What the window has to be told after the host reported a channel and
// service; the caller posts the messages (never under the lock).
struct ChannelReport {
    // WM_CHANNEL_LABELS: a channel button carries the new channel, or the
    // channel left when it changed.
    bool relabel;
    // WM_SERVICE_VIEW: the service changed while the window may still show
    // the old one's programme (an event text, or the following view).
    bool showService;
};

// Records the channel and service the host reports. A new service resets
// everything that belongs to the old one: the section assemblers, the
// mailboxes, the programme map, the view, the event texts, keys, times and
// date, and it bumps the service generation so that no handler in flight
// commits a section of the old service. Reads the channel table under the
// lock, so it may run while the window's thread loads it.
ChannelReport ChangeChannel(PluginState& state, int32_t channel, int32_t serviceId);

#endif
