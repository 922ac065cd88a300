#include "text/event_formatter.h"

#include "plugin/plugin_state.h"

void MjdToDate(uint16_t, int32_t& year, int32_t& month, int32_t& day) { year = month = day = 0; }
void HandlePresentEvent(PluginState&) {}
void HandleFollowingEvent(PluginState&) {}
