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
bool BuildRecordingPath(PluginState& s, int32_t channel, char* path) {
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
                                    static_cast<int>(channel), static_cast<int>(t.year),
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

// Lock held: a recording the packet path cannot go on with (a failed write,
// or a staging buffer full while another thread's write holds it) stops as
// the button would stop it, and the window is told through
// recordLabelPending.
FileHandle StopOnThePacketPath(PluginState& s) {
    s.recording = false;
    s.recordLabelPending = true;
    return TakeRecordingFile(s);
}

// Lock held: the next free staging slot while the file is open, or null.
uint8_t* NextStagingSlot(PluginState& s) {
    if (s.recordingFile == kInvalidFileHandle) return nullptr;
    if (s.stagedCount < kStagedPackets) return s.stagedPackets[s.stagedCount];
    // Full, and the router did not write it out itself: another thread's
    // write is stalled on it. Rather than wait for the disk or leave a hole
    // in the file, the recording ends here.
    const FileHandle file = StopOnThePacketPath(s);
    if (file != kInvalidFileHandle) s.orphanFile = file;
    return nullptr;
}

}  // namespace

void StartStopRecording(PluginState& s, uint32_t press) {
    bool start;
    int32_t channel;
    FileHandle file = kInvalidFileHandle;
    {
        std::lock_guard<std::mutex> guard(s.lock);
        start = s.recording;
        channel = s.currentChannel;
        if (!start) file = TakeRecordingFile(s);
        if (start && !s.active) {
            // The window was closed: no file is created, and above all none
            // replaced (CREATE_ALWAYS truncates a fixed "Filename", the last
            // recording). Back to idle as for a file that cannot be created.
            if (s.recordPresses == press) s.recording = false;
            return;
        }
    }
    if (!start) {
        // After the window's close command the file is already closed and
        // only the label changes.
        if (file != kInvalidFileHandle) s.platform->CloseFile(file);
        return;
    }

    // The settings and CreateFileA (seconds on a sleeping or network disk)
    // with the lock released: the packet path goes on meanwhile.
    char path[kPathSize];
    if (BuildRecordingPath(s, channel, path)) file = s.platform->CreateRecordingFile(path);
    {
        std::lock_guard<std::mutex> guard(s.lock);
        const bool lastPress = s.recordPresses == press;
        if (file == kInvalidFileHandle) {
            // Silently back to idle; the next press reads the settings afresh.
            if (lastPress) s.recording = false;
        } else if (lastPress && s.orphanFile != kInvalidFileHandle) {
            // The last recording's file still waits for a stalled write to
            // end before it can be closed: no second one meanwhile.
            s.recording = false;
        } else if (lastPress && s.recording && s.active && s.recordingFile == kInvalidFileHandle) {
            s.recordingFile = file;
            file = kInvalidFileHandle;
        }
        // The close command while the file was being created: it was asked
        // for while the plug-in was active, and CreateFileA has already
        // created or truncated it, which cannot be undone. It is not taken
        // into use and is closed at once, empty; the flag stays as the close
        // command leaves a running recording's ("1■" until a press stops
        // it), and nothing is created after the close.
    }
    // A stop or the close command came while the file was created.
    if (file != kInvalidFileHandle) s.platform->CloseFile(file);
}

FileHandle TakeRecordingFile(PluginState& s) {
    const FileHandle file = s.recordingFile;
    if (file == kInvalidFileHandle) return kInvalidFileHandle;
    s.recordingFile = kInvalidFileHandle;
    // Staged packets not yet handed to a writer are this file's.
    s.stagedCount = s.claimedCount;
    if (s.writerBusy && s.writerFile == file) {
        s.writerCloses = true;
        return kInvalidFileHandle;
    }
    return file;
}

void RecordPacket(PluginState& s, const uint8_t* packet) {
    uint8_t* slot = NextStagingSlot(s);
    if (slot == nullptr) return;
    std::memcpy(slot, packet, kTsPacketSize);
    ++s.stagedCount;
}

void WriteRewrittenPat(PluginState& s, const uint8_t* packet) {
    uint8_t* slot = NextStagingSlot(s);
    if (slot != nullptr && RewritePatPacket(packet, s.programNumber, slot)) ++s.stagedCount;
}

void WriteStagedPackets(PluginState& s, std::unique_lock<std::mutex>& held) {
    if (s.writerBusy) return;
    if (s.stagedCount == 0 && s.orphanFile == kInvalidFileHandle) return;
    s.writerBusy = true;
    for (;;) {
        const FileHandle orphan = s.orphanFile;
        s.orphanFile = kInvalidFileHandle;
        if (s.claimedCount == s.stagedCount && orphan == kInvalidFileHandle) break;
        // Every packet not yet handed over belongs to the open file.
        const int32_t first = s.claimedCount;
        const int32_t end = s.stagedCount;
        const FileHandle file = s.recordingFile;
        s.claimedCount = end;
        s.writerFile = file;
        s.writerCloses = false;
        held.unlock();

        if (orphan != kInvalidFileHandle) s.platform->CloseFile(orphan);
        // Slots [first, end) are this writer's until it takes the lock
        // again; other threads only append behind them.
        int32_t written = first;
        while (written < end && s.platform->WriteFile(file, s.stagedPackets[written], kTsPacketSize)) ++written;

        held.lock();
        bool close = s.writerCloses;
        s.writerCloses = false;
        s.writerFile = kInvalidFileHandle;
        if (written < end && !close) {
            // Still the open recording (a stop would have left the handle
            // to this writer): the failed write ends it, the rest of the
            // staged packets with it.
            close = StopOnThePacketPath(s) != kInvalidFileHandle;
        }
        if (close) {
            held.unlock();
            s.platform->CloseFile(file);
            held.lock();
        }
    }
    s.stagedCount = 0;
    s.claimedCount = 0;
    s.writerBusy = false;
}

void ReleaseRecording(PluginState& s) {
    std::unique_lock<std::mutex> held(s.lock);
    // Packets already staged for the file still go into it.
    WriteStagedPackets(s, held);
    const FileHandle file = TakeRecordingFile(s);
    const FileHandle orphan = s.orphanFile;
    s.orphanFile = kInvalidFileHandle;
    s.recording = false;
    held.unlock();
    if (file != kInvalidFileHandle) s.platform->CloseFile(file);
    if (orphan != kInvalidFileHandle) s.platform->CloseFile(orphan);
}
