// The programme guide window's Win32 side (see guide_window.cpp).
#ifndef KESTRIN_WIN32_GUIDE_WINDOW_H
#define KESTRIN_WIN32_GUIDE_WINDOW_H

#include <windows.h>

// Gives the viewer's event text a context menu whose item opens the guide
// (WM_COMMAND IDC_GUIDE_OPEN to the viewer). Called at WM_INITDIALOG.
void AttachGuideMenu(HWND viewer);

// For a viewer released off its own thread and left standing for the host
// (whose library may be freed before the window goes): no procedure of this
// library stays on the viewer's event text or on an open guide window.
void ReleaseGuideWindows(HWND viewer);

// Dialog procedure of IDD_GUIDE; it works on the plug-in of its owner, the
// viewer.
INT_PTR CALLBACK GuideDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

#endif
