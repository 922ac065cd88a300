// Helpers of the tools' tests: running the built programs, files, the
// sample scenario, and reading back the sections of a generated stream.
#ifndef KESTRIN_TESTS_TOOLS_TOOLS_TEST_SUPPORT_H
#define KESTRIN_TESTS_TOOLS_TOOLS_TEST_SUPPORT_H

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "tools/gen/scenario.h"

namespace tools_test {

typedef std::vector<uint8_t> Bytes;

struct CommandResult {
    int exitCode = -1;
    std::string out;  // standard output
    std::string err;  // standard error
};

// Runs a shell command line, capturing both outputs.
CommandResult RunCommand(const std::string& commandLine);
// Shell-quoted argument.
std::string Quote(const std::string& s);

std::string WorkPath(const std::string& name);  // a file in the test's work directory
// The command line of the built kestrin-info with these arguments.
std::string Info(const std::string& arguments);
// A golden output file of tests/golden/.
std::string Golden(const std::string& name);
Bytes ReadBytes(const std::string& path);
std::string ReadText(const std::string& path);
void WriteBytes(const std::string& path, const Bytes& bytes);
bool FileExists(const std::string& path);

gen::Scenario SampleScenario();
std::string SampleScenarioText();
Bytes Generate(const gen::Scenario& scenario);

bool HaveFfprobe();

// ffprobe's view of a file's programs: program_id -> PMT PID and the codec
// names of its streams. Only programs with a PMT: ffprobe also lists the
// services that only the SDT names, with PMT PID 0 and no streams.
typedef std::map<int, std::pair<int, std::multiset<std::string>>> FfprobePrograms;
FfprobePrograms ProgramsWithPmt(const std::map<std::string, std::string>& flat);
// `ffprobe -of flat` of the programs and streams as key -> value.
std::map<std::string, std::string> Ffprobe(const std::string& path, int* exitCode, std::string* errors = nullptr);

// A complete section found in a stream: its PID and the index of the packet
// in which it began.
struct FoundSection {
    uint16_t pid;
    uint64_t packetIndex;
    Bytes bytes;
};
// Every complete section on the given PIDs, in stream order, reassembled
// across packets (several sections per packet allowed).
std::vector<FoundSection> Sections(const Bytes& stream, const std::vector<uint16_t>& pids);

inline uint16_t Pid(const uint8_t* p) { return static_cast<uint16_t>(((p[1] & 0x1F) << 8) | p[2]); }

}  // namespace tools_test

#endif
