#include "ts/programme_map.h"

#include <cstring>

#include "plugin/plugin_state.h"
#include "ts/packet.h"
#include "ts/router.h"

namespace {

const uint8_t kPatTableId = 0x00;
const uint8_t kPmtTableId = 0x02;
const uint16_t kOneSegPmtPid = 0x1FC8;
const uint16_t kNetworkPid = 0x0010;

// PMT layout: the fixed fields end at byte 12, where program_info begins;
// each elementary-stream entry has a 5-byte head before its ES_info; the
// CRC_32 takes the last 4 bytes.
const int32_t kPmtFixedSize = 12;
const int32_t kPmtEntryHeadSize = 5;
const int32_t kCrcSize = 4;

// The rewritten PAT: 16 bytes of header and two programme entries, then the
// CRC_32.
const int32_t kRewrittenPatCrcOffset = 16;
const int32_t kRewrittenPatSize = 20;

// The CRC-32/MPEG-2 table of polynomial 0x04C11DB7, computed by the compiler.
struct CrcTable {
    uint32_t entry[256];
};

constexpr CrcTable MakeCrcTable() {
    CrcTable table = {};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t crc = i << 24;
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
        table.entry[i] = crc;
    }
    return table;
}

constexpr CrcTable kCrcTable = MakeCrcTable();
static_assert(kCrcTable.entry[1] == 0x04C11DB7u, "CRC table built from the MPEG-2 polynomial");
static_assert(kCrcTable.entry[255] == 0xB1F740B4u, "CRC table complete");

uint16_t Read16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }
uint16_t ReadPid(const uint8_t* p) { return static_cast<uint16_t>(((p[0] & 0x1F) << 8) | p[1]); }
int32_t ReadLength12(const uint8_t* p) { return ((p[0] & 0x0F) << 8) | p[1]; }

}  // namespace

uint32_t Crc32Mpeg2(const uint8_t* data, size_t size) {
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < size; ++i) crc = (crc << 8) ^ kCrcTable.entry[((crc >> 24) ^ data[i]) & 0xFF];
    return crc;
}

int32_t ParsePmt(const uint8_t* section, int32_t size, EsPidTable& table, uint16_t& programNumber) {
    // Too short to hold the fixed fields and a CRC_32: not a PMT we can read.
    if (size < kPmtFixedSize + kCrcSize || section[0] != kPmtTableId) return 0;
    programNumber = Read16(section + 3);
    table.entries[0].pid = ReadPid(section + 8);
    table.entries[0].streamType = 0;
    // The elementary-stream loop runs from behind program_info to the
    // CRC_32. An entry is taken only when its 5-byte head lies wholly before
    // the CRC_32, so lengths that contradict each other end the loop instead
    // of leading the parse out of the section.
    const int32_t loopEnd = size - kCrcSize;
    int32_t offset = kPmtFixedSize + ReadLength12(section + 10);
    int32_t count = 1;
    while (count < kEsPidCapacity && offset + kPmtEntryHeadSize <= loopEnd) {
        table.entries[count].streamType = section[offset];
        table.entries[count].pid = ReadPid(section + offset + 1);
        ++count;
        offset += kPmtEntryHeadSize + ReadLength12(section + offset + 3);
    }
    return count;
}

void UpdateProgrammeMap(PluginState& state) {
    const SectionAssembler& a = state.pmtAssembler;
    if (a.bytesCollected < 3) return;
    const int32_t size = SectionLength(a.buffer) + 3;
    // The PMT assembler calls this only for a whole section of at least the
    // minimum length, so the key's four bytes were collected.
    if (size < kCrcSize + 3 || a.bytesCollected < size) return;
    const uint32_t key = SectionChangeKey(a.buffer);
    if (key == state.pmtKey) return;
    state.esPidTable.count = ParsePmt(a.buffer, size, state.esPidTable, state.programNumber);
    state.pmtKey = key;
}

bool RewritePatPacket(const uint8_t* packet, uint16_t programNumber, uint8_t* out) {
    std::memcpy(out, packet, kTsPacketSize);
    if (!PacketHasPusi(out)) return false;
    const int32_t s = PacketSectionStart(out);
    if (s < 0 || out[s] != kPatTableId) return false;
    // Both the new 20 bytes and the received section must lie inside the
    // packet; the received section must end before its last byte.
    if (s + kRewrittenPatSize > kTsPacketSize) return false;
    const int32_t end = s + SectionLength(out + s) + 3;
    if (end >= kTsPacketSize) return false;

    uint8_t* q = out + s;
    q[1] = 0xB0;  // section_syntax_indicator 1, '0', reserved, length high bits 0
    q[2] = 0x11;  // section_length 17
    // transport_stream_id, version, section_number and last_section_number
    // (q[3] .. q[7]) stay as received.
    q[8] = 0x00;  // program_number 0: the network PID
    q[9] = 0x00;
    q[10] = static_cast<uint8_t>(0xE0 | (kNetworkPid >> 8));
    q[11] = static_cast<uint8_t>(kNetworkPid & 0xFF);
    q[12] = static_cast<uint8_t>(programNumber >> 8);
    q[13] = static_cast<uint8_t>(programNumber & 0xFF);
    q[14] = static_cast<uint8_t>(0xE0 | (kOneSegPmtPid >> 8));
    q[15] = static_cast<uint8_t>(kOneSegPmtPid & 0xFF);
    const uint32_t crc = Crc32Mpeg2(q, kRewrittenPatCrcOffset);
    q[16] = static_cast<uint8_t>(crc >> 24);
    q[17] = static_cast<uint8_t>(crc >> 16);
    q[18] = static_cast<uint8_t>(crc >> 8);
    q[19] = static_cast<uint8_t>(crc);
    // The rest of a longer received section becomes stuffing.
    for (int32_t i = s + kRewrittenPatSize; i < end; ++i) out[i] = 0xFF;
    return true;
}

void WriteRewrittenPat(PluginState& state, const uint8_t* packet) {
    uint8_t rewritten[kTsPacketSize];
    if (RewritePatPacket(packet, state.programNumber, rewritten)) RecordPacket(state, rewritten);
}
