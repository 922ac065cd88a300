// msvc_host/: a host built in the MSVC C++ ABI (clang, lld-link) and its import .def files.
//
// Its interface classes are written as a host's SDK writes them: plain C++
// classes, the virtual destructor first, member functions in the default
// calling convention (__thiscall for MSVC i686 members). The compiler, not a
// hand-made table, lays out the slots, emits the calls and the scalar
// deleting destructor call of `delete plugin`. Nothing of the DLL's own
// declarations is included, so the two sides agree only if the DLL's table
// really is the MSVC one.
//
// Usage: msvc_abi_host.exe [PSI_TS_FILE]
// With a file of PSI packets carrying the SDT of service 0x5DB8 the caption
// must name that service afterwards. Exit code 0 when every call behaved.

#include <stddef.h>
#include <stdint.h>

// --- Win32, declared here: there are no SDK headers for this target ----------

struct HWND__;
typedef HWND__* HWND;
struct HINSTANCE__;
typedef HINSTANCE__* HMODULE;
typedef void* HANDLE;
typedef int BOOL;
typedef unsigned long DWORD;
typedef unsigned int UINT;
typedef uint32_t WPARAM;
typedef int32_t LPARAM;
typedef int32_t LRESULT;
typedef BOOL(__stdcall* WNDENUMPROC)(HWND, LPARAM);

struct POINT {
    int32_t x;
    int32_t y;
};
struct MSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;
    POINT pt;
    DWORD lPrivate;
};

extern "C" {
__declspec(dllimport) HMODULE __stdcall LoadLibraryA(const char* name);
__declspec(dllimport) void* __stdcall GetProcAddress(HMODULE module, const char* name);
__declspec(dllimport) BOOL __stdcall FreeLibrary(HMODULE module);
__declspec(dllimport) DWORD __stdcall GetModuleFileNameA(HMODULE module, char* path, DWORD size);
__declspec(dllimport) const char* __stdcall GetCommandLineA();
__declspec(dllimport) DWORD __stdcall GetLastError();
__declspec(dllimport) DWORD __stdcall GetCurrentThreadId();
__declspec(dllimport) HANDLE __stdcall GetStdHandle(DWORD which);
__declspec(dllimport) HANDLE __stdcall CreateFileA(const char* path, DWORD access, DWORD share,
                                                   void* security, DWORD disposition, DWORD flags,
                                                   HANDLE templateFile);
__declspec(dllimport) BOOL __stdcall ReadFile(HANDLE file, void* buffer, DWORD size, DWORD* read,
                                              void* overlapped);
__declspec(dllimport) BOOL __stdcall WriteFile(HANDLE file, const void* buffer, DWORD size,
                                               DWORD* written, void* overlapped);
__declspec(dllimport) BOOL __stdcall CloseHandle(HANDLE handle);
__declspec(dllimport) BOOL __stdcall DeleteFileA(const char* path);
__declspec(dllimport) BOOL __stdcall WritePrivateProfileStringA(const char* section,
                                                                const char* key, const char* value,
                                                                const char* path);
__declspec(dllimport) __declspec(noreturn) void __stdcall ExitProcess(UINT code);

__declspec(dllimport) HWND __stdcall CreateWindowExA(DWORD exStyle, const char* className,
                                                     const char* title, DWORD style, int x, int y,
                                                     int width, int height, HWND parent, void* menu,
                                                     HMODULE instance, void* param);
__declspec(dllimport) BOOL __stdcall DestroyWindow(HWND window);
__declspec(dllimport) BOOL __stdcall IsWindow(HWND window);
__declspec(dllimport) HWND __stdcall GetWindow(HWND window, UINT relation);
__declspec(dllimport) int __stdcall GetClassNameA(HWND window, char* name, int size);
__declspec(dllimport) int __stdcall GetWindowTextA(HWND window, char* text, int size);
__declspec(dllimport) HWND __stdcall GetDlgItem(HWND dialog, int id);
__declspec(dllimport) UINT __stdcall GetDlgItemTextA(HWND dialog, int id, char* text, int size);
__declspec(dllimport) BOOL __stdcall EnumThreadWindows(DWORD thread, WNDENUMPROC callback,
                                                       LPARAM param);
__declspec(dllimport) LRESULT __stdcall SendMessageA(HWND window, UINT message, WPARAM wParam,
                                                     LPARAM lParam);
__declspec(dllimport) BOOL __stdcall PeekMessageA(MSG* msg, HWND window, UINT first, UINT last,
                                                  UINT remove);
__declspec(dllimport) BOOL __stdcall TranslateMessage(const MSG* msg);
__declspec(dllimport) LRESULT __stdcall DispatchMessageA(const MSG* msg);
}

