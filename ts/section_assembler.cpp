#include "ts/section_assembler.h"

#include "ts/section.h"

namespace {

// The header is in (or the whole section, when it is shorter): decides
// whether the section is copied. An EIT section's service_id and
// section_number are read from its own bytes only, never from whatever
// follows a section too short to carry them.
bool Passes(const void* context, const uint8_t* h, int32_t size) {
    return SectionFilterKeeps(*static_cast<const SectionFilter*>(context), h, size);
}

}  // namespace

bool SectionFilterKeeps(const SectionFilter& f, const uint8_t* h, int32_t size) {
    if (size < 1 || h[0] != f.tableId) return false;
    if (!f.matchEvent) return true;
    if (size < kEventHeaderSize) return false;
    return ((h[3] << 8) | h[4]) == f.serviceId && h[6] <= 1;
}

void ResetSectionAssembler(SectionAssembler& a) { ResetSectionFollower(a.follower); }

bool SectionInProgress(const SectionAssembler& a) { return a.follower.inSection; }

int32_t AssembleSections(SectionAssembler& a, const SectionFilter& f, const uint8_t* packet, SectionSink sink,
                         void* sinkContext) {
    const FollowPolicy policy = {Passes, &f, f.matchEvent ? kEventHeaderSize : kSectionHeaderSize,
                                 f.minimumLength};
    return FollowSections(a.follower, policy, packet, sink, sinkContext);
}
