// kestrin-host: a viewer host for Kestrin.dll. It loads the plug-in as the
// host application does, gives it an owner window, plays a transport-stream
// file into it from a stream thread while the main thread runs the windows,
// and can press the viewer's buttons on a script, write the window's texts
// (UTF-8) and a picture of it, check the plug-in's recordings, and soak the
// plug-in with millions of packets of damaged data.
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tools/host/host_log.h"
#include "tools/host/plugin_host.h"
#include "tools/host/soak_source.h"
#include "tools/host/stream_feeder.h"
#include "tools/host/window_capture.h"

namespace {

enum ExitCode {
    kExitOk = 0,
    kExitUsage = 1,
    kExitCannotRead = 2,   // the stream file cannot be read
    kExitNoPlugin = 3,     // the DLL cannot be loaded or refuses the host
    kExitCheckFailed = 4,  // a soak or recording check failed
};

const int kIdCancel = 2;
const int kIdOneSegRecord = 1023;
const char kIdleRecordLabel[] = "1\x81\x9B";  // "1○" in Shift_JIS

void PrintUsage(std::FILE* to) {
    std::fputs(
        "Usage: kestrin-host [options] STREAM.ts\n"
        "\n"
        "Loads Kestrin.dll as a viewer host does (GetIface2, SetHost, CreatePluginWindow\n"
        "owned by the host's window, OnChannelChange), feeds STREAM.ts to OnStreamData\n"
        "from a stream thread while the main thread runs the windows, then writes the\n"
        "viewer's texts as UTF-8 and releases the plug-in.\n"
        "\n"
        "Options:\n"
        "  --dll PATH           the plug-in (default: Kestrin.dll beside this program)\n"
        "  --channel N          physical channel reported to the plug-in (default 27)\n"
        "  --service ID         service_id reported (default: the PAT's programme whose\n"
        "                       PMT is on PID 0x1FC8, the one-segment service)\n"
        "  --chunk BYTES        bytes per OnStreamData call (default 12032 = 188 x 64)\n"
        "  --fast               feed as fast as possible (default: at the stream's pace,\n"
        "                       from its PCR)\n"
        "  --rate PACKETS       pace at this many packets per second instead of the PCR\n"
        "  --loop N             play the file N times\n"
        "  --press AT:ID        after AT packets, press the viewer's control ID\n"
        "                       (WM_COMMAND posted to the dialog); AT may be \"end\"\n"
        "  --at AT:ACTION       after AT packets (or at \"end\"), one of:\n"
        "                         press:ID          as --press\n"
        "                         texts             write the window's texts\n"
        "                         picture:FILE.bmp  write a picture of the window\n"
        "                         tune:CH:SERVICE   call OnChannelChange(CH, SERVICE)\n"
        "  --texts FILE         where the texts go (default: standard output)\n"
        "  --picture FILE.bmp   a picture of the window at the end (24-bit BMP)\n"
        "  --hold MS            keep pumping messages MS milliseconds after the stream\n"
        "                       ends, before the end actions (default 300)\n"
        "  --record-dir DIR     check every .ts file in DIR at the end: size, packets,\n"
        "                       whole packets (size a multiple of 188)\n"
        "  --no-close           do not close the viewer (IDCANCEL) before releasing it\n"
        "  --log FILE           the host's log (default: standard error)\n"
        "\n"
        "Soak:\n"
        "  --soak PACKETS       instead of playing the file, feed at least PACKETS packets\n"
        "                       of its packets mixed with damage (random bytes, lengths\n"
        "                       that are not multiples of 188, cut sections, repeated\n"
        "                       continuity counters, misaligned packets, mutated PSI/SI),\n"
        "                       with service changes, recording and view toggles, record\n"
        "                       requests and channel buttons; as fast as possible unless\n"
        "                       --rate is given. Writes its own settings (channels, the\n"
        "                       recording directory DIR of --record-dir, default \"rec\")\n"
        "                       into Kestrin.ini beside this program. Logs memory use\n"
        "                       and checks that the window's texts are Shift_JIS.\n"
        "  --seed N             the soak's random seed (default 1)\n"
        "  --sample PACKETS     packets between memory samples (default: a twentieth)\n"
        "\n"
        "Exit codes: 0 success, 1 bad command line, 2 the stream cannot be read,\n"
        "3 the plug-in cannot be loaded or refuses the host, 4 a check failed.\n",
        to);
}

bool ParseNumber(const std::string& text, uint64_t* value) {
    if (text.empty()) return false;
    char* end = nullptr;
    const unsigned long long v = std::strtoull(text.c_str(), &end, 0);
    if (end == nullptr || *end != '\0') return false;
    *value = v;
    return true;
}

bool ParseSigned(const std::string& text, int32_t* value) {
    if (text.empty()) return false;
    char* end = nullptr;
    const long v = std::strtol(text.c_str(), &end, 0);
    if (end == nullptr || *end != '\0') return false;
    *value = static_cast<int32_t>(v);
    return true;
}

struct ScriptAction {
    enum Kind { kPress, kTexts, kPicture, kTune };
    uint64_t at = 0;
    bool atEnd = false;
    Kind kind = kPress;
    int id = 0;
    int32_t channel = 0;
    int32_t service = 0;
    std::string path;
};

// "AT:press:ID", "AT:texts", "AT:picture:FILE", "AT:tune:CH:SERVICE".
bool ParseAction(const std::string& text, ScriptAction* action) {
    const size_t colon = text.find(':');
    if (colon == std::string::npos) return false;
    const std::string at = text.substr(0, colon);
    if (at == "end") {
        action->atEnd = true;
    } else if (!ParseNumber(at, &action->at)) {
        return false;
    }
    const std::string rest = text.substr(colon + 1);
    const size_t colon2 = rest.find(':');
    const std::string name = rest.substr(0, colon2);
    const std::string argument = colon2 == std::string::npos ? std::string() : rest.substr(colon2 + 1);
    uint64_t number = 0;
    if (name == "press") {
        action->kind = ScriptAction::kPress;
        if (!ParseNumber(argument, &number) || number > 0xFFFF) return false;
        action->id = static_cast<int>(number);
        return true;
    }
    if (name == "texts") {
        action->kind = ScriptAction::kTexts;
        return argument.empty();
    }
    if (name == "picture") {
        action->kind = ScriptAction::kPicture;
        action->path = argument;
        return !argument.empty();
    }
    if (name == "tune") {
        action->kind = ScriptAction::kTune;
        const size_t colon3 = argument.find(':');
        if (colon3 == std::string::npos) return false;
        return ParseSigned(argument.substr(0, colon3), &action->channel) &&
               ParseSigned(argument.substr(colon3 + 1), &action->service);
    }
    return false;
}

const char* ControlName(int id) {
    switch (id) {
        case 2: return "IDCANCEL";
        case 1007: return "close";
        case 1021: return "IDC_PRESENT_FOLLOWING";
        case 1022: return "IDC_RECORD_REQUEST";
        case 1023: return "IDC_ONESEG_RECORD";
        default: break;
    }
    if (id >= 1008 && id <= 1020 && id != 1011) return "channel button";
    return "control";
}

std::string ProgramDirectory() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    char* cut = std::strrchr(path, '\\');
    if (cut != nullptr) cut[1] = '\0';
    return path;
}

