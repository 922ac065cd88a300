// The programme guide: schedule sections from the packet path through the
// store to the guide window's rows, details and recording request.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "plugin/guide_store.h"
#include "plugin/messages.h"
#include "plugin/plugin_state.h"
#include "tests/support/test_plugin.h"
#include "tests/unit/text_test_helpers.h"
#include "text/eit_schedule.h"
#include "tools/streamkit/stream_builder.h"
#include "ui/channel_buttons.h"
#include "ui/guide_view.h"
#include "ui/resource.h"
#include "ui/viewer.h"
#include "ui/viewer_menu.h"

namespace {

using build::Bytes;
using build::Cat;

const uint16_t kService = 0x0400;
const uint16_t kMjd = 0xEFC6;  // 2026-12-08, a Tuesday
const int64_t kDay = (0xEFC6 - 40587) * 86400LL;  // its midnight in Japan seconds since 1970

Bytes A(const char* utf8) {
    bool complete = true;
    Bytes b = EncodeAribFromUtf8(utf8, &complete);
    EXPECT_TRUE(complete) << utf8;
    return b;
}

// ESC $ ; (additional symbols into G0), LS0, then the boxed 字.
const Bytes kBoxedJi = {0x1B, 0x24, 0x3B, 0x0F, 0x7A, 0x56};

struct Programme {
    uint16_t eventId;
    int hour, minute;
    int durationMinutes;  // -1 undetermined
    Bytes title;
    uint8_t genre;
};

build::EitEvent Entry(const Programme& p) {
    const Bytes descriptors = Cat({build::ShortEventDescriptor(p.title, A("あらすじ")),
                                   build::Descriptor(0x54, {p.genre, 0xFF})});
    build::EitEvent e = build::Event(kMjd, p.hour, p.minute, 0, p.durationMinutes / 60, p.durationMinutes % 60, 0,
                                     descriptors);
    if (p.durationMinutes < 0) e.duration[0] = e.duration[1] = e.duration[2] = 0xFF;
    e.eventId = p.eventId;
    return e;
}

Bytes Schedule(uint16_t service, uint8_t sectionNumber, uint8_t version, const std::vector<Programme>& programmes,
               uint8_t tableId = 0x50) {
    build::EitHeader h = build::ScheduleHeader(service, sectionNumber, version, tableId);
    h.lastTableId = 0x50;
    std::vector<build::EitEvent> events;
    for (const Programme& p : programmes) events.push_back(Entry(p));
    return build::EitSection(h, events);
}

// How the guide is shown: its window rectangle's and its restored
// rectangle's left/top (the size plays no part).
WindowPlacement Shown(WindowShow show, int32_t left, int32_t top, int32_t normalLeft, int32_t normalTop) {
    return WindowPlacement{show, ScreenRect{left, top, left + 600, top + 400},
                           ScreenRect{normalLeft, normalTop, normalLeft + 600, normalTop + 400}};
}

class GuideView : public ::testing::Test {
protected:
    void SetUp() override {
        LoadSettingsBeforeWindow(t.s());
        PluginOnChannelChange(t.s(), 27, kService);
        t.platform.Pump(t.s());
    }
    void Feed(uint16_t pid, const std::vector<Bytes>& sections) {
        const Bytes packets = sb.Stream(pid, sections);
        ViewerStreamData(t.s(), packets.data(), static_cast<uint32_t>(packets.size()));
        t.platform.Pump(t.s());
    }
    void Clock(int hour, int minute) {
        const auto bcd = [](int v) { return static_cast<uint8_t>((v / 10) << 4 | (v % 10)); };
        Feed(0x0014, {build::TotSection(kMjd, bcd(hour), bcd(minute), 0)});
    }
    void Open() {
        ViewerCommand(t.s(), IDC_GUIDE_OPEN);
        ASSERT_EQ(t.platform.guideOpens, 1);
        GuideInitialised(t.s());  // the shell's WM_INITDIALOG
    }
    std::string Cell(int32_t row, int32_t column) {
        char text[512];
        GuideRowText(t.s(), row, column, text, sizeof text);
        return text;
    }

