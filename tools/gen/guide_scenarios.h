// Named scenarios of kestrin-gen for the programme table: multiplexes whose
// EIT schedule fills a guide of many services over several days. Each is
// made as scenario text (the format of tools/sample/README.md), so that
// `kestrin-gen --print-scenario NAME` shows exactly what is generated and a
// user can edit it; the same name always gives the same bytes.
//
//   three-services  a terrestrial multiplex: three full-segment services and
//                   the one-segment service, four days of schedule (basic
//                   and extended), updates, overlaps, ended programmes
//   bs-like         a BS-like transponder: three services of its own
//                   (0x50-0x5F) and 27 of nine other transport streams
//                   (0x60-0x6F, SDT other), original_network_id 4
//   zap             three terrestrial multiplexes one after another (parts
//                   zap-1, zap-2, zap-3, each also a name of its own)
//   full-budget     120 services of eight dense days: more section bytes than
//                   a 32 MB guide holds
#ifndef KESTRIN_TOOLS_GEN_GUIDE_SCENARIOS_H
#define KESTRIN_TOOLS_GEN_GUIDE_SCENARIOS_H

#include <string>
#include <vector>

namespace gen {

struct NamedScenario {
    const char* name;
    const char* summary;  // one line for --list-scenarios
};

// Every name, in the order --list-scenarios prints them.
const std::vector<NamedScenario>& NamedScenarios();

// The scenario texts of a name, one per multiplex in the order they are
// written (zap has three; the others one). False for an unknown name.
bool NamedScenarioParts(const std::string& name, std::vector<std::string>& parts);

}  // namespace gen

#endif
