// EIT schedule assembly: the completeness map (last_section_number,
// segment_last_section_number, last_table_id, the clock's three-hour slot),
// versions per section, present/following over the schedule, overlaps after
// an update, and the caller's pool when it fills.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tools/streamkit/stream_builder.h"
#include "text/eit_schedule.h"

namespace {

using build::Bytes;

const uint16_t kMjd = 61382;  // 2026-12-08
const int64_t kMidnight = (61382LL - 40587) * 86400;  // Japan seconds
const uint16_t kService = 0x0400;

build::EitEvent Ev(uint16_t id, int dayOffset, int hour, int minute, int durationMinutes) {
    build::EitEvent e = build::Event(static_cast<uint16_t>(kMjd + dayOffset), hour, minute, 0, durationMinutes / 60,
                                     durationMinutes % 60, 0);
    e.eventId = id;
    return e;
}

Bytes Section(uint8_t tableId, uint8_t number, uint8_t lastNumber, uint8_t segmentLast, uint8_t lastTableId,
              const std::vector<build::EitEvent>& events, uint8_t version = 0) {
    build::EitHeader h;
    h.tableId = tableId;
    h.serviceId = kService;
    h.version = version;
    h.sectionNumber = number;
    h.lastSectionNumber = lastNumber;
    h.segmentLastSectionNumber = segmentLast;
    h.lastTableId = lastTableId;
    return build::EitSection(h, events);
}

Bytes Pf(uint8_t number, const build::EitEvent& e, uint8_t version = 0) {
    return build::EitPfSection(kService, number, {e}, version);
}

struct Schedule {
    Schedule(int32_t poolSize = kSchedulePoolSizeEightDays)
        : service(new EitScheduleService), pool(static_cast<size_t>(poolSize)) {
        InitScheduleService(*service, pool.data(), poolSize);
    }
    ScheduleAddResult Add(const Bytes& s) {
        return AddScheduleSection(*service, s.data(), static_cast<int32_t>(s.size()));
    }
    std::vector<ScheduleEventRef> List() {
        std::vector<ScheduleEventRef> refs(kScheduleEventsEightDays);
        refs.resize(static_cast<size_t>(ListScheduleEvents(*service, refs.data(), kScheduleEventsEightDays)));
        return refs;
    }
    std::string Ids() {
        std::string ids;
        for (const ScheduleEventRef& r : List()) ids += (ids.empty() ? "" : " ") + std::to_string(r.eventId);
        return ids;
    }
    std::unique_ptr<EitScheduleService> service;
    std::vector<uint8_t> pool;
};

struct CompletenessCase {
    const char* name;
    std::vector<Bytes> sections;
    int64_t clock;  // Japan seconds, -1 none
    int32_t expected;
    int32_t held;
    bool complete;
};

TEST(EitSchedule, CompletenessMapTableOfCases) {
    const int64_t noClock = -1;
    const CompletenessCase cases[] = {
        {"nothing received", {}, noClock, 0, 0, false},
        // One table, segment 0 with sections 0 and 1, last_section_number 1:
        // segments 1.. are past last_section_number.
        {"one segment, both sections", {Section(0x50, 0, 1, 1, 0x50, {}), Section(0x50, 1, 1, 1, 0x50, {})}, noClock, 2, 2,
         true},
        {"one segment, one of two", {Section(0x50, 0, 1, 1, 0x50, {})}, noClock, 2, 1, false},
        // segment_last_section_number 8 in segment 1 (sections 8..15): only 8.
        {"segment_last_section_number", {Section(0x50, 0, 8, 0, 0x50, {}), Section(0x50, 8, 8, 8, 0x50, {})}, noClock, 2,
         2, true},
        // Segment 1 announced by last_section_number but nothing of it yet.
        {"unseen segment waits for its first section", {Section(0x50, 0, 8, 0, 0x50, {})}, noClock, 2, 1, false},
        // last_table_id 0x51: table 0x51 waits although none of it came.
        {"last_table_id announces a second table", {Section(0x50, 0, 0, 0, 0x51, {})}, noClock, 33, 1, false},
        {"second table arrives",
         {Section(0x50, 0, 0, 0, 0x51, {}), Section(0x51, 0, 0, 0, 0x51, {})},
         noClock, 2, 2, true},
        // The clock at 07:30 is in slot 2: segments 0 and 1 of table 0x50
        // ended and are not waited for.
        {"segments before the clock's slot",
         {Section(0x50, 16, 0xF8, 16, 0x50, {})},
         kMidnight + 7 * 3600 + 1800, 30, 1, false},
        // Mixed versions across the sections of one table still complete.
        {"mixed versions", {Section(0x50, 0, 1, 1, 0x50, {}, 3), Section(0x50, 1, 1, 1, 0x50, {}, 4)}, noClock, 2, 2, true},
    };
    for (const CompletenessCase& c : cases) {
        Schedule s;
        for (const Bytes& section : c.sections) s.Add(section);
        const ScheduleProgress p = ScheduleKindProgress(*s.service, 0, c.clock);
        EXPECT_EQ(p.expectedSections, c.expected) << c.name;
        EXPECT_EQ(p.heldSections, c.held) << c.name;
        EXPECT_EQ(p.complete, c.complete) << c.name;
        EXPECT_EQ(ScheduleComplete(*s.service, c.clock), c.complete) << c.name;
    }
}

TEST(EitSchedule, SegmentCompleteness) {
    Schedule s;
    s.Add(Section(0x50, 0, 0x10, 0, 0x50, {}));
    const int64_t clock = kMidnight + 4 * 3600;  // slot 1
    EXPECT_TRUE(ScheduleSegmentComplete(*s.service, 0, 0, 0, -1));
    EXPECT_FALSE(ScheduleSegmentComplete(*s.service, 0, 0, 1, -1));
    EXPECT_FALSE(ScheduleSegmentComplete(*s.service, 0, 0, 2, clock));
    EXPECT_TRUE(ScheduleSegmentComplete(*s.service, 0, 0, 3, clock));   // past last_section_number 0x10
    EXPECT_TRUE(ScheduleSegmentComplete(*s.service, 0, 1, 0, clock));   // past last_table_id
    EXPECT_FALSE(ScheduleSegmentComplete(*s.service, 0, 0, 32, clock));  // no such segment
}

struct VersionCase {
    const char* name;
    std::vector<Bytes> sections;  // in arrival order
    const char* ids;              // the listed event ids in start order
};

TEST(EitSchedule, VersionsPresentFollowingAndOverlapsTableOfCases) {
    const VersionCase cases[] = {
        {"two sections", {Section(0x50, 0, 1, 1, 0x50, {Ev(1, 0, 0, 0, 60)}), Section(0x50, 1, 1, 1, 0x50, {Ev(2, 0, 1, 0, 60)})},
         "1 2"},
        // A newer version of section 0 replaces its events only.
        {"newer section replaces its own events",
         {Section(0x50, 0, 1, 1, 0x50, {Ev(1, 0, 0, 0, 60)}), Section(0x50, 1, 1, 1, 0x50, {Ev(2, 0, 1, 0, 60)}),
          Section(0x50, 0, 1, 1, 0x50, {Ev(3, 0, 0, 0, 30)}, 1)},
         "3 2"},
        // The update moves event 4 onto event 2's time: 2 is dropped.
        {"overlap after an update drops the older",
         {Section(0x50, 0, 1, 1, 0x50, {Ev(1, 0, 0, 0, 60)}), Section(0x50, 8, 8, 8, 0x50, {Ev(2, 0, 3, 0, 60)}),
          Section(0x50, 0, 8, 0, 0x50, {Ev(1, 0, 0, 0, 60), Ev(4, 0, 2, 30, 60)}, 1)},
         "1 4"},
        // The same event moved into another section: the newer copy.
        {"event moved between sections",
         {Section(0x50, 0, 8, 0, 0x50, {Ev(1, 0, 0, 0, 60), Ev(2, 0, 1, 0, 60)}), Section(0x50, 8, 8, 8, 0x50, {Ev(2, 0, 3, 0, 60)})},
         "1 2"},
        // p/f beats the schedule: the present event's time from p/f, and a
        // schedule event that overlaps the present one goes, whatever came last.
        {"present never dropped",
         {Pf(0, Ev(10, 0, 0, 0, 90)), Section(0x50, 0, 0, 0, 0x50, {Ev(11, 0, 0, 30, 60), Ev(12, 0, 2, 0, 60)}, 5)},
         "10 12"},
        {"same event from p/f and schedule",
         {Section(0x50, 0, 0, 0, 0x50, {Ev(10, 0, 0, 0, 60)}), Pf(0, Ev(10, 0, 0, 0, 75))},
         "10"},
        // Two events of one section that overlap: the first of the loop
        // stays, whichever starts earlier.
        {"overlap within a section keeps the first",
         {Section(0x50, 0, 0, 0, 0x50, {Ev(1, 0, 21, 0, 60), Ev(2, 0, 21, 30, 60), Ev(3, 0, 22, 0, 30)})},
         "1 3"},
        {"overlap within a section keeps the first, the later start",
         {Section(0x50, 0, 0, 0, 0x50, {Ev(2, 0, 21, 30, 60), Ev(1, 0, 21, 0, 60)})},
         "2"},
        // Other-stream schedule tables share the slots.
        {"other-stream table", {Section(0x60, 0, 0, 0, 0x60, {Ev(7, 1, 0, 0, 60)})}, "7"},
        // Not current, damaged or another service: ignored.
        {"p/f section 2 ignored", {build::EitPfSection(kService, 2, {Ev(9, 0, 0, 0, 60)})}, ""},
    };
    for (const VersionCase& c : cases) {
        Schedule s;
        for (const Bytes& section : c.sections) s.Add(section);
        EXPECT_EQ(s.Ids(), c.ids) << c.name;
    }
}

TEST(EitSchedule, PresentTimesWinAndExtendedItemsJoin) {
    Schedule s;
    build::EitEvent scheduled = Ev(10, 0, 0, 0, 60);
    scheduled.descriptors = build::ShortEventDescriptor(build::Text("Sched"), build::Text(""));
    build::EitEvent present = Ev(10, 0, 0, 0, 75);
    present.descriptors = build::ShortEventDescriptor(build::Text("PF"), build::Text(""));
    build::EitEvent extended = Ev(10, 0, 0, 0, 60);
    extended.descriptors = build::ExtendedEventDescriptor(0, 0, {{build::Text("A"), build::Text("B")}});
    EXPECT_EQ(s.Add(Section(0x50, 0, 0, 0, 0x50, {scheduled})), ScheduleAddResult::kStored);
    EXPECT_EQ(s.Add(Section(0x58, 0, 0, 0, 0x58, {extended})), ScheduleAddResult::kStored);
    EXPECT_EQ(s.Add(Pf(0, present)), ScheduleAddResult::kStored);
    EXPECT_EQ(s.Add(Pf(0, present)), ScheduleAddResult::kUnchanged);
    const std::vector<ScheduleEventRef> refs = s.List();
    ASSERT_EQ(refs.size(), 1u);
    EXPECT_TRUE(refs[0].present);
    EXPECT_EQ(refs[0].duration, 75 * 60);
    auto record = std::make_unique<EitEventRecord>();
    ASSERT_TRUE(ReadScheduleEvent(*s.service, refs[0], *record));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(record->name), static_cast<size_t>(record->nameSize)), "PF");
    ASSERT_EQ(record->extended.itemCount, 1);
    EXPECT_EQ(record->extended.items[0].textSize, 1);

    // Another service's section, and a section that is not current.
    Bytes other = Section(0x50, 1, 1, 1, 0x50, {Ev(20, 0, 5, 0, 60)});
    other[3] = 0x05;
    build::Reseal(other);
    EXPECT_EQ(s.Add(other), ScheduleAddResult::kIgnored);
    Bytes next = Section(0x50, 1, 1, 1, 0x50, {Ev(21, 0, 5, 0, 60)});
    next[5] &= 0xFE;
    build::Reseal(next);
    EXPECT_EQ(s.Add(next), ScheduleAddResult::kIgnored);
    EXPECT_EQ(s.List().size(), 1u);
}

