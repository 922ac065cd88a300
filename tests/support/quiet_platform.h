// A Platform that allocates nothing and records only counts: for the
// allocation test and the benchmarks, where the FakePlatform's strings and
// vectors would be measured along with the plug-in. Posted messages wait in
// a fixed queue until Pump hands them to the dialog logic. Not thread-safe.
#ifndef KESTRIN_TESTS_SUPPORT_QUIET_PLATFORM_H
#define KESTRIN_TESTS_SUPPORT_QUIET_PLATFORM_H

#include <cstddef>
#include <cstdint>
#include <memory>

#include "plugin/platform.h"
#include "ui/guide_view.h"

struct PluginState;

class QuietPlatform : public Platform {
public:
    static const int kQueueSize = 256;

    // The guide window's state is made here, before anything is counted.
    QuietPlatform() : guideView(new GuideViewState) {}
    virtual ~QuietPlatform() {}

    void SetControlText(int32_t controlId, const char* text) override;
    void SetWindowTitle(const char* text) override;
    void SetToolTipText(int32_t controlId, const char* text) override;
    void PostToWindow(uint32_t message) override;
    GuideViewState* GuideView() override { return guideView.get(); }
    void RedrawGuide() override { ++guideRedraws; }
    void SetGuideControlText(int32_t, const char*) override { ++guideTexts; }
    void PostToOwner(uint32_t, uint32_t) override { ++ownerPosts; }
    bool GetWindowPlacement(WindowPlacement* placement) override;
    void ShowError(const char*, const char*) override {}
    void TuneChannel(int32_t) override { ++tunes; }
    void PluginClosed() override {}
    // The recording file is not written anywhere; writes succeed while it is
    // open. Subclasses write to a real file.
    FileHandle CreateRecordingFile(const char* path) override;
    bool WriteFile(FileHandle file, const uint8_t* data, uint32_t size) override;
    void CloseFile(FileHandle file) override;
    // "CH1" and "CH2" are 27, everything else reads its default.
    int32_t ReadSettingInt(const char* section, const char* key, int32_t defaultValue,
                           const char* path) override;
    uint32_t ReadSettingString(const char* section, const char* key, const char* defaultValue,
                               char* out, uint32_t size, const char* path) override;
    void WriteSettingString(const char*, const char*, const char*, const char*) override {
        ++settingWrites;
    }
    uint32_t GetHostExecutablePath(char* out, uint32_t size, bool* whole) override;
    LocalTime GetLocalTime() override;
    bool OpenCaptionWindow() override {
        captionWindow = true;
        return true;
    }
    void CloseCaptionWindow() override { captionWindow = false; }
    void SetCaptionControlText(int32_t, const char* text) override;

    // Handles the waiting messages as the dialog procedure would.
    void Pump(PluginState& state);

    uint32_t queue[kQueueSize];
    int queued = 0;
    int dropped = 0;  // posted while the queue was full
    int presentHandled = 0, followingHandled = 0, sdtHandled = 0;
    int recordLabelsHandled = 0, channelLabelsHandled = 0, guideHandled = 0;
    std::unique_ptr<GuideViewState> guideView;
    int guideRedraws = 0, guideTexts = 0;
    int controlTexts = 0, titles = 0, toolTips = 0, emptyToolTips = 0, ownerPosts = 0, tunes = 0, creates = 0, settingWrites = 0;
    size_t textBytes = 0;
    uint64_t bytesWritten = 0;
    bool open = false;
    bool captionWindow = false;
    int captionsHandled = 0, captionTexts = 0;
    size_t captionTextBytes = 0;
};

#endif
