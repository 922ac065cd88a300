// The guide's grid window: paints the layout of ui/guide_view.h into a
// memory bitmap (no flicker while the carousel fills it) and turns clicks,
// keys, wheel and scroll bars into the guide's operations. Every decision
// is the core's; this file only draws and forwards.
#include "win32/guide_grid_window.h"

#include "plugin/plugin_state.h"
#include "ui/guide_grid.h"
#include "ui/guide_view.h"
#include "win32/viewer_binding.h"

const char kGuideGridClass[] = "KestrinGuideGrid";

namespace {

// Redrawn now and then without a change of the guide: the clock line and
// the programme on air move with the broadcast clock.
const UINT_PTR kClockTimer = 1;
const UINT kClockTimerMilliseconds = 15000;
const int32_t kMinutesPerDay = 24 * 60;
const int32_t kLineMinutes = 30;     // a scroll bar's arrow

const COLORREF kHeaderFill = RGB(236, 236, 236);
const COLORREF kAxisFill[2] = {RGB(244, 244, 250), RGB(232, 232, 242)};
const COLORREF kGridLine = RGB(160, 160, 160);
const COLORREF kOnAirMark = RGB(255, 128, 0);
const COLORREF kSelection = RGB(0, 80, 200);
const COLORREF kClockLine = RGB(230, 0, 0);
const COLORREF kUntunableText = RGB(128, 128, 128);

// The plug-in of the grid: its dialog's owner, the viewer.
HWND ViewerOf(HWND grid) {
    HWND dialog = GetParent(grid);
    return dialog != nullptr ? GetWindow(dialog, GW_OWNER) : nullptr;
}

HFONT FontOf(HWND grid) {
    HWND dialog = GetParent(grid);
    return dialog != nullptr ? reinterpret_cast<HFONT>(SendMessageA(dialog, WM_GETFONT, 0, 0)) : nullptr;
}

RECT RectOf(const GridRect& r) {
    RECT out = {r.left, r.top, r.right, r.bottom};
    return out;
}

void Fill(HDC dc, const RECT& r, COLORREF colour) {
    SetBkColor(dc, colour);
    ExtTextOutA(dc, 0, 0, ETO_OPAQUE, &r, nullptr, 0, nullptr);
}

void Frame(HDC dc, const RECT& r, COLORREF colour, int width) {
    for (int i = 0; i < width; ++i) {
        const RECT top = {r.left + i, r.top + i, r.right - i, r.top + i + 1};
        const RECT bottom = {r.left + i, r.bottom - i - 1, r.right - i, r.bottom - i};
        const RECT left = {r.left + i, r.top + i, r.left + i + 1, r.bottom - i};
        const RECT right = {r.right - i - 1, r.top + i, r.right - i, r.bottom - i};
        Fill(dc, top, colour);
        Fill(dc, bottom, colour);
        Fill(dc, left, colour);
        Fill(dc, right, colour);
    }
}

// The cut text's lines ('\n' between them), each clipped to `r`.
void DrawLines(HDC dc, const RECT& r, const char* text, int lineHeight) {
    int y = r.top + 1;
    const char* line = text;
    while (*line != '\0' && y < r.bottom) {
        const char* end = line;
        while (*end != '\0' && *end != '\n') ++end;
        ExtTextOutA(dc, r.left + 2, y, ETO_CLIPPED, &r, line, static_cast<UINT>(end - line), nullptr);
        y += lineHeight;
        line = *end == '\n' ? end + 1 : end;
    }
}

// The programmes of the layout's current pass of cells: genre fill,
// border, text, on-air mark, selection.
void DrawCells(HDC dc, const GridLayout& layout, bool focused) {
    const GridViewport& v = layout.view;
    for (int32_t i = 0; i < layout.cellCount; ++i) {
        const GridCell& cell = layout.cells[i];
        const RECT r = RectOf(cell.rect);
        Fill(dc, r, cell.fill);
        Frame(dc, r, kGridLine, 1);
        if (cell.onAir) {
            const RECT mark = {r.left + 1, r.top + 1, r.left + 4, r.bottom - 1};
            Fill(dc, mark, kOnAirMark);
        }
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, RGB(0, 0, 0));
        RECT text = r;
        text.left += cell.onAir ? 4 : 1;
        DrawLines(dc, text, cell.text, v.lineHeight);
        if (cell.selected) Frame(dc, r, focused ? kSelection : kGridLine, 2);
    }
}

