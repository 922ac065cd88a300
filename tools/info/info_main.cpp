// kestrin-info: shows, for a transport-stream file, what the Kestrin viewer
// window would show, and extracts the one-segment service exactly as the
// plug-in's recorder writes it.
//
// Everything runs through the plug-in's own core: the packets go through
// RoutePackets in host-sized buffers, the posted messages are handled after
// each buffer through ViewerPrivateMessage as the dialog procedure handles
// them, and the service is chosen with PluginOnChannelChange. The tool only
// prints what the core sets into the window.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

#include <filesystem>

#include <nlohmann/json.hpp>

#include "plugin/messages.h"
#include "plugin/plugin_core.h"
#include "plugin/plugin_state.h"
#include "plugin/router.h"
#include "plugin/settings.h"
#include "tools/info/caption_export.h"
#include "tools/info/console_platform.h"
#include "tools/info/cp932_utf8.h"
#include "tools/info/event_report.h"
#include "ts/packet.h"
#include "ts/psi_reader.h"
#include "ts/section.h"
#include "ts/section_assembler.h"
#include "ui/channel_buttons.h"
#include "ui/resource.h"
#include "ui/viewer.h"

namespace {

// Exit codes, for scripts.
enum ExitCode {
    kExitOk = 0,
    kExitUsage = 1,          // bad command line
    kExitCannotRead = 2,     // input missing or unreadable
    kExitNotTransportStream = 3,
    kExitNoOneSegment = 4,   // no one-segment service / PMT on PID 0x1FC8
    kExitCannotWrite = 5,    // the extraction file could not be created or written
};

const uint16_t kOneSegmentPmtPid = 0x1FC8;
const int kDefaultBufferPackets = 256;  // 48,128 bytes, a typical host buffer
const int kMaxBufferPackets = 65536;
// Packets at the start that must carry the sync byte at 188-byte steps.
const size_t kSyncCheckPackets = 5;
// How far the PAT is looked for before the first packet is routed.
const size_t kPatSearchLimit = 32u * 1024u * 1024u;
const int kProgressIntervalMs = 250;

struct Options {
    std::string input;
    std::string extract;
    int32_t service = -1;  // -1: the one-segment service of the PAT
    bool following = false;
    bool symbols = false;
    bool details = false;
    bool json = false;
    bool quiet = false;
    bool progress = true;
    int bufferPackets = kDefaultBufferPackets;
};

void PrintUsage(std::FILE* to) {
    std::fputs(
        "Usage: kestrin-info [options] INPUT.ts\n"
        "       kestrin-info [options] -          (read the stream from standard input)\n"
        "\n"
        "Runs an MPEG-2 transport stream through the Kestrin plug-in core and prints,\n"
        "in UTF-8, what the viewer window shows each time it changes: the caption\n"
        "with the service name, the present (or following) event, the clock and the\n"
        "button labels. Each block starts with '@ packet N', the number of packets\n"
        "handed to the plug-in so far.\n"
        "\n"
        "Options:\n"
        "  --service ID         show service ID (decimal or 0x hex); by default the\n"
        "                       one-segment service, the program whose PMT is on PID\n"
        "                       0x1FC8 in the PAT\n"
        "  --following          switch the window to the following event first\n"
        "                       (the view button IDC_PRESENT_FOLLOWING)\n"
        "  --symbols            print ARIB additional symbols (the boxed marks such as\n"
        "                       [字]) as Unicode enclosed ideographs, not as the Private\n"
        "                       Use Area characters of code page 932\n"
        "  --details            print, under each event text, the programme details the\n"
        "                       plug-in keeps for that event: the genres of its content\n"
        "                       descriptor ('genre') and the items of its extended event\n"
        "                       descriptors ('item': the heading, then its text indented)\n"
        "  --json               print one JSON object per line for each change instead\n"
        "                       of the blocks, for scripts (the shape is in the README;\n"
        "                       every object has \"packet\", \"type\" and \"shown\", the\n"
        "                       control's text): types \"caption\" (with service_id and\n"
        "                       service_name), \"view\", \"event\" (view, start, end,\n"
        "                       duration_minutes, duration_seconds, title, text, genres,\n"
        "                       items, extended_text), \"clock\" and \"button\"\n"
        "  --extract OUT.ts     record the one-segment service to OUT.ts with the\n"
        "                       plug-in's recorder (the record button, from the first\n"
        "                       packet to the last): its packet selection and its\n"
        "                       PAT rewritten to the single one-segment programme\n"
        "  --buffer-packets N   packets per buffer handed to the plug-in (default 256)\n"
        "  --quiet              print nothing on standard output\n"
        "  --no-progress        no progress line on a terminal\n"
        "  --captions FORMAT    print the service's ARIB captions as srt, vtt or json\n"
        "                       (one object per cue); with --captions-input pes the\n"
        "                       input is a file of caption PES payloads; --ruby keeps\n"
        "                       ruby, --caption-language 2 the second language\n"
        "  --help               this text\n"
        "\n"
        "Exit codes:\n"
        "  0  success\n"
        "  1  bad command line\n"
        "  2  the input cannot be opened or read\n"
        "  3  the input is not a transport stream (no sync byte 0x47 at 188-byte steps)\n"
        "  4  no one-segment service: the PAT lists no PMT on PID 0x1FC8, or (with\n"
        "     --extract) no PMT on PID 0x1FC8 was read; the output file is removed\n"
        "  5  the output file cannot be created or written\n",
        to);
}

bool ParseNumber(const char* text, long maximum, long& value) {
    if (text == nullptr || *text == '\0') return false;
    char* end = nullptr;
    const bool hex = text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    value = std::strtol(text, &end, hex ? 16 : 10);
    return *end == '\0' && value >= 0 && value <= maximum;
}

// 1 = parsed, 0 = --help shown, -1 = usage error reported.
int ParseOptions(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto needValue = [&](const char* name) -> const char* {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "kestrin-info: %s needs a value\n", name);
                return nullptr;
            }
            return argv[++i];
        };
        long value = 0;
        if (arg == "--help" || arg == "-h") {
            PrintUsage(stdout);
            return 0;
        } else if (arg == "--service") {
            const char* v = needValue("--service");
            if (v == nullptr) return -1;
            if (!ParseNumber(v, 0xFFFF, value)) {
                std::fprintf(stderr, "kestrin-info: --service wants a service_id 0..65535, not '%s'\n", v);
                return -1;
            }
            o.service = static_cast<int32_t>(value);
        } else if (arg == "--following") {
            o.following = true;
        } else if (arg == "--extract") {
            const char* v = needValue("--extract");
            if (v == nullptr) return -1;
            o.extract = v;
        } else if (arg == "--buffer-packets") {
            const char* v = needValue("--buffer-packets");
            if (v == nullptr) return -1;
            if (!ParseNumber(v, kMaxBufferPackets, value) || value < 1) {
                std::fprintf(stderr, "kestrin-info: --buffer-packets wants 1..%d, not '%s'\n",
                             kMaxBufferPackets, v);
                return -1;
            }
            o.bufferPackets = static_cast<int>(value);
        } else if (arg == "--symbols") {
            o.symbols = true;
        } else if (arg == "--details") {
            o.details = true;
        } else if (arg == "--json") {
            o.json = true;
        } else if (arg == "--quiet") {
            o.quiet = true;
        } else if (arg == "--no-progress") {
            o.progress = false;
        } else if (arg.size() > 1 && arg[0] == '-') {
            std::fprintf(stderr, "kestrin-info: unknown option '%s'\n", arg.c_str());
            return -1;
        } else if (o.input.empty()) {
            o.input = arg;
        } else {
            std::fprintf(stderr, "kestrin-info: only one input, not also '%s'\n", arg.c_str());
            return -1;
        }
    }
    if (o.input.empty()) {
        std::fputs("kestrin-info: no input given (a .ts file, or - for standard input)\n", stderr);
        return -1;
    }
    return 1;
}

