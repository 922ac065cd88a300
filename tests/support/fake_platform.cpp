#include "tests/support/fake_platform.h"

#include <cstdlib>
#include <cstring>
#include <limits>

#include "plugin/plugin_state.h"
#include "ui/viewer.h"

void FakeGate::Close() {
    std::lock_guard<std::mutex> g(mutex_);
    closed_ = true;
}

void FakeGate::Open() {
    std::lock_guard<std::mutex> g(mutex_);
    closed_ = false;
    changed_.notify_all();
}

void FakeGate::Pass() {
    std::unique_lock<std::mutex> g(mutex_);
    if (!closed_) return;
    ++arrivals_;
    changed_.notify_all();
    changed_.wait(g, [this] { return !closed_; });
}

int FakeGate::Arrivals() {
    std::lock_guard<std::mutex> g(mutex_);
    return arrivals_;
}

bool FakeGate::WaitForArrivals(int count) {
    std::unique_lock<std::mutex> g(mutex_);
    return changed_.wait_for(g, kStuck, [this, count] { return arrivals_ >= count; });
}

bool FakeGate::WaitUntil(const std::function<bool(int arrivals)>& condition) {
    std::unique_lock<std::mutex> g(mutex_);
    return changed_.wait_for(g, kStuck, [this, &condition] { return condition(arrivals_); });
}

void FakeGate::Notify() {
    std::lock_guard<std::mutex> g(mutex_);
    changed_.notify_all();
}

FakePlatform::FakePlatform() : windowThread(std::this_thread::get_id()) {}

bool FakePlatform::ProbedLockHeld() {
    // try_lock from the owning thread is undefined for std::mutex: a thread
    // of its own asks instead.
    bool held = false;
    std::thread checker([this, &held] {
        if (probeState->lock.try_lock()) {
            probeState->lock.unlock();
        } else {
            held = true;
        }
    });
    checker.join();
    return held;
}

void FakePlatform::ProbeFileCall(const char* call) {
    if (probeState == nullptr || !ProbedLockHeld()) return;
    std::lock_guard<std::mutex> g(mutex);
    violations.push_back(std::string(call) + " with the lock held");
}

void FakePlatform::ProbeControlChange(const char* call, int32_t controlId) {
    if (probeState == nullptr) return;
    const bool held = ProbedLockHeld();
    const bool foreign = std::this_thread::get_id() != windowThread;
    if (!held && !foreign) return;
    std::string v = std::string(call) + "(" + std::to_string(controlId) + ")";
    if (held) v += " with the lock held";
    if (foreign) v += " off the window's thread";
    std::lock_guard<std::mutex> g(mutex);
    violations.push_back(v);
}

void FakePlatform::SetControlText(int32_t controlId, const char* text) {
    ProbeControlChange("SetControlText", controlId);
    handlerGate.Pass();
    if (std::this_thread::get_id() != windowThread) windowGate.Pass();
    std::lock_guard<std::mutex> g(mutex);
    if (!window) return;
    controlTexts[controlId] = text;
    controlHistory.emplace_back(controlId, text);
}

void FakePlatform::SetWindowTitle(const char* text) {
    ProbeControlChange("SetWindowTitle", 0);
    handlerGate.Pass();
    if (std::this_thread::get_id() != windowThread) windowGate.Pass();
    std::lock_guard<std::mutex> g(mutex);
    if (!window) return;
    windowTitle = text;
    titleHistory.push_back(text);
}

void FakePlatform::SetToolTipText(int32_t controlId, const char* text) {
    ProbeControlChange("SetToolTipText", controlId);
    handlerGate.Pass();
    if (std::this_thread::get_id() != windowThread) windowGate.Pass();
    std::lock_guard<std::mutex> g(mutex);
    if (!window) return;
    toolTips[controlId] = text;
    toolTipHistory.emplace_back(controlId, text);
}

void FakePlatform::OpenGuideWindow() {
    std::lock_guard<std::mutex> g(mutex);
    ++guideOpens;
}

void FakePlatform::CloseGuideWindow() {
    std::lock_guard<std::mutex> g(mutex);
    ++guideCloses;
}

void FakePlatform::RedrawGuide() {
    ProbeControlChange("RedrawGuide", 0);
    handlerGate.Pass();
    std::lock_guard<std::mutex> g(mutex);
    ++guideRedraws;
}

