// The viewer dialog as the user and the host meet it: the template chosen by
// the settings file, its geometry, font and Shift_JIS texts, the buttons, the
// close command, the saved position, the channel marks, the recorder's file
// and the event text's tooltip, all through the real Win32 window of
// Kestrin.dll.
#include <windows.h>

#include <commctrl.h>

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "plugin/messages.h"
#include "tests/wine/plugin_driver.h"
#include "tools/common/viewer_tooltip.h"
#include "tools/streamkit/test_multiplex.h"
#include "ui/resource.h"

namespace {

const uint32_t kSdkVersion = 0x10400;

// Shift_JIS (code page 932) texts as the A functions return them.
const char kCaption[] = "Quelm - \x94\xD4\x91" "g\x8F\xEE\x95\xF1 -";          // 番組情報
const char kPresentLabel[] = "\x8C\xBB";                                         // 現
const char kFollowingLabel[] = "\x8E\x9F";                                       // 次
const char kRecordRequestLabel[] = "\x81\x9C";                                   // ●
const char kIdleRecordLabel[] = "1\x81\x9B";                                     // 1○
const char kRecordingLabel[] = "1\x81\xA1";                                      // 1■
const char kFaceHgp[] = "HGP\x95\xBD\x90\xAC\x8A" "p\xBA\xDE\xBC\xAF\xB8\x91\xCC" "W5AR";
const char kFaceMsMincho[] = "\x82l\x82r \x82o\x96\xBE\x92\xA9";
const char kFaceDf[] = "DFPGothicP-W5-AribTrB14";

const int kChannelIds[12] = {IDC_CH1, IDC_CH2, IDC_CH3, IDC_CH4,  IDC_CH5,  IDC_CH6,
                             IDC_CH7, IDC_CH8, IDC_CH9, IDC_CH10, IDC_CH11, IDC_CH12};

std::string Circled(int button) {
    std::string s;
    s += static_cast<char>(0x87);
    s += static_cast<char>(0x40 + button - 1);
    return s;
}

// "[SERVICE]" with CH1..CH12 = 13..24: every button can tune.
std::string AllChannelsConfigured() {
    std::string ini = "[SERVICE]\r\n";
    for (int i = 1; i <= 12; ++i) ini += "CH" + std::to_string(i) + "=" + std::to_string(12 + i) + "\r\n";
    return ini;
}

class ViewerWindow : public ::testing::Test {
protected:
    // Writes the settings file, then runs the host's start-up sequence.
    void Open(const std::string& ini) {
        WriteSettingsFile(ini);
        ASSERT_NE(plugin_.Raw(), nullptr);
        ASSERT_EQ(plugin_.SetHost(&host_, kSdkVersion), 1);
        ASSERT_EQ(plugin_.CreatePluginWindow(hostWindow_.Handle()), 1);
        dialog_ = plugin_.Dialog();
        ASSERT_NE(dialog_, nullptr);
    }

    void Press(int id) {
        SendMessageA(dialog_, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(dialog_, id)));
        PumpMessages();
    }

    // Pixels of a control placed at (x, y) with size (w, h) in dialog units:
    // the dialog manager converts the position and the size each on its own.
    RECT DialogUnits(int x, int y, int w, int h) {
        RECT origin = {x, y, 0, 0};
        RECT size = {w, h, 0, 0};
        MapDialogRect(dialog_, &origin);
        MapDialogRect(dialog_, &size);
        RECT r = {origin.left, origin.top, origin.left + size.left, origin.top + size.top};
        return r;
    }

    HostWindow hostWindow_;
    FakeHost host_;
    PluginObject plugin_;
    HWND dialog_ = nullptr;
};

// --- Template, font and geometry ------------------------------------------

struct TemplateCase {
    const char* ini;
    int templateId;
    int width;
    const char* face;
};

void PrintTo(const TemplateCase& c, std::ostream* os) { *os << "template " << c.templateId << " from \"" << c.ini << "\""; }

class ViewerTemplate : public ViewerWindow, public ::testing::WithParamInterface<TemplateCase> {};

TEST_P(ViewerTemplate, FollowsFontSetting) {
    const TemplateCase& c = GetParam();
    Open(c.ini);
    RECT client;
    GetClientRect(dialog_, &client);
    const RECT expected = DialogUnits(0, 0, c.width, 73);
    EXPECT_EQ(client.right - client.left, expected.right) << "width of template " << c.templateId;
    EXPECT_EQ(client.bottom - client.top, expected.bottom);

    HFONT font = reinterpret_cast<HFONT>(SendMessageA(dialog_, WM_GETFONT, 0, 0));
    ASSERT_NE(font, nullptr);
    LOGFONTA lf = {};
    ASSERT_NE(GetObjectA(font, sizeof lf, &lf), 0);
    // The face comes back in the ANSI code page. (The template's character
    // set is checked in the resource itself: the dialog manager creates the
    // font with DEFAULT_CHARSET whatever the template says.)
    EXPECT_STREQ(lf.lfFaceName, c.face);
    EXPECT_EQ(lf.lfWeight, FW_NORMAL);
    EXPECT_EQ(lf.lfItalic, 0);
    HDC dc = GetDC(dialog_);
    EXPECT_EQ(lf.lfHeight, -MulDiv(9, GetDeviceCaps(dc, LOGPIXELSY), 72));
    ReleaseDC(dialog_, dc);
}

INSTANTIATE_TEST_SUITE_P(
    KestrinDll, ViewerTemplate,
    ::testing::Values(TemplateCase{"", 102, 217, kFaceMsMincho},
                      TemplateCase{"[POSITION]\r\nFont=1\r\n", 101, 303, kFaceHgp},
                      TemplateCase{"[POSITION]\r\nFont=2\r\n", 103, 257, kFaceDf},
                      TemplateCase{"[POSITION]\r\nFont=3\r\n", 102, 217, kFaceMsMincho},
                      TemplateCase{"[POSITION]\r\nFont=0\r\n", 102, 217, kFaceMsMincho},
                      TemplateCase{"[POSITION]\r\nFont=-1\r\n", 102, 217, kFaceMsMincho}));

// x, y, width, height in dialog units for templates 101, 102, 103.
struct ControlGeometry {
    int id;
    int box[3][4];
};