bool IsTerminal(std::FILE* f) {
#ifdef _WIN32
    return _isatty(_fileno(f)) != 0;
#else
    return isatty(fileno(f)) != 0;
#endif
}

// The input stream, read in whole host buffers.
class Input {
public:
    ~Input() {
        if (file_ != nullptr && file_ != stdin) std::fclose(file_);
    }

    bool Open(const std::string& name, std::string& error) {
        name_ = name;
        if (name == "-") {
#ifdef _WIN32
            _setmode(_fileno(stdin), _O_BINARY);
#endif
            file_ = stdin;
            return true;
        }
        std::error_code ec;
        if (std::filesystem::is_directory(name, ec)) {
            error = "is a directory";
            return false;
        }
        file_ = std::fopen(name.c_str(), "rb");
        if (file_ == nullptr) {
            error = std::strerror(errno);
            return false;
        }
        const std::uintmax_t size = std::filesystem::file_size(name, ec);
        if (!ec) size_ = static_cast<double>(size);
        return true;
    }

    // Fills `out` as far as the input goes; short only at the end or on an
    // error (see failed()).
    size_t Read(uint8_t* out, size_t size) {
        size_t got = 0;
        while (got < size) {
            const size_t n = std::fread(out + got, 1, size - got, file_);
            got += n;
            if (n == 0) {
                if (std::ferror(file_)) failed_ = true;
                break;
            }
        }
        bytesRead_ += got;
        return got;
    }