// The headers and hours, then every pass of cells, then the clock line.
void DrawLayout(HDC dc, const RECT& client, PluginState& state, const GridLayout& layout, bool focused) {
    const GridViewport& v = layout.view;
    Fill(dc, client, RGB(255, 255, 255));
    SetBkMode(dc, TRANSPARENT);
    // The header row and the corner above the hours.
    const RECT header = {0, 0, client.right, v.headerHeight};
    Fill(dc, header, kHeaderFill);
    SetBkMode(dc, TRANSPARENT);
    for (int32_t i = 0; i < layout.headerCount; ++i) {
        const GridHeader& h = layout.headers[i];
        RECT r = RectOf(h.rect);
        SetTextColor(dc, h.tunable ? GetSysColor(COLOR_WINDOWTEXT) : kUntunableText);
        DrawLines(dc, r, h.name, v.lineHeight);
        const RECT edge = {r.right - 1, r.top, r.right, client.bottom};
        Fill(dc, edge, kGridLine);
        SetBkMode(dc, TRANSPARENT);
    }
    // The hours, in alternating bands.
    SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
    for (int32_t i = 0; i < layout.hourCount; ++i) {
        const GridHourBand& band = layout.hours[i];
        const RECT r = {0, band.top, v.axisWidth, band.bottom};
        Fill(dc, r, kAxisFill[band.hour % 2]);
        const RECT rule = {v.axisWidth, band.top, client.right, band.top + 1};
        Fill(dc, rule, RGB(224, 224, 224));
        SetBkMode(dc, TRANSPARENT);
        if (band.bottom - band.top >= v.lineHeight) DrawLines(dc, r, band.label, v.lineHeight);
    }
    // More programmes than one pass holds come in further passes of the
    // same layout.
    DrawCells(dc, layout, focused);
    while (GuideLayoutNextCells(state) != nullptr) DrawCells(dc, layout, focused);
    if (layout.clockY >= 0) {
        const RECT line = {v.axisWidth, layout.clockY, client.right, layout.clockY + 2};
        Fill(dc, line, kClockLine);
    }
}

void Paint(HWND grid, PluginState* state) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(grid, &ps);
    if (dc == nullptr) return;
    RECT client;
    GetClientRect(grid, &client);
    const GridLayout* layout = state != nullptr ? GuideLayout(*state) : nullptr;
    if (layout == nullptr || client.right <= 0 || client.bottom <= 0) {
        FillRect(dc, &client, GetSysColorBrush(COLOR_WINDOW));
        EndPaint(grid, &ps);
        return;
    }
    // Drawn whole off screen, then copied: no flicker.
    HDC memory = CreateCompatibleDC(dc);
    HBITMAP bitmap = CreateCompatibleBitmap(dc, client.right, client.bottom);
    if (memory != nullptr && bitmap != nullptr) {
        HGDIOBJ oldBitmap = SelectObject(memory, bitmap);
        HGDIOBJ oldFont = SelectObject(memory, FontOf(grid));
        DrawLayout(memory, client, *state, *layout, GetFocus() == grid);
        BitBlt(dc, 0, 0, client.right, client.bottom, memory, 0, 0, SRCCOPY);
        SelectObject(memory, oldFont);
        SelectObject(memory, oldBitmap);
    }
    if (bitmap != nullptr) DeleteObject(bitmap);
    if (memory != nullptr) DeleteDC(memory);
    EndPaint(grid, &ps);

    // The scroll bars: minutes of the day, and columns.
    const GridViewport& v = layout->view;
    const int32_t visibleMinutes = v.height > v.headerHeight ? (v.height - v.headerHeight) * 60 / v.pixelsPerHour : 0;
    SCROLLINFO info;
    info.cbSize = sizeof info;
    info.fMask = SIF_ALL | SIF_DISABLENOSCROLL;
    info.nMin = 0;
    info.nMax = kMinutesPerDay - 1;
    info.nPage = static_cast<UINT>(visibleMinutes > kMinutesPerDay ? kMinutesPerDay : visibleMinutes);
    info.nPos = v.firstMinute;
    info.nTrackPos = 0;
    SetScrollInfo(grid, SB_VERT, &info, TRUE);
    const int32_t whole = v.columnWidth > 0 ? (v.width - v.axisWidth) / v.columnWidth : 1;
    info.nMax = layout->columns > 0 ? layout->columns - 1 : 0;
    info.nPage = static_cast<UINT>(whole < 1 ? 1 : whole);
    info.nPos = v.firstColumn;
    SetScrollInfo(grid, SB_HORZ, &info, TRUE);
}

