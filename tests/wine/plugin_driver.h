// Drives Kestrin.dll the way the host does: LoadLibraryA, GetIface2, and every
// operation through the object's table of functions at its slot index with
// an explicit __thiscall pointer. The slots come from the hosts' own
// declaration (tools/common/dtv_raw_abi.h), never from the DLL's, so a wrong
// slot order or calling convention in the DLL shows up as a failed test
// rather than agreeing with itself.
#ifndef KESTRIN_TESTS_WINE_PLUGIN_DRIVER_H
#define KESTRIN_TESTS_WINE_PLUGIN_DRIVER_H

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/real_data.h"  // ReadRealData: a file of tests/data/real
#include "tools/common/dtv_raw_abi.h"

// The host's callback object with seven __thiscall slots, built by hand: the
// table pointer first, as an MSVC object has it. Slot 1 records TuneChannel,
// slot 6 PluginClosed, the others count calls that must never come.
struct FakeHost;
typedef int32_t(__thiscall* HostUnusedSlot)(FakeHost* self);
typedef int32_t(__thiscall* HostTuneChannelSlot)(FakeHost* self, int32_t channel);
typedef int32_t(__thiscall* HostPluginClosedSlot)(FakeHost* self);
struct FakeHostTable {
    HostUnusedSlot slot0;
    HostTuneChannelSlot tuneChannel;
    HostUnusedSlot slot2;
    HostUnusedSlot slot3;
    HostUnusedSlot slot4;
    HostUnusedSlot slot5;
    HostPluginClosedSlot pluginClosed;
};
static_assert(sizeof(FakeHostTable) == kHostSlotCount * sizeof(void*), "seven host slots");
static_assert(offsetof(FakeHostTable, tuneChannel) == kHostSlotTuneChannel * sizeof(void*), "TuneChannel slot");
static_assert(offsetof(FakeHostTable, pluginClosed) == kHostSlotPluginClosed * sizeof(void*), "PluginClosed slot");
struct FakeHost {
    const FakeHostTable* table;
    std::vector<int32_t> tuned;
    int closedCalls;
    int unusedCalls;
    FakeHost();
};

// The loaded library, shared by every test of the process (the host loads it
// once too).
HMODULE KestrinLibrary();
GetIface2Function KestrinGetIface2();

// One plug-in object, released through slot 0 with flags 1 (`delete p` in an
// MSVC host). The dialog, if any, is destroyed first, as the host would.
class PluginObject {
public:
    PluginObject();
    ~PluginObject();

    void* Raw() const { return object_; }
    void* Slot(int index) const;

    int32_t SetHost(FakeHost* host, uint32_t sdkVersion);
    int32_t CreatePluginWindow(HWND parent);
    int32_t OnStreamData(const uint8_t* packets, uint32_t count);
    int32_t OnChannelChange(int32_t channel, int32_t serviceId);
    int32_t OnHostEvent(int32_t a, int32_t b);

    // The viewer dialog owned by `parent`, found after CreatePluginWindow.
    HWND Dialog() const { return dialog_; }
    // For a test that released the object itself: nothing left to release.
    void Forget() {
        object_ = nullptr;
        dialog_ = nullptr;
    }

private:
    PluginObject(const PluginObject&) = delete;
    PluginObject& operator=(const PluginObject&) = delete;

    void* object_;
    HWND dialog_;
};

// A top-level window standing in for the host's window: it owns the viewer
// and records the messages posted to it.
class HostWindow {
public:
    HostWindow();
    ~HostWindow();
    HWND Handle() const { return window_; }
    // (message, wParam) of every private message (WM_USER..0xBFFF) that
    // reached the window since it was created.
    std::vector<std::pair<UINT, WPARAM>> Received() const;

private:
    HWND window_;
};

// The dialog of this thread owned by `owner`, or NULL.
HWND FindViewerDialog(HWND owner);
// The programme guide of `viewer` (the dialog it owns with the guide's grid),
// or NULL.
HWND FindGuideWindow(HWND viewer);

// Dispatches every message waiting for this thread's windows.
void PumpMessages();

// "Kestrin.ini" beside the test program: GetModuleFileNameA(NULL) names the
// test program, which stands in for the host executable.
std::string SettingsPath();
// Directory of the test program, with its trailing backslash.
std::string ProgramDirectory();
// Replaces the settings file with exactly these bytes ("" removes it) and
// drops any cached copy of the profile functions.
void WriteSettingsFile(const std::string& content);
int ReadSettingsInt(const char* section, const char* key, int defaultValue);
std::string ReadSettingsString(const char* section, const char* key);

// Text of a dialog control or window as the A functions return it, that is,
// as bytes of the ANSI code page (932 under the Japanese locale).
std::string ControlText(HWND dialog, int id);
std::string WindowText(HWND window);

// Calls a __thiscall slot and reports how far the stack pointer moved over
// the call: 0 when the callee popped its own arguments, as __thiscall
// requires; a cdecl or stdcall-with-object-on-stack callee leaves it off.
// A 64-bit build has one calling convention, where the caller cleans up:
// there the slot is called as an ordinary member and the delta is 0.
uintptr_t CallThiscall1(void* function, void* self, uintptr_t a, int32_t* stackDelta);
uintptr_t CallThiscall2(void* function, void* self, uintptr_t a, uintptr_t b, int32_t* stackDelta);

// Records every PostMessageA call that Kestrin.dll makes, for its lifetime,
// by pointing the library's import of user32!PostMessageA at a recorder
// that passes each call on. One spy at a time, calls from this thread only.
class PostMessageSpy {
public:
    PostMessageSpy();
    ~PostMessageSpy();
    // False when the import could not be found or patched.
    bool Installed() const { return slot_ != nullptr; }
    // (window, message) of every call so far.
    std::vector<std::pair<HWND, UINT>> Calls() const;

private:
    PostMessageSpy(const PostMessageSpy&) = delete;
    PostMessageSpy& operator=(const PostMessageSpy&) = delete;
    void** slot_;
    void* original_;
};

#endif
