// The caption view's window (template IDD_CAPTIONS) and the viewer's menu
// on the programme text: the Win32 side of ui/caption_view.h and
// ui/viewer_menu.h. Window's thread only.
#ifndef KESTRIN_WIN32_CAPTION_WINDOW_H
#define KESTRIN_WIN32_CAPTION_WINDOW_H

#include <windows.h>

// Creates the caption window owned by the viewer dialog, below it, bound to
// the viewer's plug-in object; NULL when it cannot be created.
HWND CreateCaptionWindow(HWND viewer);

// The viewer's caption window, or NULL while it has none. The viewer keeps
// it as a window property from creation until its WM_NCDESTROY.
HWND CaptionWindowOf(HWND viewer);

// Gives the viewer's programme text (IDC_INFO_TEXT) the viewer's menu: the
// right mouse button or the menu key opens it, with one item per window the
// viewer opens; an item sends its WM_COMMAND to the viewer.
void InstallViewerMenu(HWND viewer);

// The viewer's plug-in object goes, on any thread, and the viewer may stay
// until the host destroys it, perhaps after freeing this library: the
// programme text loses the menu's subclass and the caption window its
// dialog procedure, so that none of their messages runs this library's
// code. Where comctl32 will not remove the subclass from this thread, the
// library stays loaded instead.
void ReleaseViewerMenuAndCaptions(HWND viewer);

#endif
