// Packet router: the body of OnStreamData.
#ifndef KESTRIN_PLUGIN_ROUTER_H
#define KESTRIN_PLUGIN_ROUTER_H

#include <cstdint>

struct PluginState;

// Routes every whole packet of the buffer by PID and writes the packets that
// the recording selects. Returns 0 when the window was closed, else 1.
// Takes PluginState::lock itself, once for the whole buffer (and again only
// when a full staging buffer is written out); the selected packets are
// copied under it and written after it is released (see recorder.h). A
// failed write stops the recording and leaves the record button's label
// pending (PluginState::recordLabelPending) for the caller to announce.
int32_t RoutePackets(PluginState& state, const uint8_t* packets, uint32_t byteCount);

#endif
