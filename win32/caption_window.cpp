#include "win32/caption_window.h"

#include <commctrl.h>

#include "plugin/plugin_state.h"
#include "ui/caption_view.h"
#include "ui/resource.h"
#include "ui/viewer_menu.h"
#include "win32/left_window.h"
#include "win32/viewer_binding.h"

namespace {

const UINT_PTR kMenuSubclassId = 1;
// The viewer's property that names its caption window.
const char kCaptionWindowProperty[] = "KestrinCaptionWindow";
// The programme text's property while it carries the menu's subclass.
const char kMenuProperty[] = "KestrinViewerMenu";

// The caption window reaches the plug-in through its owner, the viewer,
// holding it while a message is handled: a viewer that forgot its object
// (ReleaseViewer) leaves the caption window bound to nothing too.
INT_PTR CALLBACK CaptionDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) return TRUE;
    HWND viewer = GetWindow(window, GW_OWNER);
    // Closed, or gone with its owner: nothing may reach it again.
    if (message == WM_NCDESTROY && CaptionWindowOf(viewer) == window) RemovePropA(viewer, kCaptionWindowProperty);
    const ViewerHold hold(viewer);
    if (hold.State() == nullptr) return LeftWindowProc(window, message, wParam, lParam);
    switch (message) {
        case WM_COMMAND:
            CaptionViewCommand(*hold.State(), LOWORD(wParam));
            break;
        case WM_NCDESTROY:
            CaptionViewDestroyed(*hold.State());
            break;
        default:
            break;
    }
    return FALSE;
}

LRESULT CALLBACK MenuSubclassProc(HWND control, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                  DWORD_PTR viewerData);

// Takes the menu's subclass off the programme text. comctl32 changes a
// window's subclasses only on the window's own thread; where it refuses (a
// plug-in object deleted on another thread), the subclass procedure must
// stay callable, so this library stays loaded for the rest of the process.
void RemoveViewerMenu(HWND text) {
    if (text == nullptr || GetPropA(text, kMenuProperty) == nullptr) return;
    if (RemoveWindowSubclass(text, MenuSubclassProc, kMenuSubclassId)) {
        RemovePropA(text, kMenuProperty);
        return;
    }
    KeepThisLibraryLoaded();
}

// The programme text's own menu gives way to the viewer's.
LRESULT CALLBACK MenuSubclassProc(HWND control, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR /*id*/,
                                  DWORD_PTR viewerData) {
    HWND viewer = reinterpret_cast<HWND>(viewerData);
    if (message == WM_NCDESTROY) {
        RemoveViewerMenu(control);
    } else if (message == WM_CONTEXTMENU) {
        const ViewerHold hold(viewer);
        if (hold.State() == nullptr) return 0;
        ViewerMenuItem items[kViewerMenuCapacity];
        const int32_t count = ViewerMenuItems(*hold.State(), items, kViewerMenuCapacity);
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
    if (ViewerHandle(viewer) == 0) return nullptr;
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
    if (text != nullptr &&
        SetWindowSubclass(text, MenuSubclassProc, kMenuSubclassId, reinterpret_cast<DWORD_PTR>(viewer))) {
        SetPropA(text, kMenuProperty, text);
    }
}

void ReleaseViewerMenuAndCaptions(HWND viewer) {
    if (viewer == nullptr) return;
    RemoveViewerMenu(GetDlgItem(viewer, IDC_INFO_TEXT));
    HWND captions = CaptionWindowOf(viewer);
    if (captions == nullptr) return;
    RemovePropA(viewer, kCaptionWindowProperty);
    // Left with the dialog manager's defaults and a procedure that closes
    // it, until the user closes it or it goes with the viewer.
    LeaveWindow(captions);
}