    bool failed() const { return failed_; }
    double size() const { return size_; }  // < 0 when unknown (a pipe)
    double bytesRead() const { return static_cast<double>(bytesRead_); }
    const std::string& name() const { return name_; }

private:
    std::string name_;
    std::FILE* file_ = nullptr;
    bool failed_ = false;
    double size_ = -1;
    uint64_t bytesRead_ = 0;
};

bool LooksLikeTransportStream(const uint8_t* data, size_t size) {
    const size_t packets = size / kTsPacketSize;
    if (packets == 0) return false;
    const size_t checked = packets < kSyncCheckPackets ? packets : kSyncCheckPackets;
    for (size_t i = 0; i < checked; ++i) {
        if (data[i * kTsPacketSize] != 0x47) return false;
    }
    return true;
}

// Finds the one-segment service in the PAT: the program whose PMT is on PID
// 0x1FC8. Used only to choose the service; the plug-in itself reads no PAT.
// The PAT is collected with the core's table assembler and read through
// PsiReader.
class PatFinder {
public:
    PatFinder() { ResetSectionAssembler(assembler_); }

    void Feed(const uint8_t* p) {
        if (PacketPid(p) != kPatPid || found()) return;
        if (AssembleTableSection(assembler_, kPatFilter, p) != AssemblyResult::kComplete) return;
        Parse(assembler_.buffer, SectionLength(assembler_.buffer) + kSectionHeaderSize);
    }

    bool sawPat() const { return sawPat_; }
    bool found() const { return service_ >= 0; }
    int32_t service() const { return service_; }

private:
    static const uint16_t kPatPid = 0x0000;
    // table_id 0x00; section_length 9 at least: the header after it and the
    // CRC_32.
    static const SectionFilter kPatFilter;
    // transport_stream_id, version and current_next, section_number,
    // last_section_number.
    static const int32_t kPatHeaderAfterLength = 5;
    static const int32_t kProgramEntrySize = 4;

    void Parse(const uint8_t* section, int32_t size) {
        PsiReader reader(section, size);
        reader.U8();  // table_id, tested by the filter
        PsiReader body = reader.Enter(reader.Length12());
        body.Skip(kPatHeaderAfterLength);
        if (body.Error()) return;
        sawPat_ = true;
        // The program loop runs to the CRC_32.
        PsiReader programs = body.Enter(body.Remaining() - kCrcSize);
        while (programs.CanRead(kProgramEntrySize)) {
            const int32_t program = programs.U16();
            const uint16_t pid = programs.Pid();
            if (program != 0 && pid == kOneSegmentPmtPid) {
                service_ = program;
                return;
            }
        }
    }

    SectionAssembler assembler_;
    bool sawPat_ = false;
    int32_t service_ = -1;
};

const SectionFilter PatFinder::kPatFilter = {0x00, 9, false, 0, 0};

const char* ControlName(int32_t id) {
    switch (id) {
        case kCaptionControl: return "caption";
        case IDC_INFO_TEXT: return "text";
        case IDC_CLOCK: return "clock";
        case IDC_PRESENT_FOLLOWING: return "view";
        case IDC_RECORD_REQUEST: return "request";
        case IDC_ONESEG_RECORD: return "record";
        default: break;
    }
    static const char* const kChannelNames[12] = {"ch1", "ch2", "ch3", "ch4",  "ch5",  "ch6",
                                                  "ch7", "ch8", "ch9", "ch10", "ch11", "ch12"};
    for (int i = 0; i < 12; ++i) {
        if (kChannelButtonIds[i] == id) return kChannelNames[i];
    }
    return "control";
}

