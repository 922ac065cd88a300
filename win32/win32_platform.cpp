#include "win32/win32_platform.h"

#include "win32/caption_window.h"

#include <commctrl.h>
#include <shlobj.h>

#include <cstdint>

#include "plugin/plugin_state.h"
#include "plugin/settings.h"
#include "win32/dtv_interfaces.h"

namespace {

ScreenRect FromRect(const RECT& r) {
    ScreenRect s = {static_cast<int32_t>(r.left), static_cast<int32_t>(r.top),
                    static_cast<int32_t>(r.right), static_cast<int32_t>(r.bottom)};
    return s;
}

struct WorkAreaList {
    ScreenRect* out;
    int32_t capacity;
    int32_t count;
};

BOOL CALLBACK AddWorkArea(HMONITOR monitor, HDC, LPRECT, LPARAM param) {
    WorkAreaList* list = reinterpret_cast<WorkAreaList*>(param);
    if (list->count >= list->capacity) return FALSE;
    MONITORINFO info;
    info.cbSize = sizeof info;
    if (!GetMonitorInfoA(monitor, &info)) return TRUE;
    ScreenRect area = FromRect(info.rcWork);
    if ((info.dwFlags & MONITORINFOF_PRIMARY) != 0 && list->count > 0) {
        // The primary goes first: among monitors at the same distance from
        // a lost window it is the one chosen.
        list->out[list->count] = list->out[0];
        list->out[0] = area;
    } else {
        list->out[list->count] = area;
    }
    ++list->count;
    return TRUE;
}

// How long a tooltip stays up while the pointer rests, in milliseconds: the
// longest the control accepts, so that a long text can be read.
const int kToolTipShowTime = 32767;

}  // namespace

void Win32Platform::SetDialog(HWND dialog) { dialog_.store(dialog); }

HWND Win32Platform::Dialog() const { return dialog_.load(); }

void Win32Platform::SetControlText(int32_t controlId, const char* text) {
    HWND dialog = Dialog();
    if (dialog != nullptr) SetDlgItemTextA(dialog, controlId, text);
}

void Win32Platform::SetWindowTitle(const char* text) {
    HWND dialog = Dialog();
    if (dialog != nullptr) SetWindowTextA(dialog, text);
}

HWND Win32Platform::ToolTipOf(HWND dialog, bool create) {
    // The tooltip goes with its dialog; a handle that no longer names a
    // window owned by this dialog belonged to one destroyed before.
    if (toolTip_ != nullptr && IsWindow(toolTip_) && GetWindow(toolTip_, GW_OWNER) == dialog) return toolTip_;
    toolTip_ = nullptr;
    if (!create) return nullptr;
    INITCOMMONCONTROLSEX classes;
    classes.dwSize = sizeof classes;
    classes.dwICC = ICC_TAB_CLASSES;  // registers the tooltip class
    InitCommonControlsEx(&classes);
    // TTS_ALWAYSTIP: the viewer is rarely the active window (the host's is);
    // TTS_NOPREFIX: an '&' in a programme text is shown as it is.
    HWND tip = CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX,
                               CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, dialog, nullptr,
                               reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(dialog, GWLP_HINSTANCE)), nullptr);
    if (tip == nullptr) return nullptr;
    // The text arrives wrapped at its own line width; a maximum width makes
    // the control honour its line breaks, and the screen's width keeps it
    // from breaking the lines again.
    SendMessageA(tip, TTM_SETMAXTIPWIDTH, 0, GetSystemMetrics(SM_CXSCREEN));
    SendMessageA(tip, TTM_SETDELAYTIME, TTDT_AUTOPOP, MAKELPARAM(kToolTipShowTime, 0));
    toolTip_ = tip;
    return tip;
}

void Win32Platform::KeepToolTipCode() {
    // The module this library's import of the common controls was bound to.
    HMODULE module = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCSTR>(&InitCommonControlsEx), &module);
}

