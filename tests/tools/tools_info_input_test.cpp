// kestrin-info reads the recordings people have: junk before and between
// the packets, 192- and 204-byte packets, from a file or standard input;
// --list-services; the command-line conventions.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <set>
#include <sstream>
#include <string>

#include <nlohmann/json.hpp>

#include "tests/tools/tools_test_support.h"

namespace {

using tools_test::Bytes;
using tools_test::Golden;
using tools_test::Info;
using tools_test::Quote;
using tools_test::RunCommand;
using tools_test::WorkPath;

// The sample's packets, each turned into a unit of `unit` bytes.
Bytes AsUnits(const Bytes& stream, size_t unit) {
    Bytes out;
    for (size_t o = 0; o + 188 <= stream.size(); o += 188) {
        if (unit == 192) {
            // A 4-byte arrival timestamp (27 MHz clock), as recorder files have.
            const uint32_t stamp = static_cast<uint32_t>(o / 188 * 1800);
            out.insert(out.end(), {static_cast<uint8_t>(stamp >> 24), static_cast<uint8_t>(stamp >> 16),
                                   static_cast<uint8_t>(stamp >> 8), static_cast<uint8_t>(stamp)});
        }
        out.insert(out.end(), stream.begin() + static_cast<long>(o), stream.begin() + static_cast<long>(o + 188));
        if (unit == 204) out.insert(out.end(), 16, 0xA5);
    }
    return out;
}

// Bytes from a seeded generator, without a sync byte 0x47.
Bytes Junk(size_t n, uint32_t seed) {
    std::mt19937 random(seed);
    Bytes out(n);
    for (uint8_t& b : out) {
        b = static_cast<uint8_t>(random());
        if (b == 0x47) b = 0x46;
    }
    return out;
}

TEST(KestrinInfoInput, ReadsTheRecordingsAsTheyCome) {
    const Bytes sample = tools_test::ReadBytes(KESTRIN_SAMPLE_TS);
    ASSERT_GT(sample.size(), 20000u * 188);
    // 1,001 junk bytes after packet 5,315: the 26,600 packets after them
    // hold the programme change at 22:00.
    const size_t cut = 5315 * 188;
    Bytes junkInTheMiddle(sample.begin(), sample.begin() + static_cast<long>(cut));
    const Bytes junk = Junk(1001, 18);
    junkInTheMiddle.insert(junkInTheMiddle.end(), junk.begin(), junk.end());
    junkInTheMiddle.insert(junkInTheMiddle.end(), sample.begin() + static_cast<long>(cut), sample.end());
    Bytes strayByte = {0x00};
    strayByte.insert(strayByte.end(), sample.begin(), sample.end());

    struct Case {
        const char* name;
        Bytes stream;
        int exitCode;
        const char* warning;  // the whole of standard error
    };
    const Case cases[] = {
        {"a stray byte before the first packet", strayByte, 0,
         "kestrin-info: warning: 1 byte outside the packets was skipped\n"},
        {"1,001 junk bytes in the middle", junkInTheMiddle, 0,
         "kestrin-info: warning: 1001 bytes outside the packets were skipped (the sync byte 0x47 was lost 1 time)\n"},
        {"192-byte packets", AsUnits(sample, 192), 0, ""},
        {"204-byte packets", AsUnits(sample, 204), 0, ""},
        {"all junk", Junk(100000, 7), 3,
         "kestrin-info: 'IN' is not a transport stream: no sync byte 0x47 at 188-, 192- or 204-byte steps\n"},
    };
    const std::string path = WorkPath("input-case.ts");
    for (const Case& c : cases) {
        tools_test::WriteBytes(path, c.stream);
        for (const bool standardInput : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (standardInput ? ", standard input" : ", a file"));
            const std::string name = standardInput ? "-" : path;
            const auto r = RunCommand(standardInput ? "cat " + Quote(path) + " | " + Info("-") : Info(Quote(path)));
            EXPECT_EQ(r.exitCode, c.exitCode);
            std::string warning = c.warning;
            const size_t in = warning.find("IN");
            if (in != std::string::npos) warning.replace(in, 2, name);
            EXPECT_EQ(r.err, warning);
            if (c.exitCode != 0) continue;
            // The same as the plain 188-byte stream, the programme change
            // after the junk included.
            EXPECT_EQ(r.out, Golden("sample-info.txt"));
            EXPECT_NE(r.out.find("text     22:00:00 - 22:45:00"), std::string::npos);
        }
        if (c.exitCode != 0) continue;
        // The extraction is the one of the 188-byte stream too.
        const std::string out = WorkPath("input-case-extract.ts");
        const std::string reference = WorkPath("input-case-reference.ts");
        std::remove(out.c_str());
        std::remove(reference.c_str());
        ASSERT_EQ(RunCommand(Info("--quiet --extract " + Quote(reference) + " " + Quote(KESTRIN_SAMPLE_TS))).exitCode, 0);
        EXPECT_EQ(RunCommand(Info("--quiet --extract " + Quote(out) + " " + Quote(path))).exitCode, 0);
        EXPECT_TRUE(tools_test::ReadBytes(out) == tools_test::ReadBytes(reference)) << c.name;
    }
    std::remove(path.c_str());
}

