// The host side of the plug-in interface: Kestrin.dll loaded with
// LoadLibraryA, the plug-in object created with GetIface2 and driven through
// its table of functions (six __thiscall slots in MSVC order), and the
// host's own callback object IDTVHost (seven __thiscall slots) handed to it
// with SetHost.
//
// The slots come from the hosts' own declaration (tools/common/dtv_raw_abi.h),
// not from the plug-in's sources: the host and the DLL must agree on the
// binary interface, not on a header.
#ifndef KESTRIN_TOOLS_HOST_PLUGIN_HOST_H
#define KESTRIN_TOOLS_HOST_PLUGIN_HOST_H

#include <windows.h>

#include <cstdint>

#include "tools/common/dtv_raw_abi.h"

// The host's callback object. GCC lays out a class without a virtual
// destructor as MSVC does: the table pointer first, one slot per virtual
// function in declaration order. The plug-in calls slot 1 (TuneChannel) and
// slot 6 (PluginClosed); the others are logged if they are ever called.
class ViewerHostCallbacks {
public:
    ViewerHostCallbacks() : tuneCalls_(0), closedCalls_(0), unexpectedCalls_(0) {}

    virtual int32_t __thiscall Slot0();
    virtual int32_t __thiscall TuneChannel(int32_t channel);
    virtual int32_t __thiscall Slot2();
    virtual int32_t __thiscall Slot3();
    virtual int32_t __thiscall Slot4();
    virtual int32_t __thiscall Slot5();
    virtual int32_t __thiscall PluginClosed();

    long TuneCalls() const { return tuneCalls_; }
    long ClosedCalls() const { return closedCalls_; }
    long UnexpectedCalls() const { return unexpectedCalls_; }

private:
    int32_t Unexpected(int slot);

    volatile long tuneCalls_;
    volatile long closedCalls_;
    volatile long unexpectedCalls_;
};

// The plug-in library and its one object.
class LoadedPlugin {
public:
    LoadedPlugin() : library_(nullptr), object_(nullptr) {}
    ~LoadedPlugin() { Release(); }

    // LoadLibraryA(path) and GetIface2; false (with a log line) on failure.
    bool Load(const char* path);
    // Slot 0 with flags 1, as an MSVC host's `delete plugin`, then
    // FreeLibrary. Safe to call twice.
    void Release();

    int32_t SetHost(ViewerHostCallbacks* host, uint32_t sdkVersion);
    int32_t CreatePluginWindow(HWND parent);
    int32_t OnStreamData(const uint8_t* packets, uint32_t byteCount);
    int32_t OnChannelChange(int32_t channel, int32_t serviceId);
    int32_t OnHostEvent(int32_t a, int32_t b);

private:
    LoadedPlugin(const LoadedPlugin&) = delete;
    LoadedPlugin& operator=(const LoadedPlugin&) = delete;
    void* Slot(int index) const;

    HMODULE library_;
    void* object_;
};

// The host's main window, which owns the viewer. It logs WM_RECORD_REQUEST
// (4024) with its word decoded, and runs the host commands that the stream
// thread posts to it (see HostCommand) on the window's thread.
class OwnerWindow {
public:
    OwnerWindow() : window_(nullptr) {}
    ~OwnerWindow();
    bool Create();
    HWND Handle() const { return window_; }
    long RecordRequests() const;

private:
    OwnerWindow(const OwnerWindow&) = delete;
    OwnerWindow& operator=(const OwnerWindow&) = delete;
    HWND window_;
};

// Messages the stream thread posts to the owner window; the window procedure
// hands them to the function set with SetHostCommandHandler.
const UINT WM_HOST_COMMAND = WM_APP + 1;
typedef void (*HostCommandHandler)(WPARAM command, LPARAM argument, void* context);
void SetHostCommandHandler(HostCommandHandler handler, void* context);

// The viewer dialog: the window of class #32770 owned by `owner` on this
// thread, or NULL.
HWND FindViewerDialog(HWND owner);

// Dispatches every message waiting for this thread's windows.
void PumpMessages();

#endif
