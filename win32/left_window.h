// A guide or caption window left standing when its plug-in object went on
// another thread. The host destroys it only with its own window, perhaps
// long after it freed this library; until then the user must still be able
// to close it.
#ifndef KESTRIN_WIN32_LEFT_WINDOW_H
#define KESTRIN_WIN32_LEFT_WINDOW_H

#include <windows.h>

// This library's own code stays loaded for the rest of the process: a
// window or a handler that runs it may outlive the host's FreeLibrary.
void KeepThisLibraryLoaded();

// Gives `window` LeftWindowProc in place of its dialog procedure. From a
// thread other than the window's, this library then stays loaded for the
// rest of the process (see left_window.cpp); on the window's own thread the
// caller destroys the window before it returns.
void LeaveWindow(HWND window);

// Reaches no plug-in: IDCANCEL (the close box, through the dialog manager's
// WM_CLOSE, or Esc) destroys the window; everything else gets the dialog
// manager's defaults.
INT_PTR CALLBACK LeftWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

#endif