TEST(EitSchedule, PoolCompactsAndRefusesWhatCannotFit) {
    // Room for about three of these sections.
    build::EitEvent big = Ev(1, 0, 0, 0, 60);
    big.descriptors = build::ShortEventDescriptor(Bytes(200, 'x'), Bytes(200, 'y'));
    const int32_t sectionSize = static_cast<int32_t>(Section(0x50, 0, 0x1F, 0, 0x50, {big}).size());
    Schedule s(sectionSize * 3 + 10);
    for (uint8_t n = 0; n < 3; ++n) {
        big.eventId = static_cast<uint16_t>(n + 1);
        big.start[0] = build::Bcd(n);
        EXPECT_EQ(s.Add(Section(0x50, static_cast<uint8_t>(n * 8), 0x1F, static_cast<uint8_t>(n * 8), 0x50, {big})),
                  ScheduleAddResult::kStored);
    }
    // A fourth does not fit: refused, counted, the three stay.
    big.eventId = 4;
    big.start[0] = build::Bcd(3);
    EXPECT_EQ(s.Add(Section(0x50, 24, 0x1F, 24, 0x50, {big})), ScheduleAddResult::kNoRoom);
    EXPECT_EQ(s.service->refusedSections, 1);
    EXPECT_EQ(s.Ids(), "1 2 3");
    // Replacing the first (a new version) fits after compaction, many times.
    for (uint8_t v = 1; v < 40; ++v) {
        big.eventId = static_cast<uint16_t>(100 + v);
        big.start[0] = build::Bcd(0);
        EXPECT_EQ(s.Add(Section(0x50, 0, 0x1F, 0, 0x50, {big}, static_cast<uint8_t>(v & 0x1F))),
                  ScheduleAddResult::kStored);
    }
    EXPECT_EQ(s.Ids(), "139 2 3");
    auto record = std::make_unique<EitEventRecord>();
    for (const ScheduleEventRef& r : s.List()) {
        ASSERT_TRUE(ReadScheduleEvent(*s.service, r, *record));
        EXPECT_EQ(record->nameSize, 200);
    }
}

