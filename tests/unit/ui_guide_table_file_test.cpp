// The programme table kept across restarts: what a viewer received is in
// the next viewer's guide, read from the cache file beside Kestrin.ini a
// step at a time after the window is created; a damaged file is left
// unused, said so on the status line and replaced by the next save; a save
// never runs while a load is under way; the periodic save comes only when
// the table changed and its time is due.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "plugin/guide_cache.h"
#include "plugin/guide_keeper.h"
#include "plugin/guide_store.h"
#include "plugin/messages.h"
#include "plugin/plugin_core.h"
#include "plugin/plugin_lifetime.h"
#include "plugin/plugin_state.h"
#include "tests/support/test_plugin.h"
#include "tests/unit/text_test_helpers.h"
#include "tools/streamkit/stream_builder.h"
#include "ts/calendar.h"
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

// A viewer whose host starts with `files` on its disk; `before` sets up
// its platform before the settings are read and the window is created.
struct Viewer {
    explicit Viewer(const std::map<std::string, std::vector<uint8_t>>& files = {},
                    const std::function<void(FakePlatform&)>& before = nullptr) {
        t.platform.files = files;
        if (before) before(t.platform);
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
// with no TOT yet) is not read back; the ones to come are. The computer's
// clock is its local time (22:15): one taken hours off (as universal time,
// or shifted by a zone) would read back the 21:00-21:20 programme, or leave
// out the ones on air and to come.
TEST(GuideTableFile, EndedProgrammesAreNotReadBack) {
    Viewer first;
    first.Feed({Schedule(0x0401, 0x20, 23), Schedule(0x0402, 0x21, 10), Schedule(0x0403, 0x22, 21),
                Schedule(0x0404, 0x23, 22)});
    ViewerCommand(first.t.s(), IDC_CLOSE);

    Viewer second(first.t.platform.files);
    second.t.platform.Pump(second.t.s());
    const auto table = second.Table();
    uint32_t key402 = static_cast<uint32_t>(build::kDefaultTransportStreamId) << 16 | 0x0402;
    uint32_t key401 = static_cast<uint32_t>(build::kDefaultTransportStreamId) << 16 | 0x0401;
    EXPECT_EQ(table.count(key402) ? table.at(key402).size() : 0u, 0u);
    ASSERT_EQ(table.count(key401), 1u);
    EXPECT_EQ(table.at(key401), std::vector<uint16_t>{0x20});

    const struct {
        const char* what;
        uint16_t service;
        std::vector<uint16_t> ids;
    } cases[] = {
        {"10:00-10:20, ended long ago", 0x0402, {}},
        {"21:00-21:20, ended before 22:15", 0x0403, {}},
        {"22:00-22:20, on air at 22:15", 0x0404, {0x23}},
        {"23:00-23:20, to come", 0x0401, {0x20}},
    };
    for (const auto& c : cases) {
        const uint32_t key = static_cast<uint32_t>(build::kDefaultTransportStreamId) << 16 | c.service;
        EXPECT_EQ(table.count(key) ? table.at(key) : std::vector<uint16_t>{}, c.ids) << c.what;
    }
}

// Twenty services of one other transport stream, named by its SDT: more
// than the places a stream's services seen only in EIT may hold. Their
// names in the file make them as known in the next viewer as the SDT made
// them in this one, so all come back.
TEST(GuideTableFile, NamedServicesOfOneStreamAllComeBack) {
    const uint16_t kTs = 0x4010;
    const uint16_t kNet = 0x0004;
    const int kServices = 20;
    ASSERT_GT(kServices, kGuideUnnamedPerStream);
    Viewer first;
    std::vector<build::SdtService> named;
    std::vector<Bytes> schedules;
    for (int i = 0; i < kServices; ++i) {
        const uint16_t service = static_cast<uint16_t>(0x0100 + i);
        named.push_back(build::NamedService(service, EncodeAribFromUtf8("衛星")));
        schedules.push_back(Schedule(service, static_cast<uint16_t>(0x40 + i), 23, kTs, 0x60));
        schedules.back()[10] = static_cast<uint8_t>(kNet >> 8);
        schedules.back()[11] = static_cast<uint8_t>(kNet);
        build::Reseal(schedules.back());
    }
    Bytes sdt = build::SdtSection(kTs, kNet, named);
    sdt[0] = 0x46;  // SDT other
    build::Reseal(sdt);
    const Bytes packets = first.sb.Stream(0x0011, {sdt});
    ViewerStreamData(first.t.s(), packets.data(), static_cast<uint32_t>(packets.size()));
    // The first schedule section's turn files the SDT before the others
    // come (they would otherwise take their places before it, seen only in
    // EIT, until the carousel came round).
    first.Feed({schedules.front()});
    first.Feed(std::vector<Bytes>(schedules.begin() + 1, schedules.end()));
    ASSERT_EQ(first.Table().size(), static_cast<size_t>(kServices));
    ViewerCommand(first.t.s(), IDC_CLOSE);

    Viewer second(first.t.platform.files);
    second.t.platform.Pump(second.t.s());
    EXPECT_EQ(second.Table().size(), static_cast<size_t>(kServices));
}

// A present programme of undetermined duration (a live one that may run
// over) is timed as the guide times it: until the next programme, at most
// three hours. At 22:15 one that began at 18:00 has ended and is not read
// back; one that began at 20:30 may still be on air.
TEST(GuideTableFile, AnOpenEndedPresentProgrammeIsReadBackOnlyWhileItMayRun) {
    const auto openEnded = [](uint16_t service, uint16_t eventId, int hour, int minute) {
        build::EitEvent e = build::Event(kMjd, hour, minute, 0, 0, 0, 0,
                                         build::ShortEventDescriptor(EncodeAribFromUtf8("中継"), Bytes{0x42}));
        e.eventId = eventId;
        e.duration[0] = e.duration[1] = e.duration[2] = 0xFF;
        return build::EitPfSection(service, 0, {e});
    };
    Viewer first;
    // The watched service's present too, whose message to the viewer takes
    // the others' along (the guide window is closed).
    first.Feed({openEnded(0x0405, 0x30, 18, 0), openEnded(0x0406, 0x31, 20, 30), openEnded(0x0400, 0x32, 22, 0)});
    ViewerCommand(first.t.s(), IDC_CLOSE);

    Viewer second(first.t.platform.files);
    second.t.platform.Pump(second.t.s());
    const auto table = second.Table();
    const auto ids = [&table](uint16_t service) {
        const uint32_t key = static_cast<uint32_t>(build::kDefaultTransportStreamId) << 16 | service;
        return table.count(key) ? table.at(key) : std::vector<uint16_t>{};
    };
    EXPECT_EQ(ids(0x0405), std::vector<uint16_t>{}) << "18:00, open-ended: ended at 21:00";
    EXPECT_EQ(ids(0x0406), std::vector<uint16_t>{0x31}) << "20:30, open-ended: may run until 23:30";
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

// --- The file kept while it cannot be read -----------------------------------

// The saved table of two services, then one of its later viewers: the
// file could not be opened, or a read failed, so it was not read whole.
// No save replaces it (the status line says why); once it can be read, the
// next due save reads it first and the one after keeps both tables.
TEST(GuideTableFile, AFileThatWasNotReadIsNeverSavedOver) {
    Viewer first;
    first.Feed({Schedule(0x0401, 0x20, 23), Schedule(0x0402, 0x21, 23)});
    ViewerCommand(first.t.s(), IDC_CLOSE);
    const std::vector<uint8_t> saved = first.t.platform.files.at(kCache);

    struct Case {
        const char* what;
        std::function<void(FakePlatform&)> fault;
        std::function<void(FakePlatform&)> mend;
    };
    const Case cases[] = {
        {"held open by another program", [](FakePlatform& p) { p.failOpen.insert(kCache); },
         [](FakePlatform& p) { p.failOpen.clear(); }},
        {"a read fails", [](FakePlatform& p) { p.failReads = true; }, [](FakePlatform& p) { p.failReads = false; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Viewer second(first.t.platform.files, c.fault);
        second.t.platform.Pump(second.t.s());
        EXPECT_EQ(second.Status(), GuideCacheStatusText(GuideCacheStatus::kUnreadable));
        EXPECT_TRUE(second.t.platform.openFiles.empty());
        second.Feed({Schedule(0x0403, 0x22, 23)});

        // The save of a closing viewer, and a periodic one while the file
        // still cannot be read.
        SaveGuideTableNow(second.t.s());
        EXPECT_EQ(second.t.platform.files.at(kCache), saved);
        EXPECT_EQ(second.Status(), GuideCacheStatusText(GuideCacheStatus::kKeptUnread));
        EXPECT_NE(second.Status(), "");
        second.t.platform.localTime.minute = 25;
        second.Feed({Schedule(0x0404, 0x23, 23)});
        EXPECT_EQ(second.t.platform.files.at(kCache), saved);
        EXPECT_NE(second.Status(), "");

        // Readable again: the next due turn reads it, the one after saves.
        c.mend(second.t.platform);
        second.t.platform.localTime.minute = 30;
        second.Feed({Schedule(0x0405, 0x24, 23)});
        EXPECT_EQ(second.t.platform.files.at(kCache), saved);
        EXPECT_EQ(second.Status(), "");
        EXPECT_EQ(second.Table().size(), 5u);
        second.t.platform.localTime.minute = 35;
        second.Feed({Schedule(0x0406, 0x25, 23)});
        EXPECT_NE(second.t.platform.files.at(kCache), saved);
        EXPECT_EQ(second.Status(), "");

        Viewer third(second.t.platform.files);
        third.t.platform.Pump(third.t.s());
        EXPECT_EQ(third.Table(), second.Table());
        EXPECT_EQ(third.Table().size(), 6u);
    }
}

// --- The viewer or the plug-in goes while the file is read ------------------

// A state on a platform shared with the next one, as a host process keeps
// one disk for the plug-in objects it creates one after another.
PluginState* NewViewerState(FakePlatform& platform) {
    PluginState* state = new PluginState;
    InitPluginState(*state, &platform);
    state->hasWindow = true;
    LoadSettingsBeforeWindow(*state);
    PluginOnChannelChange(*state, 27, 0x0400);
    ViewerInitialised(*state);
    return state;
}

// What the shell does with the state once the last one lets it go.
void FreeState(void* owner) {
    PluginState* state = static_cast<PluginState*>(owner);
    StopGuideTableLoad(*state);
    delete state;
}

// The load is under way (the file read a few bytes at a time) when the
// viewer window is destroyed, or the plug-in deleted on the window's thread
// or on another one while the window's thread is inside a step of the
// load. Afterwards no file is left open, and the next plug-in object of the
// same process reads the table and saves over the file.
TEST(GuideTableFile, ALoadUnderWayIsGivenUpWhenTheViewerOrThePlugInGoes) {
    Viewer first;
    first.Feed({Schedule(0x0401, 0x20, 23), Schedule(0x0402, 0x21, 23), Schedule(0x0403, 0x22, 23)});
    ViewerCommand(first.t.s(), IDC_CLOSE);
    const std::vector<uint8_t> saved = first.t.platform.files.at(kCache);

    enum class Going { kWindowDestroyed, kDeletedOnTheWindowsThread, kDeletedDuringAStep };
    const struct {
        const char* what;
        Going going;
    } cases[] = {
        {"the viewer window destroyed, then the plug-in deleted", Going::kWindowDestroyed},
        {"the plug-in deleted on the window's thread", Going::kDeletedOnTheWindowsThread},
        {"the plug-in deleted on another thread during a step", Going::kDeletedDuringAStep},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        FakePlatform platform;
        platform.files = first.t.platform.files;
        platform.readChunk = 16;
        PluginState* state = NewViewerState(platform);
        const PluginHandle handle = ListPlugin(*state, FreeState, state);
        uint32_t message = 0;
        ASSERT_TRUE(platform.PopMessage(message));
        ASSERT_EQ(message, static_cast<uint32_t>(WM_GUIDE_CACHE));
        ViewerPrivateMessage(*state, message);
        ASSERT_TRUE(state->keeper.loading);
        ASSERT_EQ(platform.openFiles.size(), 1u);

        switch (c.going) {
        case Going::kWindowDestroyed:
            StopGuideTableLoad(*state);  // the viewer's WM_NCDESTROY
            EXPECT_TRUE(platform.openFiles.empty());
            SaveGuideTable(*state);  // the object's end on the window's thread
            EXPECT_FALSE(ReleasePlugin(*state));
            break;
        case Going::kDeletedOnTheWindowsThread:
            EXPECT_FALSE(ReleasePlugin(*state));
            break;
        case Going::kDeletedDuringAStep: {
            std::promise<void> holding;
            std::promise<void> released;
            std::future<void> releasedSeen = released.get_future();
            std::thread window([handle, &holding, &releasedSeen] {
                PluginHold hold(handle);
                if (hold.State() == nullptr) return;
                holding.set_value();
                releasedSeen.wait();
                HandleGuideCacheStep(*hold.State());
            });
            holding.get_future().wait();
            bool handlerHeld = false;
            std::thread owner([state, &handlerHeld] { handlerHeld = ReleasePlugin(*state); });
            owner.join();
            released.set_value();
            window.join();
            EXPECT_TRUE(handlerHeld);
            break;
        }
        }
        EXPECT_TRUE(platform.openFiles.empty());
        EXPECT_EQ(platform.files.at(kCache), saved);

        // The host's next plug-in object: the whole table, then a save.
        platform.windowQueue.clear();
        platform.readChunk = 0;
        std::unique_ptr<PluginState> next(NewViewerState(platform));
        platform.Pump(*next);
        SyncGuide(*next);
        EXPECT_EQ(GuideServiceCount(next->guide), 3);
        const Bytes packets = build::StreamBuilder().Stream(0x0012, {Schedule(0x0404, 0x23, 23)});
        ViewerStreamData(*next, packets.data(), static_cast<uint32_t>(packets.size()));
        platform.Pump(*next);
        ViewerCommand(*next, IDC_CLOSE);
        EXPECT_EQ(std::string(platform.guideView->status), "");
        EXPECT_NE(platform.files.at(kCache), saved);
        EXPECT_TRUE(platform.openFiles.empty());
    }
}

// --- What the stream gave wins over the file ---------------------------------

// A cache file made directly: the services' records and their sections.
struct FileService {
    GuideCacheService info;
    std::vector<Bytes> sections;
};

class FileSource : public GuideCacheSource {
public:
    explicit FileSource(const std::vector<FileService>& services) : services_(services) {}
    int32_t ServiceCount() override { return static_cast<int32_t>(services_.size()); }
    void ServiceAt(int32_t i, GuideCacheService* out) override { *out = services_[i].info; }
    int32_t SectionCount(int32_t i) override { return static_cast<int32_t>(services_[i].sections.size()); }
    const uint8_t* SectionAt(int32_t i, int32_t j, int32_t* length) override {
        *length = static_cast<int32_t>(services_[i].sections[j].size());
        return services_[i].sections[j].data();
    }

private:
    const std::vector<FileService>& services_;
};

std::map<std::string, std::vector<uint8_t>> CacheFileOf(const std::vector<FileService>& services) {
    FakePlatform platform;
    GuideCachePaths paths;
    MakeGuideCachePaths(platform, "C:\\Host\\Kestrin.ini", &paths);
    FileSource source(services);
    std::unique_ptr<GuideCacheBuffer> buffer(new GuideCacheBuffer);
    EXPECT_EQ(SaveGuideCache(platform, paths, source, *buffer).status, GuideCacheStatus::kSaved);
    return {{kCache, platform.files.at(kCache)}};
}

GuideCacheService FileInfo(uint16_t service, int64_t lastWatched, int32_t channel = 0) {
    GuideCacheService info;
    std::memset(&info, 0, sizeof info);
    info.networkId = build::kDefaultNetworkId;
    info.transportStreamId = build::kDefaultTransportStreamId;
    info.serviceId = service;
    info.channel = channel;
    info.lastWatched = lastWatched;
    return info;
}

// Japan seconds on the tests' day.
int64_t At(int hour, int minute) { return JapanSecondsOf(kMjd, hour * 3600 + minute * 60); }

// One 20-minute programme at `hour`:00 in a section of the given version.
Bytes Versioned(uint16_t service, uint16_t eventId, int hour, uint8_t version, uint8_t table) {
    const build::EitEvent e = [&] {
        build::EitEvent event = build::Event(kMjd, hour, 0, 0, 0, 20, 0);
        event.eventId = eventId;
        return event;
    }();
    if (table == 0x4E) return build::EitPfSection(service, 0, {e}, version);
    build::EitHeader h = build::ScheduleHeader(service, 0, version, table);
    return build::EitSection(h, {e});
}

// Sections received live before the file's records come in: the file's
// older copy of the same table and number is not filed over them, whatever
// its version, and the version the packet path skips stays the live one.
TEST(GuideTableFile, SectionsReceivedLiveAreNotReplacedByTheFile) {
    const struct {
        const char* what;
        uint8_t table;
    } cases[] = {{"schedule", 0x50}, {"present/following", 0x4E}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto file = CacheFileOf({{FileInfo(0x0401, At(20, 0)), {Versioned(0x0401, 0x20, 23, 7, c.table)}}});
        Viewer v(file);
        ASSERT_TRUE(v.t.s().keeper.loading);
        const Bytes packets = v.sb.Stream(0x0012, {Versioned(0x0401, 0x25, 23, 3, c.table)});
        ViewerStreamData(v.t.s(), packets.data(), static_cast<uint32_t>(packets.size()));
        HandleGuideSections(v.t.s());
        v.t.platform.Pump(v.t.s());
        EXPECT_FALSE(v.t.s().keeper.loading);
        const auto table = v.Table();
        const uint32_t key = static_cast<uint32_t>(build::kDefaultTransportStreamId) << 16 | 0x0401;
        ASSERT_EQ(table.count(key), 1u);
        EXPECT_EQ(table.at(key), std::vector<uint16_t>{0x25});
        if (c.table == 0x50) {
            std::lock_guard<std::mutex> guard(v.t.s().lock);
            const int32_t entry = FindGuideService(v.t.s().guide, {build::kDefaultNetworkId,
                                                                   build::kDefaultTransportStreamId, 0x0401});
            EXPECT_EQ(GuideHeldVersion(v.t.s().guide, entry, 0x50, 0), 3);
        }
    }
}

// The watched service received live on channel 27 before the file, which
// says channel 13 and a later watch: the live channel and stamp stay.
TEST(GuideTableFile, TheLiveChannelAndWatchStampStay) {
    const auto file = CacheFileOf({{FileInfo(0x0400, At(21, 0), 13), {Schedule(0x0400, 0x10, 23)}}});
    Viewer v(file);
    const Bytes packets = v.sb.Stream(0x0012, {Schedule(0x0400, 0x11, 22)});
    ViewerStreamData(v.t.s(), packets.data(), static_cast<uint32_t>(packets.size()));
    HandleGuideSections(v.t.s());
    SyncGuide(v.t.s());
    GuideServiceInfo live;
    ASSERT_TRUE(GuideServiceAt(v.t.s().guide, GuideWatchedService(v.t.s().guide), live));
    ASSERT_EQ(live.channel, 27);
    ASSERT_GE(live.lastWatched, 0);
    v.t.platform.Pump(v.t.s());
    SyncGuide(v.t.s());
    GuideServiceInfo after;
    ASSERT_TRUE(GuideServiceAt(v.t.s().guide, GuideWatchedService(v.t.s().guide), after));
    EXPECT_EQ(after.channel, 27);
    EXPECT_EQ(after.lastWatched, live.lastWatched);
    EXPECT_EQ(v.Table().size(), 1u);
}

// --- What the file gives back ---------------------------------------------------

// A service name of 63 bytes, the longest kept (Shift_JIS whose second
// bytes include 0x5C, the backslash), comes back byte for byte.
TEST(GuideTableFile, TheLongestServiceNameRoundTrips) {
    std::string name;
    for (int i = 0; i < 30; ++i) name += i % 2 == 0 ? "\x95\x5C" : "\x83\x5C";  // 表 ソ
    name += "ABC";
    ASSERT_EQ(name.size(), 63u);
    Viewer first;
    first.Feed({Schedule(0x0401, 0x20, 23)});
    GuideServiceInfo info;
    std::memset(&info, 0, sizeof info);
    info.key = {build::kDefaultNetworkId, build::kDefaultTransportStreamId, 0x0401};
    info.channel = -1;
    info.lastWatched = -1;
    std::memcpy(info.name, name.data(), name.size());
    ASSERT_GE(RestoreGuideService(first.t.s(), info), 0);
    ViewerCommand(first.t.s(), IDC_CLOSE);

    Viewer second(first.t.platform.files);
    second.t.platform.Pump(second.t.s());
    SyncGuide(second.t.s());
    ASSERT_EQ(GuideServiceCount(second.t.s().guide), 1);
    GuideServiceInfo back;
    ASSERT_TRUE(GuideServiceAt(second.t.s().guide, 0, back));
    EXPECT_EQ(std::string(back.name), name);
}

// A store smaller than the file's ([GUIDE] MemoryMB 4: six services) takes
// the services it would keep itself: those with a programme to come, the
// latest watched first, never-watched ones last; not the first in the file.
TEST(GuideTableFile, ASmallerBudgetKeepsTheServicesTheStoreWouldKeep) {
    const struct {
        uint16_t service;
        int64_t lastWatched;  // 0 never
        int hour;             // of its programme: 10 has ended
    } services[] = {
        {0x0501, 0, 23},          {0x0502, At(20, 0), 23}, {0x0503, At(12, 0), 23}, {0x0504, 0, 23},
        {0x0505, At(22, 10), 23}, {0x0506, At(14, 0), 23}, {0x0507, At(21, 0), 23}, {0x0508, 0, 23},
        {0x0509, At(20, 30), 23}, {0x050A, At(13, 0), 23}, {0x050B, At(22, 14), 10},
    };
    std::vector<FileService> table;
    for (const auto& s : services) {
        table.push_back({FileInfo(s.service, s.lastWatched), {Schedule(s.service, s.service, s.hour)}});
    }
    Viewer v(CacheFileOf(table), [](FakePlatform& p) { p.settings["GUIDE/MemoryMB"] = "4"; });
    ASSERT_EQ(v.t.s().guide.serviceCapacity, 6);
    v.t.platform.Pump(v.t.s());
    std::vector<uint16_t> kept;
    SyncGuide(v.t.s());
    GuideServiceInfo info;
    for (int32_t i = 0; i < GuideServiceCount(v.t.s().guide); ++i) {
        if (GuideServiceAt(v.t.s().guide, i, info)) kept.push_back(info.key.serviceId);
    }
    EXPECT_EQ(kept, (std::vector<uint16_t>{0x0502, 0x0505, 0x0506, 0x0507, 0x0509, 0x050A}));
}

}  // namespace
