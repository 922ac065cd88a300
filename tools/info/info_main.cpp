// kestrin-info: shows, for a transport-stream file, what the Kestrin viewer
// window would show, extracts the one-segment service exactly as the
// plug-in's recorder writes it, and lists the services of the stream.
//
// Everything runs through the plug-in's own core: the packets go through
// RoutePackets in host-sized buffers, the posted messages are handled after
// each buffer through ViewerPrivateMessage as the dialog procedure handles
// them, and the service is chosen with PluginOnChannelChange. The tool only
// prints what the core sets into the window.
//
// The input is read through PacketSource, which finds the packets in
// 188-, 192- and 204-byte recordings and past junk; the extraction is
// written through OutputFile, which never replaces the input or an existing
// file unasked and renames its temporary file into place only after a whole
// run; every write to standard output is checked.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

#include <nlohmann/json.hpp>

#include "plugin/messages.h"
#include "plugin/plugin_core.h"
#include "plugin/plugin_state.h"
#include "plugin/router.h"
#include "plugin/settings.h"
#include "tools/info/caption_export.h"
#include "tools/info/console_platform.h"
#include "tools/info/cp932_utf8.h"
#include "tools/info/epg_dump.h"
#include "tools/info/event_report.h"
#include "tools/info/interruption.h"
#include "tools/info/list_services.h"
#include "tools/info/output_file.h"
#include "tools/info/packet_source.h"
#include "tools/info/standard_output.h"
#include "ts/packet.h"
#include "ts/psi_reader.h"
#include "ts/section.h"
#include "ts/section_assembler.h"
#include "ui/channel_buttons.h"
#include "ui/resource.h"
#include "ui/viewer.h"

#ifndef KESTRIN_INFO_VERSION
#define KESTRIN_INFO_VERSION "unknown"
#endif

