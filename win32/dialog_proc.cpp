#include "win32/dialog_proc.h"

#include "plugin/messages.h"
#include "ui/viewer.h"
#include "win32/sample_plugin.h"

namespace {

// The plug-in a dialog belongs to, kept in the window itself, so that a
// window that outlives its object can never reach another one.
CSamplePlugin* PluginOf(HWND dialog) {
    return reinterpret_cast<CSamplePlugin*>(GetWindowLongPtrA(dialog, DWLP_USER));
}

}  // namespace

void ForgetViewerPlugin(HWND dialog, CSamplePlugin* plugin) {
    if (dialog != nullptr && PluginOf(dialog) == plugin) SetWindowLongPtrA(dialog, DWLP_USER, 0);
}

// Returns TRUE only for WM_INITDIALOG (focus left to the dialog manager);
// everything else returns FALSE so that default dialog processing follows,
// which also keeps the close box and Esc working as IDCANCEL.
INT_PTR CALLBACK ViewerDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        CSamplePlugin* plugin = reinterpret_cast<CSamplePlugin*>(lParam);
        if (plugin == nullptr) return FALSE;
        SetWindowLongPtrA(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(plugin));
        PluginState& state = plugin->State();
        // CreateDialogParamA has not returned the handle yet; the platform
        // needs it already for anything the initialisation triggers.
        plugin->Win32().SetDialog(dialog);
        SetWindowPos(dialog, HWND_TOP, state.windowLeft, state.windowTop, 0, 0, SWP_NOSIZE);
        ViewerInitialised(state);
        return TRUE;
    }
    CSamplePlugin* plugin = PluginOf(dialog);
    if (plugin == nullptr) return FALSE;
    PluginState& state = plugin->State();
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
            ViewerPrivateMessage(state, message);
            break;
        case WM_NCDESTROY:
            // The window is gone: nothing may post to or read from it again.
            SetWindowLongPtrA(dialog, DWLP_USER, 0);
            plugin->Win32().SetDialog(nullptr);
            state.hasWindow = false;
            break;
        default:
            break;
    }
    return FALSE;
}
