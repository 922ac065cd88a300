// The guide keeps every service it receives: services of the watched
// multiplex and of other transport streams in tables of their own, their
// names from the SDT, a budget with what goes first when it is full, the
// entries a cache file restores, and the packet path's work per section.
#include <gtest/gtest.h>

#include <algorithm>

#include <memory>
#include <string>
#include <vector>

#include "plugin/guide_store.h"
#include "plugin/messages.h"
#include "plugin/plugin_core.h"
#include "plugin/plugin_state.h"
#include "tests/support/guide_filler.h"
#include "tests/support/test_plugin.h"
#include "tests/unit/text_test_helpers.h"
#include "tools/streamkit/stream_builder.h"
#include "ts/crc32.h"
#include "ui/channel_buttons.h"
#include "ui/viewer.h"

namespace {

using build::Bytes;

const uint16_t kMjd = 0xEFC6;  // 2026-12-08
const int64_t kDay = (0xEFC6 - 40587) * 86400LL;
const uint16_t kTs = build::kDefaultTransportStreamId;
const uint16_t kNet = build::kDefaultNetworkId;
const uint16_t kOtherTs = 0x4010;
const uint16_t kOtherNet = 0x0004;

struct Section {
    uint16_t service;
    uint8_t table;
    uint8_t number;
    uint8_t version;
    uint16_t transportStream;
    uint16_t network;
    uint16_t eventId;
    int minute;  // start, from midnight of kMjd; 20 minutes long
    int descriptorBytes;
};

Bytes Make(const Section& c) {
    build::EitHeader h = build::ScheduleHeader(c.service, c.number, c.version, c.table);
    h.transportStreamId = c.transportStream;
    h.originalNetworkId = c.network;
    h.lastTableId = c.table;
    Bytes descriptors = build::ShortEventDescriptor(Bytes{0x41}, Bytes{0x42});
    for (int left = c.descriptorBytes; left > 2;) {
        const int body = left - 2 > 250 ? 250 : left - 2;
        const Bytes d = build::Descriptor(0x80, Bytes(static_cast<size_t>(body), 0x20));
        descriptors.insert(descriptors.end(), d.begin(), d.end());
        left -= body + 2;
    }
    build::EitEvent e = build::Event(static_cast<uint16_t>(kMjd + c.minute / 1440), (c.minute / 60) % 24,
                                     c.minute % 60, 0, 0, 20, 0, descriptors);
    e.eventId = c.eventId;
    return build::EitSection(h, {e});
}

Bytes Schedule(uint16_t service, uint16_t eventId, int hour, uint8_t table = 0x50, uint16_t ts = kTs,
               uint16_t net = kNet, uint8_t number = 0, uint8_t version = 1) {
    return Make({service, table, number, version, ts, net, eventId, hour * 60, 0});
}

// The SDT naming `services`, actual (0x42) or other (0x46).
Bytes Sdt(uint16_t ts, uint16_t net, const std::vector<std::pair<uint16_t, std::string>>& services, bool other) {
    std::vector<build::SdtService> list;
    for (const auto& s : services) list.push_back(build::NamedService(s.first, EncodeAribFromUtf8(s.second.c_str())));
    Bytes b = build::SdtSection(ts, net, list);
    if (other) {
        b[0] = 0x46;
        const uint32_t crc = Crc32Mpeg2(b.data(), b.size() - 4);
        for (int i = 0; i < 4; ++i) b[b.size() - 4 + i] = static_cast<uint8_t>(crc >> (24 - 8 * i));
    }
    return b;
}

struct Guide {
    Guide() { PluginOnChannelChange(t.s(), 27, 0x0400); }
    void Feed(uint16_t pid, const std::vector<Bytes>& sections) {
        const Bytes packets = sb.Stream(pid, sections);
        ViewerStreamData(t.s(), packets.data(), static_cast<uint32_t>(packets.size()));
        t.platform.Pump(t.s());
    }
    int32_t Find(uint16_t net, uint16_t ts, uint16_t service) {
        GuideServiceInfo info;
        for (int32_t i = 0; i < GuideServiceCount(g()); ++i) {
            if (GuideServiceAt(g(), i, info) && info.key.networkId == net && info.key.transportStreamId == ts &&
                info.key.serviceId == service) {
                return i;
            }
        }
        return -1;
    }
    GuideServiceInfo Info(int32_t i) {
        GuideServiceInfo info = {};
        EXPECT_TRUE(GuideServiceAt(g(), i, info)) << i;
        return info;
    }
    GuideStore& g() { return t.s().guide; }