const ControlGeometry kGeometry[] = {
    {1003, {{0, 0, 280, 61}, {0, 0, 199, 61}, {0, 0, 237, 61}}},
    {1008, {{2, 62, 17, 11}, {2, 62, 12, 11}, {2, 62, 14, 11}}},
    {1009, {{24, 62, 17, 11}, {17, 62, 12, 11}, {20, 62, 14, 11}}},
    {1010, {{46, 62, 17, 11}, {33, 62, 12, 11}, {38, 62, 14, 11}}},
    {1012, {{67, 62, 17, 11}, {48, 62, 12, 11}, {56, 62, 14, 11}}},
    {1013, {{89, 62, 17, 11}, {63, 62, 12, 11}, {74, 62, 14, 11}}},
    {1014, {{110, 62, 17, 11}, {79, 62, 12, 11}, {92, 62, 14, 11}}},
    {1015, {{132, 62, 17, 11}, {94, 62, 12, 11}, {110, 62, 14, 11}}},
    {1016, {{154, 62, 17, 11}, {110, 62, 12, 11}, {128, 62, 14, 11}}},
    {1017, {{175, 62, 17, 11}, {125, 62, 12, 11}, {146, 62, 14, 11}}},
    {1018, {{197, 62, 17, 11}, {141, 62, 12, 11}, {164, 62, 14, 11}}},
    {1019, {{218, 62, 17, 11}, {156, 62, 12, 11}, {182, 62, 14, 11}}},
    {1020, {{240, 62, 17, 11}, {171, 62, 12, 11}, {200, 62, 14, 11}}},
    {1011, {{261, 62, 42, 11}, {187, 62, 30, 11}, {219, 62, 37, 11}}},
    {1021, {{280, 46, 23, 12}, {200, 46, 17, 12}, {238, 46, 19, 12}}},
    {1022, {{280, 12, 23, 12}, {200, 12, 17, 12}, {238, 12, 19, 12}}},
    {1023, {{280, 29, 23, 12}, {200, 29, 17, 12}, {238, 29, 19, 12}}},
};

class ViewerGeometry : public ViewerWindow, public ::testing::WithParamInterface<int> {};

TEST_P(ViewerGeometry, EveryControlSitsWhereTheTemplateSays) {
    const int column = GetParam();  // 0: template 101, 1: 102, 2: 103
    const char* fonts[3] = {"1", "0", "2"};
    Open(std::string("[POSITION]\r\nFont=") + fonts[column] + "\r\n");
    int children = 0;
    for (HWND child = GetWindow(dialog_, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT))
        ++children;
    EXPECT_EQ(children, 17);
    for (const ControlGeometry& g : kGeometry) {
        HWND control = GetDlgItem(dialog_, g.id);
        ASSERT_NE(control, nullptr) << "control " << g.id;
        RECT r;
        GetWindowRect(control, &r);
        MapWindowPoints(nullptr, dialog_, reinterpret_cast<POINT*>(&r), 2);
        const int* b = g.box[column];
        const RECT expected = DialogUnits(b[0], b[1], b[2], b[3]);
        EXPECT_EQ(r.left, expected.left) << "control " << g.id;
        EXPECT_EQ(r.top, expected.top) << "control " << g.id;
        EXPECT_EQ(r.right, expected.right) << "control " << g.id;
        EXPECT_EQ(r.bottom, expected.bottom) << "control " << g.id;
    }
}

INSTANTIATE_TEST_SUITE_P(KestrinDll, ViewerGeometry, ::testing::Values(0, 1, 2));

TEST_F(ViewerWindow, WindowStylesAndControlKinds) {
    Open(AllChannelsConfigured());
    const LONG style = GetWindowLongA(dialog_, GWL_STYLE);
    const LONG wanted = WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | DS_MODALFRAME;
    EXPECT_EQ(style & wanted, wanted);
    EXPECT_EQ(style & WS_CHILD, 0);
    const LONG exStyle = GetWindowLongA(dialog_, GWL_EXSTYLE);
    EXPECT_EQ(exStyle & (WS_EX_CLIENTEDGE | WS_EX_WINDOWEDGE), WS_EX_CLIENTEDGE | WS_EX_WINDOWEDGE);
    EXPECT_EQ(GetWindow(dialog_, GW_OWNER), hostWindow_.Handle());

    auto classOf = [&](int id) {
        char name[32] = {};
        GetClassNameA(GetDlgItem(dialog_, id), name, sizeof name);
        return std::string(name);
    };
    auto styleOf = [&](int id) { return GetWindowLongA(GetDlgItem(dialog_, id), GWL_STYLE); };

    EXPECT_EQ(lstrcmpiA(classOf(IDC_INFO_TEXT).c_str(), "Edit"), 0);
    const LONG edit = styleOf(IDC_INFO_TEXT);
    EXPECT_EQ(edit & (ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL), ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL);
    // The dialog manager may turn a child's border into a client edge.
    const LONG editEx = GetWindowLongA(GetDlgItem(dialog_, IDC_INFO_TEXT), GWL_EXSTYLE);
    EXPECT_TRUE((edit & WS_BORDER) != 0 || (editEx & WS_EX_CLIENTEDGE) != 0);

    for (int id : kChannelIds) {
        EXPECT_EQ(lstrcmpiA(classOf(id).c_str(), "Button"), 0) << id;
        EXPECT_EQ(styleOf(id) & BS_TYPEMASK, BS_PUSHBUTTON) << id;
        EXPECT_NE(styleOf(id) & WS_TABSTOP, 0) << id;
    }
    EXPECT_EQ(styleOf(IDC_CLOCK) & BS_TYPEMASK, BS_PUSHBUTTON);
    EXPECT_NE(styleOf(IDC_CLOCK) & BS_FLAT, 0);
    for (int id : {IDC_PRESENT_FOLLOWING, IDC_RECORD_REQUEST, IDC_ONESEG_RECORD}) {
        EXPECT_EQ(lstrcmpiA(classOf(id).c_str(), "Button"), 0) << id;
        EXPECT_EQ(styleOf(id) & BS_TYPEMASK, BS_PUSHBUTTON) << id;
        EXPECT_EQ(styleOf(id) & BS_FLAT, 0) << id;
    }
}

// --- Texts -----------------------------------------------------------------

TEST_F(ViewerWindow, TemplateTextsAreShiftJis) {
    Open(AllChannelsConfigured());
    EXPECT_EQ(WindowText(dialog_), kCaption);
    EXPECT_EQ(ControlText(dialog_, IDC_INFO_TEXT), "");
    EXPECT_EQ(ControlText(dialog_, IDC_CLOCK), "");
    EXPECT_EQ(ControlText(dialog_, IDC_PRESENT_FOLLOWING), kPresentLabel);
    EXPECT_EQ(ControlText(dialog_, IDC_RECORD_REQUEST), kRecordRequestLabel);
    EXPECT_EQ(ControlText(dialog_, IDC_ONESEG_RECORD), kIdleRecordLabel);
    for (int i = 0; i < 12; ++i) EXPECT_EQ(ControlText(dialog_, kChannelIds[i]), std::to_string(i + 1));
}

TEST_F(ViewerWindow, ButtonsThatCannotTuneAreBlank) {
    // 12 and 63 are outside 13..62; CH5.. are missing (0).
    Open("[SERVICE]\r\nCH1=12\r\nCH2=13\r\nCH3=62\r\nCH4=63\r\n");
    EXPECT_EQ(ControlText(dialog_, IDC_CH1), " ");
    EXPECT_EQ(ControlText(dialog_, IDC_CH2), "2");
    EXPECT_EQ(ControlText(dialog_, IDC_CH3), "3");
    EXPECT_EQ(ControlText(dialog_, IDC_CH4), " ");
    for (int i = 4; i < 12; ++i) EXPECT_EQ(ControlText(dialog_, kChannelIds[i]), " ") << i + 1;
}

