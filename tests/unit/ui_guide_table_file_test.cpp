// The programme table kept across restarts: what a viewer received is in
// the next viewer's guide, read from the cache file beside Kestrin.ini a
// step at a time after the window is created; a damaged file is left
// unused, said so on the status line and replaced by the next save; a save
// never runs while a load is under way; the periodic save comes only when
// the table changed and its time is due.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "plugin/guide_cache.h"
#include "plugin/guide_keeper.h"
#include "plugin/guide_store.h"
#include "plugin/messages.h"
#include "plugin/plugin_state.h"
#include "tests/support/test_plugin.h"
#include "tests/unit/text_test_helpers.h"
#include "tools/streamkit/stream_builder.h"
#include "ui/channel_buttons.h"
#include "ui/guide_view.h"
#include "ui/resource.h"
#include "ui/viewer.h"

namespace {

using build::Bytes;

const uint16_t kMjd = 0xEFC6;  // 2026-12-08; the fake's local clock is 22:15 that day
const char* const kCache = "C:\\Host\\Kestrin.epg";

// A schedule section of one 20-minute programme at `hour`:00 of kMjd.
Bytes Schedule(uint16_t service, uint16_t eventId, int hour, uint16_t ts = build::kDefaultTransportStreamId,
               uint8_t table = 0x50, uint8_t number = 0) {
    build::EitHeader h = build::ScheduleHeader(service, number, 1, table);
    h.transportStreamId = ts;
    h.lastTableId = table;
    build::EitEvent e = build::Event(kMjd, hour, 0, 0, 0, 20, 0,
                                     build::ShortEventDescriptor(EncodeAribFromUtf8("番組"), Bytes{0x42}));
    e.eventId = eventId;
    return build::EitSection(h, {e});
}

// A viewer whose host starts with `files` on its disk.
struct Viewer {
    explicit Viewer(const std::map<std::string, std::vector<uint8_t>>& files = {}) {
        t.platform.files = files;
        LoadSettingsBeforeWindow(t.s());
        PluginOnChannelChange(t.s(), 27, 0x0400);
        ViewerInitialised(t.s());
    }
    void Feed(const std::vector<Bytes>& sections) {
        const Bytes packets = sb.Stream(0x0012, sections);
        ViewerStreamData(t.s(), packets.data(), static_cast<uint32_t>(packets.size()));
        t.platform.Pump(t.s());
    }
    // Every service's event ids, in the store's order of services.
    std::map<uint32_t, std::vector<uint16_t>> Table() {
        SyncGuide(t.s());
        std::map<uint32_t, std::vector<uint16_t>> table;
        GuideServiceInfo info;
        for (int32_t i = 0; i < GuideServiceCount(t.s().guide); ++i) {
            if (!GuideServiceAt(t.s().guide, i, info)) continue;
            std::vector<uint16_t>& ids = table[static_cast<uint32_t>(info.key.transportStreamId) << 16 | info.key.serviceId];
            ScheduleEventRef ref;
            for (int32_t row = 0; GuideServiceRow(t.s().guide, i, row, ref); ++row) ids.push_back(ref.eventId);
        }
        return table;
    }
    std::string Status() { return t.platform.GuideView()->status; }

