#include "tools/info/console_platform.h"

#include <cerrno>
#include <cstring>
#include <ctime>

#include "tools/info/output_file.h"

const char ConsolePlatform::kRecordingDirectory[] = "X:\\kestrin-info";
const char ConsolePlatform::kRecordingFileName[] = "extract.ts";
const char ConsolePlatform::kRecordingVirtualPath[] = "X:\\kestrin-info\\extract.ts";

// The one recording file's handle; the recorder holds one file at a time.
static const FileHandle kRecordingHandle = 1;

ConsolePlatform::ConsolePlatform() {}

ConsolePlatform::~ConsolePlatform() {}

void ConsolePlatform::SetControlText(int32_t controlId, const char* text) {
    changes.push_back(Change{controlId, text});
}

void ConsolePlatform::SetWindowTitle(const char* text) { changes.push_back(Change{kCaptionControl, text}); }

bool ConsolePlatform::GetWindowPlacement(WindowPlacement* placement) {
    const ScreenRect r = {0, 0, 0, 0};
    placement->show = WindowShow::kNormal;
    placement->window = r;
    placement->normal = r;
    return true;
}

void ConsolePlatform::ShowError(const char* text, const char* caption) {
    std::fprintf(stderr, "kestrin-info: %s: %s\n", caption, text);
}

FileHandle ConsolePlatform::CreateRecordingFile(const char* path) {
    if (output_ == nullptr || recordingCreated) {
        recordingError = "no recording was asked for";
        return kInvalidFileHandle;
    }
    if (std::strcmp(path, kRecordingVirtualPath) != 0) {
        recordingError = std::string("the recorder asked for an unexpected path: ") + path;
        return kInvalidFileHandle;
    }
    if (!output_->Open()) {
        recordingError = output_->Error();
        return kInvalidFileHandle;
    }
    recordingCreated = true;
    open_ = true;
    return kRecordingHandle;
}

bool ConsolePlatform::WriteFile(FileHandle file, const uint8_t* data, uint32_t size) {
    if (file != kRecordingHandle || !open_) return false;
    if (output_->Write(data, size)) return true;
    recordingWriteFailed = true;
    recordingError = output_->Error();
    return false;
}

void ConsolePlatform::CloseFile(FileHandle file) {
    if (file != kRecordingHandle || !open_) return;
    open_ = false;
    // Buffered bytes reach the disk here; a failure now is a failed write.
    if (!output_->Close() && !recordingWriteFailed) {
        recordingWriteFailed = true;
        recordingError = output_->Error();
    }
}

int32_t ConsolePlatform::ReadSettingInt(const char*, const char*, int32_t defaultValue, const char*) {
    return defaultValue;
}

uint32_t ConsolePlatform::ReadSettingString(const char* section, const char* key, const char* defaultValue,
                                            char* out, uint32_t size, const char*) {
    if (size == 0) return 0;
    const char* value = defaultValue;
    if (std::strcmp(section, "1Seg") == 0 && std::strcmp(key, "Directory") == 0) value = kRecordingDirectory;
    if (std::strcmp(section, "1Seg") == 0 && std::strcmp(key, "Filename") == 0) value = kRecordingFileName;
    size_t n = std::strlen(value);
    if (n > size - 1) n = size - 1;
    std::memcpy(out, value, n);
    out[n] = '\0';
    return static_cast<uint32_t>(n);
}

uint32_t ConsolePlatform::GetHostExecutablePath(char* out, uint32_t size, bool* whole) {
    static const char kPath[] = "X:\\kestrin-info\\kestrin-info.exe";
    *whole = false;
    if (size == 0) return 0;
    size_t n = sizeof kPath - 1;
    *whole = n <= size - 1;
    if (n > size - 1) n = size - 1;
    std::memcpy(out, kPath, n);
    out[n] = '\0';
    return static_cast<uint32_t>(n);
}

LocalTime ConsolePlatform::GetLocalTime() {
    std::time_t now = std::time(nullptr);
    std::tm local;
#ifdef _WIN32
    localtime_s(&local, &now);
#else
    localtime_r(&now, &local);
#endif
    LocalTime t = {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                   local.tm_hour,        local.tm_min,     local.tm_sec};
    return t;
}
