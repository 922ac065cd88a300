#include "plugin/caption_handover.h"

#include <cstring>
#include <mutex>

#include "plugin/messages.h"
#include "plugin/plugin_state.h"
#include "ts/caption_stream.h"
#include "ts/section.h"

namespace {

// A PAT of one programme, or a PMT with its fixed fields: anything shorter
// cannot be read.
const int32_t kPatMinimumLength = 9;
const int32_t kPmtMinimumLength = 13;

void EmptyMailbox(CaptionMailbox& m) {
    m.count = 0;
    m.dropped = false;
    m.dropsSinceTake = 0;
    // `posted` stays: a message on its way still arrives and finds nothing.
}

// Posts WM_CAPTION_READY unless one is on its way.
void TellWindow(PluginState& s) {
    CaptionMailbox& m = s.captionHandover.mailbox;
    if (m.posted) return;
    m.posted = true;
    s.platform->PostToWindow(WM_CAPTION_READY);
}

// Another stream or another service: packets taken from now on are told
// apart from the old ones by their generation, and the window, while the
// view is open, takes the (empty) batch of the new one and clears the old
// caption.
void NewGeneration(PluginState& s) {
    CaptionHandover& h = s.captionHandover;
    ++h.selection.generation;
    EmptyMailbox(h.mailbox);
    if (h.wanted) TellWindow(s);
}

// The service the captions are for is the one-segment service when the host
// has not reported a service, when the reported one is the one-segment
// PMT's programme, or when the PAT maps it to the one-segment PMT.
bool WatchingOneSeg(const PluginState& s) {
    const CaptionSelection& c = s.captionHandover.selection;
    if (s.currentService == 0) return true;
    if (c.servicePmtPid == kOneSegPmtPid) return true;
    return s.esPidTable.count > 0 && s.currentService == s.programNumber;
}

void Select(PluginState& s) {
    CaptionSelection& c = s.captionHandover.selection;
    const bool oneSeg = WatchingOneSeg(s);
    const int32_t pid = oneSeg ? c.oneSegCaptionPid : c.serviceCaptionPid;
    if (pid == c.pid && oneSeg == c.oneSeg) return;
    c.pid = pid;
    c.oneSeg = oneSeg;
    // The window clears the old stream's caption at once, even when the new
    // selection brings no packets (a PMT version without captions).
    NewGeneration(s);
}

// A whole PAT section (the assembler hands over only those): the service's
// PMT PID, when the section changed.
void TakePat(void* context, const uint8_t* section, int32_t size) {
    PluginState& s = *static_cast<PluginState*>(context);
    CaptionSelection& c = s.captionHandover.selection;
    if (size < kSectionHeaderSize + kCrcSize) return;
    const uint32_t key = SectionChangeKey(section);
    if (key == c.patKey) return;
    c.patKey = key;
    const int32_t pmtPid = FindProgramMapPid(section, size, static_cast<uint16_t>(s.currentService));
    if (pmtPid != c.servicePmtPid) {
        // Another PMT: its answer is read afresh, from the new PID's
        // packets (continuity counters run per PID).
        c.servicePmtPid = pmtPid;
        c.serviceCaptionPid = kNoPid;
        c.pmtKey = 0;
        ResetSectionAssembler(c.pmtAssembler);
    }
    Select(s);
}

void AssemblePat(PluginState& s, const uint8_t* packet) {
    AssembleSections(s.captionHandover.selection.patAssembler, TableSectionFilter(kPatTableId, kPatMinimumLength),
                     packet, TakePat, &s);
}

void TakeServicePmt(void* context, const uint8_t* section, int32_t size) {
    PluginState& s = *static_cast<PluginState*>(context);
    CaptionSelection& c = s.captionHandover.selection;
    if (size < kSectionHeaderSize + kCrcSize) return;
    // Several programmes may share a PMT PID: only the watched one counts.
    if (((section[3] << 8) | section[4]) != s.currentService) return;
    const uint32_t key = SectionChangeKey(section);
    if (key == c.pmtKey) return;
    c.pmtKey = key;
    c.serviceCaptionPid = FindCaptionPid(section, size, kFullSegCaptionComponentTag);
    Select(s);
}

void AssembleServicePmt(PluginState& s, const uint8_t* packet) {
    AssembleSections(s.captionHandover.selection.pmtAssembler, TableSectionFilter(kPmtTableId, kPmtMinimumLength),
                     packet, TakeServicePmt, &s);
}

void PutInMailbox(PluginState& s, const uint8_t* packet) {
    CaptionMailbox& m = s.captionHandover.mailbox;
    if (m.count >= kCaptionMailboxPackets) {
        m.dropped = true;
        // Full: the window's thread has not taken, perhaps because the
        // message that should have made it was lost. Ask again at the first
        // drop and every kCaptionMailboxPackets-th after.
        if (m.dropsSinceTake++ % kCaptionMailboxPackets == 0) {
            m.posted = true;
            s.platform->PostToWindow(WM_CAPTION_READY);
        }
        return;
    }
    std::memcpy(m.packets[m.count], packet, kTsPacketSize);
    ++m.count;
    TellWindow(s);
}

}  // namespace

