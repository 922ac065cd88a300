// The viewer dialog's window procedure: turns window messages into the
// portable viewer operations (ui/viewer.h).
#ifndef KESTRIN_UI_WIN32_DIALOG_PROC_H
#define KESTRIN_UI_WIN32_DIALOG_PROC_H

#include <windows.h>

class CSamplePlugin;

// Dialog procedure for CreateDialogParamA; the creation parameter is the
// CSamplePlugin that owns the window.
INT_PTR CALLBACK ViewerDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Called when the plug-in object is destroyed: the dialog procedure stops
// handling messages for it.
void ForgetViewerPlugin(CSamplePlugin* plugin);

#endif
