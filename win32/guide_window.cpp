// The programme guide window: a modeless, resizable dialog (IDD_GUIDE)
// owned by the viewer, on the viewer's thread. A tab for each day held, the
// grid (win32/guide_grid_window.h, which draws ui/guide_view.h's layout),
// a legend of the genre colours, the details, the request button and a
// status line; the texts and states are set through the platform. The
// viewer's menu on the programme text opens it (ui/viewer_menu.h).
#include "win32/guide_window.h"

#include <commctrl.h>

#include "plugin/messages.h"
#include "plugin/plugin_state.h"
#include "ui/guide_grid.h"
#include "ui/guide_view.h"
#include "ui/resource.h"
#include "ui/viewer.h"
#include "win32/guide_grid_window.h"
#include "win32/left_window.h"
#include "win32/viewer_binding.h"
#include "win32/win32_platform.h"

namespace {

// Pixels: the margins, the heights of the fixed rows under the grid, and
// the smallest window the user can drag it to.
const int kMargin = 4;
const int kDetailsHeight = 84;
const int kButtonHeight = 24;
const int kButtonWidth = 240;
const int kLeastWidth = 420;
const int kLeastHeight = 360;
// The legend: a swatch and a name per genre, as many rows as it takes.
const int kSwatch = 10;
const int kLegendGap = 10;

HINSTANCE InstanceOf(HWND window) { return reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(window, GWLP_HINSTANCE)); }

HFONT DialogFont(HWND dialog) { return reinterpret_cast<HFONT>(SendMessageA(dialog, WM_GETFONT, 0, 0)); }

int LineHeight(HWND dialog) {
    int height = 14;
    HDC dc = GetDC(dialog);
    if (dc == nullptr) return height;
    HGDIOBJ old = SelectObject(dc, DialogFont(dialog));
    TEXTMETRICA metrics;
    if (GetTextMetricsA(dc, &metrics)) height = metrics.tmHeight;
    SelectObject(dc, old);
    ReleaseDC(dialog, dc);
    return height;
}

// Lays the legend's entries out in `area`, left to right, row after row;
// draws them when `dc` is given. Returns the height used.
int LegendLayout(HDC dc, const RECT& area, int lineHeight) {
    GridLegendEntry entries[16];
    const int32_t count = GridLegend(entries, 16);
    int x = area.left;
    int y = area.top;
    for (int32_t i = 0; i < count; ++i) {
        SIZE size = {0, 0};
        const int length = lstrlenA(entries[i].name);
        if (dc != nullptr) GetTextExtentPoint32A(dc, entries[i].name, length, &size);
        const int width = kSwatch + 4 + (dc != nullptr ? size.cx : length * lineHeight / 2) + kLegendGap;
        if (x > area.left && x + width > area.right) {
            x = area.left;
            y += lineHeight + 2;
        }
        if (dc != nullptr) {
            const int top = y + (lineHeight - kSwatch) / 2;
            RECT swatch = {x, top, x + kSwatch, top + kSwatch};
            HBRUSH brush = CreateSolidBrush(entries[i].colour);
            if (brush != nullptr) {
                FillRect(dc, &swatch, brush);
                DeleteObject(brush);
            }
            FrameRect(dc, &swatch, static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH)));
            TextOutA(dc, x + kSwatch + 4, y, entries[i].name, length);
        }
        x += width;
    }
    return y + lineHeight - area.top;
}

void DrawLegend(const DRAWITEMSTRUCT& item) {
    FillRect(item.hDC, &item.rcItem, GetSysColorBrush(COLOR_BTNFACE));
    SetBkMode(item.hDC, TRANSPARENT);
    SetTextColor(item.hDC, GetSysColor(COLOR_BTNTEXT));
    HGDIOBJ old = SelectObject(item.hDC, DialogFont(GetParent(item.hwndItem)));
    TEXTMETRICA metrics;
    const int lineHeight = GetTextMetricsA(item.hDC, &metrics) ? metrics.tmHeight : 14;
    LegendLayout(item.hDC, item.rcItem, lineHeight);
    SelectObject(item.hDC, old);
}

void Place(HWND dialog, int id, int left, int top, int width, int height) {
    HWND control = GetDlgItem(dialog, id);
    if (control != nullptr) MoveWindow(control, left, top, width > 0 ? width : 0, height > 0 ? height : 0, TRUE);
}

