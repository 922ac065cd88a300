// kestrin-info --captions: golden SRT, WebVTT and JSON of the sample with
// captions, the plug-in's own recording of it, a full-segment service, files
// of caption PES payloads, and the errors.
#include <gtest/gtest.h>

#include <unistd.h>

#include <sstream>
#include <string>

#include <nlohmann/json.hpp>

#include "tests/tools/tools_test_support.h"

namespace {

using tools_test::Golden;
using tools_test::Info;
using tools_test::Quote;
using tools_test::RunCommand;
using tools_test::WorkPath;

std::string RealCaptions(const char* name) {
    return std::string(KESTRIN_SOURCE_DIR) + "/tests/data/real/captions/" + name;
}

class Captions : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // One file per process: ctest runs the tests of this suite side by side.
        stream_ = new std::string(WorkPath("sample-captions-" + std::to_string(getpid()) + ".ts"));
        const auto r = RunCommand(std::string(KESTRIN_GEN_EXE) + " " +
                                  Quote(std::string(KESTRIN_SOURCE_DIR) + "/tools/sample/captions.scenario") + " -o " +
                                  Quote(*stream_));
        ASSERT_EQ(r.exitCode, 0) << r.err;
    }
    static void TearDownTestSuite() { delete stream_; }
    static std::string* stream_;
};
std::string* Captions::stream_ = nullptr;

TEST_F(Captions, GoldenSrtVttAndJsonOfTheOneSegmentService) {
    const struct {
        const char* format;
        const char* golden;
    } cases[] = {{"srt", "sample-captions.srt"}, {"vtt", "sample-captions.vtt"}, {"json", "sample-captions.jsonl"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.format);
        const auto r = RunCommand(Info(std::string("--captions ") + c.format + " " + Quote(*stream_)));
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.out, Golden(c.golden));
    }
}

TEST_F(Captions, ReadsStandardInputLikeAFile) {
    // The stream (about 32,000 packets) is read a buffer of 1,024 packets at a time.
    const auto r = RunCommand("cat " + Quote(*stream_) + " | " + Info("--captions srt -"));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, Golden("sample-captions.srt"));
}

TEST_F(Captions, ThePluginsOwnRecordingGivesTheSameCaptions) {
    const std::string recording = WorkPath("captions-recording-" + std::to_string(getpid()) + ".ts");
    const auto extract = RunCommand(Info("--quiet --extract " + Quote(recording) + " " + Quote(*stream_)));
    ASSERT_EQ(extract.exitCode, 0) << extract.err;
    const auto r = RunCommand(Info("--captions srt " + Quote(recording)));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, Golden("sample-captions.srt"));
}

TEST_F(Captions, AFullSegmentServiceByItsId) {
    const auto r = RunCommand(Info("--captions vtt --service 0x0400 " + Quote(*stream_)));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out.rfind("WEBVTT\n\n", 0), 0u) << r.out;
    EXPECT_NE(r.out.find("\nニュースをお伝えします\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("美咲"), std::string::npos);
}

TEST(CaptionsFromPesPayloads, RealStreamsAndDrcs) {
    auto r = RunCommand(Info("--captions srt --captions-input pes " +
                             Quote(RealCaptions("libaribcaption-sample-drcs.pes-payload.bin"))));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "1\n00:00:00,000 --> 00:00:01,000\n〓バサバサッ！〓\n(白鬼院凜々蝶)〓あっ…〓\n\n");

    r = RunCommand(Info("--captions json --captions-input pes " + Quote(RealCaptions("pokemon-2023.es"))));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::istringstream lines(r.out);
    std::string line;
    int cues = 0;
    int rubyRows = 0;
    double lastStart = -1;
    while (std::getline(lines, line)) {
        const nlohmann::json cue = nlohmann::json::parse(line);
        EXPECT_EQ(cue["index"].get<int>(), ++cues);
        EXPECT_GE(cue["start"].get<double>(), lastStart);
        EXPECT_GT(cue["end"].get<double>(), cue["start"].get<double>());
        lastStart = cue["start"].get<double>();
        for (const auto& row : cue["rows"]) {
            if (row["ruby"].get<bool>()) ++rubyRows;
            EXPECT_TRUE(row["colour"].is_string());
            EXPECT_TRUE(row["size"].is_string());
        }
    }
    EXPECT_GT(cues, 300);
    EXPECT_GT(rubyRows, 100);
    // Ruby is in the rows, and in the text only with --ruby.
    EXPECT_NE(r.out.find("\"text\":\"＜リコ:みんなのおかげで\\n無事に取り戻せた→\""), std::string::npos);
    const auto withRuby =
        RunCommand(Info("--captions srt --ruby --captions-input pes " + Quote(RealCaptions("pokemon-2023.es"))));
    const auto without = RunCommand(Info("--captions srt --captions-input pes " + Quote(RealCaptions("pokemon-2023.es"))));
    EXPECT_NE(withRuby.out.find("ぶじともど\n無事に取り戻せた→"), std::string::npos);
    EXPECT_EQ(without.out.find("ぶじともど"), std::string::npos);
    // Additional symbols as Unicode characters: the arrow at the end of a
    // continued line, the note of music.
    r = RunCommand(Info("--captions srt --captions-input pes " + Quote(RealCaptions("samurai_flamenco_13.es"))));
    EXPECT_NE(r.out.find("\n♬～\n"), std::string::npos) << r.out.substr(0, 300);
    EXPECT_NE(r.out.find("(オペレーター)報告いたします。➡\n"), std::string::npos);
    EXPECT_NE(without.out.find("＜リコ:みんなのおかげで\n無事に取り戻せた→"), std::string::npos);
}

TEST(CaptionsErrors, ExitCodes) {
    const std::string notTs = WorkPath("not-a-stream.bin");
    tools_test::WriteBytes(notTs, tools_test::Bytes(1000, 0x11));
    const struct {
        std::string arguments;
        int exitCode;
    } cases[] = {
        {"--captions srt " + Quote(KESTRIN_SAMPLE_TS), 4},  // the sample has no caption stream
        {"--captions srt " + Quote(notTs), 3},
        {"--captions srt " + Quote(WorkPath("no-such-file.ts")), 2},
        {"--captions ass " + Quote(KESTRIN_SAMPLE_TS), 1},
        {"--captions", 1},
        {"--captions srt --captions-input es " + Quote(KESTRIN_SAMPLE_TS), 1},
        {"--captions srt", 1},
        {"--captions srt --service 0x0401 " + Quote(KESTRIN_SAMPLE_TS), 4},
        {"--captions srt --service 7 " + Quote(KESTRIN_SAMPLE_TS), 4},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments);
        const auto r = RunCommand(Info(c.arguments));
        EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_FALSE(r.err.empty());
    }
}

}  // namespace
