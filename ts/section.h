// The long-form PSI/SI section: its header, its length and its CRC_32.
#ifndef KESTRIN_TS_SECTION_H
#define KESTRIN_TS_SECTION_H

#include <cstdint>

// table_id and the two bytes that carry section_length.
const int32_t kSectionHeaderSize = 3;
// The CRC_32 at the end of every long-form section.
const int32_t kCrcSize = 4;
// table_id of the sections the plug-in reads.
const uint8_t kPatTableId = 0x00;
const uint8_t kPmtTableId = 0x02;
const uint8_t kSdtActualTableId = 0x42;
const uint8_t kEitPfActualTableId = 0x4E;  // EIT present/following, actual stream
const uint8_t kTotTableId = 0x73;

// section_length is 12 bits: a whole section is at most 4095 + 3 bytes.
const int32_t kMaxSectionSize = 4098;

// section_length of the section at `section` (12 low bits of bytes 1-2).
inline int32_t SectionLength(const uint8_t* section) {
    return ((section[1] & 0x0F) << 8) | section[2];
}

// A section's change key: its CRC_32 field as a big-endian number, the four
// bytes at section_length - 1 .. section_length + 2. It is compared, never
// verified. The caller makes sure that section_length >= 1 and that all
// section_length + 3 bytes are there.
inline uint32_t SectionChangeKey(const uint8_t* section) {
    const uint8_t* k = section + SectionLength(section) - 1;
    return (static_cast<uint32_t>(k[0]) << 24) | (static_cast<uint32_t>(k[1]) << 16) |
           (static_cast<uint32_t>(k[2]) << 8) | static_cast<uint32_t>(k[3]);
}

#endif
