#include "tools/host/plugin_host.h"

#include <cstring>

#include "tools/host/host_log.h"

namespace {

// The plug-in's recording request to the host window.
const UINT WM_RECORD_REQUEST = 4024;

const char kOwnerWindowClass[] = "KestrinViewerHost";

volatile long g_recordRequests = 0;
HostCommandHandler g_commandHandler = nullptr;
void* g_commandContext = nullptr;

LRESULT CALLBACK OwnerWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_RECORD_REQUEST) {
        InterlockedIncrement(&g_recordRequests);
        const uint32_t word = static_cast<uint32_t>(wParam);
        const uint32_t high = word >> 16;
        const uint32_t low = word & 0xFFFFu;
        // Present view: high 0, low = minutes until the event ends.
        // Following view: high = seconds to wait (start less 11 s), low =
        // the event's minutes plus one.
        HostLog("WM_RECORD_REQUEST wParam=0x%08X: high %u (seconds to wait), low %u (minutes to record)",
                word, high, low);
        return 0;
    }
    if (message == WM_HOST_COMMAND) {
        if (g_commandHandler != nullptr) g_commandHandler(wParam, lParam, g_commandContext);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

struct OwnedDialogSearch {
    HWND owner;
    HWND found;
};

BOOL CALLBACK FindOwnedDialog(HWND window, LPARAM param) {
    OwnedDialogSearch* search = reinterpret_cast<OwnedDialogSearch*>(param);
    char className[16] = {};
    GetClassNameA(window, className, sizeof className);
    if (std::strcmp(className, "#32770") == 0 && GetWindow(window, GW_OWNER) == search->owner) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

// --- IDTVHost ------------------------------------------------------------------

int32_t ViewerHostCallbacks::Unexpected(int slot) {
    InterlockedIncrement(&unexpectedCalls_);
    HostLog("IDTVHost slot %d called: the plug-in uses only slots 1 and 6", slot);
    return 0;
}

int32_t __thiscall ViewerHostCallbacks::Slot0() { return Unexpected(0); }
int32_t __thiscall ViewerHostCallbacks::Slot2() { return Unexpected(2); }
int32_t __thiscall ViewerHostCallbacks::Slot3() { return Unexpected(3); }
int32_t __thiscall ViewerHostCallbacks::Slot4() { return Unexpected(4); }
int32_t __thiscall ViewerHostCallbacks::Slot5() { return Unexpected(5); }

int32_t __thiscall ViewerHostCallbacks::TuneChannel(int32_t channel) {
    InterlockedIncrement(&tuneCalls_);
    // This host plays one file: it logs the request and stays where it is.
    HostLog("IDTVHost::TuneChannel(%d)", static_cast<int>(channel));
    return 1;
}

int32_t __thiscall ViewerHostCallbacks::PluginClosed() {
    InterlockedIncrement(&closedCalls_);
    HostLog("IDTVHost::PluginClosed()");
    return 1;
}

// --- The plug-in ---------------------------------------------------------------

bool LoadedPlugin::Load(const char* path) {
    library_ = LoadLibraryA(path);
    if (library_ == nullptr) {
        HostLog("LoadLibraryA(\"%s\") failed, error %lu", path, GetLastError());
        return false;
    }
    FARPROC proc = GetProcAddress(library_, "GetIface2");
    if (proc == nullptr) {
        HostLog("%s exports no GetIface2", path);
        return false;
    }
    GetIface2Function getIface2 =
        reinterpret_cast<GetIface2Function>(reinterpret_cast<void (*)()>(proc));
    const int32_t result = getIface2(nullptr, &object_);
    HostLog("LoadLibraryA(\"%s\"); GetIface2 -> %d, object %p", path, static_cast<int>(result), object_);
    return object_ != nullptr;
}

void LoadedPlugin::Release() {
    if (object_ != nullptr) {
        SlotAs<DeletingDestructorSlot>(Slot(kSlotDeletingDestructor))(object_, 1);
        HostLog("plug-in released through slot 0 with flags 1");
        object_ = nullptr;
    }
    if (library_ != nullptr) {
        FreeLibrary(library_);
        library_ = nullptr;
    }
}

void* LoadedPlugin::Slot(int index) const { return PluginTableSlot(object_, index); }

int32_t LoadedPlugin::SetHost(ViewerHostCallbacks* host, uint32_t sdkVersion) {
    const int32_t r = SlotAs<SetHostSlot>(Slot(kSlotSetHost))(object_, host, sdkVersion);
    HostLog("SetHost(host, 0x%X) -> %d", sdkVersion, static_cast<int>(r));
    return r;
}

int32_t LoadedPlugin::CreatePluginWindow(HWND parent) {
    const int32_t r = SlotAs<CreatePluginWindowSlot>(Slot(kSlotCreatePluginWindow))(object_, parent);
    HostLog("CreatePluginWindow(owner %p) -> %d", static_cast<void*>(parent), static_cast<int>(r));
    return r;
}

int32_t LoadedPlugin::OnStreamData(const uint8_t* packets, uint32_t byteCount) {
    return SlotAs<OnStreamDataSlot>(Slot(kSlotOnStreamData))(object_, packets, byteCount);
}

int32_t LoadedPlugin::OnChannelChange(int32_t channel, int32_t serviceId) {
    const int32_t r = SlotAs<OnChannelChangeSlot>(Slot(kSlotOnChannelChange))(object_, channel, serviceId);
    HostLog("OnChannelChange(channel %d, service 0x%04X) -> %d", static_cast<int>(channel),
            static_cast<unsigned>(serviceId), static_cast<int>(r));
    return r;
}

int32_t LoadedPlugin::OnHostEvent(int32_t a, int32_t b) {
    return SlotAs<OnHostEventSlot>(Slot(kSlotOnHostEvent))(object_, a, b);
}

// --- The owner window ----------------------------------------------------------

bool OwnerWindow::Create() {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = OwnerWindowProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = kOwnerWindowClass;
    RegisterClassA(&wc);
    // A plain top-level window, as the host's main window is; placed away
    // from the viewer, which opens at its saved position.
    window_ = CreateWindowExA(0, kOwnerWindowClass, "kestrin-host", WS_OVERLAPPEDWINDOW, 700, 560,
                              320, 200, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    if (window_ == nullptr) {
        HostLog("the owner window cannot be created, error %lu", GetLastError());
        return false;
    }
    ShowWindow(window_, SW_SHOWNOACTIVATE);
    return true;
}

OwnerWindow::~OwnerWindow() {
    if (window_ != nullptr) DestroyWindow(window_);
}

long OwnerWindow::RecordRequests() const { return g_recordRequests; }

void SetHostCommandHandler(HostCommandHandler handler, void* context) {
    g_commandHandler = handler;
    g_commandContext = context;
}

HWND FindViewerDialog(HWND owner) {
    if (owner == nullptr) return nullptr;
    OwnedDialogSearch search = {owner, nullptr};
    EnumThreadWindows(GetCurrentThreadId(), FindOwnedDialog, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

void PumpMessages() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}
