// The programme guide window's Win32 side (see guide_window.cpp).
#ifndef KESTRIN_WIN32_GUIDE_WINDOW_H
#define KESTRIN_WIN32_GUIDE_WINDOW_H

#include <windows.h>

// The viewer's plug-in object goes, on any thread, and the viewer may stay
// until the host destroys it, perhaps after freeing this library: an open
// guide window loses its dialog procedure.
void ReleaseGuideWindows(HWND viewer);

// Dialog procedure of IDD_GUIDE; it works on the plug-in of its owner, the
// viewer.
INT_PTR CALLBACK GuideDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

#endif
