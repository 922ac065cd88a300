// kestrin-gen: writes a sample ISDB-T transport stream from a scenario file,
// or from the sample scenario built into it.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#include "tools/gen/guide_scenarios.h"
#include "tools/gen/multiplexer.h"
#include "tools/gen/scenario.h"

extern const unsigned char kEmbeddedScenario[];
extern const size_t kEmbeddedScenarioSize;

namespace {

enum ExitCode {
    kExitOk = 0,
    kExitUsage = 1,
    kExitCannotRead = 2,     // the scenario file cannot be read
    kExitBadScenario = 3,
    kExitCannotWrite = 5,
};

void PrintUsage(std::FILE* to) {
    std::fputs(
        "Usage: kestrin-gen [SCENARIO] -o OUT.ts\n"
        "       kestrin-gen --scenario NAME -o OUT.ts\n"
        "       kestrin-gen --print-sample | --print-scenario NAME | --list-scenarios\n"
        "\n"
        "Writes an ISDB-T transport stream (PAT, PMTs, NIT, SDT, EIT present/following,\n"
        "TOT, video, audio, PCR and null packets at the scenario's bitrate) described by\n"
        "SCENARIO; without SCENARIO, the built-in sample scenario. The format is described\n"
        "in tools/sample/README.md; --print-sample shows the built-in one.\n"
        "\n"
        "Options:\n"
        "  -o, --output OUT.ts  the stream to write (- for standard output)\n"
        "  --print-sample       print the built-in sample scenario and exit\n"
        "  --scenario NAME      a named programme-table scenario instead of SCENARIO\n"
        "                       (--list-scenarios); one of several multiplexes (zap)\n"
        "                       writes them one after another and names on standard\n"
        "                       error the packet where each begins\n"
        "  --print-scenario NAME  print a named scenario's text and exit\n"
        "  --list-scenarios     list the named scenarios and exit\n"
        "  --help               this text\n"
        "\n"
        "Exit codes: 0 success, 1 bad command line, 2 the scenario cannot be read,\n"
        "3 the scenario is wrong (the message names the line), 5 the output cannot be\n"
        "written.\n",
        to);
}

bool ReadFile(const std::string& path, std::string& text) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return false;
    char chunk[4096];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) text.append(chunk, n);
    const bool ok = !std::ferror(f);
    std::fclose(f);
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    std::string scenarioPath;
    std::string scenarioName;
    std::string output;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            PrintUsage(stdout);
            return kExitOk;
        } else if (arg == "--print-sample") {
            std::fwrite(kEmbeddedScenario, 1, kEmbeddedScenarioSize, stdout);
            return kExitOk;
        } else if (arg == "--list-scenarios") {
            for (const gen::NamedScenario& n : gen::NamedScenarios()) std::printf("%-15s %s\n", n.name, n.summary);
            return kExitOk;
        } else if (arg == "--scenario" || arg == "--print-scenario") {
            std::vector<std::string> parts;
            if (i + 1 >= argc || !gen::NamedScenarioParts(argv[i + 1], parts)) {
                std::fprintf(stderr, "kestrin-gen: %s wants a name of --list-scenarios\n", arg.c_str());
                return kExitUsage;
            }
            scenarioName = argv[++i];
            if (arg == "--print-scenario") {
                for (const std::string& part : parts) std::fwrite(part.data(), 1, part.size(), stdout);
                return kExitOk;
            }
        } else if (arg == "-o" || arg == "--output") {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "kestrin-gen: %s needs a file name\n", arg.c_str());
                return kExitUsage;
            }
            output = argv[++i];
        } else if (arg.size() > 1 && arg[0] == '-') {
            std::fprintf(stderr, "kestrin-gen: unknown option '%s'\nTry 'kestrin-gen --help'.\n", arg.c_str());
            return kExitUsage;
        } else if (scenarioPath.empty()) {
            scenarioPath = arg;
        } else {
            std::fprintf(stderr, "kestrin-gen: only one scenario, not also '%s'\n", arg.c_str());
            return kExitUsage;
        }
    }
    if (output.empty()) {
        std::fputs("kestrin-gen: no output given (-o OUT.ts)\nTry 'kestrin-gen --help'.\n", stderr);
        return kExitUsage;
    }

    if (!scenarioName.empty() && !scenarioPath.empty()) {
        std::fputs("kestrin-gen: either a SCENARIO file or --scenario NAME\n", stderr);
        return kExitUsage;
    }
    std::vector<std::string> texts(1);
    if (!scenarioName.empty()) {
        gen::NamedScenarioParts(scenarioName, texts);
    } else if (scenarioPath.empty()) {
        texts[0].assign(reinterpret_cast<const char*>(kEmbeddedScenario), kEmbeddedScenarioSize);
    } else if (!ReadFile(scenarioPath, texts[0])) {
        std::fprintf(stderr, "kestrin-gen: cannot read '%s': %s\n", scenarioPath.c_str(), std::strerror(errno));
        return kExitCannotRead;
    }
    std::vector<gen::Scenario> scenarios(texts.size());
    for (size_t k = 0; k < texts.size(); ++k) {
        std::string error;
        if (!gen::ParseScenario(texts[k], scenarios[k], error)) {
            const std::string source = !scenarioName.empty() ? "(scenario " + scenarioName + ")"
                                       : scenarioPath.empty() ? std::string("(built-in sample)")
                                                              : scenarioPath;
            std::fprintf(stderr, "kestrin-gen: %s: %s\n", source.c_str(), error.c_str());
            return kExitBadScenario;
        }
    }

    std::FILE* out;
    if (output == "-") {
#ifdef _WIN32
        _setmode(_fileno(stdout), _O_BINARY);
#endif
        out = stdout;
    } else {
        out = std::fopen(output.c_str(), "wb");
        if (out == nullptr) {
            std::fprintf(stderr, "kestrin-gen: cannot create '%s': %s\n", output.c_str(), std::strerror(errno));
            return kExitCannotWrite;
        }
    }
    bool written = true;
    uint64_t first = 0;
    for (size_t k = 0; k < scenarios.size() && written; ++k) {
        // Where each multiplex begins, for a host that tunes there.
        if (scenarios.size() > 1) {
            std::fprintf(stderr, "kestrin-gen: multiplex %u (transport_stream_id 0x%04X) from packet %llu\n",
                         static_cast<unsigned>(k + 1), scenarios[k].transportStreamId,
                         static_cast<unsigned long long>(first));
        }
        written = gen::GenerateStream(scenarios[k], [out](const uint8_t* packet) {
            return std::fwrite(packet, 1, 188, out) == 188;
        });
        first += gen::PacketCount(scenarios[k]);
    }
    const bool closed = out == stdout ? std::fflush(out) == 0 : std::fclose(out) == 0;
    if (!written || !closed) {
        std::fprintf(stderr, "kestrin-gen: cannot write '%s': %s\n", output.c_str(), std::strerror(errno));
        return kExitCannotWrite;
    }
    return kExitOk;
}
