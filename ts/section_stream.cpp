#include "ts/section_stream.h"

void ResetSectionStream(SectionStream& stream) { ResetSectionFollower(stream.follower); }

int32_t FeedSectionStream(SectionStream& stream, const uint8_t* packet, SectionSink sink, void* context) {
    const FollowPolicy every = {nullptr, nullptr, kSectionHeaderSize, 0};
    return FollowSections(stream.follower, every, packet, sink, context);
}
