// Reassembly of PES packets from the transport-stream packets of one PID,
// and the fields of a PES packet and of the caption PES layout.
//
// Rules, like the section assembler's: a PES packet starts only in a PUSI
// packet (a PUSI packet that arrives while one is being collected abandons
// the unfinished one and starts anew); it continues only in the packet whose
// continuity_counter is the next one (a repeated packet breaks it too); a
// broken PES packet is abandoned. A PES packet is complete when
// PES_packet_length + 6 bytes are collected; the bytes behind it in its last
// packet (stuffing) are dropped. PES_packet_length 0 (unbounded, for video
// only) is not collected. Packets with transport_error_indicator set break
// the packet being collected; packets without payload change nothing.
//
// Everything lies in one fixed buffer of kPesBufferSize bytes: the largest
// PES packet that PES_packet_length can describe.
#ifndef KESTRIN_TS_PES_ASSEMBLER_H
#define KESTRIN_TS_PES_ASSEMBLER_H

#include <cstdint>

// packet_start_code_prefix, stream_id and PES_packet_length.
const int32_t kPesHeaderSize = 6;
// The largest PES packet: PES_packet_length 0xFFFF and the 6 bytes before it.
const int32_t kPesBufferSize = kPesHeaderSize + 0xFFFF;

// stream_id values of ARIB data and caption PES.
const uint8_t kPrivateStream1 = 0xBD;  // synchronised PES (captions, with PTS)
const uint8_t kPrivateStream2 = 0xBF;  // asynchronous PES (superimposed text)

struct PesAssembler {
    uint8_t buffer[kPesBufferSize];
    uint16_t pid;             // the PID collected; other packets are ignored
    int32_t bytesCollected;
    int32_t packetSize;       // PES_packet_length + 6, once known; 0 before
    bool inProgress;          // a PES packet is being collected
    uint8_t expectedCounter;  // continuity_counter of the last packet taken
};

enum class PesResult {
    kNothing,   // nothing completed in this packet
    kComplete,  // a whole PES packet lies at buffer[0 .. packetSize)
    kBreak,     // a continuity break (or an errored packet) abandoned a PES packet
};

// Forgets any packet being collected and selects `pid`.
void ResetPesAssembler(PesAssembler& assembler, uint16_t pid);

// One 188-byte transport-stream packet in. Packets of other PIDs are ignored.
PesResult AssemblePes(PesAssembler& assembler, const uint8_t* packet);

// The fields of one complete PES packet.
struct PesPacket {
    uint8_t streamId;
    bool hasPts;
    uint64_t pts;             // 33 bits, 90 kHz; 0 without PTS
    const uint8_t* payload;   // PES_packet_data_bytes
    int32_t payloadSize;
};

// Reads a PES packet of `size` bytes (start code, stream_id, length, and for
// private_stream_1 the optional PES header with its PTS). Returns false, and
// leaves *out empty, for bytes that are no PES packet, a PES_packet_length
// that runs past `size`, or a PES header longer than the packet. Bytes past
// 6 + PES_packet_length are not part of the packet.
bool ParsePesPacket(const uint8_t* data, int32_t size, PesPacket* out);

// data_identifier values of ARIB PES data.
const uint8_t kSynchronisedPesData = 0x80;   // captions
const uint8_t kAsynchronousPesData = 0x81;   // superimposed text
const uint8_t kCaptionPrivateStreamId = 0xFF;

// The layout of ARIB synchronised (and asynchronous) PES data, in the
// PES_packet_data_bytes: data_identifier, private_stream_id,
// PES_data_packet_header_length (the low four bits of the third byte), that
// many header bytes, then the data group.
struct CaptionPesData {
    uint8_t dataIdentifier;
    const uint8_t* dataGroup;  // the data group (to the end of the payload)
    int32_t dataGroupSize;
};

// Reads the caption PES layout from a PES payload. Returns false for a
// data_identifier other than 0x80 or 0x81, a private_stream_id other than
// 0xFF, or a header that runs past the payload.
bool ParseCaptionPesData(const uint8_t* payload, int32_t size, CaptionPesData* out);

#endif
