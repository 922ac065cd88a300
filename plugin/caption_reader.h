// The window thread's side of the caption hand-over: the packets taken out
// of the caption mailbox are reassembled into PES, their data groups read
// and their statements decoded; each caption that comes on screen goes to
// the CaptionStore. Only the window's thread touches a CaptionReader.
#ifndef KESTRIN_PLUGIN_CAPTION_READER_H
#define KESTRIN_PLUGIN_CAPTION_READER_H

#include <cstdint>

#include "plugin/caption_state.h"

struct PluginState;


// Construction: the hand-over, the reader and the caption view's flags.
void InitCaptions(PluginState& state);

// Forgets any half-read PES and decoding state (a new stream, lost packets);
// the store stays.
void RestartCaptionReading(CaptionReader& reader);

// WM_CAPTION_READY: takes the mailbox's packets (under the lock) and reads
// them without it. A batch of another stream than the one read so far
// restarts the reading and clears the current caption first. True when the
// caption or the recent lines changed.
bool ReadHandedCaptions(PluginState& state);

// Reads whole packets of the caption PID: PES reassembly, then each data
// group through the decoder; every screen a statement leaves (and every
// TIME wait inside one) is shown without its ruby. Captions are shown as
// they arrive: the viewer has no video clock to hold them to their PTS, nor
// to their TIME waits, so a screen a statement empties after a wait leaves
// its caption up until the next statement.
// True when the store changed.
bool ReadCaptionPackets(CaptionReader& reader, const uint8_t (*packets)[kTsPacketSize], int32_t count);

#endif