    TestPlugin t;
    build::StreamBuilder sb;
};

// Three services of the watched multiplex and one of another transport
// stream (0x60) each get their own table; the actual stream's entries
// carry the channel, the other's keeps -1; a service change keeps every
// table and moves the watched mark, with the old service's watch stamped.
TEST(GuideStoreMulti, EveryServiceHasItsTableAndAServiceChangeKeepsThem) {
    Guide h;
    h.Feed(0x0012, {Schedule(0x0400, 0x100, 20), Schedule(0x0401, 0x200, 21), Schedule(0x0402, 0x300, 22),
                    Schedule(0x0400, 0x101, 21, 0x50, kTs, kNet, 8),
                    Schedule(0x0C00, 0x400, 23, 0x60, kOtherTs, kOtherNet)});
    ASSERT_EQ(GuideServiceCount(h.g()), 4);
    const int32_t a = h.Find(kNet, kTs, 0x0400);
    const int32_t b = h.Find(kNet, kTs, 0x0401);
    const int32_t other = h.Find(kOtherNet, kOtherTs, 0x0C00);
    ASSERT_GE(a, 0);
    ASSERT_GE(b, 0);
    ASSERT_GE(other, 0);
    EXPECT_EQ(h.Info(a).listCount, 2);
    EXPECT_EQ(h.Info(b).listCount, 1);
    EXPECT_EQ(h.Info(other).listCount, 1);
    EXPECT_EQ(h.Info(a).channel, 27);
    EXPECT_EQ(h.Info(other).channel, -1);
    EXPECT_EQ(GuideWatchedService(h.g()), a);
    EXPECT_TRUE(h.Info(a).watched);
    EXPECT_EQ(h.g().listCount, 2);
    EXPECT_EQ(h.Info(b).lastWatched, -1);
    ScheduleEventRef ref;
    ASSERT_TRUE(GuideServiceRow(h.g(), other, 0, ref));
    EXPECT_EQ(ref.eventId, 0x400);
    EXPECT_EQ(GuideServiceRowOfEvent(h.g(), a, 0x101), 1);
    EXPECT_EQ(GuideServiceRowOfEvent(h.g(), a, 0x200), -1);
    EXPECT_EQ(GuideServiceFirstRowEndingAfter(h.g(), a, kDay + 20 * 3600 + 1), 0);
    EXPECT_EQ(GuideServiceFirstRowEndingAfter(h.g(), a, kDay + 21 * 3600), 1);
    EitEventRecord record;
    EXPECT_TRUE(ReadGuideServiceEvent(h.g(), other, ref, record));

    const uint32_t revision = GuideRevision(h.g());
    PluginOnChannelChange(h.t.s(), 27, 0x0401);
    h.t.platform.Pump(h.t.s());
    SyncGuide(h.t.s());
    EXPECT_EQ(GuideWatchedService(h.g()), b);
    EXPECT_EQ(h.g().listCount, 1);
    EXPECT_EQ(h.Info(a).listCount, 2);  // kept
    EXPECT_GE(h.Info(a).lastWatched, 0);
    EXPECT_GE(h.Info(b).lastWatched, h.Info(a).lastWatched);
    EXPECT_EQ(h.Info(other).lastWatched, -1);
    EXPECT_NE(GuideRevision(h.g()), revision);

    // Another physical channel: the watched service is the one the new
    // stream's own sections name.
    PluginOnChannelChange(h.t.s(), 30, 0x0C00);
    h.t.platform.Pump(h.t.s());
    SyncGuide(h.t.s());
    EXPECT_EQ(GuideWatchedService(h.g()), -1);
    h.Feed(0x0012, {Schedule(0x0C00, 0x400, 23, 0x50, kOtherTs, kOtherNet)});
    EXPECT_EQ(GuideWatchedService(h.g()), other);
    EXPECT_EQ(h.Info(other).channel, 30);
    EXPECT_EQ(h.Info(a).channel, 27);
}

// Names come from SDT actual and other, before or after the schedule.
TEST(GuideStoreMulti, ServiceNamesFromTheSdtBeforeOrAfterTheSchedule) {
    Guide h;
    h.Feed(0x0012, {Schedule(0x0400, 0x100, 20)});
    // With the guide closed, the SDT waits for the schedule's next turn.
    h.Feed(0x0011, {Sdt(kTs, kNet, {{0x0400, "総合"}, {0x0401, "教育"}}, false)});
    TakeGuideSections(h.t.s());
    h.Feed(0x0011, {Sdt(kOtherTs, kOtherNet, {{0x0C00, "衛星１"}}, true)});
    TakeGuideSections(h.t.s());
    EXPECT_STREQ(h.Info(h.Find(kNet, kTs, 0x0400)).name, Sjis("総合").c_str());
    h.Feed(0x0012, {Schedule(0x0401, 0x200, 21), Schedule(0x0C00, 0x300, 21, 0x60, kOtherTs, kOtherNet)});
    EXPECT_STREQ(h.Info(h.Find(kNet, kTs, 0x0401)).name, Sjis("教育").c_str());
    EXPECT_STREQ(h.Info(h.Find(kOtherNet, kOtherTs, 0x0C00)).name, Sjis("衛星１").c_str());
    // A repeat in the same version is not copied again; a new name is, and
    // (the guide window closed) filed along with the viewer's own message
    // for the section, without one of the guide's.
    const auto turnsAsked = [&h] {
        return std::count(h.t.platform.windowPosted.begin(), h.t.platform.windowPosted.end(), WM_GUIDE_READY);
    };
    const auto asked = turnsAsked();
    const uint32_t copies = h.g().pathWork.copies;
    const Bytes repeat = h.sb.Stream(0x0011, {Sdt(kTs, kNet, {{0x0400, "総合"}, {0x0401, "教育"}}, false)});
    ViewerStreamData(h.t.s(), repeat.data(), static_cast<uint32_t>(repeat.size()));
    EXPECT_EQ(h.g().queue.count, 0);
    h.t.platform.Pump(h.t.s());
    Bytes renamed = build::SdtSection(kTs, kNet, {build::NamedService(0x0400, EncodeAribFromUtf8("第一"))}, 1);
    h.Feed(0x0011, {renamed});
    EXPECT_EQ(turnsAsked(), asked);
    EXPECT_EQ(h.g().pathWork.copies, copies);  // the EIT's count: no SDT in it
    EXPECT_STREQ(h.Info(h.Find(kNet, kTs, 0x0400)).name, Sjis("第一").c_str());
}

// The service table full: never-watched entries are reused first, then the
// one watched longest ago, never the one watched now; the reused entry's
// table starts again for its new service.
TEST(GuideStoreMulti, AFullServiceTableReusesTheEntryWatchedLongestAgo) {
    Guide h;
    ApplyGuideBudget(h.t.s(), kGuideLeastMemoryMB);
    const int32_t capacity = GuideServicesForBudget(kGuideLeastMemoryMB);
    ASSERT_GE(capacity, 3);
    EXPECT_EQ(h.g().serviceCapacity, capacity);
    // Service 0x0400 watched, then 0x0401: 0x0400 is the one watched longest ago.
    h.Feed(0x0012, {Schedule(0x0400, 0x100, 20)});
    PluginOnChannelChange(h.t.s(), 27, 0x0401);
    h.Feed(0x0012, {Schedule(0x0401, 0x101, 20)});
    for (int32_t i = 2; i < capacity; ++i) {
        h.Feed(0x0012, {Schedule(static_cast<uint16_t>(0x0400 + i), static_cast<uint16_t>(0x100 + i), 20)});
    }
    ASSERT_EQ(GuideServiceCount(h.g()), capacity);
    const int32_t firstNever = h.Find(kNet, kTs, 0x0402);
    const uint16_t next = static_cast<uint16_t>(0x0400 + capacity);
    h.Feed(0x0012, {Schedule(next, 0x900, 21, 0x60, kOtherTs, kOtherNet)});
    EXPECT_EQ(GuideServiceCount(h.g()), capacity);
    EXPECT_EQ(h.Find(kNet, kTs, 0x0402), -1);
    EXPECT_EQ(h.Find(kOtherNet, kOtherTs, next), firstNever);
    EXPECT_EQ(h.Info(firstNever).listCount, 1);
    ScheduleEventRef ref;
    ASSERT_TRUE(GuideServiceRow(h.g(), firstNever, 0, ref));
    EXPECT_EQ(ref.eventId, 0x900);  // the old service's programme is gone

    // Never-watched entries go first, the one given first among them: the
    // watched ones survive a churn of new services.
    for (int32_t i = 0; i < 2 * capacity; ++i) {
        const uint16_t service = static_cast<uint16_t>(0x0500 + i);
        h.Feed(0x0012, {Schedule(service, 0x100, 20, 0x60, kOtherTs, kOtherNet)});
        EXPECT_GE(h.Find(kOtherNet, kOtherTs, service), 0) << i;
    }
    EXPECT_GE(h.Find(kNet, kTs, 0x0400), 0);
    EXPECT_EQ(GuideWatchedService(h.g()), h.Find(kNet, kTs, 0x0401));
    EXPECT_GE(h.Find(kOtherNet, kOtherTs, static_cast<uint16_t>(0x0500 + 2 * capacity - 1)), 0);
    EXPECT_EQ(h.Find(kOtherNet, kOtherTs, 0x0500), -1);
}

// Damaged sections (bit errors make up service ids, or spoil a real
// service's section) take no entry: a service gets one only once a section
// of it passed its CRC_32, so with every entry taken nothing real is pushed
// out by a damaged header. Its good repeat is then received as any new
// service's section.
TEST(GuideStoreMulti, ADamagedSectionOfANewServiceTakesNoEntry) {
    struct Case {
        const char* name;
        int32_t flipAt;  // from the section's end; the CRC_32 then fails
    };
    const Case cases[] = {
        {"a flipped byte in the event loop", 10},
        {"a flipped CRC_32", 1},
    };
    for (const Case& c : cases) {
        Guide h;
        ApplyGuideBudget(h.t.s(), kGuideLeastMemoryMB);
        const int32_t capacity = GuideServicesForBudget(kGuideLeastMemoryMB);
        for (int32_t i = 0; i < capacity; ++i) {
            h.Feed(0x0012, {Schedule(static_cast<uint16_t>(0x0600 + i), 0x100, 20, 0x60, kOtherTs, kOtherNet)});
        }
        ASSERT_EQ(GuideServiceCount(h.g()), capacity) << c.name;
        const Bytes good = Schedule(0x0777, 0x100, 20, 0x60, kOtherTs, kOtherNet);
        Bytes damaged = good;
        damaged[damaged.size() - static_cast<size_t>(c.flipAt)] ^= 0x01;
        h.Feed(0x0012, {damaged});
        EXPECT_EQ(h.Find(kOtherNet, kOtherTs, 0x0777), -1) << c.name;
        for (int32_t i = 0; i < capacity; ++i) {
            EXPECT_GE(h.Find(kOtherNet, kOtherTs, static_cast<uint16_t>(0x0600 + i)), 0) << c.name << " " << i;
        }
        h.Feed(0x0012, {good});
        const int32_t real = h.Find(kOtherNet, kOtherTs, 0x0777);
        ASSERT_GE(real, 0) << c.name;
        EXPECT_EQ(h.Info(real).listCount, 1) << c.name;
    }
}

// Every entry watched once (as restored from a cache file): the oldest
// watch goes first.
TEST(GuideStoreMulti, AmongWatchedEntriesTheOldestWatchIsReused) {
    Guide h;
    ApplyGuideBudget(h.t.s(), kGuideLeastMemoryMB);
    const int32_t capacity = GuideServicesForBudget(kGuideLeastMemoryMB);
    for (int32_t i = 0; i < capacity; ++i) {
        GuideServiceInfo info = {};
        info.key = {kOtherNet, kOtherTs, static_cast<uint16_t>(0x0700 + i)};
        info.channel = -1;
        info.lastWatched = 1000 - i;  // the last one restored is the oldest watch
        ASSERT_EQ(RestoreGuideService(h.t.s(), info), i);
    }
    GuideServiceInfo extra = {};
    extra.key = {kOtherNet, kOtherTs, 0x0800};
    EXPECT_EQ(RestoreGuideService(h.t.s(), extra), -1);  // a restore never evicts
    h.Feed(0x0012, {Schedule(0x0800, 0x100, 20, 0x60, kOtherTs, kOtherNet)});
    EXPECT_EQ(h.Find(kOtherNet, kOtherTs, 0x0800), capacity - 1);
    EXPECT_EQ(h.Info(capacity - 1).lastWatched, -1);
    EXPECT_EQ(h.Info(capacity - 1).listCount, 1);
    EXPECT_GE(h.Find(kOtherNet, kOtherTs, 0x0700), 0);
}

// A service's pool full: ended sections go first, then the furthest held;
// a section further than everything held is refused and nothing dropped.
TEST(GuideStoreMulti, AFullPoolDropsEndedSectionsThenTheFurthestDays) {
    std::unique_ptr<GuideStore> store(new GuideStore());
    GuideStore& g = *store;
    const int kBig = 3900;
    std::vector<Bytes> sections;
    for (int n = 0; n < 256; ++n) {
        sections.push_back(Make({0x0400, 0x50, static_cast<uint8_t>(n), 1, kTs, kNet, static_cast<uint16_t>(n),
                                 (n / 8) * 180 + (n % 8) * 20, kBig}));
    }
    int stored = 0;
    while (stored < 256 && FileScheduleSection(g, sections[stored].data(),
                                               static_cast<int32_t>(sections[stored].size())) ==
                               ScheduleAddResult::kStored) {
        ++stored;
    }
    ASSERT_GT(stored, 64);
    ASSERT_LT(stored, 256);
    const EitScheduleService& s = g.tables[0].schedule;
    const int32_t held = s.heldCount;
    // No clock: the next (further) section is refused, nothing dropped.
    EXPECT_EQ(FileScheduleSection(g, sections[stored].data(), static_cast<int32_t>(sections[stored].size())),
              ScheduleAddResult::kNoRoom);
    EXPECT_EQ(s.heldCount, held);

    // 07:00: segments 0 and 1 (00:00-06:00, sections 0-15) have ended.
    g.clockNow = kDay + 7 * 3600;
    EXPECT_EQ(FileScheduleSection(g, sections[stored].data(), static_cast<int32_t>(sections[stored].size())),
              ScheduleAddResult::kStored);
    EXPECT_EQ(s.slots[0].size, 0);
    EXPECT_EQ(s.slots[15].size, 0);
    EXPECT_NE(s.slots[16].size, 0);
    EXPECT_EQ(g.tables[0].listCount, s.heldCount);

    // No ended section left: a nearer section takes the furthest one's room.
    while (FileScheduleSection(g, sections[stored + 1].data(), static_cast<int32_t>(sections[stored + 1].size())) ==
           ScheduleAddResult::kStored) {
        ++stored;
    }
    // The furthest segment's oldest section goes.
    const int32_t furthest = stored / 8 * 8;
    ASSERT_NE(s.slots[furthest].size, 0);
    const Bytes nearer = Make({0x0400, 0x50, 1, 1, kTs, kNet, 0x7000, 20, kBig});
    EXPECT_EQ(FileScheduleSection(g, nearer.data(), static_cast<int32_t>(nearer.size())), ScheduleAddResult::kStored);
    EXPECT_EQ(s.slots[furthest].size, 0);
    EXPECT_NE(s.slots[16].size, 0);
    EXPECT_EQ(GuideServiceRowOfEvent(g, 0, furthest), -1);
    EXPECT_GE(GuideServiceRowOfEvent(g, 0, 0x7000), 0);
}

// Budgets: clamped, and the services each holds.
TEST(GuideStoreMulti, TheBudgetIsClampedAndSizesTheServiceTable) {
    struct Case {
        int32_t megabytes;
        int32_t asked;  // as clamped
    };
    const Case cases[] = {{0, kGuideLeastMemoryMB}, {-5, kGuideLeastMemoryMB}, {32, 32}, {1000, kGuideMostMemoryMB}};
    for (const Case& c : cases) {
        EXPECT_EQ(GuideServicesForBudget(c.megabytes),
                  static_cast<int32_t>((static_cast<size_t>(c.asked) << 20) / kGuideServiceShare))
            << c.megabytes;
    }
    EXPECT_GE(GuideServicesForBudget(kGuideDefaultMemoryMB), 40);  // a BS transponder's 30 and more
    EXPECT_LE(kGuideServiceShare, 700u * 1024u);
    GuideStore g;
    EXPECT_EQ(g.serviceCapacity, GuideServicesForBudget(kGuideDefaultMemoryMB));
    EXPECT_TRUE(SetGuideBudget(g, 8));
    EXPECT_EQ(g.serviceCapacity, GuideServicesForBudget(8));
    const Bytes section = Schedule(0x0400, 0x100, 20);
    EXPECT_EQ(FileScheduleSection(g, section.data(), static_cast<int32_t>(section.size())), ScheduleAddResult::kStored);
    EXPECT_FALSE(SetGuideBudget(g, 16));  // sections held: the budget stays
    EXPECT_EQ(g.serviceCapacity, GuideServicesForBudget(8));
}

// "[GUIDE] MemoryMB" read before the window sizes the budget; missing or
// out of range, the default or the clamp.
TEST(GuideStoreMulti, TheBudgetComesFromTheSettingsFile) {
    struct Case {
        const char* value;  // null: no key
        int32_t megabytes;
    };
    const Case cases[] = {{nullptr, kGuideDefaultMemoryMB}, {"8", 8}, {"1", kGuideLeastMemoryMB},
                          {"100000", kGuideMostMemoryMB}, {"abc", kGuideLeastMemoryMB}};
    for (const Case& c : cases) {
        TestPlugin t;
        t.platform.executablePath = "C:\\Host\\host.exe";
        if (c.value != nullptr) t.platform.settings["GUIDE/MemoryMB"] = c.value;
        LoadSettingsBeforeWindow(t.s());
        EXPECT_EQ(t.s().guide.memoryMB, c.megabytes) << (c.value ? c.value : "none");
        EXPECT_EQ(t.s().guide.serviceCapacity, GuideServicesForBudget(c.megabytes));
    }
}

// What a cache file gives back: the entry with its name, channel and watch
// stamp, its sections (oldest first), marked held so that the packet path
// does not copy them again.
TEST(GuideStoreMulti, RestoredServicesAndSectionsRoundTrip) {
    Guide from;
    from.Feed(0x0012, {Schedule(0x0400, 0x100, 20), Schedule(0x0400, 0x101, 21, 0x50, kTs, kNet, 8),
                       Schedule(0x0C00, 0x400, 23, 0x60, kOtherTs, kOtherNet)});
    from.Feed(0x0011, {Sdt(kTs, kNet, {{0x0400, "総合"}}, false)});
    TakeGuideSections(from.t.s());
    Guide to;
    std::vector<Bytes> all;
    for (int32_t i = 0; i < GuideServiceCount(from.g()); ++i) {
        const GuideServiceInfo info = from.Info(i);
        const int32_t entry = RestoreGuideService(to.t.s(), info);
        ASSERT_GE(entry, 0);
        ASSERT_EQ(GuideServiceSectionCount(from.g(), i), info.key.serviceId == 0x0400 ? 2 : 1);
        for (int32_t k = 0; k < GuideServiceSectionCount(from.g(), i); ++k) {
            int32_t size = 0;
            const uint8_t* section = GuideServiceSection(from.g(), i, k, size);
            ASSERT_NE(section, nullptr);
            all.emplace_back(section, section + size);
            EXPECT_EQ(RestoreGuideSection(to.t.s(), entry, section, size), ScheduleAddResult::kStored);
        }
        const GuideServiceInfo back = to.Info(entry);
        EXPECT_STREQ(back.name, info.name);
        EXPECT_EQ(back.channel, info.channel);
        EXPECT_EQ(back.lastWatched, info.lastWatched);
        EXPECT_EQ(back.listCount, info.listCount);
    }
    EXPECT_STREQ(to.Info(to.Find(kNet, kTs, 0x0400)).name, Sjis("総合").c_str());
    // Oldest first: the 20:00 section was stored before the 21:00 one.
    EXPECT_EQ(all[0], Schedule(0x0400, 0x100, 20));

    // Damaged, or of another service than the entry's: refused.
    Bytes damaged = all[0];
    damaged[20] ^= 0x01;
    const int32_t a = to.Find(kNet, kTs, 0x0400);
    EXPECT_EQ(RestoreGuideSection(to.t.s(), a, damaged.data(), static_cast<int32_t>(damaged.size())),
              ScheduleAddResult::kIgnored);
    EXPECT_EQ(RestoreGuideSection(to.t.s(), a, all.back().data(), static_cast<int32_t>(all.back().size())),
              ScheduleAddResult::kIgnored);
    EXPECT_EQ(RestoreGuideSection(to.t.s(), 99, all[0].data(), static_cast<int32_t>(all[0].size())),
              ScheduleAddResult::kIgnored);

    // The broadcast repeats what was restored: nothing is copied again.
    const uint32_t copies = to.g().pathWork.copies;
    to.Feed(0x0012, all);
    EXPECT_EQ(to.g().pathWork.copies, copies);
}

// A BS-like carousel, 30 services of other streams four sections each: the
// first round copies each section once; a repeat round only checks
// headers, and finding a service costs a compare when sections of one
// service follow one another.
// Guide closed: present/following sections of other services wait for the
// next schedule section's message instead of posting their own; a schedule
// section that comes behind them is announced all the same, so that they do
// not sit in the slots until these are full and sections are lost.
TEST(GuideStoreMulti, AScheduleSectionBehindUnannouncedPresentFollowingIsAnnounced) {
    Guide h;
    const Bytes pf = build::EitPfSection(0x0C00, 0, {build::Event(kMjd, 22, 0, 0, 1, 0, 0)}, 1, kOtherTs, kOtherNet,
                                         0x4F);
    const Bytes packets = build::Cat({h.sb.Stream(0x0012, {pf}), h.sb.Stream(0x0012, {Schedule(0x0400, 0x100, 23)})});
    h.t.platform.windowQueue.clear();
    ViewerStreamData(h.t.s(), packets.data(), static_cast<uint32_t>(packets.size()));
    ASSERT_EQ(h.g().queue.count, 2);
    int32_t posted = 0;
    for (uint32_t message : h.t.platform.windowQueue) posted += message == WM_GUIDE_READY ? 1 : 0;
    EXPECT_EQ(posted, 1);
    h.t.platform.Pump(h.t.s());
    EXPECT_EQ(h.g().queue.count, 0);
    const int32_t watched = h.Find(kNet, kTs, 0x0400);
    ASSERT_GE(watched, 0);
    EXPECT_EQ(h.Info(watched).listCount, 1);
}

// PID 0x0012 is followed once for the viewer and the guide: each section
// goes to whoever kept it, whatever comes before or after it in the packet,
// and the guide's full slots cost the viewer nothing.
struct SharedFollowerCase {
    const char* name;
    bool presentFirst;
    bool guideSlotsFull;
};

TEST(GuideStoreMulti, OneFollowerServesTheViewerAndTheGuideSectionBySection) {
    const SharedFollowerCase cases[] = {
        {"present, then another service's schedule, in one packet", true, false},
        {"another service's schedule, then the present, in one packet", false, false},
        {"the guide's slots full: the present still reaches the viewer", false, true},
    };
    for (const SharedFollowerCase& c : cases) {
        Guide h;
        if (c.guideSlotsFull) {
            const Bytes stream = h.sb.Stream(0x0012, HandOverFiller(0x0500, kMjd, kTs, kNet));
            ViewerStreamData(h.t.s(), stream.data(), static_cast<uint32_t>(stream.size()));
            ASSERT_GT(h.g().droppedSections, 0u) << c.name;
        }
        const Bytes present = build::EitPfSection(0x0400, 0, {build::Event(kMjd, 21, 0, 0, 0, 30, 0)});
        const Bytes schedule = Schedule(0x0C00, 0x400, 23, 0x60, kOtherTs, kOtherNet);
        ASSERT_LT(present.size() + schedule.size(), 183u) << c.name;  // both in one packet
        const std::vector<Bytes> both =
            c.presentFirst ? std::vector<Bytes>{present, schedule} : std::vector<Bytes>{schedule, present};
        const Bytes stream = h.sb.Stream(0x0012, both);
        ASSERT_EQ(stream.size(), 188u) << c.name;
        const uint32_t dropped = h.g().droppedSections;
        ViewerStreamData(h.t.s(), stream.data(), static_cast<uint32_t>(stream.size()));
        EXPECT_EQ(Bytes(h.t.s().presentMailbox.data, h.t.s().presentMailbox.data + h.t.s().presentMailbox.length),
                  present)
            << c.name;
        // With full slots the guide drops both: the schedule and its own copy
        // of the present.
        EXPECT_EQ(h.g().droppedSections - dropped, c.guideSlotsFull ? 2u : 0u) << c.name;
        h.t.platform.Pump(h.t.s());
        const int32_t other = h.Find(kOtherNet, kOtherTs, 0x0C00);
        if (c.guideSlotsFull) {
            EXPECT_EQ(other < 0 ? 0 : h.Info(other).listCount, 0) << c.name;
        } else {
            ASSERT_GE(other, 0) << c.name;
            EXPECT_EQ(h.Info(other).listCount, 1) << c.name;
        }
    }
}

// PID 0x0011 likewise: the viewer takes every SDT actual section, the
// guide the actual and other ones it has not filed, from one follower.
TEST(GuideStoreMulti, OneFollowerServesTheViewersAndTheGuidesSdt) {
    Guide h;
    const Bytes actual = Sdt(kTs, kNet, {{0x0400, "テレビ"}}, false);
    const Bytes other = Sdt(kOtherTs, kOtherNet, {{0x0C00, "ビーエス"}}, true);
    ASSERT_LT(actual.size() + other.size(), 183u);
    const auto mailbox = [&h] {
        return Bytes(h.t.s().sdtMailbox.data, h.t.s().sdtMailbox.data + h.t.s().sdtMailbox.length);
    };
    // The SDT sections waiting in the guide's hand-over, in order.
    const auto guideWaiting = [&h] {
        std::vector<Bytes> waiting;
        SectionQueue& q = h.g().queue;
        SectionQueueTag tag;
        const uint8_t* bytes = nullptr;
        std::vector<std::pair<SectionQueueTag, Bytes>> taken;
        while (PeekSection(q, tag, bytes)) {
            taken.emplace_back(tag, Bytes(bytes, bytes + tag.length));
            if (tag.service == kGuideSdtEntry) waiting.push_back(taken.back().second);
            PopSection(q);
        }
        for (const auto& t : taken) PushSection(q, t.first, t.second.data());  // back as they were
        return waiting;
    };

    // Other, then actual: the viewer keeps the actual; the guide keeps both,
    // in the order they came.
    Bytes stream = h.sb.Stream(0x0011, {other, actual});
    ViewerStreamData(h.t.s(), stream.data(), static_cast<uint32_t>(stream.size()));
    EXPECT_EQ(mailbox(), actual);
    EXPECT_EQ(guideWaiting(), (std::vector<Bytes>{other, actual}));
    h.t.platform.Pump(h.t.s());
    EXPECT_TRUE(guideWaiting().empty());

    // The actual again, then the other: the viewer takes the actual again,
    // the guide (which filed both) neither.
    h.t.s().sdtMailbox.length = 0;
    stream = h.sb.Stream(0x0011, {actual, other});
    ViewerStreamData(h.t.s(), stream.data(), static_cast<uint32_t>(stream.size()));
    EXPECT_EQ(mailbox(), actual);
    EXPECT_TRUE(guideWaiting().empty());
}

// The guide closed and every schedule section held already, a transponder's
// SDT other comes as a run of sections in one host call: each is filed
// (not only the last), along with the viewer's own message for the SDT
// actual, though no new schedule section will come to announce them.
TEST(GuideStoreMulti, EverySdtSectionOfACallIsFiledWithTheGuideClosed) {
    Guide h;
    const int kStreams = 5;
    for (int i = 0; i < kStreams; ++i) {
        h.Feed(0x0012, {Schedule(static_cast<uint16_t>(0x0C00 + i), 0x300, 21, 0x60,
                                 static_cast<uint16_t>(kOtherTs + i), kOtherNet)});
    }
    std::vector<Bytes> sdts;
    const char* const names[kStreams] = {"衛星１", "衛星２", "衛星３", "衛星４", "衛星５"};
    for (int i = 0; i < kStreams; ++i) {
        sdts.push_back(Sdt(static_cast<uint16_t>(kOtherTs + i), kOtherNet,
                           {{static_cast<uint16_t>(0x0C00 + i), names[i]}}, true));
    }
    sdts.push_back(Sdt(kTs, kNet, {{0x0400, "総合"}}, false));
    const auto turnsAsked = [&h] {
        return std::count(h.t.platform.windowPosted.begin(), h.t.platform.windowPosted.end(), WM_GUIDE_READY);
    };
    const auto asked = turnsAsked();
    h.Feed(0x0011, sdts);
    EXPECT_EQ(turnsAsked(), asked) << "the viewer's messages only";
    for (int i = 0; i < kStreams; ++i) {
        const int32_t service = h.Find(kOtherNet, static_cast<uint16_t>(kOtherTs + i), static_cast<uint16_t>(0x0C00 + i));
        ASSERT_GE(service, 0) << i;
        EXPECT_STREQ(h.Info(service).name, Sjis(names[i]).c_str()) << i;
    }
}

TEST(GuideStoreMulti, ThePacketPathChecksHeadersAndCopiesOnlyNewSections) {
    Guide h;
    std::vector<std::vector<Bytes>> carousel;
    for (int service = 0; service < 30; ++service) {
        std::vector<Bytes> sections;
        for (int n = 0; n < 4; ++n) {
            sections.push_back(Schedule(static_cast<uint16_t>(0x0100 + service), static_cast<uint16_t>(0x10 + n),
                                        20 + n, static_cast<uint8_t>(0x60 + n % 2),
                                        static_cast<uint16_t>(0x4000 + service / 10), kOtherNet,
                                        static_cast<uint8_t>(n * 8)));
        }
        carousel.push_back(sections);
    }
    for (const auto& sections : carousel) h.Feed(0x0012, sections);
    EXPECT_EQ(h.g().pathWork.copies, 120u);
    EXPECT_EQ(GuideServiceCount(h.g()), 30);
    EXPECT_EQ(h.g().droppedSections, 0u);
    for (int32_t i = 0; i < 30; ++i) EXPECT_EQ(h.Info(i).listCount, 4) << i;

    const GuidePathWork before = h.g().pathWork;
    for (const auto& sections : carousel) h.Feed(0x0012, sections);
    EXPECT_EQ(h.g().pathWork.copies, before.copies);
    EXPECT_EQ(h.g().pathWork.headers - before.headers, 120u);
    // A probe or two of the hashed index a section, not a scan over the
    // entries.
    EXPECT_LE(h.g().pathWork.serviceCompares - before.serviceCompares, 2u * 120u);
}

// Sections that wait for one turn are filed in the order they came: a
// schedule section, then a newer following section whose event takes the
// scheduled one's time. The following's event is the newer word and stays,
// with the guide closed (both in the schedule slots) or shown (the watched
// service's following in a slot of its own as well).
TEST(GuideStoreMulti, OneTurnFilesItsSectionsInTheOrderTheyCame) {
    const struct {
        const char* name;
        bool windowShown;
    } cases[] = {{"guide closed", false}, {"guide shown", true}};
    for (const auto& c : cases) {
        Guide h;
        h.g().windowShown = c.windowShown;
        // 21:00-21:20 in the schedule, version 1.
        const Bytes schedule = Schedule(0x0400, 0x100, 21, 0x50, kTs, kNet, 0, 1);
        // The following, version 2: another programme at 21:10-21:40.
        build::EitEvent moved = build::Event(kMjd, 21, 10, 0, 0, 30, 0);
        moved.eventId = 0x200;
        const Bytes following = build::EitPfSection(0x0400, 1, {moved}, 2);
        const Bytes packets = build::Cat({h.sb.Stream(0x0012, {schedule}), h.sb.Stream(0x0012, {following})});
        ViewerStreamData(h.t.s(), packets.data(), static_cast<uint32_t>(packets.size()));
        TakeGuideSections(h.t.s());
        const int32_t service = h.Find(kNet, kTs, 0x0400);
        ASSERT_GE(service, 0) << c.name;
        EXPECT_GE(GuideServiceRowOfEvent(h.g(), service, 0x200), 0) << c.name;
        EXPECT_EQ(GuideServiceRowOfEvent(h.g(), service, 0x100), -1) << c.name;
        EXPECT_EQ(h.Info(service).listCount, 1) << c.name;
    }
}

}  // namespace
