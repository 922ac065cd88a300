// The one-segment programme map (PMT on PID 0x1FC8) and the PAT rewritten to
// that one programme.
#ifndef KESTRIN_TS_PROGRAMME_MAP_H
#define KESTRIN_TS_PROGRAMME_MAP_H

#include <cstdint>

// The PCR PID and at most 16 elementary streams.
const int32_t kEsPidCapacity = 17;

struct EsPidEntry {
    uint16_t pid;
    int32_t streamType;  // stream_type from the PMT; 0 for the PCR entry
};

// PCR PID and elementary-stream PIDs of the one-segment PMT.
struct EsPidTable {
    EsPidEntry entries[kEsPidCapacity];
    int32_t count;  // 0 = no programme map known
};

// Parses a complete PMT section of `size` bytes (section_length + 3) into the
// table and the program number; returns the new entry count (0 when the
// table_id is not 0x02 or the section cannot hold the fixed fields and a
// CRC_32, and then the table is not touched).
int32_t ParsePmt(const uint8_t* section, int32_t size, EsPidTable& table, uint16_t& programNumber);

// True when the PID is one the table lists.
bool EsPidTableHas(const EsPidTable& table, uint16_t pid);

// Rewrites a PAT packet into `out` (188 bytes) so that it lists only the
// network PID and the one-segment service. Returns false when the packet
// must not be written (no PUSI, not a PAT, section not ending in the packet).
bool RewritePatPacket(const uint8_t* packet, uint16_t programNumber, uint8_t* out);

#endif