// The controls for the dialog's client size: the tabs on top, the grid
// taking what the rows under it leave.
void LayoutGuide(HWND dialog) {
    RECT client;
    if (!GetClientRect(dialog, &client)) return;
    const int width = client.right - 2 * kMargin;
    const int lineHeight = LineHeight(dialog);
    const int tabsHeight = lineHeight + 10;
    RECT legendArea = {kMargin, 0, kMargin + width, 0};
    HDC dc = GetDC(dialog);
    int legendHeight = lineHeight;
    if (dc != nullptr) {
        HGDIOBJ old = SelectObject(dc, DialogFont(dialog));
        legendHeight = LegendLayout(dc, legendArea, lineHeight);
        SelectObject(dc, old);
        ReleaseDC(dialog, dc);
    }
    const int bottomRow = client.bottom - kMargin - kButtonHeight;
    const int detailsTop = bottomRow - kMargin - kDetailsHeight;
    const int legendTop = detailsTop - kMargin - legendHeight;
    const int gridTop = kMargin + tabsHeight;
    Place(dialog, IDC_GUIDE_DATES, kMargin, kMargin, width, tabsHeight);
    Place(dialog, IDC_GUIDE_GRID, kMargin, gridTop, width, legendTop - kMargin - gridTop);
    Place(dialog, IDC_GUIDE_LEGEND, kMargin, legendTop, width, legendHeight);
    Place(dialog, IDC_GUIDE_DETAILS, kMargin, detailsTop, width, kDetailsHeight);
    Place(dialog, IDC_GUIDE_REQUEST, kMargin, bottomRow, kButtonWidth, kButtonHeight);
    Place(dialog, IDC_GUIDE_STATUS, 2 * kMargin + kButtonWidth, bottomRow + (kButtonHeight - lineHeight) / 2,
          width - kButtonWidth - kMargin, lineHeight);
    InvalidateRect(GetDlgItem(dialog, IDC_GUIDE_LEGEND), nullptr, TRUE);
}

BOOL CALLBACK UnbindGuide(HWND window, LPARAM viewer) {
    if (GetWindow(window, GW_OWNER) == reinterpret_cast<HWND>(viewer) && GetDlgItem(window, IDC_GUIDE_GRID) != nullptr) {
        LeaveWindow(window);
    }
    return TRUE;
}

}  // namespace

void ReleaseGuideWindows(HWND viewer) {
    if (viewer == nullptr) return;
    // The guide, an owned pop-up, keeps the dialog manager's defaults, its
    // tab control (common controls' code, kept loaded with the tooltip's),
    // its grid (which paints itself empty without a plug-in) and a
    // procedure that closes it.
    EnumThreadWindows(GetWindowThreadProcessId(viewer, nullptr), UnbindGuide, reinterpret_cast<LPARAM>(viewer));
}

// The plug-in is the viewer's, found through the owner for each message and
// held while the message is handled: when the plug-in object goes before its
// window, the viewer forgets it, and so does the guide.
INT_PTR CALLBACK GuideDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    const ViewerHold hold(GetWindow(dialog, GW_OWNER));
    if (hold.State() == nullptr) return LeftWindowProc(dialog, message, wParam, lParam);
    PluginState& state = *hold.State();
    Win32Platform& platform = Win32Platform::Of(state);
    switch (message) {
        case WM_INITDIALOG: {
            platform.SetGuideDialog(dialog);
            int32_t left = 0;
            int32_t top = 0;
            int32_t width = 0;
            int32_t height = 0;
            GuidePosition(state, left, top);
            GuideSize(state, width, height);
            if (width > 0 && height > 0) {
                SetWindowPos(dialog, nullptr, 0, 0, width < kLeastWidth ? kLeastWidth : width,
                             height < kLeastHeight ? kLeastHeight : height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
            }
            Win32Platform::PlaceOnMonitors(dialog, left, top);
            LayoutGuide(dialog);
            GuideInitialised(state);
            GuideGridMetricsChanged(GetDlgItem(dialog, IDC_GUIDE_GRID));
            return TRUE;
        }
        case WM_MOVE: {
            WindowPlacement placement;
            if (Win32Platform::PlacementOf(dialog, &placement)) GuideMoved(state, placement);
            break;
        }
        case WM_SIZE: {
            if (wParam != SIZE_MINIMIZED) LayoutGuide(dialog);
            WindowPlacement placement;
            if (Win32Platform::PlacementOf(dialog, &placement)) GuideResized(state, placement);
            break;
        }
        case WM_GETMINMAXINFO: {
            MINMAXINFO* info = reinterpret_cast<MINMAXINFO*>(lParam);
            info->ptMinTrackSize.x = kLeastWidth;
            info->ptMinTrackSize.y = kLeastHeight;
            return TRUE;
        }
        case WM_DRAWITEM: {
            const DRAWITEMSTRUCT* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
            if (item == nullptr || item->CtlID != IDC_GUIDE_LEGEND) break;
            DrawLegend(*item);
            return TRUE;
        }
        case WM_COMMAND:
            if (LOWORD(wParam) == IDC_GUIDE_REQUEST) GuideRequestPressed(state);
            if (LOWORD(wParam) == IDCANCEL) DestroyWindow(dialog);
            break;
        case WM_NOTIFY: {
            const NMHDR* header = reinterpret_cast<const NMHDR*>(lParam);
            if (header == nullptr || header->idFrom != IDC_GUIDE_DATES || header->code != TCN_SELCHANGE) break;
            GuideDaySelected(state, static_cast<int32_t>(SendMessageA(header->hwndFrom, TCM_GETCURSEL, 0, 0)));
            break;
        }
        case WM_NCDESTROY:
            GuideClosed(state);
            platform.SetGuideDialog(nullptr);
            // The grid is gone with its children: its class may go too.
            UnregisterGuideGridClass(InstanceOf(dialog));
            break;
        default:
            break;
    }
    return FALSE;
}

