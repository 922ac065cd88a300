// The one way the core follows the sections of a PID: packets in, every
// section boundary followed, the sections the caller keeps copied and handed
// over whole through a callback as they complete (several to a packet, one
// over many). What differs between the followers is a policy: which
// sections to keep (a test of the header, before any copy) and the shortest
// section_length the table can have.
//
// The same rules for malformed input everywhere:
// - a packet without the sync byte, with transport_error_indicator or
//   without payload is ignored (its counter is not taken either);
// - a repeated packet (same continuity_counter) is taken once; any other
//   gap abandons the section in progress;
// - in a PUSI packet the bytes before the pointer_field's target complete
//   the section in progress or it is dropped (a section_length that claims
//   more than was sent costs that section only), then sections follow one
//   another from the pointer to the end of the packet or a 0xFF stuffing
//   byte; a pointer outside the packet drops the section in progress;
// - a section_length below the policy's shortest ends the packet's sections
//   (it cannot be one of the table's; the next PUSI packet starts afresh).
// The CRC_32 is not checked here. Pure, one fixed buffer, no allocation.
#ifndef KESTRIN_TS_SECTION_FOLLOWER_H
#define KESTRIN_TS_SECTION_FOLLOWER_H

#include <cstdint>

#include "ts/section.h"

// Header bytes a keep test may read: an EIT's table_id through
// last_table_id (service, transport stream and network ids included).
const int32_t kFollowHeaderSize = 14;

struct FollowPolicy {
    // Asked once the first `headerSize` bytes of a section are in (fewer
    // when the section is shorter): true copies it. Null keeps every section.
    bool (*keep)(const void* context, const uint8_t* header, int32_t size);
    const void* context;
    int32_t headerSize;     // 3 .. kFollowHeaderSize
    int32_t minimumLength;  // shortest section_length followed
};

struct SectionFollower {
    uint8_t buffer[kMaxSectionSize];
    int32_t collected;  // bytes of the section in progress passed so far
    int32_t total;      // its section_length + 3, 0 until known
    bool inSection;
    bool keep;          // it is copied
    bool counterKnown;
    uint8_t lastCounter;
};

// Called for every complete section kept; `size` = section_length + 3.
typedef void (*SectionSink)(void* context, const uint8_t* section, int32_t size);

void ResetSectionFollower(SectionFollower& follower);

// Takes one 188-byte packet of the follower's PID (the caller filters by
// PID). Returns the number of sections handed to `sink`.
int32_t FollowSections(SectionFollower& follower, const FollowPolicy& policy, const uint8_t* packet,
                       SectionSink sink, void* sinkContext);

#endif
