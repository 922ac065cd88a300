// One service's programme list in the guide: what filing a section keeps
// when its own events conflict, and the ends of programmes whose duration
// is undetermined, which the grid's first row and the on-air mark read.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "plugin/guide_list.h"
#include "plugin/guide_store.h"
#include "tools/streamkit/stream_builder.h"

namespace {

using build::Bytes;

const uint16_t kMjd = 61382;  // 2026-12-08
const int64_t kMidnight = (61382LL - 40587) * 86400;
const uint16_t kService = 0x0400;

build::EitEvent Ev(uint16_t id, int hour, int minute, int durationMinutes) {
    build::EitEvent e = build::Event(kMjd, hour, minute, 0, durationMinutes / 60, durationMinutes % 60, 0);
    e.eventId = id;
    return e;
}

build::EitEvent OpenEnded(uint16_t id, int hour, int minute) {
    build::EitEvent e = Ev(id, hour, minute, 0);
    e.duration[0] = e.duration[1] = e.duration[2] = 0xFF;
    return e;
}

Bytes ScheduleSection(uint8_t number, uint8_t version, const std::vector<build::EitEvent>& events) {
    build::EitHeader h = build::ScheduleHeader(kService, number, version);
    h.lastSectionNumber = 0xF8;
    h.segmentLastSectionNumber = number;
    return build::EitSection(h, events);
}

struct List {
    List() : store(new GuideStore()) {}
    void File(const Bytes& section) {
        EXPECT_EQ(FileScheduleSection(*store, section.data(), static_cast<int32_t>(section.size())),
                  ScheduleAddResult::kStored);
    }
    const GuideServiceTable& Table() const { return store->tables[0]; }
    // "id@hh:mm" for each row.
    std::string Ids() const {
        std::string ids;
        ScheduleEventRef ref;
        for (int32_t row = 0; GuideServiceRow(*store, 0, row, ref); ++row) {
            const int64_t minutes = (ref.start - kMidnight) / 60;
            char at[16];
            std::snprintf(at, sizeof at, "@%02d:%02d", static_cast<int>(minutes / 60), static_cast<int>(minutes % 60));
            ids += (ids.empty() ? "" : " ") + std::to_string(ref.eventId) + at;
        }
        return ids;
    }
    std::unique_ptr<GuideStore> store;
};

// Events of one section that conflict with one another (overlapping times,
// or one event id twice): the first in the loop stays, also when the
// section comes again in a new version with its events in the other order,
// and it still displaces what an older section listed at that time.
TEST(GuideList, WithinOneSectionTheFirstOfConflictingEventsStays) {
    struct Case {
        const char* name;
        std::vector<Bytes> sections;  // filed in this order
        const char* ids;
    };
    const Case cases[] = {
        {"overlap, the earlier start first",
         {ScheduleSection(0, 1, {Ev(1, 21, 0, 60), Ev(2, 21, 30, 60), Ev(3, 22, 30, 30)})}, "1@21:00 3@22:30"},
        {"overlap, the later start first", {ScheduleSection(0, 1, {Ev(2, 21, 30, 60), Ev(1, 21, 0, 60)})}, "2@21:30"},
        {"one event id twice", {ScheduleSection(0, 1, {Ev(1, 21, 0, 30), Ev(1, 23, 0, 30)})}, "1@21:00"},
        {"a new version turns the order round",
         {ScheduleSection(0, 1, {Ev(1, 21, 0, 60), Ev(2, 21, 30, 60)}),
          ScheduleSection(0, 2, {Ev(2, 21, 30, 60), Ev(1, 21, 0, 60)})},
         "2@21:30"},
        {"the section filed last displaces an older one's, its own first stays",
         {ScheduleSection(8, 1, {Ev(7, 21, 0, 60)}), ScheduleSection(0, 1, {Ev(2, 21, 30, 60), Ev(1, 21, 0, 45)})},
         "2@21:30"},
    };
    for (const Case& c : cases) {
        List list;
        for (const Bytes& section : c.sections) list.File(section);
        EXPECT_EQ(list.Ids(), c.ids) << c.name;
    }
}

// A programme of undetermined duration runs until the next listed one, at
// most three hours: the first row ending after a time is found by that end,
// so that an open-ended present programme is not taken as over a second
// after its start, nor kept on for ever.
TEST(GuideList, UndeterminedDurationEndsAtTheNextRowOrTheCap) {
    const int64_t h21 = kMidnight + 21 * 3600;
    struct Case {
        const char* name;
        std::vector<Bytes> sections;
        std::vector<int64_t> ends;  // per row
        int64_t time;
        int32_t firstEndingAfter;
    };
    const Case cases[] = {
        {"present alone, an hour in", {build::EitPfSection(kService, 0, {OpenEnded(1, 21, 0)})},
         {h21 + kUndeterminedRunSeconds}, h21 + 3600, 0},
        {"present alone, at the cap", {build::EitPfSection(kService, 0, {OpenEnded(1, 21, 0)})},
         {h21 + kUndeterminedRunSeconds}, h21 + kUndeterminedRunSeconds, 1},
        {"present, the following at 22:15: still on at 22:14",
         {build::EitPfSection(kService, 0, {OpenEnded(1, 21, 0)}), build::EitPfSection(kService, 1, {Ev(2, 22, 15, 30)})},
         {h21 + 75 * 60, h21 + 105 * 60}, h21 + 74 * 60, 0},
        {"present, the following at 22:15: over at 22:15",
         {build::EitPfSection(kService, 0, {OpenEnded(1, 21, 0)}), build::EitPfSection(kService, 1, {Ev(2, 22, 15, 30)})},
         {h21 + 75 * 60, h21 + 105 * 60}, h21 + 75 * 60, 1},
        {"an open-ended schedule programme before a determined one",
         {ScheduleSection(0, 1, {OpenEnded(1, 21, 0), Ev(2, 23, 0, 30), OpenEnded(3, 23, 30)})},
         {kMidnight + 23 * 3600, kMidnight + 23 * 3600 + 1800, kMidnight + 23 * 3600 + 1800 + kUndeterminedRunSeconds},
         h21 + 1800, 0},
    };
    for (const Case& c : cases) {
        List list;
        for (const Bytes& section : c.sections) list.File(section);
        const GuideServiceTable& t = list.Table();
        ASSERT_EQ(t.listCount, static_cast<int32_t>(c.ends.size())) << c.name << ": " << list.Ids();
        for (int32_t row = 0; row < t.listCount; ++row) {
            int64_t end = -1;
            EXPECT_TRUE(RowEnd(t, row, end)) << c.name << " row " << row;
            EXPECT_EQ(end, c.ends[static_cast<size_t>(row)]) << c.name << " row " << row;
        }
        int64_t end = 0;
        EXPECT_FALSE(RowEnd(t, t.listCount, end)) << c.name;
        EXPECT_EQ(GuideServiceFirstRowEndingAfter(*list.store, 0, c.time), c.firstEndingAfter) << c.name;
    }
}

}  // namespace