void Win32Platform::SetGuideDialog(HWND guide) { guide_ = guide; }

// WM_NCDESTROY of the guide forgets it.
void Win32Platform::CloseGuideWindow() {
    if (guide_ != nullptr && IsWindow(guide_)) DestroyWindow(guide_);
}

void Win32Platform::OpenGuideWindow() {
    HWND viewer = Dialog();
    if (viewer == nullptr) return;
    if (guide_ != nullptr && IsWindow(guide_)) {
        ShowWindow(guide_, SW_SHOWNORMAL);
        SetForegroundWindow(guide_);
        return;
    }
    INITCOMMONCONTROLSEX classes;
    classes.dwSize = sizeof classes;
    classes.dwICC = ICC_TAB_CLASSES;
    InitCommonControlsEx(&classes);
    const HINSTANCE instance = InstanceOf(viewer);
    if (!RegisterGuideGridClass(instance)) return;
    guideTabs_ = -1;
    CreateDialogParamA(instance, MAKEINTRESOURCEA(IDD_GUIDE), viewer, GuideDialogProc, 0);
}

GuideViewState* Win32Platform::GuideView() { return &guideView_; }

void Win32Platform::RedrawGuide() {
    if (guide_ == nullptr) return;
    // The date tabs, rebuilt only when the days held changed.
    HWND tabs = GetDlgItem(guide_, IDC_GUIDE_DATES);
    const GridDays& days = guideView_.days;
    const int64_t first = days.count > 0 ? days.start[0] : 0;
    if (tabs != nullptr && (days.count != guideTabs_ || first != guideFirstDay_)) {
        SendMessageA(tabs, TCM_DELETEALLITEMS, 0, 0);
        for (int32_t i = 0; i < days.count && i < kGridMaxDays; ++i) {
            TCITEMA item;
            ZeroMemory(&item, sizeof item);
            item.mask = TCIF_TEXT;
            item.pszText = const_cast<char*>(days.label[i]);
            SendMessageA(tabs, TCM_INSERTITEMA, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&item));
        }
        guideTabs_ = days.count;
        guideFirstDay_ = first;
    }
    if (tabs != nullptr) {
        int32_t shown = -1;
        for (int32_t i = 0; i < days.count && i < kGridMaxDays; ++i) {
            if (days.start[i] == guideView_.viewport.dayStart) shown = i;
        }
        SendMessageA(tabs, TCM_SETCURSEL, static_cast<WPARAM>(shown), 0);
    }
    HWND grid = GetDlgItem(guide_, IDC_GUIDE_GRID);
    if (grid != nullptr) InvalidateRect(grid, nullptr, FALSE);
}

void Win32Platform::SetGuideControlText(int32_t controlId, const char* text) {
    if (guide_ != nullptr) SetDlgItemTextA(guide_, controlId, text);
}

void Win32Platform::EnableGuideControl(int32_t controlId, bool enabled) {
    if (guide_ == nullptr) return;
    HWND control = GetDlgItem(guide_, controlId);
    if (control != nullptr) EnableWindow(control, enabled ? TRUE : FALSE);
}
