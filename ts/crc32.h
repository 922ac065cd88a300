// CRC-32/MPEG-2, the CRC_32 of PSI/SI sections.
#ifndef KESTRIN_TS_CRC32_H
#define KESTRIN_TS_CRC32_H

#include <cstddef>
#include <cstdint>

// Polynomial 0x04C11DB7, preset 0xFFFFFFFF, no reflection, no final
// inversion, a byte at a time through a 256-entry table. A whole section
// run through it, CRC_32 included, gives 0.
uint32_t Crc32Mpeg2(const uint8_t* data, size_t size);

// The same CRC carried on over more bytes: Crc32Mpeg2Update(Crc32Mpeg2(a), b)
// is the CRC of a followed by b; the preset is kCrc32Mpeg2Preset. For a
// checksum over data that arrives (or is written) a piece at a time.
const uint32_t kCrc32Mpeg2Preset = 0xFFFFFFFFu;
uint32_t Crc32Mpeg2Update(uint32_t crc, const uint8_t* data, size_t size);

#endif
