// The service-information sections of kestrin-gen's stream: PAT, PMTs,
// NIT, SDT (actual, and other for the services of other transport streams),
// EIT present/following (also on the L-EIT PID for the one-segment
// services), the EIT schedule when the scenario asks for it, and the TOT.
// Each kind is a job the multiplexer runs at its interval; a job builds its
// sections anew from the scenario at the broadcast time it is due.
#ifndef KESTRIN_TOOLS_GEN_SERVICE_INFORMATION_H
#define KESTRIN_TOOLS_GEN_SERVICE_INFORMATION_H

#include <cstdint>
#include <functional>
#include <vector>

#include "tools/gen/scenario.h"
#include "tools/streamkit/stream_builder.h"

namespace gen {

// The multiplex runs on the 27 MHz system clock; jobs are due in its ticks.
const int64_t kClock = 27000000;      // system clock, Hz
const int64_t kTicksPerMs = kClock / 1000;

// Sections sent on `pid` every `interval` ticks, the first at `nextDue`;
// `build` gives the sections due at a time.
struct PsiJob {
    uint16_t pid;
    int64_t interval;
    int64_t nextDue;
    std::function<std::vector<build::Bytes>(int64_t due)> build;
};

// The jobs of a scenario's service information. They refer to the
// scenario, which must outlive them.
std::vector<PsiJob> ServiceInformationJobs(const Scenario& scenario);

}  // namespace gen

#endif
