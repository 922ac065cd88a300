// The viewer's tooltip as a program outside the DLL reads it: the
// common-controls tooltip window owned by the dialog, and the text it keeps
// for a control. Used by the Wine tests, the snapshot program and
// kestrin-host.
#ifndef KESTRIN_TOOLS_COMMON_VIEWER_TOOLTIP_H
#define KESTRIN_TOOLS_COMMON_VIEWER_TOOLTIP_H

#include <windows.h>

#include <commctrl.h>

#include <cstring>
#include <string>
#include <vector>

namespace viewer_tooltip {

struct Search {
    HWND owner;
    HWND found;
};

inline BOOL CALLBACK FindOwned(HWND window, LPARAM param) {
    Search* search = reinterpret_cast<Search*>(param);
    char name[32] = {};
    GetClassNameA(window, name, sizeof name);
    if (lstrcmpiA(name, TOOLTIPS_CLASSA) == 0 && GetWindow(window, GW_OWNER) == search->owner) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

}  // namespace viewer_tooltip

// The tooltip window owned by `dialog`, or NULL (none made yet: no event
// with details was shown).
inline HWND ViewerToolTipWindow(HWND dialog) {
    viewer_tooltip::Search search = {dialog, nullptr};
    EnumWindows(viewer_tooltip::FindOwned, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// The tooltip text of control `id` of `dialog` in code page 932; "" when the
// control has no tool. Read through the wide message, which takes the
// buffer's size (the ANSI one copies at most 80 bytes).
inline std::string ViewerToolTipText(HWND dialog, int id) {
    HWND tip = ViewerToolTipWindow(dialog);
    if (tip == nullptr) return "";
    std::vector<wchar_t> buffer(8192, L'\0');
    TOOLINFOW tool = {};
    tool.cbSize = TTTOOLINFOW_V2_SIZE;
    tool.uFlags = TTF_IDISHWND;
    tool.hwnd = dialog;
    tool.uId = reinterpret_cast<UINT_PTR>(GetDlgItem(dialog, id));
    tool.lpszText = buffer.data();
    SendMessageW(tip, TTM_GETTEXTW, buffer.size(), reinterpret_cast<LPARAM>(&tool));
    buffer.back() = L'\0';
    const int n = WideCharToMultiByte(932, 0, buffer.data(), -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1) return "";
    std::string text(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(932, 0, buffer.data(), -1, &text[0], n, nullptr, nullptr);
    text.resize(std::strlen(text.c_str()));
    return text;
}

#endif
