// The plug-in's own recorder of the one-segment service: the record button's
// start and stop, and the packet sink of the router.
//
// No thread waits for another's file call: the window's thread reads the
// settings and creates or closes the file with PluginState::lock released;
// the router only copies the selected packets into the staging buffer under
// the lock, and the packet thread writes them after releasing it. The lock
// is held only to hand over the handle, the flag and the staged packets.
#ifndef KESTRIN_PLUGIN_RECORDER_H
#define KESTRIN_PLUGIN_RECORDER_H

#include <cstdint>
#include <mutex>

#include "plugin/platform.h"

struct PluginState;

// The record button's work after its press set the recording flag and took
// the number `press` from PluginState::recordPresses (under the lock):
// starts when the flag is set, else stops. Called without the lock. Once
// the window was closed (PluginState::active cleared) a start creates no
// file at all and clears the flag (if no press came since). A start
// installs the file it created only if its press is still the last one and
// the window was not closed meanwhile; otherwise it closes the file itself
// (a close during the creation leaves the flag set, as a close during a
// recording does). A file that cannot be created clears the flag (if no
// press came since).
void StartStopRecording(PluginState& state, uint32_t press);

// Lock held: takes the recording file out of use (the packets staged for it
// and not yet handed to a writer are dropped). Returns the handle for the
// caller to close once the lock is released, or kInvalidFileHandle when
// there is none or when a write in flight on the packet path closes it as
// soon as it ends.
FileHandle TakeRecordingFile(PluginState& state);

// Router: copies one 188-byte packet into the staging buffer while the
// recording file is open. Lock held.
void RecordPacket(PluginState& state, const uint8_t* packet);

// Router handler for the PAT while recording: stages the PAT rewritten to
// the one-segment programme. Lock held.
void WriteRewrittenPat(PluginState& state, const uint8_t* packet);

// The plug-in object goes: an open recording file is closed (nothing else
// could close it any more, and it would stay locked against writers until
// the host exits) and the recording ends. Takes PluginState::lock itself;
// touches no window.
void ReleaseRecording(PluginState& state);

// Packet path, with the lock held through `held`: writes the staged packets
// in arrival order, releasing the lock around the file calls (and taking it
// again to hand over the result). A failed write stops the recording and
// leaves PluginState::recordLabelPending set. Returns at once when another
// thread is writing: that one writes what was staged here too.
void WriteStagedPackets(PluginState& state, std::unique_lock<std::mutex>& held);

#endif
