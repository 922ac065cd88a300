#include "ts/pes_assembler.h"

#include <cstring>

#include "ts/packet.h"
#include "ts/psi_reader.h"

namespace {

bool HasPayload(const uint8_t* packet) { return (packet[3] & 0x10) != 0; }
bool HasTransportError(const uint8_t* packet) { return (packet[0x01] & 0x80) != 0; }

// Copies the packet's payload from `offset`, up to the size of the PES
// packet once it is known (the rest is stuffing) and never past the buffer.
void Collect(PesAssembler& a, const uint8_t* packet, int32_t offset) {
    int32_t n = kTsPacketSize - offset;
    const int32_t room = (a.packetSize > 0 ? a.packetSize : kPesBufferSize) - a.bytesCollected;
    if (n > room) n = room;
    if (n <= 0) return;
    std::memcpy(a.buffer + a.bytesCollected, packet + offset, static_cast<size_t>(n));
    a.bytesCollected += n;
}

// Once the six header bytes are in: the size of the packet, or an end for
// bytes that are no PES packet or an unbounded one.
PesResult Check(PesAssembler& a) {
    if (a.bytesCollected < kPesHeaderSize) return PesResult::kNothing;
    if (a.packetSize == 0) {
        if (a.buffer[0] != 0 || a.buffer[1] != 0 || a.buffer[2] != 1) {
            a.inProgress = false;
            return PesResult::kNothing;
        }
        const int32_t length = (a.buffer[4] << 8) | a.buffer[5];
        if (length == 0) {
            a.inProgress = false;
            return PesResult::kNothing;
        }
        a.packetSize = kPesHeaderSize + length;
        if (a.bytesCollected > a.packetSize) a.bytesCollected = a.packetSize;
    }
    if (a.bytesCollected < a.packetSize) return PesResult::kNothing;
    a.inProgress = false;
    return PesResult::kComplete;
}

}  // namespace

void ResetPesAssembler(PesAssembler& a, uint16_t pid) {
    a.pid = pid;
    a.bytesCollected = 0;
    a.packetSize = 0;
    a.inProgress = false;
    a.expectedCounter = 0;
}

PesResult AssemblePes(PesAssembler& a, const uint8_t* packet) {
    if (PacketPid(packet) != a.pid) return PesResult::kNothing;
    if (HasTransportError(packet)) {
        const bool was = a.inProgress;
        a.inProgress = false;
        return was ? PesResult::kBreak : PesResult::kNothing;
    }
    if (!HasPayload(packet)) return PesResult::kNothing;
    const int32_t payload = PacketPayloadStart(packet);
    if (PacketHasPusi(packet)) {
        // A new PES packet; an unfinished one is abandoned.
        if (payload < 0) {
            a.inProgress = false;
            return PesResult::kNothing;
        }
        a.inProgress = true;
        a.expectedCounter = PacketContinuityCounter(packet);
        a.bytesCollected = 0;
        a.packetSize = 0;
        Collect(a, packet, payload);
        return Check(a);
    }
    if (!a.inProgress) return PesResult::kNothing;
    a.expectedCounter = static_cast<uint8_t>((a.expectedCounter + 1) & 0x0F);
    if (a.expectedCounter != PacketContinuityCounter(packet)) {
        a.inProgress = false;
        return PesResult::kBreak;
    }
    if (payload < 0) return PesResult::kNothing;
    Collect(a, packet, payload);
    return Check(a);
}

bool ParsePesPacket(const uint8_t* data, int32_t size, PesPacket* out) {
    *out = PesPacket{0, false, 0, nullptr, 0};
    PsiReader r(data, size);
    if (r.U24() != 0x000001) return false;
    const uint8_t streamId = r.U8();
    const int32_t length = r.U16();
    if (r.Error() || length == 0) return false;
    PsiReader body = r.Enter(length);
    if (body.Error()) return false;
    PesPacket p = {streamId, false, 0, nullptr, 0};
    // Streams without the optional PES header: program_stream_map,
    // padding, private_stream_2, ECM, EMM, directory, DSM-CC, H.222.1 type E.
    const bool plain = streamId == 0xBC || streamId == 0xBE || streamId == kPrivateStream2 || streamId == 0xF0 ||
                       streamId == 0xF1 || streamId == 0xFF || streamId == 0xF2 || streamId == 0xF8;
    if (!plain) {
        const uint8_t flags1 = body.U8();
        const uint8_t flags2 = body.U8();
        const int32_t headerLength = body.U8();
        if (body.Error() || (flags1 & 0xC0) != 0x80) return false;
        PsiReader header = body.Enter(headerLength);
        if (header.Error()) return false;
        if ((flags2 & 0x80) != 0) {
            const uint8_t* t = header.Bytes(5);
            if (t == nullptr) return false;
            p.hasPts = true;
            p.pts = (static_cast<uint64_t>((t[0] >> 1) & 0x07) << 30) | (static_cast<uint64_t>(t[1]) << 22) |
                    (static_cast<uint64_t>(t[2] >> 1) << 15) | (static_cast<uint64_t>(t[3]) << 7) |
                    static_cast<uint64_t>(t[4] >> 1);
        }
    }
    p.payloadSize = body.TakeUpTo(body.Remaining(), &p.payload);
    *out = p;
    return true;
}

bool ParseCaptionPesData(const uint8_t* payload, int32_t size, CaptionPesData* out) {
    *out = CaptionPesData{0, nullptr, 0};
    PsiReader r(payload, size);
    const uint8_t identifier = r.U8();
    const uint8_t privateStreamId = r.U8();
    const int32_t headerLength = r.U8() & 0x0F;
    if (r.Error() || (identifier != kSynchronisedPesData && identifier != kAsynchronousPesData) ||
        privateStreamId != kCaptionPrivateStreamId) {
        return false;
    }
    r.Skip(headerLength);
    if (r.Error()) return false;
    out->dataIdentifier = identifier;
    out->dataGroupSize = r.TakeUpTo(r.Remaining(), &out->dataGroup);
    return true;
}
