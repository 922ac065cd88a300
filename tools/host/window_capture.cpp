#include "tools/host/window_capture.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "tools/host/host_log.h"
#include "tools/host/plugin_host.h"
#include "tools/common/viewer_tooltip.h"

namespace {

// The viewer's controls, in the order of the report.
struct ControlName {
    int id;
    const char* name;
};
const ControlName kControls[] = {
    {1003, "IDC_INFO_TEXT"},        {1011, "IDC_CLOCK"},
    {1021, "IDC_PRESENT_FOLLOWING"}, {1022, "IDC_RECORD_REQUEST"},
    {1023, "IDC_ONESEG_RECORD"},
};
const int kChannelButtons[12] = {1008, 1009, 1010, 1012, 1013, 1014,
                                 1015, 1016, 1017, 1018, 1019, 1020};

// Enough for the longest event text the plug-in can show.
const int kTextCapacity = 4096;

std::string ControlText(HWND dialog, int id) {
    char text[kTextCapacity] = {};
    GetDlgItemTextA(dialog, id, text, kTextCapacity);
    return text;
}

std::string WindowText(HWND window) {
    char text[kTextCapacity] = {};
    GetWindowTextA(window, text, kTextCapacity);
    return text;
}

// Indents every line after the first by four spaces; CR LF becomes LF.
std::string IndentLines(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\r') continue;
        out += c;
        if (c == '\n') out += "    ";
    }
    return out;
}

bool IsLeadByte(uint8_t c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }
bool IsTrailByte(uint8_t c) { return (c >= 0x40 && c <= 0x7E) || (c >= 0x80 && c <= 0xFC); }
bool IsSingleByte(uint8_t c) { return c <= 0x7F || (c >= 0xA1 && c <= 0xDF); }

}  // namespace

bool IsWellFormedShiftJis(const std::string& text, size_t* badOffset) {
    size_t i = 0;
    while (i < text.size()) {
        const uint8_t c = static_cast<uint8_t>(text[i]);
        if (IsLeadByte(c)) {
            if (i + 1 >= text.size() || !IsTrailByte(static_cast<uint8_t>(text[i + 1]))) {
                *badOffset = i;
                return false;
            }
            i += 2;
        } else if (IsSingleByte(c)) {
            i += 1;
        } else {
            *badOffset = i;
            return false;
        }
    }
    return true;
}

