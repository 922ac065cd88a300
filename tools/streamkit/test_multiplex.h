// An in-memory ISDB-T multiplex for the allocation test, the fuzz seeds, the
// thread stress test and the benchmarks: every kind of packet the plug-in
// routes, in the proportions of a terrestrial channel.
//
// Each cycle (a tenth of a second at 15,000 packets/s by default) carries a
// PAT, the one-segment PMT on 0x1FC8 and the full-segment PMT, an SDT, EIT
// present/following sections of three services (the one-segment service,
// the full-segment service and one more), a TOT, an NIT packet and one packet
// each on 0x0024, 0x0027 and 0x0028; the one-segment service's video, audio
// and PCR packets; and full-segment video, audio and null packets for the
// rest. Sections start in new packets and spread over as many packets as
// they need, with running continuity counters.
#ifndef KESTRIN_TOOLS_STREAMKIT_TEST_MULTIPLEX_H
#define KESTRIN_TOOLS_STREAMKIT_TEST_MULTIPLEX_H

#include <cstdint>
#include <vector>

namespace build {

const uint16_t kMuxOneSegService = 0x0408;   // PMT on 0x1FC8
const uint16_t kMuxFullSegService = 0x0400;  // PMT on 0x0101
const uint16_t kMuxOtherService = 0x0401;    // PMT on 0x0102
const uint16_t kMuxOneSegVideoPid = 0x0181;
const uint16_t kMuxOneSegAudioPid = 0x0183;
const uint16_t kMuxOneSegPcrPid = 0x01FF;
const uint16_t kMuxFullSegVideoPid = 0x0111;
const uint16_t kMuxFullSegAudioPid = 0x0112;

struct MultiplexOptions {
    int cycles = 10;
    // Packets per cycle; the full-segment and null packets fill whatever the
    // service information and the one-segment service leave. Small values
    // (as low as 0) give a stream of service information and one-segment
    // packets only.
    int packetsPerCycle = 1500;
    // true: every cycle brings new EIT and SDT versions (new CRC_32), so the
    // window handlers decode and format every time; false: the same
    // sections repeat and the change keys stop the work.
    bool sectionsChange = true;
    // One-segment video and audio packets per cycle.
    int oneSegVideoPackets = 24;
    int oneSegAudioPackets = 6;
    // true: each service's following section (section_number 1) is sent
    // before its present section. libdvbpsi 1.3 completes an EIT p/f table
    // only in that order, so its benchmark uses it.
    bool followingFirst = false;
    // true: every event also carries the programme details the tooltip
    // shows: a content descriptor (present: news, following: drama) and an
    // extended event descriptor with two items, 出演者 and 番組内容, the
    // second ending in the boxed 字 of the additional symbols. The event
    // texts stay as they are.
    bool eventDetails = false;
};

// The multiplex as one buffer of whole packets.
std::vector<uint8_t> BuildTestMultiplex(const MultiplexOptions& options = MultiplexOptions());

}  // namespace build

#endif
