#include "tests/wine/plugin_driver.h"

#include <cstdio>
#include <cstring>

#include <gtest/gtest.h>

#include "ui/resource.h"

namespace {

int32_t __thiscall HostUnused(FakeHost* self) {
    ++self->unusedCalls;
    return 0;
}

int32_t __thiscall HostTuneChannel(FakeHost* self, int32_t channel) {
    self->tuned.push_back(channel);
    return 1;
}

int32_t __thiscall HostPluginClosed(FakeHost* self) {
    ++self->closedCalls;
    return 1;
}

const FakeHostTable kFakeHostTable = {HostUnused, HostTuneChannel,  HostUnused, HostUnused,
                                      HostUnused, HostUnused,       HostPluginClosed};

// Messages at or above WM_USER that reached the host window.
std::vector<std::pair<UINT, WPARAM>> g_hostMessages;

LRESULT CALLBACK HostWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message >= WM_USER && message < 0xC000) g_hostMessages.emplace_back(message, wParam);
    return DefWindowProcA(window, message, wParam, lParam);
}

const char kHostWindowClass[] = "KestrinTestHost";

struct OwnedDialogSearch {
    HWND owner;
    HWND found;
};

BOOL CALLBACK FindOwnedDialog(HWND window, LPARAM param) {
    OwnedDialogSearch* search = reinterpret_cast<OwnedDialogSearch*>(param);
    char className[32] = {};
    GetClassNameA(window, className, sizeof className);
    if (std::strcmp(className, "#32770") == 0 && GetWindow(window, GW_OWNER) == search->owner) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

typedef BOOL(WINAPI* PostMessageFunction)(HWND, UINT, WPARAM, LPARAM);
PostMessageFunction g_realPostMessage = nullptr;
std::vector<std::pair<HWND, UINT>> g_postedByKestrin;

BOOL WINAPI RecordPostMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    g_postedByKestrin.emplace_back(window, message);
    return g_realPostMessage(window, message, wParam, lParam);
}

// The import-address-table entry through which `module` calls
// dll!function, or NULL.
void** ImportSlot(HMODULE module, const char* dll, const char* function) {
    if (module == nullptr) return nullptr;
    BYTE* base = reinterpret_cast<BYTE*>(module);
    const IMAGE_DOS_HEADER* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const IMAGE_NT_HEADERS* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (dir.VirtualAddress == 0) return nullptr;
    for (const IMAGE_IMPORT_DESCRIPTOR* d =
             reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress);
         d->Name != 0; ++d) {
        if (lstrcmpiA(reinterpret_cast<const char*>(base + d->Name), dll) != 0) continue;
        const DWORD names = d->OriginalFirstThunk != 0 ? d->OriginalFirstThunk : d->FirstThunk;
        const IMAGE_THUNK_DATA* name = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + names);
        IMAGE_THUNK_DATA* address = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->FirstThunk);
        for (; name->u1.AddressOfData != 0; ++name, ++address) {
            if (IMAGE_SNAP_BY_ORDINAL(name->u1.Ordinal)) continue;
            const IMAGE_IMPORT_BY_NAME* byName =
                reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + name->u1.AddressOfData);
            if (std::strcmp(reinterpret_cast<const char*>(byName->Name), function) == 0) {
                return reinterpret_cast<void**>(&address->u1.Function);
            }
        }
    }
    return nullptr;
}

void WriteSlot(void** slot, void* value) {
    DWORD old = 0;
    if (!VirtualProtect(slot, sizeof(void*), PAGE_READWRITE, &old)) return;
    *slot = value;
    VirtualProtect(slot, sizeof(void*), old, &old);
}

}  // namespace

PostMessageSpy::PostMessageSpy() : slot_(nullptr), original_(nullptr) {
    void** slot = ImportSlot(KestrinLibrary(), "user32.dll", "PostMessageA");
    if (slot == nullptr) return;
    g_postedByKestrin.clear();
    original_ = *slot;
    g_realPostMessage = reinterpret_cast<PostMessageFunction>(original_);
    WriteSlot(slot, reinterpret_cast<void*>(&RecordPostMessage));
    if (*slot == reinterpret_cast<void*>(&RecordPostMessage)) slot_ = slot;
}

PostMessageSpy::~PostMessageSpy() {
    if (slot_ != nullptr) WriteSlot(slot_, original_);
}

