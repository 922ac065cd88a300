#include "win32/caption_window.h"

#include <commctrl.h>

#include "plugin/plugin_state.h"
#include "ui/caption_view.h"
#include "ui/resource.h"
#include "ui/viewer_menu.h"
#include "win32/viewer_binding.h"

namespace {

const UINT_PTR kMenuSubclassId = 1;
// The viewer's property that names its caption window.
const char kCaptionWindowProperty[] = "KestrinCaptionWindow";

ViewerBinding* BindingOf(HWND dialog) {
    return reinterpret_cast<ViewerBinding*>(GetWindowLongPtrA(dialog, DWLP_USER));
}

// The caption window reaches the plug-in through its owner, the viewer: a
// viewer that forgot its object (ForgetViewerBinding) leaves the caption
// window unhandled too.
INT_PTR CALLBACK CaptionDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM /*lParam*/) {
    if (message == WM_INITDIALOG) return TRUE;
    ViewerBinding* binding = BindingOf(GetWindow(window, GW_OWNER));
    if (binding == nullptr) return FALSE;
    switch (message) {
        case WM_COMMAND:
            CaptionViewCommand(*binding->state, LOWORD(wParam));
            break;
        case WM_NCDESTROY:
            // Closed, or gone with its owner: nothing may reach it again.
            if (CaptionWindowOf(GetWindow(window, GW_OWNER)) == window) {
                RemovePropA(GetWindow(window, GW_OWNER), kCaptionWindowProperty);
            }
            CaptionViewDestroyed(*binding->state);
            break;
        default:
            break;
    }
    return FALSE;
}

// The programme text's own menu gives way to the viewer's.
LRESULT CALLBACK MenuSubclassProc(HWND control, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                  DWORD_PTR viewerData) {
    HWND viewer = reinterpret_cast<HWND>(viewerData);
    if (message == WM_NCDESTROY) {
        RemoveWindowSubclass(control, MenuSubclassProc, id);
    } else if (message == WM_CONTEXTMENU) {
        ViewerBinding* binding = BindingOf(viewer);
        if (binding == nullptr) return 0;
        ViewerMenuItem items[kViewerMenuCapacity];
        const int32_t count = ViewerMenuItems(*binding->state, items, kViewerMenuCapacity);
        HMENU menu = CreatePopupMenu();
        if (menu == nullptr) return 0;
        for (int32_t i = 0; i < count; ++i) {
            AppendMenuA(menu, MF_STRING | (items[i].checked ? MF_CHECKED : MF_UNCHECKED),
                        static_cast<UINT_PTR>(items[i].command), items[i].label);
        }
        POINT at = {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
        if (lParam == -1) {
            // The menu key: at the control's top-left corner.
            RECT r;
            GetWindowRect(control, &r);
            at.x = r.left;
            at.y = r.top;
        }
        // The chosen item arrives at the viewer as WM_COMMAND.
        TrackPopupMenu(menu, TPM_LEFTALIGN | TPM_TOPALIGN | TPM_RIGHTBUTTON, at.x, at.y, 0, viewer, nullptr);
        DestroyMenu(menu);
        return 0;
    }
    return DefSubclassProc(control, message, wParam, lParam);
}

}  // namespace

HWND CreateCaptionWindow(HWND viewer) {
    ViewerBinding* binding = BindingOf(viewer);
    if (binding == nullptr) return nullptr;
    HINSTANCE module = reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(viewer, GWLP_HINSTANCE));
    HWND window = CreateDialogParamA(module, MAKEINTRESOURCEA(IDD_CAPTIONS), viewer, CaptionDialogProc, 0);
    if (window == nullptr) return nullptr;
    SetPropA(viewer, kCaptionWindowProperty, window);
    // Below the viewer, its left edges aligned.
    RECT r;
    if (GetWindowRect(viewer, &r)) SetWindowPos(window, nullptr, r.left, r.bottom, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    return window;
}

HWND CaptionWindowOf(HWND viewer) {
    return viewer != nullptr ? static_cast<HWND>(GetPropA(viewer, kCaptionWindowProperty)) : nullptr;
}

void InstallViewerMenu(HWND viewer) {
    HWND text = GetDlgItem(viewer, IDC_INFO_TEXT);
    if (text != nullptr) {
        SetWindowSubclass(text, MenuSubclassProc, kMenuSubclassId, reinterpret_cast<DWORD_PTR>(viewer));
    }
}
