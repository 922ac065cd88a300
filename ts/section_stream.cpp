#include "ts/section_stream.h"

#include <cstring>

#include "ts/packet.h"
#include "ts/section.h"

namespace {

const uint8_t kStuffing = 0xFF;

// Appends up to `available` bytes to the section in progress, as far as it
// still needs them. Returns the bytes taken; hands the section over and
// ends it when it is whole.
int32_t Collect(SectionStream& s, const uint8_t* bytes, int32_t available, SectionSink sink, void* context,
                int32_t& handed) {
    int32_t taken = 0;
    // The header first: section_length tells how much is wanted.
    while (s.collected < kSectionHeaderSize && taken < available) s.buffer[s.collected++] = bytes[taken++];
    if (s.collected < kSectionHeaderSize) return taken;
    const int32_t whole = SectionLength(s.buffer) + kSectionHeaderSize;
    int32_t want = whole - s.collected;
    if (want > available - taken) want = available - taken;
    std::memcpy(s.buffer + s.collected, bytes + taken, static_cast<size_t>(want));
    s.collected += want;
    taken += want;
    if (s.collected == whole) {
        sink(context, s.buffer, whole);
        ++handed;
        s.collected = 0;
    }
    return taken;
}

}  // namespace

void ResetSectionStream(SectionStream& stream) {
    stream.collected = 0;
    stream.haveCounter = false;
    stream.counter = 0;
}

int32_t FeedSectionStream(SectionStream& s, const uint8_t* packet, SectionSink sink, void* context) {
    if (packet == nullptr || packet[0] != 0x47 || (packet[1] & 0x80) != 0) return 0;  // sync lost, error flag
    if ((packet[3] & 0x10) == 0) return 0;                                          // no payload
    const uint8_t counter = PacketContinuityCounter(packet);
    if (s.haveCounter && counter == s.counter) return 0;  // a repeated packet
    if (s.haveCounter && counter != ((s.counter + 1) & 0x0F)) s.collected = 0;
    s.haveCounter = true;
    s.counter = counter;

    const int32_t payload = PacketPayloadStart(packet);
    if (payload < 0) return 0;
    int32_t handed = 0;
    if (!PacketHasPusi(packet)) {
        if (s.collected > 0) Collect(s, packet + payload, kTsPacketSize - payload, sink, context, handed);
        return handed;
    }
    const int32_t start = PacketSectionStart(packet);
    if (s.collected > 0) {
        // The bytes up to the pointer's target end the section in progress;
        // one they do not finish is abandoned.
        const int32_t tailEnd = start < 0 ? kTsPacketSize : start;
        Collect(s, packet + payload + 1, tailEnd - payload - 1, sink, context, handed);
        s.collected = 0;
    }
    if (start < 0) return handed;
    int32_t at = start;
    while (at < kTsPacketSize && packet[at] != kStuffing) {
        at += Collect(s, packet + at, kTsPacketSize - at, sink, context, handed);
        if (s.collected > 0) break;  // goes on in the next packet
    }
    return handed;
}
