// The viewer dialog's window procedure: turns window messages into the
// portable viewer operations (ui/viewer.h).
#ifndef KESTRIN_WIN32_DIALOG_PROC_H
#define KESTRIN_WIN32_DIALOG_PROC_H

#include <windows.h>

#include "win32/viewer_binding.h"

// Dialog procedure for CreateDialogParamA; the creation parameter is the
// ViewerBinding of the plug-in object that owns the window. The window keeps
// that pointer itself (DWLP_USER) from WM_INITDIALOG on.
INT_PTR CALLBACK ViewerDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Called when the plug-in object is destroyed: its window, if it outlives
// the object, stops handling messages for it, and its programme text's menu
// and its caption window stop running this library's code
// (ReleaseViewerMenuAndCaptions).
void ForgetViewerBinding(HWND dialog, const ViewerBinding* binding);

#endif
