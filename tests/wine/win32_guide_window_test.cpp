// The programme guide window of the real DLL: opened from the viewer, its
// grid clicked and driven by keys as a user does, a programme's details, its
// recording requested from the host, a tune from a service's name, its
// position and size from and to Kestrin.ini.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "plugin/messages.h"
#include "tests/wine/plugin_driver.h"
#include "tools/streamkit/arib_encoder.h"
#include "tools/streamkit/stream_builder.h"
#include "ui/resource.h"

namespace {

using build::Bytes;

const uint16_t kService = 0x0400;
const uint16_t kMjd = 0xEFC6;  // 2026-12-08

Bytes Sjis(const wchar_t* text) {
    char out[512];
    const int n = WideCharToMultiByte(932, 0, text, -1, out, sizeof out, nullptr, nullptr);
    return Bytes(out, out + (n > 0 ? n - 1 : 0));
}

std::string Text(const Bytes& b) { return std::string(b.begin(), b.end()); }

build::EitEvent Entry(uint16_t id, int hour, int minute, int minutes, const Bytes& sjisTitle) {
    const Bytes title = EncodeAribFromShiftJis(Text(sjisTitle));
    const Bytes descriptors = build::Cat({build::ShortEventDescriptor(title, Bytes()),
                                          build::Descriptor(0x54, {0x30, 0xFF})});
    build::EitEvent e = build::Event(kMjd, hour, minute, 0, minutes / 60, minutes % 60, 0, descriptors);
    e.eventId = id;
    return e;
}

Bytes Schedule(uint8_t sectionNumber, const std::vector<build::EitEvent>& events) {
    return build::EitSection(build::ScheduleHeader(kService, sectionNumber), events);
}

// The real DLL's viewer on a window of this thread, the settings given.
struct ViewerSession {
    FakeHost host;
    HostWindow owner;
    PluginObject plugin;

    HWND Open(const std::string& settings) {
        WriteSettingsFile(settings);
        if (plugin.SetHost(&host, 0x10400) != 1 || plugin.CreatePluginWindow(owner.Handle()) != 1) return nullptr;
        return plugin.Dialog();
    }
};

// Clicks down the grid's first column, as a user looking for a programme,
// until the details show `title`. True when found.
bool ClickProgramme(HWND guide, const std::string& title) {
    HWND grid = GetDlgItem(guide, IDC_GUIDE_GRID);
    UpdateWindow(grid);  // a click is tested against the layout drawn
    RECT r;
    GetClientRect(grid, &r);
    for (int y = 0; y < r.bottom; y += 3) {
        SendMessageA(grid, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(60, y));
        SendMessageA(grid, WM_LBUTTONUP, 0, MAKELPARAM(60, y));
        if (ControlText(guide, IDC_GUIDE_DETAILS).find(title) != std::string::npos) return true;
    }
    return false;
}

void Key(HWND guide, WPARAM key) {
    SendMessageA(GetDlgItem(guide, IDC_GUIDE_GRID), WM_KEYDOWN, key, 0);
    PumpMessages();
}

std::string TabText(HWND tabs, int index) {
    char text[64] = {};
    TCITEMA item = {};
    item.mask = TCIF_TEXT;
    item.pszText = text;
    item.cchTextMax = sizeof text;
    SendMessageA(tabs, TCM_GETITEMA, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item));
    return text;
}

std::vector<WPARAM> RequestWords(const HostWindow& owner) {
    std::vector<WPARAM> words;
    for (const auto& m : owner.Received()) {
        if (m.first == WM_RECORD_REQUEST) words.push_back(m.second);
    }
    return words;
}