void FakePlatform::SetGuideControlText(int32_t controlId, const char* text) {
    ProbeControlChange("SetGuideControlText", controlId);
    handlerGate.Pass();
    std::lock_guard<std::mutex> g(mutex);
    guideTexts[controlId] = text;
}

void FakePlatform::EnableGuideControl(int32_t controlId, bool enabled) {
    ProbeControlChange("EnableGuideControl", controlId);
    handlerGate.Pass();
    std::lock_guard<std::mutex> g(mutex);
    guideEnabled[controlId] = enabled;
}

void FakePlatform::PostToWindow(uint32_t message) {
    std::lock_guard<std::mutex> g(mutex);
    if (!window) return;
    windowQueue.push_back(message);
    windowPosted.push_back(message);
}

void FakePlatform::PostToOwner(uint32_t message, uint32_t wParam) {
    std::lock_guard<std::mutex> g(mutex);
    if (!window) return;
    ownerPosted.emplace_back(message, wParam);
}

namespace {

// The far edge of a window at `from`, `size` wide: a saved position near
// the top of the int32_t range (the file is the user's) ends at that top
// rather than wrapping round to a negative edge.
int32_t FarEdge(int32_t from, int32_t size) {
    return from > std::numeric_limits<int32_t>::max() - size ? std::numeric_limits<int32_t>::max() : from + size;
}

}  // namespace

bool FakePlatform::GetWindowPlacement(WindowPlacement* placement) {
    // The dialog's size plays no part in what is saved.
    const int32_t kWidth = 300;
    const int32_t kHeight = 200;
    std::lock_guard<std::mutex> g(mutex);
    if (!window) return false;
    placement->show = windowShow;
    placement->window =
        ScreenRect{windowLeft, windowTop, FarEdge(windowLeft, kWidth), FarEdge(windowTop, kHeight)};
    placement->normal =
        ScreenRect{normalLeft, normalTop, FarEdge(normalLeft, kWidth), FarEdge(normalTop, kHeight)};
    return true;
}

void FakePlatform::ShowError(const char* text, const char* caption) {
    std::lock_guard<std::mutex> g(mutex);
    errors.emplace_back(text, caption);
}

void FakePlatform::TuneChannel(int32_t channel) {
    std::lock_guard<std::mutex> g(mutex);
    tuned.push_back(channel);
}

void FakePlatform::PluginClosed() {
    std::lock_guard<std::mutex> g(mutex);
    ++closedCalls;
}

FileHandle FakePlatform::CreateRecordingFile(const char* path) {
    ProbeFileCall("CreateRecordingFile");
    createGate.Pass();
    std::lock_guard<std::mutex> g(mutex);
    createdPaths.push_back(path);
    if (failAllCreates || failCreate.count(path)) return kInvalidFileHandle;
    FileHandle h = nextHandle_++;
    files[path].clear();  // CREATE_ALWAYS truncates
    openFiles[h] = path;
    return h;
}

bool FakePlatform::WriteFile(FileHandle file, const uint8_t* data, uint32_t size) {
    ProbeFileCall("WriteFile");
    writeGate.Pass();
    std::lock_guard<std::mutex> g(mutex);
    ++writeCalls;
    auto it = openFiles.find(file);
    if (it == openFiles.end()) {
        ++writesToClosedFile;
        return false;
    }
    if ((failWriteAt != 0 && writeCalls == failWriteAt) ||
        (failWritesFrom && failWriteAt != 0 && writeCalls >= failWriteAt)) {
        ++failedWrites;
        return false;
    }
    if (readPositions.count(file)) return false;
    std::vector<uint8_t>& f = files[it->second];
    if (diskFreeBytes >= 0 && static_cast<int64_t>(size) > diskFreeBytes) {
        // A full disk: what fits is stored, the write fails.
        f.insert(f.end(), data, data + diskFreeBytes);
        diskFreeBytes = 0;
        ++failedWrites;
        return false;
    }
    if (diskFreeBytes >= 0) diskFreeBytes -= size;
    f.insert(f.end(), data, data + size);
    return true;
}

void FakePlatform::CloseFile(FileHandle file) {
    ProbeFileCall("CloseFile");
    std::lock_guard<std::mutex> g(mutex);
    ++closeCalls;
    readPositions.erase(file);
    if (openFiles.erase(file) == 0) ++closeOfClosedFile;
}

