// The caption view: opened from the viewer's menu, its texts, the hold
// button, the "Captions" setting, and the hand-over it switches on and off.
#include <gtest/gtest.h>

#include <string>

#include "plugin/caption_handover.h"
#include "plugin/caption_reader.h"
#include "plugin/plugin_state.h"
#include "tests/support/test_plugin.h"
#include "ui/caption_view.h"
#include "ui/channel_buttons.h"
#include "ui/resource.h"
#include "ui/viewer.h"
#include "ui/viewer_menu.h"

namespace {

const char kCaptions[] = "\x8E\x9A\x96\x8B";  // 字幕
const char kHold[] = "\x8C\xC5\x92\xE8";      // 固定
const char kFollow[] = "\x8D\x58\x90\x56";    // 更新

struct View {
    TestPlugin t;
    explicit View(const char* captionsSetting = nullptr) {
        if (captionsSetting != nullptr) t.platform.settings["DISPLAY/Captions"] = captionsSetting;
        LoadSettingsBeforeWindow(t.s());
        ViewerInitialised(t.s());
    }
    void Show(const std::string& rows) {
        ShowCaption(t.s().captionReader.store, rows.data(), static_cast<int32_t>(rows.size()));
    }
    std::string Setting() {
        std::string last;
        for (const auto& w : t.platform.settingWrites) {
            if (w.first == "DISPLAY/Captions") last = w.second;
        }
        return last;
    }
    bool Wanted() { return t.s().captionHandover.wanted; }
};

TEST(CaptionView, TheViewersMenuHasOneItemPerWindowAndOpensAndClosesTheView) {
    View v;
    ViewerMenuItem items[kViewerMenuCapacity];
    ASSERT_EQ(ViewerMenuItems(v.t.s(), items, kViewerMenuCapacity), 1);
    EXPECT_EQ(items[0].command, IDM_VIEWER_CAPTIONS);
    EXPECT_STREQ(items[0].label, kCaptions);
    EXPECT_FALSE(items[0].checked);
    EXPECT_EQ(ViewerMenuItems(v.t.s(), items, 0), 0);
    EXPECT_FALSE(v.t.platform.captionWindow) << "opt-in: closed by default";
    EXPECT_FALSE(v.Wanted());

    ViewerCommand(v.t.s(), IDM_VIEWER_CAPTIONS);
    EXPECT_TRUE(v.t.platform.captionWindow);
    EXPECT_TRUE(v.Wanted());
    EXPECT_EQ(v.Setting(), "1");
    EXPECT_EQ(v.t.platform.CaptionText(IDC_CAPTION_HOLD), kHold);
    ViewerMenuItems(v.t.s(), items, kViewerMenuCapacity);
    EXPECT_TRUE(items[0].checked);

    ViewerCommand(v.t.s(), IDM_VIEWER_CAPTIONS);
    EXPECT_FALSE(v.t.platform.captionWindow);
    EXPECT_FALSE(v.Wanted());
    EXPECT_EQ(v.Setting(), "0");
    EXPECT_EQ(v.t.platform.captionCloses, 1);
}

TEST(CaptionView, TheCaptionsSettingOpensItWithTheViewer) {
    struct Case {
        const char* value;
        bool open;
    };
    const Case cases[] = {{nullptr, false}, {"0", false}, {"1", true}, {"2", false}, {"yes", false}};
    for (const Case& c : cases) {
        View v(c.value);
        EXPECT_EQ(v.t.platform.captionWindow, c.open) << (c.value ? c.value : "(none)");
        EXPECT_EQ(v.Wanted(), c.open);
        EXPECT_EQ(v.Setting(), "") << "reading it writes nothing";
    }
    // CaptionLines bounds the recent lines; out of range gives the default.
    const std::pair<const char*, int32_t> limits[] = {{"5", 5}, {"0", kCaptionRecentLines},
                                                      {"9999", kCaptionRecentLines}, {"-3", kCaptionRecentLines}};
    for (const auto& l : limits) {
        TestPlugin t;
        t.platform.settings["DISPLAY/CaptionLines"] = l.first;
        LoadSettingsBeforeWindow(t.s());
        ViewerInitialised(t.s());
        EXPECT_EQ(t.s().captionReader.store.lineLimit, l.second) << l.first;
    }
}

TEST(CaptionView, ShowsTheCaptionAndTheRecentLinesAndHoldsThemForCopying) {
    View v("1");
    v.Show("\x82\xA0\x82\xA2\nABC");
    v.Show("DEF");
    CaptionViewCommand(v.t.s(), IDC_CAPTION_HOLD);
    EXPECT_TRUE(v.t.s().captionLinesHeld);
    EXPECT_EQ(v.t.platform.CaptionText(IDC_CAPTION_HOLD), kFollow);
    CaptionViewCommand(v.t.s(), IDC_CAPTION_HOLD);
    EXPECT_EQ(v.t.platform.CaptionText(IDC_CAPTION_HOLD), kHold);
    EXPECT_EQ(v.t.platform.CaptionText(IDC_CAPTION_LINES), "\x82\xA0\x82\xA2\r\nABC\r\nDEF\r\n")
        << "following again shows what came while held";

    // Reopened, the view shows what the store holds at once.
    ToggleCaptionView(v.t.s());
    ToggleCaptionView(v.t.s());
    EXPECT_EQ(v.t.platform.CaptionText(IDC_CAPTION_CURRENT), "DEF");
    EXPECT_EQ(v.t.platform.CaptionText(IDC_CAPTION_LINES), "\x82\xA0\x82\xA2\r\nABC\r\nDEF\r\n");
}

TEST(CaptionView, ClosedByItsBoxOrWithItsOwner) {
    View v("1");
    CaptionViewCommand(v.t.s(), 2);  // IDCANCEL: close box, Esc
    EXPECT_FALSE(v.t.platform.captionWindow);
    EXPECT_FALSE(v.Wanted());
    EXPECT_EQ(v.Setting(), "0");

    View w("1");
    w.t.platform.captionWindow = false;  // destroyed with the viewer
    CaptionViewDestroyed(w.t.s());
    EXPECT_FALSE(w.t.s().captionViewOpen);
    EXPECT_FALSE(w.Wanted());
    EXPECT_EQ(w.Setting(), "") << "the user did not close it: it opens again next time";
    CaptionViewCommand(w.t.s(), IDC_CAPTION_HOLD);
    EXPECT_FALSE(w.t.s().captionLinesHeld) << "no hold without a window";
}

TEST(CaptionView, AWindowThatCannotBeCreatedLeavesTheHandOverOff) {
    TestPlugin t;
    t.platform.captionWindowFails = true;
    ViewerCommand(t.s(), IDM_VIEWER_CAPTIONS);
    EXPECT_FALSE(t.s().captionViewOpen);
    EXPECT_FALSE(t.s().captionHandover.wanted);
    EXPECT_TRUE(t.platform.settingWrites.empty());
}

TEST(CaptionView, ChangesItsControlsOnTheWindowsThreadWithoutTheLock) {
    View v;
    v.t.platform.probeState = &v.t.s();
    ViewerCommand(v.t.s(), IDM_VIEWER_CAPTIONS);
    v.Show("ABC");
    CaptionViewCommand(v.t.s(), IDC_CAPTION_HOLD);
    CaptionViewCommand(v.t.s(), IDC_CAPTION_HOLD);
    HandleCaptionReady(v.t.s());
    ViewerCommand(v.t.s(), IDM_VIEWER_CAPTIONS);
    v.t.platform.probeState = nullptr;
    EXPECT_GT(v.t.platform.captionHistory.size(), 3u);
    EXPECT_TRUE(v.t.platform.violations.empty()) << v.t.platform.violations.front();
}

}  // namespace
