// kestrin-info's command line: the options, their --help text and the exit
// codes. The commands that have their own options (--epg, --captions) parse
// them themselves.
#ifndef KESTRIN_TOOLS_INFO_INFO_OPTIONS_H
#define KESTRIN_TOOLS_INFO_INFO_OPTIONS_H

#include <cstdint>
#include <string>

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

const int kDefaultBufferPackets = 256;  // 48,128 bytes, a typical host buffer
const int kMaxBufferPackets = 65536;

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

// The --epg command's own options.
enum class EpgFormat { kJson, kXmltv };
struct EpgOptions {
    std::string input;
    std::string output;  // empty: standard output
    bool force = false;
    EpgFormat format = EpgFormat::kJson;
};

// Parses `kestrin-info --epg [--format json|xmltv] [-o OUT | --output=OUT]
// [--force] INPUT`: 1 = parsed, -1 = a usage error, reported on standard
// error.
int ParseEpgOptions(int argc, char** argv, EpgOptions& o);

// The whole --help text, the options' lines made from the option table.
std::string Usage();

// 1 = parsed (also for --help and --version), -1 = a usage error, reported
// on standard error.
int ParseOptions(int argc, char** argv, Options& o);

#endif
