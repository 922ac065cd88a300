// The one-segment programme map (PMT on PID 0x1FC8) and the rewritten PAT.
#ifndef KESTRIN_TS_PROGRAMME_MAP_H
#define KESTRIN_TS_PROGRAMME_MAP_H

#include <cstddef>
#include <cstdint>

struct PluginState;
struct EsPidTable;

// CRC-32/MPEG-2 (polynomial 0x04C11DB7, preset 0xFFFFFFFF, no reflection,
// no final inversion), a byte at a time through a 256-entry table.
uint32_t Crc32Mpeg2(const uint8_t* data, size_t size);

// Parses a complete PMT section of `size` bytes (section_length + 3) into the
// table and the program number; returns the new entry count (0 when the
// table_id is not 0x02, and then the table is not touched).
int32_t ParsePmt(const uint8_t* section, int32_t size, EsPidTable& table, uint16_t& programNumber);

// Called by the PMT assembler when a section is complete; lock held.
void UpdateProgrammeMap(PluginState& state);

// Rewrites a PAT packet into `out` (188 bytes) so that it lists only the
// network PID and the one-segment service. Returns false when the packet
// must not be written (no PUSI, not a PAT, section not ending in the packet).
bool RewritePatPacket(const uint8_t* packet, uint16_t programNumber, uint8_t* out);

// Router handler for PID 0x0000 while recording; lock held.
void WriteRewrittenPat(PluginState& state, const uint8_t* packet);

#endif
