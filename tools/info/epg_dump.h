// kestrin-info --epg: the programme guide of every service of a file
// (tools/info/epg_collector.*), by default as one JSON array of programme
// objects in the shape EPG servers' dump tools write (Mirakurun's Program);
// with --format xmltv as XMLTV (tools/info/xmltv_writer.*).
//
// Each object: id (network id, then service and event id as five decimal
// digits each), eventId, serviceId, networkId, startAt and duration in
// milliseconds (startAt in UTC milliseconds since 1970; null when the EIT
// says undetermined), isFree, and as far as the event carries them: name,
// description, extended (item heading -> text), video, audio, genres
// (lv1/lv2/un1/un2), series (episode and lastEpisode among its fields),
// relatedItems (the event group descriptors' events, each with its "type":
// "shared", "relay" or "movement").
#ifndef KESTRIN_TOOLS_INFO_EPG_DUMP_H
#define KESTRIN_TOOLS_INFO_EPG_DUMP_H

#include <cstddef>
#include <cstdint>
#include <string>

#include "tools/info/epg_collector.h"

// Reads the transport stream at `data` (`size` bytes, whole 188-byte packets
// from the first sync byte) and returns the JSON text; `warnings` gets a
// line for each service or section that did not fit.
std::string EpgJsonFromStream(const uint8_t* data, size_t size, std::string& warnings);
// The JSON text of what `collector` holds.
std::string EpgJson(EpgCollector& collector, std::string& warnings);

// The --epg command: `kestrin-info --epg [--format json|xmltv] [-o OUT]
// [--force] INPUT.ts`, the output to standard output without -o. Returns
// the process exit code.
int RunEpgDump(int argc, char** argv);

#endif
