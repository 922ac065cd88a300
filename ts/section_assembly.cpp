#include "ts/section_assembly.h"

#include <cstring>

#include "plugin/plugin_state.h"
#include "ts/packet.h"
#include "ts/programme_map.h"
#include "ui/messages.h"

namespace {

enum SectionKind { kPresentEvent, kFollowingEvent, kServiceDescription, kProgrammeMap };

const uint8_t kEitPfActualTableId = 0x4E;
const uint8_t kSdtActualTableId = 0x42;
const uint8_t kPmtTableId = 0x02;

// Shortest section_length accepted. An EIT section needs at least one byte
// so that its change key (the four bytes at section_length - 1) lies inside
// it; the SDT and PMT minimums leave room for their fixed fields.
const int32_t kEitMinimumLength = 1;
const int32_t kSdtMinimumLength = 9;
const int32_t kPmtMinimumLength = 14;

// Section header bytes the checks need before they can run: table_id and
// section_length (bytes 0-2), and for the EIT also service_id and
// section_number (bytes 3-6).
const int32_t kLengthHeaderSize = 3;
const int32_t kEitHeaderSize = 7;

// An EIT p/f section that follows a first one in the same packet is looked
// for only when it starts below this offset.
const int32_t kSecondSectionLimit = 178;

SectionAssembler& AssemblerOf(PluginState& state, SectionKind kind) {
    switch (kind) {
        case kPresentEvent: return state.presentAssembler;
        case kFollowingEvent: return state.followingAssembler;
        case kServiceDescription: return state.sdtAssembler;
        case kProgrammeMap: break;
    }
    return state.pmtAssembler;
}

int32_t ServiceId(const uint8_t* section) { return (section[3] << 8) | section[4]; }
uint8_t SectionNumber(const uint8_t* section) { return section[6]; }

void Start(SectionAssembler& a, const uint8_t* packet, int32_t offset) {
    const int32_t n = kTsPacketSize - offset;
    a.inProgress = 1;
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
        a.inProgress = 0;
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
    a.inProgress = 0;
    return false;
}

// Hands a complete section to its consumer. EIT and SDT sections are copied
// into the window's mailbox (the lock is held) before the message is posted,
// so the window reads a whole section even after this assembler has started
// the next one.
void Announce(PluginState& state, SectionKind kind, const SectionAssembler& a, int32_t size) {
    SectionMailbox* mailbox = nullptr;
    uint32_t message = 0;
    switch (kind) {
        case kPresentEvent:
            mailbox = &state.presentMailbox;
            message = WM_EIT_PRESENT_READY;
            break;
        case kFollowingEvent:
            mailbox = &state.followingMailbox;
            message = WM_EIT_FOLLOWING_READY;
            break;
        case kServiceDescription:
            mailbox = &state.sdtMailbox;
            message = WM_SDT_READY;
            break;
        case kProgrammeMap:
            UpdateProgrammeMap(state);
            return;
    }
    std::memcpy(mailbox->data, a.buffer, static_cast<size_t>(size));
    mailbox->length = size;
    state.platform->PostToWindow(message);
}

enum CheckResult { kCollecting, kAnnounced, kRejected };

// Runs after every Start and Continue: once the header is in, checks the
// section against its filter and minimum length, and announces it when all
// section_length + 3 bytes are collected.
CheckResult CheckSection(PluginState& state, SectionKind kind) {
    SectionAssembler& a = AssemblerOf(state, kind);
    if (!a.inProgress) return kRejected;
    const bool isEvent = kind == kPresentEvent || kind == kFollowingEvent;
    if (a.bytesCollected < (isEvent ? kEitHeaderSize : kLengthHeaderSize)) return kCollecting;
    int32_t minimum = kEitMinimumLength;
    if (kind == kServiceDescription) minimum = kSdtMinimumLength;
    if (kind == kProgrammeMap) minimum = kPmtMinimumLength;
    const int32_t length = SectionLength(a.buffer);
    // An EIT section that began too near the packet's end for its
    // service_id and section_number to be tested there is tested here.
    const bool wanted = !isEvent || (ServiceId(a.buffer) == state.currentService &&
                                     SectionNumber(a.buffer) == (kind == kPresentEvent ? 0 : 1));
    if (!wanted || length < minimum) {
        a.inProgress = 0;
        return kRejected;
    }
    if (a.bytesCollected < length + 3) return kCollecting;
    Announce(state, kind, a, length + 3);
    a.inProgress = 0;
    return kAnnounced;
}

// Where the present (wanted 0) or following (wanted 1) assembler starts in a
// PUSI packet whose first section, at s, is an EIT p/f section: at s when it
// is the wanted section of the current service, at the section right behind
// it when the first one is the other section_number, or nowhere (-1).
int32_t EventSectionStart(const PluginState& state, const uint8_t* packet, int32_t s, uint8_t wanted) {
    // service_id and section_number lie past the packet's end: start, and
    // let CheckSection test them once the next packet has brought them.
    if (s + kEitHeaderSize > kTsPacketSize) return s;
    const uint8_t* first = packet + s;
    if (ServiceId(first) == state.currentService && SectionNumber(first) == wanted) return s;
    if (SectionNumber(first) != (wanted ^ 1)) return -1;
    const int32_t s2 = s + SectionLength(first) + 3;
    if (s2 >= kSecondSectionLimit) return -1;
    const uint8_t* second = packet + s2;
    if (second[0] != kEitPfActualTableId || ServiceId(second) != state.currentService ||
        SectionNumber(second) != wanted) {
        return -1;
    }
    return s2;
}

// One EIT assembler and a PUSI packet whose first section is EIT p/f.
// Returns false when a continuity break ends the handling of the packet.
bool EventPusiPacket(PluginState& state, SectionKind kind, const uint8_t* packet, int32_t s,
                     int32_t continuation) {
    SectionAssembler& a = AssemblerOf(state, kind);
    if (a.inProgress) {
        // The bytes behind the pointer_field finish the section being
        // collected; the section that begins at s is not started.
        if (!ContinuityHolds(a, packet)) return false;
        Continue(a, packet, continuation);
        if (CheckSection(state, kind) != kRejected) return true;
        // Only a section that began too near the last packet's end to be
        // tested there is rejected here; the one that begins at s may be
        // the wanted one.
    }
    const int32_t at = EventSectionStart(state, packet, s, kind == kPresentEvent ? 0 : 1);
    if (at < 0) return true;
    Start(a, packet, at);
    CheckSection(state, kind);
    return true;
}

// One assembler and a packet without PUSI. Returns false on a break.
bool ContinuationPacket(PluginState& state, SectionKind kind, const uint8_t* packet, int32_t payload) {
    SectionAssembler& a = AssemblerOf(state, kind);
    if (!a.inProgress) return true;
    if (!ContinuityHolds(a, packet)) return false;
    Continue(a, packet, payload);
    CheckSection(state, kind);
    return true;
}

// The SDT and PMT assemblers: a section starts only in a PUSI packet while
// idle and is continued only by packets without PUSI.
void AssembleTable(PluginState& state, SectionKind kind, uint8_t tableId, const uint8_t* packet) {
    SectionAssembler& a = AssemblerOf(state, kind);
    if (PacketHasPusi(packet)) {
        const int32_t s = PacketSectionStart(packet);
        if (s < 0 || packet[s] != tableId || a.inProgress) return;
        Start(a, packet, s);
        CheckSection(state, kind);
        return;
    }
    const int32_t payload = PacketPayloadStart(packet);
    if (payload < 0) return;
    ContinuationPacket(state, kind, packet, payload);
}

}  // namespace

void AssembleEit(PluginState& state, const uint8_t* packet) {
    const bool following = state.viewSelector == 1;
    if (PacketHasPusi(packet)) {
        // A packet whose section start lies outside it is ignored whole.
        const int32_t s = PacketSectionStart(packet);
        if (s < 0 || packet[s] != kEitPfActualTableId) return;
        // The byte right after the pointer_field; s lies at or behind it.
        const int32_t continuation = PacketPayloadStart(packet) + 1;
        if (!EventPusiPacket(state, kPresentEvent, packet, s, continuation)) return;
        if (following) EventPusiPacket(state, kFollowingEvent, packet, s, continuation);
        return;
    }
    const int32_t payload = PacketPayloadStart(packet);
    if (payload < 0) return;
    if (!ContinuationPacket(state, kPresentEvent, packet, payload)) return;
    if (following) ContinuationPacket(state, kFollowingEvent, packet, payload);
}

void AssembleSdt(PluginState& state, const uint8_t* packet) {
    AssembleTable(state, kServiceDescription, kSdtActualTableId, packet);
}

void AssemblePmt(PluginState& state, const uint8_t* packet) {
    AssembleTable(state, kProgrammeMap, kPmtTableId, packet);
}