TEST(EitSchedule, ListKeepsTheEarliestWithinCapacity) {
    Schedule s;
    std::vector<build::EitEvent> events;
    for (uint16_t i = 0; i < 8; ++i) events.push_back(Ev(static_cast<uint16_t>(100 - i), 0, 23 - i, 0, 60));
    s.Add(Section(0x50, 0, 0, 0, 0x50, events));
    std::vector<ScheduleEventRef> refs(3);
    ASSERT_EQ(ListScheduleEvents(*s.service, refs.data(), 3), 3);
    // The three that start first, in start order.
    EXPECT_EQ(refs[0].eventId, 93);
    EXPECT_EQ(refs[1].eventId, 94);
    EXPECT_EQ(refs[2].eventId, 95);
}

TEST(EitSchedule, SetRoutesServicesAndRefusesPastCapacity) {
    std::vector<EitScheduleService> services(2);
    std::vector<uint8_t> pools(2 * 4096);
    EitScheduleSet set;
    InitScheduleSet(set, services.data(), 2, pools.data(), 4096);
    for (uint16_t sid : {0x0400, 0x0401, 0x0400, 0x0402}) {
        const Bytes s = build::EitPfSection(sid, 0, {Ev(1, 0, 0, 0, 60)});
        AddScheduleSetSection(set, s.data(), static_cast<int32_t>(s.size()));
    }
    EXPECT_EQ(set.count, 2);
    EXPECT_EQ(set.refusedServices, 1);
    EXPECT_EQ(services[1].serviceId, 0x0401);
}

