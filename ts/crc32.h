// CRC-32/MPEG-2, the CRC_32 of PSI/SI sections.
#ifndef KESTRIN_TS_CRC32_H
#define KESTRIN_TS_CRC32_H

#include <cstddef>
#include <cstdint>

// Polynomial 0x04C11DB7, preset 0xFFFFFFFF, no reflection, no final
// inversion, a byte at a time through a 256-entry table. A whole section
// run through it, CRC_32 included, gives 0.
uint32_t Crc32Mpeg2(const uint8_t* data, size_t size);

#endif
