// The packet path's section assembly: EIT present/following, SDT and the
// one-segment PMT, with the filters of the current service. Completed EIT
// and SDT sections are handed to the window thread through the mailboxes
// and a posted message; a completed PMT updates the programme map at once.
// All run with PluginState::lock held.
#ifndef KESTRIN_PLUGIN_SECTION_HANDOVER_H
#define KESTRIN_PLUGIN_SECTION_HANDOVER_H

#include <cstdint>

struct PluginState;
struct LowerLayerEit;

void AssembleEit(PluginState& state, const uint8_t* packet);

// EIT present/following of the current service from a lower layer's PID
// (M-EIT 0x0026, L-EIT 0x0027), assembled as AssembleEit does and handed
// over through the same mailboxes and messages, but only while no higher
// layer's EIT is received (LowerLayerEit::quietSections).
void AssembleLowerLayerEit(PluginState& state, LowerLayerEit& layer, const uint8_t* packet);
// A packet of a layer's EIT PID arrived: the layers below it are not used
// until they have been quiet again.
void NoteLayerEitPacket(PluginState& state, uint16_t pid);
// The lower layers' assemblers and counters as after construction.
void ResetLowerLayerEit(LowerLayerEit& layer);
void AssembleSdt(PluginState& state, const uint8_t* packet);
void AssemblePmt(PluginState& state, const uint8_t* packet);

// Takes a complete PMT section (`size` = section_length + 3) into
// EsPidTable and the program number, unless its change key is the one
// already taken.
void UpdateProgrammeMap(PluginState& state, const uint8_t* section, int32_t size);

#endif
