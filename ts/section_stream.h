// Every section of one PID, in the order they complete: for tables sent many
// sections to a packet and in any order (the EIT schedule of a whole
// multiplex, for the tool), where the one-section assemblers of
// section_assembler.* do not fit.
//
// The section follower (section_follower.*) with the policy "keep every
// section, whatever its length": its rules for breaks, repeats, stuffing
// and damaged packets are the follower's. The CRC_32 is not checked here.
#ifndef KESTRIN_TS_SECTION_STREAM_H
#define KESTRIN_TS_SECTION_STREAM_H

#include <cstdint>

#include "ts/section_follower.h"

struct SectionStream {
    SectionFollower follower;
};

void ResetSectionStream(SectionStream& stream);

// Takes one 188-byte packet of the stream's PID (the caller filters by PID)
// and hands each section it completes to `sink`, `size` = section_length +
// 3. Returns the number of sections handed over.
int32_t FeedSectionStream(SectionStream& stream, const uint8_t* packet, SectionSink sink, void* context);

#endif
