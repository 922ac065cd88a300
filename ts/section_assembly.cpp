#include "ts/section_assembly.h"

#include "plugin/plugin_state.h"

void AssembleEit(PluginState&, const uint8_t*) {}
void AssembleSdt(PluginState&, const uint8_t*) {}
void AssemblePmt(PluginState&, const uint8_t*) {}