// How the changes are printed.
struct OutputStyle {
    bool quiet;
    bool symbols;  // ARIB additional symbols as Unicode enclosed forms
    bool details;  // genres and items under each event text
    bool json;     // one JSON object per change
};

const size_t kColumn = 9;  // where the texts of a block start

// Collects the window's changes for printing. A text set again unchanged is
// not a change; with --details or --json an event text counts as changed
// when its details changed.
class WindowPrinter {
public:
    explicit WindowPrinter(const OutputStyle& style) : style_(style) {}

    // Reads the state for the changes made since the last call: the details
    // of the event on screen for each new event text, the service for each
    // new caption. Called right after each message or command is handled,
    // while the state is still what set the text.
    void Observe(const ConsolePlatform& platform, PluginState& state) {
        for (; observed_ < platform.changes.size(); ++observed_) {
            const int32_t control = platform.changes[observed_].control;
            if (control == IDC_INFO_TEXT) {
                std::shared_ptr<EventSnapshot> snapshot(new EventSnapshot);
                TakeEventSnapshot(state, *snapshot);
                events_[observed_] = snapshot;
            } else if (control == kCaptionControl) {
                ServiceSnapshot service;
                {
                    std::lock_guard<std::mutex> guard(state.lock);
                    service.id = state.currentService;
                    service.name.assign(state.serviceName, strnlen(state.serviceName, sizeof state.serviceName));
                }
                services_[observed_] = service;
            }
        }
    }

    // The text to print for the changes since the last call: a block under
    // one "@ packet N" header, or one JSON line per change; empty when
    // nothing changed (or --quiet).
    std::string Take(ConsolePlatform& platform, PluginState& state, uint64_t packets) {
        Observe(platform, state);
        std::string out;
        for (size_t i = 0; i < platform.changes.size(); ++i) {
            const ConsolePlatform::Change& c = platform.changes[i];
            const EventSnapshot* event = nullptr;
            auto found = events_.find(i);
            if (found != events_.end()) event = found->second.get();
            std::string key = c.text;
            if (event != nullptr && (style_.details || style_.json)) key += DetailsKey(event->details);
            auto it = shown_.find(c.control);
            if (it != shown_.end() && it->second == key) continue;
            shown_[c.control] = key;
            if (style_.json) {
                auto service = services_.find(i);
                out += JsonLine(c, packets, event, service == services_.end() ? nullptr : &service->second);
            } else {
                AppendChange(out, c);
                if (style_.details && event != nullptr) AppendDetails(out, *event);
            }
        }
        platform.changes.clear();
        events_.clear();
        services_.clear();
        observed_ = 0;
        if (out.empty() || style_.quiet) return std::string();
        return style_.json ? out : "@ packet " + std::to_string(packets) + "\n" + out;
    }

private:
    struct ServiceSnapshot {
        int32_t id = -1;
        std::string name;  // Shift_JIS
    };

    std::string Utf8(const std::string& sjis) const {
        return style_.symbols ? Cp932ToUtf8WithSymbols(sjis) : Cp932ToUtf8(sjis);
    }

    // The raw details, to tell a change of them from a repeat.
    static std::string DetailsKey(const EventDetails& d) {
        std::string key(1, '\0');
        for (int32_t i = 0; i < d.genreCount && i < kMaxGenreLines; ++i) key += std::string(d.genres[i]) + '\0';
        for (int32_t i = 0; i < d.itemCount && i < kMaxDetailItems; ++i) {
            key += std::string(d.items[i].description) + '\0' + d.items[i].text + '\0';
        }
        return key + d.extendedText;
    }

    static std::string Label(const std::string& name) {
        return name + std::string(name.size() < kColumn ? kColumn - name.size() : 1, ' ');
    }

