#include "ts/router.h"

#include "plugin/plugin_state.h"
#include "ts/broadcast_clock.h"
#include "ts/packet.h"
#include "ts/programme_map.h"
#include "ts/section_assembly.h"
#include "ui/recorder.h"

// True when the PID is one of the fixed service-information rows that are
// written while recording without a handler of their own deciding.
static bool IsRecordedSiPid(uint16_t pid) {
    return pid == 0x0010 || pid == 0x0011 || pid == 0x0014 || pid == 0x0024 || pid == 0x0027 ||
           pid == 0x0028;
}

static bool IsElementaryPid(const EsPidTable& table, uint16_t pid) {
    int32_t n = table.count < kEsPidCapacity ? table.count : kEsPidCapacity;
    for (int32_t i = 0; i < n; ++i) {
        if (table.entries[i].pid == pid) return true;
    }
    return false;
}

void RecordPacket(PluginState& s, const uint8_t* packet) {
    if (s.recordingFile == kInvalidFileHandle) return;
    if (!s.platform->WriteFile(s.recordingFile, packet, kTsPacketSize)) {
        s.recordingFlag = 0;
        StartStopRecording(s);
    }
}

static void RouteOnePacket(PluginState& s, const uint8_t* p) {
    const uint16_t pid = PacketPid(p);
    switch (pid) {
        case 0x0000:
            // Only the rewritten copy, and only while recording.
            if (s.recordingFile != kInvalidFileHandle && s.esPidTable.count > 0) WriteRewrittenPat(s, p);
            return;
        case 0x0011:
            AssembleSdt(s, p);
            break;
        case 0x0012:
            AssembleEit(s, p);
            return;  // EIT is never recorded
        case 0x0014:
            ReadTot(s, p);
            break;
        case 0x1FC8:
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
    if (IsRecordedSiPid(pid) || IsElementaryPid(s.esPidTable, pid)) RecordPacket(s, p);
}

int32_t RoutePackets(PluginState& s, const uint8_t* packets, uint32_t byteCount) {
    {
        std::lock_guard<std::mutex> guard(s.lock);
        if (s.active == 0) return 0;
        // Whole packets only: a partial packet at the end is never read.
        const uint32_t whole = byteCount / kTsPacketSize;
        for (uint32_t i = 0; i < whole; ++i) RouteOnePacket(s, packets + i * kTsPacketSize);
    }
    // A failed write stopped the recording on this thread; its label change
    // waits until the lock is released (SetControlText may block).
    ApplyRecordLabel(s);
    return 1;
}
