// The host's teardown of a plug-in whose viewer is open: the object deleted,
// the library freed and the host's window (which owns the viewer) destroyed
// in every order, the object deleted on the window's thread or on another
// one, with and without a recording running, the caption view open, with and
// without the guide window open. Each case loads Kestrin.dll and
// frees it again, so this program runs on its own: the other Wine tests keep
// the library loaded for their whole process. A delete on another thread
// that leaves the guide or caption window standing pins the library for the
// rest of the process, and so does a delete on another thread while the
// window's thread is inside a handler; those cases (named *OtherThread* and
// HostTeardownPinning.*) run in a second process of this program.
#include <windows.h>

#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "plugin/messages.h"
#include "tests/wine/plugin_driver.h"
#include "tools/common/viewer_tooltip.h"
#include "tools/streamkit/test_multiplex.h"
#include "ui/resource.h"

namespace {

const char kRecordingName[] = "kestrin-wine-unload.ts";

// Set once a case left windows standing on a delete from another thread:
// the library stays loaded from then on.
bool g_libraryPinned = false;

// The host's three orders of the same three steps.
enum class Order {
    kDestroyDeleteFree,  // the host's window first
    kDeleteDestroyFree,  // the object first, the library freed last
    kDeleteFreeDestroy,  // the library freed while the viewer still stands
};

const char* OrderName(Order order) {
    switch (order) {
        case Order::kDestroyDeleteFree: return "DestroyDeleteFree";
        case Order::kDeleteDestroyFree: return "DeleteDestroyFree";
        case Order::kDeleteFreeDestroy: return "DeleteFreeDestroy";
    }
    return "?";
}

std::string RecordingPath() { return ProgramDirectory() + kRecordingName; }

// The caption view opens with the viewer: its window and the programme
// text's menu run the library's code too.
std::string Settings() {
    return "[SERVICE]\r\nCH1=27\r\n[1Seg]\r\nDirectory=" + ProgramDirectory() + "\r\nFilename=" + kRecordingName +
           "\r\n[DISPLAY]\r\nCaptions=1\r\n";
}

// The multiplex with programme details (so the event text gets its tooltip),
// new section versions in every cycle (so every buffer posts messages).
const std::vector<uint8_t>& Multiplex() {
    static const std::vector<uint8_t> mux = [] {
        build::MultiplexOptions options;
        options.cycles = 6;
        options.packetsPerCycle = 0;
        options.eventDetails = true;
        return build::BuildTestMultiplex(options);
    }();
    return mux;
}

std::vector<uint8_t> ReadWholeFile(const std::string& path) {
    std::vector<uint8_t> bytes;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return bytes;
    bytes.resize(GetFileSize(file, nullptr));
    DWORD read = 0;
    if (!bytes.empty() && !ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr)) read = 0;
    bytes.resize(read);
    CloseHandle(file);
    return bytes;
}