const DWORD kStdOutput = static_cast<DWORD>(-11);
const DWORD kGenericRead = 0x80000000u;
const DWORD kGenericWrite = 0x40000000u;
const DWORD kFileShareRead = 1;
const DWORD kCreateAlways = 2;
const DWORD kOpenExisting = 3;
const HANDLE kInvalidHandle = reinterpret_cast<HANDLE>(-1);
const DWORD kOverlappedWindow = 0x00CF0000u;
const UINT kGwOwner = 4;
const UINT kPmRemove = 1;
const UINT kWmClose = 0x0010;
const UINT kWmCommand = 0x0111;
const UINT kBnClicked = 0;

// Control ids of the viewer dialog that this host presses or reads.
const int kIdChannel6 = 1014;

// No C runtime: the compiler may still call these for copies and fills.
extern "C" void* __cdecl memset(void* to, int value, size_t size) {
    volatile unsigned char* p = static_cast<volatile unsigned char*>(to);
    while (size-- > 0) *p++ = static_cast<unsigned char>(value);
    return to;
}

extern "C" void* __cdecl memcpy(void* to, const void* from, size_t size) {
    volatile unsigned char* p = static_cast<volatile unsigned char*>(to);
    const unsigned char* q = static_cast<const unsigned char*>(from);
    while (size-- > 0) *p++ = *q++;
    return to;
}

// --- The host's interface declarations --------------------------------------

// The host's callbacks, seven slots. The plug-in calls TuneChannel and
// PluginClosed only.
class IDTVHost {
public:
    virtual int32_t Reserved0() = 0;
    virtual int32_t TuneChannel(int32_t channel) = 0;
    virtual int32_t Reserved2() = 0;
    virtual int32_t Reserved3() = 0;
    virtual int32_t Reserved4() = 0;
    virtual int32_t Reserved5() = 0;
    virtual int32_t PluginClosed() = 0;
};

class IDTVPlugin {
public:
    virtual ~IDTVPlugin() {}
    virtual int32_t SetHost(IDTVHost* host, uint32_t sdkVersion) = 0;
    virtual int32_t CreatePluginWindow(HWND parent) = 0;
    virtual int32_t OnStreamData(const uint8_t* packets, uint32_t count) = 0;
    virtual int32_t OnChannelChange(int32_t channel, int32_t serviceId) = 0;
    virtual int32_t OnHostEvent(int32_t a, int32_t b) = 0;
};

typedef int32_t(__cdecl* GetIface2Function)(void* reserved, IDTVPlugin** out);

// --- Output ------------------------------------------------------------------