namespace {

std::string ConvertCp932(const std::string& text) {
    if (text.empty()) return std::string();
    const int wide = MultiByteToWideChar(932, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (wide <= 0) return std::string();
    std::vector<wchar_t> utf16(static_cast<size_t>(wide));
    MultiByteToWideChar(932, 0, text.data(), static_cast<int>(text.size()), utf16.data(), wide);
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, utf16.data(), wide, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return std::string();
    std::string utf8(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, utf16.data(), wide, &utf8[0], bytes, nullptr, nullptr);
    return utf8;
}

}  // namespace

// Characters of the user-defined area (lead bytes 0xF0-0xF9), where the
// plug-in puts the ARIB additional symbols such as the boxed 字, have no
// glyph outside a broadcast font and convert to the Private Use Area; they
// are written as "[外字 F0A1]" (user-defined character and its code) so that
// the report shows where they are.
std::string Cp932ToUtf8(const std::string& text) {
    std::string out;
    size_t run = 0;
    size_t i = 0;
    while (i < text.size()) {
        const uint8_t c = static_cast<uint8_t>(text[i]);
        if (c >= 0xF0 && c <= 0xF9 && i + 1 < text.size()) {
            out += ConvertCp932(text.substr(run, i - run));
            char code[32];
            std::snprintf(code, sizeof code, "[\xE5\xA4\x96\xE5\xAD\x97 %02X%02X]", c,
                          static_cast<unsigned>(static_cast<uint8_t>(text[i + 1])));
            out += code;
            i += 2;
            run = i;
        } else {
            i += IsLeadByte(c) && i + 1 < text.size() ? 2 : 1;
        }
    }
    out += ConvertCp932(text.substr(run));
    return out;
}

std::string DescribeViewer(HWND dialog, const char* title) {
    std::string out = std::string("== ") + title + " ==\n";
    if (dialog == nullptr) return out + "(no viewer window)\n";
    out += "caption: " + Cp932ToUtf8(WindowText(dialog)) + "\n";
    for (const ControlName& control : kControls) {
        const std::string text = Cp932ToUtf8(ControlText(dialog, control.id));
        out += std::string(control.name) + " (" + std::to_string(control.id) + "):";
        if (control.id != 1003) {
            out += " " + text + "\n";
            continue;
        }
        // The edit control's lines end in CR LF.
        out += "\n    " + IndentLines(text) + "\n";
        // The programme details the tooltip shows over the event text.
        const std::string tip = Cp932ToUtf8(ViewerToolTipText(dialog, control.id));
        if (!tip.empty()) out += "  tooltip:\n    " + IndentLines(tip) + "\n";
    }
    out += "channel buttons:";
    for (int id : kChannelButtons) out += " [" + Cp932ToUtf8(ControlText(dialog, id)) + "]";
    out += "\n";
    return out;
}

int CheckViewerTexts(HWND dialog) {
    if (dialog == nullptr) return 0;
    int failures = 0;
    auto check = [&failures](const std::string& text, const char* what, int id) {
        size_t bad = 0;
        if (!IsWellFormedShiftJis(text, &bad)) {
            ++failures;
            // The bytes around the fault, for the report.
            char around[3 * 24 + 1] = {};
            const size_t from = bad >= 12 ? bad - 12 : 0;
            for (size_t i = from, n = 0; i < text.size() && n < 24; ++i, ++n) {
                std::snprintf(around + 3 * n, 4, "%02X ", static_cast<unsigned>(static_cast<uint8_t>(text[i])));
            }
            HostLog("window text %s (%d) is not Shift_JIS at byte %u (0x%02X); bytes from %u: %s", what, id,
                    static_cast<unsigned>(bad), static_cast<unsigned>(static_cast<uint8_t>(text[bad])),
                    static_cast<unsigned>(from), around);
        }
    };
    check(WindowText(dialog), "caption", 0);
    for (const ControlName& control : kControls) check(ControlText(dialog, control.id), control.name, control.id);
    for (int id : kChannelButtons) check(ControlText(dialog, id), "channel button", id);
    check(ViewerToolTipText(dialog, 1003), "IDC_INFO_TEXT tooltip", 1003);
    return failures;
}

bool WriteWindowPicture(HWND window, const char* path) {
    if (window == nullptr) return false;
    // On top and freshly painted, so that the screen holds the real window.
    SetWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    PumpMessages();
    Sleep(250);
    PumpMessages();

    RECT r;
    if (!GetWindowRect(window, &r)) return false;
    const int width = r.right - r.left;
    const int height = r.bottom - r.top;
    if (width <= 0 || height <= 0) return false;
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;  // bottom-up, as BMP files keep it
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool ok = false;
    if (bitmap != nullptr) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
        GdiFlush();
        SelectObject(memory, old);

        const DWORD stride = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
        const DWORD imageSize = stride * static_cast<DWORD>(height);
        BITMAPFILEHEADER file = {};
        file.bfType = 0x4D42;  // "BM"
        file.bfOffBits = sizeof file + sizeof info.bmiHeader;
        file.bfSize = file.bfOffBits + imageSize;
        info.bmiHeader.biSizeImage = imageSize;
        if (std::FILE* out = std::fopen(path, "wb")) {
            ok = std::fwrite(&file, sizeof file, 1, out) == 1 &&
                 std::fwrite(&info.bmiHeader, sizeof info.bmiHeader, 1, out) == 1 &&
                 std::fwrite(bits, imageSize, 1, out) == 1;
            ok = std::fclose(out) == 0 && ok;
        }
        DeleteObject(bitmap);
    }
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    SetWindowPos(window, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    return ok;
}
