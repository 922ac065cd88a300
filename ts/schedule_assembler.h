// Reassembly of the EIT schedule sections of one service from the packets of
// PID 0x0012.
//
// Schedule sections are packed back to back, several in a packet and one
// across many, so a section may begin anywhere behind the end of the one
// before. The section follower (section_follower.*) follows every section
// boundary of the PID with the policy "keep what passes the filter"
// (table_id in a range, the service_id, a section the caller does not
// already hold): the others are skipped by their length, without a copy. A
// section_length shorter than an EIT section's fixed fields ends the
// packet's sections; breaks, repeats and damaged packets follow the
// follower's rules.
#ifndef KESTRIN_TS_SCHEDULE_ASSEMBLER_H
#define KESTRIN_TS_SCHEDULE_ASSEMBLER_H

#include <cstdint>

#include "ts/section_follower.h"

// The header bytes the filter reads: table_id, section_length, service_id,
// version_number and section_number (bytes 0-6).
const int32_t kScheduleHeaderSize = 7;
// Shortest section_length of an EIT section with its fixed fields and CRC:
// 11 bytes behind section_length up to last_table_id, and the CRC_32.
const int32_t kScheduleMinimumLength = 15;

struct ScheduleFilter {
    uint8_t firstTableId;  // inclusive
    uint8_t lastTableId;   // inclusive
    uint16_t serviceId;
    // Asked once the header is in: false skips a section the caller holds
    // already (same table, section and version). May be null.
    bool (*wanted)(const void* context, uint8_t tableId, uint8_t sectionNumber, uint8_t version);
    const void* context;
};

struct ScheduleAssembler {
    SectionFollower follower;
};

// Called for every complete section that passed the filter; `section` holds
// `length` (= section_length + 3) bytes. The CRC is not verified here.
typedef void (*ScheduleSink)(void* context, const uint8_t* section, int32_t length);

void ResetScheduleAssembler(ScheduleAssembler& assembler);

// Takes one packet of the PID. Returns the number of sections handed to
// `sink`.
int32_t AssembleScheduleSections(ScheduleAssembler& assembler, const ScheduleFilter& filter, const uint8_t* packet,
                                 ScheduleSink sink, void* sinkContext);

#endif
