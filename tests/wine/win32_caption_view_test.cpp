// The caption view through the real windows of Kestrin.dll: the viewer's
// menu on the programme text in every dialog template, the caption window
// it opens, the captions of a stream fed through OnStreamData read back from
// that window, the hold button, the close box and the "Captions" setting.
#include <windows.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/wine/plugin_driver.h"
#include "tools/streamkit/caption_builder.h"
#include "tools/streamkit/stream_builder.h"
#include "ui/resource.h"

namespace {

const uint32_t kSdkVersion = 0x10400;
const char kCaptionsLabel[] = "\x8E\x9A\x96\x8B";  // 字幕
const char kHoldLabel[] = "\x8C\xC5\x92\xE8";      // 固定
const char kFollowLabel[] = "\x8D\x58\x90\x56";    // 更新
// ＜世はグルメ時代＞ and あまたの食材を追い求める＞ of the real stream, and the
// ruby ほかく that the view leaves out.
const char kFirstLine[] = "\x81\x83\x90\xA2\x82\xCD\x83\x4F\x83\x8B\x83\x81\x8E\x9E\x91\xE3\x81\x84";
const char kSecondLine[] =
    "\x82\xA0\x82\xDC\x82\xBD\x82\xCC\x90\x48\x8D\xDE\x82\xF0\x92\xC7\x82\xA2\x8B\x81\x82\xDF\x82\xE9\x81\x84";
const char kRuby[] = "\x82\xD9\x82\xA9\x82\xAD";

using build::Bytes;

// The full-segment service 0x0400 (the real stream is a full-segment
// service's, profile A): the PAT, its PMT on 0x0101 naming the caption
// stream on 0x0130 (component tag 0x30), then the first `count` caption PES
// of the real stream as PES and TS packets.
const int32_t kFullSegService = 0x0400;

Bytes CaptionStream(int count) {
    build::StreamBuilder sb;
    Bytes out = sb.Stream(0x0000, {build::PatSection(0x7FE0, {{0x0400, 0x0101}, {0x0408, 0x1FC8}})});
    const Bytes pmt = sb.Stream(0x0101, {build::PmtSection(0x0400, 0x0111, Bytes(),
                                                           {{0x02, 0x0111, build::Descriptor(0x52, {0x00})},
                                                            {0x06, 0x0130, build::Descriptor(0x52, {0x30})}})});
    out.insert(out.end(), pmt.begin(), pmt.end());
    const std::vector<Bytes> payloads = build::SplitCaptionPayloads(ReadRealData("captions/toriko_subs.es"));
    uint64_t pts = 0;
    for (int i = 0; i < count && i < static_cast<int>(payloads.size()); ++i) {
        pts += 45000;
        const Bytes ts = build::Join(build::PesPackets(sb, 0x0130, build::PesPacketWithPts(pts, payloads[i])));
        out.insert(out.end(), ts.begin(), ts.end());
    }
    return out;
}

struct OwnedSearch {
    HWND owner;
    HWND found;
};

BOOL CALLBACK FindOwned(HWND window, LPARAM data) {
    OwnedSearch* search = reinterpret_cast<OwnedSearch*>(data);
    if (GetWindow(window, GW_OWNER) == search->owner && WindowText(window) == kCaptionsLabel) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

// The caption window owned by the viewer, or NULL.
HWND FindCaptionWindow(HWND viewer) {
    OwnedSearch search = {viewer, nullptr};
    EnumThreadWindows(GetCurrentThreadId(), FindOwned, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

class CaptionViewWindow : public ::testing::Test {
protected:
    void Open(const std::string& ini) {
        WriteSettingsFile(ini);
        ASSERT_EQ(plugin_.SetHost(&host_, kSdkVersion), 1);
        ASSERT_EQ(plugin_.CreatePluginWindow(hostWindow_.Handle()), 1);
        dialog_ = plugin_.Dialog();
        ASSERT_NE(dialog_, nullptr);
        ASSERT_EQ(plugin_.OnChannelChange(27, kFullSegService), 1);
        PumpMessages();
    }
    void Feed(const Bytes& ts) {
        // In host-sized buffers, the window's messages handled between them.
        const size_t piece = 188 * 32;
        for (size_t at = 0; at < ts.size(); at += piece) {
            const uint32_t n = static_cast<uint32_t>(ts.size() - at < piece ? ts.size() - at : piece);
            ASSERT_EQ(plugin_.OnStreamData(ts.data() + at, n), 1);
            PumpMessages();
        }
    }
    // The viewer's menu as the right mouse button opens it on the programme
    // text: its items are read by another thread while the menu is up, then
    // the menu is cancelled.
    std::vector<std::string> MenuOfProgrammeText() {
        std::vector<std::string> items;
        std::atomic<bool> done(false);
        HWND dialog = dialog_;
        std::thread reader([&] {
            for (int i = 0; i < 500 && !done; ++i) {
                HWND menu = FindWindowA("#32768", nullptr);
                if (menu != nullptr && IsWindowVisible(menu)) {
                    HMENU handle = reinterpret_cast<HMENU>(SendMessageA(menu, 0x01E1 /* MN_GETHMENU */, 0, 0));
                    const int count = handle != nullptr ? GetMenuItemCount(handle) : 0;
                    for (int k = 0; k < count; ++k) {
                        char text[64] = {0};
                        GetMenuStringA(handle, static_cast<UINT>(k), text, sizeof text, MF_BYPOSITION);
                        const UINT id = GetMenuItemID(handle, k);
                        items.push_back(std::to_string(id) + ":" + text);
                    }
                    break;
                }
                Sleep(10);
            }
            PostMessageA(dialog, WM_CANCELMODE, 0, 0);
            PostMessageA(dialog, WM_KEYDOWN, VK_ESCAPE, 0);
        });
        HWND text = GetDlgItem(dialog_, IDC_INFO_TEXT);
        RECT r;
        GetWindowRect(text, &r);
        SendMessageA(text, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(text), MAKELPARAM(r.left + 5, r.top + 5));
        done = true;
        reader.join();
        PumpMessages();
        return items;
    }

    HostWindow hostWindow_;
    FakeHost host_;
    PluginObject plugin_;
    HWND dialog_ = nullptr;
};

TEST_F(CaptionViewWindow, TheProgrammeTextsMenuOpensTheViewInEveryTemplate) {
    const char* const inis[] = {"[POSITION]\r\nFont=1\r\n", "[POSITION]\r\nFont=0\r\n", "[POSITION]\r\nFont=2\r\n"};
    for (const char* ini : inis) {
        SCOPED_TRACE(ini);
        PluginObject plugin;
        WriteSettingsFile(ini);
        ASSERT_EQ(plugin.SetHost(&host_, kSdkVersion), 1);
        ASSERT_EQ(plugin.CreatePluginWindow(hostWindow_.Handle()), 1);
        dialog_ = plugin.Dialog();
        ASSERT_NE(dialog_, nullptr);
        EXPECT_EQ(FindCaptionWindow(dialog_), nullptr) << "opt-in";
        const std::vector<std::string> items = MenuOfProgrammeText();
        ASSERT_EQ(items.size(), 2u);  // 字幕, then the guide's 番組表
        EXPECT_EQ(items[0], std::to_string(IDM_VIEWER_CAPTIONS) + ":" + kCaptionsLabel);
        EXPECT_EQ(items[1].substr(0, items[1].find(':')), std::to_string(IDC_GUIDE_OPEN));
        // The item's command, as the menu sends it to the viewer.
        SendMessageA(dialog_, WM_COMMAND, MAKEWPARAM(IDM_VIEWER_CAPTIONS, 0), 0);
        HWND captions = FindCaptionWindow(dialog_);
        ASSERT_NE(captions, nullptr);
        EXPECT_TRUE(IsWindowVisible(captions));
        EXPECT_EQ(ControlText(captions, IDC_CAPTION_HOLD), kHoldLabel);
        EXPECT_EQ(ReadSettingsInt("DISPLAY", "Captions", -1), 1);
        SendMessageA(dialog_, WM_COMMAND, MAKEWPARAM(IDM_VIEWER_CAPTIONS, 0), 0);
        EXPECT_EQ(FindCaptionWindow(dialog_), nullptr);
        EXPECT_EQ(ReadSettingsInt("DISPLAY", "Captions", -1), 0);
    }
    dialog_ = nullptr;
}

TEST_F(CaptionViewWindow, ShowsTheCaptionsOfTheStreamFedAndHoldsThem) {
    Open("[DISPLAY]\r\nCaptions=1\r\n");
    HWND captions = FindCaptionWindow(dialog_);
    ASSERT_NE(captions, nullptr) << "Captions=1 opens it with the viewer";
    Feed(CaptionStream(40));
    const std::string lines = ControlText(captions, IDC_CAPTION_LINES);
    const size_t first = lines.find(std::string(kFirstLine) + "\r\n");
    ASSERT_NE(first, std::string::npos) << lines.size() << " bytes";
    EXPECT_NE(lines.find(std::string(kSecondLine) + "\r\n", first), std::string::npos);
    EXPECT_EQ(lines.find(kRuby), std::string::npos);

    // Held, the recent lines stay as they are while the captions go on.
    SendMessageA(captions, WM_COMMAND, MAKEWPARAM(IDC_CAPTION_HOLD, BN_CLICKED), 0);
    EXPECT_EQ(ControlText(captions, IDC_CAPTION_HOLD), kFollowLabel);
    Feed(CaptionStream(80));
    EXPECT_EQ(ControlText(captions, IDC_CAPTION_LINES), lines);
    SendMessageA(captions, WM_COMMAND, MAKEWPARAM(IDC_CAPTION_HOLD, BN_CLICKED), 0);
    EXPECT_GT(ControlText(captions, IDC_CAPTION_LINES).size(), lines.size());

    // The close box closes it, and the setting remembers.
    SendMessageA(captions, WM_CLOSE, 0, 0);
    PumpMessages();
    EXPECT_FALSE(IsWindow(captions));
    EXPECT_EQ(ReadSettingsInt("DISPLAY", "Captions", -1), 0);
    Feed(CaptionStream(10));  // nothing handed over, nothing to show
}

TEST_F(CaptionViewWindow, GoesWithTheViewer) {
    Open("[DISPLAY]\r\nCaptions=1\r\n");
    HWND captions = FindCaptionWindow(dialog_);
    ASSERT_NE(captions, nullptr);
    DestroyWindow(dialog_);
    PumpMessages();
    EXPECT_FALSE(IsWindow(captions));
    Feed(CaptionStream(5));
    EXPECT_EQ(ReadSettingsInt("DISPLAY", "Captions", -1), 1) << "the user did not close it";
}

// The plug-in object deleted through slot 0 with the caption view open. On
// the window's thread the viewer goes and the caption window with it. From
// another thread both are left to the host, which may free the library
// before it destroys its window: the programme text is left with the edit
// control's own menu, so the menu's subclass is off it, and the caption
// window keeps only a procedure that closes it (the library then stays
// loaded), so that its close box still works.
TEST_F(CaptionViewWindow, DeletedObjectLeavesNoMenuSubclassOrCaptionProcedure) {
    const bool threads[] = {false, true};
    for (bool otherThread : threads) {
        SCOPED_TRACE(otherThread ? "deleted on another thread" : "deleted on the window's thread");
        PluginObject plugin;
        WriteSettingsFile("[DISPLAY]\r\nCaptions=1\r\n");
        ASSERT_EQ(plugin.SetHost(&host_, kSdkVersion), 1);
        ASSERT_EQ(plugin.CreatePluginWindow(hostWindow_.Handle()), 1);
        dialog_ = plugin.Dialog();
        ASSERT_NE(dialog_, nullptr);
        HWND captions = FindCaptionWindow(dialog_);
        ASSERT_NE(captions, nullptr);
        const LONG_PTR boundProcedure = GetWindowLongPtrA(captions, DWLP_DLGPROC);
        EXPECT_NE(boundProcedure, 0);

        void* object = plugin.Raw();
        const DeletingDestructorSlot destroy = SlotAs<DeletingDestructorSlot>(plugin.Slot(kSlotDeletingDestructor));
        if (otherThread) {
            std::thread([&] { destroy(object, 1); }).join();
        } else {
            destroy(object, 1);
        }
        plugin.Forget();
        if (!otherThread) {
            EXPECT_FALSE(IsWindow(dialog_));
            EXPECT_FALSE(IsWindow(captions));
            continue;
        }

        ASSERT_TRUE(IsWindow(dialog_));
        ASSERT_TRUE(IsWindow(captions));
        EXPECT_NE(GetWindowLongPtrA(captions, DWLP_DLGPROC), boundProcedure);
        const std::vector<std::string> items = MenuOfProgrammeText();
        EXPECT_GT(items.size(), 1u) << "the edit control's own menu";
        for (const std::string& item : items) EXPECT_EQ(item.find(kCaptionsLabel), std::string::npos) << item;
        SendMessageA(captions, WM_COMMAND, MAKEWPARAM(IDC_CAPTION_HOLD, BN_CLICKED), 0);
        PumpMessages();
        EXPECT_EQ(ControlText(captions, IDC_CAPTION_HOLD), kHoldLabel) << "the button reaches no plug-in";
        SendMessageA(captions, WM_CLOSE, 0, 0);
        PumpMessages();
        EXPECT_FALSE(IsWindow(captions)) << "its close box still closes it";
        DestroyWindow(dialog_);
        PumpMessages();
    }
    dialog_ = nullptr;
}

}  // namespace
