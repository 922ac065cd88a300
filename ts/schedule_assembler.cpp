#include "ts/schedule_assembler.h"

#include <cstring>

#include "ts/packet.h"

namespace {

struct Feed {
    ScheduleAssembler& a;
    const ScheduleFilter& f;
    ScheduleSink sink;
    void* sinkContext;
    int32_t delivered;
};

void Abandon(ScheduleAssembler& a) {
    a.inProgress = false;
    a.keep = false;
    a.collected = 0;
    a.total = 0;
}

// The header is in: decides whether the section is copied.
bool Passes(const ScheduleAssembler& a, const ScheduleFilter& f) {
    const uint8_t* h = a.buffer;
    if (h[0] < f.firstTableId || h[0] > f.lastTableId) return false;
    if (((h[3] << 8) | h[4]) != f.serviceId) return false;
    const uint8_t version = static_cast<uint8_t>((h[5] >> 1) & 0x1F);
    return f.wanted == nullptr || f.wanted(f.context, h[0], h[6], version);
}

// Passes `n` bytes of the section stream at `data`. Returns false when the
// rest of the packet can no longer be followed (stuffing, or a length that
// cannot be).
bool Take(Feed& feed, const uint8_t* data, int32_t n) {
    ScheduleAssembler& a = feed.a;
    while (n > 0) {
        if (!a.inProgress) {
            // 0xFF where a table_id would be: stuffing to the packet's end.
            if (data[0] == 0xFF) return false;
            a.inProgress = true;
            a.keep = false;
            a.collected = 0;
            a.total = 0;
        }
        // The header byte by byte into the buffer, whatever the filter says.
        while (a.collected < kScheduleHeaderSize && n > 0) {
            a.buffer[a.collected++] = *data++;
            --n;
            if (a.collected == kSectionHeaderSize) {
                const int32_t length = SectionLength(a.buffer);
                if (length < kScheduleMinimumLength) {
                    Abandon(a);
                    return false;
                }
                a.total = length + kSectionHeaderSize;  // at most kMaxSectionSize
            }
            if (a.collected == kScheduleHeaderSize) a.keep = Passes(a, feed.f);
        }
        if (a.collected < kScheduleHeaderSize) return true;  // header goes on in the next packet
        const int32_t step = a.total - a.collected < n ? a.total - a.collected : n;
        if (a.keep) std::memcpy(a.buffer + a.collected, data, static_cast<size_t>(step));
        a.collected += step;
        data += step;
        n -= step;
        if (a.collected == a.total) {
            if (a.keep) {
                feed.sink(feed.sinkContext, a.buffer, a.total);
                ++feed.delivered;
            }
            Abandon(a);
        }
    }
    return true;
}

}  // namespace

void ResetScheduleAssembler(ScheduleAssembler& a) {
    Abandon(a);
    a.counterKnown = false;
    a.lastCounter = 0;
}

int32_t AssembleScheduleSections(ScheduleAssembler& a, const ScheduleFilter& f, const uint8_t* packet,
                                 ScheduleSink sink, void* sinkContext) {
    Feed feed = {a, f, sink, sinkContext, 0};
    const int32_t payload = PacketPayloadStart(packet);
    if (payload < 0 || (packet[3] & 0x10) == 0) return 0;  // no payload
    const uint8_t counter = PacketContinuityCounter(packet);
    if (a.counterKnown && counter == a.lastCounter) return 0;  // a repeated packet: taken already
    const bool continuous = a.counterKnown && counter == ((a.lastCounter + 1) & 0x0F);
    a.counterKnown = true;
    a.lastCounter = counter;
    if (!continuous) Abandon(a);

    if (!PacketHasPusi(packet)) {
        if (a.inProgress) Take(feed, packet + payload, kTsPacketSize - payload);
        return feed.delivered;
    }
    const int32_t start = PacketSectionStart(packet);
    if (start < 0) {
        Abandon(a);
        return feed.delivered;
    }
    // The bytes before the pointed-to start finish the current section; one
    // that is not finished by then is broken.
    if (a.inProgress) Take(feed, packet + payload + 1, start - payload - 1);
    if (a.inProgress) Abandon(a);
    Take(feed, packet + start, kTsPacketSize - start);
    return feed.delivered;
}