// --- Position --------------------------------------------------------------

// The work area of the monitor nearest to a window.
RECT WorkAreaOf(HWND window) {
    MONITORINFO info;
    info.cbSize = sizeof info;
    GetMonitorInfoA(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &info);
    return info.rcWork;
}

// The whole window lies inside one monitor's work area.
::testing::AssertionResult OnScreen(HWND window) {
    RECT r;
    GetWindowRect(window, &r);
    if (MonitorFromRect(&r, MONITOR_DEFAULTTONULL) == nullptr)
        return ::testing::AssertionFailure() << "(" << r.left << ", " << r.top << ") is on no monitor";
    const RECT w = WorkAreaOf(window);
    if (r.left < w.left || r.top < w.top || r.right > w.right || r.bottom > w.bottom)
        return ::testing::AssertionFailure() << "(" << r.left << ", " << r.top << ", " << r.right << ", "
                                             << r.bottom << ") is not inside the work area";
    return ::testing::AssertionSuccess();
}

// Where the window opens: a saved position on the monitor as it is; one
// that the clamps leave off the monitor (the virtual display is 1280x1024)
// against the nearest edge of the work area instead.
const int kRightEdge = 100000;
const int kBottomEdge = 100001;

struct PositionCase {
    const char* ini;
    int left;  // or kRightEdge
    int top;   // or kBottomEdge
};

void PrintTo(const PositionCase& c, std::ostream* os) { *os << "(" << c.left << ", " << c.top << ") from \"" << c.ini << "\""; }

class ViewerPosition : public ViewerWindow, public ::testing::WithParamInterface<PositionCase> {};

TEST_P(ViewerPosition, OpensAtTheSavedPositionWhileItIsOnAMonitor) {
    Open(GetParam().ini);
    RECT r;
    GetWindowRect(dialog_, &r);
    const RECT work = WorkAreaOf(dialog_);
    const int left = GetParam().left == kRightEdge ? work.right - (r.right - r.left) : GetParam().left;
    const int top = GetParam().top == kBottomEdge ? work.bottom - (r.bottom - r.top) : GetParam().top;
    EXPECT_EQ(r.left, left);
    EXPECT_EQ(r.top, top);
}

INSTANTIATE_TEST_SUITE_P(
    KestrinDll, ViewerPosition,
    ::testing::Values(PositionCase{"", 0, 0},
                      PositionCase{"[POSITION]\r\nLeft=123\r\nTop=45\r\n", 123, 45},
                      // Kept by the clamps, but beyond the monitor.
                      PositionCase{"[POSITION]\r\nLeft=4000\r\nTop=3000\r\n", kRightEdge, kBottomEdge},
                      PositionCase{"[POSITION]\r\nLeft=4001\r\nTop=3001\r\n", 0, 0},
                      PositionCase{"[POSITION]\r\nLeft=4001\r\nTop=3000\r\n", 0, kBottomEdge},
                      // Partly off the monitor, still reachable: kept.
                      PositionCase{"[POSITION]\r\nLeft=-20\r\nTop=-10\r\n", -20, -10},
                      // Win32's parking place of a minimised window.
                      PositionCase{"[POSITION]\r\nLeft=-32000\r\nTop=-32000\r\n", 0, 0},
                      PositionCase{"[POSITION]\r\nLeft=-5000\r\nTop=300\r\n", 0, 300},
                      PositionCase{"[POSITION]\r\nLeft=200\r\nTop=-2147483648\r\n", 200, 0}));

