#include "ts/crc32.h"

namespace {

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

}  // namespace

uint32_t Crc32Mpeg2Update(uint32_t crc, const uint8_t* data, size_t size) {
    for (size_t i = 0; i < size; ++i) crc = (crc << 8) ^ kCrcTable.entry[((crc >> 24) ^ data[i]) & 0xFF];
    return crc;
}

uint32_t Crc32Mpeg2(const uint8_t* data, size_t size) {
    return Crc32Mpeg2Update(kCrc32Mpeg2Preset, data, size);
}
