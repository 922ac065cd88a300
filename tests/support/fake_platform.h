// An in-memory Platform that records every call, for native tests, fuzzers
// and tools. Thread-safe: the packet path and the "window thread" of a test
// may call it at the same time.
#ifndef KESTRIN_TESTS_SUPPORT_FAKE_PLATFORM_H
#define KESTRIN_TESTS_SUPPORT_FAKE_PLATFORM_H

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "plugin/platform.h"
#include "ui/guide_view.h"

struct PluginState;

// Holds the callers of one platform call until the test lets them go: a
// slow disk, or a window whose thread does not answer. Deterministic: the
// test waits for a caller to arrive, does what it wants to happen meanwhile,
// then opens the gate.
class FakeGate {
public:
    // Generous: reaching it means a thread is stuck (the test then fails and
    // opens the gate so that nothing hangs); it never measures speed.
    static constexpr std::chrono::seconds kStuck{10};

    // From now on every caller waits in Pass() until Open().
    void Close();
    // Lets every waiting and later caller through.
    void Open();
    // Called inside the platform call.
    void Pass();
    // Calls that have reached the gate while it was closed.
    int Arrivals();
    // Waits until `count` callers have arrived; false when kStuck passed.
    bool WaitForArrivals(int count);
    // Waits until `condition`, given the arrivals so far, holds; the threads
    // that change anything else it reads call Notify() afterwards. False
    // when kStuck passed.
    bool WaitUntil(const std::function<bool(int arrivals)>& condition);
    void Notify();

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool closed_ = false;
    int arrivals_ = 0;
};

class FakePlatform : public Platform {
public:
    FakePlatform();
    virtual ~FakePlatform() {}

    // --- Platform ----------------------------------------------------------
    void SetControlText(int32_t controlId, const char* text) override;
    void SetWindowTitle(const char* text) override;
    void SetToolTipText(int32_t controlId, const char* text) override;
    void PostToWindow(uint32_t message) override;
    void OpenGuideWindow() override;
    void CloseGuideWindow() override;
    GuideViewState* GuideView() override { return guideView.get(); }
    void RedrawGuide() override;
    void SetGuideControlText(int32_t controlId, const char* text) override;
    void EnableGuideControl(int32_t controlId, bool enabled) override;
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

    // --- Test controls (call before the code under test runs) ---------------
    bool window = true;                          // the dialog exists
    // GetWindowPlacement(): the window rectangle's left/top, its show state
    // and the restored rectangle's left/top (screen pixels).
    int32_t windowLeft = 0, windowTop = 0;
    WindowShow windowShow = WindowShow::kNormal;
    int32_t normalLeft = 0, normalTop = 0;
    std::string executablePath = "C:\\Host\\host.exe";
    // A path longer than the buffer is always reported cut short; this makes
    // one that fills the buffer exactly count as cut short too.
    bool executablePathCut = false;
    LocalTime localTime = {2026, 12, 8, 22, 15, 0};
    // Settings as "SECTION/Key" -> value; a missing key reads the default.
    std::map<std::string, std::string> settings;
    // Paths whose creation fails (exact match), or every creation.
    std::set<std::string> failCreate;
    bool failAllCreates = false;
    // The n-th WriteFile call (1-based, counted over the fake's life) fails;
    // 0 = none. failWritesFrom makes that call and all later ones fail.
    int failWriteAt = 0;
    bool failWritesFrom = false;
    // The files replaced whole live in `files` as well, beside these: the
    // folders that exist (a path among them is a folder, not a file), the
    // folders (with their trailing backslash) where nothing can be created,
    // renamed or deleted, and the faults of a disk. diskFreeBytes >= 0 is
    // the room left: a write that does not fit stores what fits and fails,
    // as a full disk does. readChunk > 0 cuts every read to that many bytes.
    std::set<std::string> directories;
    std::set<std::string> readOnlyFolders;
    std::set<std::string> failOpen;  // OpenReadFile fails (not "not found")
    int64_t diskFreeBytes = -1;
    bool failFlush = false;
    bool failRename = false;
    bool failReads = false;
    uint32_t readChunk = 0;
    std::string localAppData = "C:\\Users\\viewer\\AppData\\Local\\";  // "" none
    // Blocking controls: CreateRecordingFile and WriteFile wait at their
    // gate; SetControlText and SetWindowTitle wait at windowGate when called
    // from a thread other than windowThread, as a cross-thread
    // SetDlgItemTextA waits until the window's thread serves it.
    FakeGate createGate;
    FakeGate writeGate;
    FakeGate windowGate;
    // Every change of a control of the viewer, the guide or the caption
    // window waits here, on whatever thread: a window handler stopped
    // halfway while the test does what may happen meanwhile (the plug-in
    // object deleted on another thread).
    FakeGate handlerGate;
    // The thread that owns the dialog; the one that made the fake unless
    // the test says otherwise.
    std::thread::id windowThread;

