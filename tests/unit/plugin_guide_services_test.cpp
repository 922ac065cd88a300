// Which services hold the guide's entries, and what reaches them from the
// stream: sections with valid CRC_32s but made-up service ids never push
// out the services an SDT names; an SDT or a present/following section
// that bit errors damaged takes nothing and leaves its good repeat to be
// taken.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "plugin/guide_entries.h"
#include "plugin/guide_store.h"
#include "plugin/plugin_core.h"
#include "plugin/plugin_state.h"
#include "tests/support/test_plugin.h"
#include "tests/unit/text_test_helpers.h"
#include "tools/streamkit/stream_builder.h"
#include "ts/crc32.h"
#include "ui/channel_buttons.h"
#include "ui/guide_view.h"
#include "ui/resource.h"
#include "ui/viewer.h"

namespace {

using build::Bytes;

const uint16_t kMjd = 0xEFC6;  // 2026-12-08
const uint16_t kNet = 0x0004;
const uint16_t kMadeUpTs = 0x4FFF;

void SetCrc(Bytes& b) {
    const uint32_t crc = Crc32Mpeg2(b.data(), b.size() - 4);
    for (int i = 0; i < 4; ++i) b[b.size() - 4 + i] = static_cast<uint8_t>(crc >> (24 - 8 * i));
}

// A schedule section of another transport stream (0x60) with one event.
Bytes Schedule(uint16_t service, uint16_t ts, uint16_t net = kNet) {
    build::EitHeader h = build::ScheduleHeader(service, 0, 1, 0x60);
    h.transportStreamId = ts;
    h.originalNetworkId = net;
    h.lastTableId = 0x60;
    build::EitEvent e = build::Event(kMjd, 20, 0, 0, 1, 0, 0, build::ShortEventDescriptor(Bytes{0x41}, Bytes{0x42}));
    e.eventId = 0x100;
    return build::EitSection(h, {e});
}

// SDT other (0x46) giving each of `services` the name `name`.
Bytes SdtOther(uint16_t ts, const std::vector<uint16_t>& services, const char* name = "放送", uint8_t version = 0) {
    std::vector<build::SdtService> list;
    for (uint16_t s : services) list.push_back(build::NamedService(s, EncodeAribFromUtf8(name)));
    Bytes b = build::SdtSection(ts, kNet, list, version);
    b[0] = 0x46;
    SetCrc(b);
    return b;
}

struct Guide {
    Guide() {
        LoadSettingsBeforeWindow(t.s());
        PluginOnChannelChange(t.s(), 27, 0x0400);
        t.platform.Pump(t.s());
    }
    void Feed(uint16_t pid, const std::vector<Bytes>& sections) {
        const Bytes packets = sb.Stream(pid, sections);
        ViewerStreamData(t.s(), packets.data(), static_cast<uint32_t>(packets.size()));
        t.platform.Pump(t.s());
        TakeGuideSections(t.s());  // the guide is closed: what waits, filed
    }
    int32_t Find(uint16_t net, uint16_t ts, uint16_t service) {
        std::lock_guard<std::mutex> guard(t.s().lock);
        const GuideServiceKey key = {net, ts, service};
        return FindGuideService(g(), key);
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

// Thirty real services of three other transport streams, ten each, then
// sixty made-up ids 0xF000.. on transport stream 0x4FFF, every section
// with a valid CRC_32, as a faulty multiplexer or a bit error before the
// CRC was computed makes them. Whether the SDT names the real services
// before their schedule, after it, or never, each keeps its entry and its
// programme; the made-up ids hold no more than their stream's share.
TEST(GuideServices, MadeUpServiceIdsNeverPushOutRealServices) {
    enum class Names { kBefore, kAfter, kNever };
    const struct {
        const char* name;
        Names names;
    } cases[] = {
        {"the SDT names them before their schedule", Names::kBefore},
        {"the SDT names them after their schedule", Names::kAfter},
        {"no SDT: three streams against one", Names::kNever},
    };
    for (const auto& c : cases) {
        Guide h;
        const int32_t capacity = h.g().serviceCapacity;
        ASSERT_GE(capacity, 30 + kGuideUnnamedPerStream) << c.name;
        std::vector<Bytes> sdts;
        for (uint16_t ts = 0; ts < 3; ++ts) {
            std::vector<uint16_t> ids;
            for (uint16_t n = 0; n < 10; ++n) ids.push_back(static_cast<uint16_t>(0x0100 + ts * 0x10 + n));
            sdts.push_back(SdtOther(static_cast<uint16_t>(0x4010 + ts), ids));
        }
        // The guide's SDT slot holds the newest: one section a turn.
        const auto feedSdts = [&] {
            for (const Bytes& sdt : sdts) h.Feed(0x0011, {sdt});
        };
        if (c.names == Names::kBefore) feedSdts();
        for (uint16_t ts = 0; ts < 3; ++ts) {
            for (uint16_t n = 0; n < 10; ++n) {
                h.Feed(0x0012, {Schedule(static_cast<uint16_t>(0x0100 + ts * 0x10 + n),
                                         static_cast<uint16_t>(0x4010 + ts))});
            }
        }
        if (c.names == Names::kAfter) feedSdts();
        for (uint16_t n = 0; n < 60; ++n) h.Feed(0x0012, {Schedule(static_cast<uint16_t>(0xF000 + n), kMadeUpTs)});

        int32_t real = 0;
        for (uint16_t ts = 0; ts < 3; ++ts) {
            for (uint16_t n = 0; n < 10; ++n) {
                const int32_t i = h.Find(kNet, static_cast<uint16_t>(0x4010 + ts), static_cast<uint16_t>(0x0100 + ts * 0x10 + n));
                if (i < 0) continue;
                ++real;
                EXPECT_EQ(h.Info(i).listCount, 1) << c.name << ": service " << ts << "/" << n;
            }
        }
        EXPECT_EQ(real, 30) << c.name;
        int32_t madeUp = 0;
        for (uint16_t n = 0; n < 60; ++n) madeUp += h.Find(kNet, kMadeUpTs, static_cast<uint16_t>(0xF000 + n)) >= 0;
        EXPECT_LE(madeUp, kGuideUnnamedPerStream) << c.name;
        // The newest made-up id still has an entry: the stream reuses its own.
        EXPECT_GE(h.Find(kNet, kMadeUpTs, 0xF000 + 59), 0) << c.name;
        if (c.names == Names::kNever) continue;
        const int32_t named = h.Find(kNet, 0x4010, 0x0100);
        ASSERT_GE(named, 0) << c.name;
        EXPECT_STREQ(h.Info(named).name, Sjis("放送").c_str()) << c.name;
    }
}

// A full table: a service seen only in EIT takes the entry of another such
// service, never a named one's; a named service takes one seen only in EIT
// first (though a named one was given earlier and never watched); once
// every entry is named, a service seen only in EIT gets none until the SDT
// names it.
TEST(GuideServices, OnlyANamedServiceTakesANamedOnesEntry) {
    Guide h;
    ApplyGuideBudget(h.t.s(), kGuideLeastMemoryMB);
    const int32_t capacity = h.g().serviceCapacity;
    ASSERT_GE(capacity, 3);
    std::vector<uint16_t> named;
    for (int32_t i = 0; i < capacity - 1; ++i) named.push_back(static_cast<uint16_t>(0x0100 + i));
    std::vector<uint16_t> listed = named;
    listed.push_back(0x0200);
    h.Feed(0x0011, {SdtOther(0x4010, listed)});
    for (uint16_t id : named) h.Feed(0x0012, {Schedule(id, 0x4010)});
    h.Feed(0x0012, {Schedule(0x0999, 0x4010)});
    ASSERT_EQ(h.g().serviceCount, capacity);
    const int32_t unnamed = h.Find(kNet, 0x4010, 0x0999);
    const auto everyNamedHeld = [&](const char* when) {
        for (uint16_t id : named) EXPECT_GE(h.Find(kNet, 0x4010, id), 0) << when << ": " << id;
    };

    h.Feed(0x0012, {Schedule(0x0998, 0x4010)});
    EXPECT_EQ(h.Find(kNet, 0x4010, 0x0998), unnamed);
    everyNamedHeld("a service seen only in EIT came");

    h.Feed(0x0012, {Schedule(0x0200, 0x4010)});
    EXPECT_EQ(h.Find(kNet, 0x4010, 0x0200), unnamed);
    everyNamedHeld("a named service came");

    h.Feed(0x0012, {Schedule(0x0997, 0x4010)});
    EXPECT_EQ(h.Find(kNet, 0x4010, 0x0997), -1) << "a service no SDT lists pushed out a named one";
    everyNamedHeld("every entry named");

    // Named by the SDT's next version: the first named entry given goes.
    const int32_t first = h.Find(kNet, 0x4010, named.front());
    h.Feed(0x0011, {SdtOther(0x4010, {0x0997}, "後発", 1)});
    h.Feed(0x0012, {Schedule(0x0997, 0x4010)});
    EXPECT_EQ(h.Find(kNet, 0x4010, 0x0997), first);
}

// Named while it had its entry, then pushed out by another named service:
// it comes back named, though the SDT, filed in that version, is not filed
// again.
TEST(GuideServices, AServiceStaysNamedAfterItsEntryWentToAnother) {
    Guide h;
    ApplyGuideBudget(h.t.s(), kGuideLeastMemoryMB);
    const int32_t capacity = h.g().serviceCapacity;
    std::vector<uint16_t> ids;
    for (int32_t i = 0; i < capacity; ++i) ids.push_back(static_cast<uint16_t>(0x0100 + i));
    for (uint16_t id : ids) h.Feed(0x0012, {Schedule(id, 0x4010)});
    ids.push_back(0x0200);
    h.Feed(0x0011, {SdtOther(0x4010, ids)});
    h.Feed(0x0012, {Schedule(0x0200, 0x4010)});
    ASSERT_EQ(h.Find(kNet, 0x4010, 0x0100), -1);
    h.Feed(0x0011, {SdtOther(0x4010, ids)});  // a repeat: not filed again
    h.Feed(0x0012, {Schedule(0x0100, 0x4010)});
    EXPECT_GE(h.Find(kNet, 0x4010, 0x0100), 0);
    EXPECT_EQ(h.Find(kNet, 0x4010, 0x0101), -1);
}

// The packet path's count of the entries it compares measures the packet
// path alone: the window thread's naming of an SDT's services, with or
// without entries, adds nothing to it.
TEST(GuideServices, NamingServicesIsNotCountedAsPacketPathWork) {
    Guide h;
    std::vector<uint16_t> ids;
    for (uint16_t n = 0; n < 20; ++n) ids.push_back(static_cast<uint16_t>(0x0100 + n));
    for (uint16_t n = 0; n < 10; ++n) h.Feed(0x0012, {Schedule(ids[n], 0x4010)});
    const uint32_t before = h.g().pathWork.serviceCompares;
    h.Feed(0x0011, {SdtOther(0x4010, ids)});
    EXPECT_EQ(h.g().pathWork.serviceCompares, before);
    EXPECT_STREQ(h.Info(h.Find(kNet, 0x4010, 0x0100)).name, Sjis("放送").c_str());
}

// An SDT section whose name bit errors changed is not filed: its name does
// not reach the guide and the section is not marked filed, so its good
// repeat (same version) is copied and filed.
TEST(GuideServices, AnSdtWithADamagedNameIsNotFiledAndItsRepeatIs) {
    Guide h;
    h.Feed(0x0012, {Schedule(0x0100, 0x4010)});
    const Bytes good = SdtOther(0x4010, {0x0100}, "衛星放送");
    Bytes damaged = good;
    damaged[damaged.size() - 5] ^= 0x01;  // the name's last byte
    h.Feed(0x0011, {damaged});
    const int32_t i = h.Find(kNet, 0x4010, 0x0100);
    ASSERT_GE(i, 0);
    EXPECT_STREQ(h.Info(i).name, "");
    h.Feed(0x0011, {good});
    EXPECT_STREQ(h.Info(i).name, Sjis("衛星放送").c_str());
}

// --- The watched service's present/following while the guide is open ------

const uint16_t kOneSeg = 0x0588;
const uint16_t kLowEit = 0x0027;

Bytes Present(uint16_t eventId, uint8_t version = 1) {
    build::EitEvent e = build::Event(kMjd, 21, 0, 0, 1, 0, 0, build::ShortEventDescriptor(Bytes{0x41}, Bytes{0x42}));
    e.eventId = eventId;
    return build::EitPfSection(kOneSeg, 0, {e}, version);
}

// The one-segment layer alone (L-EIT): the guide has this service's
// present/following from the viewer's sections only.
struct OpenGuide : Guide {
    OpenGuide() {
        PluginOnChannelChange(t.s(), 27, kOneSeg);
        t.platform.Pump(t.s());
        Open();
    }
    void Open() {
        ViewerCommand(t.s(), IDC_GUIDE_OPEN);
        GuideInitialised(t.s());
    }
    // The L-EIT taken after its quiet sections (a service change starts
    // their count again); the window pumps when `pump`.
    void Low(const Bytes& section, bool pump = true) {
        const Bytes packets = sb.Stream(kLowEit, {section});
        ViewerStreamData(t.s(), packets.data(), static_cast<uint32_t>(packets.size()));
        if (pump) t.platform.Pump(t.s());
    }
    void Zap(uint16_t service) {
        PluginOnChannelChange(t.s(), 27, service);
        t.platform.Pump(t.s());
    }
    // The event ids the watched service's list shows.
    std::vector<uint16_t> Rows() {
        std::vector<uint16_t> ids;
        ScheduleEventRef ref;
        for (int32_t row = 0; GuideRow(g(), row, ref); ++row) ids.push_back(ref.eventId);
        return ids;
    }
};

// What comes between two copies of the same present section: each time the
// guide must show it, or have it waiting, after the second.
TEST(GuidePresentFollowing, TheGoodRepeatReachesTheGuide) {
    enum class Between { kDamagedCopy, kZapAwayAndBack, kReopen };
    const struct {
        const char* name;
        Between between;
    } cases[] = {
        {"a damaged copy first: its key is the good one's", Between::kDamagedCopy},
        {"handed over, then the service changed away and back before the window took it", Between::kZapAwayAndBack},
        {"the guide window closed and opened again", Between::kReopen},
    };
    const Bytes present = Present(0x1234);
    for (const auto& c : cases) {
        OpenGuide h;
        for (int32_t i = 1; i < kLowerEitQuietSections; ++i) h.Low(present);
        switch (c.between) {
            case Between::kDamagedCopy: {
                Bytes damaged = present;
                damaged[damaged.size() - 8] ^= 0x20;
                h.Low(damaged);
                EXPECT_TRUE(h.Rows().empty()) << c.name;
                break;
            }
            case Between::kZapAwayAndBack:
                h.Low(present, false);
                h.Zap(0x0400);
                h.Zap(kOneSeg);
                for (int32_t i = 1; i < kLowerEitQuietSections; ++i) h.Low(present);
                break;
            case Between::kReopen:
                h.Low(present);
                ASSERT_EQ(h.Rows(), std::vector<uint16_t>({0x1234})) << c.name;
                GuideClosed(h.t.s());
                h.Open();
                h.Low(present, false);
                EXPECT_GT(h.g().pfLengths[0], 0) << c.name << ": the repeat after the reopening not handed over";
                continue;
        }
        h.Low(present);
        EXPECT_EQ(h.Rows(), std::vector<uint16_t>({0x1234})) << c.name;
    }
}

// Present/following is numbered 0 and 1 only: a section numbered 2 (of the
// watched service or another) is never copied for the guide, so its
// repeats, which nothing could file, cost no copy each time.
TEST(GuidePresentFollowing, ASectionNumberedTwoIsNeverCopied) {
    Guide h;
    build::EitEvent e = build::Event(kMjd, 21, 0, 0, 1, 0, 0);
    for (uint8_t table : {uint8_t{0x4E}, uint8_t{0x4F}}) {
        for (uint16_t service : {uint16_t{0x0400}, uint16_t{0x0401}}) {
            const Bytes third = build::EitPfSection(service, 2, {e}, 1, build::kDefaultTransportStreamId,
                                                    build::kDefaultNetworkId, table);
            const uint32_t before = h.g().pathWork.copies;
            for (int repeat = 0; repeat < 3; ++repeat) h.Feed(0x0012, {third});
            EXPECT_EQ(h.g().pathWork.copies, before) << "table " << int{table} << " service " << service;
        }
    }
}

}  // namespace