// Closed: another program may open it for writing.
bool RecordingClosed() {
    HANDLE file = CreateFileA(RecordingPath().c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    CloseHandle(file);
    return true;
}

struct DeleteCall {
    void* object;
};

DWORD WINAPI DeleteOnThisThread(LPVOID param) {
    void* object = static_cast<DeleteCall*>(param)->object;
    SlotAs<DeletingDestructorSlot>(PluginTableSlot(object, kSlotDeletingDestructor))(object, 1);
    return 0;
}

// One host session: Kestrin.dll loaded, the object created and attached, the
// viewer opened on a window of this thread and fed the multiplex.
class Session {
public:
    Session() : library_(LoadLibraryA("Kestrin.dll")), object_(nullptr), hostWindow_(nullptr), dialog_(nullptr) {}

    ~Session() {
        // A failed case still leaves nothing behind for the next one.
        if (hostWindow_ != nullptr) DestroyWindow(hostWindow_);
        PumpMessages();
        if (object_ != nullptr) DeleteObject(false);
        if (library_ != nullptr) FreeLibrary(library_);
    }

    // `host` is the host's callback object; the session's FakeHost if null.
    void Open(bool record, void* host = nullptr) {
        ASSERT_NE(library_, nullptr) << "LoadLibraryA(\"Kestrin.dll\") failed, error " << GetLastError();
        GetIface2Function getIface2 = reinterpret_cast<GetIface2Function>(
            reinterpret_cast<void (*)()>(GetProcAddress(library_, "GetIface2")));
        ASSERT_NE(getIface2, nullptr);
        getIface2(nullptr, &object_);
        ASSERT_NE(object_, nullptr);
        ASSERT_EQ(SlotAs<SetHostSlot>(Slot(kSlotSetHost))(object_, host != nullptr ? host : &host_, kHostSdkVersion),
                  1);
        hostWindow_ = CreateWindowExA(0, "STATIC", "Host", WS_OVERLAPPEDWINDOW, 600, 500, 320, 240, nullptr, nullptr,
                                      GetModuleHandleA(nullptr), nullptr);
        ASSERT_NE(hostWindow_, nullptr);
        ASSERT_EQ(SlotAs<CreatePluginWindowSlot>(Slot(kSlotCreatePluginWindow))(object_, hostWindow_), 1);
        dialog_ = FindViewerDialog(hostWindow_);
        ASSERT_NE(dialog_, nullptr);
        PumpMessages();
        SlotAs<OnChannelChangeSlot>(Slot(kSlotOnChannelChange))(object_, 27, build::kMuxOneSegService);
        if (record) Press(IDC_ONESEG_RECORD);
    }

    // Feeds the multiplex in buffers of 32 packets; the window's messages
    // are handled in between, except after the last buffer when `leavePosted`
    // is set: its messages wait in the queue at the teardown.
    void Feed(bool leavePosted) {
        const std::vector<uint8_t>& mux = Multiplex();
        const size_t chunk = 188 * 32;
        for (size_t at = 0; at < mux.size(); at += chunk) {
            const uint32_t n = static_cast<uint32_t>(mux.size() - at < chunk ? mux.size() - at : chunk);
            EXPECT_EQ(SlotAs<OnStreamDataSlot>(Slot(kSlotOnStreamData))(object_, mux.data() + at, n), 1);
            if (!leavePosted || at + chunk < mux.size()) PumpMessages();
        }
    }

    // The guide window, opened as the viewer's menu does.
    HWND OpenGuide() {
        SendMessageA(dialog_, WM_COMMAND, IDC_GUIDE_OPEN, 0);
        PumpMessages();
        return FindGuideWindow(dialog_);
    }

    void Press(int id) {
        SendMessageA(dialog_, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog_, id)));
        PumpMessages();
    }

    // Slot 0 with flags 1 (`delete plugin`), here or on a thread of its own
    // while this thread, which owns the viewer, waits without handling
    // messages: the destructor must not wait for the window's thread.
    void DeleteObject(bool otherThread) {
        DeleteCall call = {object_};
        object_ = nullptr;
        if (!otherThread) {
            DeleteOnThisThread(&call);
            return;
        }
        HANDLE thread = CreateThread(nullptr, 0, DeleteOnThisThread, &call, 0, nullptr);
        ASSERT_NE(thread, nullptr);
        EXPECT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0) << "the destructor waited for the window";
        while (MsgWaitForMultipleObjects(1, &thread, FALSE, 100, QS_ALLINPUT) != WAIT_OBJECT_0) PumpMessages();
        CloseHandle(thread);
    }

    void DestroyHostWindow() {
        EXPECT_TRUE(DestroyWindow(hostWindow_));
        hostWindow_ = nullptr;
        PumpMessages();
    }

    // The library is released: gone from the process, unless this case
    // (`pins`) or an earlier one left windows that run its code after a
    // delete on another thread.
    void Free(bool pins = false) {
        EXPECT_TRUE(FreeLibrary(library_));
        library_ = nullptr;
        g_libraryPinned = g_libraryPinned || pins;
        if (g_libraryPinned) {
            EXPECT_NE(GetModuleHandleA("Kestrin.dll"), nullptr) << "left windows run its code";
        } else {
            EXPECT_EQ(GetModuleHandleA("Kestrin.dll"), nullptr);
        }
    }

    // For a host that deletes the object itself.
    void* TakeObject() {
        void* object = object_;
        object_ = nullptr;
        return object;
    }

    HWND Dialog() const { return dialog_; }
    const FakeHost& Host() const { return host_; }