namespace {

// Exit codes, for scripts.
enum ExitCode {
    kExitOk = 0,
    kExitUsage = 1,          // bad command line
    kExitCannotRead = 2,     // input missing or unreadable
    kExitNotTransportStream = 3,
    kExitNoOneSegment = 4,   // no one-segment service / PMT on PID 0x1FC8
    kExitCannotWrite = 5,    // the extraction file or standard output could not be created or written
    kExitRefused = 6,        // the output is the input, or exists and --force was not given
};

const uint16_t kOneSegmentPmtPid = 0x1FC8;
const int kDefaultBufferPackets = 256;  // 48,128 bytes, a typical host buffer
const int kMaxBufferPackets = 65536;
// How far the PAT is looked for before the first packet is routed.
const size_t kPatSearchLimit = 32u * 1024u * 1024u;
const int kProgressIntervalMs = 250;

struct Options {
    std::string input;
    std::string extract;
    bool extracting = false;
    bool force = false;
    bool listServices = false;
    int32_t service = -1;  // -1: the one-segment service of the PAT
    bool following = false;
    bool symbols = false;
    bool details = false;
    bool json = false;
    bool quiet = false;
    bool progress = true;
    int bufferPackets = kDefaultBufferPackets;
    bool help = false;
    bool version = false;
};

bool ParseNumber(const char* text, long maximum, long& value) {
    if (text == nullptr || *text == '\0') return false;
    char* end = nullptr;
    const bool hex = text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    value = std::strtol(text, &end, hex ? 16 : 10);
    return *end == '\0' && value >= 0 && value <= maximum;
}

// One command-line option: its name, the name of its value (null for a
// switch), its lines in --help (further lines indented under the first),
// and what it sets. `Apply` prints its own message for a bad value.
struct OptionSpec {
    const char* name;
    const char* value;
    const char* help;
    bool (*Apply)(Options& o, const char* value);
};

const OptionSpec kOptions[] = {
    {"--service", "ID",
     "show service ID (decimal or 0x hex); by default the\n"
     "one-segment service, the program whose PMT is on PID\n"
     "0x1FC8 in the PAT",
     [](Options& o, const char* v) {
         long value = 0;
         if (!ParseNumber(v, 0xFFFF, value)) {
             std::fprintf(stderr, "kestrin-info: --service wants a service_id 0..65535, not '%s'\n", v);
             return false;
         }
         o.service = static_cast<int32_t>(value);
         return true;
     }},
    {"--following", nullptr,
     "switch the window to the following event first\n"
     "(the view button IDC_PRESENT_FOLLOWING)",
     [](Options& o, const char*) { return o.following = true; }},
    {"--symbols", nullptr,
     "print ARIB additional symbols (the boxed marks such as\n"
     "[字]) as Unicode enclosed ideographs, not as the Private\n"
     "Use Area characters of code page 932",
     [](Options& o, const char*) { return o.symbols = true; }},
    {"--details", nullptr,
     "print, under each event text, the programme details the\n"
     "plug-in keeps for that event: the genres of its content\n"
     "descriptor ('genre') and the items of its extended event\n"
     "descriptors ('item': the heading, then its text indented)",
     [](Options& o, const char*) { return o.details = true; }},
    {"--json", nullptr,
     "print one JSON object per line for each change instead\n"
     "of the blocks, for scripts (the shape is in the README;\n"
     "every object has \"packet\", \"type\" and \"shown\", the\n"
     "control's text): types \"caption\" (with service_id and\n"
     "service_name), \"view\", \"event\" (view, start, end,\n"
     "duration_minutes, duration_seconds, title, text, genres,\n"
     "items, extended_text), \"clock\" and \"button\"; with\n"
     "--list-services, one object per service",
     [](Options& o, const char*) { return o.json = true; }},
    {"--list-services", nullptr,
     "list the services of the stream instead, from its PAT\n"
     "and SDT: service_id, PMT PID, service type, name, and\n"
     "which is the one-segment service",
     [](Options& o, const char*) { return o.listServices = true; }},
    {"--extract", "OUT.ts",
     "record the one-segment service to OUT.ts with the\n"
     "plug-in's recorder (the record button, from the first\n"
     "packet to the last): its packet selection and its\n"
     "PAT rewritten to the single one-segment programme.\n"
     "The file is written under a temporary name beside\n"
     "OUT.ts and renamed only when the run succeeded; an\n"
     "output that is the input is refused; - writes the\n"
     "packets to standard output (the window's changes are\n"
     "then not printed)",
     [](Options& o, const char* v) {
         if (*v == '\0') {
             std::fputs("kestrin-info: --extract needs a file name (or - for standard output)\n", stderr);
             return false;
         }
         o.extract = v;
         return o.extracting = true;
     }},
    {"--force", nullptr, "let --extract replace an existing file",
     [](Options& o, const char*) { return o.force = true; }},
    {"--buffer-packets", "N", "packets per buffer handed to the plug-in (default 256)",
     [](Options& o, const char* v) {
         long value = 0;
         if (!ParseNumber(v, kMaxBufferPackets, value) || value < 1) {
             std::fprintf(stderr, "kestrin-info: --buffer-packets wants 1..%d, not '%s'\n", kMaxBufferPackets, v);
             return false;
         }
         o.bufferPackets = static_cast<int>(value);
         return true;
     }},
    {"--quiet", nullptr, "print nothing on standard output", [](Options& o, const char*) { return o.quiet = true; }},
    {"--no-progress", nullptr, "no progress line on a terminal",
     [](Options& o, const char*) {
         o.progress = false;
         return true;
     }},
    {"--version", nullptr, "print the version and end", [](Options& o, const char*) { return o.version = true; }},
    {"--help", nullptr, "this text (also -h)", [](Options& o, const char*) { return o.help = true; }},
};

const size_t kHelpColumn = 23;  // where the option texts start in --help

std::string Usage() {
    std::string text =
        "Usage: kestrin-info [options] INPUT.ts\n"
        "       kestrin-info [options] -          (read the stream from standard input)\n"
        "\n"
        "Runs an MPEG-2 transport stream through the Kestrin plug-in core and prints,\n"
        "in UTF-8, what the viewer window shows each time it changes: the caption\n"
        "with the service name, the present (or following) event, the clock and the\n"
        "button labels. Each block starts with '@ packet N', the number of packets\n"
        "handed to the plug-in so far.\n"
        "\n"
        "The input may hold 188-byte packets, 192-byte packets (a 4-byte timestamp\n"
        "before each) or 204-byte packets (16 parity bytes after each); the size is\n"
        "found from the sync bytes. Junk before the first packet (up to 1 MiB) and\n"
        "between packets is skipped, with one warning at the end.\n"
        "\n"
        "Options (--option=value also works):\n";
    for (const OptionSpec& spec : kOptions) {
        std::string head = std::string("  ") + spec.name + (spec.value != nullptr ? std::string(" ") + spec.value : "");
        head += std::string(head.size() < kHelpColumn - 1 ? kHelpColumn - head.size() : 1, ' ');
        const std::string indent(kHelpColumn, ' ');
        bool first = true;
        for (const char* line = spec.help; *line != '\0';) {
            const char* end = std::strchr(line, '\n');
            const size_t length = end != nullptr ? static_cast<size_t>(end - line) : std::strlen(line);
            text += (first ? head : indent) + std::string(line, length) + "\n";
            first = false;
            line += length + (end != nullptr ? 1 : 0);
        }
    }
    text +=
        "\n"
        "Programme guide (a command of its own):\n"
        "  --epg [-o OUT.json]  print the programme guide of every service of the file\n"
        "                       (EIT present/following and schedule) as one JSON array\n"
        "                       of programme objects as EPG servers keep them; -o\n"
        "                       (or --output=) is written as --extract is, --force\n"
        "                       lets it replace an existing file\n"
        "\n"
        "Captions (a command of its own, with these options beside --service):\n"
        "  --captions FORMAT    print the service's ARIB captions as srt, vtt or json\n"
        "                       (one object per cue); with --captions-input pes the\n"
        "                       input is a file of caption PES payloads; --ruby keeps\n"
        "                       ruby, --caption-language 2 the second language\n"
        "\n"
        "Exit codes:\n"
        "  0  success\n"
        "  1  bad command line\n"
        "  2  the input cannot be opened or read\n"
        "  3  the input is not a transport stream (no sync byte 0x47 at 188-, 192- or\n"
        "     204-byte steps)\n"
        "  4  no one-segment service: the PAT lists no PMT on PID 0x1FC8, or (with\n"
        "     --extract) no PMT on PID 0x1FC8 was read; no output file is left\n"
        "  5  the output file or standard output cannot be created or written (a\n"
        "     full disk, a write error); no output file is left\n"
        "  6  the output was refused: it is the input, or it exists and --force was\n"
        "     not given; nothing was written\n"
        "  130, 143  stopped by SIGINT (Ctrl-C) or SIGTERM; no output file is left\n"
        "A reader that closes the pipe (| head) ends the run quietly, as SIGPIPE does.\n";
    return text;
}

// 1 = parsed, -1 = usage error reported.
int ParseOptions(int argc, char** argv, Options& o) {
    bool optionsEnd = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (!optionsEnd && arg == "--") {
            optionsEnd = true;
            continue;
        }
        if (optionsEnd || arg == "-" || arg.empty() || arg[0] != '-') {
            if (!o.input.empty()) {
                std::fprintf(stderr, "kestrin-info: only one input, not also '%s'\n", arg.c_str());
                return -1;
            }
            if (arg.empty()) {
                std::fputs("kestrin-info: the input name is empty\n", stderr);
                return -1;
            }
            o.input = arg;
            continue;
        }
        // --name=value or --name [value]
        const size_t equals = arg.find('=');
        const std::string name = arg == "-h" ? "--help" : arg.substr(0, equals);
        const OptionSpec* spec = nullptr;
        for (const OptionSpec& s : kOptions) {
            if (name == s.name) spec = &s;
        }
        if (spec == nullptr) {
            std::fprintf(stderr, "kestrin-info: unknown option '%s'\n", arg.c_str());
            return -1;
        }
        const char* value = nullptr;
        if (equals != std::string::npos) {
            if (spec->value == nullptr) {
                std::fprintf(stderr, "kestrin-info: %s takes no value\n", spec->name);
                return -1;
            }
            value = argv[i] + equals + 1;
        } else if (spec->value != nullptr) {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "kestrin-info: %s needs a value\n", spec->name);
                return -1;
            }
            value = argv[++i];
        }
        if (!spec->Apply(o, value != nullptr ? value : "")) return -1;
    }
    if (o.help || o.version) return 1;
    if (o.input.empty()) {
        std::fputs("kestrin-info: no input given (a .ts file, or - for standard input)\n", stderr);
        return -1;
    }
    if (o.listServices && o.extracting) {
        std::fputs("kestrin-info: --list-services and --extract do not go together\n", stderr);
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
                snapshot->shownSjis = platform.changes[observed_].text;
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
        AddEitFields(line, event);
    }

    // Read from the EIT section itself (tools/info/event_report.h); null
    // when the section on screen could not be matched.
    void AddEitFields(nlohmann::ordered_json& line, const EventSnapshot& event) const {
        const EitEventFields f = ReadEitEventFields(event, event.shownSjis);
        const nlohmann::ordered_json none;
        auto orNull = [&](const std::string& s) { return s.empty() ? none : nlohmann::ordered_json(s); };
        line["event_id"] = f.present ? nlohmann::ordered_json(f.eventId) : none;
        line["service_id"] = f.present ? nlohmann::ordered_json(f.serviceId) : none;
        line["transport_stream_id"] = f.present ? nlohmann::ordered_json(f.transportStreamId) : none;
        line["network_id"] = f.present ? nlohmann::ordered_json(f.networkId) : none;
        line["start_at"] = orNull(f.startAt);
        line["end_at"] = orNull(f.endAt);
        nlohmann::ordered_json codes = nlohmann::ordered_json::array();
        for (const GenreCode& g : f.genres) {
            codes.push_back({{"lv1", g.level1}, {"lv2", g.level2}, {"un1", g.user1}, {"un2", g.user2}});
        }
        line["genre_codes"] = codes;
        line["short_text"] = f.present ? nlohmann::ordered_json(f.shortText) : none;
        line["text_cut"] = f.present ? nlohmann::ordered_json(f.textCut) : none;
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
        const double mb = input_.BytesRead() / 1e6;
        if (input_.Size() > 0) {
            std::fprintf(stderr, "\rkestrin-info: %3d%% (%.1f of %.1f MB)", Percent(), mb, input_.Size() / 1e6);
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
        const double p = input_.BytesRead() * 100.0 / input_.Size();
        return p > 100.0 ? 100 : static_cast<int>(p);
    }

    bool enabled_;
    const Input& input_;
    bool shown_ = false;
    std::chrono::steady_clock::time_point last_;
};

