// The window after the host changed the service. The change forgets the old
// service's events with their end and start times and date, and resets the
// view to the present one; the window follows on its own thread when it
// handles WM_SERVICE_VIEW. Until then a press acts on what the window
// shows, with what is known of the new service: the recording request
// never asks for the old programme.
#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "plugin/messages.h"
#include "plugin/plugin_core.h"
#include "plugin/plugin_state.h"
#include "tests/support/test_plugin.h"
#include "tools/streamkit/stream_builder.h"
#include "ui/channel_buttons.h"
#include "ui/programme_display.h"
#include "ui/resource.h"
#include "ui/viewer.h"

namespace {

using build::Bytes;

const uint16_t kOld = 0x5DB8;
const uint16_t kNew = 0x5DB9;
const uint16_t kMjd = 0xE4C1;  // 2019-03-01
const uint16_t kEitPid = 0x0012;
const uint16_t kSdtPid = 0x0011;

const std::string kPresentLabel = "\x8C\xBB";    // 現
const std::string kFollowingLabel = "\x8E\x9F";  // 次
const std::string kPresentCaption = "\x94\xD4\x91\x67\x8F\xEE\x95\xF1\x81\x69\x8C\xBB\x8D\xDD\x81\x6A- ";
const std::string kFollowingCaption = "\x94\xD4\x91\x67\x8F\xEE\x95\xF1\x81\x69\x8E\x9F\x94\xD4\x91\x67\x81\x6A- ";

typedef std::vector<std::pair<uint32_t, uint32_t>> Requests;

// Content descriptor (tag 0x54) with one genre: the event gets a tooltip.
Bytes Genre() { return build::Descriptor(0x54, {0x30, 0xFF}); }

Bytes Eit(uint16_t service, uint8_t number, int hour, int durationHours, int durationMinutes, const char* title) {
    return build::EitPfSection(
        service, number,
        {build::Event(kMjd, hour, 0, 0, durationHours, durationMinutes, 0,
                      build::Cat({build::ShortEventDescriptor(build::Text(title), build::Text("TEXT")), Genre()}))});
}

struct Window {
    TestPlugin t;
    build::StreamBuilder sb;