void Win32Platform::SetToolTipText(int32_t controlId, const char* text) {
    HWND dialog = Dialog();
    if (dialog == nullptr) return;
    // The tooltip belongs to the window's thread; a call from any other
    // thread would create it there, so it is ignored.
    if (GetWindowThreadProcessId(dialog, nullptr) != GetCurrentThreadId()) return;
    HWND control = GetDlgItem(dialog, controlId);
    if (control == nullptr) return;
    const bool show = text != nullptr && text[0] != '\0';
    HWND tip = ToolTipOf(dialog, show);
    if (tip == nullptr) return;

    // One tool per control, identified by the control's handle; with
    // TTF_SUBCLASS the tooltip sees the control's mouse messages itself.
    // The old tool goes first (removing none is harmless): asking whether
    // one exists would make the control copy its text into a buffer of ours
    // with no size given. An empty text adds none, so nothing pops up.
    TOOLINFOA tool;
    ZeroMemory(&tool, sizeof tool);
    // The size every comctl32 version accepts, with or without a manifest.
    tool.cbSize = TTTOOLINFOA_V2_SIZE;
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = dialog;
    tool.uId = reinterpret_cast<UINT_PTR>(control);
    SendMessageA(tip, TTM_DELTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
    if (!show) return;
    // The control keeps its own copy of the text.
    tool.lpszText = const_cast<char*>(text);
    SendMessageA(tip, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
}

void Win32Platform::PostToWindow(uint32_t message) {
    HWND dialog = Dialog();
    if (dialog != nullptr) PostMessageA(dialog, message, 0, 0);
}

void Win32Platform::PostToOwner(uint32_t message, uint32_t wParam) {
    HWND dialog = Dialog();
    if (dialog == nullptr) return;
    // For an owned pop-up GetParent answers the owner: the host's window.
    HWND owner = GetParent(dialog);
    if (owner != nullptr) PostMessageA(owner, message, wParam, 0);
}

Win32Platform& Win32Platform::Of(const PluginState& state) { return *static_cast<Win32Platform*>(state.platform); }

bool Win32Platform::GetWindowPlacement(WindowPlacement* placement) {
    HWND dialog = Dialog();
    return dialog != nullptr && PlacementOf(dialog, placement);
}

bool Win32Platform::PlacementOf(HWND window, WindowPlacement* placement) {
    RECT r;
    WINDOWPLACEMENT wp;
    wp.length = sizeof wp;
    if (!GetWindowRect(window, &r) || !::GetWindowPlacement(window, &wp)) return false;
    placement->show = IsIconic(window)   ? WindowShow::kMinimised
                      : IsZoomed(window) ? WindowShow::kMaximised
                                         : WindowShow::kNormal;
    placement->window = FromRect(r);
    placement->normal = FromRect(wp.rcNormalPosition);
    // The restored rectangle of a top-level window without WS_EX_TOOLWINDOW
    // is in workspace coordinates of its monitor (for a minimised window
    // MonitorFromWindow answers the monitor it was restored on).
    if ((GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_TOOLWINDOW) == 0) {
        MONITORINFO info;
        info.cbSize = sizeof info;
        HMONITOR monitor = MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST);
        if (monitor != nullptr && GetMonitorInfoA(monitor, &info)) {
            placement->normal = WorkspaceToScreen(placement->normal, FromRect(info.rcMonitor),
                                                  FromRect(info.rcWork));
        }
    }
    return true;
}

int32_t Win32Platform::MonitorWorkAreas(ScreenRect* out, int32_t capacity) {
    WorkAreaList list = {out, capacity, 0};
    if (out == nullptr || capacity <= 0) return 0;
    EnumDisplayMonitors(nullptr, nullptr, AddWorkArea, reinterpret_cast<LPARAM>(&list));
    return list.count;
}

void Win32Platform::PlaceOnMonitors(HWND window, int32_t left, int32_t top) {
    RECT r;
    if (!GetWindowRect(window, &r)) SetRectEmpty(&r);
    // A position from the file may be any int32: one so far right or down
    // that the far edge would not fit is moved back by the window's size
    // (off every monitor either way), so that the size is kept.
    const int32_t width = static_cast<int32_t>(r.right - r.left);
    const int32_t height = static_cast<int32_t>(r.bottom - r.top);
    const int32_t x = left > INT32_MAX - width ? INT32_MAX - width : left;
    const int32_t y = top > INT32_MAX - height ? INT32_MAX - height : top;
    const ScreenRect saved = {x, y, x + width, y + height};
    ScreenRect workAreas[kMaxMonitors];
    const int32_t monitors = MonitorWorkAreas(workAreas, kMaxMonitors);
    const ScreenRect placed = PlaceOnScreen(saved, workAreas, monitors);
    SetWindowPos(window, HWND_TOP, placed.left, placed.top, 0, 0, SWP_NOSIZE);
}

void Win32Platform::ShowError(const char* text, const char* caption) {
    MessageBoxA(nullptr, text, caption, MB_ICONERROR);
}

void Win32Platform::TuneChannel(int32_t channel) {
    IDTVHost* host = host_.load();
    if (host != nullptr) host->TuneChannel(channel);
}

void Win32Platform::PluginClosed() {
    IDTVHost* host = host_.load();
    if (host != nullptr) host->PluginClosed();
}

FileHandle Win32Platform::CreateRecordingFile(const char* path) {
    HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0,
                              nullptr);
    // INVALID_HANDLE_VALUE is (HANDLE)-1, which is kInvalidFileHandle.
    return reinterpret_cast<FileHandle>(file);
}

