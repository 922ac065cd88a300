// The hand-over of complete sections from the packet path to the window
// thread.
//
// The packet path copies each completed EIT or SDT section into its mailbox
// (under PluginState::lock) before it posts the message, so a handler always
// reads one whole section exactly as it completed, even if the assembler has
// already started the next one. The handler copies the section out under the
// lock and parses its own copy without it.
#ifndef KESTRIN_PLUGIN_SECTION_MAILBOX_H
#define KESTRIN_PLUGIN_SECTION_MAILBOX_H

#include <cstdint>
#include <cstring>

#include "ts/section.h"

struct SectionMailbox {
    uint8_t data[kMaxSectionSize];
    int32_t length;  // section_length + 3, or 0 when nothing was handed over
};

// A section taken out of a mailbox. Every read of the copy is bounded by the
// bytes that were really handed over: `length` is section_length + 3 and
// never exceeds what the mailbox held.
struct SectionCopy {
    uint8_t data[kMaxSectionSize];
    int32_t length;
};

// Puts a complete section of `length` bytes into the mailbox; lock held.
inline void PutSectionInMailbox(SectionMailbox& box, const uint8_t* section, int32_t length) {
    if (length < 0 || length > kMaxSectionSize) length = 0;
    std::memcpy(box.data, section, static_cast<size_t>(length));
    box.length = length;
}

// Copies the section in `box` into `out`; lock held. Returns false when the
// mailbox holds no whole section: nothing handed over, fewer bytes than
// section_length announces (a truncated hand-over), or section_length 0,
// whose change key would lie before the section.
inline bool CopySectionFromMailbox(const SectionMailbox& box, SectionCopy& out) {
    if (box.length < kSectionHeaderSize || box.length > kMaxSectionSize) return false;
    const int32_t sectionLength = SectionLength(box.data);
    const int32_t length = sectionLength + kSectionHeaderSize;
    if (sectionLength < 1 || length > box.length) return false;
    std::memcpy(out.data, box.data, static_cast<size_t>(length));
    out.length = length;
    return true;
}

#endif
