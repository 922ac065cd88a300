// A queue of whole sections in one fixed ring of bytes: the guide's
// hand-over from the packet path to the window thread. Each section lies
// behind a small tag (its length, the entry and generation it was kept
// for, its hand-over stamp), contiguous, so the window thread copies it out
// in one piece; a section that does not fit before the ring's end starts
// again at its beginning. Sections of any size share the room, so one host
// call that carries hundreds of small schedule sections is held whole,
// where slots of the largest section size would hold a handful.
//
// No allocation, no lock of its own: the caller holds PluginState::lock.
#ifndef KESTRIN_PLUGIN_SECTION_QUEUE_H
#define KESTRIN_PLUGIN_SECTION_QUEUE_H

#include <cstdint>

#include "ts/section.h"

// The ring's size: more than a host call of 5,000 packets could carry in
// sections, so that even a call of a megabyte that is all EIT is held
// until the window thread's next turn.
const int32_t kSectionQueueBytes = 1024 * 1024;

struct SectionQueueTag {
    int32_t length;       // the section's bytes
    int32_t service;      // the entry it was kept for
    uint32_t generation;  // that entry's generation then
    uint32_t stamp;       // hand-over order
};

struct SectionQueue {
    uint8_t bytes[kSectionQueueBytes];
    int32_t first;  // the oldest tag
    int32_t next;   // where the next tag goes
    // The writer went back to the ring's start from here: the reader
    // follows when it gets here. -1 while it has not.
    int32_t wrap;
    int32_t count;  // sections waiting
};

void ResetSectionQueue(SectionQueue& queue);

// Room for a section of `length` bytes (1..kMaxSectionSize) now.
bool SectionQueueHasRoom(const SectionQueue& queue, int32_t length);

// Appends a section behind its tag (tag.length its size). False, and
// nothing changed, when there is no room or the length is out of range.
bool PushSection(SectionQueue& queue, const SectionQueueTag& tag, const uint8_t* section);

// The oldest section and its tag; false when none waits. The bytes stay
// valid until the next PopSection.
bool PeekSection(const SectionQueue& queue, SectionQueueTag& tag, const uint8_t*& section);

// Drops the oldest section.
void PopSection(SectionQueue& queue);

#endif