    TestPlugin t;
    build::StreamBuilder sb;
    const Programme news = {0x1001, 21, 0, 60, Cat({A("ニュース９"), kBoxedJi}), 0x00};
    const Programme drama = {0x1002, 22, 0, 45, A("連続ドラマ"), 0x30};
    const Programme weather = {0x1003, 22, 45, 15, A("天気予報"), 0x01};
};

// The rows fill as sections arrive, in start order, with date, times,
// title (the boxed 字 as [字]) and genre; other services' and p/f sections
// do not reach the guide; a service change empties it.
// The viewer's menu carries the guide's item after the caption view's; the
// item opens the guide, or brings it to the front when it is open, so it is
// never checked.
TEST_F(GuideView, TheViewersMenuOpensIt) {
    ViewerMenuItem items[kViewerMenuCapacity];
    ASSERT_EQ(ViewerMenuItems(t.s(), items, kViewerMenuCapacity), 2);
    EXPECT_EQ(items[1].command, IDC_GUIDE_OPEN);
    EXPECT_STREQ(items[1].label, "\x94\xD4\x91\x67\x95\x5C(&G)");  // 番組表(&G)
    EXPECT_EQ(ViewerMenuItems(t.s(), items, 1), 1);
    Open();
    ViewerMenuItems(t.s(), items, kViewerMenuCapacity);
    EXPECT_FALSE(items[1].checked);
    ViewerCommand(t.s(), items[1].command);
    EXPECT_EQ(t.platform.guideOpens, 2);
}

TEST_F(GuideView, RowsFillAsSectionsArriveAndFollowTheService) {
    Open();
    EXPECT_EQ(t.platform.guideRowCount, 0);
    Feed(0x0012, {Schedule(kService, 8, 1, {drama, weather})});
    EXPECT_EQ(t.platform.guideRowCount, 2);
    Feed(0x0012, {Schedule(0x0401, 0, 1, {news}), build::EitPfSection(kService, 0, {Entry(news)}),
                  Schedule(kService, 0, 1, {news})});
    ASSERT_EQ(t.platform.guideRowCount, 3);
    EXPECT_EQ(Cell(0, 0), Sjis("12/08(火)"));
    EXPECT_EQ(Cell(0, 1), "21:00-22:00");
    EXPECT_EQ(Cell(0, 2), Sjis("ニュース９[字]"));
    EXPECT_EQ(Cell(1, 2), Sjis("連続ドラマ"));
    EXPECT_EQ(Cell(1, 3), Sjis("ドラマ - 国内ドラマ"));
    EXPECT_EQ(Cell(2, 1), "22:45-23:00");
    EXPECT_EQ(Cell(3, 2), "");  // past the end: empty, never a read outside

    // A repeat in the same version is not even copied on the packet path.
    const size_t posted = t.platform.windowPosted.size();
    Feed(0x0012, {Schedule(kService, 8, 1, {drama, weather})});
    EXPECT_EQ(t.platform.windowPosted.size(), posted);

    PluginOnChannelChange(t.s(), 28, 0x0401);
    t.platform.Pump(t.s());
    EXPECT_EQ(t.platform.guideRowCount, 0);
    Feed(0x0012, {Schedule(0x0401, 0, 1, {news})});
    EXPECT_EQ(t.platform.guideRowCount, 1);
}

// The selection follows its programme when a new version moves the rows,
// and its details are the tooltip's text under title, date and times.
TEST_F(GuideView, SelectionFollowsItsProgrammeAndShowsItsDetails) {
    Clock(21, 30);
    Open();
    Feed(0x0012, {Schedule(kService, 8, 1, {drama, weather})});
    GuideRowSelected(t.s(), 1);
    EXPECT_NE(t.platform.guideTexts[IDC_GUIDE_DETAILS].find(Sjis("天気予報")), std::string::npos);
    EXPECT_NE(t.platform.guideTexts[IDC_GUIDE_DETAILS].find(Sjis("ジャンル：")), std::string::npos);
    Feed(0x0012, {Schedule(kService, 0, 1, {news})});
    EXPECT_EQ(t.platform.guideSelected, 2);
    GuideRequestPressed(t.s());
    ASSERT_EQ(t.platform.ownerPosted.size(), 1u);
    // 22:45 less 21:30 is 4,500 s, less 11; 15 minutes plus 1.
    EXPECT_EQ(t.platform.ownerPosted[0], std::make_pair(WM_RECORD_REQUEST, (4489u << 16) | 16u));

    // A new version without the selected programme: nothing is selected.
    Feed(0x0012, {Schedule(kService, 8, 2, {drama})});
    EXPECT_EQ(t.platform.guideSelected, -1);
    EXPECT_FALSE(t.platform.guideEnabled[IDC_GUIDE_REQUEST]);
}

// The viewer's present/following reach an open guide: the programme on air
// heads the list even before the schedule (and without one, as on the
// one-segment layer alone, where it comes from the L-EIT); its schedule
// copy does not add a second row.
TEST_F(GuideView, PresentAndFollowingReachTheGuide) {
    Feed(0x0012, {build::EitPfSection(kService, 0, {Entry(news)})});  // before the window: not taken
    Open();
    EXPECT_EQ(t.platform.guideRowCount, 0);
    Feed(0x0012, {build::EitPfSection(kService, 0, {Entry(news)})});
    ASSERT_EQ(t.platform.guideRowCount, 1);
    EXPECT_EQ(Cell(0, 2), Sjis("ニュース９[字]"));
    Feed(0x0012, {Schedule(kService, 0, 1, {news}), Schedule(kService, 8, 1, {drama})});
    EXPECT_EQ(t.platform.guideRowCount, 2);

    PluginOnChannelChange(t.s(), 28, 0x0588);
    t.platform.Pump(t.s());
    for (int32_t i = 0; i < kLowerEitQuietSections; ++i) {
        Feed(0x0027, {build::EitPfSection(0x0588, 0, {Entry(weather)})});
    }
    ASSERT_EQ(t.platform.guideRowCount, 1);
    EXPECT_EQ(Cell(0, 2), Sjis("天気予報"));
}

// Threads as in the host: the stream thread routes schedule and p/f
// sections, another thread changes the service, the window's thread files
// and reads the guide. Run under ThreadSanitizer, this finds any field the
// window thread reads without the lock while another thread writes it.
TEST_F(GuideView, StreamChannelAndWindowThreadsShareTheGuideUnderTheLock) {
    Open();
    const Bytes packets = sb.Stream(0x0012, {Schedule(kService, 0, 1, {news}), Schedule(kService, 8, 1, {drama}),
                                             build::EitPfSection(kService, 0, {Entry(news)})});
    std::atomic<bool> done(false);
    std::thread stream([&] {
        for (int i = 0; i < 200; ++i) {
            ViewerStreamData(t.s(), packets.data(), static_cast<uint32_t>(packets.size()));
        }
        done = true;
    });
    std::thread channel([&] {
        for (int i = 0; i < 50; ++i) PluginOnChannelChange(t.s(), 27, i % 2 == 0 ? 0x0401 : kService);
    });
    char cell[128];
    while (!done) {
        t.platform.Pump(t.s());
        for (int32_t row = 0; row < t.platform.guideRowCount; ++row) GuideRowText(t.s(), row, 2, cell, sizeof cell);
    }
    stream.join();
    channel.join();
    t.platform.Pump(t.s());
    PluginOnChannelChange(t.s(), 27, kService);
    Feed(0x0012, {Schedule(kService, 0, 2, {news}), Schedule(kService, 8, 2, {drama})});
    EXPECT_EQ(t.platform.guideRowCount, 2);
}

// The request word and the refusals, at a broadcast clock of 21:30 on
// 2026-12-08.
TEST(GuideRequest, WordAndRefusals) {
    const int64_t now = kDay + 21 * 3600 + 30 * 60;
    struct Case {
        const char* name;
        bool startKnown;
        int64_t start;
        bool durationKnown;
        int32_t duration;
        int64_t clock;
        GuideRequestStatus status;
        uint32_t word;
    } cases[] = {
        {"in 30 minutes, 45 long", true, now + 1800, true, 2700, now, GuideRequestStatus::kRequestable,
         (1789u << 16) | 46u},
        {"duration undetermined", true, now + 1800, false, 0, now, GuideRequestStatus::kRequestable,
         (1789u << 16) | 180u},
        {"starts within 11 s", true, now + 5, true, 600, now, GuideRequestStatus::kRequestable, 11u},
        {"running", true, now - 600, true, 3600, now, GuideRequestStatus::kRequestable, 61u},
        {"exactly 65,535 s ahead", true, now + 65535, true, 60, now, GuideRequestStatus::kRequestable,
         (65524u << 16) | 2u},
        {"65,536 s ahead", true, now + 65536, true, 60, now, GuideRequestStatus::kTooFarAhead, 0},
        {"start undetermined", false, 0, true, 60, now, GuideRequestStatus::kStartUndetermined, 0},
        {"no TOT yet", true, now + 60, true, 60, -1, GuideRequestStatus::kNoClock, 0},
        {"ended", true, now - 3600, true, 3600, now, GuideRequestStatus::kEnded, 0},
    };
    for (const Case& c : cases) {
        ScheduleEventRef e = {};
        e.startDetermined = c.startKnown;
        e.start = c.start;
        e.durationDetermined = c.durationKnown;
        e.duration = c.duration;
        uint32_t word = 0;
        EXPECT_EQ(ComputeGuideRequest(e, c.clock, word), c.status) << c.name;
        EXPECT_EQ(word, c.word) << c.name;
    }
}

// The button says why a programme cannot be requested, and is disabled.
TEST_F(GuideView, ButtonSaysWhyAProgrammeCannotBeRequested) {
    Open();
    Programme later = weather;
    later.eventId = 0x2001;
    Feed(0x0012, {Schedule(kService, 8, 1, {drama, later})});
    GuideRowSelected(t.s(), 0);
    EXPECT_EQ(t.platform.guideTexts[IDC_GUIDE_REQUEST], Sjis("録画予約（時刻未受信）"));
    EXPECT_FALSE(t.platform.guideEnabled[IDC_GUIDE_REQUEST]);
    GuideRequestPressed(t.s());
    EXPECT_TRUE(t.platform.ownerPosted.empty());

    Clock(2, 0);  // 02:00 on the same day: 20 hours before the drama
    GuideRowSelected(t.s(), 0);
    EXPECT_EQ(t.platform.guideTexts[IDC_GUIDE_REQUEST], Sjis("録画予約（開始まで65,535秒超）"));
    Clock(21, 0);
    GuideRowSelected(t.s(), 0);
    EXPECT_EQ(t.platform.guideTexts[IDC_GUIDE_REQUEST], Sjis("録画予約"));
    EXPECT_TRUE(t.platform.guideEnabled[IDC_GUIDE_REQUEST]);
}

// Its position: read from "GUIDE" Left/Top, written on every move once the
// window is initialised.
TEST_F(GuideView, PositionIsKeptInTheSettingsFile) {
    t.platform.settings["GUIDE/Left"] = "320";
    t.platform.settings["GUIDE/Top"] = "-40";
    int32_t left = 0, top = 0;
    GuidePosition(t.s(), left, top);
    EXPECT_EQ(left, 320);
    EXPECT_EQ(top, -40);
    GuideMoved(t.s(), Shown(WindowShow::kNormal, 1, 2, 1, 2));
    EXPECT_TRUE(t.platform.settingWrites.empty());
    Open();
    GuideMoved(t.s(), Shown(WindowShow::kNormal, 500, 60, 500, 60));
    EXPECT_EQ(t.platform.settingWrites,
              (std::vector<std::pair<std::string, std::string>>{{"GUIDE/Left", "500"}, {"GUIDE/Top", "60"}}));
}

// --- The guide's position keeps the viewer's guards ------------------------

// Minimised, Win32 parks the guide at (-32000, -32000) with a WM_MOVE: no
// place to open at next time. A maximised guide keeps its restored position.
TEST_F(GuideView, OnlyItsNormalPositionIsSaved) {
    const struct {
        const char* name;
        WindowPlacement placement;
        bool saved;
        const char* left;
        const char* top;
    } cases[] = {
        {"normal", Shown(WindowShow::kNormal, 150, 90, 150, 90), true, "150", "90"},
        {"normal, left of the primary", Shown(WindowShow::kNormal, -1500, -40, 0, 0), true, "-1500", "-40"},
        {"minimised", Shown(WindowShow::kMinimised, -32000, -32000, 150, 90), false, "", ""},
        {"minimised, parked elsewhere", Shown(WindowShow::kMinimised, 0, 1000, 150, 90), false, "", ""},
        {"parking position while shown normally", Shown(WindowShow::kNormal, -32000, -32000, 150, 90), false, "", ""},
        {"maximised", Shown(WindowShow::kMaximised, -8, -8, 150, 90), true, "150", "90"},
    };
    Open();
    for (const auto& c : cases) {
        t.platform.settingWrites.clear();
        GuideMoved(t.s(), c.placement);
        if (c.saved) {
            EXPECT_EQ(t.platform.settingWrites,
                      (std::vector<std::pair<std::string, std::string>>{{"GUIDE/Left", c.left}, {"GUIDE/Top", c.top}}))
                << c.name;
        } else {
            EXPECT_TRUE(t.platform.settingWrites.empty()) << c.name;
        }
    }
}

}  // namespace
