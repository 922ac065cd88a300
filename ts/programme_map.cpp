#include "ts/programme_map.h"

#include <cstring>

#include "ts/crc32.h"
#include "ts/packet.h"
#include "ts/psi_reader.h"
#include "ts/section.h"

namespace {

// PMT layout: the fixed fields end at byte 12, where program_info begins;
// each elementary-stream entry has a 5-byte head before its ES_info.
const int32_t kPmtFixedSize = 12;
const int32_t kPmtEntryHeadSize = 5;

// The rewritten PAT: 16 bytes of header and two programme entries, then the
// CRC_32.
const int32_t kRewrittenPatCrcOffset = 16;
const int32_t kRewrittenPatSize = kRewrittenPatCrcOffset + kCrcSize;

}  // namespace

int32_t ParsePmt(const uint8_t* section, int32_t size, EsPidTable& table, uint16_t& programNumber) {
    // Too short to hold the fixed fields and a CRC_32: not a PMT we can read.
    if (size < kPmtFixedSize + kCrcSize || section[0] != kPmtTableId) return 0;
    // Everything is read from the bytes before the CRC_32.
    PsiReader r(section, size - kCrcSize);
    r.Skip(kSectionHeaderSize);
    programNumber = r.U16();
    r.Skip(3);  // version_number, section_number, last_section_number
    table.entries[0].pid = r.Pid();
    table.entries[0].streamType = 0;
    r.Skip(r.Length12());  // program_info
    // An entry is taken only when its 5-byte head lies wholly before the
    // CRC_32, and each entry resumes at the declared end of the one before,
    // so lengths that contradict each other end the loop instead of leading
    // the parse out of the section.
    int32_t count = 1;
    while (count < kEsPidCapacity && r.CanRead(kPmtEntryHeadSize)) {
        table.entries[count].streamType = r.U8();
        table.entries[count].pid = r.Pid();
        ++count;
        r.Skip(r.Length12());  // ES_info
    }
    return count;
}

bool EsPidTableHas(const EsPidTable& table, uint16_t pid) {
    const int32_t n = table.count < kEsPidCapacity ? table.count : kEsPidCapacity;
    for (int32_t i = 0; i < n; ++i) {
        if (table.entries[i].pid == pid) return true;
    }
    return false;
}

bool RewritePatPacket(const uint8_t* packet, uint16_t programNumber, uint8_t* out) {
    std::memcpy(out, packet, kTsPacketSize);
    if (!PacketHasPusi(out)) return false;
    const int32_t s = PacketSectionStart(out);
    if (s < 0 || out[s] != kPatTableId) return false;
    // Both the new 20 bytes and the received section must lie inside the
    // packet; the received section must end before its last byte.
    if (s + kRewrittenPatSize > kTsPacketSize) return false;
    const int32_t end = s + SectionLength(out + s) + kSectionHeaderSize;
    if (end >= kTsPacketSize) return false;

    uint8_t* q = out + s;
    q[1] = 0xB0;  // section_syntax_indicator 1, '0', reserved, length high bits 0
    q[2] = 0x11;  // section_length 17
    // transport_stream_id, version, section_number and last_section_number
    // (q[3] .. q[7]) stay as received.
    q[8] = 0x00;  // program_number 0: the network PID
    q[9] = 0x00;
    q[10] = static_cast<uint8_t>(0xE0 | (kNitPid >> 8));
    q[11] = static_cast<uint8_t>(kNitPid & 0xFF);
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
