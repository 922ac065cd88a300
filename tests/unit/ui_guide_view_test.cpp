// The programme guide: schedule sections from the packet path through the
// store to the guide window's grid, details and recording request.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "plugin/guide_store.h"
#include "plugin/messages.h"
#include "plugin/plugin_state.h"
#include "tests/support/guide_filler.h"
#include "tests/support/test_plugin.h"
#include "tests/unit/text_test_helpers.h"
#include "text/arib_decoder.h"
#include "text/eit_event.h"
#include "text/eit_schedule.h"
#include "tools/streamkit/stream_builder.h"
#include "ts/calendar.h"
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

// A plug-in with its window, watching kService, and the guide's helpers.
struct GuideHarness {
    GuideHarness() {
        LoadSettingsBeforeWindow(t.s());
        PluginOnChannelChange(t.s(), 27, kService);
        t.platform.Pump(t.s());
    }
    void Feed(uint16_t pid, const std::vector<Bytes>& sections) {
        const Bytes packets = sb.Stream(pid, sections);
        ViewerStreamData(t.s(), packets.data(), static_cast<uint32_t>(packets.size()));
        t.platform.Pump(t.s());
    }
    // The packets only: the window does not pump.
    void Route(uint16_t pid, const std::vector<Bytes>& sections) {
        const Bytes packets = sb.Stream(pid, sections);
        ViewerStreamData(t.s(), packets.data(), static_cast<uint32_t>(packets.size()));
    }
    void Clock(int hour, int minute) {
        const auto bcd = [](int v) { return static_cast<uint8_t>((v / 10) << 4 | (v % 10)); };
        Feed(0x0014, {build::TotSection(kMjd, bcd(hour), bcd(minute), 0)});
    }
    void Open() {
        const int opens = t.platform.guideOpens;
        ViewerCommand(t.s(), IDC_GUIDE_OPEN);
        ASSERT_EQ(t.platform.guideOpens, opens + 1);
        GuideInitialised(t.s());  // the shell's WM_INITDIALOG
    }
    GuideViewState& View() { return *t.platform.guideView; }
    // The watched service's programmes as the grid's source reads them:
    // "HH:MM-HH:MM" (未定 for an unknown end), the title as the cell shows
    // it, the genre's nibble.
    struct Row {
        std::string time;
        std::string title;
        int32_t genre;
    };
    std::vector<Row> Rows() {
        GuideColumns columns;
        FillGuideColumns(t.s(), columns);
        const GridSource source = GuideGridSource(columns);
        std::vector<Row> rows;
        int32_t w = 0;
        while (w < columns.count && !columns.column[w].watched) ++w;
        for (int32_t i = 0; w < columns.count && i < source.count(source.context, w); ++i) {
            ScheduleEventRef ref;
            GridProgramme p;
            char title[256];
            if (!GuideColumnEvent(columns, w, i, ref) || !source.programme(source.context, w, i, p)) break;
            source.title(source.context, w, i, title, sizeof title);
            char time[32];
            const int32_t start = SecondOfDay(ref.start);
            const int32_t end = SecondOfDay(ref.start + ref.duration);
            if (ref.durationDetermined) {
                snprintf(time, sizeof time, "%02d:%02d-%02d:%02d", start / 3600, start / 60 % 60, end / 3600,
                         end / 60 % 60);
            } else {
                snprintf(time, sizeof time, "%02d:%02d-%s", start / 3600, start / 60 % 60, Sjis("未定").c_str());
            }
            rows.push_back(Row{time, title, p.genre});
        }
        return rows;
    }
    size_t Count() { return Rows().size(); }
    Row At(size_t row) {
        const std::vector<Row> rows = Rows();
        return row < rows.size() ? rows[row] : Row{"", "", -1};
    }

    TestPlugin t;
    build::StreamBuilder sb;
    const Programme news = {0x1001, 21, 0, 60, Cat({A("ニュース９"), kBoxedJi}), 0x00};
    const Programme drama = {0x1002, 22, 0, 45, A("連続ドラマ"), 0x30};
    const Programme weather = {0x1003, 22, 45, 15, A("天気予報"), 0x01};
};

class GuideView : public ::testing::Test, protected GuideHarness {};

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

// The programmes fill as sections arrive, in start order, with times, title
// (the boxed 字 as [字]) and genre, the day as a date tab; other services'
// and p/f sections do not reach the guide; a service change empties it.
// Each change asks the window to redraw.
TEST_F(GuideView, ProgrammesFillAsSectionsArriveAndFollowTheService) {
    Open();
    EXPECT_EQ(Count(), 0u);
    const int redraws = t.platform.guideRedraws;
    Feed(0x0012, {Schedule(kService, 8, 1, {drama, weather})});
    EXPECT_EQ(Count(), 2u);
    EXPECT_GT(t.platform.guideRedraws, redraws);
    Feed(0x0012, {Schedule(0x0401, 0, 1, {news}), build::EitPfSection(kService, 0, {Entry(news)}),
                  Schedule(kService, 0, 1, {news})});
    ASSERT_EQ(Count(), 3u);
    ASSERT_EQ(View().days.count, 1);
    EXPECT_EQ(std::string(View().days.label[0]), Sjis("12/08(火)"));
    EXPECT_EQ(At(0).time, "21:00-22:00");
    EXPECT_EQ(At(0).title, Sjis("ニュース９[字]"));
    EXPECT_EQ(At(1).title, Sjis("連続ドラマ"));
    EXPECT_EQ(At(1).genre, 3);  // ドラマ
    EXPECT_EQ(At(2).time, "22:45-23:00");

    // A repeat in the same version is not even copied on the packet path.
    const size_t posted = t.platform.windowPosted.size();
    Feed(0x0012, {Schedule(kService, 8, 1, {drama, weather})});
    EXPECT_EQ(t.platform.windowPosted.size(), posted);

    PluginOnChannelChange(t.s(), 28, 0x0401);
    t.platform.Pump(t.s());
    EXPECT_EQ(Count(), 0u);
    Feed(0x0012, {Schedule(0x0401, 0, 1, {news})});
    EXPECT_EQ(Count(), 1u);
}

