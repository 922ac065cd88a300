#include "ts/programme_map.h"

#include "plugin/plugin_state.h"

uint32_t Crc32Mpeg2(const uint8_t*, size_t) { return 0; }
int32_t ParsePmt(const uint8_t*, int32_t, EsPidTable&, uint16_t&) { return 0; }
void UpdateProgrammeMap(PluginState&) {}
bool RewritePatPacket(const uint8_t*, uint16_t, uint8_t*) { return false; }
void WriteRewrittenPat(PluginState&, const uint8_t*) {}