TEST(KestrinInfoInput, ListsTheServicesOfTheStream) {
    const Bytes sample = tools_test::ReadBytes(KESTRIN_SAMPLE_TS);
    Bytes withoutSdt;
    for (size_t o = 0; o + 188 <= sample.size(); o += 188) {
        if (tools_test::Pid(&sample[o]) != 0x0011) withoutSdt.insert(withoutSdt.end(), &sample[o], &sample[o] + 188);
    }
    const std::string noSdt = WorkPath("no-sdt.ts");
    tools_test::WriteBytes(noSdt, withoutSdt);
    const std::string p204 = WorkPath("services-204.ts");
    tools_test::WriteBytes(p204, AsUnits(sample, 204));

    const std::string header = "service_id     pmt_pid  type                   name\n";
    const std::string listed = header +
                               "1024 (0x0400)  0x0101   0x01 digital TV        ケストリン総合\n"
                               "1025 (0x0401)  0x0102   0x01 digital TV        ケストリン総合２\n"
                               "1416 (0x0588)  0x1FC8   0xC0 data              ケストリンワンセグ (one-segment)\n";
    struct Case {
        std::string command;
        std::string out;
        std::string err;
    };
    const Case cases[] = {
        {Info("--list-services " + Quote(KESTRIN_SAMPLE_TS)), listed, ""},
        {"cat " + Quote(KESTRIN_SAMPLE_TS) + " | " + Info("--list-services -"), listed, ""},
        {Info("--list-services " + Quote(p204)), listed, ""},
        {Info("--list-services " + Quote(noSdt)),
         header +
             "1024 (0x0400)  0x0101   -                      -\n"
             "1025 (0x0401)  0x0102   -                      -\n"
             "1416 (0x0588)  0x1FC8   -                      - (one-segment)\n",
         "kestrin-info: warning: no whole SDT found: no service types or names\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        const auto r = RunCommand(c.command);
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err, c.err);
    }

    // As JSON, one object per service.
    const auto r = RunCommand(Info("--list-services --json " + Quote(KESTRIN_SAMPLE_TS)));
    EXPECT_EQ(r.exitCode, 0);
    std::istringstream lines(r.out);
    std::string line;
    std::vector<nlohmann::json> services;
    while (std::getline(lines, line)) services.push_back(nlohmann::json::parse(line));
    ASSERT_EQ(services.size(), 3u);
    EXPECT_EQ(services[2], nlohmann::json::parse(R"({"service_id":1416,"pmt_pid":8136,"service_type":192,)"
                                                 R"("service_type_name":"data","name":"ケストリンワンセグ","one_segment":true})"));
    EXPECT_EQ(services[0]["one_segment"], false);
    const auto none = RunCommand(Info("--list-services --json " + Quote(noSdt)));
    EXPECT_NE(none.out.find(R"("service_id":1416,"pmt_pid":8136,"service_type":null,"service_type_name":null,"name":null,"one_segment":true)"),
              std::string::npos)
        << none.out;
    std::remove(noSdt.c_str());
    std::remove(p204.c_str());
}

TEST(KestrinInfoOptions, TakeBothFormsAndAreAllDocumented) {
    const std::string sample = Quote(KESTRIN_SAMPLE_TS);
    // --option=value is --option value.
    const auto spaced = RunCommand(Info("--service 1025 --buffer-packets 7 " + sample));
    const auto joined = RunCommand(Info("--service=1025 --buffer-packets=7 " + sample));
    EXPECT_EQ(spaced.exitCode, 0);
    EXPECT_EQ(joined.out, spaced.out);
    EXPECT_NE(joined.out.find("ケストリン総合２"), std::string::npos);

    struct Case {
        std::string arguments;
        int exitCode;
        const char* err;
    };
    const Case cases[] = {
        {"--following=yes " + sample, 1, "kestrin-info: --following takes no value\n"},
        {"--service= " + sample, 1, "kestrin-info: --service wants a service_id 0..65535, not ''\n"},
        {"--extract= " + sample, 1, "kestrin-info: --extract needs a file name (or - for standard output)\n"},
        {"--list-services --extract x.ts " + sample, 1, "kestrin-info: --list-services and --extract do not go together\n"},
        {"''", 1, "kestrin-info: the input name is empty\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments);
        const auto r = RunCommand(Info(c.arguments));
        EXPECT_EQ(r.exitCode, c.exitCode);
        EXPECT_EQ(r.err, std::string(c.err) + "Try 'kestrin-info --help'.\n");
    }

    const auto version = RunCommand(Info("--version"));
    EXPECT_EQ(version.exitCode, 0);
    // The version is the release's, from the file VERSION.
    EXPECT_EQ(version.out, "kestrin-info " + tools_test::ReadText(std::string(KESTRIN_SOURCE_DIR) + "/VERSION"));

    // Every option of --help is in the README's kestrin-info section, and
    // every exit code too.
    const auto help = RunCommand(Info("--help"));
    EXPECT_EQ(help.exitCode, 0);
    const std::string readme = tools_test::ReadText(std::string(KESTRIN_SOURCE_DIR) + "/README.md");
    const size_t start = readme.find("## Checking a stream without the host");
    ASSERT_NE(start, std::string::npos);
    const std::string section = readme.substr(start, readme.find("\n## ", start + 1) - start);
    std::istringstream lines(help.out);
    std::string line;
    std::set<std::string> options;
    while (std::getline(lines, line)) {
        if (line.compare(0, 4, "  --") != 0) continue;
        const std::string option = line.substr(2, line.find(' ', 2) - 2);
        options.insert(option);
        EXPECT_NE(section.find("`" + option), std::string::npos) << option << " is not in the README";
    }
    for (const char* option : {"--extract", "--force", "--list-services", "--version", "--json", "--service"}) {
        EXPECT_EQ(options.count(option), 1u) << option << " is not in --help";
    }
    for (const char* code : {"0 ok", "1 usage", "5 ", "6 ", "130"}) {
        EXPECT_NE(section.find(code), std::string::npos) << code;
    }
}

}  // namespace
