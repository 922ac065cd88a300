// The seam between the portable plug-in logic and the platform it runs on.
//
// Everything the plug-in does to the outside world goes through this one
// interface: the viewer window's texts, the private messages, the host's
// callbacks, the recording file, the settings file and the local clock.
// The DLL implements it with Win32 calls (win32/win32_platform.cpp);
// the native tests, fuzzers and command-line tools use in-memory versions.
//
// Threading rules: SetControlText, SetWindowTitle and SetToolTipText may
// block on the window's thread (Win32 sends WM_SETTEXT and the tooltip
// messages across threads), so the core calls
// them only on the window's own thread and never while it holds
// PluginState::lock; another thread posts a private message instead.
// CreateRecordingFile, WriteFile, CloseFile, the settings calls and the
// calls of the files replaced whole may take
// seconds on a sleeping, network or USB disk, so none is made with the lock
// held either. PostToWindow and PostToOwner never block.
#ifndef KESTRIN_PLUGIN_PLATFORM_H
#define KESTRIN_PLUGIN_PLATFORM_H

#include <cstdint>

#include "plugin/window_position.h"

// The guide window's own state (what it shows, its selection, its layout),
// defined with the window's logic in ui/guide_view.h; the platform keeps one
// with the window and hands it over, never looking inside.
struct GuideViewState;

// An open file, or kInvalidFileHandle (the Win32 invalid-handle value).
typedef std::intptr_t FileHandle;
const FileHandle kInvalidFileHandle = -1;

// Why OpenReadFile gave no file.
enum class FileOpenError {
    kNone,
    kNotFound,     // no such file (or folder on the way to it)
    kIsDirectory,  // a folder stands at the path
    kFailed,       // anything else: access denied, locked, a device
};

struct LocalTime {
    int32_t year;   // four digits
    int32_t month;  // 1-12
    int32_t day;    // 1-31
    int32_t hour;   // 0-23
    int32_t minute;
    int32_t second;
};

class Platform {
public:
    // --- Viewer window -----------------------------------------------------
    // Every window call is a no-op while the dialog does not exist.
    // SetDlgItemTextA on the dialog.
    virtual void SetControlText(int32_t controlId, const char* text) = 0;
    // SetWindowTextA on the dialog.
    virtual void SetWindowTitle(const char* text) = 0;
    // The tooltip shown while the pointer rests on a control of the dialog
    // (Shift_JIS, lines separated by "\r\n"); an empty text shows none.
    // Called on the window's thread only, which owns the tooltip window.
    virtual void SetToolTipText(int32_t controlId, const char* text) = 0;
    // PostMessageA(dialog, message, 0, 0).
    virtual void PostToWindow(uint32_t message) = 0;
    // PostMessageA(owner of the dialog, message, wParam, 0).
    virtual void PostToOwner(uint32_t message, uint32_t wParam) = 0;
    // How the dialog is shown, its window rectangle and its restored
    // rectangle, all in screen pixels; false while there is no dialog.
    virtual bool GetWindowPlacement(WindowPlacement* placement) = 0;
    // Message box without owner, error icon.
    virtual void ShowError(const char* text, const char* caption) = 0;

    // --- Caption window ------------------------------------------------------
    // A second modeless window owned by the viewer dialog, opened from the
    // viewer; window's thread only, like the calls above. A platform without
    // one keeps these defaults: it never opens, and its texts go nowhere.
    // Creates the caption window (template IDD_CAPTIONS); true when it exists.
    virtual bool OpenCaptionWindow() { return false; }
    // Destroys it, if it exists.
    virtual void CloseCaptionWindow() {}
    // SetDlgItemTextA on the caption window (Shift_JIS). A control whose
    // text the user scrolls keeps its scroll position, unless it showed its
    // end, which it then shows again.
    virtual void SetCaptionControlText(int32_t controlId, const char* text) {
        (void)controlId;
        (void)text;
    }