std::string FullPath(const std::string& path) {
    char full[MAX_PATH] = {};
    const DWORD n = GetFullPathNameA(path.c_str(), MAX_PATH, full, nullptr);
    return n > 0 && n < MAX_PATH ? std::string(full) : path;
}

struct MemorySample {
    uint64_t packets = 0;
    SIZE_T privateBytes = 0;
    SIZE_T workingSet = 0;
};

// Committed private memory of the process, region by region. Wine leaves
// PrivateUsage at 0; the walk gives the same figure on Windows and Wine.
SIZE_T CommittedPrivateBytes() {
    SIZE_T total = 0;
    const uint8_t* at = nullptr;
    MEMORY_BASIC_INFORMATION region;
    while (VirtualQuery(at, &region, sizeof region) == sizeof region) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) total += region.RegionSize;
        const uint8_t* next = static_cast<const uint8_t*>(region.BaseAddress) + region.RegionSize;
        if (next <= at) break;
        at = next;
    }
    return total;
}

MemorySample ReadMemory(uint64_t packets) {
    MemorySample sample;
    sample.packets = packets;
    PROCESS_MEMORY_COUNTERS_EX counters = {};
    counters.cb = sizeof counters;
    if (GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                             sizeof counters)) {
        sample.privateBytes = counters.PrivateUsage;
        sample.workingSet = counters.WorkingSetSize;
    }
    if (sample.privateBytes == 0) sample.privateBytes = CommittedPrivateBytes();
    return sample;
}