// The selection follows its programme when a new version moves the rows,
// and its details are the tooltip's text under title, date and times.
TEST_F(GuideView, SelectionFollowsItsProgrammeAndShowsItsDetails) {
    Clock(21, 30);
    Open();
    Feed(0x0012, {Schedule(kService, 8, 1, {drama, weather})});
    GuideSelectProgramme(t.s(), 0, 1);
    EXPECT_NE(t.platform.guideTexts[IDC_GUIDE_DETAILS].find(Sjis("天気予報")), std::string::npos);
    EXPECT_NE(t.platform.guideTexts[IDC_GUIDE_DETAILS].find(Sjis("ジャンル：")), std::string::npos);
    Feed(0x0012, {Schedule(kService, 0, 1, {news})});
    EXPECT_EQ(View().selection.index, 2);
    EXPECT_EQ(View().selection.id, 0x1003);
    GuideRequestPressed(t.s());
    ASSERT_EQ(t.platform.ownerPosted.size(), 1u);
    // 22:45 less 21:30 is 4,500 s, less 11; 15 minutes plus 1.
    EXPECT_EQ(t.platform.ownerPosted[0], std::make_pair(WM_RECORD_REQUEST, (4489u << 16) | 16u));

    // A new version without the selected programme: nothing is selected.
    Feed(0x0012, {Schedule(kService, 8, 2, {drama})});
    EXPECT_EQ(View().selection.column, -1);
    EXPECT_FALSE(t.platform.guideEnabled[IDC_GUIDE_REQUEST]);
}

// The viewer's present/following reach an open guide whichever view the
// viewer shows: the programme on air heads the list even before the
// schedule (and without one, as on the one-segment layer alone, where it
// comes from the L-EIT); its schedule copy does not add a second row.
TEST_F(GuideView, PresentAndFollowingReachTheGuide) {
    // Before the window: the store keeps every service's present/following.
    Feed(0x0012, {build::EitPfSection(kService, 0, {Entry(news)})});
    Open();
    EXPECT_EQ(Count(), 1u);
    Feed(0x0012, {build::EitPfSection(kService, 0, {Entry(news)})});  // its next repeat
    ASSERT_EQ(Count(), 1u);
    EXPECT_EQ(At(0).title, Sjis("ニュース９[字]"));
    Feed(0x0012, {build::EitPfSection(kService, 1, {Entry(drama)})});  // the viewer shows 現
    ASSERT_EQ(Count(), 2u);
    EXPECT_EQ(At(1).title, Sjis("連続ドラマ"));
    Feed(0x0012, {Schedule(kService, 0, 1, {news}), Schedule(kService, 8, 1, {drama})});
    EXPECT_EQ(Count(), 2u);

    PluginOnChannelChange(t.s(), 28, 0x0588);
    t.platform.Pump(t.s());
    for (int32_t i = 0; i < kLowerEitQuietSections; ++i) {
        Feed(0x0027, {build::EitPfSection(0x0588, 0, {Entry(weather)}), build::EitPfSection(0x0588, 1, {Entry(news)})});
    }
    ASSERT_EQ(Count(), 2u);
    EXPECT_EQ(At(0).title, Sjis("ニュース９[字]"));  // 21:00 from the L-EIT's following section
    EXPECT_EQ(At(1).title, Sjis("天気予報"));
}

// The broadcaster moves the drama from 22:00 to 22:30 and puts a special at
// 22:00. Present/following outrank the schedule only while they are the
// newer: whatever the interleaving of the viewer's views, the following
// section and the two schedule versions, the guide ends with the special at
// 22:00 and the drama at 22:30, and at 21:30 a request for the drama waits
// 3,589 s (not 1,789 s).
TEST(GuideOrder, AStaleFollowingEventDoesNotOutrankANewerSchedule) {
    const Programme news = {0x1001, 21, 0, 60, A("ニュース"), 0x00};
    const Programme drama = {0x1002, 22, 0, 45, A("連続ドラマ"), 0x30};
    const Programme special = {0x1004, 22, 0, 30, A("特別番組"), 0x00};
    const Programme moved = {0x1002, 22, 30, 45, A("連続ドラマ"), 0x30};
    const Bytes scheduleOld = Schedule(kService, 8, 1, {news, drama});
    const Bytes scheduleNew = Schedule(kService, 8, 2, {news, special, moved});
    const Bytes present = build::EitPfSection(kService, 0, {Entry(news)}, 1);
    const Bytes followingOld = build::EitPfSection(kService, 1, {Entry(drama)}, 1);
    const Bytes followingNew = build::EitPfSection(kService, 1, {Entry(special)}, 2);
    enum Step { kOldSchedule, kNewSchedule, kPresent, kOldFollowing, kNewFollowing, kToggleView, kOpen };
    struct Case {
        const char* name;
        std::vector<Step> steps;
    } cases[] = {
        {"次 shown, back to 現, then the schedule moves",
         {kOpen, kOldSchedule, kPresent, kToggleView, kOldFollowing, kToggleView, kNewSchedule}},
        {"次 shown throughout", {kOpen, kToggleView, kOldSchedule, kPresent, kOldFollowing, kNewSchedule}},
        {"現 only, the following moves after the schedule",
         {kOpen, kOldSchedule, kPresent, kOldFollowing, kNewSchedule, kNewFollowing}},
        {"the following moves before the schedule",
         {kOpen, kOldSchedule, kOldFollowing, kNewFollowing, kNewSchedule}},
        {"the guide opens between, taking the following's repeat",
         {kOldSchedule, kPresent, kOldFollowing, kOpen, kPresent, kOldFollowing, kNewSchedule}},
    };
    for (const Case& c : cases) {
        GuideHarness h;
        h.Clock(21, 30);
        for (Step step : c.steps) {
            switch (step) {
                case kOldSchedule: h.Feed(0x0012, {scheduleOld}); break;
                case kNewSchedule: h.Feed(0x0012, {scheduleNew}); break;
                case kPresent: h.Feed(0x0012, {present}); break;
                case kOldFollowing: h.Feed(0x0012, {followingOld}); break;
                case kNewFollowing: h.Feed(0x0012, {followingNew}); break;
                case kToggleView: ViewerCommand(h.t.s(), IDC_PRESENT_FOLLOWING); break;
                case kOpen: h.Open(); break;
            }
        }
        ASSERT_EQ(h.Count(), 3u) << c.name;
        EXPECT_EQ(h.At(1).time + " " + h.At(1).title, "22:00-22:30 " + Sjis("特別番組")) << c.name;
        EXPECT_EQ(h.At(2).time + " " + h.At(2).title, "22:30-23:15 " + Sjis("連続ドラマ")) << c.name;
        GuideSelectProgramme(h.t.s(), 0, 2);
        GuideRequestPressed(h.t.s());
        ASSERT_EQ(h.t.platform.ownerPosted.size(), 1u) << c.name;
        // 3,589 s at 21:30:00; the clock has run on a second for each
        // present section (the viewer's tick).
        EXPECT_EQ(h.t.platform.ownerPosted[0].second, ((3589u - h.t.s().tickCount) << 16) | 46u) << c.name;
    }
}

// A press of 録画予約 that comes after the viewer closed (the guide window
// not gone yet) asks the host for nothing: it was told the plug-in closed.
TEST_F(GuideView, NoRequestAfterTheViewerClosed) {
    Clock(21, 30);
    Open();
    Feed(0x0012, {Schedule(kService, 8, 1, {drama, weather})});
    GuideSelectProgramme(t.s(), 0, 1);
    ASSERT_TRUE(t.platform.guideEnabled[IDC_GUIDE_REQUEST]);
    ViewerCommand(t.s(), IDC_CLOSE);
    ASSERT_EQ(t.platform.closedCalls, 1);
    GuideRequestPressed(t.s());
    EXPECT_TRUE(t.platform.ownerPosted.empty());
}