bool Win32Platform::WriteFile(FileHandle file, const uint8_t* data, uint32_t size) {
    DWORD written = 0;
    // A write that stored fewer bytes than asked is a failure too: the
    // caller's file would otherwise miss bytes without knowing.
    return ::WriteFile(reinterpret_cast<HANDLE>(file), data, size, &written, nullptr) != FALSE &&
           written == size;
}

void Win32Platform::CloseFile(FileHandle file) { CloseHandle(reinterpret_cast<HANDLE>(file)); }

FileHandle Win32Platform::OpenReadFile(const char* path, FileOpenError* error) {
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        *error = FileOpenError::kNone;
        return reinterpret_cast<FileHandle>(file);
    }
    const DWORD lastError = GetLastError();
    // Opening a folder fails with access denied, like a locked file; its
    // attributes tell the two apart.
    const DWORD attributes = GetFileAttributesA(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        *error = FileOpenError::kIsDirectory;
    } else if (lastError == ERROR_FILE_NOT_FOUND || lastError == ERROR_PATH_NOT_FOUND) {
        *error = FileOpenError::kNotFound;
    } else {
        *error = FileOpenError::kFailed;
    }
    return kInvalidFileHandle;
}

int32_t Win32Platform::ReadFile(FileHandle file, uint8_t* data, uint32_t size) {
    DWORD got = 0;
    if (size > 0x7FFFFFFFu) size = 0x7FFFFFFFu;
    if (::ReadFile(reinterpret_cast<HANDLE>(file), data, size, &got, nullptr) == FALSE) return -1;
    return static_cast<int32_t>(got);
}

FileHandle Win32Platform::CreateReplacementFile(const char* path) {
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    return reinterpret_cast<FileHandle>(file);
}

bool Win32Platform::FlushFile(FileHandle file) {
    return FlushFileBuffers(reinterpret_cast<HANDLE>(file)) != FALSE;
}

bool Win32Platform::RenameFileOver(const char* from, const char* to) {
    return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
}

bool Win32Platform::RemoveFile(const char* path) { return DeleteFileA(path) != FALSE; }

