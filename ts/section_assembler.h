// The sections of one table from the packets of its PID: PAT, PMT, SDT and
// EIT present/following, for the plug-in and the tool. The caller keeps one
// SectionAssembler per PID and kind of section and says, through a
// SectionFilter, which sections it wants.
//
// This is the section follower (section_follower.*) with the policy "keep
// the sections of this table, and of this service for the EIT p/f": every section boundary of the PID is followed, so a wanted section
// is found wherever it begins in a packet (behind sections of other tables
// or services too), and each one that completes is handed to the caller's
// sink at once, several to a packet when they come so. Breaks, repeated
// packets, PUSI pointers, stuffing and damaged packets follow the
// follower's rules; a section_length below the filter's minimum ends the
// packet's sections. The CRC_32 is not checked here.
#ifndef KESTRIN_TS_SECTION_ASSEMBLER_H
#define KESTRIN_TS_SECTION_ASSEMBLER_H

#include <cstdint>

#include "ts/section_follower.h"

// The header bytes an EIT present/following filter reads: table_id,
// section_length, service_id, version_number and section_number (bytes
// 0-6).
const int32_t kEventHeaderSize = 7;

// Which sections an assembler keeps.
struct SectionFilter {
    uint8_t tableId;
    // Shortest section_length followed.
    int32_t minimumLength;
    // EIT present/following only: the wanted service_id, and
    // section_number 0 (present) or 1 (following), read from the section's
    // own header; a section too short to carry them is not kept.
    bool matchEvent;
    uint16_t serviceId;
};

// Every section of table `tableId` of at least `minimumLength`, whatever its
// service or section number. Inline: a filter is made for every packet, and
// one returned from another file comes back through memory written a field
// at a time and read whole, a store the processor cannot forward.
inline SectionFilter TableSectionFilter(uint8_t tableId, int32_t minimumLength) {
    SectionFilter f;
    f.tableId = tableId;
    f.minimumLength = minimumLength;
    f.matchEvent = false;
    f.serviceId = 0;
    return f;
}

// The EIT present/following (table 0x4E) of `serviceId`: its present and
// its following section, one assembler for both.
inline SectionFilter EventSectionFilter(uint16_t serviceId, int32_t minimumLength) {
    SectionFilter f = TableSectionFilter(kEitPfActualTableId, minimumLength);
    f.matchEvent = true;
    f.serviceId = serviceId;
    return f;
}

// The filter's keep test on a section's first `size` header bytes (the
// whole section when it is shorter): for a caller that follows a PID with
// a policy of its own and keeps the filter's sections among others.
bool SectionFilterKeeps(const SectionFilter& filter, const uint8_t* header, int32_t size);

struct SectionAssembler {
    SectionFollower follower;
};

// Drops the section being collected and forgets the continuity counter: for
// a service change, another PID, or an assembler that has not seen the
// PID's packets for a while (a counter left from then could take the next
// packet for a repeat).
void ResetSectionAssembler(SectionAssembler& assembler);

// A section is being collected: its first bytes came, its last not yet.
bool SectionInProgress(const SectionAssembler& assembler);

// Takes one 188-byte packet of the assembler's PID (the caller filters by
// PID) and hands every section it completes that passes `filter` to `sink`
// (`size` = section_length + 3). Returns the number handed over.
int32_t AssembleSections(SectionAssembler& assembler, const SectionFilter& filter, const uint8_t* packet,
                         SectionSink sink, void* sinkContext);

#endif
