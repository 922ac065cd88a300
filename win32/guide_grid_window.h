// The guide's grid: a child window of a class of this library's own
// (IDC_GUIDE_GRID in IDD_GUIDE) that draws what ui/guide_view.h lays out
// and hands the user's clicks, keys and scrolling back to it. Its window
// text is the names of the columns shown, one a line ("\r\n" between).
#ifndef KESTRIN_WIN32_GUIDE_GRID_WINDOW_H
#define KESTRIN_WIN32_GUIDE_GRID_WINDOW_H

#include <windows.h>

// The window class name the dialog template names.
extern const char kGuideGridClass[];

// Registers the class for `instance` (this library) before the dialog is
// made; a class left registered by an earlier load of the library at the
// same address is replaced.
bool RegisterGuideGridClass(HINSTANCE instance);
// Unregisters it when no window of it is left (the call fails otherwise,
// harmlessly).
void UnregisterGuideGridClass(HINSTANCE instance);

// The grid's metrics follow its font and size (after the dialog laid out
// its controls).
void GuideGridMetricsChanged(HWND grid);

#endif
