// The partial-reception (one-segment) layer of a scenario's multiplex, as a
// receiver of that layer alone gets it: `layers = partial-reception` in
// [stream].
//
// The layer carries the PAT, the NIT (with the partial reception and TS
// information descriptors), the TOT, the one-segment services' PMT, PCR and
// elementary streams, and their EIT present/following as L-EIT on PID
// 0x0027. It carries no SDT and no H-EIT (PID 0x0012): those travel in the
// full-segment layer only.
#ifndef KESTRIN_TOOLS_GEN_PARTIAL_RECEPTION_H
#define KESTRIN_TOOLS_GEN_PARTIAL_RECEPTION_H

#include <cstdint>

#include "tools/gen/multiplexer.h"
#include "tools/gen/scenario.h"

namespace gen {

// True for the PIDs of the partial-reception layer.
bool InPartialReceptionLayer(const Scenario& scenario, uint16_t pid);

// A writer that passes to `write` only the packets of that layer.
PacketWriter PartialReceptionWriter(const Scenario& scenario, const PacketWriter& write);

}  // namespace gen

#endif
