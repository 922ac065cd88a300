// The DLL as the host sees it: its one export, the libraries it needs, the
// object's table of functions and the SDK-version hand-shake.
#include <windows.h>

#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/wine/plugin_driver.h"

namespace {

const IMAGE_NT_HEADERS* NtHeaders(HMODULE module) {
    const BYTE* base = reinterpret_cast<const BYTE*>(module);
    const IMAGE_DOS_HEADER* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    return reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
}

std::string Lower(const char* text) {
    std::string s(text);
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

TEST(KestrinDll, LoadsAndExportsOnlyGetIface2) {
    HMODULE module = KestrinLibrary();
    ASSERT_NE(module, nullptr) << "LoadLibraryA(\"Kestrin.dll\") failed, error " << GetLastError();
    const BYTE* base = reinterpret_cast<const BYTE*>(module);
    const IMAGE_DATA_DIRECTORY& dir =
        NtHeaders(module)->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    ASSERT_NE(dir.VirtualAddress, 0u);
    const IMAGE_EXPORT_DIRECTORY* exports =
        reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + dir.VirtualAddress);
    EXPECT_EQ(exports->NumberOfFunctions, 1u);
    ASSERT_EQ(exports->NumberOfNames, 1u);
    const DWORD* names = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
    // Undecorated: no leading underscore, no @n suffix.
    EXPECT_STREQ(reinterpret_cast<const char*>(base + names[0]), "GetIface2");
    EXPECT_NE(KestrinGetIface2(), nullptr);
}

// The host's machine has the system libraries only: the C++ runtime,
// libgcc and the thread library must be linked in. shell32 names the
// user's local application data folder for the guide's cache file.
TEST(KestrinDll, ImportsOnlySystemLibraries) {
    HMODULE module = KestrinLibrary();
    ASSERT_NE(module, nullptr);
    const std::vector<std::string> allowed = {"kernel32.dll", "user32.dll",   "gdi32.dll",   "msvcrt.dll",
                                              "advapi32.dll", "comctl32.dll", "shell32.dll"};
    const BYTE* base = reinterpret_cast<const BYTE*>(module);
    const IMAGE_DATA_DIRECTORY& dir =
        NtHeaders(module)->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    ASSERT_NE(dir.VirtualAddress, 0u);
    std::vector<std::string> imported;
    for (const IMAGE_IMPORT_DESCRIPTOR* d =
             reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress);
         d->Name != 0; ++d) {
        imported.push_back(Lower(reinterpret_cast<const char*>(base + d->Name)));
    }
    EXPECT_FALSE(imported.empty());
    for (const std::string& name : imported) {
        bool ok = false;
        for (const std::string& a : allowed) ok = ok || name == a;
        EXPECT_TRUE(ok) << "imports " << name;
    }
}

TEST(KestrinDll, GetIface2IgnoresReservedAndReturnsOneWithAnObject) {
    GetIface2Function getIface2 = KestrinGetIface2();
    ASSERT_NE(getIface2, nullptr);
    void* object = nullptr;
    EXPECT_EQ(getIface2(reinterpret_cast<void*>(0x1234), &object), 1);
    ASSERT_NE(object, nullptr);
    // Deleted through slot 0 as `delete plugin` in an MSVC host does it.
    void* const* table = *static_cast<void* const* const*>(object);
    reinterpret_cast<DeletingDestructorSlot>(table[kSlotDeletingDestructor])(object, 1);
    // No place for the object: still 1, and nothing breaks.
    EXPECT_EQ(getIface2(nullptr, nullptr), 1);
}

