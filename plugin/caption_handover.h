// The caption stream of the watched service, from the packet path to the
// window's thread.
//
// Selection: the one-segment service's captions are the stream with
// component tag 0x87 in the PMT on 0x1FC8; a full-segment service's are the
// stream with component tag 0x30 in the service's own PMT, whose PID the PAT
// gives. The packet path keeps both PMTs' answers and picks the one for the
// service the host reported (the one-segment one until it reports any).
//
// Hand-over: while the caption view is open (CaptionHandover::wanted), each
// packet of the selected PID is copied whole into a fixed mailbox of
// kCaptionMailboxPackets packets under PluginState::lock, and
// WM_CAPTION_READY is posted once until the window's thread takes them, and
// again at the first drop and every kCaptionMailboxPackets-th drop while the
// mailbox is full, and once more after the view opens: a post that was lost
// must not leave the stream silent.
// Reassembly into PES, data groups and text are the window's thread's work:
// the packet path only copies 188 bytes per caption packet (a caption stream
// brings a few per second). When the window's thread falls behind and the
// mailbox is full, later packets are dropped and the loss is reported with
// the next batch, so the reader starts its PES afresh instead of joining
// pieces that do not belong together.
#ifndef KESTRIN_PLUGIN_CAPTION_HANDOVER_H
#define KESTRIN_PLUGIN_CAPTION_HANDOVER_H

#include <cstdint>

#include "plugin/caption_state.h"

struct PluginState;

// Construction: assemblers reset, nothing selected, not wanted.
void InitCaptionHandover(PluginState& state);
// A service change (lock held): the PAT is read again for the new service,
// both PMTs' answers are forgotten, the mailbox is emptied.
void ForgetCaptionService(PluginState& state);

// Packet path, lock held, for every packet: assembles the PAT and the
// watched service's PMT, and copies a packet of the selected caption PID
// into the mailbox while wanted. Never stops the packet's other routing.
void RouteCaptionPacket(PluginState& state, const uint8_t* packet, uint16_t pid);

// Packet path, lock held: a new one-segment PMT section of `size` bytes
// (its change key differs from the last one).
void NoteOneSegPmt(PluginState& state, const uint8_t* section, int32_t size);

// Window's thread: opens (true) or closes the hand-over. Takes the lock.
// Closing empties the mailbox.
void WantCaptions(PluginState& state, bool wanted);

// Window's thread: moves the mailbox's packets into `batch`. Takes the lock.
void TakeCaptionPackets(PluginState& state, CaptionPacketBatch& batch);

#endif
