// The programme guide window: a modeless dialog (IDD_GUIDE) owned by the
// viewer, on the viewer's thread. A list view in owner-data mode asks for
// each visible cell (ui/guide_view.h decides the texts); the details and the
// request button are set through the platform. The viewer's menu on the
// programme text opens it (ui/viewer_menu.h).
#include "win32/guide_window.h"

#include <commctrl.h>

#include "plugin/messages.h"
#include "plugin/plugin_state.h"
#include "ui/guide_view.h"
#include "ui/resource.h"
#include "ui/viewer.h"
#include "win32/left_window.h"
#include "win32/viewer_binding.h"
#include "win32/win32_platform.h"

namespace {

// Column headings and widths (pixels): 日付, 時間, 番組名, ジャンル. The
// genre takes what the list leaves, so that no column runs past its edge.
const char* const kColumnTitles[kGuideColumns] = {"\x93\xFA\x95\x74", "\x8E\x9E\x8A\xD4", "\x94\xD4\x91\x67\x96\xBC",
                                                  "\x83\x57\x83\x83\x83\x93\x83\x8B"};
const int kColumnWidths[kGuideColumns] = {72, 84, 250, 0};
const int kLeastGenreWidth = 120;

void AddColumns(HWND list) {
    SendMessageA(list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
    // The rest of the list's width, a vertical scroll bar kept free (a week
    // of programmes never fits the list's height).
    RECT client;
    if (!GetClientRect(list, &client)) SetRectEmpty(&client);
    int rest = client.right - client.left - GetSystemMetrics(SM_CXVSCROLL);
    for (int i = 0; i + 1 < kGuideColumns; ++i) rest -= kColumnWidths[i];
    for (int i = 0; i < kGuideColumns; ++i) {
        LVCOLUMNA column;
        ZeroMemory(&column, sizeof column);
        column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
        column.pszText = const_cast<char*>(kColumnTitles[i]);
        column.cx = i + 1 < kGuideColumns ? kColumnWidths[i] : (rest > kLeastGenreWidth ? rest : kLeastGenreWidth);
        column.iSubItem = i;
        SendMessageA(list, LVM_INSERTCOLUMNA, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&column));
    }
}

// A cell asked for by the list view, in the character width it asked in.
void FillCell(PluginState& state, LVITEMA& item) {
    if ((item.mask & LVIF_TEXT) == 0 || item.pszText == nullptr || item.cchTextMax <= 0) return;
    GuideRowText(state, item.iItem, item.iSubItem, item.pszText, item.cchTextMax);
}

void FillCellWide(PluginState& state, LVITEMW& item) {
    if ((item.mask & LVIF_TEXT) == 0 || item.pszText == nullptr || item.cchTextMax <= 0) return;
    // No more bytes than the list's buffer holds characters: the text, cut
    // at a whole character, always fits once widened.
    char text[512];
    const int capacity = item.cchTextMax < static_cast<int>(sizeof text) ? item.cchTextMax : static_cast<int>(sizeof text);
    GuideRowText(state, item.iItem, item.iSubItem, text, capacity);
    if (MultiByteToWideChar(932, 0, text, -1, item.pszText, item.cchTextMax) == 0) item.pszText[0] = L'\0';
}

BOOL CALLBACK UnbindGuide(HWND window, LPARAM viewer) {
    if (GetWindow(window, GW_OWNER) == reinterpret_cast<HWND>(viewer) && GetDlgItem(window, IDC_GUIDE_LIST) != nullptr) {
        LeaveWindow(window);
    }
    return TRUE;
}

}  // namespace

void ReleaseGuideWindows(HWND viewer) {
    if (viewer == nullptr) return;
    // The guide, an owned pop-up, keeps the dialog manager's defaults, its
    // list view (common controls' code, kept loaded with the tooltip's) and
    // a procedure that closes it.
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
            GuidePosition(state, left, top);
            Win32Platform::PlaceOnMonitors(dialog, left, top);
            AddColumns(GetDlgItem(dialog, IDC_GUIDE_LIST));
            GuideInitialised(state);
            return TRUE;
        }
        case WM_MOVE: {
            WindowPlacement placement;
            if (Win32Platform::PlacementOf(dialog, &placement)) GuideMoved(state, placement);
            break;
        }
        case WM_COMMAND:
            if (LOWORD(wParam) == IDC_GUIDE_REQUEST) GuideRequestPressed(state);
            if (LOWORD(wParam) == IDCANCEL) DestroyWindow(dialog);
            break;
        case WM_NOTIFY: {
            const NMHDR* header = reinterpret_cast<const NMHDR*>(lParam);
            if (header == nullptr || header->idFrom != IDC_GUIDE_LIST) break;
            if (header->code == LVN_GETDISPINFOA) {
                FillCell(state, reinterpret_cast<NMLVDISPINFOA*>(lParam)->item);
            } else if (header->code == LVN_GETDISPINFOW) {
                FillCellWide(state, reinterpret_cast<NMLVDISPINFOW*>(lParam)->item);
            } else if (header->code == LVN_ITEMCHANGED && !platform.GuideRowsUpdating()) {
                const int row = static_cast<int>(
                    SendMessageA(header->hwndFrom, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
                if (row != state.guide.selectedRow) GuideRowSelected(state, row);
            }
            break;
        }
        case WM_NCDESTROY:
            GuideClosed(state);
            platform.SetGuideDialog(nullptr);
            break;
        default:
            break;
    }
    return FALSE;
}

void Win32Platform::SetGuideDialog(HWND guide) { guide_ = guide; }

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
    classes.dwICC = ICC_LISTVIEW_CLASSES;
    InitCommonControlsEx(&classes);
    CreateDialogParamA(reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(viewer, GWLP_HINSTANCE)),
                       MAKEINTRESOURCEA(IDD_GUIDE), viewer, GuideDialogProc, 0);
}

void Win32Platform::SetGuideRows(int32_t count, int32_t selected) {
    if (guide_ == nullptr) return;
    HWND list = GetDlgItem(guide_, IDC_GUIDE_LIST);
    if (list == nullptr) return;
    // The window's own notifications of this change are not the user's.
    guideRowsUpdating_ = true;
    SendMessageA(list, LVM_SETITEMCOUNT, static_cast<WPARAM>(count), LVSICF_NOSCROLL);
    LVITEMA item;
    ZeroMemory(&item, sizeof item);
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageA(list, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&item));
    if (selected >= 0) {
        item.state = LVIS_SELECTED | LVIS_FOCUSED;
        SendMessageA(list, LVM_SETITEMSTATE, static_cast<WPARAM>(selected), reinterpret_cast<LPARAM>(&item));
    }
    InvalidateRect(list, nullptr, FALSE);
    guideRowsUpdating_ = false;
}

void Win32Platform::SetGuideControlText(int32_t controlId, const char* text) {
    if (guide_ != nullptr) SetDlgItemTextA(guide_, controlId, text);
}

void Win32Platform::EnableGuideControl(int32_t controlId, bool enabled) {
    if (guide_ == nullptr) return;
    HWND control = GetDlgItem(guide_, controlId);
    if (control != nullptr) EnableWindow(control, enabled ? TRUE : FALSE);
}