// The programme on air, asked for from the guide, is asked for exactly as the
// present view asks for it: at 22:30 the drama of 22:00-22:45 records what
// is left of it (15 minutes), not its whole length plus one, which would run
// into the next programme.
TEST_F(GuideView, TheOnAirRequestIsThePresentViews) {
    Clock(22, 30);
    Feed(0x0012, {build::EitPfSection(kService, 0, {Entry(drama)}), Schedule(kService, 8, 1, {drama, weather})});
    ViewerCommand(t.s(), IDC_RECORD_REQUEST);
    Open();
    GuideSelectProgramme(t.s(), 0, 0);
    GuideRequestPressed(t.s());
    ASSERT_EQ(t.platform.ownerPosted.size(), 2u);
    EXPECT_EQ(t.platform.ownerPosted[0], std::make_pair(WM_RECORD_REQUEST, 0x0000000Fu));
    EXPECT_EQ(t.platform.ownerPosted[1], t.platform.ownerPosted[0]);
    // The following programme as the following view asks for it.
    ViewerCommand(t.s(), IDC_PRESENT_FOLLOWING);
    Feed(0x0012, {build::EitPfSection(kService, 1, {Entry(weather)})});
    ViewerCommand(t.s(), IDC_RECORD_REQUEST);
    GuideSelectProgramme(t.s(), 0, 1);
    GuideRequestPressed(t.s());
    ASSERT_EQ(t.platform.ownerPosted.size(), 4u);
    EXPECT_EQ(t.platform.ownerPosted[2].second, ((889u - t.s().tickCount) << 16) | 16u);
    EXPECT_EQ(t.platform.ownerPosted[3], t.platform.ownerPosted[2]);
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
    while (!done) {
        t.platform.Pump(t.s());
        GuideLayout(t.s());  // the window paints its grid
    }
    stream.join();
    channel.join();
    t.platform.Pump(t.s());
    PluginOnChannelChange(t.s(), 27, kService);
    Feed(0x0012, {Schedule(kService, 0, 2, {news}), Schedule(kService, 8, 2, {drama})});
    EXPECT_EQ(Count(), 2u);
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
        // On air: what is left, rounded up to the minute, as the present view.
        {"on air, 50 minutes left", true, now - 600, true, 3600, now, GuideRequestStatus::kRequestable, 50u},
        {"on air, 15 min 1 s left", true, now - 1799, true, 2700, now, GuideRequestStatus::kRequestable, 16u},
        {"on air from this second", true, now, true, 2700, now, GuideRequestStatus::kRequestable, 45u},
        {"on air, end undetermined", true, now - 60, false, 0, now, GuideRequestStatus::kRequestable, 180u},
        {"end undetermined, a second before three hours", true, now - 3 * 3600 + 1, false, 0, now,
         GuideRequestStatus::kRequestable, 180u},
        {"end undetermined, three hours on", true, now - 3 * 3600, false, 0, now, GuideRequestStatus::kEnded, 0},
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
    GuideSelectProgramme(t.s(), 0, 0);
    EXPECT_EQ(t.platform.guideTexts[IDC_GUIDE_REQUEST], Sjis("録画予約（時刻未受信）"));
    EXPECT_FALSE(t.platform.guideEnabled[IDC_GUIDE_REQUEST]);
    GuideRequestPressed(t.s());
    EXPECT_TRUE(t.platform.ownerPosted.empty());

    Clock(2, 0);  // 02:00 on the same day: 20 hours before the drama
    GuideSelectProgramme(t.s(), 0, 0);
    EXPECT_EQ(t.platform.guideTexts[IDC_GUIDE_REQUEST], Sjis("録画予約（開始まで65,535秒超）"));
    Clock(21, 0);
    GuideSelectProgramme(t.s(), 0, 0);
    EXPECT_EQ(t.platform.guideTexts[IDC_GUIDE_REQUEST], Sjis("録画予約"));
    EXPECT_TRUE(t.platform.guideEnabled[IDC_GUIDE_REQUEST]);
}