    // Lock contract probe: with probeState set, every control change
    // (SetControlText, SetWindowTitle, SetToolTipText) is checked and a
    // violation recorded when PluginState::lock is held at that moment or
    // the caller is not windowThread; every file call (CreateRecordingFile,
    // WriteFile, CloseFile and the settings calls), on whatever thread, when
    // the lock is held.
    // "Held" is tested by a short-lived thread's try_lock, so a probed test
    // lets no other thread hold the lock meanwhile.
    PluginState* probeState = nullptr;
    std::vector<std::string> violations;

    // --- What happened (read after; lock `mutex` if threads still run) ------
    std::mutex mutex;
    std::map<int32_t, std::string> controlTexts;            // last text per control
    std::vector<std::pair<int32_t, std::string>> controlHistory;
    // The caption window: whether it exists, its controls' texts, and how
    // often it was opened and closed. captionWindowFails makes opening fail.
    bool captionWindowFails = false;
    bool captionWindow = false;
    int captionOpens = 0, captionCloses = 0;
    std::map<int32_t, std::string> captionTexts;
    std::vector<std::pair<int32_t, std::string>> captionHistory;
    std::string windowTitle;
    std::vector<std::string> titleHistory;
    std::map<int32_t, std::string> toolTips;                // last tooltip per control
    std::vector<std::pair<int32_t, std::string>> toolTipHistory;
    std::deque<uint32_t> windowQueue;                      // posted, not yet handled
    std::vector<uint32_t> windowPosted;                    // every message posted
    std::vector<std::pair<uint32_t, uint32_t>> ownerPosted;  // message, wParam
    std::vector<std::pair<std::string, std::string>> errors; // text, caption
    std::vector<int32_t> tuned;
    int closedCalls = 0;
    // The guide window: its state (as the window keeps it), opens asked
    // for, redraws asked for, its controls' texts and states.
    std::unique_ptr<GuideViewState> guideView{new GuideViewState};
    int guideOpens = 0;
    int guideCloses = 0;  // CloseGuideWindow calls
    int guideRedraws = 0;
    std::map<int32_t, std::string> guideTexts;
    std::map<int32_t, bool> guideEnabled;
    std::map<std::string, std::vector<uint8_t>> files;     // path -> content
    std::vector<std::string> createdPaths;                 // every creation attempt
    std::map<FileHandle, std::string> openFiles;
    std::map<FileHandle, size_t> readPositions;  // the open files opened for reading
    std::vector<std::pair<std::string, std::string>> renames;  // done, from -> to
    std::vector<std::string> removedPaths;                     // deleted
    int flushCalls = 0;
    int readCalls = 0;
    int writeCalls = 0;
    int writesToClosedFile = 0;   // a write through a handle that is not open
    int failedWrites = 0;         // writes made to fail by failWriteAt
    int closeOfClosedFile = 0;
    int closeCalls = 0;           // every CloseFile call
    std::vector<std::pair<std::string, std::string>> settingWrites;  // "SECTION/Key", value
    std::vector<std::string> settingsPathsUsed;  // path argument of every settings read and write

    // Text of a caption window control, "" when never set.
    std::string CaptionText(int32_t controlId);
    // Text of a control, "" when never set.
    std::string Text(int32_t controlId);
    // Tooltip of a control, "" when never set.
    std::string ToolTip(int32_t controlId);
    // Handles every posted message as the dialog procedure would, until the
    // queue is empty. Returns the number handled.
    int Pump(PluginState& state);
    // Takes one posted message, if any.
    bool PopMessage(uint32_t& message);

private:
    // True when some thread holds probeState->lock (probeState set).
    bool ProbedLockHeld();
    void ProbeControlChange(const char* call, int32_t controlId);
    void ProbeFileCall(const char* call);

    FileHandle nextHandle_ = 100;
};

#endif