    TestPlugin t;
    build::StreamBuilder sb;
};

// Two services of the multiplex and one of another transport stream, the
// viewer closed: the next viewer's guide holds the same programmes once
// the steps of the load ran, and its packet path copies none of those
// sections again.
TEST(GuideTableFile, TheNextViewerFindsTheTableItLeft) {
    Viewer first;
    first.Feed({Schedule(0x0400, 0x10, 22), Schedule(0x0400, 0x11, 23, build::kDefaultTransportStreamId, 0x50, 8),
                Schedule(0x0401, 0x20, 23), Schedule(0x0101, 0x30, 23, 0x4010, 0x60)});
    const auto table = first.Table();
    ASSERT_EQ(table.size(), 3u);
    ViewerCommand(first.t.s(), IDC_CLOSE);
    ASSERT_EQ(first.t.platform.files.count(kCache), 1u);
    EXPECT_EQ(first.t.platform.files.count(std::string(kCache) + ".tmp"), 0u);

    Viewer second(first.t.platform.files);
    EXPECT_TRUE(second.Table().empty());  // nothing before its message is handled
    second.t.platform.Pump(second.t.s());
    EXPECT_EQ(second.Table(), table);
    EXPECT_EQ(second.Status(), "");
    const size_t posted = second.t.platform.windowPosted.size();
    second.Feed({Schedule(0x0401, 0x20, 23)});
    EXPECT_EQ(second.t.platform.windowPosted.size(), posted);  // held: not copied again
}

// The programme that ended before the next start (the computer's clock,
// with no TOT yet) is not read back; the ones to come are.
TEST(GuideTableFile, EndedProgrammesAreNotReadBack) {
    Viewer first;
    first.Feed({Schedule(0x0401, 0x20, 23), Schedule(0x0402, 0x21, 10)});
    ViewerCommand(first.t.s(), IDC_CLOSE);

    Viewer second(first.t.platform.files);
    second.t.platform.Pump(second.t.s());
    const auto table = second.Table();
    uint32_t key402 = static_cast<uint32_t>(build::kDefaultTransportStreamId) << 16 | 0x0402;
    uint32_t key401 = static_cast<uint32_t>(build::kDefaultTransportStreamId) << 16 | 0x0401;
    EXPECT_EQ(table.count(key402) ? table.at(key402).size() : 0u, 0u);
    ASSERT_EQ(table.count(key401), 1u);
    EXPECT_EQ(table.at(key401), std::vector<uint16_t>{0x20});
}

// Damaged files: nothing of them reaches the guide, the status line says
// why, and the viewer's first save replaces the file with a sound one.
TEST(GuideTableFile, ADamagedFileIsLeftUnusedSaidAndReplaced) {
    Viewer first;
    first.Feed({Schedule(0x0401, 0x20, 23)});
    ViewerCommand(first.t.s(), IDC_CLOSE);
    const std::vector<uint8_t> good = first.t.platform.files.at(kCache);

    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        GuideCacheStatus status;
    };
    std::vector<uint8_t> flipped = good;
    flipped[flipped.size() / 2] ^= 0x10;
    std::vector<uint8_t> cut(good.begin(), good.begin() + static_cast<long>(good.size() - 5));
    std::vector<uint8_t> notOurs(good.size(), 0x47);
    const Case cases[] = {
        {"a byte changed", flipped, GuideCacheStatus::kCorrupt},
        {"cut short", cut, GuideCacheStatus::kTruncated},
        {"empty", {}, GuideCacheStatus::kEmpty},
        {"not ours", notOurs, GuideCacheStatus::kNotOurs},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Viewer second({{kCache, c.bytes}});
        second.t.platform.Pump(second.t.s());
        EXPECT_TRUE(second.Table().empty());
        EXPECT_EQ(second.Status(), GuideCacheStatusText(c.status));
        EXPECT_NE(second.Status(), "");
        EXPECT_EQ(second.t.platform.files.at(kCache), c.bytes);  // untouched until a save
        second.Feed({Schedule(0x0402, 0x21, 23)});
        ViewerCommand(second.t.s(), IDC_CLOSE);
        Viewer third(second.t.platform.files);
        third.t.platform.Pump(third.t.s());
        EXPECT_EQ(third.Table().size(), 1u);
        EXPECT_EQ(third.Status(), "");
    }
}