// After a request the status line says what was asked for: the title, its
// day, start and length as a viewer reads them; a programme that cannot be
// requested says why, in words, as soon as it is chosen and again when the
// request is pressed. The word sent to the host is the one the request
// computes, and the button's label stays the short refusal.
TEST_F(GuideView, TheStatusLineConfirmsARequestOrSaysWhyNot) {
    const uint16_t other = 0x0401;
    Programme openEnded = weather;  // 22:45, length not yet known
    openEnded.eventId = 0x2003;
    openEnded.durationMinutes = -1;
    build::EitEvent unknownStart = Entry({0x2004, 23, 30, 30, A("深夜映画"), 0x60});
    unknownStart.startMjd = 0xFFFF;
    unknownStart.start[0] = unknownStart.start[1] = unknownStart.start[2] = 0xFF;
    build::EitHeader header = build::ScheduleHeader(kService, 16, 1, 0x50);
    header.lastTableId = 0x50;
    struct Case {
        const char* name;
        int clockHour, clockMinute;  // -1: no TOT yet
        uint16_t service;            // whose column is chosen
        uint16_t eventId;
        const char* status;          // UTF-8
        const char* label;           // UTF-8
        uint32_t word;               // 0: nothing posted
    } cases[] = {
        {"ahead", 21, 30, kService, 0x1002, "録画を依頼しました：連続ドラマ　12/08(火) 22:00から45分", "録画予約",
         (1789u << 16) | 46u},
        {"on air", 22, 30, kService, 0x1002, "録画を依頼しました：連続ドラマ　12/08(火) 22:00から45分", "録画予約",
         15u},
        {"length unknown", 21, 30, kService, 0x2003,
         "録画を依頼しました：天気予報　12/08(火) 22:45から（長さ未定）", "録画予約", (4489u << 16) | 180u},
        {"too far ahead", 2, 0, kService, 0x1002, "開始の約18時間前から予約できます",
         "録画予約（開始まで65,535秒超）", 0},
        {"ended", 23, 30, kService, 0x1002, "この番組は終了しています", "録画予約（放送終了）", 0},
        {"start unknown", 21, 30, kService, 0x2004, "開始時刻が未定のため予約できません",
         "録画予約（開始時刻未定）", 0},
        {"no clock", -1, 0, kService, 0x1002, "放送の時刻を受信するまでお待ちください", "録画予約（時刻未受信）",
         0},
        {"another service", 21, 30, other, 0x1003, "視聴中のサービスの番組だけを予約できます",
         "録画予約（視聴中のサービスのみ）", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        GuideHarness h;
        if (c.clockHour >= 0) h.Clock(c.clockHour, c.clockMinute);
        h.Open();
        h.Feed(0x0012, {Schedule(kService, 8, 1, {drama, openEnded}), build::EitSection(header, {unknownStart}),
                        Schedule(other, 8, 1, {weather})});
        const GuideColumns& columns = h.View().columns;
        int32_t column = -1;
        for (int32_t i = 0; i < columns.count; ++i) {
            if (columns.column[i].serviceId == c.service) column = i;
        }
        ASSERT_GE(column, 0);
        const int32_t index = GuideColumnIndexOfEvent(columns, column, c.eventId);
        ASSERT_GE(index, 0);
        GuideStatusText(h.t.s(), "");
        GuideSelectProgramme(h.t.s(), column, index);
        EXPECT_EQ(h.t.platform.guideTexts[IDC_GUIDE_REQUEST], Sjis(c.label));
        EXPECT_EQ(h.t.platform.guideTexts[IDC_GUIDE_STATUS], c.word == 0 ? Sjis(c.status) : "") << "on choosing";
        GuideRequestPressed(h.t.s());
        EXPECT_EQ(h.t.platform.guideTexts[IDC_GUIDE_STATUS], Sjis(c.status)) << "on the request";
        if (c.word == 0) {
            EXPECT_TRUE(h.t.platform.ownerPosted.empty());
        } else {
            ASSERT_EQ(h.t.platform.ownerPosted.size(), 1u);
            // The clock runs on a second for each present section the
            // viewer took; none came here.
            EXPECT_EQ(h.t.platform.ownerPosted[0], std::make_pair(WM_RECORD_REQUEST, c.word));
        }
    }
}

// The reason shown for one programme goes when a programme that can be
// requested is chosen; a status of the saved guide stays.
TEST_F(GuideView, AReasonGoesWithItsProgramme) {
    Clock(22, 50);
    Open();
    Feed(0x0012, {Schedule(kService, 8, 1, {drama, weather})});
    GuideStatusText(t.s(), "");
    GuideSelectProgramme(t.s(), 0, 0);  // the drama ended at 22:45
    EXPECT_EQ(t.platform.guideTexts[IDC_GUIDE_STATUS], Sjis("この番組は終了しています"));
    GuideSelectProgramme(t.s(), 0, 1);  // the weather is on air
    EXPECT_EQ(t.platform.guideTexts[IDC_GUIDE_STATUS], "");
    GuideStatusText(t.s(), Sjis("番組表を読み込みました").c_str());
    GuideSelectProgramme(t.s(), 0, 0);
    GuideSelectProgramme(t.s(), 0, 1);
    EXPECT_EQ(t.platform.guideTexts[IDC_GUIDE_STATUS], "");
    GuideStatusText(t.s(), Sjis("番組表を読み込みました").c_str());
    GuideSelectProgramme(t.s(), 0, 1);
    EXPECT_EQ(t.platform.guideTexts[IDC_GUIDE_STATUS], Sjis("番組表を読み込みました"));
}

// A long title is cut at a whole character so that start and length still
// fit the status line.
TEST_F(GuideView, ALongTitleLeavesRoomForStartAndLength) {
    Clock(21, 30);
    Open();
    Programme longTitle = drama;
    longTitle.title = A("とても長い題名のドラマスペシャル特別編・第一夜から第三夜まで一挙放送・出演者インタビュー付き完全版");
    Feed(0x0012, {Schedule(kService, 8, 1, {longTitle})});
    GuideSelectProgramme(t.s(), 0, 0);
    GuideRequestPressed(t.s());
    const std::string status = t.platform.guideTexts[IDC_GUIDE_STATUS];
    const std::string tail = Sjis("　12/08(火) 22:00から45分");
    ASSERT_GE(status.size(), tail.size());
    EXPECT_EQ(status.substr(status.size() - tail.size()), tail);
    EXPECT_EQ(status.find(Sjis("録画を依頼しました：とても長い題名")), 0u);
    EXPECT_LT(status.size(), static_cast<size_t>(kGuideStatusSize));
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

// A schedule section with one byte corrupted (its packets intact): nothing
// of it is filed and its version is not marked held, so the good repeat in
// the same version is copied and filed after it.
TEST_F(GuideView, ADamagedSectionIsNotFiledAndItsGoodRepeatIs) {
    Open();
    Bytes damaged = Schedule(kService, 8, 1, {drama, weather});
    damaged[damaged.size() - 20] ^= 0x01;  // inside the last event's text
    Feed(0x0012, {damaged});
    EXPECT_EQ(Count(), 0u);
    EXPECT_EQ(GuideHeldVersion(t.s().guide, t.s().guide.watched, 0x50, 8), kNoVersion);
    Feed(0x0012, {Schedule(kService, 8, 1, {drama, weather})});
    ASSERT_EQ(Count(), 2u);
    EXPECT_EQ(At(1).title, Sjis("天気予報"));
    EXPECT_EQ(GuideHeldVersion(t.s().guide, t.s().guide.watched, 0x50, 8), 1);
}

// The sections the guide holds, every service's.
int32_t HeldSections(const GuideStore& g) {
    int32_t held = 0;
    for (int32_t i = 0; i < GuideServiceCount(g); ++i) held += GuideServiceSectionCount(g, i);
    return held;
}

// One host call that carries more schedule sections than a turn of the
// window thread files (a carousel's burst): every one is kept, filed in the
// order it came over as many turns as it takes, and none is lost.
TEST_F(GuideView, ACallOfManySectionsLosesNone) {
    const int kSections = 3 * kGuideTurnSections;
    std::vector<Bytes> sections;
    for (int i = 0; i < kSections; ++i) {
        const Programme p = {static_cast<uint16_t>(0x2000 + i), i / 60, i % 60, 1, A("番組"), 0x00};
        sections.push_back(Schedule(kService, static_cast<uint8_t>(i), 1, {p}));
    }
    Route(0x0012, sections);
    const GuideStore& g = t.s().guide;
    EXPECT_EQ(g.droppedSections, 0u);
    EXPECT_EQ(g.pathWork.copies, static_cast<uint32_t>(kSections));
    t.platform.Pump(t.s());
    ASSERT_EQ(g.listCount, kSections);
    const EitScheduleService& schedule = *GuideServiceSchedule(g, GuideWatchedService(g));
    for (int i = 1; i < kSections; ++i) {
        EXPECT_GT(schedule.slots[i].sequence, schedule.slots[i - 1].sequence) << i;
    }
}

// More bytes of sections before the pump than the hand-over holds: those
// that find no room are counted and not even copied; they are taken when
// they come round.
TEST_F(GuideView, SectionsPastTheHandOversRoomAreCountedAndComeRound) {
    const std::vector<Bytes> sections = HandOverFiller(kService, kMjd, build::kDefaultTransportStreamId,
                                                       build::kDefaultNetworkId);
    Route(0x0012, sections);
    const GuideStore& g = t.s().guide;
    EXPECT_GE(g.droppedSections, 1u);
    EXPECT_EQ(g.pathWork.copies + g.droppedSections, static_cast<uint32_t>(sections.size()));
    const int32_t kept = static_cast<int32_t>(g.pathWork.copies);
    t.platform.Pump(t.s());
    EXPECT_EQ(HeldSections(g), kept);
    Feed(0x0012, sections);
    EXPECT_EQ(HeldSections(g), static_cast<int32_t>(sections.size()));
}

// WM_GUIDE_READY lost (posted before the window existed, or before the
// guide's dialog was up): the sections waiting are still taken when the
// window is created, when the guide opens, or when a full mailbox asks
// again.
TEST(GuideHandOver, ALostPostIsMadeGood) {
    enum Recovery { kWindowCreated, kGuideOpened, kMailboxFull };
    const Recovery recoveries[] = {kWindowCreated, kGuideOpened, kMailboxFull};
    for (Recovery recovery : recoveries) {
        GuideHarness h;
        const std::vector<Bytes> sections =
            HandOverFiller(kService, kMjd, build::kDefaultTransportStreamId, build::kDefaultNetworkId);
        h.Route(0x0012, {sections[0]});
        h.t.platform.windowQueue.clear();  // lost
        const GuideStore& g = h.t.s().guide;
        switch (recovery) {
            case kWindowCreated:
                ViewerInitialised(h.t.s());
                EXPECT_EQ(HeldSections(g), 1) << recovery;
                break;
            case kGuideOpened:
                h.Open();
                EXPECT_EQ(HeldSections(g), 1) << recovery;
                break;
            case kMailboxFull:
                h.Route(0x0012, std::vector<Bytes>(sections.begin() + 1, sections.end()));
                EXPECT_GE(g.droppedSections, 1u) << recovery;
                h.t.platform.Pump(h.t.s());
                EXPECT_EQ(HeldSections(g), static_cast<int32_t>(g.pathWork.copies)) << recovery;
                break;
        }
    }
}

// Reopening the guide: no programme selected, the request button disabled.
TEST_F(GuideView, ReopeningShowsNoSelection) {
    Clock(21, 30);
    Open();
    Feed(0x0012, {Schedule(kService, 8, 1, {drama, weather})});
    GuideSelectProgramme(t.s(), 0, 1);
    ASSERT_TRUE(t.platform.guideEnabled[IDC_GUIDE_REQUEST]);
    GuideClosed(t.s());
    Open();
    EXPECT_EQ(View().selection.column, -1);
    EXPECT_FALSE(t.platform.guideEnabled[IDC_GUIDE_REQUEST]);
    EXPECT_EQ(t.platform.guideTexts[IDC_GUIDE_DETAILS], "");
    GuideRequestPressed(t.s());
    EXPECT_TRUE(t.platform.ownerPosted.empty());
}

// A service change between the window thread's take of a section and its
// marking as held: the mark is not made for the new service, so the new
// service's section of the same table, number and version is still copied.
TEST_F(GuideView, AServiceChangeBetweenTakeAndMarkLeavesTheNewServicesSectionWanted) {
    const uint16_t other = 0x0401;
    Route(0x0012, {Schedule(kService, 8, 1, {drama})});
    GuideTakenSection taken;
    ASSERT_TRUE(TakeGuideSection(t.s(), taken));
    PluginOnChannelChange(t.s(), 28, other);
    FileGuideSection(t.s(), taken);
    EXPECT_EQ(GuideHeldVersion(t.s().guide, t.s().guide.watched, 0x50, 8), kNoVersion);
    t.platform.Pump(t.s());
    Route(0x0012, {Schedule(other, 8, 1, {weather})});
    EXPECT_EQ(t.s().guide.queue.count, 1);
    t.platform.Pump(t.s());
    ASSERT_EQ(t.s().guide.listCount, 1);
    EXPECT_EQ(At(0).title, Sjis("天気予報"));
}

// Filing is incremental: a section costs its own events, however many
// programmes the guide holds already.
TEST_F(GuideView, FilingASectionReadsOnlyItsOwnEvents) {
    std::vector<Bytes> sections;
    for (int i = 0; i < 96; ++i) {
        std::vector<Programme> programmes;
        for (int k = 0; k < 8; ++k) {
            const int minute = i * 8 + k;
            programmes.push_back({static_cast<uint16_t>(0x3000 + minute), minute / 60, minute % 60, 1, A("番組"), 0x00});
        }
        sections.push_back(Schedule(kService, static_cast<uint8_t>(i), 1, programmes));
    }
    for (size_t at = 0; at < sections.size(); at += 16) {
        const size_t end = std::min(sections.size(), at + 16);
        Feed(0x0012, std::vector<Bytes>(sections.begin() + static_cast<long>(at), sections.begin() + static_cast<long>(end)));
    }
    const GuideStore& g = t.s().guide;
    ASSERT_EQ(g.listCount, 96 * 8);
    Feed(0x0012, {Schedule(kService, 200, 1, {weather})});
    EXPECT_EQ(g.lastTurn.sections, 1);
    EXPECT_EQ(g.lastTurn.events, 1);
}

// Hostile carousels: 128 sections of 339 one-second events each, CRC-valid,
// their version changing every cycle, with the programmes spread over the
// day (the list fills to its capacity) or stacked on the same seconds (each
// section displaces the last). Each turn of the window thread files no more
// than what waited when it began, reads no more than those sections' events
// and looks at a bounded number of rows, then returns to the message loop.
TEST(GuideHandOver, AHostileCarouselGetsBoundedTurns) {
    const int32_t kEvents = 339;
    const int32_t kSections = 128;
    for (bool stacked : {false, true}) {
        GuideHarness h;
        h.Open();
        std::vector<Bytes> cycle[3];
        for (uint8_t version = 0; version < 3; ++version) {
            for (int32_t n = 0; n < kSections; ++n) {
                build::EitHeader header = build::ScheduleHeader(kService, static_cast<uint8_t>(n), version);
                std::vector<build::EitEvent> events;
                for (int32_t k = 0; k < kEvents; ++k) {
                    const int32_t second = (stacked ? 0 : n * kEvents) + k;
                    build::EitEvent e = build::Event(kMjd, second / 3600, second / 60 % 60, second % 60, 0, 0, 1);
                    e.eventId = static_cast<uint16_t>(stacked ? n * kEvents + k : second);
                    events.push_back(e);
                }
                cycle[version].push_back(build::EitSection(header, events));
                ASSERT_LE(cycle[version].back().size(), 4096u);
            }
        }
        int turns = 0;
        const GuideStore& g = h.t.s().guide;
        for (int round = 0; round < 3; ++round) {
            for (int32_t at = 0; at < kSections; at += 8) {
                // The stream thread brings eight sections, the window takes one turn.
                h.Route(0x0012, std::vector<Bytes>(cycle[round].begin() + at, cycle[round].begin() + at + 8));
                uint32_t message = 0;
                while (h.t.platform.PopMessage(message)) {
                    ViewerPrivateMessage(h.t.s(), message);
                    if (message != WM_GUIDE_READY) continue;
                    ++turns;
                    const GuideTurnWork& w = g.lastTurn;
                    ASSERT_LE(w.sections, kGuideTurnSections + kGuidePfSlots) << stacked;
                    ASSERT_LE(w.events, w.sections * kGuideMostEventsPerSection) << stacked;
                    ASSERT_LE(w.rowsScanned, w.sections * (3 * kScheduleEventsEightDays + 3 * kGuideMostEventsPerSection))
                        << stacked;
                    break;  // one turn, then the stream again
                }
            }
        }
        h.t.platform.Pump(h.t.s());
        EXPECT_GT(turns, 0);
        if (stacked) {
            EXPECT_EQ(g.listCount, kEvents) << "the section filed last holds the seconds";
        } else {
            EXPECT_EQ(g.listCount, kScheduleEventsEightDays) << "the earliest programmes fill the list";
            EXPECT_EQ(h.At(0).time, "00:00-00:00");
        }
    }
}

// Sections that come while a turn files (the stream thread refilling the
// slots at each take): the turn takes only the four that waited when it
// began, posts WM_GUIDE_READY again, and the next turn takes the rest.
TEST(GuideHandOver, ATurnTakesWhatWaitedAndAsksAgainForWhatCame) {
    GuideHarness h;
    std::vector<Bytes> sections;
    for (int i = 0; i < 12; ++i) {
        const Programme p = {static_cast<uint16_t>(0x2000 + i), i, 0, 30, A("番組"), 0x00};
        sections.push_back(Schedule(kService, static_cast<uint8_t>(i * 8), 1, {p}));
    }
    h.Route(0x0012, std::vector<Bytes>(sections.begin(), sections.begin() + 4));
    struct Refill {
        GuideHarness* h;
        const std::vector<Bytes>* sections;
        size_t next;
    } refill = {&h, &sections, 4};
    GuideStore& g = h.t.s().guide;
    g.afterTakeContext = &refill;
    g.afterTake = [](void* context) {
        Refill& r = *static_cast<Refill*>(context);
        if (r.next < r.sections->size()) r.h->Route(0x0012, {(*r.sections)[r.next++]});
    };
    h.t.platform.windowQueue.clear();
    ViewerPrivateMessage(h.t.s(), WM_GUIDE_READY);
    EXPECT_EQ(g.lastTurn.sections, 4);
    EXPECT_EQ(g.listCount, 4);
    EXPECT_EQ(g.queue.count, 4);
    ASSERT_EQ(h.t.platform.windowQueue.size(), 1u);
    EXPECT_EQ(h.t.platform.windowQueue.front(), WM_GUIDE_READY);
    h.t.platform.Pump(h.t.s());
    EXPECT_EQ(g.listCount, 12);
    EXPECT_EQ(g.queue.count, 0);
    g.afterTake = nullptr;
}

// The same carousel from a stream thread that never stops refilling the
// slots: each turn of the window thread still takes at most what waited
// when it began, and returns.
TEST(GuideHandOver, ARefillingStreamThreadDoesNotHoldTheWindowThread) {
    GuideHarness h;
    // One host call per section, so that the stream thread refills the
    // slots while the window thread files.
    std::vector<Bytes> packets;
    for (uint8_t version = 0; version < 4; ++version) {
        for (int32_t n = 0; n < 64; ++n) {
            build::EitHeader header = build::ScheduleHeader(kService, static_cast<uint8_t>(n), version);
            std::vector<build::EitEvent> events;
            for (int32_t k = 0; k < 339; ++k) {
                build::EitEvent e = build::Event(kMjd, 1, k / 60, k % 60, 0, 0, 1);
                e.eventId = static_cast<uint16_t>(n * 339 + k);
                events.push_back(e);
            }
            packets.push_back(h.sb.Stream(0x0012, {build::EitSection(header, events)}));
        }
    }
    // The stream runs on as long as the window thread takes turns.
    const int kTurns = 40;
    std::atomic<int> turns(0);
    std::thread stream([&] {
        for (size_t i = 0; turns < kTurns; ++i) {
            const Bytes& b = packets[i % packets.size()];
            ViewerStreamData(h.t.s(), b.data(), static_cast<uint32_t>(b.size()));
        }
    });
    int32_t most = 0;
    while (turns < kTurns) {
        uint32_t message = 0;
        if (!h.t.platform.PopMessage(message)) {
            std::this_thread::yield();
            continue;
        }
        ViewerPrivateMessage(h.t.s(), message);
        if (message != WM_GUIDE_READY) continue;
        most = std::max(most, h.t.s().guide.lastTurn.sections);
        ++turns;
    }
    stream.join();
    h.t.platform.Pump(h.t.s());
    EXPECT_LE(most, kGuideTurnSections + kGuidePfSlots);
    EXPECT_GT(h.t.s().guide.listCount, 0);
    // Sections that came during a turn were announced again: none is left
    // behind once the messages are handled.
    EXPECT_EQ(h.t.s().guide.queue.count, 0);
}

// --- The grid ----------------------------------------------------------------

// The window's grid, three hours high: the cells as laid out from the clock
// (20:30 on), a click selecting a programme, the keys moving between
// programmes and days, a double-click on the service's name tuning.
TEST_F(GuideView, ClicksKeysAndHeaderOfTheGrid) {
    Clock(21, 30);
    Open();
    build::EitEvent tomorrow = build::Event(kMjd + 1, 21, 0, 0, 1, 0, 0,
                                            build::ShortEventDescriptor(A("あしたのニュース"), A("")));
    tomorrow.eventId = 0x1010;
    Feed(0x0012, {Schedule(kService, 8, 1, {drama, weather}), Schedule(kService, 0, 1, {news}),
                  build::EitSection(build::ScheduleHeader(kService, 0, 1, 0x51), {tomorrow})});
    GridViewport& v = View().viewport;
    v.width = 28 + 160;
    v.height = 20 + 3 * 180;
    const GridLayout* layout = GuideLayout(t.s());
    ASSERT_NE(layout, nullptr);
    EXPECT_EQ(layout->view.firstMinute, 20 * 60 + 30);
    ASSERT_EQ(layout->cellCount, 3);
    EXPECT_EQ(std::string(layout->cells[0].text), "21:00 " + Sjis("ニュース９[字]"));
    EXPECT_EQ(layout->cells[0].rect.top, 20 + 90);
    EXPECT_EQ(layout->cells[1].genre, 3);
    EXPECT_TRUE(layout->cells[0].onAir);
    EXPECT_EQ(layout->clockY, 20 + 180);
    ASSERT_EQ(View().days.count, 2);

    enum class Action { kClick, kKey, kDoubleClick };
    const struct {
        const char* name;
        Action action;
        int32_t x, y;
        GridKey key;
        int32_t selected;     // event id, -1 none
        const char* details;  // UTF-8, found in the details
        std::vector<int32_t> tuned;
    } steps[] = {
        {"click the drama", Action::kClick, 40, 300, GridKey::kUp, 0x1002, "連続ドラマ", {}},
        {"click the hours' axis: no change", Action::kClick, 5, 300, GridKey::kUp, 0x1002,
         "連続ドラマ", {}},
        {"down", Action::kKey, 0, 0, GridKey::kDown, 0x1003, "天気予報", {}},
        {"up, up", Action::kKey, 0, 0, GridKey::kUp, 0x1002, "連続ドラマ", {}},
        {"", Action::kKey, 0, 0, GridKey::kUp, 0x1001, "ニュース９", {}},
        {"page down: tomorrow", Action::kKey, 0, 0, GridKey::kPageDown, 0x1010,
         "あしたのニュース", {}},
        {"home: the programme on air", Action::kKey, 0, 0, GridKey::kHome, 0x1001, "ニュース９",
         {}},
        {"double-click a programme: no tune", Action::kDoubleClick, 40, 300, GridKey::kUp,
         0x1001, "ニュース９", {}},
        {"double-click the service's name: tune", Action::kDoubleClick, 40, 5, GridKey::kUp,
         0x1001, "ニュース９", {27}},
    };
    for (const auto& step : steps) {
        GuideLayout(t.s());  // the window paints between the user's actions
        switch (step.action) {
            case Action::kClick: GuideClicked(t.s(), step.x, step.y); break;
            case Action::kKey: GuideKeyPressed(t.s(), step.key); break;
            case Action::kDoubleClick: GuideDoubleClicked(t.s(), step.x, step.y); break;
        }
        EXPECT_EQ(View().selection.id, step.selected) << step.name;
        EXPECT_NE(t.platform.guideTexts[IDC_GUIDE_DETAILS].find(Sjis(step.details)), std::string::npos) << step.name;
        EXPECT_EQ(t.platform.tuned, step.tuned) << step.name;
    }
    // The selected programme shows where it is.
    layout = GuideLayout(t.s());
    int32_t selected = 0;
    for (int32_t i = 0; i < layout->cellCount; ++i) selected += layout->cells[i].selected ? 1 : 0;
    EXPECT_EQ(selected, 1);
    GuideDaySelected(t.s(), 1);
    EXPECT_EQ(View().viewport.dayStart, kDay + 86400);
}

// A click lands on the programme drawn there even when the store changed
// after the grid was drawn: a new programme before it moves every index.
TEST_F(GuideView, AClickSelectsTheProgrammeDrawnThere) {
    Clock(21, 30);
    Open();
    Feed(0x0012, {Schedule(kService, 8, 1, {drama, weather}), Schedule(kService, 0, 1, {news})});
    GridViewport& v = View().viewport;
    v.width = 28 + 160;
    v.height = 20 + 3 * 180;
    GuideLayout(t.s());  // the drama drawn at y 290-425
    const Programme early = {0x1000, 20, 30, 30, A("早朝番組"), 0x00};
    Feed(0x0012, {Schedule(kService, 1, 1, {early})});
    ASSERT_EQ(Count(), 4u);
    GuideClicked(t.s(), 40, 300);
    EXPECT_EQ(View().selection.id, 0x1002);
    EXPECT_EQ(View().selection.index, 2);
    EXPECT_NE(t.platform.guideTexts[IDC_GUIDE_DETAILS].find(Sjis("連続ドラマ")), std::string::npos);
}

// The watched service has its column as soon as the guide knows it, empty,
// before its first programme; another service only with programmes.
TEST_F(GuideView, TheWatchedServiceHasAColumnBeforeItsFirstProgramme) {
    Open();
    Feed(0x0012, {Schedule(kService, 0, 1, {}), Schedule(0x0401, 0, 1, {})});
    GuideColumns& columns = View().columns;
    FillGuideColumns(t.s(), columns);
    ASSERT_EQ(columns.count, 1);
    EXPECT_EQ(columns.column[0].serviceId, kService);
    EXPECT_TRUE(columns.column[0].watched);
    GridViewport& v = View().viewport;
    v.width = 28 + 3 * 160;
    v.height = 20 + 3 * 180;
    const GridLayout* layout = GuideLayout(t.s());
    ASSERT_NE(layout, nullptr);
    EXPECT_EQ(layout->headerCount, 1);
    EXPECT_EQ(layout->cellCount, 0);
}

// More services than the grid once had columns for (a large [GUIDE]
// MemoryMB): every one has its column in the buttons' order, the watched
// one too though the store holds it last, and scrolling reaches the last.
TEST_F(GuideView, EveryServiceHeldHasAColumnReachedByScrolling) {
    ApplyGuideBudget(t.s(), 64);
    ASSERT_GE(t.s().guide.serviceCapacity, 90);
    Open();
    // Ten other multiplexes of eight services each, then the watched one.
    const int kStreams = 10;
    const int kPerStream = 8;
    for (int ts = 0; ts < kStreams; ++ts) {
        std::vector<Bytes> sections;
        for (int n = 0; n < kPerStream; ++n) {
            build::EitHeader h = build::ScheduleHeader(static_cast<uint16_t>(0x0100 + n), 0, 1, 0x60);
            h.transportStreamId = static_cast<uint16_t>(0x4000 + ts);
            h.lastTableId = 0x60;
            build::EitEvent e = build::Event(kMjd, 21, 0, 0, 1, 0, 0, build::ShortEventDescriptor(A("番組"), A("")));
            e.eventId = static_cast<uint16_t>(0x2000 + ts * kPerStream + n);
            sections.push_back(build::EitSection(h, {e}));
        }
        Feed(0x0012, sections);
    }
    Feed(0x0012, {Schedule(kService, 0, 1, {news})});
    const int32_t services = kStreams * kPerStream + 1;
    ASSERT_EQ(GuideServiceCount(t.s().guide), services);

    GuideColumns& columns = View().columns;
    FillGuideColumns(t.s(), columns);
    ASSERT_EQ(columns.count, services);
    int32_t watchedColumns = 0;
    for (int32_t i = 0; i < columns.count; ++i) watchedColumns += columns.column[i].watched ? 1 : 0;
    EXPECT_EQ(watchedColumns, 1);
    // In order: the buttons' channel first, then each multiplex by id.
    for (int32_t i = 1; i < columns.count; ++i) {
        const GuideColumn& a = columns.column[i - 1];
        const GuideColumn& b = columns.column[i];
        if (a.channel != b.channel) continue;
        EXPECT_TRUE(a.transportStreamId < b.transportStreamId ||
                    (a.transportStreamId == b.transportStreamId && a.serviceId < b.serviceId))
            << i;
    }

    GridViewport& v = View().viewport;
    v.width = 28 + 3 * 160;
    v.height = 20 + 3 * 180;
    GuideLayout(t.s());
    GuideScrolled(t.s(), v.firstMinute, 100000);
    const GridLayout* layout = GuideLayout(t.s());
    ASSERT_NE(layout, nullptr);
    EXPECT_EQ(layout->view.firstColumn, services - 3);
    ASSERT_EQ(layout->headerCount, 3);
    EXPECT_EQ(layout->headers[2].column, services - 1);
    // The last column's programme is drawn and can be clicked.
    bool lastDrawn = false;
    for (int32_t i = 0; i < layout->cellCount; ++i) lastDrawn = lastDrawn || layout->cells[i].column == services - 1;
    EXPECT_TRUE(lastDrawn);
}

// Its size: read from "GUIDE" Width/Height (nothing a window could be reads
// as none), written on every size once the window is initialised, with the
// position's guards.
TEST_F(GuideView, SizeIsKeptWithThePositionsGuards) {
    const struct {
        const char* width;
        const char* height;
        int32_t w, h;
    } reads[] = {{"700", "500", 700, 500}, {"", "", 0, 0},       {"0", "500", 0, 0},
                 {"-5", "500", 0, 0},      {"700", "99999", 0, 0}, {"x", "y", 0, 0}};
    for (const auto& r : reads) {
        t.platform.settings["GUIDE/Width"] = r.width;
        t.platform.settings["GUIDE/Height"] = r.height;
        int32_t w = -1, h = -1;
        GuideSize(t.s(), w, h);
        EXPECT_EQ(w, r.w) << r.width << "x" << r.height;
        EXPECT_EQ(h, r.h) << r.width << "x" << r.height;
    }
    GuideResized(t.s(), Shown(WindowShow::kNormal, 1, 2, 1, 2));
    EXPECT_TRUE(t.platform.settingWrites.empty()) << "before WM_INITDIALOG";
    Open();
    const struct {
        const char* name;
        WindowPlacement placement;
        const char* width;  // nullptr: nothing written
        const char* height;
    } cases[] = {
        {"normal", WindowPlacement{WindowShow::kNormal, ScreenRect{10, 20, 710, 520}, ScreenRect{10, 20, 710, 520}},
         "700", "500"},
        {"maximised: the size it returns to",
         WindowPlacement{WindowShow::kMaximised, ScreenRect{-8, -8, 1928, 1088}, ScreenRect{10, 20, 650, 500}}, "640",
         "480"},
        {"minimised", WindowPlacement{WindowShow::kMinimised, ScreenRect{-32000, -32000, -31840, -31970},
                                      ScreenRect{10, 20, 710, 520}},
         nullptr, nullptr},
        {"empty", WindowPlacement{WindowShow::kNormal, ScreenRect{10, 20, 10, 20}, ScreenRect{10, 20, 10, 20}},
         nullptr, nullptr},
    };
    for (const auto& c : cases) {
        t.platform.settingWrites.clear();
        GuideResized(t.s(), c.placement);
        if (c.width == nullptr) {
            EXPECT_TRUE(t.platform.settingWrites.empty()) << c.name;
        } else {
            EXPECT_EQ(t.platform.settingWrites,
                      (std::vector<std::pair<std::string, std::string>>{{"GUIDE/Width", c.width},
                                                                        {"GUIDE/Height", c.height}}))
                << c.name;
        }
    }
}

// The status line: a text given before the window opens shows when it does,
// one given while it is open at once.
TEST_F(GuideView, StatusLine) {
    GuideStatusText(t.s(), Sjis("番組表を読み込みました").c_str());
    EXPECT_EQ(t.platform.guideTexts.count(IDC_GUIDE_STATUS), 0u);
    Open();
    EXPECT_EQ(t.platform.guideTexts[IDC_GUIDE_STATUS], Sjis("番組表を読み込みました"));
    GuideStatusText(t.s(), "");
    EXPECT_EQ(t.platform.guideTexts[IDC_GUIDE_STATUS], "");
}

// A programme of a service other than the one received cannot be recorded
// by the host: its own refusal.
TEST(GuideRequest, AnotherServicesProgrammeHasItsRefusal) {
    EXPECT_EQ(std::string(GuideRequestLabel(GuideRequestStatus::kOtherService)),
              Sjis("録画予約（視聴中のサービスのみ）"));
    EXPECT_NE(std::string(GuideRequestLabel(GuideRequestStatus::kOtherService)),
              GuideRequestLabel(GuideRequestStatus::kRequestable));
}

// Columns in the channel buttons' order: by the button showing the
// channel, channels on no button after them, unknown ones last; a
// multiplex's services by id, so the one-segment service stands beside its
// multiplex.
TEST(GuideColumnOrder, AsTheChannelButtons) {
    const int32_t buttons[kChannelButtonCount] = {27, 26, 25, 22, 21, 16, 0, 0, 0, 0, 0, 0};
    struct In {
        uint16_t transportStream;
        uint16_t service;
        int32_t channel;
    };
    const struct {
        const char* name;
        std::vector<In> columns;
        std::vector<uint16_t> order;  // service ids
    } cases[] = {
        {"buttons' order, not the channels'", {{2, 0x0408, 26}, {1, 0x0400, 27}, {3, 0x0410, 25}},
         {0x0400, 0x0408, 0x0410}},
        {"one-segment beside its multiplex",
         {{2, 0x0588, 26}, {1, 0x0401, 27}, {2, 0x0408, 26}, {1, 0x0400, 27}, {1, 0x05A8, 27}},
         {0x0400, 0x0401, 0x05A8, 0x0408, 0x0588}},
        {"no button: after, by channel; unknown last",
         {{9, 0x0900, -1}, {5, 0x0500, 40}, {4, 0x0400, 30}, {1, 0x0100, 16}},
         {0x0100, 0x0400, 0x0500, 0x0900}},
        {"one column", {{1, 0x0400, 27}}, {0x0400}},
    };
    for (const auto& c : cases) {
        std::vector<GuideColumn> columns;
        for (const In& in : c.columns) {
            GuideColumn column = {};
            column.transportStreamId = in.transportStream;
            column.serviceId = in.service;
            column.channel = in.channel;
            columns.push_back(column);
        }
        OrderGuideColumns(columns.data(), static_cast<int32_t>(columns.size()), buttons, kChannelButtonCount);
        std::vector<uint16_t> order;
        for (const GuideColumn& column : columns) order.push_back(column.serviceId);
        EXPECT_EQ(order, c.order) << c.name;
    }
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