// A scroll bar's new position for its request.
int ScrollTo(HWND grid, int bar, WPARAM request, int line) {
    SCROLLINFO info;
    info.cbSize = sizeof info;
    info.fMask = SIF_ALL;
    if (!GetScrollInfo(grid, bar, &info)) return 0;
    int pos = info.nPos;
    const int page = static_cast<int>(info.nPage);
    switch (LOWORD(request)) {
        case SB_LINEUP: pos -= line; break;
        case SB_LINEDOWN: pos += line; break;
        case SB_PAGEUP: pos -= page; break;
        case SB_PAGEDOWN: pos += page; break;
        case SB_THUMBTRACK:
        case SB_THUMBPOSITION: pos = info.nTrackPos; break;
        case SB_TOP: pos = info.nMin; break;
        case SB_BOTTOM: pos = info.nMax; break;
        default: break;
    }
    return pos;
}

int FirstMinute(HWND grid) { return GetScrollPos(grid, SB_VERT); }
int FirstColumn(HWND grid) { return GetScrollPos(grid, SB_HORZ); }

bool KeyOf(WPARAM key, GridKey& out) {
    switch (key) {
        case VK_LEFT: out = GridKey::kLeft; return true;
        case VK_RIGHT: out = GridKey::kRight; return true;
        case VK_UP: out = GridKey::kUp; return true;
        case VK_DOWN: out = GridKey::kDown; return true;
        case VK_PRIOR: out = GridKey::kPageUp; return true;
        case VK_NEXT: out = GridKey::kPageDown; return true;
        case VK_HOME: out = GridKey::kHome; return true;
        default: return false;
    }
}

// The grid's text, for screen readers and other programs reading windows:
// the names of the columns shown, left to right, one a line ("\r\n"
// between them), each as cut to its header. Returns the length written
// (without the NUL), or the length wanted when `out` is NULL.
LRESULT ColumnNamesText(PluginState* state, char* out, size_t capacity) {
    const GridLayout* layout = state != nullptr ? GuideLayout(*state) : nullptr;
    size_t length = 0;
    const auto put = [&](char c) {
        if (out != nullptr && length + 1 < capacity) out[length] = c;
        if (out == nullptr || length + 1 < capacity) ++length;
    };
    for (int32_t i = 0; layout != nullptr && i < layout->headerCount; ++i) {
        if (i > 0) {
            put('\r');
            put('\n');
        }
        for (const char* c = layout->headers[i].name; *c != '\0'; ++c) {
            if (*c != '\n') put(*c);
        }
    }
    if (out != nullptr && capacity > 0) out[length] = '\0';
    return static_cast<LRESULT>(length);
}

