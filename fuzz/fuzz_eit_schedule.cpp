// The EIT schedule path on arbitrary bytes: every section of a PID taken
// from packets (ts/section_stream.h), the sections into one service's
// schedule in a small pool (text/eit_schedule.h), its programme list and
// each programme's record and details.
//
// Input layout: byte 0 chooses the pool size (times 256 bytes, so the pool
// fills, is compacted and refuses sections); byte 1 the list capacity;
// then entries of a two-byte length and that many bytes, each a section
// (its CRC_32 not checked, so the fuzzer reaches every field) or, when the
// length's top bit is set, 188-byte packets for the section stream.
//
// Checked: the pool's bookkeeping (held sections inside the pool, in pool
// order, not overlapping), the completeness counts, the list within its
// capacity and in start order, every listed programme readable with its
// counts within their limits.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "fuzz/fuzz_require.h"
#include "text/eit_schedule.h"
#include "ts/section_stream.h"

namespace {

void CheckPool(const EitScheduleService& s) {
    FUZZ_REQUIRE(s.poolUsed >= 0 && s.poolUsed <= s.poolCapacity);
    FUZZ_REQUIRE(s.heldCount >= 0 && s.heldCount <= kScheduleSlots);
    uint32_t end = 0;
    for (int32_t i = 0; i < s.heldCount; ++i) {
        const ScheduleSectionSlot& slot = s.slots[s.order[i]];
        FUZZ_REQUIRE(slot.size > 0);
        FUZZ_REQUIRE(slot.offset >= end);
        end = slot.offset + slot.size;
    }
    FUZZ_REQUIRE(static_cast<int32_t>(end) <= s.poolUsed);
}

void AddSection(void* context, const uint8_t* section, int32_t size) {
    // A copy of exactly the section's bytes, so that a read past it shows.
    std::unique_ptr<uint8_t[]> copy(new uint8_t[static_cast<size_t>(size)]);
    std::copy(section, section + size, copy.get());
    AddScheduleSection(*static_cast<EitScheduleService*>(context), copy.get(), size);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const int32_t poolSize = (data[0] + 1) * 256;
    const int32_t capacity = data[1] + 1;
    std::unique_ptr<EitScheduleService> service(new EitScheduleService);
    std::vector<uint8_t> pool(static_cast<size_t>(poolSize));
    InitScheduleService(*service, pool.data(), poolSize);
    std::unique_ptr<SectionStream> stream(new SectionStream);
    ResetSectionStream(*stream);

    size_t at = 2;
    while (at + 2 <= size) {
        const size_t header = static_cast<size_t>(data[at] << 8 | data[at + 1]);
        at += 2;
        const size_t n = std::min(header & 0x7FFF, size - at);
        if (header & 0x8000) {
            for (size_t p = 0; p + 188 <= n; p += 188) {
                std::vector<uint8_t> packet(data + at + p, data + at + p + 188);
                FeedSectionStream(*stream, packet.data(), AddSection, service.get());
            }
        } else {
            AddSection(service.get(), data + at, static_cast<int32_t>(n));
        }
        at += n;
        CheckPool(*service);
    }

    for (int32_t kind = 0; kind < kScheduleKinds; ++kind) {
        for (int64_t clock : {static_cast<int64_t>(-1), static_cast<int64_t>(1796767200)}) {
            const ScheduleProgress p = ScheduleKindProgress(*service, kind, clock);
            FUZZ_REQUIRE(p.heldSections >= 0 && p.heldSections <= p.expectedSections);
            FUZZ_REQUIRE(p.expectedSections <= kScheduleTablesPerKind * kScheduleSectionsPerTable);
        }
    }
    std::vector<ScheduleEventRef> refs(static_cast<size_t>(capacity));
    const int32_t count = ListScheduleEvents(*service, refs.data(), capacity);
    FUZZ_REQUIRE(count >= 0 && count <= capacity);
    std::unique_ptr<EitEventRecord> record(new EitEventRecord);
    std::unique_ptr<EventDetails> details(new EventDetails);
    for (int32_t i = 0; i < count; ++i) {
        const ScheduleEventRef& r = refs[static_cast<size_t>(i)];
        if (i > 0 && r.startDetermined) FUZZ_REQUIRE(refs[static_cast<size_t>(i - 1)].startDetermined);
        if (i > 0 && r.startDetermined) FUZZ_REQUIRE(refs[static_cast<size_t>(i - 1)].start <= r.start);
        FUZZ_REQUIRE(ReadScheduleEvent(*service, r, *record));
        FUZZ_REQUIRE(record->eventId == r.eventId);
        FUZZ_REQUIRE(record->nameSize >= 0 && record->nameSize <= kEitNameRawSize);
        FUZZ_REQUIRE(record->textSize >= 0 && record->textSize <= kEitTextRawSize);
        FUZZ_REQUIRE(record->videoCount <= kMaxEventVideos && record->audioCount <= kMaxEventAudios);
        FUZZ_REQUIRE(record->genreCount <= kMaxEventGenres && record->relatedCount <= kMaxRelatedEvents);
        FUZZ_REQUIRE(record->extended.itemCount <= kMaxDetailItems);
        EitEventDetails(*record, SymbolStyle::kBracketed, *details);
        FUZZ_REQUIRE(details->itemCount <= kMaxDetailItems && details->genreCount <= kMaxGenreLines);
    }
    return 0;
}
