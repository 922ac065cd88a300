#include "tools/info/info_options.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

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
struct OptionEntry {
    const char* name;
    const char* value;
    const char* help;
    bool (*Apply)(Options& o, const char* value);
};

const OptionEntry kOptions[] = {
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

}  // namespace

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
    for (const OptionEntry& entry : kOptions) {
        std::string head = std::string("  ") + entry.name + (entry.value != nullptr ? std::string(" ") + entry.value : "");
        head += std::string(head.size() < kHelpColumn - 1 ? kHelpColumn - head.size() : 1, ' ');
        const std::string indent(kHelpColumn, ' ');
        bool first = true;
        for (const char* line = entry.help; *line != '\0';) {
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
        "  --format FORMAT      with --epg: json (the default) or xmltv, the XMLTV\n"
        "                       file media servers read (channels with the SDT's\n"
        "                       service names, times in +0900); programmes whose\n"
        "                       start is undetermined are left out of it, with a\n"
        "                       warning; one of undetermined duration stops where\n"
        "                       the service's next one starts, at most 3 hours on\n"
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

int ParseEpgOptions(int argc, char** argv, EpgOptions& o) {
    bool named = false;  // -o given, even with an empty name
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--epg") continue;
        std::string format;
        bool formatGiven = false;
        if (arg == "--force") {
            o.force = true;
        } else if ((arg == "-o" || arg == "--output") && i + 1 < argc) {
            o.output = argv[++i];
            named = true;
        } else if (arg.compare(0, 9, "--output=") == 0) {
            o.output = arg.substr(9);
            named = true;
        } else if (arg == "--format" && i + 1 < argc) {
            format = argv[++i];
            formatGiven = true;
        } else if (arg.compare(0, 9, "--format=") == 0) {
            format = arg.substr(9);
            formatGiven = true;
        } else if (arg == "--format") {
            std::fputs("kestrin-info: --format needs a value: json or xmltv\n", stderr);
            return -1;
        } else if (!arg.empty() && arg[0] == '-' && arg != "-") {
            std::fprintf(stderr, "kestrin-info: --epg takes only --format, -o OUT, --force and the input, not '%s'\n",
                         arg.c_str());
            return -1;
        } else if (o.input.empty()) {
            o.input = arg;
        } else {
            std::fprintf(stderr, "kestrin-info: one input file only\n");
            return -1;
        }
        if (!formatGiven) continue;
        if (format == "json") {
            o.format = EpgFormat::kJson;
        } else if (format == "xmltv") {
            o.format = EpgFormat::kXmltv;
        } else {
            std::fprintf(stderr, "kestrin-info: --format wants json or xmltv, not '%s'\n", format.c_str());
            return -1;
        }
    }
    if (o.input.empty()) {
        std::fprintf(stderr, "kestrin-info: --epg wants an input file\n");
        return -1;
    }
    if (named && o.output.empty()) {
        std::fprintf(stderr, "kestrin-info: -o needs a file name (or - for standard output)\n");
        return -1;
    }
    return 1;
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
        const OptionEntry* entry = nullptr;
        for (const OptionEntry& candidate : kOptions) {
            if (name == candidate.name) entry = &candidate;
        }
        if (entry == nullptr) {
            std::fprintf(stderr, "kestrin-info: unknown option '%s'\n", arg.c_str());
            return -1;
        }
        const char* value = nullptr;
        if (equals != std::string::npos) {
            if (entry->value == nullptr) {
                std::fprintf(stderr, "kestrin-info: %s takes no value\n", entry->name);
                return -1;
            }
            value = argv[i] + equals + 1;
        } else if (entry->value != nullptr) {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "kestrin-info: %s needs a value\n", entry->name);
                return -1;
            }
            value = argv[++i];
        }
        if (!entry->Apply(o, value != nullptr ? value : "")) return -1;
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