// A load under way: the viewer closing then does not write the file (it
// would lose what was not read yet); nor does a periodic save.
TEST(GuideTableFile, NoSaveWhileTheLoadIsUnderWay) {
    Viewer first;
    first.Feed({Schedule(0x0401, 0x20, 23)});
    ViewerCommand(first.t.s(), IDC_CLOSE);
    const std::vector<uint8_t> saved = first.t.platform.files.at(kCache);

    Viewer second(first.t.platform.files);
    ASSERT_TRUE(second.t.s().keeper.loading);
    // Sections arrive and are filed before the load's message comes.
    const Bytes packets = second.sb.Stream(0x0012, {Schedule(0x0402, 0x21, 23)});
    ViewerStreamData(second.t.s(), packets.data(), static_cast<uint32_t>(packets.size()));
    HandleGuideSections(second.t.s());
    second.t.platform.localTime.hour = 23;  // an hour on: a periodic save would be due
    HandleGuideSections(second.t.s());
    EXPECT_EQ(SaveGuideTable(second.t.s()), GuideCacheStatus::kSaved);
    EXPECT_EQ(second.t.platform.files.at(kCache), saved);
    second.t.platform.Pump(second.t.s());
    EXPECT_FALSE(second.t.s().keeper.loading);
    EXPECT_EQ(second.Table().size(), 2u);
}

// The periodic save: only when the table changed since the last one, and
// five minutes after it; a clock set back waits again instead of stopping.
TEST(GuideTableFile, ThePeriodicSaveComesWhenTheTableChangedAndItIsDue) {
    Viewer v;
    v.t.platform.Pump(v.t.s());  // no file: nothing to load
    EXPECT_FALSE(GuideTableSaveDue(v.t.s()));
    v.Feed({Schedule(0x0401, 0x20, 23)});
    EXPECT_EQ(v.t.platform.files.count(kCache), 0u);  // changed, not due yet
    v.t.platform.localTime.minute = 19;
    v.Feed({Schedule(0x0402, 0x21, 23)});
    EXPECT_EQ(v.t.platform.files.count(kCache), 0u);
    v.t.platform.localTime.minute = 20;  // five minutes after the load's end
    v.Feed({Schedule(0x0403, 0x22, 23)});
    ASSERT_EQ(v.t.platform.files.count(kCache), 1u);
    const std::vector<uint8_t> saved = v.t.platform.files.at(kCache);
    v.t.platform.localTime.minute = 40;
    v.Feed({Schedule(0x0403, 0x22, 23)});  // a repeat: nothing changed
    EXPECT_FALSE(GuideTableSaveDue(v.t.s()));
    EXPECT_EQ(v.t.platform.files.at(kCache), saved);

    v.t.platform.localTime.hour = 21;  // set back
    v.Feed({Schedule(0x0404, 0x23, 23)});
    EXPECT_EQ(v.t.platform.files.at(kCache), saved);
    v.t.platform.localTime.minute = 45;
    v.Feed({Schedule(0x0405, 0x24, 23)});
    EXPECT_NE(v.t.platform.files.at(kCache), saved);
}

// A save that fails (a full disk) leaves the old file whole and says so;
// the next due turn tries again.
TEST(GuideTableFile, AFailedSaveIsSaidAndTheOldFileStays) {
    Viewer first;
    first.Feed({Schedule(0x0401, 0x20, 23)});
    ViewerCommand(first.t.s(), IDC_CLOSE);
    const std::vector<uint8_t> saved = first.t.platform.files.at(kCache);

    Viewer second(first.t.platform.files);
    second.t.platform.Pump(second.t.s());
    second.Feed({Schedule(0x0402, 0x21, 23)});
    second.t.platform.diskFreeBytes = 10;
    ViewerCommand(second.t.s(), IDC_CLOSE);
    EXPECT_EQ(second.t.platform.files.at(kCache), saved);
    EXPECT_EQ(second.Status(), GuideCacheStatusText(GuideCacheStatus::kWriteFailed));
    EXPECT_NE(second.Status(), "");
    second.t.platform.diskFreeBytes = -1;
    EXPECT_EQ(SaveGuideTable(second.t.s()), GuideCacheStatus::kSaved);
    EXPECT_NE(second.t.platform.files.at(kCache), saved);
}

}  // namespace