struct RecordingCheck {
    int files = 0;
    int notWhole = 0;
    uint64_t packets = 0;
};

// Every .ts file of the directory: its size must be a multiple of 188.
RecordingCheck CheckRecordings(const std::string& directory) {
    RecordingCheck check;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((directory + "\\*.ts").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        HostLog("recordings in %s: none", directory.c_str());
        return check;
    }
    do {
        const uint64_t size = (static_cast<uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
        const bool whole = size % 188 == 0;
        ++check.files;
        check.packets += size / 188;
        if (!whole) ++check.notWhole;
        HostLog("recording %s\\%s: %llu bytes, %llu packets, %s", directory.c_str(), found.cFileName,
                static_cast<unsigned long long>(size), static_cast<unsigned long long>(size / 188),
                whole ? "whole packets (size % 188 == 0)" : "NOT whole packets");
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return check;
}

void DeleteSoakRecordings(const std::string& directory) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((directory + "\\soak-*.ts").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        DeleteFileA((directory + "\\" + found.cFileName).c_str());
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

struct Options {
    std::string stream;
    std::string dll;
    int32_t channel = 27;
    int32_t service = -1;
    bool serviceGiven = false;
    FeedOptions feed;
    std::vector<ScriptAction> actions;
    std::string textsPath;
    std::string picturePath;
    uint32_t holdMs = 300;
    std::string recordDir;
    bool close = true;
    std::string logPath;
};

// Host commands posted by the stream thread to the owner window.
enum HostCommand {
    kCommandRunActions = 1,
    kCommandSample = 2,
    kCommandToggleRecording = 3,
    kCommandChangeService = 4,
    kCommandCheckTexts = 5,
};

class HostSession final : public WindowThreadLink {
public:
    explicit HostSession(Options& options)
        : options_(options), dialog_(nullptr), done_(CreateEventA(nullptr, FALSE, FALSE, nullptr)),
          nextAction_(0), pendingPackets_(0), texts_(nullptr), textFailures_(0), textChecks_(0),
          recordingNumber_(0) {}
    ~HostSession() {
        if (texts_ != nullptr && texts_ != stdout) std::fclose(texts_);
        CloseHandle(done_);
    }

    int Run();

    // WindowThreadLink, called on the stream thread.
    uint64_t NextActionAt() override {
        return nextAction_ < timed_.size() ? timed_[nextAction_].at : UINT64_MAX;
    }
    void RunActions(uint64_t packets) override { AskAndWait(kCommandRunActions, packets); }
    void Sample(uint64_t packets) override { AskAndWait(kCommandSample, packets); }
    void ToggleRecording() override {
        PostMessageA(owner_.Handle(), WM_HOST_COMMAND, kCommandToggleRecording, 0);
    }
    void ChangeServiceOnWindowThread(int32_t channel, int32_t service) override {
        const LPARAM packed = static_cast<LPARAM>((static_cast<uint32_t>(channel & 0xFFFF) << 16) |
                                                  static_cast<uint32_t>(service & 0xFFFF));
        PostMessageA(owner_.Handle(), WM_HOST_COMMAND, kCommandChangeService, packed);
    }
    void PressButton(int id) override {
        HostLog("stream thread: press %s (%d)", ControlName(id), id);
        PostPress(id);
        // Checked once the press has been handled.
        PostMessageA(owner_.Handle(), WM_HOST_COMMAND, kCommandCheckTexts, 0);
    }

    static void OnCommand(WPARAM command, LPARAM argument, void* context) {
        static_cast<HostSession*>(context)->Command(command, argument);
    }

private:
    void AskAndWait(HostCommand command, uint64_t packets) {
        pendingPackets_ = packets;
        if (PostMessageA(owner_.Handle(), WM_HOST_COMMAND, command, 0)) WaitForSingleObject(done_, INFINITE);
    }

    void PostPress(int id) {
        if (dialog_ == nullptr) return;
        // As a click does it: the button's id and BN_CLICKED, the button
        // itself as lParam.
        PostMessageA(dialog_, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(dialog_, id)));
    }

    void Command(WPARAM command, LPARAM argument) {
        switch (command) {
            case kCommandRunActions:
                // The sections posted before this point are shown first.
                PumpMessages();
                while (nextAction_ < timed_.size() && timed_[nextAction_].at <= pendingPackets_) {
                    RunAction(timed_[nextAction_], pendingPackets_);
                    ++nextAction_;
                }
                SetEvent(done_);
                break;
            case kCommandSample:
                TakeSample(pendingPackets_);
                SetEvent(done_);
                break;
            case kCommandToggleRecording:
                SoakToggleRecording();
                break;
            case kCommandChangeService: {
                const int32_t channel = static_cast<int16_t>((static_cast<uint32_t>(argument) >> 16) & 0xFFFF);
                const int32_t service = static_cast<int32_t>(static_cast<uint32_t>(argument) & 0xFFFF);
                plugin_.OnChannelChange(channel, service);
                CheckTexts();
                break;
            }
            case kCommandCheckTexts:
                CheckTexts();
                break;
            default:
                break;
        }
    }

    void RunAction(const ScriptAction& action, uint64_t packets) {
        char where[48];
        if (action.atEnd) {
            std::snprintf(where, sizeof where, "at the end");
        } else {
            std::snprintf(where, sizeof where, "at packet %llu", static_cast<unsigned long long>(packets));
        }
        switch (action.kind) {
            case ScriptAction::kPress:
                HostLog("%s: press %s (%d)", where, ControlName(action.id), action.id);
                PostPress(action.id);
                PumpMessages();
                break;
            case ScriptAction::kTexts: {
                HostLog("%s: window texts", where);
                WriteTexts(where);
                break;
            }
            case ScriptAction::kPicture:
                HostLog("%s: picture %s: %s", where, action.path.c_str(),
                        WriteWindowPicture(dialog_, action.path.c_str()) ? "written" : "FAILED");
                break;
            case ScriptAction::kTune:
                HostLog("%s: tune", where);
                plugin_.OnChannelChange(action.channel, action.service);
                PumpMessages();
                break;
        }
    }

    void WriteTexts(const char* where) {
        if (texts_ == nullptr) return;
        const std::string report = DescribeViewer(dialog_, where);
        std::fwrite(report.data(), 1, report.size(), texts_);
        std::fflush(texts_);
    }

    void TakeSample(uint64_t packets) {
        const MemorySample sample = ReadMemory(packets);
        samples_.push_back(sample);
        CheckTexts();
        HostLog("sample at packet %llu: committed private %lu KiB, working set %lu KiB",
                static_cast<unsigned long long>(packets), static_cast<unsigned long>(sample.privateBytes / 1024),
                static_cast<unsigned long>(sample.workingSet / 1024));
    }

    // Each soak recording gets a file of its own, named in the settings
    // before the press, so that every one of them can be checked at the end.
    void SoakToggleRecording() {
        if (dialog_ == nullptr) return;
        char label[16] = {};
        GetDlgItemTextA(dialog_, kIdOneSegRecord, label, sizeof label);
        if (std::strcmp(label, kIdleRecordLabel) == 0) {
            char name[32];
            std::snprintf(name, sizeof name, "soak-%04d.ts", ++recordingNumber_);
            WritePrivateProfileStringA("1Seg", "Filename", name, iniPath_.c_str());
        }
        HostLog("window thread: press IDC_ONESEG_RECORD (1023), label before \"%s\"", Cp932ToUtf8(label).c_str());
        // On the window's own thread a click reaches the dialog as a sent
        // BN_CLICKED notification: the press is done when this returns, and
        // the next toggle sees its label.
        SendMessageA(dialog_, WM_COMMAND, MAKEWPARAM(kIdOneSegRecord, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(dialog_, kIdOneSegRecord)));
        CheckTexts();
    }

    void CheckTexts() {
        ++textChecks_;
        textFailures_ += CheckViewerTexts(dialog_);
    }

    bool PrepareSoakSettings();
    int Finish(const FeedResult& result, bool loaded);

    Options& options_;
    LoadedPlugin plugin_;
    ViewerHostCallbacks callbacks_;
    OwnerWindow owner_;
    HWND dialog_;
    HANDLE done_;
    std::vector<ScriptAction> timed_;  // by packet count
    std::vector<ScriptAction> atEnd_;
    size_t nextAction_;
    volatile uint64_t pendingPackets_;
    std::FILE* texts_;
    std::vector<MemorySample> samples_;
    int textFailures_;
    int textChecks_;
    int recordingNumber_;
    std::string iniPath_;
    std::vector<uint8_t> stream_;
};

struct FeedThreadArgs {
    const FeedOptions* options;
    const std::vector<uint8_t>* stream;
    LoadedPlugin* plugin;
    WindowThreadLink* window;
    FeedResult* result;
};

DWORD WINAPI FeedThread(LPVOID param) {
    FeedThreadArgs* args = static_cast<FeedThreadArgs*>(param);
    FeedStream(*args->options, *args->stream, *args->plugin, *args->window, args->result);
    return 0;
}

bool HostSession::PrepareSoakSettings() {
    // The settings file the plug-in reads: beside the host's executable.
    std::string directory = options_.recordDir;
    if (directory.empty()) directory = "rec";
    CreateDirectoryA(directory.c_str(), nullptr);
    options_.recordDir = FullPath(directory);
    DeleteSoakRecordings(options_.recordDir);
    const char* channels[12] = {"27", "26", "25", "24", "22", "21", "16", "23", "28", "20", "18", "0"};
    for (int i = 0; i < 12; ++i) {
        const std::string key = "CH" + std::to_string(i + 1);
        WritePrivateProfileStringA("SERVICE", key.c_str(), channels[i], iniPath_.c_str());
    }
    WritePrivateProfileStringA("1Seg", "Directory", (options_.recordDir + "\\").c_str(), iniPath_.c_str());
    WritePrivateProfileStringA("1Seg", "Filename", "soak-0000.ts", iniPath_.c_str());
    WritePrivateProfileStringA(nullptr, nullptr, nullptr, iniPath_.c_str());
    HostLog("soak settings written to %s (recordings in %s)", iniPath_.c_str(), options_.recordDir.c_str());
    return true;
}

int HostSession::Run() {
    iniPath_ = ProgramDirectory() + "Kestrin.ini";
    for (const ScriptAction& a : options_.actions) (a.atEnd ? atEnd_ : timed_).push_back(a);
    std::stable_sort(timed_.begin(), timed_.end(),
                     [](const ScriptAction& x, const ScriptAction& y) { return x.at < y.at; });

    if (options_.textsPath.empty() || options_.textsPath == "-") {
        texts_ = stdout;
    } else {
        texts_ = std::fopen(options_.textsPath.c_str(), "wb");
        if (texts_ == nullptr) {
            HostLog("cannot write %s", options_.textsPath.c_str());
            return kExitUsage;
        }
    }

    // The soak keeps its source in memory; playing a file only needs its
    // beginning, for the PAT.
    const bool soak = options_.feed.soakPackets > 0;
    if (!ReadStreamFile(options_.stream, &stream_, soak ? (256ull << 20) : (4ull << 20)) || stream_.size() < 188) {
        HostLog("cannot read the stream %s", options_.stream.c_str());
        return kExitCannotRead;
    }
    if (!options_.serviceGiven) {
        options_.service = FindOneSegService(stream_);
        if (options_.service < 0) {
            HostLog("no programme with its PMT on PID 0x1FC8 in the first PAT; service 0 is reported");
            options_.service = 0;
        } else {
            HostLog("one-segment service from the PAT: 0x%04X", static_cast<unsigned>(options_.service));
        }
    }
    if (soak && !PrepareSoakSettings()) return kExitUsage;

    const std::string dll = options_.dll.empty() ? ProgramDirectory() + "Kestrin.dll" : options_.dll;
    FeedResult result;
    if (!plugin_.Load(dll.c_str())) return Finish(result, false);
    if (plugin_.SetHost(&callbacks_, kHostSdkVersion) != 1) return Finish(result, false);
    if (!owner_.Create()) return Finish(result, false);
    SetHostCommandHandler(&HostSession::OnCommand, this);
    plugin_.CreatePluginWindow(owner_.Handle());
    dialog_ = FindViewerDialog(owner_.Handle());
    HostLog("viewer dialog %p", static_cast<void*>(dialog_));
    PumpMessages();
    plugin_.OnChannelChange(options_.channel, options_.service);
    PumpMessages();
    if (soak) TakeSample(0);

    options_.feed.path = options_.stream;
    options_.feed.channel = options_.channel;
    options_.feed.oneSegService = options_.service;
    FeedThreadArgs args = {&options_.feed, &stream_, &plugin_, this, &result};
    HANDLE thread = CreateThread(nullptr, 0, FeedThread, &args, 0, nullptr);
    if (thread == nullptr) {
        HostLog("the stream thread cannot be started");
        return Finish(result, true);
    }
    HostLog("stream thread started: %s, %u bytes per call, %s", options_.stream.c_str(), options_.feed.chunkBytes,
            options_.feed.fast ? "as fast as possible"
                               : (options_.feed.packetRate > 0 ? "at the given packet rate" : "at the PCR's pace"));
    // The window thread: messages until the stream thread is done. Sent
    // messages (the plug-in setting texts from the stream thread) are
    // dispatched inside the wait too.
    for (;;) {
        const DWORD r = MsgWaitForMultipleObjectsEx(1, &thread, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        if (r == WAIT_OBJECT_0) break;
        PumpMessages();
    }
    CloseHandle(thread);
    HostLog("stream thread done: %llu calls, %llu bytes (%llu packets), %llu refused",
            static_cast<unsigned long long>(result.calls), static_cast<unsigned long long>(result.bytes),
            static_cast<unsigned long long>(result.bytes / 188), static_cast<unsigned long long>(result.refused));
    return Finish(result, true);
}

int HostSession::Finish(const FeedResult& result, bool loaded) {
    if (!loaded || dialog_ == nullptr) {
        plugin_.Release();
        return kExitNoPlugin;
    }
    // Let the window catch up with what the stream thread posted last.
    const DWORD until = GetTickCount() + options_.holdMs;
    do {
        PumpMessages();
        Sleep(10);
    } while (static_cast<int32_t>(until - GetTickCount()) > 0);

    const uint64_t packets = result.bytes / 188;
    // Actions timed beyond the stream's length run now, in their order.
    for (; nextAction_ < timed_.size(); ++nextAction_) {
        HostLog("packet %llu is beyond the stream (%llu packets): running its action now",
                static_cast<unsigned long long>(timed_[nextAction_].at), static_cast<unsigned long long>(packets));
        RunAction(timed_[nextAction_], packets);
    }
    for (const ScriptAction& action : atEnd_) RunAction(action, packets);
    WriteTexts("at the end");
    if (!options_.picturePath.empty()) {
        HostLog("picture %s: %s", options_.picturePath.c_str(),
                WriteWindowPicture(dialog_, options_.picturePath.c_str()) ? "written" : "FAILED");
    }
    const bool soak = options_.feed.soakPackets > 0;
    if (soak) TakeSample(packets);
    else CheckTexts();

    // The user closes the viewer (close box): the plug-in closes a running
    // recording and tells the host with PluginClosed.
    if (options_.close) {
        HostLog("press IDCANCEL (2): the user closes the viewer");
        PostPress(kIdCancel);
        PumpMessages();
    }
    RecordingCheck recordings;
    if (!options_.recordDir.empty()) recordings = CheckRecordings(FullPath(options_.recordDir));

    // The host removes the window, then deletes the plug-in.
    DestroyWindow(dialog_);
    dialog_ = nullptr;
    PumpMessages();
    plugin_.Release();

    int exitCode = kExitOk;
    if (result.readError) {
        HostLog("FAILED: the stream could not be read");
        exitCode = kExitCannotRead;
    }
    if (textFailures_ > 0) {
        HostLog("FAILED: %d window texts are not Shift_JIS", textFailures_);
        exitCode = kExitCheckFailed;
    }
    if (recordings.notWhole > 0) {
        HostLog("FAILED: %d recordings are not whole packets", recordings.notWhole);
        exitCode = kExitCheckFailed;
    }
    if (callbacks_.UnexpectedCalls() > 0) {
        HostLog("FAILED: the plug-in called IDTVHost slots other than 1 and 6");
        exitCode = kExitCheckFailed;
    }
    HostLog("host calls: TuneChannel %ld, PluginClosed %ld, WM_RECORD_REQUEST %ld", callbacks_.TuneCalls(),
            callbacks_.ClosedCalls(), owner_.RecordRequests());

    if (soak) {
        HostLog("soak summary (seed %llu):", static_cast<unsigned long long>(options_.feed.seed));
        HostLog("  %llu packets (%llu bytes) in %llu OnStreamData calls, %llu refused",
                static_cast<unsigned long long>(packets), static_cast<unsigned long long>(result.bytes),
                static_cast<unsigned long long>(result.calls), static_cast<unsigned long long>(result.refused));
        for (int k = 0; k < kDamageKindCount; ++k) {
            HostLog("  buffers %-32s %llu", SoakDamageName(static_cast<SoakDamage>(k)),
                    static_cast<unsigned long long>(result.damage[k]));
        }
        HostLog("  view toggles %llu, recording toggles %llu, service changes %llu, other presses %llu",
                static_cast<unsigned long long>(result.viewToggles),
                static_cast<unsigned long long>(result.recordToggles),
                static_cast<unsigned long long>(result.serviceChanges),
                static_cast<unsigned long long>(result.otherPresses));
        HostLog("  window texts checked %d times, %d not Shift_JIS", textChecks_, textFailures_);
        HostLog("  recordings: %d files, %llu packets, %d not whole packets", recordings.files,
                static_cast<unsigned long long>(recordings.packets), recordings.notWhole);
        if (samples_.size() >= 2) {
            // The first sample after the start, once buffers and windows
            // exist, against the last.
            const MemorySample& first = samples_.size() > 2 ? samples_[1] : samples_[0];
            const MemorySample& last = samples_.back();
            HostLog("  memory: start private %lu KiB; packet %llu private %lu KiB, working set %lu KiB; "
                    "end (packet %llu) private %lu KiB, working set %lu KiB; change %+ld KiB private",
                    static_cast<unsigned long>(samples_[0].privateBytes / 1024),
                    static_cast<unsigned long long>(first.packets), static_cast<unsigned long>(first.privateBytes / 1024),
                    static_cast<unsigned long>(first.workingSet / 1024), static_cast<unsigned long long>(last.packets),
                    static_cast<unsigned long>(last.privateBytes / 1024), static_cast<unsigned long>(last.workingSet / 1024),
                    static_cast<long>(last.privateBytes / 1024) - static_cast<long>(first.privateBytes / 1024));
        }
        HostLog("soak %s", exitCode == kExitOk ? "passed" : "FAILED");
    }
    return exitCode;
}

bool NeedArgument(int i, int argc, const char* option) {
    if (i + 1 < argc) return true;
    std::fprintf(stderr, "kestrin-host: %s needs a value\n", option);
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        uint64_t number = 0;
        if (arg == "--help" || arg == "-h") {
            PrintUsage(stdout);
            return kExitOk;
        } else if (arg == "--fast") {
            options.feed.fast = true;
        } else if (arg == "--no-close") {
            options.close = false;
        } else if (arg.size() > 2 && arg[0] == '-' && arg[1] == '-') {
            if (!NeedArgument(i, argc, arg.c_str())) return kExitUsage;
            const std::string value = argv[++i];
            bool ok = true;
            if (arg == "--dll") {
                options.dll = value;
            } else if (arg == "--channel") {
                ok = ParseSigned(value, &options.channel);
            } else if (arg == "--service") {
                ok = ParseSigned(value, &options.service);
                options.serviceGiven = true;
            } else if (arg == "--chunk") {
                ok = ParseNumber(value, &number) && number > 0 && number <= (16u << 20);
                options.feed.chunkBytes = static_cast<uint32_t>(number);
            } else if (arg == "--rate") {
                ok = ParseNumber(value, &number) && number > 0;
                options.feed.packetRate = static_cast<double>(number);
            } else if (arg == "--loop") {
                ok = ParseNumber(value, &number) && number > 0 && number < 1000000;
                options.feed.loops = static_cast<int>(number);
            } else if (arg == "--press" || arg == "--at") {
                ScriptAction action;
                ok = ParseAction(arg == "--press" ? std::string(value).insert(value.find(':') + 1, "press:") : value,
                                 &action) &&
                     (arg == "--at" || value.find(':') != std::string::npos);
                options.actions.push_back(action);
            } else if (arg == "--texts") {
                options.textsPath = value;
            } else if (arg == "--picture") {
                options.picturePath = value;
            } else if (arg == "--hold") {
                ok = ParseNumber(value, &number) && number < 600000;
                options.holdMs = static_cast<uint32_t>(number);
            } else if (arg == "--record-dir") {
                options.recordDir = value;
            } else if (arg == "--log") {
                options.logPath = value;
            } else if (arg == "--soak") {
                ok = ParseNumber(value, &number) && number > 0;
                options.feed.soakPackets = number;
            } else if (arg == "--seed") {
                ok = ParseNumber(value, &number);
                options.feed.seed = number;
            } else if (arg == "--sample") {
                ok = ParseNumber(value, &number) && number > 0;
                options.feed.sampleInterval = number;
            } else {
                std::fprintf(stderr, "kestrin-host: unknown option %s\n", arg.c_str());
                return kExitUsage;
            }
            if (!ok) {
                std::fprintf(stderr, "kestrin-host: bad value for %s: %s\n", arg.c_str(), value.c_str());
                return kExitUsage;
            }
        } else if (options.stream.empty()) {
            options.stream = arg;
        } else {
            std::fprintf(stderr, "kestrin-host: one stream only\n");
            return kExitUsage;
        }
    }
    if (options.stream.empty()) {
        PrintUsage(stderr);
        return kExitUsage;
    }
    if (options.feed.soakPackets > 0) {
        // The soak runs as fast as it can unless a rate is asked for.
        if (options.feed.packetRate <= 0) options.feed.fast = true;
        if (options.feed.sampleInterval == 0) {
            options.feed.sampleInterval = options.feed.soakPackets / 20 > 0 ? options.feed.soakPackets / 20 : 1;
        }
    }
    std::FILE* log = nullptr;
    if (!options.logPath.empty()) {
        log = std::fopen(options.logPath.c_str(), "w");
        if (log == nullptr) {
            std::fprintf(stderr, "kestrin-host: cannot write %s\n", options.logPath.c_str());
            return kExitUsage;
        }
        SetLogFile(log);
    }
    int code;
    {
        HostSession session(options);
        code = session.Run();
    }
    SetLogFile(nullptr);
    if (log != nullptr) std::fclose(log);
    return code;
}
