// Reassembly of EIT present/following, SDT and one-segment PMT sections.
// All three run on the packet path with PluginState::lock held.
#ifndef KESTRIN_TS_SECTION_ASSEMBLY_H
#define KESTRIN_TS_SECTION_ASSEMBLY_H

#include <cstdint>

struct PluginState;

void AssembleEit(PluginState& state, const uint8_t* packet);
void AssembleSdt(PluginState& state, const uint8_t* packet);
void AssemblePmt(PluginState& state, const uint8_t* packet);

#endif
