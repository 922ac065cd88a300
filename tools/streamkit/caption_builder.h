// ARIB caption data for test streams: data units, statement and management
// data, data groups with their CRC_16, the caption PES layout, PES packets
// with a PTS, and the transport-stream packets that carry them.
#ifndef KESTRIN_TOOLS_STREAMKIT_CAPTION_BUILDER_H
#define KESTRIN_TOOLS_STREAMKIT_CAPTION_BUILDER_H

#include <cstdint>
#include <vector>

#include "tools/streamkit/stream_builder.h"

namespace build {

// unit_separator 0x1F, data_unit_parameter, data_unit_size (24 bits), bytes.
Bytes CaptionDataUnit(uint8_t parameter, const Bytes& bytes);
// A statement body unit (0x20) with the caption text.
Bytes StatementBody(const Bytes& text);

// Caption statement data: TMD 0 (free), data_unit_loop_length, the units.
Bytes StatementData(const std::vector<Bytes>& units);
// Caption management data: TMD 0, one language per ISO 639 code (DMF 0b1010
// automatic display, format 0b1000, 8-unit code), the units.
Bytes ManagementData(const std::vector<const char*>& languages, const std::vector<Bytes>& units = {});

// data_group_id (6 bits), version, link numbers 0, data_group_size, data,
// CRC_16.
Bytes DataGroup(uint8_t dataGroupId, uint8_t version, const Bytes& data);

// data_identifier 0x80, private_stream_id 0xFF, PES_data_packet_header_length
// 0, the data group.
Bytes CaptionPesPayload(const Bytes& dataGroup);

// A private_stream_1 PES packet (stream_id 0xBD) with a PTS (33 bits, 90 kHz).
Bytes PesPacketWithPts(uint64_t pts, const Bytes& payload);

// The PES packet as transport-stream packets of `pid`: PUSI on the first,
// the rest of the last one 0xFF.
std::vector<Bytes> PesPackets(StreamBuilder& builder, uint16_t pid, const Bytes& pes);

// The caption PES payloads of a file of them, one after another, split by
// their own lengths (data header, data group header, data_group_size,
// CRC_16); a last piece that runs past the end of the file is left out.
std::vector<Bytes> SplitCaptionPayloads(const Bytes& file);

// One DRCS glyph of `width` x `height` dots at 2 bits (depth 2, mode 1): the
// fields of a DRCS data unit's font entry for the character `code`, with
// every pattern byte `fill`.
Bytes DrcsCharacter(uint16_t code, uint8_t width, uint8_t height, uint8_t fill = 0x55);
// A DRCS data unit (0x30 one-byte, 0x31 two-byte) of the given characters.
Bytes DrcsUnit(uint8_t parameter, const std::vector<Bytes>& characters);

}  // namespace build

#endif
