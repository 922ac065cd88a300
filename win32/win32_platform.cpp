#include "win32/win32_platform.h"

#include "win32/dtv_interfaces.h"

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

bool Win32Platform::GetWindowPosition(int32_t* left, int32_t* top) {
    HWND dialog = Dialog();
    RECT r;
    if (dialog == nullptr || !GetWindowRect(dialog, &r)) return false;
    *left = r.left;
    *top = r.top;
    return true;
}

void Win32Platform::ShowError(const char* text, const char* caption) {
    MessageBoxA(nullptr, text, caption, MB_ICONERROR);
}

void Win32Platform::TuneChannel(int32_t channel) {
    if (host_ != nullptr) host_->TuneChannel(channel);
}

void Win32Platform::PluginClosed() {
    if (host_ != nullptr) host_->PluginClosed();
}

FileHandle Win32Platform::CreateRecordingFile(const char* path) {
    HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0,
                              nullptr);
    // INVALID_HANDLE_VALUE is (HANDLE)-1, which is kInvalidFileHandle.
    return reinterpret_cast<FileHandle>(file);
}

bool Win32Platform::WriteFile(FileHandle file, const uint8_t* data, uint32_t size) {
    DWORD written = 0;
    return ::WriteFile(reinterpret_cast<HANDLE>(file), data, size, &written, nullptr) != FALSE;
}

void Win32Platform::CloseFile(FileHandle file) { CloseHandle(reinterpret_cast<HANDLE>(file)); }

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

uint32_t Win32Platform::GetHostExecutablePath(char* out, uint32_t size) {
    if (size == 0) return 0;
    DWORD n = GetModuleFileNameA(nullptr, out, size);
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