    // `text` under `label`, its further lines indented to `indent` columns.
    static void AppendLines(std::string& block, const std::string& label, const std::string& text, size_t indent) {
        const std::string pad(indent, ' ');
        std::string line;
        bool first = true;
        auto flush = [&]() {
            if (first) {
                block += label + line;
            } else if (!line.empty()) {
                block += pad + line;
            }
            block += '\n';
            line.clear();
            first = false;
        };
        for (size_t i = 0; i < text.size(); ++i) {
            const char ch = text[i];
            if (ch == '\r' || ch == '\n') {
                flush();
                if (ch == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
            } else {
                line += ch;
            }
        }
        flush();
    }

    void AppendChange(std::string& block, const ConsolePlatform::Change& c) const {
        std::string name = ControlName(c.control);
        if (name == "control") name += " " + std::to_string(c.control);
        const std::string text = Utf8(c.text);
        if (text.empty()) {
            block += Label(name) + "(empty)\n";
            return;
        }
        // The edit control breaks lines at CR LF; continuation lines are
        // indented under the first.
        AppendLines(block, Label(name), text, kColumn);
    }

    // genre    <line>           one per genre
    // item     <description>    one per item, its text two columns further in
    //            <text>
    // extended <text_char>
    void AppendDetails(std::string& block, const EventSnapshot& event) const {
        const DetailTexts d = ConvertDetails(event.details, style_.symbols);
        for (const std::string& genre : d.genres) AppendLines(block, Label("genre"), genre, kColumn);
        for (const DetailItemText& item : d.items) {
            const std::string indent(kColumn + 2, ' ');
            if (item.description.empty()) {
                AppendLines(block, Label("item") + "  ", item.text, kColumn + 2);
                continue;
            }
            AppendLines(block, Label("item"), item.description, kColumn);
            if (!item.text.empty()) AppendLines(block, indent, item.text, kColumn + 2);
        }
        if (!d.extendedText.empty()) AppendLines(block, Label("extended"), d.extendedText, kColumn);
    }

    std::string JsonLine(const ConsolePlatform::Change& c, uint64_t packets, const EventSnapshot* event,
                         const ServiceSnapshot* service) const {
        nlohmann::ordered_json line;
        line["packet"] = packets;
        const std::string shown = Utf8(c.text);
        switch (c.control) {
            case kCaptionControl:
                line["type"] = "caption";
                line["shown"] = shown;
                if (service != nullptr) {
                    line["service_id"] = service->id;
                    line["service_name"] = Utf8(service->name);
                }
                break;
            case IDC_PRESENT_FOLLOWING:
                line["type"] = "view";
                line["shown"] = shown;
                break;
            case IDC_CLOCK:
                line["type"] = "clock";
                line["shown"] = shown;
                break;
            case IDC_INFO_TEXT:
                line["type"] = "event";
                line["shown"] = UnixLineBreaks(shown);
                if (event != nullptr) AddEvent(line, shown, *event);
                break;
            default: {
                std::string name = ControlName(c.control);
                line["type"] = "button";
                line["control"] = name == "control" ? name + " " + std::to_string(c.control) : name;
                line["shown"] = shown;
                break;
            }
        }
        // Replace, not throw, should a text ever not be UTF-8.
        return line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
    }

    void AddEvent(nlohmann::ordered_json& line, const std::string& shown, const EventSnapshot& event) const {
        const EventTextParts parts = SplitEventText(shown);
        const EventTimes times = ResolveEventTimes(parts, event.year, event.month, event.day);
        auto orNull = [](const std::string& s) { return s.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(s); };
        line["view"] = event.view == View::kFollowing ? "following" : "present";
        line["start"] = orNull(times.start);
        line["end"] = orNull(times.end);
        if (times.durationSeconds >= 0) {
            line["duration_minutes"] = times.durationSeconds / 60;
            line["duration_seconds"] = times.durationSeconds;
        } else {
            line["duration_minutes"] = nullptr;
            line["duration_seconds"] = nullptr;
        }
        line["title"] = parts.hasTitle ? nlohmann::ordered_json(parts.title) : nlohmann::ordered_json();
        line["text"] = parts.description;
        const DetailTexts d = ConvertDetails(event.details, style_.symbols);
        line["genres"] = d.genres;
        nlohmann::ordered_json items = nlohmann::ordered_json::array();
        for (const DetailItemText& item : d.items) {
            nlohmann::ordered_json entry;
            entry["description"] = item.description;
            entry["text"] = item.text;
            items.push_back(entry);
        }
        line["items"] = items;
        line["extended_text"] = d.extendedText;
    }

    OutputStyle style_;
    std::map<int32_t, std::string> shown_;
    size_t observed_ = 0;
    std::map<size_t, std::shared_ptr<EventSnapshot>> events_;
    std::map<size_t, ServiceSnapshot> services_;
};

class Progress {
public:
    Progress(bool enabled, const Input& input) : enabled_(enabled), input_(input) {}