std::vector<std::pair<HWND, UINT>> PostMessageSpy::Calls() const { return g_postedByKestrin; }

FakeHost::FakeHost() : table(&kFakeHostTable), closedCalls(0), unusedCalls(0) {}

HMODULE KestrinLibrary() {
    static HMODULE library = LoadLibraryA("Kestrin.dll");
    return library;
}

GetIface2Function KestrinGetIface2() {
    HMODULE library = KestrinLibrary();
    if (library == nullptr) return nullptr;
    FARPROC proc = GetProcAddress(library, "GetIface2");
    return reinterpret_cast<GetIface2Function>(reinterpret_cast<void (*)()>(proc));
}

PluginObject::PluginObject() : object_(nullptr), dialog_(nullptr) {
    GetIface2Function getIface2 = KestrinGetIface2();
    if (getIface2 != nullptr) getIface2(nullptr, &object_);
}

PluginObject::~PluginObject() {
    if (dialog_ != nullptr) {
        DestroyWindow(dialog_);
        PumpMessages();
    }
    if (object_ != nullptr) SlotAs<DeletingDestructorSlot>(Slot(kSlotDeletingDestructor))(object_, 1);
}

void* PluginObject::Slot(int index) const { return PluginTableSlot(object_, index); }

int32_t PluginObject::SetHost(FakeHost* host, uint32_t sdkVersion) {
    return SlotAs<SetHostSlot>(Slot(kSlotSetHost))(object_, host, sdkVersion);
}

int32_t PluginObject::CreatePluginWindow(HWND parent) {
    int32_t result = SlotAs<CreatePluginWindowSlot>(Slot(kSlotCreatePluginWindow))(object_, parent);
    dialog_ = FindViewerDialog(parent);
    PumpMessages();
    return result;
}

int32_t PluginObject::OnStreamData(const uint8_t* packets, uint32_t count) {
    return SlotAs<OnStreamDataSlot>(Slot(kSlotOnStreamData))(object_, packets, count);
}

int32_t PluginObject::OnChannelChange(int32_t channel, int32_t serviceId) {
    return SlotAs<OnChannelChangeSlot>(Slot(kSlotOnChannelChange))(object_, channel, serviceId);
}

int32_t PluginObject::OnHostEvent(int32_t a, int32_t b) {
    return SlotAs<OnHostEventSlot>(Slot(kSlotOnHostEvent))(object_, a, b);
}

