// Packet router: the body of OnStreamData.
#ifndef KESTRIN_TS_ROUTER_H
#define KESTRIN_TS_ROUTER_H

#include <cstdint>

struct PluginState;

// Routes every whole packet of the buffer by PID and writes the packets that
// the recording selects. Returns 0 when the window was closed, else 1.
// Takes PluginState::lock itself, once for the whole buffer.
int32_t RoutePackets(PluginState& state, const uint8_t* packets, uint32_t byteCount);

// Writes one 188-byte packet to the recording file; a failed write stops the
// recording. Called with the lock held.
void RecordPacket(PluginState& state, const uint8_t* packet);

#endif
