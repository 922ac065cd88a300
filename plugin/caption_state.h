// The caption path's records inside PluginState: the selection and the
// mailbox that the packet path and the window's thread share (under
// PluginState::lock), and the window thread's reader. The operations are in
// caption_handover.h and caption_reader.h.
#ifndef KESTRIN_PLUGIN_CAPTION_STATE_H
#define KESTRIN_PLUGIN_CAPTION_STATE_H

#include <cstdint>

#include "plugin/caption_store.h"
#include "text/caption_decoder.h"
#include "ts/packet.h"
#include "ts/pes_assembler.h"
#include "ts/section_assembler.h"

// About three seconds of a busy caption stream (DRCS statements take a dozen
// packets), 24 KB.
const int32_t kCaptionMailboxPackets = 128;

struct CaptionSelection {
    SectionAssembler patAssembler;
    SectionAssembler pmtAssembler;  // the watched service's own PMT
    uint32_t patKey;
    uint32_t pmtKey;
    int32_t servicePmtPid;      // from the PAT, kNoPid until known
    int32_t oneSegCaptionPid;   // tag 0x87 in the PMT on 0x1FC8
    int32_t serviceCaptionPid;  // tag 0x30 in the service's own PMT
    int32_t pid;                // the selected stream, kNoPid for none
    bool oneSeg;                // `pid` is the one-segment stream (profile C)
    // Bumped whenever `pid` changes or the service changes: packets taken
    // under another number belong to another stream.
    uint32_t generation;
};

struct CaptionMailbox {
    uint8_t packets[kCaptionMailboxPackets][kTsPacketSize];
    int32_t count;
    bool dropped;  // packets were lost since the last take
    bool posted;   // WM_CAPTION_READY is on its way, or was lost
    // Packets dropped since the last take: every kCaptionMailboxPackets-th
    // posts again, whatever `posted` says, so that a lost post does not
    // leave the mailbox full for good.
    uint32_t dropsSinceTake;
};

// Shared between the packet path and the window's thread, under the lock.
struct CaptionHandover {
    bool wanted;  // the caption view is open
    CaptionSelection selection;
    CaptionMailbox mailbox;
};

// What the window's thread takes out of the mailbox.
struct CaptionPacketBatch {
    uint8_t packets[kCaptionMailboxPackets][kTsPacketSize];
    int32_t count;
    bool dropped;         // packets were lost before these
    uint32_t generation;  // CaptionSelection::generation when taken
    int32_t pid;          // the selected PID when taken
    bool oneSeg;          // the one-segment stream (profile C), else profile A
};

// The window thread's side: only the window's thread touches it.
struct CaptionReader {
    CaptionPacketBatch batch;  // the last batch taken out of the mailbox
    uint32_t generation;       // CaptionSelection::generation of the stream read
    PesAssembler pes;          // the PES packet being collected
    CaptionDecoder decoder;    // the first language, the stream's profile
    char text[kCaptionTextSize];  // a screen's text without ruby
    CaptionStore store;
};

#endif
