#include "ts/section_follower.h"

#include <cstring>

#include "ts/packet.h"

namespace {

const uint8_t kSyncByte = 0x47;
const uint8_t kStuffing = 0xFF;

struct Feed {
    SectionFollower& f;
    const FollowPolicy& policy;
    SectionSink sink;
    void* sinkContext;
    int32_t delivered;
};

void Abandon(SectionFollower& f) {
    f.inSection = false;
    f.keep = false;
    f.collected = 0;
    f.total = 0;
}

int32_t HeaderSize(const FollowPolicy& p) {
    if (p.headerSize < kSectionHeaderSize) return kSectionHeaderSize;
    return p.headerSize > kFollowHeaderSize ? kFollowHeaderSize : p.headerSize;
}

bool KeepTest(const Feed& feed, const SectionFollower& f) {
    return feed.policy.keep == nullptr || feed.policy.keep(feed.policy.context, f.buffer, f.collected);
}

// Passes `n` bytes of the PID's section stream at `data`. Returns false when
// the rest of the packet can no longer be followed (stuffing, or a length
// the table cannot have).
bool Take(Feed& feed, const uint8_t* data, int32_t n) {
    SectionFollower& f = feed.f;
    const int32_t headerSize = HeaderSize(feed.policy);
    while (n > 0) {
        if (!f.inSection) {
            if (data[0] == kStuffing) return false;
            f.inSection = true;
            f.keep = false;
            f.collected = 0;
            f.total = 0;
        }
        // A header whole in this packet is tested where it lies, and copied
        // only when the section is kept: most sections of a carousel are
        // repeats, passed over without a copy.
        if (f.collected == 0 && n >= headerSize) {
            const int32_t length = SectionLength(data);
            if (length < feed.policy.minimumLength) {
                Abandon(f);
                return false;
            }
            f.total = length + kSectionHeaderSize;  // at most kMaxSectionSize
            f.collected = headerSize < f.total ? headerSize : f.total;
            f.keep = feed.policy.keep == nullptr || feed.policy.keep(feed.policy.context, data, f.collected);
            if (f.keep) std::memcpy(f.buffer, data, static_cast<size_t>(f.collected));
            data += f.collected;
            n -= f.collected;
        }
        // A header split between packets goes into the buffer, whatever the
        // policy says: first the
        // three bytes that give the length, then up to the keep test or the
        // section's end.
        if (f.collected < kSectionHeaderSize) {
            const int32_t want = kSectionHeaderSize - f.collected < n ? kSectionHeaderSize - f.collected : n;
            std::memcpy(f.buffer + f.collected, data, static_cast<size_t>(want));
            f.collected += want;
            data += want;
            n -= want;
            if (f.collected < kSectionHeaderSize) return true;  // the header goes on in the next packet
            const int32_t length = SectionLength(f.buffer);
            if (length < feed.policy.minimumLength) {
                Abandon(f);
                return false;
            }
            f.total = length + kSectionHeaderSize;  // at most kMaxSectionSize
            f.keep = false;
            if (headerSize == kSectionHeaderSize || f.total == kSectionHeaderSize) f.keep = KeepTest(feed, f);
        }
        if (f.collected < headerSize && f.collected < f.total) {
            const int32_t until = headerSize < f.total ? headerSize : f.total;
            const int32_t want = until - f.collected < n ? until - f.collected : n;
            std::memcpy(f.buffer + f.collected, data, static_cast<size_t>(want));
            f.collected += want;
            data += want;
            n -= want;
            if (f.collected < until) return true;
            f.keep = KeepTest(feed, f);
        }
        const int32_t step = f.total - f.collected < n ? f.total - f.collected : n;
        if (f.keep) std::memcpy(f.buffer + f.collected, data, static_cast<size_t>(step));
        f.collected += step;
        data += step;
        n -= step;
        if (f.collected == f.total) {
            if (f.keep) {
                feed.sink(feed.sinkContext, f.buffer, f.total);
                ++feed.delivered;
            }
            Abandon(f);
        }
    }
    return true;
}

}  // namespace

void ResetSectionFollower(SectionFollower& f) {
    Abandon(f);
    f.counterKnown = false;
    f.lastCounter = 0;
}

int32_t FollowSections(SectionFollower& f, const FollowPolicy& policy, const uint8_t* packet, SectionSink sink,
                       void* sinkContext) {
    // Most packets of a carousel carry the middle of a section passed over
    // (a repeat): payload only, no PUSI, the next counter, more of the
    // section to come, its keep test made. Counted through without looking
    // further.
    if (packet != nullptr && f.inSection && !f.keep && f.collected >= kFollowHeaderSize &&
        f.total - f.collected > kTsPacketSize - 4 &&
        packet[0] == kSyncByte && (packet[1] & 0xC0) == 0 && (packet[3] & 0x30) == 0x10 && f.counterKnown &&
        (packet[3] & 0x0F) == ((f.lastCounter + 1) & 0x0F)) {
        f.lastCounter = packet[3] & 0x0F;
        f.collected += kTsPacketSize - 4;
        return 0;
    }
    if (packet == nullptr || packet[0] != kSyncByte || (packet[1] & 0x80) != 0) return 0;  // sync lost, damaged
    const int32_t payload = PacketPayloadStart(packet);
    if (payload < 0 || (packet[3] & 0x10) == 0) return 0;  // no payload
    const uint8_t counter = PacketContinuityCounter(packet);
    if (f.counterKnown && counter == f.lastCounter) return 0;  // a repeated packet: taken already
    const bool continuous = f.counterKnown && counter == ((f.lastCounter + 1) & 0x0F);
    f.counterKnown = true;
    f.lastCounter = counter;
    if (!continuous) Abandon(f);

    Feed feed = {f, policy, sink, sinkContext, 0};
    if (!PacketHasPusi(packet)) {
        if (f.inSection) Take(feed, packet + payload, kTsPacketSize - payload);
        return feed.delivered;
    }
    const int32_t start = PacketSectionStart(packet);
    if (start < 0) {
        Abandon(f);
        return feed.delivered;
    }
    // The bytes before the pointed-to start finish the section in progress;
    // one that is not finished by then is broken.
    if (f.inSection) Take(feed, packet + payload + 1, start - payload - 1);
    if (f.inSection) Abandon(f);
    Take(feed, packet + start, kTsPacketSize - start);
    return feed.delivered;
}