    Window() {
        LoadSettingsBeforeWindow(t.s());
        PluginOnChannelChange(t.s(), 27, kOld);
        t.platform.Pump(t.s());
    }
    void Feed(uint16_t pid, const Bytes& section) {
        const Bytes stream = sb.Stream(pid, {section});
        ViewerStreamData(t.s(), stream.data(), static_cast<uint32_t>(stream.size()));
        t.platform.Pump(t.s());
    }
    // Broadcast time 21:30:00, no tick since.
    void SetClock() {
        std::lock_guard<std::mutex> guard(t.s().lock);
        t.s().clockHour = 21;
        t.s().clockMinute = 30;
        t.s().clockSecond = 0;
        t.s().tickCount = 0;
    }
    Requests Request() {
        SetClock();
        t.platform.ownerPosted.clear();
        ViewerCommand(t.s(), IDC_RECORD_REQUEST);
        return t.platform.ownerPosted;
    }
    bool Queued(uint32_t message) {
        for (uint32_t m : t.platform.windowQueue) {
            if (m == message) return true;
        }
        return false;
    }
    // IDC_PRESENT_FOLLOWING; never set, it shows the template's 現.
    std::string ViewLabel() {
        const std::string label = t.platform.Text(IDC_PRESENT_FOLLOWING);
        return label.empty() ? kPresentLabel : label;
    }
    // The window shows the state: the view's label and caption, its text
    // and that text's tooltip.
    void ExpectWindowShowsTheState() {
        View view;
        std::string text;
        {
            std::lock_guard<std::mutex> guard(t.s().lock);
            view = t.s().view;
            text = view == View::kFollowing ? t.s().followingText : t.s().presentText;
        }
        const bool following = view == View::kFollowing;
        EXPECT_EQ(ViewLabel(), following ? kFollowingLabel : kPresentLabel);
        const std::string& caption = following ? kFollowingCaption : kPresentCaption;
        EXPECT_EQ(t.platform.windowTitle.compare(0, caption.size(), caption), 0) << t.platform.windowTitle;
        EXPECT_EQ(t.platform.Text(IDC_INFO_TEXT), text);
        if (text.empty()) {
            EXPECT_EQ(t.platform.ToolTip(IDC_INFO_TEXT), "");
        }
    }
};

enum class After { kNothing, kMessage, kToggle };

struct ChangeCase {
    const char* name;
    bool following;  // the view when the service changes
    After after;     // what the window's thread does before the request
    Requests request;
    const std::string* label;  // IDC_PRESENT_FOLLOWING at the request
};

void PrintTo(const ChangeCase& c, std::ostream* os) { *os << c.name; }

class WindowAfterServiceChange : public ::testing::TestWithParam<ChangeCase> {};

TEST_P(WindowAfterServiceChange, TheRequestFollowsTheWindowAndNeverTheOldProgramme) {
    const ChangeCase& c = GetParam();
    Window w;
    // The old service: 21:00-22:00 now, 22:00-22:54 next; the clock at 21:30.
    w.Feed(kEitPid, Eit(kOld, 0, 21, 1, 0, "OLD NOW"));
    if (c.following) {
        ViewerCommand(w.t.s(), IDC_PRESENT_FOLLOWING);
        w.Feed(kEitPid, Eit(kOld, 1, 22, 0, 54, "OLD NEXT"));
    }
    ASSERT_NE(w.t.platform.Text(IDC_INFO_TEXT), "");
    ASSERT_NE(w.t.platform.ToolTip(IDC_INFO_TEXT), "");
    // What the old programme asked for: 30 minutes; wait 1789 s, 55 minutes.
    ASSERT_EQ(w.Request(), (Requests{{WM_RECORD_REQUEST, c.following ? (1789u << 16) | 55u : 30u}}));

    PluginOnChannelChange(w.t.s(), 27, kNew);
    {
        std::lock_guard<std::mutex> guard(w.t.s().lock);
        const PluginState& s = w.t.s();
        EXPECT_EQ(s.view, View::kPresent);
        EXPECT_EQ(s.presentEndHour, -1);
        EXPECT_EQ(s.presentEndMinute, -1);
        EXPECT_EQ(s.presentEndSecond, -1);
        EXPECT_EQ(s.followingStartHour, -1);
        EXPECT_EQ(s.followingStartMinute, -1);
        EXPECT_EQ(s.followingStartSecond, -1);
        EXPECT_EQ(s.followingDurationHours, -1);
        EXPECT_EQ(s.followingDurationMinutes, -1);
        EXPECT_EQ(s.eventYear, 0);
        EXPECT_EQ(s.eventMonth, 0);
        EXPECT_EQ(s.eventDay, 0);
    }
    EXPECT_TRUE(w.Queued(WM_SERVICE_VIEW));

    if (c.after == After::kMessage) w.t.platform.Pump(w.t.s());
    if (c.after == After::kToggle) ViewerCommand(w.t.s(), IDC_PRESENT_FOLLOWING);
    EXPECT_EQ(w.ViewLabel(), *c.label);
    if (c.after != After::kNothing) w.ExpectWindowShowsTheState();
    EXPECT_EQ(w.Request(), c.request);

    // Whatever came first, once the window has handled its messages it
    // shows the state, and the request follows it.
    w.t.platform.Pump(w.t.s());
    w.ExpectWindowShowsTheState();
    const bool following = w.t.s().view == View::kFollowing;
    EXPECT_EQ(w.Request(), following ? Requests{} : (Requests{{WM_RECORD_REQUEST, 180u}}));

    // The new service's present event, 21:00-23:00: 90 minutes.
    if (following) ViewerCommand(w.t.s(), IDC_PRESENT_FOLLOWING);
    w.Feed(kEitPid, Eit(kNew, 0, 21, 2, 0, "NEW NOW"));
    EXPECT_EQ(w.t.s().presentEndHour, 23);
    EXPECT_NE(w.t.platform.Text(IDC_INFO_TEXT), "");
    w.ExpectWindowShowsTheState();
    EXPECT_EQ(w.Request(), (Requests{{WM_RECORD_REQUEST, 90u}}));
}

INSTANTIATE_TEST_SUITE_P(
    BothViews, WindowAfterServiceChange,
    ::testing::Values(
        // The present view asks for the unknown length, not the old
        // programme's end (30 minutes).
        ChangeCase{"PresentBeforeTheWindowFollows", false, After::kNothing, {{WM_RECORD_REQUEST, 180u}},
                   &kPresentLabel},
        ChangeCase{"PresentAfterTheWindowFollowed", false, After::kMessage, {{WM_RECORD_REQUEST, 180u}},
                   &kPresentLabel},
        // The window still shows 次: the following programme of the new
        // service is not known, so nothing is asked (not "record now").
        ChangeCase{"FollowingBeforeTheWindowFollows", true, After::kNothing, {}, &kFollowingLabel},
        // The window has switched to 現: the present view's request.
        ChangeCase{"FollowingAfterTheWindowFollowed", true, After::kMessage, {{WM_RECORD_REQUEST, 180u}},
                   &kPresentLabel},
        // The view button pressed before the window followed: it switches
        // from the view the window names.
        ChangeCase{"FollowingThenViewButton", true, After::kToggle, {{WM_RECORD_REQUEST, 180u}}, &kPresentLabel},
        ChangeCase{"PresentThenViewButton", false, After::kToggle, {}, &kFollowingLabel}),
    [](const ::testing::TestParamInfo<ChangeCase>& param) { return std::string(param.param.name); });

// When the window shows nothing of the service being left, nothing is
// posted: the window already shows the state (and tools that print every
// change print nothing new).
TEST(ServiceChangeQuiet, NothingIsPostedWhenTheWindowShowsNothingOfTheOldService) {
    struct Case {
        const char* name;
        void (*before)(Window& w);
    };
    const Case cases[] = {
        {"first service", [](Window&) {}},
        {"view button twice, no event", [](Window& w) {
             ViewerCommand(w.t.s(), IDC_PRESENT_FOLLOWING);
             ViewerCommand(w.t.s(), IDC_PRESENT_FOLLOWING);
         }},
        {"second change after the window followed the first", [](Window& w) {
             w.Feed(kEitPid, Eit(kOld, 0, 21, 1, 0, "OLD NOW"));
             PluginOnChannelChange(w.t.s(), 27, 0x5DBA);
             w.t.platform.Pump(w.t.s());
         }},
        {"only the service name known", [](Window& w) {
             w.Feed(kSdtPid, build::SdtSection(build::kDefaultTransportStreamId, build::kDefaultNetworkId,
                                               {build::NamedService(kOld, build::Text("OLD"))}));
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Window w;
        c.before(w);
        w.t.platform.windowPosted.clear();
        PluginOnChannelChange(w.t.s(), 27, kNew);
        EXPECT_EQ(w.t.platform.windowPosted, std::vector<uint32_t>{});
        EXPECT_FALSE(w.t.s().serviceViewPending);
    }
}

// A change of channel on the same service keeps the events: nothing to show
// again.
TEST(ServiceChangeQuiet, SameServiceOnAnotherChannelKeepsTheView) {
    Window w;
    w.Feed(kEitPid, Eit(kOld, 0, 21, 1, 0, "OLD NOW"));
    const std::string shown = w.t.platform.Text(IDC_INFO_TEXT);
    PluginOnChannelChange(w.t.s(), 28, kOld);
    w.t.platform.Pump(w.t.s());
    EXPECT_EQ(w.t.platform.Text(IDC_INFO_TEXT), shown);
    EXPECT_EQ(w.Request(), (Requests{{WM_RECORD_REQUEST, 30u}}));
}

// WM_SERVICE_VIEW changes the controls on the window's thread with the lock
// free, the change itself coming from the host's thread.
TEST(ServiceChangeLocks, TheViewIsShownOnTheWindowsThreadWithoutTheLock) {
    Window w;
    w.Feed(kEitPid, Eit(kOld, 0, 21, 1, 0, "OLD NOW"));
    std::thread host([&w] { PluginOnChannelChange(w.t.s(), 27, kNew); });
    host.join();
    w.t.platform.probeState = &w.t.s();
    EXPECT_EQ(w.t.platform.Pump(w.t.s()), 1);
    w.t.platform.probeState = nullptr;
    EXPECT_EQ(w.t.platform.violations, std::vector<std::string>{});
    EXPECT_EQ(w.t.platform.Text(IDC_INFO_TEXT), "");
}

}  // namespace