// Every slot takes the object in ECX and pops its own stack arguments: a
// GCC two-slot destructor would shift the table by one, and a cdecl or
// stdcall method would leave the stack pointer off by its arguments.
TEST(KestrinDll, EverySlotIsThiscallAtItsIndex) {
    HostWindow hostWindow;
    FakeHost host;
    void* object = nullptr;
    ASSERT_NE(KestrinGetIface2(), nullptr);
    KestrinGetIface2()(nullptr, &object);
    ASSERT_NE(object, nullptr);
    void* const* table = *static_cast<void* const* const*>(object);
    int32_t delta = -1;

    EXPECT_EQ(CallThiscall2(table[kSlotSetHost], object, reinterpret_cast<uintptr_t>(&host), 0x10400,
                            &delta),
              1u);
    EXPECT_EQ(delta, 0) << "SetHost";

    WriteSettingsFile("");
    EXPECT_EQ(CallThiscall1(table[kSlotCreatePluginWindow], object,
                            reinterpret_cast<uintptr_t>(hostWindow.Handle()), &delta),
              1u);
    EXPECT_EQ(delta, 0) << "CreatePluginWindow";
    HWND dialog = FindViewerDialog(hostWindow.Handle());
    EXPECT_NE(dialog, nullptr);
    PumpMessages();

    EXPECT_EQ(CallThiscall2(table[kSlotOnStreamData], object, 0, 0, &delta), 1u);
    EXPECT_EQ(delta, 0) << "OnStreamData";

    EXPECT_EQ(CallThiscall2(table[kSlotOnChannelChange], object, 27, 0x5DB8, &delta), 1u);
    EXPECT_EQ(delta, 0) << "OnChannelChange";

    EXPECT_EQ(CallThiscall2(table[kSlotOnHostEvent], object, 7, 9, &delta), 1u);
    EXPECT_EQ(delta, 0) << "OnHostEvent";

    // The host's callbacks arrive through slots 1 and 6 of its table only.
    SendMessageA(hostWindow.Handle(), WM_NULL, 0, 0);
    EXPECT_EQ(host.unusedCalls, 0);

    if (dialog != nullptr) DestroyWindow(dialog);
    PumpMessages();
    const uintptr_t returned = CallThiscall1(table[kSlotDeletingDestructor], object, 1, &delta);
    EXPECT_EQ(delta, 0) << "deleting destructor";
    // MSVC's deleting destructor hands back the object's address.
    EXPECT_EQ(returned, reinterpret_cast<uintptr_t>(object));
}

struct SdkVersionCase {
    uint32_t version;
    int32_t result;
};

void PrintTo(const SdkVersionCase& c, std::ostream* os) { *os << "version 0x" << std::hex << c.version; }

class SetHostAccepts : public ::testing::TestWithParam<SdkVersionCase> {};

TEST_P(SetHostAccepts, VersionsFromTheLowestSupported) {
    PluginObject plugin;
    ASSERT_NE(plugin.Raw(), nullptr);
    FakeHost host;
    EXPECT_EQ(plugin.SetHost(&host, GetParam().version), GetParam().result);
}

INSTANTIATE_TEST_SUITE_P(KestrinDll, SetHostAccepts,
                         ::testing::Values(SdkVersionCase{0x10400, 1}, SdkVersionCase{0x10401, 1},
                                           SdkVersionCase{0x20000, 1},
                                           SdkVersionCase{0xFFFFFFFFu, 1}));

// What a watcher thread saw of the error box before it pressed OK.
struct ErrorBox {
    bool found = false;
    HWND owner = nullptr;
    std::string caption;
    std::string text;
    bool errorIcon = false;
};

BOOL CALLBACK ReadBoxChild(HWND child, LPARAM param) {
    ErrorBox* box = reinterpret_cast<ErrorBox*>(param);
    char className[32] = {};
    GetClassNameA(child, className, sizeof className);
    if (lstrcmpiA(className, "Static") != 0) return TRUE;
    const LONG style = GetWindowLongA(child, GWL_STYLE);
    if ((style & SS_TYPEMASK) == SS_ICON) {
        HICON icon = reinterpret_cast<HICON>(SendMessageA(child, STM_GETICON, 0, 0));
        box->errorIcon = icon != nullptr && icon == LoadIconA(nullptr, IDI_ERROR);
    } else {
        const std::string text = WindowText(child);
        if (!text.empty()) box->text = text;
    }
    return TRUE;
}

DWORD WINAPI WatchForErrorBox(LPVOID param) {
    ErrorBox* box = static_cast<ErrorBox*>(param);
    for (int i = 0; i < 400; ++i) {
        HWND window = FindWindowA("#32770", "Error");
        if (window != nullptr && IsWindowVisible(window)) {
            box->found = true;
            box->owner = GetWindow(window, GW_OWNER);
            box->caption = WindowText(window);
            EnumChildWindows(window, ReadBoxChild, reinterpret_cast<LPARAM>(box));
            PostMessageA(window, WM_COMMAND, IDOK, 0);
            return 0;
        }
        Sleep(25);
    }
    return 1;
}