TEST(GuideWindow, GridAndRecordingRequestFromTheRealWindow) {
    ViewerSession session;
    HWND viewer = session.Open("[GUIDE]\r\nLeft=40\r\nTop=50\r\n");
    ASSERT_NE(viewer, nullptr);
    PluginObject& plugin = session.plugin;
    plugin.OnChannelChange(27, kService);

    build::StreamBuilder sb;
    const Bytes stream = build::Cat(
        {sb.Stream(0x0014, {build::TotSection(kMjd, 0x21, 0x30, 0x00)}),
         sb.Stream(0x0012, {Schedule(8, {Entry(0x1002, 22, 0, 45, Sjis(L"連続ドラマ")),
                                         Entry(0x1003, 22, 45, 15, Sjis(L"天気予報"))}),
                            Schedule(0, {Entry(0x1001, 21, 0, 60, Sjis(L"ニュース９"))})})});
    plugin.OnStreamData(stream.data(), static_cast<uint32_t>(stream.size()));
    PumpMessages();

    // The viewer's menu item 番組表 sends this command to the viewer.
    SendMessageA(viewer, WM_COMMAND, IDC_GUIDE_OPEN, 0);
    PumpMessages();
    HWND guide = FindGuideWindow(viewer);
    ASSERT_NE(guide, nullptr);
    RECT r;
    GetWindowRect(guide, &r);
    EXPECT_EQ(r.left, 40);
    EXPECT_EQ(r.top, 50);
    EXPECT_EQ(WindowText(guide), Text(Sjis(L"番組表")));
    EXPECT_NE(GetWindowLongA(guide, GWL_STYLE) & WS_THICKFRAME, 0) << "resizable";

    // The grid, and a tab for the day.
    HWND grid = GetDlgItem(guide, IDC_GUIDE_GRID);
    char className[32] = {};
    GetClassNameA(grid, className, sizeof className);
    EXPECT_STREQ(className, "KestrinGuideGrid");
    HWND tabs = GetDlgItem(guide, IDC_GUIDE_DATES);
    ASSERT_EQ(SendMessageA(tabs, TCM_GETITEMCOUNT, 0, 0), 1);
    EXPECT_EQ(TabText(tabs, 0), Text(Sjis(L"12/08(火)")));
    EXPECT_EQ(SendMessageA(tabs, TCM_GETCURSEL, 0, 0), 0);
    HWND button = GetDlgItem(guide, IDC_GUIDE_REQUEST);
    EXPECT_FALSE(IsWindowEnabled(button));

    // A click on the news shows its details; two Downs reach the weather
    // (22:45), whose request the button then sends.
    ASSERT_TRUE(ClickProgramme(guide, Text(Sjis(L"ニュース９"))));
    EXPECT_NE(ControlText(guide, IDC_GUIDE_DETAILS).find("21:00-22:00"), std::string::npos);
    Key(guide, VK_DOWN);
    Key(guide, VK_DOWN);
    EXPECT_NE(ControlText(guide, IDC_GUIDE_DETAILS).find(Text(Sjis(L"天気予報"))), std::string::npos);
    EXPECT_NE(ControlText(guide, IDC_GUIDE_DETAILS).find(Text(Sjis(L"ジャンル："))), std::string::npos);
    EXPECT_EQ(ControlText(guide, IDC_GUIDE_REQUEST), Text(Sjis(L"録画予約")));
    ASSERT_TRUE(IsWindowEnabled(button));
    SendMessageA(button, BM_CLICK, 0, 0);
    PumpMessages();
    // 22:45 less 21:30 is 4,500 s, less 11; 15 minutes plus 1. Enter in the
    // grid asks the same.
    Key(guide, VK_RETURN);
    const std::vector<WPARAM> words = RequestWords(session.owner);
    ASSERT_EQ(words.size(), 2u);
    EXPECT_EQ(words[0], static_cast<WPARAM>((4489u << 16) | 16u));
    EXPECT_EQ(words[1], words[0]);

    // Moved: the new place is written; closed with the viewer.
    SetWindowPos(guide, nullptr, 70, 80, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    PumpMessages();
    EXPECT_EQ(ReadSettingsInt("GUIDE", "Left", 0), 70);
    EXPECT_EQ(ReadSettingsInt("GUIDE", "Top", 0), 80);
    SendMessageA(guide, WM_COMMAND, IDCANCEL, 0);
    PumpMessages();
    EXPECT_FALSE(IsWindow(guide));
    WriteSettingsFile("");
}

// A double-click on the service's name in the grid's header asks the host
// to tune to its channel, as the channel buttons do; a double-click on a
// programme does not.
TEST(GuideWindow, HeaderDoubleClickTunes) {
    ViewerSession session;
    HWND viewer = session.Open("");
    ASSERT_NE(viewer, nullptr);
    session.plugin.OnChannelChange(27, kService);
    build::StreamBuilder sb;
    const Bytes stream = sb.Stream(0x0012, {Schedule(0, {Entry(0x1001, 21, 0, 60, Sjis(L"ニュース９"))})});
    session.plugin.OnStreamData(stream.data(), static_cast<uint32_t>(stream.size()));
    PumpMessages();
    SendMessageA(viewer, WM_COMMAND, IDC_GUIDE_OPEN, 0);
    PumpMessages();
    HWND guide = FindGuideWindow(viewer);
    ASSERT_NE(guide, nullptr);
    HWND grid = GetDlgItem(guide, IDC_GUIDE_GRID);
    ASSERT_TRUE(ClickProgramme(guide, Text(Sjis(L"ニュース９"))));
    RECT r;
    GetClientRect(grid, &r);
    SendMessageA(grid, WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(60, r.bottom / 2));
    EXPECT_TRUE(session.host.tuned.empty());
    SendMessageA(grid, WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(60, 3));
    PumpMessages();
    EXPECT_EQ(session.host.tuned, std::vector<int32_t>{27});
    SendMessageA(guide, WM_COMMAND, IDCANCEL, 0);
    PumpMessages();
    WriteSettingsFile("");
}

// The programme on air, requested from the guide, asks for what the present
// view asks for on the same stream and clock: at 22:30 the drama of
// 22:00-22:45 records its last 15 minutes (0x0000000F), never its whole
// length plus one, which would run into the next programme. Home selects it.
TEST(GuideWindow, OnAirRequestEqualsThePresentViews) {
    ViewerSession session;
    HWND viewer = session.Open("");
    ASSERT_NE(viewer, nullptr);
    PluginObject& plugin = session.plugin;
    plugin.OnChannelChange(27, kService);

    const build::EitEvent drama = Entry(0x1002, 22, 0, 45, Sjis(L"連続ドラマ"));
    build::StreamBuilder sb;
    const Bytes stream = build::Cat({sb.Stream(0x0014, {build::TotSection(kMjd, 0x22, 0x30, 0x00)}),
                                     sb.Stream(0x0012, {build::EitPfSection(kService, 0, {drama}),
                                                        Schedule(8, {drama, Entry(0x1003, 22, 45, 15,
                                                                                  Sjis(L"天気予報"))})})});
    plugin.OnStreamData(stream.data(), static_cast<uint32_t>(stream.size()));
    PumpMessages();

    SendMessageA(viewer, WM_COMMAND, IDC_RECORD_REQUEST, 0);
    SendMessageA(viewer, WM_COMMAND, IDC_GUIDE_OPEN, 0);
    PumpMessages();
    HWND guide = FindGuideWindow(viewer);
    ASSERT_NE(guide, nullptr);
    Key(guide, VK_HOME);
    EXPECT_NE(ControlText(guide, IDC_GUIDE_DETAILS).find("22:00-22:45"), std::string::npos);
    HWND button = GetDlgItem(guide, IDC_GUIDE_REQUEST);
    ASSERT_TRUE(IsWindowEnabled(button));
    SendMessageA(button, BM_CLICK, 0, 0);
    PumpMessages();
    const std::vector<WPARAM> words = RequestWords(session.owner);
    ASSERT_EQ(words.size(), 2u);
    EXPECT_EQ(words[0], static_cast<WPARAM>(0x0000000F));
    EXPECT_EQ(words[1], words[0]);
    SendMessageA(guide, WM_COMMAND, IDCANCEL, 0);
    PumpMessages();
    WriteSettingsFile("");
}

// What the viewer's menu showed, read inside its modal loop by a thread
// timer, which then picks the guide's item with the keyboard.
struct MenuSeen {
    int items = -1;
    std::string guideItem;
};
MenuSeen g_menuSeen;

VOID CALLBACK PickGuideMenuItem(HWND, UINT, UINT_PTR timer, DWORD) {
    HWND menuWindow = FindWindowA("#32768", nullptr);
    if (menuWindow == nullptr || !IsWindowVisible(menuWindow)) return;
    KillTimer(nullptr, timer);
    HMENU menu = reinterpret_cast<HMENU>(SendMessageA(menuWindow, MN_GETHMENU, 0, 0));
    g_menuSeen.items = GetMenuItemCount(menu);
    for (int i = 0; i < g_menuSeen.items; ++i) {
        if (GetMenuItemID(menu, i) != IDC_GUIDE_OPEN) continue;
        char text[64] = {};
        GetMenuStringA(menu, static_cast<UINT>(i), text, sizeof text, MF_BYPOSITION);
        g_menuSeen.guideItem = text;
        for (int down = 0; down <= i; ++down) PostMessageA(menuWindow, WM_KEYDOWN, VK_DOWN, 0);
    }
    PostMessageA(menuWindow, WM_KEYDOWN, VK_RETURN, 0);
}

// The viewer's menu on the programme text (right mouse button at the
// pointer, or the menu key: lParam -1) holds the guide's item, in every
// template, and the item opens the guide.
TEST(GuideWindow, ViewersMenuOpensTheGuide) {
    const struct {
        int font;
        bool keyboard;
    } cases[] = {{0, false}, {1, true}, {2, false}, {0, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE("Font=" + std::to_string(c.font) + (c.keyboard ? " keyboard" : " mouse"));
        ViewerSession session;
        HWND viewer = session.Open("[POSITION]\r\nFont=" + std::to_string(c.font) + "\r\n");
        ASSERT_NE(viewer, nullptr);
        HWND text = GetDlgItem(viewer, IDC_INFO_TEXT);
        ASSERT_NE(text, nullptr);
        RECT r;
        GetWindowRect(text, &r);
        const LPARAM at = c.keyboard ? static_cast<LPARAM>(-1) : MAKELPARAM(r.left + 10, r.top + 10);

        g_menuSeen = MenuSeen();
        const UINT_PTR timer = SetTimer(nullptr, 0, 50, PickGuideMenuItem);
        ASSERT_NE(timer, 0u);
        SendMessageA(text, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(text), at);
        KillTimer(nullptr, timer);
        PumpMessages();
        EXPECT_EQ(g_menuSeen.items, 2);  // 字幕, 番組表
        EXPECT_EQ(g_menuSeen.guideItem, Text(Sjis(L"番組表(&G)")));

        HWND guide = FindGuideWindow(viewer);
        ASSERT_NE(guide, nullptr);
        EXPECT_EQ(WindowText(guide), Text(Sjis(L"番組表")));
        SendMessageA(guide, WM_COMMAND, IDCANCEL, 0);
        PumpMessages();
        EXPECT_FALSE(IsWindow(guide));
    }
    WriteSettingsFile("");
}

// --- Where the guide opens, and what of its position is kept ---------------
// The guide keeps the viewer's guards: no position saved while it is
// minimised, and a saved position on no monitor brought back on screen.

std::string GuideSettings(const std::string& left, const std::string& top) {
    return "[GUIDE]\r\nLeft=" + left + "\r\nTop=" + top + "\r\n";
}

HWND OpenGuideOf(HWND viewer) {
    SendMessageA(viewer, WM_COMMAND, IDC_GUIDE_OPEN, 0);
    PumpMessages();
    return FindGuideWindow(viewer);
}

// Whole inside the work area of its monitor.
bool WhollyOnScreen(HWND window) {
    RECT r;
    GetWindowRect(window, &r);
    MONITORINFO info;
    info.cbSize = sizeof info;
    if (!GetMonitorInfoA(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &info)) return false;
    const RECT& work = info.rcWork;
    return r.left >= work.left && r.top >= work.top && r.right <= work.right && r.bottom <= work.bottom;
}

// The viewer's close button takes its guide with it: no window of ours is
// left to ask the host for a recording after the plug-in said it closed.
TEST(GuideWindowPosition, ClosingTheViewerClosesItsGuide) {
    ViewerSession session;
    HWND viewer = session.Open("");
    ASSERT_NE(viewer, nullptr);
    HWND guide = OpenGuideOf(viewer);
    ASSERT_NE(guide, nullptr);
    SendMessageA(viewer, WM_COMMAND, IDC_CLOSE, 0);
    PumpMessages();
    EXPECT_FALSE(IsWindow(guide));
    EXPECT_EQ(session.host.closedCalls, 1);
}

// Minimising parks the guide at (-32000, -32000) with a WM_MOVE: the file
// keeps its last normal position, also when the plug-in ends with the guide
// minimised, and the next guide opens there.
TEST(GuideWindowPosition, AMinimisedGuideLeavesItsLastNormalPosition) {
    {
        ViewerSession session;
        HWND viewer = session.Open(GuideSettings("40", "50"));
        ASSERT_NE(viewer, nullptr);
        HWND guide = OpenGuideOf(viewer);
        ASSERT_NE(guide, nullptr);
        SetWindowPos(guide, nullptr, 70, 80, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        PumpMessages();
        ShowWindow(guide, SW_MINIMIZE);
        PumpMessages();
        ASSERT_TRUE(IsIconic(guide));
        EXPECT_EQ(ReadSettingsInt("GUIDE", "Left", -1), 70);
        EXPECT_EQ(ReadSettingsInt("GUIDE", "Top", -1), 80);
        // The session ends here, the guide minimised: the object is
        // deleted, the host's window destroyed.
    }
    EXPECT_EQ(ReadSettingsInt("GUIDE", "Left", -1), 70);
    EXPECT_EQ(ReadSettingsInt("GUIDE", "Top", -1), 80);

    ViewerSession next;
    HWND viewer = next.Open(GuideSettings(std::to_string(ReadSettingsInt("GUIDE", "Left", -1)),
                                          std::to_string(ReadSettingsInt("GUIDE", "Top", -1))));
    ASSERT_NE(viewer, nullptr);
    HWND guide = OpenGuideOf(viewer);
    ASSERT_NE(guide, nullptr);
    RECT r;
    GetWindowRect(guide, &r);
    EXPECT_EQ(r.left, 70);
    EXPECT_EQ(r.top, 80);
    SendMessageA(guide, WM_COMMAND, IDCANCEL, 0);
    PumpMessages();
    WriteSettingsFile("");
}

// Resized, the guide keeps its size in "GUIDE" Width/Height, as its
// position; the next guide opens that large at that place. Minimised, it
// keeps the last normal size.
TEST(GuideWindowPosition, ItsSizeIsKeptAndRestored) {
    {
        ViewerSession session;
        HWND viewer = session.Open(GuideSettings("40", "50"));
        ASSERT_NE(viewer, nullptr);
        HWND guide = OpenGuideOf(viewer);
        ASSERT_NE(guide, nullptr);
        SetWindowPos(guide, nullptr, 0, 0, 720, 520, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        PumpMessages();
        EXPECT_EQ(ReadSettingsInt("GUIDE", "Width", -1), 720);
        EXPECT_EQ(ReadSettingsInt("GUIDE", "Height", -1), 520);
        // The grid takes what the window gained.
        RECT grid;
        GetWindowRect(GetDlgItem(guide, IDC_GUIDE_GRID), &grid);
        EXPECT_GT(grid.right - grid.left, 600);
        ShowWindow(guide, SW_MINIMIZE);
        PumpMessages();
        EXPECT_EQ(ReadSettingsInt("GUIDE", "Width", -1), 720);
        EXPECT_EQ(ReadSettingsInt("GUIDE", "Height", -1), 520);
    }
    ViewerSession next;
    HWND viewer = next.Open(GuideSettings("40", "50") + "Width=720\r\nHeight=520\r\n");
    ASSERT_NE(viewer, nullptr);
    HWND guide = OpenGuideOf(viewer);
    ASSERT_NE(guide, nullptr);
    RECT r;
    GetWindowRect(guide, &r);
    EXPECT_EQ(r.left, 40);
    EXPECT_EQ(r.top, 50);
    EXPECT_EQ(r.right - r.left, 720);
    EXPECT_EQ(r.bottom - r.top, 520);
    SendMessageA(guide, WM_COMMAND, IDCANCEL, 0);
    PumpMessages();
    WriteSettingsFile("");
}

// A saved position far from every monitor opens the guide inside a work
// area, whatever the file holds; placing it is no move of the user's.
TEST(GuideWindowPosition, PositionsOnNoMonitorOpenOnScreen) {
    const struct {
        const char* left;
        const char* top;
    } saved[] = {{"-32000", "-32000"}, {"-2147483648", "-2147483648"}, {"2147483647", "2147483647"},
                 {"3999", "-900"},     {"-5000", "300"}};
    for (const auto& c : saved) {
        SCOPED_TRACE(std::string(c.left) + ", " + c.top);
        ViewerSession session;
        HWND viewer = session.Open(GuideSettings(c.left, c.top));
        ASSERT_NE(viewer, nullptr);
        HWND guide = OpenGuideOf(viewer);
        ASSERT_NE(guide, nullptr);
        EXPECT_TRUE(WhollyOnScreen(guide));
        EXPECT_EQ(ReadSettingsString("GUIDE", "Left"), c.left);
        EXPECT_EQ(ReadSettingsString("GUIDE", "Top"), c.top);
    }
    WriteSettingsFile("");
}

}  // namespace