bool Win32Platform::MakeFolder(const char* path) {
    if (CreateDirectoryA(path, nullptr) != FALSE) return true;
    const DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

uint32_t Win32Platform::GetLocalAppDataFolder(char* out, uint32_t size) {
    if (size == 0) return 0;
    out[0] = '\0';
    // The shell knows the folder even when the host was started without the
    // environment variable; the variable stands in where the shell fails.
    char folder[MAX_PATH];
    folder[0] = '\0';
    DWORD length = 0;
    if (SHGetFolderPathA(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder) == S_OK) {
        folder[MAX_PATH - 1] = '\0';
        length = static_cast<DWORD>(lstrlenA(folder));
    } else {
        length = GetEnvironmentVariableA("LOCALAPPDATA", folder, MAX_PATH);
        if (length >= MAX_PATH) length = 0;  // too long: the size it needs
    }
    if (length == 0) return 0;
    const bool slash = folder[length - 1] == '\\';
    const uint32_t whole = length + (slash ? 0 : 1);
    if (whole + 1 > size) return 0;
    CopyMemory(out, folder, length);
    if (!slash) out[length] = '\\';
    out[whole] = '\0';
    return whole;
}

int32_t Win32Platform::ReadSettingInt(const char* section, const char* key, int32_t defaultValue,
                                      const char* path) {
    // The profile function returns a UINT; a negative number in the file
    // comes back as its two's complement.
    return static_cast<int32_t>(GetPrivateProfileIntA(section, key, defaultValue, path));
}

uint32_t Win32Platform::ReadSettingString(const char* section, const char* key,
                                          const char* defaultValue, char* out, uint32_t size,
                                          const char* path) {
    if (size == 0) return 0;
    DWORD n = GetPrivateProfileStringA(section, key, defaultValue, out, size, path);
    out[size - 1] = '\0';
    return n < size ? n : size - 1;
}

void Win32Platform::WriteSettingString(const char* section, const char* key, const char* value,
                                       const char* path) {
    WritePrivateProfileStringA(section, key, value, path);
}

uint32_t Win32Platform::GetHostExecutablePath(char* out, uint32_t size, bool* whole) {
    *whole = false;
    if (size == 0) return 0;
    // Cleared first: only an error set by this call tells a truncated path
    // from a whole one of size - 1 characters.
    SetLastError(ERROR_SUCCESS);
    DWORD n = GetModuleFileNameA(nullptr, out, size);
    *whole = ModuleFileNameIsWhole(n, size, GetLastError() == ERROR_INSUFFICIENT_BUFFER);
    // On a truncated path older systems leave the buffer unterminated.
    if (n >= size) n = size - 1;
    out[n] = '\0';
    return n;
}

LocalTime Win32Platform::GetLocalTime() {
    SYSTEMTIME st;
    ::GetLocalTime(&st);
    LocalTime t;
    t.year = st.wYear;
    t.month = st.wMonth;
    t.day = st.wDay;
    t.hour = st.wHour;
    t.minute = st.wMinute;
    t.second = st.wSecond;
    return t;
}

bool Win32Platform::OpenCaptionWindow() {
    HWND dialog = Dialog();
    if (dialog == nullptr) return false;
    return CaptionWindowOf(dialog) != nullptr || CreateCaptionWindow(dialog) != nullptr;
}

// WM_NCDESTROY of the caption window forgets it.
void Win32Platform::CloseCaptionWindow() {
    HWND window = CaptionWindowOf(Dialog());
    if (window != nullptr) DestroyWindow(window);
}

void Win32Platform::SetCaptionControlText(int32_t controlId, const char* text) {
    HWND window = CaptionWindowOf(Dialog());
    if (window == nullptr) return;
    HWND control = GetDlgItem(window, controlId);
    if (control == nullptr) return;
    if ((GetWindowLongPtrA(control, GWL_STYLE) & WS_VSCROLL) == 0) {
        SetWindowTextA(control, text);
        return;
    }
    // A text the user scrolls: where it was, or its end when it showed it.
    SCROLLINFO info;
    info.cbSize = sizeof info;
    info.fMask = SIF_ALL;
    const bool atEnd = !GetScrollInfo(control, SB_VERT, &info) ||
                       info.nPos + static_cast<int>(info.nPage) > info.nMax;
    const LRESULT firstLine = SendMessageA(control, EM_GETFIRSTVISIBLELINE, 0, 0);
    SetWindowTextA(control, text);
    if (atEnd) {
        SendMessageA(control, WM_VSCROLL, SB_BOTTOM, 0);
    } else {
        SendMessageA(control, EM_LINESCROLL, 0, firstLine);
    }
}
