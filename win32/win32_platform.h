// The Platform seam implemented with Win32: the viewer dialog's texts and
// messages, the host's callbacks, the recording file, the files replaced
// whole (the programme table's cache), the settings file through the
// profile functions, and the local clock.
#ifndef KESTRIN_WIN32_WIN32_PLATFORM_H
#define KESTRIN_WIN32_WIN32_PLATFORM_H

#include <windows.h>

#include <atomic>

#include "plugin/platform.h"
#include "ui/guide_view.h"

class IDTVHost;
struct PluginState;

class Win32Platform final : public Platform {
public:
    Win32Platform() : host_(nullptr), dialog_(nullptr), toolTip_(nullptr) {}
    ~Win32Platform() {}

    // The host's callback object, once SetHost accepted it; null again once
    // the object went, so that a handler still finishing calls the host no
    // more.
    void SetHost(IDTVHost* host) { host_.store(host); }

    // The viewer dialog, or NULL while there is none. Set on the window's
    // thread; read by the packet path when it posts the private messages.
    void SetDialog(HWND dialog);
    HWND Dialog() const;

    void SetControlText(int32_t controlId, const char* text) override;
    void SetWindowTitle(const char* text) override;
    void SetToolTipText(int32_t controlId, const char* text) override;
    void PostToWindow(uint32_t message) override;
    void PostToOwner(uint32_t message, uint32_t wParam) override;
    bool GetWindowPlacement(WindowPlacement* placement) override;
    void ShowError(const char* text, const char* caption) override;
    void TuneChannel(int32_t channel) override;
    void PluginClosed() override;
    FileHandle CreateRecordingFile(const char* path) override;
    bool WriteFile(FileHandle file, const uint8_t* data, uint32_t size) override;
    void CloseFile(FileHandle file) override;
    FileHandle OpenReadFile(const char* path, FileOpenError* error) override;
    int32_t ReadFile(FileHandle file, uint8_t* data, uint32_t size) override;
    FileHandle CreateReplacementFile(const char* path) override;
    bool FlushFile(FileHandle file) override;
    bool RenameFileOver(const char* from, const char* to) override;
    bool RemoveFile(const char* path) override;
    bool MakeFolder(const char* path) override;
    uint32_t GetLocalAppDataFolder(char* out, uint32_t size) override;
    int32_t ReadSettingInt(const char* section, const char* key, int32_t defaultValue,
                           const char* path) override;
    uint32_t ReadSettingString(const char* section, const char* key, const char* defaultValue,
                               char* out, uint32_t size, const char* path) override;
    void WriteSettingString(const char* section, const char* key, const char* value,
                            const char* path) override;
    uint32_t GetHostExecutablePath(char* out, uint32_t size, bool* whole) override;
    LocalTime GetLocalTime() override;
    bool OpenCaptionWindow() override;
    void CloseCaptionWindow() override;
    void SetCaptionControlText(int32_t controlId, const char* text) override;

    // The tooltip and the controls it subclasses run the common controls'
    // code. When the viewer is left standing for the host, the library's
    // import may be all that keeps that code loaded, so it stays loaded
    // for the rest of the process.
    static void KeepToolTipCode();

    // The guide window (win32/guide_window.cpp), on the viewer's thread.
    void OpenGuideWindow() override;
    void CloseGuideWindow() override;
    GuideViewState* GuideView() override;
    void RedrawGuide() override;
    void SetGuideControlText(int32_t controlId, const char* text) override;
    void EnableGuideControl(int32_t controlId, bool enabled) override;
    void SetGuideDialog(HWND guide);

    // The platform of a state of this library: every one has a
    // Win32Platform.
    static Win32Platform& Of(const PluginState& state);

    // Work areas of the display monitors, the primary first; at most
    // `capacity` of them. Returns how many were stored.
    static int32_t MonitorWorkAreas(ScreenRect* out, int32_t capacity);
    // How `window` (a top-level window) is shown, its window rectangle and
    // its restored rectangle, in screen pixels; false when it cannot be read.
    static bool PlacementOf(HWND window, WindowPlacement* placement);
    // Moves `window` to a saved left/top, unless that lies on no monitor any
    // more (a monitor unplugged, the resolution lowered, Win32's parking
    // place of a minimised window): then into the nearest monitor's work
    // area. Its size stays.
    static void PlaceOnMonitors(HWND window, int32_t left, int32_t top);

private:
    Win32Platform(const Win32Platform&) = delete;
    Win32Platform& operator=(const Win32Platform&) = delete;

    // The tooltip window of `dialog`, made when `create` is set and there is
    // none yet; NULL otherwise.
    HWND ToolTipOf(HWND dialog, bool create);

    std::atomic<IDTVHost*> host_;
    std::atomic<HWND> dialog_;
    // The common-controls tooltip owned by the dialog (destroyed with it).
    // Used on the window's thread only.
    HWND toolTip_;
    // The guide dialog, or NULL; the viewer's thread only.
    HWND guide_ = nullptr;
    // What the guide shows, its selection and layout (ui/guide_view.h).
    GuideViewState guideView_;
    // The date tabs as last built: how many, and the first day.
    int32_t guideTabs_ = -1;
    int64_t guideFirstDay_ = 0;
};

#endif
