#include "ts/section_assembler.h"

#include <cstring>

#include "ts/packet.h"
#include "ts/section.h"

namespace {

// Section header bytes the filter needs before it can run: table_id and
// section_length (bytes 0-2), and for the EIT also service_id and
// section_number (bytes 3-6). Until then an EIT section that began near the
// end of a packet is only collected: the bytes behind the collected ones are
// stale, and zeros there must not pass for section_number 0.
const int32_t kEitHeaderSize = 7;

// An EIT p/f section that follows a first one in the same packet is looked
// for only when it starts below this offset.
const int32_t kSecondSectionLimit = 178;

int32_t ServiceId(const uint8_t* section) { return (section[3] << 8) | section[4]; }
uint8_t SectionNumber(const uint8_t* section) { return section[6]; }

void Start(SectionAssembler& a, const uint8_t* packet, int32_t offset) {
    const int32_t n = kTsPacketSize - offset;
    a.inProgress = true;
    a.expectedCounter = PacketContinuityCounter(packet);
    std::memcpy(a.buffer, packet + offset, static_cast<size_t>(n));
    a.bytesCollected = n;
    a.waitingAt = 0;
    a.waitingBytes = 0;
}

// Starts the section at `offset` behind the one just completed, which stays
// at buffer[0] for the caller: its bytes wait behind the completed ones.
void StartBehind(SectionAssembler& a, const uint8_t* packet, int32_t offset) {
    const int32_t n = kTsPacketSize - offset;
    const int32_t at = a.bytesCollected;
    if (at < 0 || n > kSectionBufferSize - at) return;
    std::memcpy(a.buffer + at, packet + offset, static_cast<size_t>(n));
    a.inProgress = true;
    a.expectedCounter = PacketContinuityCounter(packet);
    a.waitingAt = at;
    a.waitingBytes = n;
}

// Appends bytes `offset` .. `end` - 1 of the packet. The completion test
// keeps a collecting section below 4098 bytes, so a packet always fits; the
// test is there so that no state can ever lead the copy past the buffer.
void Continue(SectionAssembler& a, const uint8_t* packet, int32_t offset, int32_t end = kTsPacketSize) {
    const int32_t n = end - offset;
    if (n < 0 || a.bytesCollected < 0 || n > kSectionBufferSize - a.bytesCollected) {
        a.inProgress = false;
        return;
    }
    std::memcpy(a.buffer + a.bytesCollected, packet + offset, static_cast<size_t>(n));
    a.bytesCollected += n;
}

// The continuity counter must have advanced by exactly one; a repeated
// packet breaks the section too. A break abandons the section.
bool ContinuityHolds(SectionAssembler& a, const uint8_t* packet) {
    a.expectedCounter = static_cast<uint8_t>((a.expectedCounter + 1) & 0x0F);
    if (a.expectedCounter == PacketContinuityCounter(packet)) return true;
    a.inProgress = false;
    return false;
}

enum CheckResult { kCollecting, kCompleted, kRejected };

// Runs after every Start and Continue: once the header is in, tests the
// section against the filter and its minimum length, and reports it
// complete when all section_length + 3 bytes are collected.
CheckResult CheckSection(SectionAssembler& a, const SectionFilter& f) {
    if (!a.inProgress) return kRejected;
    if (a.bytesCollected < (f.matchEvent ? kEitHeaderSize : kSectionHeaderSize)) return kCollecting;
    const int32_t length = SectionLength(a.buffer);
    // An EIT section that began too near the packet's end for its
    // service_id and section_number to be tested there is tested here.
    const bool wanted =
        !f.matchEvent || (ServiceId(a.buffer) == f.serviceId && SectionNumber(a.buffer) == f.sectionNumber);
    if (!wanted || length < f.minimumLength) {
        a.inProgress = false;
        return kRejected;
    }
    if (a.bytesCollected < length + kSectionHeaderSize) return kCollecting;
    a.inProgress = false;
    return kCompleted;
}

AssemblyResult ResultOf(CheckResult r) {
    return r == kCompleted ? AssemblyResult::kComplete : AssemblyResult::kNothing;
}

// Where the assembler starts in a PUSI packet whose first section, at s, is
// an EIT p/f section: at s when it is the wanted section, at the section
// right behind it when the first one is the other section_number, or
// nowhere (-1).
int32_t EventSectionStart(const SectionFilter& f, const uint8_t* packet, int32_t s) {
    // service_id and section_number lie past the packet's end: start, and
    // let CheckSection test them once the next packet has brought them.
    if (s + kEitHeaderSize > kTsPacketSize) return s;
    const uint8_t* first = packet + s;
    if (ServiceId(first) == f.serviceId && SectionNumber(first) == f.sectionNumber) return s;
    if (SectionNumber(first) != (f.sectionNumber ^ 1)) return -1;
    const int32_t s2 = s + SectionLength(first) + kSectionHeaderSize;
    if (s2 >= kSecondSectionLimit) return -1;
    const uint8_t* second = packet + s2;
    if (second[0] != f.tableId || ServiceId(second) != f.serviceId || SectionNumber(second) != f.sectionNumber) {
        return -1;
    }
    return s2;
}

// Moves a section waiting behind the one completed in the last packet to the
// start of the buffer. True when it is whole already (it fitted in the
// packet it began in).
bool TakeWaiting(SectionAssembler& a, const SectionFilter& f) {
    if (a.waitingBytes <= 0) return false;
    const int32_t at = a.waitingAt;
    const int32_t n = a.waitingBytes;
    a.waitingAt = 0;
    a.waitingBytes = 0;
    // Abandoned meanwhile (a service change, the view switched).
    if (!a.inProgress || at < 0 || n > kSectionBufferSize - at) {
        a.inProgress = false;
        return false;
    }
    std::memmove(a.buffer, a.buffer + at, static_cast<size_t>(n));
    a.bytesCollected = n;
    return CheckSection(a, f) == kCompleted;
}

// A packet without PUSI continues the section being collected.
AssemblyResult ContinuationPacket(SectionAssembler& a, const SectionFilter& f, const uint8_t* packet) {
    const int32_t payload = PacketPayloadStart(packet);
    if (payload < 0) return AssemblyResult::kNothing;
    if (!a.inProgress) return AssemblyResult::kNothing;
    if (!ContinuityHolds(a, packet)) return AssemblyResult::kBreak;
    Continue(a, packet, payload);
    return ResultOf(CheckSection(a, f));
}

// The section in progress meets a PUSI packet whose first section starts at
// `s`: the bytes before s are the last it can get. True when they complete
// it; otherwise it is dropped (a break, or a section_length that claims more
// bytes than were sent).
bool FinishBeforePointer(SectionAssembler& a, const SectionFilter& f, const uint8_t* packet, int32_t s) {
    if (!a.inProgress) return false;
    if (!ContinuityHolds(a, packet)) return false;
    // The pointer_field itself is the payload's first byte.
    Continue(a, packet, PacketPayloadStart(packet) + 1, s);
    if (CheckSection(a, f) == kCompleted) return true;
    a.inProgress = false;
    return false;
}

// A PUSI packet: finishes or drops the section in progress, then starts the
// one at `at` (-1: none). `s` is the packet's first section start.
AssemblyResult PusiPacket(SectionAssembler& a, const SectionFilter& f, const uint8_t* packet, int32_t s, int32_t at) {
    const bool completed = FinishBeforePointer(a, f, packet, s);
    if (at < 0) return completed ? AssemblyResult::kComplete : AssemblyResult::kNothing;
    if (completed) {
        StartBehind(a, packet, at);
        return AssemblyResult::kComplete;
    }
    Start(a, packet, at);
    return ResultOf(CheckSection(a, f));
}

// Where the packet's first section starts when it is to be started by a
// table assembler, or -1.
int32_t TableSectionStart(const SectionFilter& f, const uint8_t* packet, int32_t s) {
    return packet[s] == f.tableId ? s : -1;
}

int32_t EventStart(const SectionFilter& f, const uint8_t* packet, int32_t s) {
    return packet[s] == f.tableId ? EventSectionStart(f, packet, s) : -1;
}

AssemblyResult Assemble(SectionAssembler& a, const SectionFilter& f, const uint8_t* packet,
                        int32_t (*startOf)(const SectionFilter&, const uint8_t*, int32_t)) {
    const bool pusi = PacketHasPusi(packet);
    const int32_t s = pusi ? PacketSectionStart(packet) : -1;
    if (TakeWaiting(a, f)) {
        // The waiting section is handed over now. Nothing of this packet
        // continues it; only a section that begins here is started.
        if (s >= 0) {
            const int32_t at = startOf(f, packet, s);
            if (at >= 0) StartBehind(a, packet, at);
        }
        return AssemblyResult::kComplete;
    }
    if (!pusi) return ContinuationPacket(a, f, packet);
    if (s < 0) {
        // No section start inside the packet: where the section in
        // progress ends cannot be told either.
        a.inProgress = false;
        return AssemblyResult::kNothing;
    }
    return PusiPacket(a, f, packet, s, startOf(f, packet, s));
}

}  // namespace

SectionFilter TableSectionFilter(uint8_t tableId, int32_t minimumLength) {
    SectionFilter f;
    f.tableId = tableId;
    f.minimumLength = minimumLength;
    f.matchEvent = false;
    f.serviceId = 0;
    f.sectionNumber = 0;
    return f;
}

void ResetSectionAssembler(SectionAssembler& a) {
    a.bytesCollected = 0;
    a.inProgress = false;
    a.expectedCounter = 0;
    a.waitingAt = 0;
    a.waitingBytes = 0;
}

AssemblyResult AssembleTableSection(SectionAssembler& a, const SectionFilter& f, const uint8_t* packet) {
    return Assemble(a, f, packet, TableSectionStart);
}

AssemblyResult AssembleEventSection(SectionAssembler& a, const SectionFilter& f, const uint8_t* packet) {
    return Assemble(a, f, packet, EventStart);
}
