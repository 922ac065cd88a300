// A complete PSI/SI section taken out of a mailbox for the window thread.
//
// The window handlers copy the section out under PluginState::lock and then
// parse their own copy without the lock. Every read of the copy is bounded by
// the bytes that were really handed over: `length` is section_length + 3 and
// never exceeds what the mailbox held.
#ifndef KESTRIN_TEXT_SECTION_COPY_H
#define KESTRIN_TEXT_SECTION_COPY_H

#include <cstdint>
#include <cstring>

#include "plugin/plugin_state.h"

// Bytes of the section header up to and including section_length.
const int32_t kSectionHeaderSize = 3;
// The CRC_32 at the end of every long-form section.
const int32_t kCrcSize = 4;

struct SectionCopy {
    uint8_t data[kMaxSectionSize];
    int32_t sectionLength;  // L, the 12-bit section_length
    int32_t length;         // L + 3: the bytes of data that belong to the section
};

// Copies the section in `box` into `out`; call with the lock held. Returns
// false when the mailbox holds no whole section: nothing handed over, fewer
// bytes than section_length announces (a truncated hand-over), or
// section_length 0, whose change key would lie before the section.
inline bool CopySectionFromMailbox(const SectionMailbox& box, SectionCopy& out) {
    if (box.length < kSectionHeaderSize || box.length > kMaxSectionSize) return false;
    const int32_t sectionLength = ((box.data[1] & 0x0F) << 8) | box.data[2];
    const int32_t length = sectionLength + kSectionHeaderSize;
    if (sectionLength < 1 || length > box.length) return false;
    std::memcpy(out.data, box.data, static_cast<size_t>(length));
    out.sectionLength = sectionLength;
    out.length = length;
    return true;
}

// The change key: the CRC_32 field (offsets L-1 .. L+2) as a big-endian
// number. It is compared, never verified.
inline uint32_t SectionChangeKey(const SectionCopy& s) {
    const uint8_t* k = s.data + s.sectionLength - 1;
    return (static_cast<uint32_t>(k[0]) << 24) | (static_cast<uint32_t>(k[1]) << 16) |
           (static_cast<uint32_t>(k[2]) << 8) | static_cast<uint32_t>(k[3]);
}

// Offset of the CRC_32: section data (loops, descriptors) ends here.
inline int32_t SectionDataEnd(const SectionCopy& s) { return s.sectionLength - 1; }

#endif