void InitCaptionHandover(PluginState& s) {
    CaptionHandover& h = s.captionHandover;
    h.wanted = false;
    ResetSectionAssembler(h.selection.patAssembler);
    ResetSectionAssembler(h.selection.pmtAssembler);
    h.selection.generation = 0;
    h.selection.pid = kNoPid;
    h.mailbox.posted = false;
    h.mailbox.dropsSinceTake = 0;
    ForgetCaptionService(s);
}

void ForgetCaptionService(PluginState& s) {
    CaptionSelection& c = s.captionHandover.selection;
    ResetSectionAssembler(c.patAssembler);
    ResetSectionAssembler(c.pmtAssembler);
    c.patKey = 0;
    c.pmtKey = 0;
    c.servicePmtPid = kNoPid;
    c.oneSegCaptionPid = kNoPid;
    c.serviceCaptionPid = kNoPid;
    c.pid = kNoPid;
    c.oneSeg = true;
    NewGeneration(s);
}

void RouteCaptionPacket(PluginState& s, const uint8_t* packet, uint16_t pid) {
    CaptionHandover& h = s.captionHandover;
    if (pid == kPatPid) {
        AssemblePat(s, packet);
        return;
    }
    if (pid == h.selection.servicePmtPid && pid != kOneSegPmtPid) {
        AssembleServicePmt(s, packet);
        return;
    }
    if (h.wanted && pid == h.selection.pid) PutInMailbox(s, packet);
}

void NoteOneSegPmt(PluginState& s, const uint8_t* section, int32_t size) {
    s.captionHandover.selection.oneSegCaptionPid = FindCaptionPid(section, size, kOneSegCaptionComponentTag);
    Select(s);
}

void WantCaptions(PluginState& s, bool wanted) {
    std::lock_guard<std::mutex> guard(s.lock);
    s.captionHandover.wanted = wanted;
    if (!wanted) EmptyMailbox(s.captionHandover.mailbox);
    // A message lost before (no window to take it) must not keep the next
    // packets from being announced.
    if (wanted) s.captionHandover.mailbox.posted = false;
    // A stream joined again may continue a PES that began while closed.
    s.captionHandover.mailbox.dropped = true;
}

void TakeCaptionPackets(PluginState& s, CaptionPacketBatch& batch) {
    std::lock_guard<std::mutex> guard(s.lock);
    CaptionMailbox& m = s.captionHandover.mailbox;
    const int32_t n = m.count < 0 ? 0 : (m.count > kCaptionMailboxPackets ? kCaptionMailboxPackets : m.count);
    std::memcpy(batch.packets, m.packets, static_cast<size_t>(n) * kTsPacketSize);
    batch.count = n;
    batch.dropped = m.dropped;
    batch.generation = s.captionHandover.selection.generation;
    batch.pid = s.captionHandover.selection.pid;
    batch.oneSeg = s.captionHandover.selection.oneSeg;
    m.count = 0;
    m.dropped = false;
    m.posted = false;
    m.dropsSinceTake = 0;
}
