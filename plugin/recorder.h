// The plug-in's own recorder of the one-segment service: the packet sink of
// the router.
#ifndef KESTRIN_PLUGIN_RECORDER_H
#define KESTRIN_PLUGIN_RECORDER_H

#include <cstdint>

struct PluginState;

// Starts (recording true) or stops (false) the recording. Called with
// PluginState::lock held; it never touches the window itself: it leaves the
// label to show in state.recordLabelPending for the window side to apply
// after the lock is released.
void StartStopRecording(PluginState& state);

// Writes one 188-byte packet to the recording file; a failed write stops the
// recording. Lock held.
void RecordPacket(PluginState& state, const uint8_t* packet);

// Router handler for the PAT while recording: writes the PAT rewritten to
// the one-segment programme. Lock held.
void WriteRewrittenPat(PluginState& state, const uint8_t* packet);

// The plug-in object goes: an open recording file is closed (nothing else
// could close it any more, and it would stay locked against writers until
// the host exits) and the recording ends. Takes PluginState::lock itself;
// touches no window.
void ReleaseRecording(PluginState& state);

#endif
