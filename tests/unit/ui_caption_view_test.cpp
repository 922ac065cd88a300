// The caption view: opened from the viewer's menu, its texts, the hold
// button, the "Captions" setting, and the hand-over it switches on and off.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "plugin/caption_handover.h"
#include "plugin/caption_reader.h"
#include "plugin/plugin_state.h"
#include "plugin/plugin_core.h"
#include "tests/support/real_data.h"
#include "tests/support/test_plugin.h"
#include "tests/unit/text_test_helpers.h"
#include "tools/streamkit/caption_builder.h"
#include "tools/streamkit/stream_builder.h"
#include "ts/caption_stream.h"
#include "ui/caption_view.h"
#include "ui/channel_buttons.h"
#include "ui/resource.h"
#include "ui/viewer.h"
#include "ui/viewer_menu.h"

namespace {

const char kCaptions[] = "\x8E\x9A\x96\x8B";  // 字幕
const char kHold[] = "\x8C\xC5\x92\xE8";      // 固定
const char kFollow[] = "\x8D\x58\x90\x56";    // 更新

std::string Cp932(const std::string& sjis) { return ShiftJisToUtf8(sjis); }

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
    ASSERT_EQ(ViewerMenuItems(v.t.s(), items, kViewerMenuCapacity), 2);
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

using build::Bytes;

Bytes Tag(uint8_t tag) { return build::Descriptor(kStreamIdentifierDescriptorTag, {tag}); }

// A viewer fed a stream: the PMT that names the caption stream, then the
// caption PES payloads as PES and TS packets, the window's messages handled
// after each host buffer.
struct Fed {
    TestPlugin t;
    build::StreamBuilder sb;
    uint64_t pts = 0;
    void Route(const Bytes& b) {
        ViewerStreamData(t.s(), b.data(), static_cast<uint32_t>(b.size()));
        t.platform.Pump(t.s());
    }
    // The PAT and the PMT of the full-segment service 0x0400 (on 0x0101),
    // which names its caption stream on 0x0130 with component tag 0x30.
    void FullSegmentServicePsi() {
        Route(sb.Stream(kPatPid, {build::PatSection(0x7FE0, {{0x0400, 0x0101}, {0x0408, kOneSegPmtPid}})}));
        Route(sb.Stream(0x0101, {build::PmtSection(0x0400, 0x0111, Bytes(),
                                                   {{0x02, 0x0111, Tag(0x00)}, {0x06, 0x0130, Tag(0x30)}})}));
    }
    void Captions(uint16_t pid, const std::vector<Bytes>& payloads) {
        for (const Bytes& p : payloads) {
            pts += 45000;
            Route(build::Join(build::PesPackets(sb, pid, build::PesPacketWithPts(pts, p))));
        }
    }
};

TEST(CaptionView, ShowsTheRealCaptionsOfAFullSegmentServiceWithoutRuby) {
    // The real stream is a full-segment service's (profile A, tag 0x30).
    Fed f;
    ChangeChannel(f.t.s(), 27, 0x0400);
    ViewerCommand(f.t.s(), IDM_VIEWER_CAPTIONS);
    f.FullSegmentServicePsi();
    const std::vector<Bytes> payloads = build::SplitCaptionPayloads(ReadRealData("captions/toriko_subs.es"));
    ASSERT_GT(payloads.size(), 40u);
    // Captions of another PID are not read.
    f.Captions(0x0131, std::vector<Bytes>(payloads.begin(), payloads.begin() + 40));
    EXPECT_EQ(f.t.platform.CaptionText(IDC_CAPTION_LINES), "");
    f.Captions(0x0130, std::vector<Bytes>(payloads.begin(), payloads.begin() + 40));
    const std::string lines = f.t.platform.CaptionText(IDC_CAPTION_LINES);
    const std::string expected[] = {Sjis("＜世はグルメ時代＞"), Sjis("あまたの食材を追い求める＞"),
                                    Sjis("一人の美食屋がいた！＞")};
    size_t at = 0;
    for (const std::string& line : expected) {
        const size_t found = lines.find(line + "\r\n", at);
        ASSERT_NE(found, std::string::npos) << Cp932(line);
        at = found;
    }
    // The ruby above 捕獲 is left out; the line under it stays.
    EXPECT_EQ(lines.find(Sjis("ほかく")), std::string::npos);
    EXPECT_NE(lines.find(Sjis("ＧＯＤの捕獲を目指す")), std::string::npos);
    // The current caption showed each caption in turn and never went empty:
    // the stream clears each one after a TIME wait, which the view cannot
    // time, so it stays up until the next. The last is up still.
    std::vector<std::string> shown;
    for (const auto& h : f.t.platform.captionHistory) {
        if (h.first == IDC_CAPTION_CURRENT && h.second != "") shown.push_back(h.second);
    }
    at = 0;
    for (const std::string& caption : expected) {
        const auto found = std::find(shown.begin() + static_cast<long>(at), shown.end(), caption);
        ASSERT_NE(found, shown.end()) << Cp932(caption);
        at = static_cast<size_t>(found - shown.begin());
    }
    const std::string current = f.t.platform.CaptionText(IDC_CAPTION_CURRENT);
    ASSERT_FALSE(current.empty());
    EXPECT_EQ(lines.substr(lines.size() - current.size() - 2), current + "\r\n");
}

TEST(CaptionView, ACaptionClearedAfterATimeWaitStaysUpUntilTheNextStatement) {
    Fed f;
    ViewerCommand(f.t.s(), IDM_VIEWER_CAPTIONS);
    f.Route(f.sb.Stream(kOneSegPmtPid, {build::PmtSection(0x0408, 0x01FF, Bytes(),
                                                          {{0x1B, 0x0181, Tag(0x81)}, {0x06, 0x0187, Tag(0x87)}})}));
    // Profile C: each statement clears the screen and designates the event
    // texts' code sets first; `wait` is a TIME wait of that many tenths of a
    // second followed by a clear.
    const auto statement = [](uint8_t version, const std::vector<const char*>& pieces) {
        Bytes body = {0x0C, 0x1B, 0x24, 0x42, 0x1B, 0x29, 0x4A, 0x1B, 0x2A, 0x30, 0x1B, 0x2B, 0x31, 0x0F, 0x1B, 0x7D};
        for (const char* piece : pieces) {
            const Bytes coded = piece[0] == '\0' ? Bytes{0x9D, 0x20, 0x40 + 30, 0x0C} : EncodeAribFromUtf8(piece);
            body.insert(body.end(), coded.begin(), coded.end());
        }
        return build::CaptionPesPayload(
            build::DataGroup(0x01, version, build::StatementData({build::StatementBody(body)})));
    };
    const char* const wait = "";
    f.Captions(0x0187, {build::CaptionPesPayload(build::DataGroup(0x00, 0, build::ManagementData({"jpn"}))),
                        statement(0, {"三秒の字幕", wait})});
    EXPECT_EQ(f.t.platform.CaptionText(IDC_CAPTION_CURRENT), Sjis("三秒の字幕"));
    EXPECT_EQ(f.t.platform.CaptionText(IDC_CAPTION_LINES), Sjis("三秒の字幕") + "\r\n");
    // A screen written after the wait replaces it; a statement that clears
    // without a wait clears it at once.
    f.Captions(0x0187, {statement(1, {"前", wait, "後"})});
    EXPECT_EQ(f.t.platform.CaptionText(IDC_CAPTION_CURRENT), Sjis("後"));
    EXPECT_EQ(f.t.platform.CaptionText(IDC_CAPTION_LINES),
              Sjis("三秒の字幕") + "\r\n" + Sjis("前") + "\r\n" + Sjis("後") + "\r\n");
    f.Captions(0x0187, {statement(2, {})});
    EXPECT_EQ(f.t.platform.CaptionText(IDC_CAPTION_CURRENT), "");
}

TEST(CaptionView, ShowsTheOneSegmentServicesCaptions) {
    // Profile C: the statement designates the event texts' code sets first,
    // as its own defaults differ (DRCS-1 in G0).
    Fed f;
    ViewerCommand(f.t.s(), IDM_VIEWER_CAPTIONS);
    f.Route(f.sb.Stream(kOneSegPmtPid, {build::PmtSection(0x0408, 0x01FF, Bytes(),
                                                          {{0x1B, 0x0181, Tag(0x81)}, {0x06, 0x0187, Tag(0x87)}})}));
    Bytes text = {0x0C, 0x1B, 0x24, 0x42, 0x1B, 0x29, 0x4A, 0x1B, 0x2A, 0x30, 0x1B, 0x2B, 0x31, 0x0F, 0x1B, 0x7D};
    const Bytes coded = EncodeAribFromUtf8("ワンセグの字幕");
    text.insert(text.end(), coded.begin(), coded.end());
    f.Captions(0x0187, {build::CaptionPesPayload(build::DataGroup(0x00, 0, build::ManagementData({"jpn"}))),
                        build::CaptionPesPayload(build::DataGroup(
                            0x01, 0, build::StatementData({build::StatementBody(text)})))});
    EXPECT_EQ(f.t.platform.CaptionText(IDC_CAPTION_CURRENT), Sjis("ワンセグの字幕"));
}

TEST(CaptionView, ShowsAFullSegmentServicesCaptionsAndForgetsThemOnAServiceChange) {
    Fed f;
    ChangeChannel(f.t.s(), 27, 0x0400);
    ViewerCommand(f.t.s(), IDM_VIEWER_CAPTIONS);
    f.FullSegmentServicePsi();
    const Bytes management = build::CaptionPesPayload(build::DataGroup(0x00, 0, build::ManagementData({"jpn"})));
    const Bytes statement = build::CaptionPesPayload(build::DataGroup(
        0x01, 0, build::StatementData({build::StatementBody(EncodeAribFromUtf8("字幕の試験"))})));
    f.Captions(0x0130, {management, statement});
    EXPECT_EQ(f.t.platform.CaptionText(IDC_CAPTION_CURRENT), Sjis("字幕の試験"));
    EXPECT_EQ(f.t.platform.CaptionText(IDC_CAPTION_LINES), Sjis("字幕の試験") + "\r\n");

    ChangeChannel(f.t.s(), 27, 0x0401);
    f.t.platform.Pump(f.t.s());
    EXPECT_EQ(f.t.platform.CaptionText(IDC_CAPTION_CURRENT), "") << "the old service's caption went";
    EXPECT_EQ(f.t.platform.CaptionText(IDC_CAPTION_LINES), Sjis("字幕の試験") + "\r\n");

    // Back on the service: a PMT version without the caption component
    // clears the caption shown, though no caption packet comes.
    ChangeChannel(f.t.s(), 27, 0x0400);
    f.FullSegmentServicePsi();
    const Bytes other = build::CaptionPesPayload(build::DataGroup(
        0x01, 1, build::StatementData({build::StatementBody(EncodeAribFromUtf8("次の字幕"))})));
    f.Captions(0x0130, {management, other});
    EXPECT_EQ(f.t.platform.CaptionText(IDC_CAPTION_CURRENT), Sjis("次の字幕"));
    f.Route(f.sb.Stream(0x0101, {build::PmtSection(0x0400, 0x0111, Bytes(), {{0x02, 0x0111, Tag(0x00)}}, 1)}));
    EXPECT_EQ(f.t.platform.CaptionText(IDC_CAPTION_CURRENT), "");
}

}  // namespace