HostWindow::HostWindow() : window_(nullptr) {
    static bool registered = false;
    if (!registered) {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = HostWindowProc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = kHostWindowClass;
        registered = RegisterClassA(&wc) != 0;
    }
    g_hostMessages.clear();
    window_ = CreateWindowExA(0, kHostWindowClass, "Host", WS_OVERLAPPEDWINDOW, 600, 500, 320, 240,
                              nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
}

HostWindow::~HostWindow() {
    if (window_ != nullptr) DestroyWindow(window_);
    PumpMessages();
}

std::vector<std::pair<UINT, WPARAM>> HostWindow::Received() const { return g_hostMessages; }

HWND FindViewerDialog(HWND owner) {
    if (owner == nullptr) return nullptr;
    OwnedDialogSearch search = {owner, nullptr};
    EnumThreadWindows(GetCurrentThreadId(), FindOwnedDialog, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND FindGuideWindow(HWND viewer) {
    if (viewer == nullptr) return nullptr;
    for (HWND w = GetTopWindow(nullptr); w != nullptr; w = GetWindow(w, GW_HWNDNEXT)) {
        if (GetWindow(w, GW_OWNER) == viewer && GetDlgItem(w, IDC_GUIDE_GRID) != nullptr) return w;
    }
    return nullptr;
}

void PumpMessages() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

std::string ProgramDirectory() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    char* cut = std::strrchr(path, '\\');
    if (cut != nullptr) cut[1] = '\0';
    return path;
}

std::string SettingsPath() { return ProgramDirectory() + "Kestrin.ini"; }

void WriteSettingsFile(const std::string& content) {
    const std::string path = SettingsPath();
    // Flushes and forgets the profile functions' cached copy of the file.
    WritePrivateProfileStringA(nullptr, nullptr, nullptr, path.c_str());
    DeleteFileA(path.c_str());
    if (!content.empty()) {
        HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        DWORD written = 0;
        WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
        CloseHandle(file);
    }
    WritePrivateProfileStringA(nullptr, nullptr, nullptr, path.c_str());
}

int ReadSettingsInt(const char* section, const char* key, int defaultValue) {
    return static_cast<int>(GetPrivateProfileIntA(section, key, defaultValue, SettingsPath().c_str()));
}

std::string ReadSettingsString(const char* section, const char* key) {
    char value[260] = {};
    GetPrivateProfileStringA(section, key, "<missing>", value, sizeof value, SettingsPath().c_str());
    return value;
}

std::string ControlText(HWND dialog, int id) {
    char text[1024] = {};
    GetDlgItemTextA(dialog, id, text, sizeof text);
    return text;
}

std::string WindowText(HWND window) {
    char text[1024] = {};
    GetWindowTextA(window, text, sizeof text);
    return text;
}

// The stack pointer is kept in ESI (callee-saved, so it survives the call)
// and put back afterwards whatever the callee did, so that a wrong
// convention is reported instead of corrupting this frame.
#if defined(__GNUC__) && defined(__i386__)
uintptr_t CallThiscall1(void* function, void* self, uintptr_t a, int32_t* stackDelta) {
    uint32_t result;
    uint32_t before;
    uint32_t after;
    __asm__ volatile(
        "movl %%esp, %%esi\n\t"
        "pushl %[a]\n\t"
        "call *%[fn]\n\t"
        "movl %%esp, %%edi\n\t"
        "movl %%esi, %%esp\n\t"
        : "=a"(result), "=&S"(before), "=&D"(after), "+c"(self)
        : [fn] "b"(function), [a] "0"(a)
        : "edx", "memory", "cc");
    *stackDelta = static_cast<int32_t>(after - before);
    return result;
}

uintptr_t CallThiscall2(void* function, void* self, uintptr_t a, uintptr_t b, int32_t* stackDelta) {
    uint32_t result;
    uint32_t before;
    uint32_t after;
    uint32_t edx = b;
    __asm__ volatile(
        "movl %%esp, %%esi\n\t"
        "pushl %%edx\n\t"
        "pushl %[a]\n\t"
        "call *%[fn]\n\t"
        "movl %%esp, %%edi\n\t"
        "movl %%esi, %%esp\n\t"
        : "=a"(result), "=&S"(before), "=&D"(after), "+c"(self), "+d"(edx)
        : [fn] "b"(function), [a] "0"(a)
        : "memory", "cc");
    *stackDelta = static_cast<int32_t>(after - before);
    return result;
}
#elif defined(_MSC_VER) && defined(_M_IX86)
uintptr_t CallThiscall1(void* function, void* self, uintptr_t a, int32_t* stackDelta) {
    uint32_t result;
    uint32_t before;
    uint32_t after;
    __asm {
        mov esi, esp
        push a
        mov ecx, self
        call function
        mov edi, esp
        mov esp, esi
        mov result, eax
        mov before, esi
        mov after, edi
    }
    *stackDelta = static_cast<int32_t>(after - before);
    return result;
}

uintptr_t CallThiscall2(void* function, void* self, uintptr_t a, uintptr_t b, int32_t* stackDelta) {
    uint32_t result;
    uint32_t before;
    uint32_t after;
    __asm {
        mov esi, esp
        push b
        push a
        mov ecx, self
        call function
        mov edi, esp
        mov esp, esi
        mov result, eax
        mov before, esi
        mov after, edi
    }
    *stackDelta = static_cast<int32_t>(after - before);
    return result;
}
#elif defined(__x86_64__) || defined(_M_X64)
uintptr_t CallThiscall1(void* function, void* self, uintptr_t a, int32_t* stackDelta) {
    typedef uintptr_t (*Slot1)(void* self, uintptr_t a);
    *stackDelta = 0;
    return reinterpret_cast<Slot1>(function)(self, a);
}

uintptr_t CallThiscall2(void* function, void* self, uintptr_t a, uintptr_t b, int32_t* stackDelta) {
    typedef uintptr_t (*Slot2)(void* self, uintptr_t a, uintptr_t b);
    *stackDelta = 0;
    return reinterpret_cast<Slot2>(function)(self, a, b);
}
#else
#error "The slot tests call x86 __thiscall code or x86-64 members"
#endif
