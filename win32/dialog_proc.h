// The viewer dialog's window procedure: turns window messages into the
// portable viewer operations (ui/viewer.h).
#ifndef KESTRIN_WIN32_DIALOG_PROC_H
#define KESTRIN_WIN32_DIALOG_PROC_H

#include <windows.h>

#include "win32/viewer_binding.h"

// Dialog procedure for CreateDialogParamA; the creation parameter is the
// PluginHandle of the plug-in object that owns the window. The window keeps
// that handle itself (DWLP_USER) from WM_INITDIALOG on, and each message
// holds the state it names while it is handled.
INT_PTR CALLBACK ViewerDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Called when the plug-in object is destroyed. The host may free the
// library before it destroys its own window and with it the viewer, so the
// viewer keeps nothing of the library: it stops handling messages for the
// object and loses this procedure, its programme text the menu's subclass
// (ReleaseViewerMenuAndCaptions); its caption and guide windows keep only a
// procedure that closes them (win32/left_window.h). On the window's own
// thread it is then destroyed; from another thread (where DestroyWindow
// fails, and waiting for the window's thread could deadlock a host that
// waits for this one) it is left to the host. A handler running meanwhile
// keeps the state until it ends (plugin/plugin_lifetime.h).
void ReleaseViewer(HWND dialog, PluginHandle handle);

#endif