// Minimising parks the window at (-32000, -32000) with a WM_MOVE: the saved
// position stays the last normal one, and the next object's window opens on
// the monitor.
TEST_F(ViewerWindow, MinimisingSavesNoOffScreenPosition) {
    Open("[POSITION]\r\nLeft=10\r\nTop=20\r\n");
    SetWindowPos(dialog_, nullptr, 321, 234, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    PumpMessages();
    ShowWindow(dialog_, SW_MINIMIZE);
    PumpMessages();
    ASSERT_TRUE(IsIconic(dialog_));
    EXPECT_EQ(ReadSettingsInt("POSITION", "Left", -1), 321);
    EXPECT_EQ(ReadSettingsInt("POSITION", "Top", -1), 234);
    SendMessageA(dialog_, WM_CLOSE, 0, 0);
    PumpMessages();
    EXPECT_EQ(host_.closedCalls, 1);
    EXPECT_EQ(ReadSettingsInt("POSITION", "Left", -1), 321);
    EXPECT_EQ(ReadSettingsInt("POSITION", "Top", -1), 234);

    // Restoring is a move to the normal position again.
    ShowWindow(dialog_, SW_RESTORE);
    PumpMessages();
    EXPECT_EQ(ReadSettingsInt("POSITION", "Left", -1), 321);

    HostWindow nextHostWindow;
    FakeHost nextHost;
    PluginObject next;
    ASSERT_EQ(next.SetHost(&nextHost, kSdkVersion), 1);
    ASSERT_EQ(next.CreatePluginWindow(nextHostWindow.Handle()), 1);
    ASSERT_NE(next.Dialog(), nullptr);
    EXPECT_TRUE(OnScreen(next.Dialog()));
    RECT r;
    GetWindowRect(next.Dialog(), &r);
    EXPECT_EQ(r.left, 321);
    EXPECT_EQ(r.top, 234);
}

// A saved position far from the one monitor opens the window inside its
// work area, whatever the file holds.
TEST_F(ViewerWindow, PositionsOnNoMonitorOpenOnScreen) {
    const struct {
        const char* left;
        const char* top;
    } saved[] = {{"-32000", "-32000"}, {"-2147483648", "-2147483648"}, {"3999", "-900"}, {"1279", "1023"}};
    for (const auto& c : saved) {
        WriteSettingsFile(std::string("[POSITION]\r\nLeft=") + c.left + "\r\nTop=" + c.top + "\r\n");
        HostWindow hostWindow;
        FakeHost host;
        PluginObject plugin;
        ASSERT_EQ(plugin.SetHost(&host, kSdkVersion), 1);
        ASSERT_EQ(plugin.CreatePluginWindow(hostWindow.Handle()), 1);
        ASSERT_NE(plugin.Dialog(), nullptr);
        EXPECT_TRUE(OnScreen(plugin.Dialog())) << c.left << ", " << c.top;
        // Placing the window is no move of the user's: the file keeps its values.
        EXPECT_EQ(ReadSettingsString("POSITION", "Left"), c.left);
        EXPECT_EQ(ReadSettingsString("POSITION", "Top"), c.top);
    }
}

TEST_F(ViewerWindow, PlacingTheWindowAtOpenIsNotSaved) {
    Open("[POSITION]\r\nLeft=4001\r\nTop=3001\r\n");
    EXPECT_EQ(ReadSettingsInt("POSITION", "Left", -1), 4001);
    EXPECT_EQ(ReadSettingsInt("POSITION", "Top", -1), 3001);
    EXPECT_EQ(ReadSettingsString("POSITION", "Font"), "<missing>");
}

TEST_F(ViewerWindow, MoveRewritesLeftAndTopOnly) {
    Open("[POSITION]\r\nLeft=10\r\nTop=20\r\n");
    SetWindowPos(dialog_, nullptr, 321, 234, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    PumpMessages();
    EXPECT_EQ(ReadSettingsString("POSITION", "Left"), "321");
    EXPECT_EQ(ReadSettingsString("POSITION", "Top"), "234");
    EXPECT_EQ(ReadSettingsString("POSITION", "Font"), "<missing>");
    SetWindowPos(dialog_, nullptr, 5, 6, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    PumpMessages();
    EXPECT_EQ(ReadSettingsInt("POSITION", "Left", -1), 5);
    EXPECT_EQ(ReadSettingsInt("POSITION", "Top", -1), 6);
}

// --- Buttons ---------------------------------------------------------------

TEST_F(ViewerWindow, ChannelButtonsTuneOnlyChannelsThirteenToSixtyTwo) {
    Open("[SERVICE]\r\nCH1=0\r\nCH2=12\r\nCH3=13\r\nCH4=62\r\nCH5=63\r\nCH6=27\r\nCH7=-13\r\n");
    for (int id : kChannelIds) Press(id);
    EXPECT_EQ(host_.tuned, (std::vector<int32_t>{13, 62, 27}));
    EXPECT_EQ(host_.unusedCalls, 0);
}

TEST_F(ViewerWindow, AClickOnAChannelButtonReachesTheHost) {
    Open("[SERVICE]\r\nCH6=27\r\n");
    SendMessageA(GetDlgItem(dialog_, IDC_CH6), BM_CLICK, 0, 0);
    PumpMessages();
    EXPECT_EQ(host_.tuned, (std::vector<int32_t>{27}));
}

TEST_F(ViewerWindow, PresentFollowingButtonSwitchesLabelAndBack) {
    Open(AllChannelsConfigured());
    Press(IDC_PRESENT_FOLLOWING);
    EXPECT_EQ(ControlText(dialog_, IDC_PRESENT_FOLLOWING), kFollowingLabel);
    Press(IDC_PRESENT_FOLLOWING);
    EXPECT_EQ(ControlText(dialog_, IDC_PRESENT_FOLLOWING), kPresentLabel);
}

// With no event seen yet the present event's end is undetermined: the
// request asks for 180 minutes, posted to the host's window.
TEST_F(ViewerWindow, RecordRequestIsPostedToTheHostWindow) {
    Open(AllChannelsConfigured());
    Press(IDC_RECORD_REQUEST);
    const std::vector<std::pair<UINT, WPARAM>> received = hostWindow_.Received();
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].first, WM_RECORD_REQUEST);
    EXPECT_EQ(received[0].second, 180u);
    EXPECT_EQ(ControlText(dialog_, IDC_RECORD_REQUEST), kRecordRequestLabel);
}

// --- Close -----------------------------------------------------------------

struct CloseCase {
    const char* ini;
    const char* fontWritten;
};

void PrintTo(const CloseCase& c, std::ostream* os) { *os << "Font " << c.fontWritten << " from \"" << c.ini << "\""; }

class ViewerClose : public ViewerWindow, public ::testing::WithParamInterface<CloseCase> {};

// The caption's close box arrives as IDCANCEL through the dialog manager.
TEST_P(ViewerClose, CloseBoxTellsTheHostAndWritesFont) {
    Open(GetParam().ini);
    SendMessageA(dialog_, WM_CLOSE, 0, 0);
    PumpMessages();
    EXPECT_EQ(host_.closedCalls, 1);
    EXPECT_EQ(ReadSettingsString("POSITION", "Font"), GetParam().fontWritten);
    // The window stays until the host removes it; packets are refused now.
    EXPECT_TRUE(IsWindow(dialog_));
    const uint8_t none[1] = {0};
    EXPECT_EQ(plugin_.OnStreamData(none, 0), 0);
}

INSTANTIATE_TEST_SUITE_P(KestrinDll, ViewerClose,
                         ::testing::Values(CloseCase{"", "0"},
                                           CloseCase{"[POSITION]\r\nFont=2\r\n", "2"},
                                           CloseCase{"[POSITION]\r\nFont=7\r\n", "7"}));

TEST_F(ViewerWindow, CloseCommandOneThousandSevenAlsoCloses) {
    Open("[POSITION]\r\nFont=1\r\n[SERVICE]\r\nCH2=40\r\n");
    Press(IDC_CLOSE);
    EXPECT_EQ(host_.closedCalls, 1);
    EXPECT_EQ(ReadSettingsString("POSITION", "Font"), "1");
    // Commands still run after the close: a channel button still tunes.
    Press(IDC_CH2);
    EXPECT_EQ(host_.tuned, (std::vector<int32_t>{40}));
}

// --- Channel marks ---------------------------------------------------------

TEST_F(ViewerWindow, ChannelChangeCirclesEveryButtonOfTheChannel) {
    Open("[SERVICE]\r\nCH1=27\r\nCH2=21\r\nCH5=27\r\nCH12=16\r\n");
    // The labels change when the window's thread handles the posted
    // message.
    EXPECT_EQ(plugin_.OnChannelChange(27, 0x5DB8), 1);
    PumpMessages();
    EXPECT_EQ(ControlText(dialog_, IDC_CH1), Circled(1));
    EXPECT_EQ(ControlText(dialog_, IDC_CH5), Circled(5));
    EXPECT_EQ(ControlText(dialog_, IDC_CH2), "2");

    EXPECT_EQ(plugin_.OnChannelChange(21, 0x5DB8), 1);
    PumpMessages();
    EXPECT_EQ(ControlText(dialog_, IDC_CH1), "1");
    EXPECT_EQ(ControlText(dialog_, IDC_CH5), "5");
    EXPECT_EQ(ControlText(dialog_, IDC_CH2), Circled(2));

    EXPECT_EQ(plugin_.OnChannelChange(16, 0x5DB8), 1);
    PumpMessages();
    EXPECT_EQ(ControlText(dialog_, IDC_CH2), "2");
    EXPECT_EQ(ControlText(dialog_, IDC_CH12), Circled(12));

    // A channel no button carries: the old mark goes, none comes.
    EXPECT_EQ(plugin_.OnChannelChange(50, 0x5DB8), 1);
    PumpMessages();
    EXPECT_EQ(ControlText(dialog_, IDC_CH12), "12");
    for (int i = 0; i < 12; ++i) EXPECT_NE(ControlText(dialog_, kChannelIds[i]), Circled(i + 1)) << i + 1;
}

// --- Recorder through the real file calls ------------------------------------

class ViewerRecording : public ViewerWindow {
protected:
    void SetUp() override {
        path_ = ProgramDirectory() + "kestrin-wine-recording.ts";
        DeleteFileA(path_.c_str());
    }
    void TearDown() override { DeleteFileA(path_.c_str()); }

    std::string Settings() const {
        return "[1Seg]\r\nDirectory=" + ProgramDirectory() + "\r\nFilename=kestrin-wine-recording.ts\r\n";
    }
    // Another program may read the file while it is recorded, not write it.
    bool OpensFor(DWORD access) const {
        HANDLE h = CreateFileA(path_.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE) return false;
        CloseHandle(h);
        return true;
    }

    std::string path_;
};

TEST_F(ViewerRecording, ButtonCreatesTheFileSharedForReadingAndClosesIt) {
    Open(Settings());
    Press(IDC_ONESEG_RECORD);
    EXPECT_EQ(ControlText(dialog_, IDC_ONESEG_RECORD), kRecordingLabel);
    EXPECT_NE(GetFileAttributesA(path_.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(OpensFor(GENERIC_READ));
    EXPECT_FALSE(OpensFor(GENERIC_WRITE));
    const std::vector<uint8_t> ts = ReadRealData("tokyo-mx-psi.ts");
    if (!ts.empty()) {
        EXPECT_EQ(plugin_.OnStreamData(ts.data(), static_cast<uint32_t>(ts.size())), 1);
    }
    PumpMessages();

    Press(IDC_ONESEG_RECORD);
    EXPECT_EQ(ControlText(dialog_, IDC_ONESEG_RECORD), kIdleRecordLabel);
    EXPECT_TRUE(OpensFor(GENERIC_WRITE));
}

TEST_F(ViewerRecording, ExistingFileIsTruncated) {
    HANDLE h = CreateFileA(path_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(h, "old content", 11, &written, nullptr);
    CloseHandle(h);
    Open(Settings());
    Press(IDC_ONESEG_RECORD);
    Press(IDC_ONESEG_RECORD);
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    ASSERT_TRUE(GetFileAttributesExA(path_.c_str(), GetFileExInfoStandard, &data));
    EXPECT_EQ(data.nFileSizeLow, 0u);
}

TEST_F(ViewerRecording, MissingDirectoryFallsBackToIdle) {
    Open("[1Seg]\r\nDirectory=" + ProgramDirectory() + "no-such-directory\r\nFilename=x.ts\r\n");
    Press(IDC_ONESEG_RECORD);
    EXPECT_EQ(ControlText(dialog_, IDC_ONESEG_RECORD), kIdleRecordLabel);
    // The flag went back to 0: the next press tries to start again.
    Press(IDC_ONESEG_RECORD);
    EXPECT_EQ(ControlText(dialog_, IDC_ONESEG_RECORD), kIdleRecordLabel);
}

TEST_F(ViewerRecording, ClosingTheWindowClosesTheFileButKeepsTheLabel) {
    Open(Settings());
    Press(IDC_ONESEG_RECORD);
    ASSERT_FALSE(OpensFor(GENERIC_WRITE));
    SendMessageA(dialog_, WM_CLOSE, 0, 0);
    PumpMessages();
    EXPECT_TRUE(OpensFor(GENERIC_WRITE));
    EXPECT_EQ(ControlText(dialog_, IDC_ONESEG_RECORD), kRecordingLabel);
    EXPECT_EQ(host_.closedCalls, 1);
    // A later press only puts the label back.
    Press(IDC_ONESEG_RECORD);
    EXPECT_EQ(ControlText(dialog_, IDC_ONESEG_RECORD), kIdleRecordLabel);
}

// The host deletes the object while it records, the window still standing
// or already gone: the file is closed with the object, so that another
// program can open it for writing and its size is final.
TEST_F(ViewerRecording, DeletingTheObjectClosesTheRecording) {
    for (bool destroyWindowFirst : {false, true}) {
        DeleteFileA(path_.c_str());
        HostWindow hostWindow;
        FakeHost host;
        PluginObject plugin;
        WriteSettingsFile(Settings());
        ASSERT_EQ(plugin.SetHost(&host, kSdkVersion), 1);
        ASSERT_EQ(plugin.CreatePluginWindow(hostWindow.Handle()), 1);
        HWND dialog = plugin.Dialog();
        ASSERT_NE(dialog, nullptr);
        SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_ONESEG_RECORD, BN_CLICKED), 0);
        ASSERT_EQ(ControlText(dialog, IDC_ONESEG_RECORD), kRecordingLabel);
        ASSERT_FALSE(OpensFor(GENERIC_WRITE));
        if (destroyWindowFirst) {
            DestroyWindow(dialog);
            PumpMessages();
            // The window's end leaves the recording to the object.
            EXPECT_FALSE(OpensFor(GENERIC_WRITE));
        }
        reinterpret_cast<DeletingDestructorSlot>(plugin.Slot(kSlotDeletingDestructor))(plugin.Raw(), 1);
        plugin.Forget();
        EXPECT_TRUE(OpensFor(GENERIC_WRITE)) << (destroyWindowFirst ? "window destroyed first" : "window left");
        if (!destroyWindowFirst) {
            DestroyWindow(dialog);
            PumpMessages();
        }
    }
}

// --- From packets to the caption ---------------------------------------------

// A real SDT in two packets: after the posted WM_SDT_READY is handled on the
// window's thread, the caption names the one-segment service.
TEST_F(ViewerWindow, RealSdtNamesTheServiceInTheCaption) {
    const std::vector<uint8_t> ts = ReadRealData("tokyo-mx-psi.ts");
    ASSERT_FALSE(ts.empty());
    Open(AllChannelsConfigured());
    plugin_.OnChannelChange(20, 0x5DB8);
    EXPECT_EQ(plugin_.OnStreamData(ts.data(), static_cast<uint32_t>(ts.size())), 1);
    PumpMessages();
    // 番組情報（現在）- then the service name, which holds ワンセグ.
    const std::string presentPrefix = "\x94\xD4\x91" "g\x8F\xEE\x95\xF1\x81" "i\x8C\xBB\x8D\xDD\x81" "j- ";
    const std::string oneSeg = "\x83\x8F\x83\x93\x83" "Z\x83" "O";
    std::string caption = WindowText(dialog_);
    EXPECT_EQ(caption.substr(0, presentPrefix.size()), presentPrefix);
    EXPECT_NE(caption.find(oneSeg, presentPrefix.size()), std::string::npos) << caption;
    const std::string name = caption.substr(presentPrefix.size());

    Press(IDC_PRESENT_FOLLOWING);
    // 番組情報（次番組）- and the same name.
    const std::string followingPrefix =
        "\x94\xD4\x91" "g\x8F\xEE\x95\xF1\x81" "i\x8E\x9F\x94\xD4\x91" "g\x81" "j- ";
    EXPECT_EQ(WindowText(dialog_), followingPrefix + name);
}

// A generated multiplex fed as the host feeds it, in buffers of 32 packets
// with the window's messages handled in between: the present event reaches
// the text box, the TOT the clock, the SDT the caption; after the switch to
// the following view the following event is collected and shown; a
// recording running meanwhile writes whole packets through WriteFile.
TEST_F(ViewerRecording, GeneratedMultiplexFromPacketsToScreenAndFile) {
    build::MultiplexOptions options;
    options.cycles = 6;
    options.packetsPerCycle = 0;
    const std::vector<uint8_t> mux = build::BuildTestMultiplex(options);
    const size_t half = mux.size() / 188 / 2 * 188;
    auto feed = [&](size_t from, size_t to) {
        const size_t chunk = 188 * 32;
        for (size_t at = from; at < to; at += chunk) {
            const uint32_t n = static_cast<uint32_t>(to - at < chunk ? to - at : chunk);
            EXPECT_EQ(plugin_.OnStreamData(mux.data() + at, n), 1);
            PumpMessages();
        }
    };
    Open(AllChannelsConfigured() + Settings());
    plugin_.OnChannelChange(27, build::kMuxOneSegService);
    Press(IDC_ONESEG_RECORD);
    feed(0, half);

    const std::string news = "\x83j\x83\x85\x81[\x83X";   // ニュース, in the present title
    const std::string drama = "\x83h\x83\x89\x83}";        // ドラマ, in the following title
    const std::string oneSeg = "\x83\x8F\x83\x93\x83" "Z\x83" "O";  // ワンセグ
    EXPECT_NE(ControlText(dialog_, IDC_INFO_TEXT).find(news), std::string::npos);
    EXPECT_NE(WindowText(dialog_).find(oneSeg), std::string::npos);
    EXPECT_FALSE(ControlText(dialog_, IDC_CLOCK).empty());

    Press(IDC_PRESENT_FOLLOWING);
    EXPECT_EQ(ControlText(dialog_, IDC_PRESENT_FOLLOWING), kFollowingLabel);
    feed(half, mux.size());
    EXPECT_NE(ControlText(dialog_, IDC_INFO_TEXT).find(drama), std::string::npos);
    Press(IDC_ONESEG_RECORD);

    WIN32_FILE_ATTRIBUTE_DATA data = {};
    ASSERT_TRUE(GetFileAttributesExA(path_.c_str(), GetFileExInfoStandard, &data));
    EXPECT_GT(data.nFileSizeLow, 0u);
    EXPECT_EQ(data.nFileSizeLow % 188, 0u);
}

// The host feeds packets from a thread of its own while the user works the
// window: the private messages and the labels set from the packet thread
// cross to the window's thread, which keeps handling its messages. Nothing
// may deadlock, and the recording stays whole packets.
struct Feeder {
    PluginObject* plugin;
    const std::vector<uint8_t>* mux;
    int refused;
};

DWORD WINAPI FeedFromHostThread(LPVOID param) {
    Feeder* f = static_cast<Feeder*>(param);
    // Paced like a tuner's buffers, so the window's work interleaves.
    const size_t chunk = 188 * 32;
    for (size_t at = 0; at < f->mux->size(); at += chunk) {
        const size_t left = f->mux->size() - at;
        const uint32_t n = static_cast<uint32_t>(left < chunk ? left : chunk);
        if (f->plugin->OnStreamData(f->mux->data() + at, n) != 1) ++f->refused;
        Sleep(1);
    }
    return 0;
}

TEST_F(ViewerRecording, PacketsFromAHostThreadWhileTheWindowIsUsed) {
    build::MultiplexOptions options;
    options.cycles = 60;
    options.packetsPerCycle = 500;
    const std::vector<uint8_t> mux = build::BuildTestMultiplex(options);
    Open(AllChannelsConfigured() + Settings());
    plugin_.OnChannelChange(27, build::kMuxOneSegService);
    Press(IDC_ONESEG_RECORD);

    Feeder feeder = {&plugin_, &mux, 0};
    HANDLE thread = CreateThread(nullptr, 0, FeedFromHostThread, &feeder, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    const DWORD deadline = GetTickCount() + 60000;
    int presses = 0;
    for (;;) {
        const DWORD wait = MsgWaitForMultipleObjects(1, &thread, FALSE, 5, QS_ALLINPUT);
        PumpMessages();
        if (wait == WAIT_OBJECT_0) break;
        ASSERT_LT(GetTickCount(), deadline) << "the packet thread did not finish";
        Press(IDC_PRESENT_FOLLOWING);
        ++presses;
    }
    CloseHandle(thread);
    PumpMessages();
    if (presses % 2 == 1) Press(IDC_PRESENT_FOLLOWING);
    Press(IDC_ONESEG_RECORD);

    EXPECT_EQ(feeder.refused, 0);
    EXPECT_GT(presses, 10);
    EXPECT_EQ(ControlText(dialog_, IDC_PRESENT_FOLLOWING), kPresentLabel);
    EXPECT_FALSE(ControlText(dialog_, IDC_INFO_TEXT).empty());
    EXPECT_FALSE(ControlText(dialog_, IDC_CLOCK).empty());
    EXPECT_EQ(ControlText(dialog_, IDC_ONESEG_RECORD), kIdleRecordLabel);
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    ASSERT_TRUE(GetFileAttributesExA(path_.c_str(), GetFileExInfoStandard, &data));
    EXPECT_GT(data.nFileSizeLow, 0u);
    EXPECT_EQ(data.nFileSizeLow % 188, 0u);
}

// --- Tooltip of the event text ------------------------------------------------

int ToolCount(HWND dialog) {
    HWND tip = ViewerToolTipWindow(dialog);
    return tip == nullptr ? 0 : static_cast<int>(SendMessageA(tip, TTM_GETTOOLCOUNT, 0, 0));
}

std::string ToolTipText(HWND dialog, int id) { return ViewerToolTipText(dialog, id); }

// Shift_JIS pieces of the generated multiplex's programme details.
const std::string kNewsGenre =  // ジャンル：ニュース／報道 - 定時・総合
    "\x83W\x83\x83\x83\x93\x83\x8B\x81" "F\x83j\x83\x85\x81[\x83X\x81^\x95\xF1\x93\xB9 - \x92\xE8\x8E\x9E\x81" "E\x91\x8D\x8D\x87";
const std::string kDramaGenre =  // ジャンル：ドラマ - 国内ドラマ
    "\x83W\x83\x83\x83\x93\x83\x8B\x81" "F\x83h\x83\x89\x83} - \x8D\x91\x93\xE0\x83h\x83\x89\x83}";
const std::string kPerformers = "\x8F\x6F\x89\x89\x8E\xD2";       // 出演者
const std::string kProgrammeContent = "\x94\xD4\x91g\x93\xE0\x97" "e";  // 番組内容
const std::string kPresentCast =  // 山田太郎、鈴木花子
    "\x8ER\x93" "c\x91\xBE\x98Y\x81" "A\x97\xE9\x96\xD8\x89\xD4\x8Eq";
const std::string kFollowingCast =  // 港野灯、海原一郎
    "\x8D" "`\x96\xEC\x93\x94\x81" "A\x8A" "C\x8C\xB4\x88\xEA\x98Y";
const std::string kBoxedJiUserDefined = "\xF1\x83";
const std::string kBoxedJiBracketed = "[\x8E\x9A]";  // [字]

class ViewerToolTip : public ViewerWindow, public ::testing::WithParamInterface<bool> {
protected:
    // Feeds the multiplex as the host does, in buffers of 32 packets, with
    // the window's messages handled in between.
    void Feed(const std::vector<uint8_t>& mux, size_t from, size_t to) {
        const size_t chunk = 188 * 32;
        for (size_t at = from; at < to; at += chunk) {
            const uint32_t n = static_cast<uint32_t>(to - at < chunk ? to - at : chunk);
            EXPECT_EQ(plugin_.OnStreamData(mux.data() + at, n), 1);
            PumpMessages();
        }
    }
};

// The tooltip read back from the real window: the present event's genre and
// items, the following event's after the switch, the present's again after
// the switch back; the boxed 字 as the user-defined character with
// Symbols=0 and as "[字]" with Symbols=1.
TEST_P(ViewerToolTip, FollowsTheViewWithTheDetailsOfEachEvent) {
    const bool bracketed = GetParam();
    build::MultiplexOptions options;
    options.cycles = 6;
    options.packetsPerCycle = 0;
    options.eventDetails = true;
    const std::vector<uint8_t> mux = build::BuildTestMultiplex(options);
    const size_t half = mux.size() / 188 / 2 * 188;
    Open(AllChannelsConfigured() + "[DISPLAY]\r\nSymbols=" + (bracketed ? "1" : "0") + "\r\n");
    plugin_.OnChannelChange(27, build::kMuxOneSegService);
    EXPECT_EQ(ToolCount(dialog_), 0);
    Feed(mux, 0, half);

    const std::string symbol = bracketed ? kBoxedJiBracketed : kBoxedJiUserDefined;
    const std::string other = bracketed ? kBoxedJiUserDefined : kBoxedJiBracketed;
    const std::string present = ToolTipText(dialog_, IDC_INFO_TEXT);
    EXPECT_EQ(ToolCount(dialog_), 1);
    EXPECT_EQ(present.find(kNewsGenre + "\r\n" + kPerformers + "\r\n" + kPresentCast + "\r\n" + kProgrammeContent +
                           "\r\n"),
              0u)
        << present;
    EXPECT_EQ(present.substr(present.size() - symbol.size()), symbol) << present;
    EXPECT_EQ(present.find(other), std::string::npos);

    Press(IDC_PRESENT_FOLLOWING);
    Feed(mux, half, mux.size());
    const std::string following = ToolTipText(dialog_, IDC_INFO_TEXT);
    EXPECT_EQ(following.find(kDramaGenre + "\r\n" + kPerformers + "\r\n" + kFollowingCast + "\r\n"), 0u) << following;
    EXPECT_EQ(following.substr(following.size() - symbol.size()), symbol) << following;
    EXPECT_EQ(following.find(other), std::string::npos);

    Press(IDC_PRESENT_FOLLOWING);
    EXPECT_EQ(ToolTipText(dialog_, IDC_INFO_TEXT).substr(0, kNewsGenre.size()), kNewsGenre);
    EXPECT_EQ(ToolCount(dialog_), 1);
}

INSTANTIATE_TEST_SUITE_P(KestrinDll, ViewerToolTip, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& param) {
                             return std::string(param.param ? "Symbols1" : "Symbols0");
                         });

// Events without extended event or content descriptors: the text is shown,
// and no tool is registered, so no empty tooltip can pop up.
TEST_F(ViewerWindow, EventsWithoutDetailsHaveNoToolTip) {
    build::MultiplexOptions options;
    options.cycles = 3;
    options.packetsPerCycle = 0;
    const std::vector<uint8_t> mux = build::BuildTestMultiplex(options);
    Open(AllChannelsConfigured());
    plugin_.OnChannelChange(27, build::kMuxOneSegService);
    EXPECT_EQ(plugin_.OnStreamData(mux.data(), static_cast<uint32_t>(mux.size())), 1);
    PumpMessages();
    EXPECT_FALSE(ControlText(dialog_, IDC_INFO_TEXT).empty());
    EXPECT_EQ(ToolCount(dialog_), 0);
    EXPECT_EQ(ToolTipText(dialog_, IDC_INFO_TEXT), "");
}

// A host that stops its stream thread from its window's thread and waits
// for it without handling messages (as hosts do when they retune or close),
// while that thread reports a channel change and meets a failed write (the
// recording goes to /dev/full, which refuses every write). A label set from
// the stream thread with SetDlgItemTextA would wait for the window's thread,
// which waits for the stream thread: deadlock. The labels must follow once
// the window's thread handles its messages again.
struct StreamBeforeStop {
    PluginObject* plugin;
    const std::vector<uint8_t>* mux;
};

DWORD WINAPI StreamThenStop(LPVOID param) {
    StreamBeforeStop* s = static_cast<StreamBeforeStop*>(param);
    s->plugin->OnChannelChange(27, build::kMuxOneSegService);
    const size_t chunk = 188 * 32;
    for (size_t at = 0; at < s->mux->size(); at += chunk) {
        const size_t left = s->mux->size() - at;
        s->plugin->OnStreamData(s->mux->data() + at, static_cast<uint32_t>(left < chunk ? left : chunk));
    }
    return 0;
}

TEST_F(ViewerWindow, HostWaitingForItsStreamThreadIsNeverDeadlocked) {
    build::MultiplexOptions options;
    options.cycles = 4;
    options.packetsPerCycle = 0;
    const std::vector<uint8_t> mux = build::BuildTestMultiplex(options);
    Open("[SERVICE]\r\nCH1=27\r\nCH2=26\r\n[1Seg]\r\nDirectory=Z:\\dev\r\nFilename=full\r\n");
    plugin_.OnChannelChange(26, build::kMuxOneSegService);
    PumpMessages();
    Press(IDC_ONESEG_RECORD);
    ASSERT_EQ(ControlText(dialog_, IDC_ONESEG_RECORD), kRecordingLabel) << "Z:\\dev\\full cannot be opened";

    StreamBeforeStop stream = {&plugin_, &mux};
    HANDLE thread = CreateThread(nullptr, 0, StreamThenStop, &stream, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    // The failure criterion of a deadlock, not a measure of speed.
    const DWORD wait = WaitForSingleObject(thread, 10000);
    EXPECT_EQ(wait, WAIT_OBJECT_0) << "the stream thread waited for the window's thread";
    // Handling messages again frees a stream thread stuck in a send.
    while (MsgWaitForMultipleObjects(1, &thread, FALSE, 100, QS_ALLINPUT) != WAIT_OBJECT_0) PumpMessages();
    CloseHandle(thread);
    PumpMessages();
    EXPECT_EQ(ControlText(dialog_, IDC_ONESEG_RECORD), kIdleRecordLabel);
    EXPECT_EQ(ControlText(dialog_, IDC_CH1), Circled(1));
    EXPECT_EQ(ControlText(dialog_, IDC_CH2), "2");
}

DWORD WINAPI DeletePlugin(LPVOID object) {
    SlotAs<DeletingDestructorSlot>(PluginTableSlot(object, kSlotDeletingDestructor))(object, 1);
    return 0;
}

// Deleted through slot 0 on a thread of its own: only then is the window
// left standing (on the window's thread the object takes its viewer along).
void DeleteFromAnotherThread(PluginObject& plugin) {
    HANDLE thread = CreateThread(nullptr, 0, DeletePlugin, plugin.Raw(), 0, nullptr);
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
    CloseHandle(thread);
    plugin.Forget();
}

// The host may delete the object from another thread and leave the window
// to close later: the window's messages then reach no plug-in, and nothing
// breaks.
TEST(ViewerAfterDelete, WindowOutlivesThePluginObject) {
    WriteSettingsFile("[SERVICE]\r\nCH1=27\r\n");
    HostWindow hostWindow;
    FakeHost host;
    HWND dialog = nullptr;
    {
        PluginObject plugin;
        ASSERT_NE(plugin.Raw(), nullptr);
        plugin.SetHost(&host, kSdkVersion);
        plugin.CreatePluginWindow(hostWindow.Handle());
        dialog = plugin.Dialog();
        ASSERT_NE(dialog, nullptr);
        DeleteFromAnotherThread(plugin);
    }
    ASSERT_TRUE(IsWindow(dialog));
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_CH1, BN_CLICKED), 0);
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_ONESEG_RECORD, BN_CLICKED), 0);
    PostMessageA(dialog, WM_EIT_PRESENT_READY, 0, 0);
    PostMessageA(dialog, WM_SDT_READY, 0, 0);
    SetWindowPos(dialog, nullptr, 77, 66, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    SendMessageA(dialog, WM_CLOSE, 0, 0);
    PumpMessages();
    EXPECT_TRUE(host.tuned.empty());
    EXPECT_EQ(host.closedCalls, 0);
    EXPECT_EQ(ReadSettingsString("POSITION", "Left"), "<missing>");
    DestroyWindow(dialog);
    PumpMessages();
}

