#include "ts/crc16.h"

namespace {

// The CRC-16/CCITT table of polynomial 0x1021, computed by the compiler.
struct Crc16Table {
    uint16_t entry[256];
};

constexpr Crc16Table MakeCrc16Table() {
    Crc16Table table = {};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t crc = i << 8;
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 0x8000u) ? ((crc << 1) ^ 0x1021u) : (crc << 1);
        table.entry[i] = static_cast<uint16_t>(crc & 0xFFFFu);
    }
    return table;
}

constexpr Crc16Table kCrc16Table = MakeCrc16Table();
static_assert(kCrc16Table.entry[1] == 0x1021u, "CRC-16 table built from the CCITT polynomial");

}  // namespace

uint16_t Crc16Ccitt(const uint8_t* data, int32_t size) {
    uint32_t crc = 0;
    for (int32_t i = 0; i < size; ++i) crc = ((crc << 8) ^ kCrc16Table.entry[((crc >> 8) ^ data[i]) & 0xFFu]) & 0xFFFFu;
    return static_cast<uint16_t>(crc);
}
