// Reading the fields of one 188-byte transport-stream packet.
//
// Every offset computed from adaptation_field_length or pointer_field is
// checked against the packet's end here, once, so that callers never see an
// offset outside the packet.
#ifndef KESTRIN_TS_PACKET_H
#define KESTRIN_TS_PACKET_H

#include <cstdint>

const int32_t kTsPacketSize = 188;

inline uint16_t PacketPid(const uint8_t* p) {
    return static_cast<uint16_t>(((p[1] & 0x1F) << 8) | p[2]);
}
inline bool PacketHasPusi(const uint8_t* p) { return (p[1] & 0x40) != 0; }
inline bool PacketHasAdaptationField(const uint8_t* p) { return (p[3] & 0x20) != 0; }
inline uint8_t PacketContinuityCounter(const uint8_t* p) { return p[3] & 0x0F; }

// Offset of the first byte after the header and adaptation field: 4, or
// 5 + adaptation_field_length. Returns -1 when that lies at or past the end.
inline int32_t PacketPayloadStart(const uint8_t* p) {
    int32_t o = PacketHasAdaptationField(p) ? 5 + p[4] : 4;
    return o < kTsPacketSize ? o : -1;
}

// Offset of the first section that begins in a PUSI packet: the byte after
// the pointer_field plus its value. Returns -1 when the pointer_field or the
// section start lies at or past the end of the packet.
inline int32_t PacketSectionStart(const uint8_t* p) {
    int32_t pointerAt = PacketPayloadStart(p);
    if (pointerAt < 0) return -1;
    int32_t s = pointerAt + 1 + p[pointerAt];
    return s < kTsPacketSize ? s : -1;
}

// section_length of the section at s (12 low bits of bytes 1-2).
inline int32_t SectionLength(const uint8_t* section) {
    return ((section[1] & 0x0F) << 8) | section[2];
}

// A section's change key: its CRC_32 field as a big-endian number, read from
// the four bytes at section_length - 1 .. section_length + 2.
inline uint32_t SectionChangeKey(const uint8_t* section) {
    int32_t l = SectionLength(section);
    return (static_cast<uint32_t>(section[l - 1]) << 24) | (static_cast<uint32_t>(section[l]) << 16) |
           (static_cast<uint32_t>(section[l + 1]) << 8) | section[l + 2];
}

#endif
