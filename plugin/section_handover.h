// The packet path's section assembly: EIT present/following, SDT and the
// one-segment PMT, with the filters of the current service. Completed EIT
// and SDT sections are handed to the window thread through the mailboxes
// and a posted message; a completed PMT updates the programme map at once.
// All run with PluginState::lock held.
#ifndef KESTRIN_PLUGIN_SECTION_HANDOVER_H
#define KESTRIN_PLUGIN_SECTION_HANDOVER_H

#include <cstdint>

struct PluginState;

void AssembleEit(PluginState& state, const uint8_t* packet);
void AssembleSdt(PluginState& state, const uint8_t* packet);
void AssemblePmt(PluginState& state, const uint8_t* packet);

// Takes the complete PMT section in the PMT assembler into EsPidTable and the
// program number, unless its change key is the one already taken.
void UpdateProgrammeMap(PluginState& state);

#endif