namespace {

void Write(const char* text) {
    DWORD length = 0;
    while (text[length] != '\0') ++length;
    DWORD written = 0;
    WriteFile(GetStdHandle(kStdOutput), text, length, &written, nullptr);
}

void WriteHex(uint32_t value) {
    char text[11] = {'0', 'x'};
    for (int i = 0; i < 8; ++i) {
        const uint32_t nibble = (value >> (28 - 4 * i)) & 0xF;
        text[2 + i] = static_cast<char>(nibble < 10 ? '0' + nibble : 'A' + nibble - 10);
    }
    text[10] = '\0';
    Write(text);
}

void WriteBytes(const char* text) {
    Write("\"");
    for (const char* p = text; *p != '\0'; ++p) {
        const unsigned char c = static_cast<unsigned char>(*p);
        if (c >= 0x20 && c < 0x7F) {
            const char one[2] = {*p, '\0'};
            Write(one);
        } else {
            const char* digits = "0123456789ABCDEF";
            const char escaped[5] = {'\\', 'x', digits[c >> 4], digits[c & 0xF], '\0'};
            Write(escaped);
        }
    }
    Write("\"");
}

int g_failures = 0;

void Fail(const char* what) {
    ++g_failures;
    Write("FAIL: ");
    Write(what);
    Write("\n");
}

void ExpectEqual(const char* what, uint32_t actual, uint32_t expected) {
    if (actual == expected) return;
    ++g_failures;
    Write("FAIL: ");
    Write(what);
    Write(": got ");
    WriteHex(actual);
    Write(", expected ");
    WriteHex(expected);
    Write("\n");
}

bool SameText(const char* a, const char* b) {
    while (*a != '\0' && *a == *b) {
        ++a;
        ++b;
    }
    return *a == *b;
}

bool Contains(const char* text, const char* part) {
    for (; *text != '\0'; ++text) {
        const char* t = text;
        const char* p = part;
        while (*p != '\0' && *t == *p) {
            ++t;
            ++p;
        }
        if (*p == '\0') return true;
    }
    return false;
}

// The stack pointer, read where the caller stands. Around a call to a
// callee-pop (__thiscall) function it must come back unchanged: a slot that
// pops too little or too much leaves it off by the difference.
#define READ_ESP(into) __asm__ volatile("movl %%esp, %0" : "=r"(into))

// Calls one slot, then checks its result and that the stack is where it was.
#define EXPECT_CALL(what, expected, call)                                          \
    do {                                                                           \
        uint32_t espBefore_, espAfter_;                                            \
        READ_ESP(espBefore_);                                                      \
        const int32_t result_ = (call);                                            \
        READ_ESP(espAfter_);                                                       \
        ExpectEqual(what, static_cast<uint32_t>(result_), (expected));             \
        ExpectEqual(what " (stack pointer moved by)", espAfter_ - espBefore_, 0);  \
    } while (0)

// --- The host's side ---------------------------------------------------------

// Records the plug-in's calls. A local object: no deleting destructor, no
// static initialiser (there is no C runtime to run one).
class RecordingHost : public IDTVHost {
public:
    int32_t Reserved0() override { return Unexpected(); }
    int32_t TuneChannel(int32_t channel) override {
        ++tuneCalls;
        lastTuned = channel;
        return 1;
    }
    int32_t Reserved2() override { return Unexpected(); }
    int32_t Reserved3() override { return Unexpected(); }
    int32_t Reserved4() override { return Unexpected(); }
    int32_t Reserved5() override { return Unexpected(); }
    int32_t PluginClosed() override {
        ++closedCalls;
        return 1;
    }

    int tuneCalls = 0;
    int32_t lastTuned = 0;
    int closedCalls = 0;
    int unexpectedCalls = 0;

private:
    int32_t Unexpected() {
        ++unexpectedCalls;
        return 0;
    }
};

void PumpMessages() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, kPmRemove)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

struct OwnedDialogSearch {
    HWND owner;
    HWND found;
};

BOOL __stdcall FindOwnedDialog(HWND window, LPARAM param) {
    OwnedDialogSearch* search = reinterpret_cast<OwnedDialogSearch*>(param);
    char className[32] = {};
    GetClassNameA(window, className, sizeof className);
    if (SameText(className, "#32770") && GetWindow(window, kGwOwner) == search->owner) {
        search->found = window;
        return 0;
    }
    return 1;
}