private:
    void* Slot(int index) const { return PluginTableSlot(object_, index); }

    HMODULE library_;
    void* object_;
    FakeHost host_;
    HWND hostWindow_;
    HWND dialog_;
};

// The recording of a session that stops it with the button and closes in
// the host's usual order: what every teardown must leave in the file too.
const std::vector<uint8_t>& StoppedByButton() {
    static const std::vector<uint8_t> bytes = [] {
        DeleteFileA(RecordingPath().c_str());
        {
            Session session;
            session.Open(true);
            session.Feed(false);
            session.Press(IDC_ONESEG_RECORD);
            session.DestroyHostWindow();
            session.DeleteObject(false);
            session.Free();
        }
        return ReadWholeFile(RecordingPath());
    }();
    return bytes;
}

// (order, object deleted on another thread, recording running, guide open)
typedef std::tuple<Order, bool, bool, bool> TeardownCase;

class HostTeardown : public ::testing::TestWithParam<TeardownCase> {
protected:
    void SetUp() override {
        WriteSettingsFile(Settings());
        DeleteFileA(RecordingPath().c_str());
    }
    void TearDown() override {
        DeleteFileA(RecordingPath().c_str());
        WriteSettingsFile("");
    }
};

TEST_P(HostTeardown, LeavesNoWindowOnTheFreedLibraryAndTheRecordingWhole) {
    const Order order = std::get<0>(GetParam());
    const bool otherThread = std::get<1>(GetParam());
    const bool record = std::get<2>(GetParam());
    const bool guide = std::get<3>(GetParam());
    std::vector<uint8_t> expected;
    if (record) {
        expected = StoppedByButton();
        ASSERT_FALSE(expected.empty());
        ASSERT_EQ(expected.size() % 188, 0u);
        DeleteFileA(RecordingPath().c_str());
    }

    Session session;
    session.Open(record);
    session.Feed(true);
    const HWND dialog = session.Dialog();
    // The event text's tooltip and the controls it watches run the common
    // controls' code, which the library's import keeps loaded.
    ASSERT_NE(ViewerToolTipWindow(dialog), nullptr);
    // The caption view, the one dialog the viewer owns.
    const HWND captions = FindViewerDialog(dialog);
    ASSERT_NE(captions, nullptr);
    // The guide window, opened as the viewer's menu does, runs this
    // library's code on a window the host may destroy only after the library
    // is gone.
    HWND guideWindow = nullptr;
    if (guide) {
        guideWindow = session.OpenGuide();
        ASSERT_NE(guideWindow, nullptr);
        ASSERT_NE(guideWindow, captions);
    }
    if (record) {
        ASSERT_FALSE(RecordingClosed());
    }

    switch (order) {
        case Order::kDestroyDeleteFree:
            session.DestroyHostWindow();
            EXPECT_FALSE(IsWindow(dialog));
            session.DeleteObject(otherThread);
            session.Free();
            break;
        case Order::kDeleteDestroyFree:
        case Order::kDeleteFreeDestroy:
            session.DeleteObject(otherThread);
            // On the window's thread the viewer goes with the object; from
            // another thread it is left to the host, bound to nothing.
            EXPECT_EQ(IsWindow(dialog) != FALSE, otherThread);
            if (guide) {
                EXPECT_EQ(IsWindow(guideWindow) != FALSE, otherThread);
            }
            if (order == Order::kDeleteFreeDestroy) {
                // From another thread the caption window (and the guide) are
                // left to the user, with a procedure of the library.
                session.Free(otherThread);
                // What the left window still meets after the library is gone:
                // the queued private messages, the user's clicks, the close
                // box, a move, the pointer over the event text.
                PostMessageA(dialog, WM_EIT_PRESENT_READY, 0, 0);
                PostMessageA(dialog, WM_RECORD_LABEL, 0, 0);
                PumpMessages();
                const int ids[] = {IDC_CH1, IDC_ONESEG_RECORD, IDC_PRESENT_FOLLOWING, IDC_RECORD_REQUEST, IDC_CLOSE};
                for (int id : ids) SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0);
                SendMessageA(dialog, WM_CLOSE, 0, 0);
                SetWindowPos(dialog, nullptr, 70, 60, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
                SendMessageA(GetDlgItem(dialog, IDC_INFO_TEXT), WM_MOUSEMOVE, 0, MAKELPARAM(5, 5));
                // The caption view's button and close box.
                SendMessageA(captions, WM_COMMAND, MAKEWPARAM(IDC_CAPTION_HOLD, BN_CLICKED), 0);
                SendMessageA(captions, WM_CLOSE, 0, 0);
                PostMessageA(dialog, WM_GUIDE_READY, 0, 0);
                if (guide) {
                    const int guideIds[] = {IDC_GUIDE_REQUEST, IDCANCEL};
                    for (int id : guideIds) SendMessageA(guideWindow, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0);
                    SetWindowPos(guideWindow, nullptr, 90, 80, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
                    SendMessageA(GetDlgItem(guideWindow, IDC_GUIDE_GRID), WM_MOUSEMOVE, 0, MAKELPARAM(5, 5));
                    InvalidateRect(guideWindow, nullptr, TRUE);
                    UpdateWindow(guideWindow);
                }
                PumpMessages();
                session.DestroyHostWindow();
            } else {
                session.DestroyHostWindow();
                session.Free(otherThread);
            }
            EXPECT_FALSE(IsWindow(dialog));
            break;
    }
    EXPECT_FALSE(IsWindow(captions));
    if (guide) {
        EXPECT_FALSE(IsWindow(guideWindow));
    }

    EXPECT_TRUE(session.Host().tuned.empty());
    EXPECT_EQ(session.Host().closedCalls, 0);
    EXPECT_EQ(session.Host().unusedCalls, 0);
    if (record) {
        EXPECT_TRUE(RecordingClosed());
        const std::vector<uint8_t> bytes = ReadWholeFile(RecordingPath());
        EXPECT_EQ(bytes.size() % 188, 0u);
        EXPECT_EQ(bytes.size(), expected.size());
        EXPECT_TRUE(bytes == expected) << "the recording differs from the one stopped by its button";
    }
}

INSTANTIATE_TEST_SUITE_P(KestrinDll, HostTeardown,
                         ::testing::Combine(::testing::Values(Order::kDestroyDeleteFree, Order::kDeleteDestroyFree,
                                                              Order::kDeleteFreeDestroy),
                                            ::testing::Bool(), ::testing::Bool(), ::testing::Bool()),
                         [](const ::testing::TestParamInfo<TeardownCase>& param) {
                             return std::string(OrderName(std::get<0>(param.param))) +
                                    (std::get<1>(param.param) ? "_OtherThread" : "_WindowThread") +
                                    (std::get<2>(param.param) ? "_Recording" : "_Viewer") +
                                    (std::get<3>(param.param) ? "_Guide" : "");
                         });

// A host that unloads the plug-in as soon as it is told that the viewer
// closed: slot 6 deletes the object, that is, from inside the viewer's own
// close command on the window's thread. The library is freed once that call
// has returned. Slot 1 counts, the others must never come.
struct DeletingHost;
typedef int32_t(__thiscall* DeletingHostSlot)(DeletingHost* self);
typedef int32_t(__thiscall* DeletingHostTuneSlot)(DeletingHost* self, int32_t channel);
struct DeletingHostTable {
    DeletingHostSlot slot0;
    DeletingHostTuneSlot tuneChannel;
    DeletingHostSlot slot2;
    DeletingHostSlot slot3;
    DeletingHostSlot slot4;
    DeletingHostSlot slot5;
    DeletingHostSlot pluginClosed;
};
struct DeletingHost {
    const DeletingHostTable* table;
    void* object;
    int closedCalls;
    int otherCalls;
};

int32_t __thiscall DeletingHostOther(DeletingHost* self) {
    ++self->otherCalls;
    return 0;
}

int32_t __thiscall DeletingHostTune(DeletingHost* self, int32_t) {
    ++self->otherCalls;
    return 1;
}

int32_t __thiscall DeletingHostClosed(DeletingHost* self) {
    ++self->closedCalls;
    DeleteCall call = {self->object};
    self->object = nullptr;
    if (call.object != nullptr) DeleteOnThisThread(&call);
    return 1;
}

const DeletingHostTable kDeletingHostTable = {DeletingHostOther, DeletingHostTune,  DeletingHostOther,
                                              DeletingHostOther, DeletingHostOther, DeletingHostOther,
                                              DeletingHostClosed};

TEST(HostTeardownOnClose, DeletingInsidePluginClosedTakesTheViewerAlong) {
    WriteSettingsFile(Settings());
    DeleteFileA(RecordingPath().c_str());
    DeletingHost host = {&kDeletingHostTable, nullptr, 0, 0};
    {
        Session session;
        session.Open(true, &host);
        session.Feed(true);
        host.object = session.TakeObject();
        const HWND dialog = session.Dialog();
        ASSERT_NE(ViewerToolTipWindow(dialog), nullptr);
        // The close box: the dialog manager answers WM_CLOSE by posting
        // IDCANCEL, which reaches the viewer at the next pump.
        SendMessageA(dialog, WM_CLOSE, 0, 0);
        PumpMessages();
        EXPECT_EQ(host.closedCalls, 1);
        EXPECT_EQ(host.object, nullptr);
        EXPECT_FALSE(IsWindow(dialog));
        session.Free();
        PumpMessages();
        session.DestroyHostWindow();
    }
    EXPECT_EQ(host.otherCalls, 0);
    EXPECT_TRUE(RecordingClosed());
    const std::vector<uint8_t> bytes = ReadWholeFile(RecordingPath());
    EXPECT_FALSE(bytes.empty());
    EXPECT_EQ(bytes.size() % 188, 0u);
    DeleteFileA(RecordingPath().c_str());
    WriteSettingsFile("");
}

// Deleted on another thread, the object leaves the viewer to the host and
// its guide and caption windows to the user: each still closes, with its
// close box or Esc, also once the host has freed the library (which stays
// loaded for them). The viewer waits for the host.
TEST(HostTeardownPinning, TheGuideAndCaptionWindowsStillClose) {
    for (const bool freeFirst : {false, true}) {
        SCOPED_TRACE(freeFirst ? "library freed first" : "library still held by the host");
        WriteSettingsFile(Settings());
        Session session;
        session.Open(false);
        session.Feed(false);
        const HWND dialog = session.Dialog();
        const HWND captions = FindViewerDialog(dialog);
        ASSERT_NE(captions, nullptr);
        const HWND guide = session.OpenGuide();
        ASSERT_NE(guide, nullptr);
        session.DeleteObject(true);
        if (freeFirst) session.Free(true);
        ASSERT_TRUE(IsWindow(captions));
        ASSERT_TRUE(IsWindow(guide));

        // The caption window's close box: WM_CLOSE, which the dialog
        // manager turns into IDCANCEL.
        SendMessageA(captions, WM_SYSCOMMAND, SC_CLOSE, 0);
        PumpMessages();
        EXPECT_FALSE(IsWindow(captions));
        // Esc in the guide's grid, through the dialog manager as a host's
        // message loop hands it over.
        const HWND grid = GetDlgItem(guide, IDC_GUIDE_GRID);
        SetFocus(grid);
        MSG key = {};
        key.hwnd = grid;
        key.message = WM_KEYDOWN;
        key.wParam = VK_ESCAPE;
        key.lParam = 0x00010001;
        IsDialogMessageA(guide, &key);
        PumpMessages();
        EXPECT_FALSE(IsWindow(guide));

        EXPECT_TRUE(IsWindow(dialog));
        session.DestroyHostWindow();
        EXPECT_FALSE(IsWindow(dialog));
        if (!freeFirst) session.Free(true);
        EXPECT_EQ(session.Host().closedCalls, 0);
        EXPECT_TRUE(session.Host().tuned.empty());
    }
    WriteSettingsFile("");
}

// With neither the guide nor the caption window open, a delete on another
// thread leaves only the viewer, which runs none of the library's code: the
// library goes when the host frees it.
TEST(HostTeardownNothingLeft, ADeleteOnAnotherThreadLetsTheLibraryGo) {
    WriteSettingsFile("[SERVICE]\r\nCH1=27\r\n");
    Session session;
    session.Open(false);
    session.Feed(true);
    const HWND dialog = session.Dialog();
    ASSERT_EQ(FindViewerDialog(dialog), nullptr) << "no caption window";
    session.DeleteObject(true);
    EXPECT_TRUE(IsWindow(dialog));
    session.Free(false);
    PostMessageA(dialog, WM_EIT_PRESENT_READY, 0, 0);
    SendMessageA(dialog, WM_CLOSE, 0, 0);
    PumpMessages();
    session.DestroyHostWindow();
    EXPECT_FALSE(IsWindow(dialog));
    EXPECT_EQ(session.Host().closedCalls, 0);
    WriteSettingsFile("");
}

// A host that deletes the object on a thread of its own from inside a call
// the viewer makes on the window's thread (TuneChannel, from the channel
// button's handler), and waits for that thread there. Slot 6 counts; the
// others must never come.
struct ElsewhereHost;
typedef int32_t(__thiscall* ElsewhereHostSlot)(ElsewhereHost* self);
typedef int32_t(__thiscall* ElsewhereHostTuneSlot)(ElsewhereHost* self, int32_t channel);
struct ElsewhereHostTable {
    ElsewhereHostSlot slot0;
    ElsewhereHostTuneSlot tuneChannel;
    ElsewhereHostSlot slot2;
    ElsewhereHostSlot slot3;
    ElsewhereHostSlot slot4;
    ElsewhereHostSlot slot5;
    ElsewhereHostSlot pluginClosed;
};
struct ElsewhereHost {
    const ElsewhereHostTable* table;
    void* object;
    int tuned;
    bool deleteReturned;
    int otherCalls;
};

int32_t __thiscall ElsewhereHostOther(ElsewhereHost* self) {
    ++self->otherCalls;
    return 0;
}

int32_t __thiscall ElsewhereHostTune(ElsewhereHost* self, int32_t) {
    ++self->tuned;
    DeleteCall call = {self->object};
    self->object = nullptr;
    if (call.object == nullptr) return 1;
    HANDLE thread = CreateThread(nullptr, 0, DeleteOnThisThread, &call, 0, nullptr);
    if (thread == nullptr) return 1;
    // The window's thread waits here, inside the viewer's handler, without
    // handling messages: the destructor must not wait for it.
    self->deleteReturned = WaitForSingleObject(thread, 10000) == WAIT_OBJECT_0;
    if (!self->deleteReturned) WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    return 1;
}

const ElsewhereHostTable kElsewhereHostTable = {ElsewhereHostOther, ElsewhereHostTune,  ElsewhereHostOther,
                                                ElsewhereHostOther, ElsewhereHostOther, ElsewhereHostOther,
                                                ElsewhereHostOther};

// The object goes while the window's thread is inside one of its handlers:
// the handler finishes on a state that lives until it ends, and the library
// stays loaded for it, since the host could free it before the handler
// returns. No guide or caption window is open, so the handler alone keeps it.
TEST(HostTeardownPinning, ADeleteOnAnotherThreadDuringAHandlerKeepsTheLibraryForIt) {
    WriteSettingsFile("[SERVICE]\r\nCH1=27\r\n");
    ElsewhereHost host = {&kElsewhereHostTable, nullptr, 0, false, 0};
    Session session;
    session.Open(false, &host);
    session.Feed(true);
    const HWND dialog = session.Dialog();
    ASSERT_EQ(FindViewerDialog(dialog), nullptr) << "no caption window";
    host.object = session.TakeObject();
    session.Press(IDC_CH1);
    EXPECT_EQ(host.tuned, 1);
    EXPECT_TRUE(host.deleteReturned) << "the destructor waited for the window's thread";
    EXPECT_EQ(host.object, nullptr);
    EXPECT_TRUE(IsWindow(dialog));
    session.Free(true);
    // The left viewer still meets the user and the queued messages.
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_CH1, BN_CLICKED), 0);
    SendMessageA(dialog, WM_CLOSE, 0, 0);
    PumpMessages();
    session.DestroyHostWindow();
    EXPECT_FALSE(IsWindow(dialog));
    EXPECT_EQ(host.tuned, 1);
    EXPECT_EQ(host.otherCalls, 0);
    WriteSettingsFile("");
}

}  // namespace
