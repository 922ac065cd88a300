#include "plugin/recorder.h"

#include <cstdio>
#include <cstring>
#include <mutex>

#include "plugin/plugin_state.h"
#include "plugin/settings.h"
#include "text/shift_jis_text.h"
#include "ts/packet.h"
#include "ts/programme_map.h"

namespace {

const uint32_t kDirectorySize = kPathSize;  // "Directory": at most 259 characters
const uint32_t kFileNameSize = 100;         // "Filename": at most 99 characters
// A generated name with every field at its widest int32 value still fits.
const uint32_t kGeneratedNameSize = 128;

// True when the last character of the Shift_JIS string is a backslash. A
// byte 0x5C at the end may be the second byte of a double-byte character
// (for example 0x95 0x5C "表"), which is not a path separator.
bool EndsWithBackslash(const char* text, size_t length) {
    bool lastIsBackslash = false;
    size_t i = 0;
    while (i < length) {
        const uint8_t c = static_cast<uint8_t>(text[i]);
        if (IsShiftJisLeadByte(c) && i + 1 < length) {
            lastIsBackslash = false;
            i += 2;
        } else {
            lastIsBackslash = c == '\\';
            i += 1;
        }
    }
    return lastIsBackslash;
}

// The recording's full path: the directory with a trailing backslash, then
// the configured file name or one made of the channel and the local time.
// False when the whole path would not fit in kPathSize bytes: such a path is
// treated like a file that cannot be created, never cut short.
bool BuildRecordingPath(PluginState& s, char* path) {
    char directory[kDirectorySize];
    char fileName[kFileNameSize];
    ReadRecordingSettings(s, directory, kDirectorySize, fileName, kFileNameSize);
    directory[kDirectorySize - 1] = '\0';
    fileName[kFileNameSize - 1] = '\0';

    char generated[kGeneratedNameSize];
    const char* name = fileName;
    if (fileName[0] == '\0') {
        const LocalTime t = s.platform->GetLocalTime();
        const int n = std::snprintf(generated, sizeof generated,
                                    "ch%2.2d_%4.4d%2.2d%2.2d_%2.2d%2.2d%2.2d.ts",
                                    static_cast<int>(s.currentChannel), static_cast<int>(t.year),
                                    static_cast<int>(t.month), static_cast<int>(t.day),
                                    static_cast<int>(t.hour), static_cast<int>(t.minute),
                                    static_cast<int>(t.second));
        if (n < 0 || static_cast<uint32_t>(n) >= kGeneratedNameSize) return false;
        name = generated;
    }

    // An empty directory becomes "\", the root of the current drive.
    const size_t directoryLength = std::strlen(directory);
    const size_t separatorLength = EndsWithBackslash(directory, directoryLength) ? 0 : 1;
    const size_t nameLength = std::strlen(name);
    if (directoryLength + separatorLength + nameLength >= static_cast<size_t>(kPathSize)) return false;
    std::memcpy(path, directory, directoryLength);
    if (separatorLength != 0) path[directoryLength] = '\\';
    std::memcpy(path + directoryLength + separatorLength, name, nameLength + 1);
    return true;
}

void StartRecording(PluginState& s) {
    // Defensive: a start with a file still open would leak its handle.
    if (s.recordingFile != kInvalidFileHandle) {
        s.platform->CloseFile(s.recordingFile);
        s.recordingFile = kInvalidFileHandle;
    }
    char path[kPathSize];
    if (BuildRecordingPath(s, path)) s.recordingFile = s.platform->CreateRecordingFile(path);
    // Silently back to idle; the next press reads the settings afresh.
    if (s.recordingFile == kInvalidFileHandle) s.recording = false;
}

void StopRecording(PluginState& s) {
    // After the window's close command the file is already closed and only
    // the label changes.
    if (s.recordingFile != kInvalidFileHandle) s.platform->CloseFile(s.recordingFile);
    s.recordingFile = kInvalidFileHandle;
}

}  // namespace

void StartStopRecording(PluginState& s) {
    if (s.recording) {
        StartRecording(s);
    } else {
        StopRecording(s);
    }
    s.recordLabelPending = true;
}

void RecordPacket(PluginState& s, const uint8_t* packet) {
    if (s.recordingFile == kInvalidFileHandle) return;
    if (!s.platform->WriteFile(s.recordingFile, packet, kTsPacketSize)) {
        s.recording = false;
        StartStopRecording(s);
    }
}

void WriteRewrittenPat(PluginState& s, const uint8_t* packet) {
    uint8_t rewritten[kTsPacketSize];
    if (RewritePatPacket(packet, s.programNumber, rewritten)) RecordPacket(s, rewritten);
}

void ReleaseRecording(PluginState& s) {
    std::lock_guard<std::mutex> guard(s.lock);
    if (s.recordingFile != kInvalidFileHandle) s.platform->CloseFile(s.recordingFile);
    s.recordingFile = kInvalidFileHandle;
    s.recording = false;
}
