#include "plugin/router.h"

#include <mutex>

#include "plugin/broadcast_clock.h"
#include "plugin/caption_handover.h"
#include "plugin/guide_store.h"
#include "plugin/plugin_state.h"
#include "plugin/recorder.h"
#include "plugin/section_handover.h"
#include "ts/packet.h"
#include "ts/programme_map.h"

namespace {

// True when the PID is one of the fixed service-information rows that are
// written while recording without a handler of their own deciding.
bool IsRecordedSiPid(uint16_t pid) {
    if (pid == kNitPid || pid == kSdtPid || pid == kTotPid) return true;
    for (uint16_t further : kFurtherSiPids) {
        if (pid == further) return true;
    }
    return false;
}

void RouteOnePacket(PluginState& s, const uint8_t* p) {
    const uint16_t pid = PacketPid(p);
    RouteCaptionPacket(s, p, pid);
    switch (pid) {
        case kPatPid:
            // Only the rewritten copy, and only while recording.
            if (s.recordingFile != kInvalidFileHandle && s.esPidTable.count > 0) WriteRewrittenPat(s, p);
            return;
        case kSdtPid:
            AssembleSdt(s, p);  // the viewer's SDT actual and the guide's SDT actual and other
            break;
        case kEitPid:
            NoteLayerEitPacket(s, pid);
            AssembleEit(s, p);  // the viewer's present/following and the guide's sections
            return;  // EIT is never recorded
        case kMediumEitPid:
            NoteLayerEitPacket(s, pid);
            AssembleLowerLayerEit(s, s.mediumEit, p);
            break;  // recorded as before: only if the programme map lists it
        case kLowEitPid:
            AssembleLowerLayerEit(s, s.lowEit, p);
            break;  // recorded as before, with the further SI PIDs
        case kTotPid:
            ReadTot(s, p);
            break;
        case kOneSegPmtPid:
            AssemblePmt(s, p);
            // The PMT is written whenever the file is open, whatever the
            // table holds; the handler ran first, so the packet that completes
            // the first programme map may already have filled EsPidTable.
            if (s.recordingFile != kInvalidFileHandle) RecordPacket(s, p);
            return;
        default:
            break;
    }
    // The recording condition: file open and a programme map known.
    if (s.recordingFile == kInvalidFileHandle || s.esPidTable.count <= 0) return;
    if (IsRecordedSiPid(pid) || EsPidTableHas(s.esPidTable, pid)) RecordPacket(s, p);
}

}  // namespace

int32_t RoutePackets(PluginState& s, const uint8_t* packets, uint32_t byteCount) {
    std::unique_lock<std::mutex> held(s.lock);
    if (!s.active) return 0;
    // Whole packets only: a partial packet at the end is never read.
    const uint32_t whole = byteCount / kTsPacketSize;
    for (uint32_t i = 0; i < whole; ++i) {
        // A full staging buffer is written out first (the lock is released
        // for the writes); the window may have been closed meanwhile.
        if (s.stagedCount == kStagedPackets && !s.writerBusy) {
            WriteStagedPackets(s, held);
            if (!s.active) break;
        }
        RouteOnePacket(s, packets + i * kTsPacketSize);
    }
    // The selected packets go to the file after the routing, in the order
    // they came, with the lock released around each write call.
    WriteStagedPackets(s, held);
    return 1;
}
