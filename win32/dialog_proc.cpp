#include "win32/dialog_proc.h"

#include "plugin/messages.h"
#include "plugin/plugin_state.h"
#include "plugin/window_position.h"
#include "ui/viewer.h"
#include "win32/caption_window.h"
#include "win32/guide_window.h"
#include "win32/win32_platform.h"

namespace {

// The plug-in a dialog belongs to, kept in the window itself, so that a
// window that outlives its object can never reach another one.
ViewerBinding* BindingOf(HWND dialog) {
    return reinterpret_cast<ViewerBinding*>(GetWindowLongPtrA(dialog, DWLP_USER));
}

}  // namespace

void ReleaseViewer(HWND dialog, const ViewerBinding* binding) {
    if (dialog == nullptr || BindingOf(dialog) != binding) return;
    ReleaseViewerMenuAndCaptions(dialog);
    ReleaseGuideWindows(dialog);
    // Messages already posted, and the user's clicks on a window left
    // standing, get the dialog manager's defaults only.
    SetWindowLongPtrA(dialog, DWLP_USER, 0);
    SetWindowLongPtrA(dialog, DWLP_DLGPROC, 0);
    if (GetWindowThreadProcessId(dialog, nullptr) == GetCurrentThreadId()) {
        // The tooltip, an owned window, goes with it (and so do the caption
        // and guide windows).
        DestroyWindow(dialog);
        return;
    }
    Win32Platform::KeepToolTipCode();
}

// Returns TRUE only for WM_INITDIALOG (focus left to the dialog manager);
// everything else returns FALSE so that default dialog processing follows,
// which also keeps the close box and Esc working as IDCANCEL.
INT_PTR CALLBACK ViewerDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        ViewerBinding* binding = reinterpret_cast<ViewerBinding*>(lParam);
        if (binding == nullptr) return FALSE;
        SetWindowLongPtrA(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(binding));
        PluginState& state = *binding->state;
        // CreateDialogParamA has not returned the handle yet; the platform
        // needs it already for anything the initialisation triggers.
        binding->platform->SetDialog(dialog);
        // The saved position, unless it lies on no monitor any more (a
        // monitor unplugged, the resolution lowered): then the nearest
        // monitor's work area.
        RECT r;
        if (!GetWindowRect(dialog, &r)) SetRectEmpty(&r);
        const ScreenRect saved = {state.windowLeft, state.windowTop,
                                  state.windowLeft + (r.right - r.left),
                                  state.windowTop + (r.bottom - r.top)};
        ScreenRect workAreas[kMaxMonitors];
        const int32_t monitors = binding->platform->MonitorWorkAreas(workAreas, kMaxMonitors);
        const ScreenRect placed = PlaceOnScreen(saved, workAreas, monitors);
        SetWindowPos(dialog, HWND_TOP, placed.left, placed.top, 0, 0, SWP_NOSIZE);
        InstallViewerMenu(dialog);
        ViewerInitialised(state);
        return TRUE;
    }
    ViewerBinding* binding = BindingOf(dialog);
    if (binding == nullptr) return FALSE;
    PluginState& state = *binding->state;
    switch (message) {
        case WM_MOVE:
            ViewerMoved(state);
            break;
        case WM_COMMAND:
            ViewerCommand(state, LOWORD(wParam));
            break;
        case WM_EIT_PRESENT_READY:
        case WM_SDT_READY:
        case WM_EIT_FOLLOWING_READY:
        case WM_RECORD_LABEL:
        case WM_CHANNEL_LABELS:
        case WM_SERVICE_VIEW:
        case WM_CAPTION_READY:
        case WM_GUIDE_READY:
            ViewerPrivateMessage(state, message);
            break;
        case WM_NCDESTROY:
            // The window is gone: nothing may post to or read from it again.
            SetWindowLongPtrA(dialog, DWLP_USER, 0);
            binding->platform->SetDialog(nullptr);
            state.hasWindow = false;
            break;
        default:
            break;
    }
    return FALSE;
}