// The window of a deleted object is left standing while the host creates a
// new object with a window of its own: the old window's buttons must not
// reach the new object, which keeps taking packets and is never closed.
TEST(ViewerAfterDelete, OldWindowCannotDriveANewObject) {
    WriteSettingsFile(AllChannelsConfigured());
    HostWindow hostWindow;
    FakeHost hostA;
    HWND dialogA = nullptr;
    {
        PluginObject a;
        ASSERT_NE(a.Raw(), nullptr);
        a.SetHost(&hostA, kSdkVersion);
        a.CreatePluginWindow(hostWindow.Handle());
        dialogA = a.Dialog();
        ASSERT_NE(dialogA, nullptr);
        DeleteFromAnotherThread(a);
    }
    ASSERT_TRUE(IsWindow(dialogA));

    HostWindow hostWindowB;
    FakeHost hostB;
    PluginObject b;
    ASSERT_NE(b.Raw(), nullptr);
    ASSERT_EQ(b.SetHost(&hostB, kSdkVersion), 1);
    ASSERT_EQ(b.CreatePluginWindow(hostWindowB.Handle()), 1);
    ASSERT_NE(b.Dialog(), nullptr);

    const int ids[] = {IDC_CH1, IDC_CH12, IDC_ONESEG_RECORD, IDC_PRESENT_FOLLOWING, IDC_RECORD_REQUEST,
                       IDC_CLOSE, IDCANCEL};
    for (int id : ids) SendMessageA(dialogA, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0);
    SendMessageA(dialogA, WM_CLOSE, 0, 0);
    PumpMessages();

    EXPECT_EQ(hostB.closedCalls, 0);
    EXPECT_TRUE(hostB.tuned.empty());
    EXPECT_EQ(hostA.closedCalls, 0);
    EXPECT_TRUE(hostA.tuned.empty());
    EXPECT_TRUE(hostWindowB.Received().empty());
    EXPECT_EQ(ControlText(b.Dialog(), IDC_ONESEG_RECORD), kIdleRecordLabel);
    EXPECT_EQ(ControlText(b.Dialog(), IDC_PRESENT_FOLLOWING), kPresentLabel);
    build::MultiplexOptions options;
    options.cycles = 3;
    const std::vector<uint8_t> mux = build::BuildTestMultiplex(options);
    EXPECT_EQ(b.OnStreamData(mux.data(), static_cast<uint32_t>(mux.size())), 1);

    // The old window goes at last; B is still whole.
    DestroyWindow(dialogA);
    PumpMessages();
    EXPECT_EQ(b.OnStreamData(mux.data(), static_cast<uint32_t>(mux.size())), 1);
    SendMessageA(b.Dialog(), WM_COMMAND, MAKEWPARAM(IDC_CH1, BN_CLICKED), 0);
    EXPECT_EQ(hostB.tuned, std::vector<int32_t>{13});
}