LRESULT CALLBACK GuideGridProc(HWND grid, UINT message, WPARAM wParam, LPARAM lParam) {
    const ViewerHold hold(ViewerOf(grid));
    PluginState* state = hold.State();
    // A grid whose plug-in went (a left guide window) only paints itself
    // empty and lets the dialog manager have every key.
    if (state == nullptr && message != WM_PAINT) return DefWindowProcA(grid, message, wParam, lParam);
    switch (message) {
        case WM_CREATE:
            SetTimer(grid, kClockTimer, kClockTimerMilliseconds, nullptr);
            return 0;
        case WM_DESTROY:
            KillTimer(grid, kClockTimer);
            return 0;
        case WM_TIMER:
            if (wParam == kClockTimer) InvalidateRect(grid, nullptr, FALSE);
            return 0;
        case WM_ERASEBKGND:
            return 1;
        case WM_GETTEXTLENGTH:
            return ColumnNamesText(state, nullptr, 0);
        case WM_GETTEXT:
            return ColumnNamesText(state, reinterpret_cast<char*>(lParam), static_cast<size_t>(wParam));
        case WM_PAINT:
            Paint(grid, state);
            return 0;
        case WM_SIZE:
            GuideGridMetricsChanged(grid);
            return 0;
        case WM_SETFOCUS:
        case WM_KILLFOCUS:
            InvalidateRect(grid, nullptr, FALSE);
            return 0;
        case WM_GETDLGCODE: {
            // The arrows, and Enter for a request; Esc and Tab stay the
            // dialog's.
            const MSG* m = reinterpret_cast<const MSG*>(lParam);
            if (m != nullptr && m->message == WM_KEYDOWN && m->wParam == VK_RETURN) return DLGC_WANTMESSAGE;
            return DLGC_WANTARROWS;
        }
        case WM_KEYDOWN: {
            GridKey key;
            if (wParam == VK_RETURN) {
                GuideRequestPressed(*state);
            } else if (KeyOf(wParam, key)) {
                GuideKeyPressed(*state, key);
            }
            return 0;
        }
        case WM_LBUTTONDOWN:
            SetFocus(grid);
            GuideClicked(*state, static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam)));
            return 0;
        case WM_LBUTTONDBLCLK:
            GuideDoubleClicked(*state, static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam)));
            return 0;
        case WM_VSCROLL:
            GuideScrolled(*state, ScrollTo(grid, SB_VERT, wParam, kLineMinutes), FirstColumn(grid));
            return 0;
        case WM_HSCROLL:
            GuideScrolled(*state, FirstMinute(grid), ScrollTo(grid, SB_HORZ, wParam, 1));
            return 0;
        case WM_MOUSEWHEEL:
            // Fine wheels and touchpads send less than a notch at a time:
            // the guide adds them up.
            GuideWheel(*state, static_cast<short>(HIWORD(wParam)));
            return 0;
        default:
            break;
    }
    return DefWindowProcA(grid, message, wParam, lParam);
}

}  // namespace

bool RegisterGuideGridClass(HINSTANCE instance) {
    WNDCLASSEXA existing;
    existing.cbSize = sizeof existing;
    if (GetClassInfoExA(instance, kGuideGridClass, &existing)) {
        if (existing.lpfnWndProc == GuideGridProc) return true;
        // Left by an earlier load of the library at this address.
        UnregisterClassA(kGuideGridClass, instance);
    }
    WNDCLASSEXA c;
    ZeroMemory(&c, sizeof c);
    c.cbSize = sizeof c;
    c.style = CS_DBLCLKS;
    c.lpfnWndProc = GuideGridProc;
    c.hInstance = instance;
    c.hCursor = LoadCursor(nullptr, IDC_ARROW);
    c.lpszClassName = kGuideGridClass;
    return RegisterClassExA(&c) != 0;
}

void UnregisterGuideGridClass(HINSTANCE instance) { UnregisterClassA(kGuideGridClass, instance); }

void GuideGridMetricsChanged(HWND grid) {
    const ViewerHold hold(ViewerOf(grid));
    if (hold.State() == nullptr) return;
    RECT client;
    GetClientRect(grid, &client);
    int charWidth = 0;
    int lineHeight = 0;
    HDC dc = GetDC(grid);
    if (dc != nullptr) {
        HGDIOBJ old = SelectObject(dc, FontOf(grid));
        TEXTMETRICA metrics;
        if (GetTextMetricsA(dc, &metrics)) {
            charWidth = metrics.tmAveCharWidth;
            lineHeight = metrics.tmHeight;
        }
        SelectObject(dc, old);
        ReleaseDC(grid, dc);
    }
    GuideGridResized(*hold.State(), client.right, client.bottom, charWidth, lineHeight);
    InvalidateRect(grid, nullptr, FALSE);
}