// The folder of a path, up to and including its last backslash.
static std::string FolderOf(const std::string& path) {
    const size_t cut = path.rfind('\\');
    return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

FileHandle FakePlatform::OpenReadFile(const char* path, FileOpenError* error) {
    ProbeFileCall("OpenReadFile");
    std::lock_guard<std::mutex> g(mutex);
    if (directories.count(path)) {
        *error = FileOpenError::kIsDirectory;
        return kInvalidFileHandle;
    }
    if (failOpen.count(path)) {
        *error = FileOpenError::kFailed;
        return kInvalidFileHandle;
    }
    if (!files.count(path)) {
        *error = FileOpenError::kNotFound;
        return kInvalidFileHandle;
    }
    *error = FileOpenError::kNone;
    FileHandle h = nextHandle_++;
    openFiles[h] = path;
    readPositions[h] = 0;
    return h;
}

int32_t FakePlatform::ReadFile(FileHandle file, uint8_t* data, uint32_t size) {
    ProbeFileCall("ReadFile");
    std::lock_guard<std::mutex> g(mutex);
    ++readCalls;
    auto position = readPositions.find(file);
    if (failReads || position == readPositions.end()) return -1;
    const std::vector<uint8_t>& f = files[openFiles[file]];
    size_t n = f.size() > position->second ? f.size() - position->second : 0;
    if (n > size) n = size;
    if (readChunk > 0 && n > readChunk) n = readChunk;
    if (n > 0) std::memcpy(data, f.data() + position->second, n);
    position->second += n;
    return static_cast<int32_t>(n);
}

FileHandle FakePlatform::CreateReplacementFile(const char* path) {
    ProbeFileCall("CreateReplacementFile");
    std::lock_guard<std::mutex> g(mutex);
    createdPaths.push_back(path);
    if (failAllCreates || failCreate.count(path) || directories.count(path) ||
        readOnlyFolders.count(FolderOf(path))) {
        return kInvalidFileHandle;
    }
    FileHandle h = nextHandle_++;
    files[path].clear();
    openFiles[h] = path;
    return h;
}

bool FakePlatform::FlushFile(FileHandle file) {
    ProbeFileCall("FlushFile");
    std::lock_guard<std::mutex> g(mutex);
    ++flushCalls;
    return !failFlush && openFiles.count(file) != 0;
}

bool FakePlatform::RenameFileOver(const char* from, const char* to) {
    ProbeFileCall("RenameFileOver");
    std::lock_guard<std::mutex> g(mutex);
    if (failRename || !files.count(from) || directories.count(to) ||
        readOnlyFolders.count(FolderOf(from)) || readOnlyFolders.count(FolderOf(to))) {
        return false;
    }
    for (const auto& open : openFiles) {
        if (open.second == from || open.second == to) return false;  // shared with no one
    }
    std::vector<uint8_t> content;
    content.swap(files[from]);
    files.erase(from);
    files[to].swap(content);
    renames.emplace_back(from, to);
    return true;
}

bool FakePlatform::RemoveFile(const char* path) {
    ProbeFileCall("RemoveFile");
    std::lock_guard<std::mutex> g(mutex);
    if (!files.count(path) || readOnlyFolders.count(FolderOf(path))) return false;
    files.erase(path);
    removedPaths.push_back(path);
    return true;
}

bool FakePlatform::MakeFolder(const char* path) {
    ProbeFileCall("MakeFolder");
    std::lock_guard<std::mutex> g(mutex);
    std::string folder = path;
    if (directories.count(folder)) return true;
    // The parent must exist; a path ending in a backslash names the folder
    // without it.
    std::string bare = folder;
    if (!bare.empty() && bare.back() == '\\') bare.pop_back();
    if (readOnlyFolders.count(FolderOf(bare)) || files.count(bare)) return false;
    directories.insert(folder);
    return true;
}

uint32_t FakePlatform::GetLocalAppDataFolder(char* out, uint32_t size) {
    std::lock_guard<std::mutex> g(mutex);
    if (size == 0) return 0;
    out[0] = '\0';
    if (localAppData.empty() || localAppData.size() + 1 > size) return 0;
    std::memcpy(out, localAppData.c_str(), localAppData.size() + 1);
    return static_cast<uint32_t>(localAppData.size());
}

static std::string SettingKey(const char* section, const char* key) {
    return std::string(section) + "/" + key;
}

int32_t FakePlatform::ReadSettingInt(const char* section, const char* key, int32_t defaultValue,
                                     const char* path) {
    ProbeFileCall("ReadSettingInt");
    std::lock_guard<std::mutex> g(mutex);
    settingsPathsUsed.push_back(path);
    auto it = settings.find(SettingKey(section, key));
    if (it == settings.end()) return defaultValue;
    // Like GetPrivateProfileIntA: leading decimal digits, optional sign.
    return static_cast<int32_t>(std::strtol(it->second.c_str(), nullptr, 10));
}

uint32_t FakePlatform::ReadSettingString(const char* section, const char* key,
                                         const char* defaultValue, char* out, uint32_t size,
                                         const char* path) {
    ProbeFileCall("ReadSettingString");
    std::lock_guard<std::mutex> g(mutex);
    settingsPathsUsed.push_back(path);
    if (size == 0) return 0;
    auto it = settings.find(SettingKey(section, key));
    const std::string value = it == settings.end() ? std::string(defaultValue) : it->second;
    uint32_t n = static_cast<uint32_t>(value.size());
    if (n > size - 1) n = size - 1;
    std::memcpy(out, value.data(), n);
    out[n] = '\0';
    return n;
}

void FakePlatform::WriteSettingString(const char* section, const char* key, const char* value,
                                      const char* path) {
    ProbeFileCall("WriteSettingString");
    std::lock_guard<std::mutex> g(mutex);
    settingsPathsUsed.push_back(path);
    settings[SettingKey(section, key)] = value;
    settingWrites.emplace_back(SettingKey(section, key), value);
}

uint32_t FakePlatform::GetHostExecutablePath(char* out, uint32_t size, bool* whole) {
    std::lock_guard<std::mutex> g(mutex);
    *whole = false;
    if (size == 0) return 0;
    uint32_t n = static_cast<uint32_t>(executablePath.size());
    *whole = n > 0 && n <= size - 1 && !(n == size - 1 && executablePathCut);
    if (n > size - 1) n = size - 1;  // GetModuleFileNameA truncates
    std::memcpy(out, executablePath.data(), n);
    out[n] = '\0';
    return n;
}

LocalTime FakePlatform::GetLocalTime() {
    std::lock_guard<std::mutex> g(mutex);
    return localTime;
}

std::string FakePlatform::Text(int32_t controlId) {
    std::lock_guard<std::mutex> g(mutex);
    auto it = controlTexts.find(controlId);
    return it == controlTexts.end() ? std::string() : it->second;
}

std::string FakePlatform::ToolTip(int32_t controlId) {
    std::lock_guard<std::mutex> g(mutex);
    auto it = toolTips.find(controlId);
    return it == toolTips.end() ? std::string() : it->second;
}

bool FakePlatform::PopMessage(uint32_t& message) {
    std::lock_guard<std::mutex> g(mutex);
    if (windowQueue.empty()) return false;
    message = windowQueue.front();
    windowQueue.pop_front();
    return true;
}

int FakePlatform::Pump(PluginState& state) {
    int n = 0;
    uint32_t message;
    while (PopMessage(message)) {
        ViewerPrivateMessage(state, message);
        ++n;
    }
    return n;
}

bool FakePlatform::OpenCaptionWindow() {
    ProbeControlChange("OpenCaptionWindow", 0);
    std::lock_guard<std::mutex> g(mutex);
    if (!window || captionWindowFails) return false;
    captionWindow = true;
    ++captionOpens;
    return true;
}

void FakePlatform::CloseCaptionWindow() {
    ProbeControlChange("CloseCaptionWindow", 0);
    std::lock_guard<std::mutex> g(mutex);
    if (!captionWindow) return;
    captionWindow = false;
    ++captionCloses;
}

void FakePlatform::SetCaptionControlText(int32_t controlId, const char* text) {
    ProbeControlChange("SetCaptionControlText", controlId);
    handlerGate.Pass();
    std::lock_guard<std::mutex> g(mutex);
    if (!captionWindow) return;
    captionTexts[controlId] = text;
    captionHistory.emplace_back(controlId, text);
}

std::string FakePlatform::CaptionText(int32_t controlId) {
    std::lock_guard<std::mutex> g(mutex);
    auto it = captionTexts.find(controlId);
    return it == captionTexts.end() ? std::string() : it->second;
}
