#include "tests/tools/tools_test_support.h"

#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

#include "tools/gen/multiplexer.h"

namespace tools_test {

std::string Quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) {
        if (c == '\'') {
            q += "'\\''";
        } else {
            q += c;
        }
    }
    return q + "'";
}

std::string WorkPath(const std::string& name) {
    ::mkdir(KESTRIN_TOOLS_WORK_DIR, 0755);
    return std::string(KESTRIN_TOOLS_WORK_DIR) + "/" + name;
}

std::string Info(const std::string& arguments) { return std::string(KESTRIN_INFO_EXE) + " " + arguments; }

std::string Golden(const std::string& name) {
    return ReadText(std::string(KESTRIN_SOURCE_DIR) + "/tests/golden/" + name);
}

CommandResult RunCommand(const std::string& commandLine) {
    static int serial = 0;
    const std::string tag = std::to_string(::getpid()) + "-" + std::to_string(++serial);
    const std::string out = WorkPath("run-" + tag + ".out");
    const std::string err = WorkPath("run-" + tag + ".err");
    CommandResult r;
    const int status = std::system((commandLine + " >" + Quote(out) + " 2>" + Quote(err)).c_str());
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = ReadText(out);
    r.err = ReadText(err);
    std::remove(out.c_str());
    std::remove(err.c_str());
    return r;
}

Bytes ReadBytes(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

std::string ReadText(const std::string& path) {
    const Bytes b = ReadBytes(path);
    return std::string(b.begin(), b.end());
}

void WriteBytes(const std::string& path, const Bytes& bytes) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

bool FileExists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

std::string SampleScenarioText() { return ReadText(std::string(KESTRIN_SOURCE_DIR) + "/tools/sample/sample.scenario"); }

gen::Scenario SampleScenario() {
    gen::Scenario s;
    std::string error;
    if (!gen::ParseScenario(SampleScenarioText(), s, error)) std::abort();
    return s;
}

Bytes Generate(const gen::Scenario& scenario) {
    Bytes out;
    gen::GenerateStream(scenario, [&out](const uint8_t* p) {
        out.insert(out.end(), p, p + 188);
        return true;
    });
    return out;
}

bool HaveFfprobe() { return std::system("ffprobe -version >/dev/null 2>&1") == 0; }

// ffprobe's flat output as key=value pairs.
std::map<std::string, std::string> Ffprobe(const std::string& path, int* exitCode, std::string* errors) {
    const auto r = RunCommand("ffprobe -v error -show_entries "
                                   "program=program_id,pmt_pid,pcr_pid:stream=codec_name,id -of flat " +
                                   Quote(path));
    *exitCode = r.exitCode;
    if (errors != nullptr) *errors = r.err;
    std::map<std::string, std::string> values;
    std::istringstream lines(r.out);
    std::string line;
    while (std::getline(lines, line)) {
        const size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        std::string value = line.substr(eq + 1);
        if (value.size() >= 2 && value.front() == '"') value = value.substr(1, value.size() - 2);
        values[line.substr(0, eq)] = value;
    }
    return values;
}

FfprobePrograms ProgramsWithPmt(const std::map<std::string, std::string>& v) {
    FfprobePrograms programs;
    for (int i = 0; v.count("programs.program." + std::to_string(i) + ".program_id"); ++i) {
        const std::string prefix = "programs.program." + std::to_string(i) + ".";
        const int pmt = std::stoi(v.at(prefix + "pmt_pid"));
        if (pmt == 0) continue;
        auto& entry = programs[std::stoi(v.at(prefix + "program_id"))];
        entry.first = pmt;
        for (int k = 0; v.count(prefix + "streams.stream." + std::to_string(k) + ".codec_name"); ++k) {
            entry.second.insert(v.at(prefix + "streams.stream." + std::to_string(k) + ".codec_name"));
        }
    }
    return programs;
}

std::vector<FoundSection> Sections(const Bytes& stream, const std::vector<uint16_t>& pids) {
    struct Collector {
        Bytes data;
        uint64_t startPacket = 0;
        bool active = false;
    };
    std::map<uint16_t, Collector> collectors;
    std::vector<FoundSection> found;
    // Takes every complete section at the front of the collector's data.
    auto drain = [&](uint16_t pid, Collector& c) {
        while (c.active && c.data.size() >= 3) {
            if (c.data[0] == 0xFF) {  // stuffing: no more sections in this packet
                c.active = false;
                c.data.clear();
                return;
            }
            const size_t whole = static_cast<size_t>(((c.data[1] & 0x0F) << 8) | c.data[2]) + 3;
            if (c.data.size() < whole) return;
            found.push_back({pid, c.startPacket, Bytes(c.data.begin(), c.data.begin() + static_cast<long>(whole))});
            c.data.erase(c.data.begin(), c.data.begin() + static_cast<long>(whole));
        }
    };
    for (size_t o = 0; o + 188 <= stream.size(); o += 188) {
        const uint8_t* p = &stream[o];
        const uint16_t pid = Pid(p);
        if (std::find(pids.begin(), pids.end(), pid) == pids.end()) continue;
        size_t payload = (p[3] & 0x20) ? 5 + p[4] : 4;
        if (!(p[3] & 0x10) || payload >= 188) continue;
        Collector& c = collectors[pid];
        if (p[1] & 0x40) {
            const size_t pointer = p[payload];
            const size_t start = payload + 1 + pointer;
            if (c.active) c.data.insert(c.data.end(), p + payload + 1, p + std::min<size_t>(start, 188));
            drain(pid, c);
            c.data.assign(p + std::min<size_t>(start, 188), p + 188);
            c.active = true;
            c.startPacket = o / 188;
        } else if (c.active) {
            c.data.insert(c.data.end(), p + payload, p + 188);
        }
        drain(pid, c);
    }
    return found;
}

}  // namespace tools_test
