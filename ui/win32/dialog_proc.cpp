#include "ui/win32/dialog_proc.h"

#include "plugin/win32/sample_plugin.h"
#include "ui/messages.h"
#include "ui/viewer.h"

// The plug-in whose dialog this is; none until WM_INITDIALOG. One object per
// loaded library, so one module-level pointer.
static CSamplePlugin* g_plugin = nullptr;

void ForgetViewerPlugin(CSamplePlugin* plugin) {
    if (g_plugin == plugin) g_plugin = nullptr;
}

// Returns TRUE only for WM_INITDIALOG (focus left to the dialog manager);
// everything else returns FALSE so that default dialog processing follows,
// which also keeps the close box and Esc working as IDCANCEL.
INT_PTR CALLBACK ViewerDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        CSamplePlugin* plugin = reinterpret_cast<CSamplePlugin*>(lParam);
        if (plugin == nullptr) return FALSE;
        g_plugin = plugin;
        PluginState& state = plugin->State();
        // CreateDialogParamA has not returned the handle yet; the platform
        // needs it already for anything the initialisation triggers.
        plugin->Win32().SetDialog(dialog);
        SetWindowPos(dialog, HWND_TOP, state.windowLeft, state.windowTop, 0, 0, SWP_NOSIZE);
        ViewerInitialised(state);
        return TRUE;
    }
    if (g_plugin == nullptr) return FALSE;
    PluginState& state = g_plugin->State();
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
            ViewerPrivateMessage(state, message);
            break;
        default:
            break;
    }
    return FALSE;
}
