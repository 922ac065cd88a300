// Reading the fields of one 188-byte transport-stream packet, and the PIDs
// the plug-in knows by number.
//
// Every offset computed from adaptation_field_length or pointer_field is
// checked against the packet's end here, once, so that callers never see an
// offset outside the packet.
#ifndef KESTRIN_TS_PACKET_H
#define KESTRIN_TS_PACKET_H

#include <cstdint>

const int32_t kTsPacketSize = 188;

// PIDs of ISDB-T terrestrial broadcasting.
const uint16_t kPatPid = 0x0000;
const uint16_t kNitPid = 0x0010;
const uint16_t kSdtPid = 0x0011;  // SDT, BAT
const uint16_t kEitPid = 0x0012;  // H-EIT: every service, p/f and schedule
const uint16_t kTotPid = 0x0014;  // TDT, TOT
// Further service-information PIDs of the broadcast, recorded without a
// handler of their own.
const uint16_t kFurtherSiPids[3] = {0x0024, 0x0027, 0x0028};
// EIT present/following sent again in the lower hierarchical layers: M-EIT
// and, in the partial-reception (one-segment) layer, L-EIT. A receiver of
// the one-segment layer alone gets its programme information only there.
const uint16_t kMediumEitPid = 0x0026;
const uint16_t kLowEitPid = 0x0027;
// The PMT of the one-segment (partial reception) service.
const uint16_t kOneSegPmtPid = 0x1FC8;

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

#endif
