// An event held by two schedule sections at once (it moved to another
// section, and the old one has not been sent again yet): the section
// received last carries the current text and wins, whichever of the two
// comes first in table and section order.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "text/eit_schedule.h"
#include "tools/streamkit/stream_builder.h"

namespace {

using build::Bytes;

const uint16_t kMjd = 61382;  // 2026-12-08
const uint16_t kService = 0x0400;
const uint16_t kEvent = 0x1234;

Bytes Section(uint8_t tableId, uint8_t number, uint8_t version, const build::EitEvent& e) {
    build::EitHeader h;
    h.tableId = tableId;
    h.serviceId = kService;
    h.version = version;
    h.sectionNumber = number;
    h.lastSectionNumber = 0xF8;
    h.segmentLastSectionNumber = static_cast<uint8_t>(number);
    h.lastTableId = static_cast<uint8_t>(tableId | 0x01);
    return build::EitSection(h, {e});
}

build::EitEvent Extended(const char* text) {
    build::EitEvent e = build::Event(kMjd, 21, 0, 0, 1, 0, 0);
    e.eventId = kEvent;
    e.descriptors = build::ExtendedEventDescriptor(0, 0, {{build::Text("Cast"), build::Text(text)}});
    return e;
}

build::EitEvent Basic(int hour, const char* title) {
    build::EitEvent e = build::Event(kMjd, hour, 0, 0, 1, 0, 0);
    e.eventId = kEvent;
    e.descriptors = build::ShortEventDescriptor(build::Text(title), build::Text(""));
    return e;
}

struct Holder {
    uint8_t tableId;
    uint8_t sectionNumber;
    uint8_t version;
};

struct NewestCase {
    const char* name;
    Holder older;  // received first, its text stale
    Holder newer;  // received last
};

const NewestCase kCases[] = {
    {"NewerInALaterSection", {0, 0, 1}, {0, 8, 2}},
    {"NewerInAnEarlierSection", {0, 8, 1}, {0, 0, 2}},
    {"NewerInAnEarlierTable", {1, 0, 1}, {0, 0, 2}},
    {"NewerInALaterTable", {0, 0, 1}, {1, 0, 2}},
    {"SameVersionOtherSection", {0, 0, 3}, {0, 16, 3}},
};

struct Schedule {
    Schedule() : service(new EitScheduleService), pool(kSchedulePoolSizeEightDays) {
        InitScheduleService(*service, pool.data(), kSchedulePoolSizeEightDays);
    }
    void Add(const Bytes& s) {
        ASSERT_EQ(AddScheduleSection(*service, s.data(), static_cast<int32_t>(s.size())), ScheduleAddResult::kStored);
    }
    // The one listed programme, read with its extended items.
    std::unique_ptr<EitEventRecord> Read(ScheduleEventRef& ref) {
        std::vector<ScheduleEventRef> refs(kScheduleEventsEightDays);
        EXPECT_EQ(ListScheduleEvents(*service, refs.data(), kScheduleEventsEightDays), 1);
        ref = refs[0];
        std::unique_ptr<EitEventRecord> record(new EitEventRecord);
        EXPECT_TRUE(ReadScheduleEvent(*service, ref, *record));
        return record;
    }
    std::unique_ptr<EitScheduleService> service;
    std::vector<uint8_t> pool;
};

std::string ItemText(const EitEventRecord& r) {
    if (r.extended.itemCount != 1) return "items: " + std::to_string(r.extended.itemCount);
    return std::string(reinterpret_cast<const char*>(r.extended.items[0].text),
                       static_cast<size_t>(r.extended.items[0].textSize));
}

TEST(EitScheduleNewest, TheExtendedSectionReceivedLastWins) {
    for (const NewestCase& c : kCases) {
        SCOPED_TRACE(c.name);
        Schedule s;
        s.Add(Section(0x50, 0, 0, Basic(21, "Title")));
        s.Add(Section(static_cast<uint8_t>(0x58 + c.older.tableId), c.older.sectionNumber, c.older.version,
                      Extended("stale")));
        s.Add(Section(static_cast<uint8_t>(0x58 + c.newer.tableId), c.newer.sectionNumber, c.newer.version,
                      Extended("fresh")));
        ScheduleEventRef ref;
        std::unique_ptr<EitEventRecord> record = s.Read(ref);
        EXPECT_EQ(ItemText(*record), "fresh");
        // The stale section sent again unchanged is no newer for it.
        Bytes again = Section(static_cast<uint8_t>(0x58 + c.older.tableId), c.older.sectionNumber, c.older.version,
                              Extended("stale"));
        EXPECT_EQ(AddScheduleSection(*s.service, again.data(), static_cast<int32_t>(again.size())),
                  ScheduleAddResult::kUnchanged);
        record = s.Read(ref);
        EXPECT_EQ(ItemText(*record), "fresh");
    }
}

TEST(EitScheduleNewest, TheBasicSectionReceivedLastWins) {
    for (const NewestCase& c : kCases) {
        SCOPED_TRACE(c.name);
        Schedule s;
        s.Add(Section(static_cast<uint8_t>(0x50 + c.older.tableId), c.older.sectionNumber, c.older.version,
                      Basic(20, "stale")));
        s.Add(Section(static_cast<uint8_t>(0x50 + c.newer.tableId), c.newer.sectionNumber, c.newer.version,
                      Basic(22, "fresh")));
        ScheduleEventRef ref;
        std::unique_ptr<EitEventRecord> record = s.Read(ref);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(record->name), static_cast<size_t>(record->nameSize)),
                  "fresh");
        EXPECT_EQ(ref.start % 86400, 22 * 3600);
    }
}

}  // namespace
