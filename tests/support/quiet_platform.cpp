#include "tests/support/quiet_platform.h"

#include <cstring>

#include "plugin/messages.h"
#include "ui/viewer.h"

void QuietPlatform::SetControlText(int32_t, const char* text) {
    ++controlTexts;
    textBytes += std::strlen(text);
}

void QuietPlatform::SetWindowTitle(const char* text) {
    ++titles;
    textBytes += std::strlen(text);
}

void QuietPlatform::SetToolTipText(int32_t, const char* text) {
    ++toolTips;
    if (text[0] == '\0') ++emptyToolTips;
    textBytes += std::strlen(text);
}

void QuietPlatform::PostToWindow(uint32_t message) {
    if (queued < kQueueSize) {
        queue[queued++] = message;
    } else {
        ++dropped;
    }
}

bool QuietPlatform::GetWindowPlacement(WindowPlacement* placement) {
    const ScreenRect r = {100, 200, 400, 400};
    placement->show = WindowShow::kNormal;
    placement->window = r;
    placement->normal = r;
    return true;
}

FileHandle QuietPlatform::CreateRecordingFile(const char*) {
    ++creates;
    open = true;
    return 7;
}

bool QuietPlatform::WriteFile(FileHandle, const uint8_t*, uint32_t size) {
    bytesWritten += size;
    return open;
}

void QuietPlatform::CloseFile(FileHandle) { open = false; }

int32_t QuietPlatform::ReadSettingInt(const char*, const char* key, int32_t defaultValue,
                                      const char*) {
    if (std::strcmp(key, "CH1") == 0 || std::strcmp(key, "CH2") == 0) return 27;
    return defaultValue;
}

uint32_t QuietPlatform::ReadSettingString(const char*, const char*, const char* defaultValue,
                                          char* out, uint32_t size, const char*) {
    if (size == 0) return 0;
    uint32_t n = static_cast<uint32_t>(std::strlen(defaultValue));
    if (n > size - 1) n = size - 1;
    std::memcpy(out, defaultValue, n);
    out[n] = '\0';
    return n;
}

uint32_t QuietPlatform::GetHostExecutablePath(char* out, uint32_t size, bool* whole) {
    const char path[] = "C:\\Host\\host.exe";
    *whole = size >= sizeof path;
    if (!*whole) return 0;
    std::memcpy(out, path, sizeof path);
    return sizeof path - 1;
}

LocalTime QuietPlatform::GetLocalTime() {
    LocalTime t = {2026, 12, 10, 21, 30, 0};
    return t;
}

void QuietPlatform::Pump(PluginState& state) {
    for (int i = 0; i < queued; ++i) {
        switch (queue[i]) {
            case WM_EIT_PRESENT_READY: ++presentHandled; break;
            case WM_EIT_FOLLOWING_READY: ++followingHandled; break;
            case WM_SDT_READY: ++sdtHandled; break;
            case WM_RECORD_LABEL: ++recordLabelsHandled; break;
            case WM_CHANNEL_LABELS: ++channelLabelsHandled; break;
            case WM_CAPTION_READY: ++captionsHandled; break;
            case WM_GUIDE_READY: ++guideHandled; break;
            default: break;
        }
        ViewerPrivateMessage(state, queue[i]);
    }
    queued = 0;
}

void QuietPlatform::SetCaptionControlText(int32_t, const char* text) {
    ++captionTexts;
    while (*text != '\0') {
        ++text;
        ++captionTextBytes;
    }
}
