#include "win32/dialog_proc.h"

#include "plugin/guide_keeper.h"
#include "plugin/messages.h"
#include "plugin/plugin_state.h"
#include "ui/viewer.h"
#include "win32/caption_window.h"
#include "win32/guide_window.h"
#include "win32/win32_platform.h"

void ReleaseViewer(HWND dialog, PluginHandle handle) {
    if (dialog == nullptr || handle == 0 || ViewerHandle(dialog) != handle) return;
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
        const PluginHandle handle = static_cast<PluginHandle>(lParam);
        PluginHold hold(handle);
        if (hold.State() == nullptr) return FALSE;
        SetWindowLongPtrA(dialog, DWLP_USER, static_cast<LONG_PTR>(handle));
        PluginState& state = *hold.State();
        // CreateDialogParamA has not returned the handle yet; the platform
        // needs it already for anything the initialisation triggers.
        Win32Platform::Of(state).SetDialog(dialog);
        Win32Platform::PlaceOnMonitors(dialog, state.windowLeft, state.windowTop);
        InstallViewerMenu(dialog);
        ViewerInitialised(state);
        return TRUE;
    }
    const ViewerHold hold(dialog);
    if (hold.State() == nullptr) return FALSE;
    PluginState& state = *hold.State();
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
        case WM_GUIDE_CACHE:
            ViewerPrivateMessage(state, message);
            break;
        case WM_NCDESTROY:
            // The window is gone: nothing may post to or read from it again.
            SetWindowLongPtrA(dialog, DWLP_USER, 0);
            Win32Platform::Of(state).SetDialog(nullptr);
            state.hasWindow = false;
            // No message will carry a cache load on: its file is closed.
            StopGuideTableLoad(state);
            break;
        default:
            break;
    }
    return FALSE;
}