HWND FindViewerDialog(HWND owner) {
    OwnedDialogSearch search = {owner, nullptr};
    EnumThreadWindows(GetCurrentThreadId(), FindOwnedDialog, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// The program's directory with a trailing backslash, then `name`.
bool PathBesideProgram(const char* name, char* path, DWORD size) {
    const DWORD length = GetModuleFileNameA(nullptr, path, size);
    if (length == 0 || length >= size) return false;
    DWORD cut = length;
    while (cut > 0 && path[cut - 1] != '\\') --cut;
    DWORD at = cut;
    for (const char* n = name; *n != '\0'; ++n) {
        if (at + 1 >= size) return false;
        path[at++] = *n;
    }
    path[at] = '\0';
    return true;
}

bool WriteWholeFile(const char* path, const char* text) {
    HANDLE file = CreateFileA(path, kGenericWrite, 0, nullptr, kCreateAlways, 0, nullptr);
    if (file == kInvalidHandle) return false;
    DWORD length = 0;
    while (text[length] != '\0') ++length;
    DWORD written = 0;
    const BOOL ok = WriteFile(file, text, length, &written, nullptr);
    CloseHandle(file);
    return ok && written == length;
}

// The first argument of the command line (quotes removed), or empty.
void FirstArgument(char* out, DWORD size) {
    const char* p = GetCommandLineA();
    if (*p == '"') {
        ++p;
        while (*p != '\0' && *p != '"') ++p;
        if (*p == '"') ++p;
    } else {
        while (*p != '\0' && *p != ' ' && *p != '\t') ++p;
    }
    while (*p == ' ' || *p == '\t') ++p;
    const bool quoted = *p == '"';
    if (quoted) ++p;
    DWORD at = 0;
    while (*p != '\0' && at + 1 < size) {
        if (quoted ? *p == '"' : (*p == ' ' || *p == '\t')) break;
        out[at++] = *p++;
    }
    out[at] = '\0';
}

// Room for a small file of whole packets; static, so no stack probe is
// needed for it.
uint8_t g_fileData[64 * 188];
uint8_t g_nullPackets[4 * 188];

// Reads the whole file into g_fileData; returns its size, or -1.
int32_t ReadPacketFile(const char* path) {
    HANDLE file = CreateFileA(path, kGenericRead, kFileShareRead, nullptr, kOpenExisting, 0, nullptr);
    if (file == kInvalidHandle) return -1;
    DWORD read = 0;
    const BOOL ok = ReadFile(file, g_fileData, sizeof g_fileData, &read, nullptr);
    CloseHandle(file);
    if (!ok || read == 0 || read == sizeof g_fileData || read % 188 != 0) return -1;
    return static_cast<int32_t>(read);
}

const uint32_t kSdkVersion = 0x10400;
const int32_t kChannel = 27;
const int32_t kFirstService = 0x0588;
// The one-segment service named in the SDT of the PSI file.
const int32_t kFileService = 0x5DB8;

// Shift_JIS texts as the A functions return them.
const char kCircledSix[] = "\x87\x45";            // ⑥: button 6 shows the current channel
const char kOneSeg[] = "\x83\x8F\x83\x93\x83Z\x83O";  // ワンセグ, in the service's name

int Run() {
    char psiPath[260];
    FirstArgument(psiPath, sizeof psiPath);

    // Button 6 tunes channel 27. The settings file lies beside the program.
    char settingsPath[260];
    if (!PathBesideProgram("Kestrin.ini", settingsPath, sizeof settingsPath) ||
        !WriteWholeFile(settingsPath, "[SERVICE]\r\nCH6=27\r\n")) {
        Fail("cannot write Kestrin.ini beside the program");
        return 1;
    }

    HMODULE library = LoadLibraryA("Kestrin.dll");
    if (library == nullptr) {
        Write("LoadLibraryA(\"Kestrin.dll\") failed, error ");
        WriteHex(GetLastError());
        Write("\n");
        return 1;
    }
    GetIface2Function getIface2 =
        reinterpret_cast<GetIface2Function>(GetProcAddress(library, "GetIface2"));
    if (getIface2 == nullptr) {
        Fail("Kestrin.dll exports no GetIface2");
        FreeLibrary(library);
        return 1;
    }

    IDTVPlugin* plugin = nullptr;
    EXPECT_CALL("GetIface2", 1, getIface2(nullptr, &plugin));
    if (plugin == nullptr) {
        Fail("GetIface2 made no object");
        FreeLibrary(library);
        return 1;
    }

    RecordingHost host;
    EXPECT_CALL("SetHost(host, 0x10400)", 1, plugin->SetHost(&host, kSdkVersion));

    HWND hostWindow = CreateWindowExA(0, "STATIC", "MSVC ABI host", kOverlappedWindow, 600, 500, 320,
                                      240, nullptr, nullptr, nullptr, nullptr);
    if (hostWindow == nullptr) Fail("cannot create the host's window");
    EXPECT_CALL("CreatePluginWindow(hostWindow)", 1, plugin->CreatePluginWindow(hostWindow));
    HWND dialog = FindViewerDialog(hostWindow);
    if (dialog == nullptr) Fail("no viewer dialog owned by the host's window");
    PumpMessages();

    // Null packets: routed and dropped.
    for (uint32_t i = 0; i < sizeof g_nullPackets; i += 188) {
        g_nullPackets[i] = 0x47;
        g_nullPackets[i + 1] = 0x1F;
        g_nullPackets[i + 2] = 0xFF;
        g_nullPackets[i + 3] = 0x10;
        for (uint32_t j = 4; j < 188; ++j) g_nullPackets[i + j] = 0xFF;
    }
    EXPECT_CALL("OnStreamData(null packets)", 1, plugin->OnStreamData(g_nullPackets, sizeof g_nullPackets));
    EXPECT_CALL("OnStreamData(nothing)", 1, plugin->OnStreamData(g_nullPackets, 0));

    // The channel reaches the plug-in: button 6, set to channel 27, is
    // circled.
    EXPECT_CALL("OnChannelChange(27, 0x0588)", 1, plugin->OnChannelChange(kChannel, kFirstService));
    PumpMessages();
    char text[256] = {};
    if (dialog != nullptr) {
        GetDlgItemTextA(dialog, kIdChannel6, text, sizeof text);
        if (!SameText(text, kCircledSix)) {
            Fail("after OnChannelChange(27, ...) button 6 is not circled; its label:");
            WriteBytes(text);
            Write("\n");
        }
    }

    EXPECT_CALL("OnHostEvent(7, 9)", 1, plugin->OnHostEvent(7, 9));

    // Real PSI packets: the service id and the packets' address and length
    // must all arrive for the caption to name the service.
    if (psiPath[0] != '\0') {
        const int32_t size = ReadPacketFile(psiPath);
        if (size < 0) {
            Fail("cannot read a whole number of packets from the file named on the command line");
        } else {
            EXPECT_CALL("OnChannelChange(27, 0x5DB8)", 1, plugin->OnChannelChange(kChannel, kFileService));
            EXPECT_CALL("OnStreamData(PSI file)", 1,
                        plugin->OnStreamData(g_fileData, static_cast<uint32_t>(size)));
            PumpMessages();
            if (dialog != nullptr) {
                GetWindowTextA(dialog, text, sizeof text);
                if (!Contains(text, kOneSeg)) {
                    Fail("the caption does not name the one-segment service of the SDT; caption:");
                    WriteBytes(text);
                    Write("\n");
                }
            }
        }
    }

    // The host's table as the plug-in calls it: slot 1 from a channel button,
    // slot 6 from the close command.
    if (dialog != nullptr) {
        SendMessageA(dialog, kWmCommand, (kBnClicked << 16) | kIdChannel6,
                     reinterpret_cast<LPARAM>(GetDlgItem(dialog, kIdChannel6)));
        PumpMessages();
        ExpectEqual("TuneChannel calls after pressing button 6", host.tuneCalls, 1);
        ExpectEqual("channel given to TuneChannel", host.lastTuned, kChannel);

        SendMessageA(dialog, kWmClose, 0, 0);
        PumpMessages();
        ExpectEqual("PluginClosed calls after closing the window", host.closedCalls, 1);
        // Closed: packets are refused now.
        EXPECT_CALL("OnStreamData after the close", 0, plugin->OnStreamData(g_nullPackets, 188));
    }
    ExpectEqual("calls to the host's unused slots", host.unexpectedCalls, 0);

    // The host removes the window, then deletes the object: MSVC calls the
    // scalar deleting destructor in slot 0 with flags 1.
    if (dialog != nullptr && IsWindow(dialog)) DestroyWindow(dialog);
    PumpMessages();
    {
        uint32_t espBefore, espAfter;
        READ_ESP(espBefore);
        delete plugin;
        READ_ESP(espAfter);
        ExpectEqual("delete plugin (stack pointer moved by)", espAfter - espBefore, 0);
    }
    if (hostWindow != nullptr) DestroyWindow(hostWindow);
    PumpMessages();
    if (!FreeLibrary(library)) Fail("FreeLibrary");

    // Flush the profile functions' copy of the settings file, then remove it.
    WritePrivateProfileStringA(nullptr, nullptr, nullptr, settingsPath);
    DeleteFileA(settingsPath);

    if (g_failures != 0) {
        Write("msvc_abi_host: FAILED\n");
        return 1;
    }
    Write("msvc_abi_host: every call through the MSVC-laid tables behaved\n");
    return 0;
}

}  // namespace

extern "C" void __cdecl HostEntry() { ExitProcess(static_cast<UINT>(Run())); }