TEST(KestrinDll, SetHostBelowTheLowestVersionShowsTheErrorBoxAndRefuses) {
    PluginObject plugin;
    ASSERT_NE(plugin.Raw(), nullptr);
    FakeHost host;
    ErrorBox box;
    HANDLE watcher = CreateThread(nullptr, 0, WatchForErrorBox, &box, 0, nullptr);
    ASSERT_NE(watcher, nullptr);
    EXPECT_EQ(plugin.SetHost(&host, 0x103FF), 0);
    WaitForSingleObject(watcher, 15000);
    CloseHandle(watcher);
    ASSERT_TRUE(box.found);
    EXPECT_EQ(box.caption, "Error");
    EXPECT_EQ(box.text, "Wrong SDK Version");
    EXPECT_EQ(box.owner, nullptr);
    EXPECT_TRUE(box.errorIcon);

    // The host was not stored: a channel button has nobody to call.
    HostWindow hostWindow;
    WriteSettingsFile("[SERVICE]\r\nCH1=27\r\n");
    plugin.CreatePluginWindow(hostWindow.Handle());
    ASSERT_NE(plugin.Dialog(), nullptr);
    SendMessageA(plugin.Dialog(), WM_COMMAND, MAKEWPARAM(1008, BN_CLICKED), 0);
    EXPECT_TRUE(host.tuned.empty());
}

struct HostEventCase {
    int32_t a;
    int32_t b;
};

void PrintTo(const HostEventCase& c, std::ostream* os) { *os << "(" << c.a << ", " << c.b << ")"; }

class OnHostEventAnswers : public ::testing::TestWithParam<HostEventCase> {};

TEST_P(OnHostEventAnswers, OneWhateverTheArguments) {
    PluginObject plugin;
    ASSERT_NE(plugin.Raw(), nullptr);
    FakeHost host;
    plugin.SetHost(&host, 0x10400);
    EXPECT_EQ(plugin.OnHostEvent(GetParam().a, GetParam().b), 1);
    EXPECT_TRUE(host.tuned.empty());
    EXPECT_EQ(host.closedCalls, 0);
}

INSTANTIATE_TEST_SUITE_P(KestrinDll, OnHostEventAnswers,
                         ::testing::Values(HostEventCase{0, 0}, HostEventCase{1, 2},
                                           HostEventCase{-1, 0x7FFFFFFF},
                                           HostEventCase{INT32_MIN, -1}));

TEST(KestrinDll, OnStreamDataWithNoBytesAnswersOne) {
    PluginObject plugin;
    ASSERT_NE(plugin.Raw(), nullptr);
    FakeHost host;
    plugin.SetHost(&host, 0x10400);
    EXPECT_EQ(plugin.OnStreamData(nullptr, 0), 1);
    const uint8_t none[1] = {0x47};
    EXPECT_EQ(plugin.OnStreamData(none, 0), 1);
}

// The host may feed packets before (or without) a window: nothing is shown,
// nothing breaks.
TEST(KestrinDll, PacketsAndChannelChangesWithoutAWindow) {
    const std::vector<uint8_t> ts = ReadRealData("tokyo-mx-psi.ts");
    PluginObject plugin;
    ASSERT_NE(plugin.Raw(), nullptr);
    FakeHost host;
    plugin.SetHost(&host, 0x10400);
    EXPECT_EQ(plugin.OnChannelChange(20, 0x5DB8), 1);
    if (!ts.empty()) {
        EXPECT_EQ(plugin.OnStreamData(ts.data(), static_cast<uint32_t>(ts.size())), 1);
    }
    PumpMessages();
    EXPECT_EQ(plugin.OnChannelChange(21, 0x5DB9), 1);
}

// A dialog that cannot be created (here: an owner that is no window) leaves
// the plug-in working without one.
TEST(KestrinDll, FailedDialogLeavesThePluginWorking) {
    WriteSettingsFile("[SERVICE]\r\nCH1=27\r\n");
    PluginObject plugin;
    ASSERT_NE(plugin.Raw(), nullptr);
    FakeHost host;
    plugin.SetHost(&host, 0x10400);
    HWND notAWindow = reinterpret_cast<HWND>(static_cast<uintptr_t>(0x7FFF0));
    ASSERT_FALSE(IsWindow(notAWindow));
    EXPECT_EQ(plugin.CreatePluginWindow(notAWindow), 1);
    EXPECT_EQ(FindViewerDialog(notAWindow), nullptr);
    EXPECT_EQ(plugin.OnChannelChange(27, 0x5DB8), 1);
    const std::vector<uint8_t> ts = ReadRealData("tokyo-mx-psi.ts");
    if (!ts.empty()) {
        EXPECT_EQ(plugin.OnStreamData(ts.data(), static_cast<uint32_t>(ts.size())), 1);
    }
    PumpMessages();
    EXPECT_EQ(plugin.OnHostEvent(0, 0), 1);
    EXPECT_EQ(host.closedCalls, 0);
}

}  // namespace
