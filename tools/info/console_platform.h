// The Platform of kestrin-info: a window that exists only as the texts the
// core sets into it, a message queue that the tool pumps after each buffer,
// and a real recording file.
//
// The recorder builds the recording path from the settings "Directory" and
// "Filename" exactly as in the DLL. This platform answers those two keys
// with a fixed virtual path and, when the recorder asks to create exactly
// that path, creates the file the user named instead. So the file is written
// by the recorder's own start, router selection and PAT rewriting, whatever
// the host operating system's path syntax. The file itself is an
// OutputFile: a temporary file renamed into place only after a whole run.
#ifndef KESTRIN_TOOLS_INFO_CONSOLE_PLATFORM_H
#define KESTRIN_TOOLS_INFO_CONSOLE_PLATFORM_H

#include <cstdint>
#include <cstdio>
#include <deque>
#include <string>
#include <vector>

#include "plugin/platform.h"

class OutputFile;

// Pseudo control id of the window's caption in ConsolePlatform::changes.
const int32_t kCaptionControl = -1;

class ConsolePlatform : public Platform {
public:
    // Settings answers that make the recorder build kRecordingVirtualPath.
    static const char kRecordingDirectory[];
    static const char kRecordingFileName[];
    static const char kRecordingVirtualPath[];

    ConsolePlatform();
    virtual ~ConsolePlatform();

    // The file the recorder's virtual path stands for; null: no recording.
    // Opened once, at the recorder's first CreateRecordingFile.
    void SetRecordingOutput(OutputFile* output) { output_ = output; }

    // --- Platform ----------------------------------------------------------
    void SetControlText(int32_t controlId, const char* text) override;
    void SetWindowTitle(const char* text) override;
    // The console shows no tooltips.
    void SetToolTipText(int32_t, const char*) override {}
    void PostToWindow(uint32_t message) override { posted.push_back(message); }
    void PostToOwner(uint32_t, uint32_t) override {}
    bool GetWindowPlacement(WindowPlacement* placement) override;
    void ShowError(const char* text, const char* caption) override;
    void TuneChannel(int32_t) override {}
    void PluginClosed() override {}
    FileHandle CreateRecordingFile(const char* path) override;
    bool WriteFile(FileHandle file, const uint8_t* data, uint32_t size) override;
    void CloseFile(FileHandle file) override;
    int32_t ReadSettingInt(const char* section, const char* key, int32_t defaultValue,
                           const char* path) override;
    uint32_t ReadSettingString(const char* section, const char* key, const char* defaultValue, char* out,
                               uint32_t size, const char* path) override;
    void WriteSettingString(const char*, const char*, const char*, const char*) override {}
    uint32_t GetHostExecutablePath(char* out, uint32_t size, bool* whole) override;
    LocalTime GetLocalTime() override;

    // --- What the window went through ----------------------------------------
    struct Change {
        int32_t control;  // a control id, or kCaptionControl
        std::string text; // Shift_JIS, as set
    };
    std::vector<Change> changes;   // every text set, in order; the tool empties it
    std::deque<uint32_t> posted;   // private messages not yet handled

    // --- Recording outcome ---------------------------------------------------
    std::string recordingError;    // why the file could not be created or written
    bool recordingCreated = false;
    bool recordingWriteFailed = false;

private:
    OutputFile* output_ = nullptr;
    bool open_ = false;
};

#endif
