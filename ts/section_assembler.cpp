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
}

// Appends the packet from `offset` to its end. The completion test keeps a
// collecting section below 4098 bytes, so a packet always fits; the test is
// there so that no state can ever lead the copy past the buffer.
void Continue(SectionAssembler& a, const uint8_t* packet, int32_t offset) {
    const int32_t n = kTsPacketSize - offset;
    if (a.bytesCollected < 0 || n > kSectionBufferSize - a.bytesCollected) {
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

// A packet without PUSI continues the section being collected.
AssemblyResult ContinuationPacket(SectionAssembler& a, const SectionFilter& f, const uint8_t* packet) {
    const int32_t payload = PacketPayloadStart(packet);
    if (payload < 0) return AssemblyResult::kNothing;
    if (!a.inProgress) return AssemblyResult::kNothing;
    if (!ContinuityHolds(a, packet)) return AssemblyResult::kBreak;
    Continue(a, packet, payload);
    return ResultOf(CheckSection(a, f));
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
}

AssemblyResult AssembleTableSection(SectionAssembler& a, const SectionFilter& f, const uint8_t* packet) {
    if (!PacketHasPusi(packet)) return ContinuationPacket(a, f, packet);
    const int32_t s = PacketSectionStart(packet);
    if (s < 0 || packet[s] != f.tableId || a.inProgress) return AssemblyResult::kNothing;
    Start(a, packet, s);
    return ResultOf(CheckSection(a, f));
}

AssemblyResult AssembleEventSection(SectionAssembler& a, const SectionFilter& f, const uint8_t* packet) {
    if (!PacketHasPusi(packet)) return ContinuationPacket(a, f, packet);
    // A packet whose section start lies outside it is ignored whole.
    const int32_t s = PacketSectionStart(packet);
    if (s < 0 || packet[s] != f.tableId) return AssemblyResult::kNothing;
    if (a.inProgress) {
        // The bytes behind the pointer_field finish the section being
        // collected; the section that begins at s is not started.
        if (!ContinuityHolds(a, packet)) return AssemblyResult::kBreak;
        Continue(a, packet, PacketPayloadStart(packet) + 1);
        const CheckResult r = CheckSection(a, f);
        if (r != kRejected) return ResultOf(r);
        // Only a section that began too near the last packet's end to be
        // tested there is rejected here; the one that begins at s may be
        // the wanted one.
    }
    const int32_t at = EventSectionStart(f, packet, s);
    if (at < 0) return AssemblyResult::kNothing;
    Start(a, packet, at);
    return ResultOf(CheckSection(a, f));
}