// False when standard output failed (or its reader went away).
bool Print(StandardOutput& out, const std::string& block, Progress& progress) {
    if (block.empty()) return out.Ok();
    progress.Clear();
    const bool ok = out.Write(block) && out.Flush();
    progress.Update(true);
    return ok;
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


// The input opened and checked against standard output, and its packets.
struct OpenedInput {
    Input input;
    FileIdentity identity;
};

// 0, or the exit code after the message.
int OpenInput(const Options& o, OpenedInput& in) {
    std::string error;
    if (!in.input.Open(o.input, error)) return Fail(kExitCannotRead, "cannot open " + Quoted(o.input) + ": " + error);
    in.identity = IdentityOfStream(in.input.Stream());
    // As cat does: output appended to the file being read would be read again.
    if (in.identity.regular && IdentityOfStream(stdout).SameFileAs(in.identity)) {
        return Fail(kExitRefused, "standard output is the input " + Quoted(o.input) + ": refused");
    }
    return 0;
}

// Why no packet came from the start of the input: the exit code after the
// message.
int NoPackets(const Options& o, const Input& input, const PacketSource& source) {
    if (source.Interruption() != 0) return EndBySignal(source.Interruption());
    if (source.ReadFailed()) {
        return Fail(kExitCannotRead, "cannot read " + Quoted(o.input) + ": " + std::strerror(input.Error()));
    }
    if (input.BytesRead() == 0) return Fail(kExitNotTransportStream, Quoted(o.input) + " is empty: not a transport stream");
    return Fail(kExitNotTransportStream, Quoted(o.input) +
                                             " is not a transport stream: no sync byte 0x47 at 188-, 192- or "
                                             "204-byte steps");
}

// How a run that stopped early ends: 0 when it did not. The caller has
// discarded its output file already.
int Stopped(const PacketSource& source, const StandardOutput& out) {
    if (source.Interruption() != 0) return EndBySignal(source.Interruption());
    if (out.ClosedPipe()) return EndByClosedPipe();
    if (!out.Ok()) return Fail(kExitCannotWrite, out.Error());
    return 0;
}

// Standard output flushed and closed at the end.
int FinishOutput(StandardOutput& out) {
    if (out.Finish()) return kExitOk;
    if (out.ClosedPipe()) return EndByClosedPipe();
    return Fail(kExitCannotWrite, out.Error());
}

int RunListServices(const Options& o, StandardOutput& out) {
    OpenedInput in;
    if (const int code = OpenInput(o, in)) return code;
    PacketSource source(in.input, static_cast<size_t>(o.bufferPackets));
    Progress progress(o.progress && IsTerminal(stderr), in.input);
    ServiceCollector services;
    bool any = false;
    const uint8_t* data = nullptr;
    size_t packets = 0;
    // To the end, or until the PAT and the SDT are whole.
    while (!services.Complete() && source.Next(&data, &packets)) {
        any = true;
        for (size_t i = 0; i < packets; ++i) services.Feed(data + i * kTsPacketSize);
        progress.Update();
    }
    progress.Clear();
    if (!any) return NoPackets(o, in.input, source);
    if (const int code = Stopped(source, out)) return code;
    if (source.ReadFailed()) {
        return Fail(kExitCannotRead, "cannot read " + Quoted(o.input) + ": " + std::strerror(in.input.Error()));
    }
    std::fputs(source.Warnings().c_str(), stderr);
    if (!services.SawPat()) std::fputs("kestrin-info: warning: no whole PAT found: no PMT PIDs\n", stderr);
    if (!services.SawSdt()) std::fputs("kestrin-info: warning: no whole SDT found: no service types or names\n", stderr);
    if (!o.quiet) {
        const std::string list = o.json ? ServiceListJson(services, o.symbols) : ServiceListText(services, o.symbols);
        if (!out.Write(list)) return Stopped(source, out);
    }
    return FinishOutput(out);
}

int Run(const Options& o, StandardOutput& out) {
    OpenedInput in;
    if (const int code = OpenInput(o, in)) return code;

    // Where the extraction goes is settled before anything is read or
    // opened for writing.
    OutputFile output(out);
    const bool extracting = o.extracting;
    if (extracting) {
        switch (output.Prepare(o.extract, o.force, in.identity)) {
            case OutputFile::Check::kOk:
                break;
            case OutputFile::Check::kIsInput:
                return Fail(kExitRefused, Quoted(o.extract) + " is the input " + Quoted(o.input) +
                                              ": refused, nothing was written");
            case OutputFile::Check::kExists:
                return Fail(kExitRefused, Quoted(o.extract) + " exists: not replaced (--force replaces it)");
            case OutputFile::Check::kIsDirectory:
                return Fail(kExitCannotWrite, "cannot create " + Quoted(o.extract) + ": is a directory");
        }
    }
    // With the packets on standard output, the window's changes are not.
    const bool quiet = o.quiet || output.ToStandardOutput();

    const size_t bufferPackets = static_cast<size_t>(o.bufferPackets);
    const size_t bufferBytes = bufferPackets * kTsPacketSize;
    PacketSource source(in.input, bufferPackets);
    Progress progress(o.progress && IsTerminal(stderr), in.input);

    // The first buffer decides whether this is a transport stream at all.
    // Without --service, buffers are held back until the PAT names the
    // one-segment service; they are routed afterwards in the same sizes.
    std::vector<std::vector<uint8_t>> held;
    PatFinder pat;
    bool more = true;
    const uint8_t* data = nullptr;
    size_t count = 0;
    do {
        if (!source.Next(&data, &count)) {
            more = false;
            break;
        }
        for (size_t i = 0; i < count; ++i) pat.Feed(data + i * kTsPacketSize);
        held.push_back(std::vector<uint8_t>(data, data + count * kTsPacketSize));
        progress.Update();
    } while (o.service < 0 && !pat.found() && held.size() * bufferBytes < kPatSearchLimit);
    if (held.empty()) {
        progress.Clear();
        return NoPackets(o, in.input, source);
    }
    if (source.Interruption() != 0) {
        progress.Clear();
        return EndBySignal(source.Interruption());
    }

    int32_t service = o.service;
    if (service < 0) {
        if (!pat.found()) {
            progress.Clear();
            return Fail(kExitNoOneSegment,
                        Quoted(o.input) + " has no one-segment service: " +
                            (pat.sawPat() ? "its PAT lists no PMT on PID 0x1FC8" : "no PAT found") +
                            (more ? " in the first 32 MB" : "") + " (choose one with --service; --list-services lists them)");
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
    WindowPrinter printer(OutputStyle{quiet, o.symbols, o.details, o.json});

    // The host reports the service; channel -1 is the plug-in's "no channel
    // yet", so no channel button changes.
    PluginOnChannelChange(*state, -1, service);
    printer.Observe(platform, *state);
    if (o.following) ViewerCommand(*state, IDC_PRESENT_FOLLOWING);
    printer.Observe(platform, *state);
    if (extracting) {
        platform.SetRecordingOutput(&output);
        ViewerCommand(*state, IDC_ONESEG_RECORD);
        if (!platform.recordingCreated) {
            progress.Clear();
            return Fail(kExitCannotWrite, platform.recordingError);
        }
    }
    bool stop = !Print(out, printer.Take(platform, *state, 0), progress);

    uint64_t packets = 0;
    auto route = [&](const uint8_t* bytes, size_t n) {
        ViewerStreamData(*state, bytes, static_cast<uint32_t>(n * kTsPacketSize));
        packets += n;
        PumpMessages(platform, *state, printer);
        // A failed write ends the recording and the run: its outcome is
        // settled.
        if (!Print(out, printer.Take(platform, *state, packets), progress) || platform.recordingWriteFailed) {
            stop = true;
        }
        progress.Update();
    };
    for (size_t i = 0; i < held.size() && !stop; ++i) route(held[i].data(), held[i].size() / kTsPacketSize);
    held.clear();
    while (more && !stop) {
        if (!source.Next(&data, &count)) break;
        route(data, count);
    }
    progress.Clear();

    if (const int code = Stopped(source, out)) {
        output.Discard();
        return code;
    }
    int code = kExitOk;
    if (source.ReadFailed()) {
        code = Fail(kExitCannotRead, "cannot read " + Quoted(o.input) + ": " + std::strerror(in.input.Error()));
    }
    std::fputs(source.Warnings().c_str(), stderr);

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
        const bool printed = Print(out, printer.Take(platform, *state, packets), progress);
        progress.Clear();
        if (!printed || out.ClosedPipe()) {
            output.Discard();
            return Stopped(source, out);
        }
        if (platform.recordingWriteFailed) {
            output.Discard();
            return Fail(kExitCannotWrite, platform.recordingError);
        }
        if (code != kExitOk) {
            output.Discard();
            return code;
        }
        if (!pmtRead) {
            output.Discard();
            return Fail(kExitNoOneSegment, Quoted(o.input) + " has no one-segment PMT: no PMT on PID 0x1FC8 was read");
        }
    }
    // Everything printed reached standard output before the file is renamed
    // into place.
    const int finished = FinishOutput(out);
    if (finished != kExitOk) {
        output.Discard();
        return finished;
    }
    if (extracting && !output.Commit()) return Fail(kExitCannotWrite, output.Error());
    return code;
}

}  // namespace

int main(int argc, char** argv) {
    StandardOutput out;
#ifdef _WIN32
    // UTF-8 as it is; a console shows it as UTF-8.
    if (IsTerminal(stdout)) SetConsoleOutputCP(CP_UTF8);
#endif
    // --epg is a command of its own (tools/info/epg_dump.*).
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--epg") == 0) return RunEpgDump(argc, argv);
    }
    // --captions is a command of its own, with its own options.
    if (WantsCaptionExport(argc, argv)) return RunCaptionExport(argc, argv);
    InstallInterruptionHandlers();
    Options options;
    if (ParseOptions(argc, argv, options) < 0) {
        std::fputs("Try 'kestrin-info --help'.\n", stderr);
        return kExitUsage;
    }
    if (options.help || options.version) {
        out.Write(options.help ? Usage() : std::string("kestrin-info ") + KESTRIN_INFO_VERSION + "\n");
        return FinishOutput(out);
    }
    if (options.extracting && options.extract == "-" && IsTerminal(stdout)) {
        std::fputs("kestrin-info: the packets are not written to a terminal: redirect standard output\n", stderr);
        return kExitUsage;
    }
    return options.listServices ? RunListServices(options, out) : Run(options, out);
}
