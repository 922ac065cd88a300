// Every section of one PID, in the order they complete: for tables sent many
// sections to a packet and in any order (the EIT schedule), where the
// one-section assemblers of section_assembler.* do not fit.
//
// Packets in, whole sections out through a callback. A section continues
// only in the packet whose continuity_counter is the next one (a repeated
// packet is skipped, any other gap abandons the section being collected);
// in a PUSI packet the bytes before the pointer_field's target finish the
// section in progress, then sections follow one another up to the end of
// the packet or a 0xFF stuffing byte. The CRC_32 is not checked here.
//
// Pure, one fixed buffer, no allocation.
#ifndef KESTRIN_TS_SECTION_STREAM_H
#define KESTRIN_TS_SECTION_STREAM_H

#include <cstdint>

#include "ts/section_assembler.h"

struct SectionStream {
    uint8_t buffer[kSectionBufferSize];
    int32_t collected;  // bytes of the section in progress; 0: none
    bool haveCounter;
    uint8_t counter;  // continuity_counter of the last packet taken
};

typedef void (*SectionSink)(void* context, const uint8_t* section, int32_t size);

void ResetSectionStream(SectionStream& stream);

// Takes one 188-byte packet of the stream's PID (the caller filters by PID)
// and hands each section it completes to `sink`, `size` = section_length +
// 3. Returns the number of sections handed over.
int32_t FeedSectionStream(SectionStream& stream, const uint8_t* packet, SectionSink sink, void* context);

#endif
