#include "ts/crc32.h"

namespace {

// The CRC-32/MPEG-2 tables of polynomial 0x04C11DB7, computed by the
// compiler. entry[0] is the classic byte-at-a-time table; entry[k][b] is the
// CRC of byte b followed by k zero bytes, so that eight bytes are folded in
// with eight look-ups and no dependency between them (slicing by eight):
// a save or load of the programme table's cache runs tens of megabytes
// through it.
struct CrcTables {
    uint32_t entry[8][256];
};

constexpr CrcTables MakeCrcTables() {
    CrcTables t = {};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t crc = i << 24;
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
        t.entry[0][i] = crc;
    }
    for (int k = 1; k < 8; ++k) {
        for (uint32_t i = 0; i < 256; ++i) {
            const uint32_t previous = t.entry[k - 1][i];
            t.entry[k][i] = (previous << 8) ^ t.entry[0][previous >> 24];
        }
    }
    return t;
}

constexpr CrcTables kCrcTables = MakeCrcTables();
static_assert(kCrcTables.entry[0][1] == 0x04C11DB7u, "CRC table built from the MPEG-2 polynomial");
static_assert(kCrcTables.entry[0][255] == 0xB1F740B4u, "CRC table complete");

inline uint32_t BigEndian32(const uint8_t* p) {
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | p[3];
}

}  // namespace

uint32_t Crc32Mpeg2Update(uint32_t crc, const uint8_t* data, size_t size) {
    const uint32_t(&t)[8][256] = kCrcTables.entry;
    size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        const uint32_t high = crc ^ BigEndian32(data + i);
        const uint32_t low = BigEndian32(data + i + 4);
        crc = t[7][high >> 24] ^ t[6][(high >> 16) & 0xFF] ^ t[5][(high >> 8) & 0xFF] ^ t[4][high & 0xFF] ^
              t[3][low >> 24] ^ t[2][(low >> 16) & 0xFF] ^ t[1][(low >> 8) & 0xFF] ^ t[0][low & 0xFF];
    }
    for (; i < size; ++i) crc = (crc << 8) ^ t[0][((crc >> 24) ^ data[i]) & 0xFF];
    return crc;
}

uint32_t Crc32Mpeg2(const uint8_t* data, size_t size) {
    return Crc32Mpeg2Update(kCrc32Mpeg2Preset, data, size);
}
