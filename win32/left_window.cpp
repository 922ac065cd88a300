#include "win32/left_window.h"

// A left window runs its procedure for as long as it exists, and the host
// may free the library before that: its code must stay loaded. Two ways
// were weighed. An extra reference (LoadLibrary) dropped when the last left
// window is destroyed would have to be dropped from this library's own
// code, on the window's thread: if it is the last reference, FreeLibrary
// unmaps the code it returns into (FreeLibraryAndExitThread, which avoids
// that, ends the thread, and this thread is the host's window thread); a
// pool or thread of its own dropping it instead races with the procedure's
// return. So the library is pinned: it stays mapped until the process ends,
// the cost of one module. comctl32 already forces the same for the viewer's
// menu wherever it keeps a subclass that another thread cannot remove.
void KeepThisLibraryLoaded() {
    HMODULE module = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCSTR>(&KeepThisLibraryLoaded), &module);
}

void LeaveWindow(HWND window) {
    if (window == nullptr) return;
    if (GetWindowThreadProcessId(window, nullptr) != GetCurrentThreadId()) KeepThisLibraryLoaded();
    SetWindowLongPtrA(window, DWLP_DLGPROC, reinterpret_cast<LONG_PTR>(&LeftWindowProc));
}

INT_PTR CALLBACK LeftWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM /*lParam*/) {
    if (message == WM_COMMAND && LOWORD(wParam) == IDCANCEL) DestroyWindow(window);
    return FALSE;
}