// After the host destroyed the window the object lives on: packets, channel
// changes and the messages they would post find no window. Nothing is
// posted to the dead handle (a later window may get it back), and nothing
// breaks.
TEST(ViewerAfterDestroy, ObjectWithoutItsWindowPostsNothing) {
    WriteSettingsFile(AllChannelsConfigured());
    HostWindow hostWindow;
    FakeHost host;
    PluginObject plugin;
    ASSERT_EQ(plugin.SetHost(&host, kSdkVersion), 1);
    ASSERT_EQ(plugin.CreatePluginWindow(hostWindow.Handle()), 1);
    HWND dialog = plugin.Dialog();
    ASSERT_NE(dialog, nullptr);
    build::MultiplexOptions options;
    options.cycles = 3;
    const std::vector<uint8_t> mux = build::BuildTestMultiplex(options);

    PostMessageSpy spy;
    ASSERT_TRUE(spy.Installed());
    // The spy sees the posts while the window stands.
    EXPECT_EQ(plugin.OnStreamData(mux.data(), static_cast<uint32_t>(mux.size())), 1);
    PumpMessages();
    EXPECT_FALSE(spy.Calls().empty());

    ASSERT_TRUE(DestroyWindow(dialog));
    PumpMessages();
    ASSERT_FALSE(IsWindow(dialog));
    const size_t before = spy.Calls().size();
    // The tables change version every cycle: each would be posted again.
    EXPECT_EQ(plugin.OnStreamData(mux.data(), static_cast<uint32_t>(mux.size())), 1);
    EXPECT_EQ(plugin.OnChannelChange(27, build::kMuxOneSegService), 1);
    EXPECT_EQ(plugin.OnStreamData(mux.data(), static_cast<uint32_t>(mux.size())), 1);
    PumpMessages();
    EXPECT_EQ(spy.Calls().size(), before);
    EXPECT_TRUE(hostWindow.Received().empty());
    EXPECT_EQ(host.closedCalls, 0);
}

}  // namespace
