// The multiplexer of kestrin-gen: turns a scenario into a transport stream
// at the scenario's nominal bitrate.
//
// Packet i leaves at 27 MHz time i x 188 x 8 x 27,000,000 / bitrate; PCRs,
// PTSs, the TOT's time and the choice of present and following events all
// follow that clock, so the stream's pace is that of a real multiplex of
// the same bitrate. Each slot carries, in this order of precedence: pending
// service-information packets, a due PCR packet, a due elementary-stream
// packet, else a null packet.
//
// Service information schedule: PAT and PMTs every 100 ms, NIT and SDT
// every second, EIT present/following of every service at the start of each
// second (present and following of one service packed together), the same
// for the one-segment services on the L-EIT PID 0x0027 half a second later,
// the TOT
// half a second after every tot-interval. The EIT at second k describes the
// events at start + k seconds; a TOT sent at k + 0.5 carries start + k, so
// the viewer's clock, advanced by one second per present-event section,
// keeps to the broadcast time.
#ifndef KESTRIN_TOOLS_GEN_MULTIPLEXER_H
#define KESTRIN_TOOLS_GEN_MULTIPLEXER_H

#include <cstdint>
#include <functional>
#include <string>

#include "tools/gen/scenario.h"

namespace gen {

// Receives one 188-byte packet; returns false to stop the generation.
typedef std::function<bool(const uint8_t* packet)> PacketWriter;

// The number of packets of the scenario's stream.
uint64_t PacketCount(const Scenario& scenario);

// Writes the stream. False when the writer stopped it.
bool GenerateStream(const Scenario& scenario, const PacketWriter& write);

}  // namespace gen

#endif
