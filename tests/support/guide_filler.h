// Sections that fill the guide's hand-over: schedule sections of nearly the
// largest size (339 one-second events each), enough of them that their
// bytes pass kSectionQueueBytes, 64 a service from `service` on (so each
// service's pool holds its own), then small ones. None is filed before the window thread's
// turn, so the packet path keeps each and the hand-over fills up.
#ifndef KESTRIN_TESTS_SUPPORT_GUIDE_FILLER_H
#define KESTRIN_TESTS_SUPPORT_GUIDE_FILLER_H

#include <cstdint>
#include <vector>

#include "plugin/section_queue.h"
#include "tools/streamkit/stream_builder.h"

inline std::vector<build::Bytes> HandOverFiller(uint16_t service, uint16_t mjd, uint16_t transportStreamId,
                                                uint16_t networkId) {
    const int32_t kEvents = 339;
    std::vector<build::Bytes> sections;
    size_t bytes = 0;
    for (int32_t n = 0; bytes <= static_cast<size_t>(kSectionQueueBytes); ++n) {
        build::EitHeader header =
            build::ScheduleHeader(static_cast<uint16_t>(service + n / 64), static_cast<uint8_t>(n % 64), 0);
        header.transportStreamId = transportStreamId;
        header.originalNetworkId = networkId;
        std::vector<build::EitEvent> events;
        for (int32_t k = 0; k < kEvents; ++k) {
            const int32_t second = ((n % 64) * kEvents + k) % 86400;
            build::EitEvent e = build::Event(mjd, second / 3600, second / 60 % 60, second % 60, 0, 0, 1);
            e.eventId = static_cast<uint16_t>((n % 64) * kEvents + k);
            events.push_back(e);
        }
        sections.push_back(build::EitSection(header, events));
        bytes += sections.back().size();
    }
    // Then small ones, so that the room the last large one left is taken
    // too and no section of any size fits.
    const uint16_t small = static_cast<uint16_t>(service + sections.size() / 64 + 1);
    for (int32_t n = 0; n < 160; ++n) {
        build::EitHeader header = build::ScheduleHeader(small, static_cast<uint8_t>(n), 0);
        header.transportStreamId = transportStreamId;
        header.originalNetworkId = networkId;
        build::EitEvent e = build::Event(mjd, n / 60, n % 60, 0, 0, 1, 0);
        e.eventId = static_cast<uint16_t>(n);
        sections.push_back(build::EitSection(header, {e}));
    }
    return sections;
}

#endif
