// Reassembly of PSI/SI sections from transport-stream packets: packet in,
// complete section out. The caller keeps one SectionAssembler per kind of
// section and says, through a SectionFilter, which sections it wants.
//
// Rules common to every kind: a section continues only in the packet whose
// continuity_counter is the next one (a repeated packet breaks it too); a
// broken section is abandoned; a section is complete when section_length + 3
// bytes are collected, and is tested against the filter as soon as the
// header bytes the filter needs are in.
//
// A packet with payload_unit_start_indicator ends the section in progress:
// the bytes before its pointer_field's target complete it, or it is dropped
// (a section_length that claims more than was sent must not hold the
// assembler, nor swallow the sections behind it), and the section that
// begins at the pointer is started. When both happen in one packet the
// completed section is the one reported; the new one waits behind it in the
// buffer and takes its place at the next packet.
#ifndef KESTRIN_TS_SECTION_ASSEMBLER_H
#define KESTRIN_TS_SECTION_ASSEMBLER_H

#include <cstdint>

// Room for a whole section (4098 bytes) and the rest of the packet that
// completes it.
const int32_t kSectionBufferSize = 5000;

struct SectionAssembler {
    uint8_t buffer[kSectionBufferSize];
    int32_t bytesCollected;
    bool inProgress;          // a section is being collected
    uint8_t expectedCounter;  // continuity_counter of the last packet taken
    // A section that began in the packet that completed the one at buffer[0]
    // (inProgress is then set for it): its bytes wait at buffer[waitingAt ..
    // waitingAt + waitingBytes) until the next packet moves them to the
    // start. waitingBytes 0: none. Clearing inProgress drops it too.
    int32_t waitingAt;
    int32_t waitingBytes;
};

// Which sections an assembler collects.
struct SectionFilter {
    uint8_t tableId;
    // Shortest section_length accepted.
    int32_t minimumLength;
    // EIT present/following only: the wanted service_id and section_number
    // (0 present, 1 following), tested once the 7 header bytes are in.
    bool matchEvent;
    uint16_t serviceId;
    uint8_t sectionNumber;
};

// Every section of table `tableId` of at least `minimumLength`, whatever its
// service or section number.
SectionFilter TableSectionFilter(uint8_t tableId, int32_t minimumLength);

enum class AssemblyResult {
    kNothing,   // nothing completed in this packet
    kComplete,  // a whole section lies at buffer[0 .. SectionLength + 3)
    kBreak,     // a continuity break in a packet without PUSI ended its handling
};

void ResetSectionAssembler(SectionAssembler& assembler);

// Tables carried one section at a time (PAT, SDT, PMT): a section starts in a
// PUSI packet whose first section is of the table, and continues in packets
// without PUSI and in the bytes before the pointer_field's target of the
// next PUSI packet.
AssemblyResult AssembleTableSection(SectionAssembler& assembler, const SectionFilter& filter,
                                    const uint8_t* packet);

// EIT present/following: as for tables, and a section that begins in a PUSI
// packet is the wanted one, or the one right behind it when the first is the
// other section_number of the pair. Nothing starts in a PUSI packet whose
// first section is not EIT p/f (filter.tableId).
AssemblyResult AssembleEventSection(SectionAssembler& assembler, const SectionFilter& filter,
                                    const uint8_t* packet);

#endif
