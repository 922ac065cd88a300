#include "ts/schedule_assembler.h"

namespace {

// The header is in: decides whether the section is copied.
bool Passes(const void* context, const uint8_t* h, int32_t size) {
    const ScheduleFilter& f = *static_cast<const ScheduleFilter*>(context);
    if (size < kScheduleHeaderSize) return false;
    if (h[0] < f.firstTableId || h[0] > f.lastTableId) return false;
    if (((h[3] << 8) | h[4]) != f.serviceId) return false;
    const uint8_t version = static_cast<uint8_t>((h[5] >> 1) & 0x1F);
    return f.wanted == nullptr || f.wanted(f.context, h[0], h[6], version);
}

}  // namespace

void ResetScheduleAssembler(ScheduleAssembler& a) { ResetSectionFollower(a.follower); }

int32_t AssembleScheduleSections(ScheduleAssembler& a, const ScheduleFilter& f, const uint8_t* packet,
                                 ScheduleSink sink, void* sinkContext) {
    const FollowPolicy policy = {Passes, &f, kScheduleHeaderSize, kScheduleMinimumLength};
    return FollowSections(a.follower, policy, packet, sink, sinkContext);
}