    void Update(bool force = false) {
        if (!enabled_) return;
        const auto now = std::chrono::steady_clock::now();
        if (!force && shown_ &&
            std::chrono::duration_cast<std::chrono::milliseconds>(now - last_).count() < kProgressIntervalMs) {
            return;
        }
        last_ = now;
        shown_ = true;
        const double mb = input_.bytesRead() / 1e6;
        if (input_.size() > 0) {
            std::fprintf(stderr, "\rkestrin-info: %3d%% (%.1f of %.1f MB)", Percent(), mb, input_.size() / 1e6);
        } else {
            std::fprintf(stderr, "\rkestrin-info: %.1f MB", mb);
        }
        std::fflush(stderr);
    }

    void Clear() {
        if (!enabled_ || !shown_) return;
        std::fprintf(stderr, "\r%60s\r", "");
        std::fflush(stderr);
        shown_ = false;
    }

private:
    int Percent() const {
        const double p = input_.bytesRead() * 100.0 / input_.size();
        return p > 100.0 ? 100 : static_cast<int>(p);
    }

    bool enabled_;
    const Input& input_;
    bool shown_ = false;
    std::chrono::steady_clock::time_point last_;
};

void Print(const std::string& block, Progress& progress) {
    if (block.empty()) return;
    progress.Clear();
    std::fputs(block.c_str(), stdout);
    std::fflush(stdout);
    progress.Update(true);
}

void PumpMessages(ConsolePlatform& platform, PluginState& state, WindowPrinter& printer) {
    while (!platform.posted.empty()) {
        const uint32_t message = platform.posted.front();
        platform.posted.pop_front();
        ViewerPrivateMessage(state, message);
        printer.Observe(platform, state);
    }
}

int Fail(int code, const std::string& message) {
    std::fprintf(stderr, "kestrin-info: %s\n", message.c_str());
    return code;
}

std::string Quoted(const std::string& name) { return "'" + name + "'"; }

int Run(const Options& o) {
    Input input;
    std::string error;
    if (!input.Open(o.input, error)) return Fail(kExitCannotRead, "cannot open " + Quoted(o.input) + ": " + error);

    const size_t bufferBytes = static_cast<size_t>(o.bufferPackets) * kTsPacketSize;
    Progress progress(o.progress && IsTerminal(stderr), input);

    // The first buffer decides whether this is a transport stream at all.
    // Without --service, buffers are held back until the PAT names the
    // one-segment service; they are routed afterwards in the same sizes.
    std::vector<std::vector<uint8_t>> held;
    PatFinder pat;
    bool atEnd = false;
    do {
        std::vector<uint8_t> chunk(bufferBytes);
        const size_t n = input.Read(chunk.data(), bufferBytes);
        if (input.failed()) return Fail(kExitCannotRead, "cannot read " + Quoted(o.input) + ": " + std::strerror(errno));
        chunk.resize(n);
        atEnd = n < bufferBytes;
        if (held.empty()) {
            if (n == 0) return Fail(kExitNotTransportStream, Quoted(o.input) + " is empty: not a transport stream");
            if (!LooksLikeTransportStream(chunk.data(), n)) {
                return Fail(kExitNotTransportStream,
                            Quoted(o.input) + " is not a transport stream: no sync byte 0x47 at 188-byte steps");
            }
        }
        for (size_t i = 0; i + kTsPacketSize <= n; i += kTsPacketSize) pat.Feed(chunk.data() + i);
        held.push_back(std::move(chunk));
        progress.Update();
    } while (o.service < 0 && !pat.found() && !atEnd && held.size() * bufferBytes < kPatSearchLimit);

    int32_t service = o.service;
    if (service < 0) {
        if (!pat.found()) {
            progress.Clear();
            return Fail(kExitNoOneSegment,
                        Quoted(o.input) + " has no one-segment service: " +
                            (pat.sawPat() ? "its PAT lists no PMT on PID 0x1FC8" : "no PAT found") +
                            (atEnd ? "" : " in the first 32 MB") + " (choose one with --service)");
        }
        service = pat.service();
    }

    ConsolePlatform platform;
    std::unique_ptr<PluginState> state(new PluginState);
    InitPluginState(*state, &platform);
    // As CreatePluginWindow does: the settings path beside the "host"
    // executable, through which the recorder reads its directory and file
    // name. The channel buttons keep their plain labels: no channel table.
    LoadSettingsBeforeWindow(*state);
    state->hasWindow = true;
    ViewerInitialised(*state);
    WindowPrinter printer(OutputStyle{o.quiet, o.symbols, o.details, o.json});

    // The host reports the service; channel -1 is the plug-in's "no channel
    // yet", so no channel button changes.
    PluginOnChannelChange(*state, -1, service);
    printer.Observe(platform, *state);
    if (o.following) ViewerCommand(*state, IDC_PRESENT_FOLLOWING);
    printer.Observe(platform, *state);
    const bool extracting = !o.extract.empty();
    if (extracting) {
        platform.SetRecordingTarget(o.extract);
        ViewerCommand(*state, IDC_ONESEG_RECORD);
        if (!platform.recordingCreated) {
            progress.Clear();
            return Fail(kExitCannotWrite, platform.recordingError);
        }
    }
    Print(printer.Take(platform, *state, 0), progress);

    uint64_t packets = 0;
    uint64_t bytes = 0;
    uint64_t withoutSync = 0;
    auto route = [&](const std::vector<uint8_t>& chunk) {
        for (size_t i = 0; i + kTsPacketSize <= chunk.size(); i += kTsPacketSize) {
            if (chunk[i] != 0x47) ++withoutSync;
        }
        ViewerStreamData(*state, chunk.data(), static_cast<uint32_t>(chunk.size()));
        packets += chunk.size() / kTsPacketSize;
        bytes += chunk.size();
        PumpMessages(platform, *state, printer);
        Print(printer.Take(platform, *state, packets), progress);
        progress.Update();
    };
    for (const std::vector<uint8_t>& chunk : held) route(chunk);
    held.clear();
    std::vector<uint8_t> chunk(bufferBytes);
    while (!atEnd) {
        chunk.resize(bufferBytes);
        const size_t n = input.Read(chunk.data(), bufferBytes);
        if (input.failed()) break;
        chunk.resize(n);
        atEnd = n < bufferBytes;
        if (n > 0) route(chunk);
    }
    progress.Clear();

    int code = kExitOk;
    if (input.failed()) code = Fail(kExitCannotRead, "cannot read " + Quoted(o.input) + ": " + std::strerror(errno));
    if (bytes % kTsPacketSize != 0) {
        std::fprintf(stderr, "kestrin-info: warning: the last %llu bytes are not a whole packet and were not read\n",
                     static_cast<unsigned long long>(bytes % kTsPacketSize));
    }
    if (withoutSync > 0) {
        std::fprintf(stderr, "kestrin-info: warning: %llu packets lack the sync byte 0x47 (routed as they are)\n",
                     static_cast<unsigned long long>(withoutSync));
    }

    if (extracting) {
        bool pmtRead;
        bool stillRecording;
        {
            std::lock_guard<std::mutex> guard(state->lock);
            pmtRead = state->esPidTable.count > 0;
            stillRecording = state->recording;
        }
        // The second press of the record button closes the file.
        if (stillRecording) ViewerCommand(*state, IDC_ONESEG_RECORD);
        Print(printer.Take(platform, *state, packets), progress);
        progress.Clear();
        if (platform.recordingWriteFailed) return Fail(kExitCannotWrite, platform.recordingError);
        if (!pmtRead && code == kExitOk) {
            std::error_code ec;
            std::filesystem::remove(o.extract, ec);
            return Fail(kExitNoOneSegment, Quoted(o.input) + " has no one-segment PMT: no PMT on PID 0x1FC8 was read");
        }
    }
    return code;
}

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
    // UTF-8 as it is, without CR LF translation; a console shows it as UTF-8.
    _setmode(_fileno(stdout), _O_BINARY);
    if (IsTerminal(stdout)) SetConsoleOutputCP(CP_UTF8);
#endif
    // --captions is a command of its own, with its own options.
    if (WantsCaptionExport(argc, argv)) return RunCaptionExport(argc, argv);
    Options options;
    const int parsed = ParseOptions(argc, argv, options);
    if (parsed == 0) return kExitOk;
    if (parsed < 0) {
        std::fputs("Try 'kestrin-info --help'.\n", stderr);
        return kExitUsage;
    }
    return Run(options);
}
