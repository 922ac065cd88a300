#include "ts/broadcast_clock.h"

#include "plugin/plugin_state.h"

void ReadTot(PluginState&, const uint8_t*) {}
void TickBroadcastClock(PluginState&) {}
void FormatBroadcastClock(int32_t, int32_t, int32_t, int32_t, char* out) { out[0] = '\0'; }