    // --- Programme guide window (a dialog of its own on the viewer's thread;
    // called on that thread only, never with the lock held) ------------------
    // Opens it, or brings it to the front when it is open.
    virtual void OpenGuideWindow() {}
    // Closes it when it is open (the viewer is closing).
    virtual void CloseGuideWindow() {}
    // The guide window's state, null where the platform has no guide window.
    virtual GuideViewState* GuideView() { return nullptr; }
    // What the guide shows changed: the window draws its grid again (it
    // asks GuideLayout, ui/guide_view.h) and its date tabs follow.
    virtual void RedrawGuide() {}
    // SetDlgItemTextA / EnableWindow on a control of the guide window.
    virtual void SetGuideControlText(int32_t /*controlId*/, const char* /*text*/) {}
    virtual void EnableGuideControl(int32_t /*controlId*/, bool /*enabled*/) {}

    // --- Host callbacks (IDTVHost slots 1 and 6) ---------------------------
    virtual void TuneChannel(int32_t channel) = 0;
    virtual void PluginClosed() = 0;

    // --- Recording file ----------------------------------------------------
    // Creates or truncates the file for writing, shared for reading only.
    virtual FileHandle CreateRecordingFile(const char* path) = 0;
    // One synchronous write; true when the call succeeded.
    virtual bool WriteFile(FileHandle file, const uint8_t* data, uint32_t size) = 0;
    virtual void CloseFile(FileHandle file) = 0;

    // --- Files replaced whole (the programme table's cache) ------------------
    // Window's thread only, never with the lock held; each may wait for the
    // disk. A platform without files keeps these defaults: nothing can be
    // opened or created, so nothing is read or kept.
    // Opens an existing file for reading (shared for reading); on failure
    // kInvalidFileHandle and *error says why.
    virtual FileHandle OpenReadFile(const char* path, FileOpenError* error) {
        (void)path;
        *error = FileOpenError::kFailed;
        return kInvalidFileHandle;
    }
    // Reads the next bytes of a file opened by OpenReadFile: the number
    // read (fewer than `size` is not the end), 0 at the end, -1 on an error.
    virtual int32_t ReadFile(FileHandle file, uint8_t* data, uint32_t size) {
        (void)file;
        (void)data;
        (void)size;
        return -1;
    }
    // Creates or truncates a file for writing, shared with no one, for a
    // file that is written whole and then renamed into place. Written with
    // WriteFile and closed with CloseFile.
    virtual FileHandle CreateReplacementFile(const char* path) {
        (void)path;
        return kInvalidFileHandle;
    }
    // Everything written so far is on the disk (FlushFileBuffers); false
    // when it may not be.
    virtual bool FlushFile(FileHandle file) {
        (void)file;
        return false;
    }
    // Renames `from` to `to`, replacing a file at `to` in one step and
    // returning only once the rename is on the disk (MoveFileExA with
    // MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH). On failure both
    // files stay as they were.
    virtual bool RenameFileOver(const char* from, const char* to) {
        (void)from;
        (void)to;
        return false;
    }
    // Deletes a file; false when it could not be (or was not there).
    virtual bool RemoveFile(const char* path) {
        (void)path;
        return false;
    }
    // Creates a folder (its parent must exist); true when it exists
    // afterwards, made now or before.
    virtual bool MakeFolder(const char* path) {
        (void)path;
        return false;
    }
    // The user's local application data folder (CSIDL_LOCAL_APPDATA), with
    // a trailing backslash, NUL-terminated within size; returns its length,
    // 0 when there is none or it does not fit whole.
    virtual uint32_t GetLocalAppDataFolder(char* out, uint32_t size) {
        if (size > 0) out[0] = '\0';
        return 0;
    }

    // --- Settings file (Win32 profile functions) ----------------------------
    virtual int32_t ReadSettingInt(const char* section, const char* key,
                                   int32_t defaultValue, const char* path) = 0;
    // Copies at most size - 1 characters and a terminator; returns the length.
    virtual uint32_t ReadSettingString(const char* section, const char* key,
                                       const char* defaultValue, char* out,
                                       uint32_t size, const char* path) = 0;
    virtual void WriteSettingString(const char* section, const char* key,
                                    const char* value, const char* path) = 0;

    // --- Process and clock -------------------------------------------------
    // GetModuleFileNameA(NULL, ...): the host executable's full path, always
    // NUL-terminated within size; returns the length written. *whole is true
    // only when the path was not cut short by the buffer: a path of exactly
    // size - 1 characters is whole, a truncated one of the same length is not.
    virtual uint32_t GetHostExecutablePath(char* out, uint32_t size, bool* whole) = 0;
    virtual LocalTime GetLocalTime() = 0;

protected:
    ~Platform() {}
};

#endif