// The end of a listed programme: an undetermined duration runs until the
// programme listed after it, at most three hours; one with an undetermined
// start has none.
TEST(EitSchedule, UndeterminedDurationEndsAtTheNextProgrammeOrTheCap) {
    build::EitEvent open = Ev(10, 0, 21, 0, 0);
    open.duration[0] = open.duration[1] = open.duration[2] = 0xFF;
    build::EitEvent noStart = Ev(12, 0, 0, 0, 30);
    noStart.startMjd = 0xFFFF;
    noStart.start[0] = noStart.start[1] = noStart.start[2] = 0xFF;
    struct Case {
        const char* name;
        std::vector<Bytes> sections;
        std::vector<int64_t> ends;  // per listed programme, -1 none
    };
    const int64_t h21 = kMidnight + 21 * 3600;
    const Case cases[] = {
        {"present alone: the cap", {Pf(0, open)}, {h21 + kUndeterminedRunSeconds}},
        {"present, then the following at 22:15", {Pf(0, open), Pf(1, Ev(11, 0, 22, 15, 30))},
         {h21 + 75 * 60, h21 + 105 * 60}},
        {"the next one past the cap", {Pf(0, open), Pf(1, Ev(11, 1, 1, 0, 30))},
         {h21 + kUndeterminedRunSeconds, kMidnight + 86400 + 3600 + 1800}},
        {"a following of undetermined start is no next", {Pf(0, open), Pf(1, noStart)},
         {h21 + kUndeterminedRunSeconds, -1}},
        {"a schedule programme after it", {Pf(0, open), Section(0x50, 0, 0, 0, 0x50, {Ev(20, 0, 23, 0, 60)})},
         {kMidnight + 23 * 3600, kMidnight + 24 * 3600}},
    };
    for (const Case& c : cases) {
        Schedule s;
        for (const Bytes& section : c.sections) s.Add(section);
        const std::vector<ScheduleEventRef> refs = s.List();
        ASSERT_EQ(refs.size(), c.ends.size()) << c.name;
        for (size_t i = 0; i < refs.size(); ++i) {
            int64_t end = -1;
            const bool timed = ScheduleEventEnd(refs[i], i + 1 < refs.size() ? &refs[i + 1] : nullptr, end);
            EXPECT_EQ(timed, c.ends[i] >= 0) << c.name << " #" << i;
            EXPECT_EQ(timed ? end : -1, c.ends[i]) << c.name << " #" << i;
        }
    }
}

}  // namespace
