// kestrin-info: what it prints for the sample stream, its extraction against
// the plug-in's own recorder, and its errors and exit codes.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>

#include <nlohmann/json.hpp>

#include "plugin/plugin_core.h"
#include "plugin/plugin_state.h"
#include "plugin/recorder.h"
#include "plugin/router.h"
#include "plugin/section_handover.h"
#include "plugin/settings.h"
#include "tests/support/test_plugin.h"
#include "tests/tools/tools_test_support.h"
#include "tools/info/cp932_utf8.h"
#include "tools/info/epg_dump.h"
#include "tools/info/event_report.h"
#include "text/event_formatter.h"
#include "tools/streamkit/arib_encoder.h"
#include "tools/streamkit/stream_builder.h"
#include "ts/crc32.h"
#include "ts/programme_map.h"
#include "ui/channel_buttons.h"
#include "ui/resource.h"
#include "ui/viewer.h"

namespace {

using tools_test::Bytes;
using tools_test::Golden;
using tools_test::Info;
using tools_test::Quote;
using tools_test::RunCommand;
using tools_test::WorkPath;

const uint16_t kOneSegService = 0x0588;

// The file the plug-in's recorder writes from the stream, driven through the
// core as the window drives it: the record button, the stream in host
// buffers with the posted messages handled after each, the button again.
Bytes RecordWithThePlugin(const Bytes& stream, size_t bufferPackets) {
    TestPlugin t;
    t.platform.settings["1Seg/Directory"] = "D:\\rec";
    t.platform.settings["1Seg/Filename"] = "one.ts";
    LoadSettingsBeforeWindow(t.s());
    PluginOnChannelChange(t.s(), -1, kOneSegService);
    ViewerCommand(t.s(), IDC_ONESEG_RECORD);
    const size_t buffer = bufferPackets * 188;
    for (size_t o = 0; o < stream.size(); o += buffer) {
        RoutePackets(t.s(), stream.data() + o, static_cast<uint32_t>(std::min(buffer, stream.size() - o)));
        t.platform.Pump(t.s());
    }
    ViewerCommand(t.s(), IDC_ONESEG_RECORD);
    EXPECT_TRUE(t.platform.openFiles.empty());
    return t.platform.files["D:\\rec\\one.ts"];
}

// --- What the window shows ---------------------------------------------------------

TEST(KestrinInfo, PrintsWhatTheWindowShowsForTheSample) {
    struct Case {
        const char* options;
        const char* golden;
    };
    const Case cases[] = {
        {"", "sample-info.txt"},
        {"--following --symbols", "sample-info-following.txt"},
        {"--details", "sample-info-details.txt"},
        {"--json", "sample-info.jsonl"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options);
        const auto r = RunCommand(Info(std::string(c.options) + " " + Quote(KESTRIN_SAMPLE_TS)));
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_EQ(r.err, "");  // no progress line when standard error is not a terminal
        EXPECT_EQ(r.out, Golden(c.golden));
    }
}

std::vector<nlohmann::json> JsonLines(const std::string& out) {
    std::vector<nlohmann::json> lines;
    std::istringstream in(out);
    std::string line;
    while (std::getline(in, line)) {
        const nlohmann::json parsed = nlohmann::json::parse(line, nullptr, false);
        EXPECT_FALSE(parsed.is_discarded()) << line;
        EXPECT_TRUE(parsed.is_object()) << line;
        if (parsed.is_object()) lines.push_back(parsed);
    }
    return lines;
}

TEST(KestrinInfo, EveryJsonLineParsesAndMatchesTheBlocks) {
    for (const char* options : {"", "--following", "--symbols", "--following --symbols --buffer-packets 7"}) {
        SCOPED_TRACE(options);
        const auto json = RunCommand(Info(std::string("--json ") + options + " " + Quote(KESTRIN_SAMPLE_TS)));
        EXPECT_EQ(json.exitCode, 0) << json.err;
        const std::vector<nlohmann::json> lines = JsonLines(json.out);
        ASSERT_FALSE(lines.empty());
        // The same changes as the blocks print, in the same order.
        const auto blocks = RunCommand(Info(std::string(options) + " " + Quote(KESTRIN_SAMPLE_TS)));
        std::vector<std::string> clocks;
        for (const auto& line : lines) {
            for (const char* key : {"packet", "type", "shown"}) EXPECT_TRUE(line.contains(key)) << line.dump();
            if (line["type"] == "clock") clocks.push_back(line["shown"]);
            if (line["type"] == "event" && line["title"].is_string()) {
                EXPECT_NE(blocks.out.find("【" + line["title"].get<std::string>() + "】"), std::string::npos)
                    << line.dump();
            }
        }
        EXPECT_EQ(clocks, (std::vector<std::string>{"22:00:00", "22:00:01"}));
    }
}

// --symbols turns the ARIB additional symbols into Unicode enclosed forms
// in every text, the programme details among them.
TEST(KestrinInfo, SymbolsAreConvertedAlikeInTitlesAndItems) {
    const std::string subtitles = "\xF0\x9F\x88\x91";               // 🈑, U+1F211
    const std::string userDefined = Cp932ToUtf8("\xF1\x83");        // the same mark as code page 932 has it
    ASSERT_NE(userDefined, subtitles);
    for (const bool symbols : {false, true}) {
        SCOPED_TRACE(symbols);
        const std::string expected = symbols ? subtitles : userDefined;
        const std::string other = symbols ? userDefined : subtitles;
        const auto r = RunCommand(Info(std::string("--json ") + (symbols ? "--symbols " : "") + Quote(KESTRIN_SAMPLE_TS)));
        const std::vector<nlohmann::json> lines = JsonLines(r.out);
        ASSERT_FALSE(lines.empty());
        const nlohmann::json& news = lines[2];
        ASSERT_EQ(news["type"], "event");
        EXPECT_EQ(news["title"], "ニュース９" + expected);
        ASSERT_EQ(news["items"].size(), 2u);
        EXPECT_EQ(news["items"][1]["text"], "この番組は字幕放送" + expected + "です。");
        EXPECT_EQ(r.out.find(other), std::string::npos);
        const auto details = RunCommand(Info(std::string("--details ") + (symbols ? "--symbols " : "") + Quote(KESTRIN_SAMPLE_TS)));
        EXPECT_NE(details.out.find("           この番組は字幕放送" + expected + "です。\n"), std::string::npos) << details.out;
        EXPECT_EQ(details.out.find(other), std::string::npos);
    }
}

// The event text's layouts as the formatter prints them, read back into
// times and parts; the date is the one the state keeps for the event.
TEST(EventReport, TheWindowTextGivesTimesTitleAndDescription) {
    struct Case {
        const char* name;
        const char* text;
        int year, month, day;
        const char* start;  // "" for none
        const char* end;
        int64_t duration;
        bool hasTitle;
        const char* title;
        const char* description;
    };
    const Case cases[] = {
        {"both times", "22:00:00 - 22:45:00 ('26/12/08)  D(jpn eng)B \r\n【ドラマ】\r\n一行目\r\n二行目", 2026, 12, 8,
         "2026-12-08T22:00:00", "2026-12-08T22:45:00", 2700, true, "ドラマ", "一行目\n二行目"},
        {"ends after midnight and the year", "23:30:00 - 00:30:15 ('26/12/31)   \r\n【年越し】\r\n", 2026, 12, 31,
         "2026-12-31T23:30:00", "2027-01-01T00:30:15", 3615, true, "年越し", ""},
        {"undetermined end", "22:30:00 - 未定 ('26/12/08)   \r\n【スポーツ】\r\n結果", 2026, 12, 8,
         "2026-12-08T22:30:00", "", -1, true, "スポーツ", "結果"},
        {"undetermined start", "未定 - 未定 (未定)   \r\n【未定の番組】\r\n", 2026, 12, 8, "", "", -1, true,
         "未定の番組", ""},
        {"0xFF BCD start", "165:165:165 - 165:165:165 ('26/12/08)   \r\n【x】\r\n", 2026, 12, 8, "", "", -1, true, "x", ""},
        {"a title holding 】", "10:00:00 - 11:00:00 ('26/12/08)   \r\n【【特集】再放送】\r\n】本文", 2026, 12, 8,
         "2026-12-08T10:00:00", "2026-12-08T11:00:00", 3600, true, "【特集】再放送", "】本文"},
        {"no event", "", 2026, 12, 8, "", "", -1, false, "", ""},
        {"not a calendar date", "10:00:00 - 11:00:00 ('26/13/08)   \r\n【x】\r\n", 2026, 13, 8, "", "", -1, true, "x", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const EventTextParts parts = SplitEventText(c.text);
        const EventTimes times = ResolveEventTimes(parts, c.year, c.month, c.day);
        EXPECT_EQ(times.start, c.start);
        EXPECT_EQ(times.end, c.end);
        EXPECT_EQ(times.durationSeconds, c.duration);
        EXPECT_EQ(parts.hasTitle, c.hasTitle);
        EXPECT_EQ(parts.title, c.title);
        EXPECT_EQ(parts.description, c.description);
    }
}

TEST(KestrinInfo, ReadsStandardInputLikeAFile) {
    const auto r = RunCommand("cat " + Quote(KESTRIN_SAMPLE_TS) + " | " + Info("-"));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, Golden("sample-info.txt"));
}

TEST(KestrinInfo, ChoosesAServiceById) {
    const auto r = RunCommand(Info("--service 1025 " + Quote(KESTRIN_SAMPLE_TS)));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("caption  番組情報（現在）- ケストリン総合２\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("text     21:30:00 - 22:30:00 ('26/12/08) 480i(16:9) 5.1(jpn)B S(jpn)B\n"),
              std::string::npos);
}

TEST(KestrinInfo, IgnoresAPartialPacketAtTheEndWithAWarning) {
    Bytes stream = tools_test::ReadBytes(KESTRIN_SAMPLE_TS);
    stream.resize(stream.size() + 100, 0x47);
    const std::string path = WorkPath("tail.ts");
    tools_test::WriteBytes(path, stream);
    const auto r = RunCommand(Info(Quote(path)));
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, Golden("sample-info.txt"));
    EXPECT_NE(r.err.find("the last 100 bytes are not a whole packet"), std::string::npos) << r.err;
    std::remove(path.c_str());
}

// --- Extraction ----------------------------------------------------------------------

class Extraction : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        sample_ = new Bytes(tools_test::ReadBytes(KESTRIN_SAMPLE_TS));
        recorded_ = new Bytes(RecordWithThePlugin(*sample_, 256));
    }
    static void TearDownTestSuite() {
        delete sample_;
        delete recorded_;
    }
    static Bytes* sample_;
    static Bytes* recorded_;
};
Bytes* Extraction::sample_ = nullptr;
Bytes* Extraction::recorded_ = nullptr;

TEST_F(Extraction, EqualsWhatThePluginsRecorderWritesWhateverTheBufferSize) {
    ASSERT_GT(recorded_->size(), 100u * 188);
    for (const char* packets : {"256", "1", "7", "1000"}) {
        SCOPED_TRACE(packets);
        const std::string out = WorkPath(std::string("extract-") + packets + ".ts");
        std::remove(out.c_str());  // an existing file is not replaced
        const auto r = RunCommand(Info(std::string("--quiet --buffer-packets ") + packets + " --extract " + Quote(out) + " " +
                                Quote(KESTRIN_SAMPLE_TS)));
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_TRUE(tools_test::ReadBytes(out) == *recorded_) << "differs from the recorder's file";
    }
}

TEST_F(Extraction, HoldsTheOneSegmentServiceWithItsPatRewritten) {
    std::set<uint16_t> pids;
    for (size_t o = 0; o + 188 <= recorded_->size(); o += 188) pids.insert(tools_test::Pid(&(*recorded_)[o]));
    EXPECT_EQ(pids, (std::set<uint16_t>{0x0000, 0x0010, 0x0011, 0x0014, 0x0027, 0x1FC8, 0x0181, 0x0183, 0x01FF}));
    const auto pats = tools_test::Sections(*recorded_, {0x0000});
    ASSERT_FALSE(pats.empty());
    for (const auto& pat : pats) {
        // The network PID and the one-segment programme, nothing else.
        ASSERT_EQ(pat.bytes.size(), 20u);
        EXPECT_EQ(Crc32Mpeg2(pat.bytes.data(), pat.bytes.size()), 0u);
        EXPECT_EQ(Bytes(pat.bytes.begin() + 8, pat.bytes.begin() + 16),
                  (Bytes{0x00, 0x00, 0xE0, 0x10, 0x05, 0x88, 0xFF, 0xC8}));
    }
    // Every one-segment packet of the stream after the first PMT is there.
    size_t video = 0;
    for (size_t o = 0; o + 188 <= sample_->size(); o += 188) video += tools_test::Pid(&(*sample_)[o]) == 0x0181;
    size_t recordedVideo = 0;
    for (size_t o = 0; o + 188 <= recorded_->size(); o += 188) {
        recordedVideo += tools_test::Pid(&(*recorded_)[o]) == 0x0181;
    }
    EXPECT_GT(recordedVideo, video * 9 / 10);
    EXPECT_LE(recordedVideo, video);
}

TEST_F(Extraction, FfprobeListsOneProgramWithThePmtOn0x1FC8) {
    if (!tools_test::HaveFfprobe()) GTEST_SKIP() << "ffprobe is not installed";
    const std::string out = WorkPath("extract-ffprobe.ts");
    tools_test::WriteBytes(out, *recorded_);
    // The SDT is recorded unchanged, so ffprobe also names the other
    // services, but only the one-segment service has a PMT and streams.
    int exitCode = -1;
    std::string errors;
    const auto programs = tools_test::ProgramsWithPmt(tools_test::Ffprobe(out, &exitCode, &errors));
    EXPECT_EQ(exitCode, 0);
    EXPECT_EQ(errors, "");
    ASSERT_EQ(programs.size(), 1u);
    EXPECT_EQ(programs.begin()->first, kOneSegService);
    EXPECT_EQ(programs.begin()->second.first, 0x1FC8);
    EXPECT_EQ(programs.begin()->second.second, (std::multiset<std::string>{"h264", "aac"}));
}

// --- Errors and exit codes ----------------------------------------------------------------

TEST(KestrinInfo, BadInputsGiveTheirErrorsAndExitCodes) {
    // Prepared inputs.
    const std::string empty = WorkPath("empty.ts");
    tools_test::WriteBytes(empty, Bytes());
    const std::string text = WorkPath("text.ts");
    tools_test::WriteBytes(text, Bytes(1000, 'a'));
    const Bytes sample = tools_test::ReadBytes(KESTRIN_SAMPLE_TS);
    const std::string shifted = WorkPath("shifted.ts");  // starts inside a packet
    tools_test::WriteBytes(shifted, Bytes(sample.begin() + 100, sample.end()));
    const std::string noPmt = WorkPath("no-pmt.ts");  // the PAT names 0x1FC8, no PMT is sent
    Bytes withoutPmt;
    for (size_t o = 0; o + 188 <= sample.size(); o += 188) {
        if (tools_test::Pid(&sample[o]) != 0x1FC8) withoutPmt.insert(withoutPmt.end(), &sample[o], &sample[o] + 188);
    }
    tools_test::WriteBytes(noPmt, withoutPmt);
    const std::string noOneSeg = WorkPath("no-oneseg.ts");  // no one-segment service at all
    {
        gen::Scenario s;
        std::string error;
        ASSERT_TRUE(gen::ParseScenario("[stream]\nstart = 2026-12-08 21:59:59\nduration = 0.5\n"
                                       "[service 0x0400]\npmt = 0x0101\npcr = 0x0111\n"
                                       "video = 0x0111 mpeg2 4000 0x00 720x480\n",
                                       s, error))
            << error;
        tools_test::WriteBytes(noOneSeg, tools_test::Generate(s));
    }
    const std::string removed = WorkPath("removed.ts");
    const std::string sampleArg = Quote(KESTRIN_SAMPLE_TS);

    struct Case {
        std::string arguments;
        int exitCode;
        const char* message;  // in standard error
    };
    const Case cases[] = {
        {"", 1, "no input given"},
        {"--colour " + sampleArg, 1, "unknown option '--colour'"},
        {"--service abc " + sampleArg, 1, "--service wants a service_id"},
        {"--service", 1, "--service needs a value"},
        {"--buffer-packets 0 " + sampleArg, 1, "--buffer-packets wants 1..65536"},
        {sampleArg + " " + sampleArg, 1, "only one input"},
        {Quote(WorkPath("missing.ts")), 2, "cannot open"},
        {Quote(KESTRIN_TOOLS_WORK_DIR), 2, "is a directory"},
        {Quote(empty), 3, "is empty: not a transport stream"},
        {Quote(text), 3, "is not a transport stream: no sync byte 0x47 at 188-, 192- or 204-byte steps"},
        {Quote(noOneSeg), 4, "has no one-segment service: its PAT lists no PMT on PID 0x1FC8"},
        {"--extract " + Quote(removed) + " " + Quote(noPmt), 4, "no PMT on PID 0x1FC8 was read"},
        {"--extract " + Quote(WorkPath("no/such/dir/x.ts")) + " " + sampleArg, 5, "cannot create"},
        // A full disk: the recorder stops at the failed write.
        {"--quiet --extract /dev/full " + sampleArg, 5, "cannot write /dev/full"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments);
        const auto r = RunCommand(Info(c.arguments));
        EXPECT_EQ(r.exitCode, c.exitCode);
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    }
    // A failed extraction leaves no file behind.
    EXPECT_FALSE(tools_test::FileExists(removed));
    // A service chosen by hand needs no one-segment service in the PAT.
    EXPECT_EQ(RunCommand(Info("--service 0x0400 " + Quote(noOneSeg))).exitCode, 0);
    // The PAT of the stream without the PMT still names the service.
    EXPECT_EQ(RunCommand(Info(Quote(noPmt))).exitCode, 0);
    // A stream that starts inside a packet is read from the next one.
    const auto fromTheNext = RunCommand(Info(Quote(shifted)));
    EXPECT_EQ(fromTheNext.exitCode, 0);
    EXPECT_EQ(fromTheNext.err, "kestrin-info: warning: 88 bytes outside the packets were skipped\n");
    for (const std::string& path : {shifted, noPmt}) std::remove(path.c_str());
}

TEST(KestrinInfo, ShowsProgressOnlyOnATerminal) {
    if (std::system("script --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "no script(1) for a terminal";
    // script(1) gives the program a terminal; its output is that terminal's.
    const auto r = RunCommand("script -qec " + Quote(Info("--quiet " + Quote(KESTRIN_SAMPLE_TS))) + " /dev/null");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(r.out.find("\rkestrin-info:"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("of 6.0 MB)"), std::string::npos) << r.out;
    // Without a terminal, nothing (see PrintsWhatTheWindowShowsForTheSample).
}

TEST(KestrinInfo, HelpDocumentsTheExitCodes) {
    const auto r = RunCommand(Info("--help"));
    EXPECT_EQ(r.exitCode, 0);
    for (const char* text : {"--service ID", "--following", "--details", "--json", "--extract OUT.ts", "Exit codes:",
                             "  4  no one-segment"}) {
        EXPECT_NE(r.out.find(text), std::string::npos) << text;
    }
}

TEST(KestrinGen, WritesTheSampleAndReportsScenarioErrors) {
    const std::string out = WorkPath("gen-sample.ts");
    auto r = RunCommand(std::string(KESTRIN_GEN_EXE) + " -o " + Quote(out));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(tools_test::ReadBytes(out) == tools_test::ReadBytes(KESTRIN_SAMPLE_TS));
    std::remove(out.c_str());

    // The built-in scenario is the sample file.
    r = RunCommand(std::string(KESTRIN_GEN_EXE) + " --print-sample");
    EXPECT_EQ(r.out, tools_test::SampleScenarioText());

    const std::string bad = WorkPath("bad.scenario");
    const std::string badText = "[stream]\nstart = yesterday\n";
    tools_test::WriteBytes(bad, Bytes(badText.begin(), badText.end()));
    r = RunCommand(std::string(KESTRIN_GEN_EXE) + " " + Quote(bad) + " -o " + Quote(WorkPath("bad.ts")));
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_NE(r.err.find("line 2: start wants yyyy-mm-dd hh:mm:ss"), std::string::npos) << r.err;

    EXPECT_EQ(RunCommand(std::string(KESTRIN_GEN_EXE) + " " + Quote(WorkPath("none.scenario")) + " -o x.ts").exitCode, 2);
    EXPECT_EQ(RunCommand(std::string(KESTRIN_GEN_EXE)).exitCode, 1);
    EXPECT_EQ(RunCommand(std::string(KESTRIN_GEN_EXE) + " -o " + Quote(WorkPath("no/dir/x.ts"))).exitCode, 5);
}

}  // namespace

namespace {

// The fields --json takes from the EIT itself: the whole short text with its
// symbols as Unicode, the cut flag, ids and times with the Japan offset; and
// nothing when the section is not the one whose text the window shows.
TEST(KestrinInfoEitFields, WholeShortTextCutFlagIdsAndTimes) {
    bool complete = true;
    // A description that fits its descriptor but not the window's 256-byte working text.
    std::string longText;
    for (int i = 0; i < 20; ++i) longText += "ながいせつめいです";  // one ARIB byte a character, two in Shift_JIS
    const build::Bytes titleWithSymbol = EncodeAribFromUtf8("字幕", &complete);
    build::Bytes text = EncodeAribFromUtf8(longText.c_str(), &complete);
    // The boxed 字: additional symbols designated to G0, then kanji again.
    text.insert(text.end(), {0x1B, 0x24, 0x3B, 0x7A, 0x56, 0x1B, 0x24, 0x42});
    build::EitEvent e = build::Event(61382, 22, 0, 0, 0, 45, 0,
                                     build::Cat({build::ShortEventDescriptor(titleWithSymbol, text),
                                                 build::ContentDescriptorOf({0x3012})}));
    e.eventId = 0x1002;
    const build::Bytes section = build::EitPfSection(0x0588, 0, {e});
    EventSnapshot snapshot;
    std::memcpy(snapshot.section.data, section.data(), section.size());
    snapshot.section.length = static_cast<int32_t>(section.size());
    snapshot.hasSection = true;
    std::unique_ptr<EventOutcome> outcome(new EventOutcome);
    FormatEvent(section.data(), static_cast<int32_t>(section.size()), false, SymbolStyle::kUserDefined, *outcome);

    const EitEventFields f = ReadEitEventFields(snapshot, outcome->text);
    ASSERT_TRUE(f.present);
    EXPECT_EQ(f.eventId, 0x1002);
    EXPECT_EQ(f.serviceId, 0x0588);
    EXPECT_EQ(f.networkId, build::kDefaultNetworkId);
    EXPECT_EQ(f.startAt, "2026-12-08T22:00:00+09:00");
    EXPECT_EQ(f.endAt, "2026-12-08T22:45:00+09:00");
    ASSERT_EQ(f.genres.size(), 1u);
    EXPECT_EQ(f.genres[0].level1, 3);
    EXPECT_EQ(f.genres[0].user2, 2);
    EXPECT_EQ(f.shortText, longText + "\U0001F211");
    EXPECT_TRUE(f.textCut);

    EXPECT_FALSE(ReadEitEventFields(snapshot, "another text").present);
    snapshot.hasSection = false;
    EXPECT_FALSE(ReadEitEventFields(snapshot, outcome->text).present);
}

}  // namespace

namespace {

// kestrin-info --epg: the file's guide as JSON on standard output or in -o's
// file, and its errors.
TEST(KestrinInfoEpg, WritesTheGuideAndReportsErrors) {
    const tools_test::Bytes stream = tools_test::ReadBytes(KESTRIN_SAMPLE_TS);
    std::string warnings;
    const std::string expected = EpgJsonFromStream(stream.data(), stream.size(), warnings);
    EXPECT_EQ(warnings, "");
    const nlohmann::json guide = nlohmann::json::parse(expected);
    ASSERT_EQ(guide.size(), 8u);  // three programmes of two services, two of one, the ended present ones too
    for (const nlohmann::json& p : guide) {
        EXPECT_EQ(p["id"].get<int64_t>(), p["networkId"].get<int64_t>() * 10000000000LL +
                                              p["serviceId"].get<int64_t>() * 100000LL + p["eventId"].get<int64_t>());
    }

    const auto out = RunCommand(Info("--epg " + Quote(KESTRIN_SAMPLE_TS)));
    EXPECT_EQ(out.exitCode, 0);
    EXPECT_EQ(out.out, expected);
    const std::string file = WorkPath("guide.json");
    std::remove(file.c_str());
    EXPECT_EQ(RunCommand(Info("--epg -o " + Quote(file) + " " + Quote(KESTRIN_SAMPLE_TS))).exitCode, 0);
    EXPECT_EQ(tools_test::ReadText(file), expected);
    // -o is written as --extract is: an existing file only with --force, never the input.
    tools_test::WriteBytes(file, tools_test::Bytes(3, 'x'));
    EXPECT_EQ(RunCommand(Info("--epg -o " + Quote(file) + " " + Quote(KESTRIN_SAMPLE_TS))).exitCode, 6);
    EXPECT_EQ(tools_test::ReadText(file), "xxx");
    EXPECT_EQ(RunCommand(Info("--epg --force --output=" + Quote(file) + " " + Quote(KESTRIN_SAMPLE_TS))).exitCode, 0);
    EXPECT_EQ(tools_test::ReadText(file), expected);
    const std::string input = WorkPath("guide-input.ts");
    tools_test::WriteBytes(input, tools_test::ReadBytes(KESTRIN_SAMPLE_TS));
    EXPECT_EQ(RunCommand(Info("--epg --force -o " + Quote(input) + " " + Quote(input))).exitCode, 6);
    EXPECT_EQ(tools_test::ReadBytes(input), tools_test::ReadBytes(KESTRIN_SAMPLE_TS));

    EXPECT_EQ(RunCommand(Info("--epg")).exitCode, 1);
    EXPECT_EQ(RunCommand(Info("--epg --json " + Quote(KESTRIN_SAMPLE_TS))).exitCode, 1);
    EXPECT_EQ(RunCommand(Info("--epg " + Quote(WorkPath("missing.ts")))).exitCode, 2);
    EXPECT_EQ(RunCommand(Info("--epg -o " + Quote(WorkPath("no/dir/g.json")) + " " + Quote(KESTRIN_SAMPLE_TS))).exitCode, 5);
}

// What is not a transport stream (an empty file, a text, a program renamed
// .ts) has no guide: --epg says so and ends with 3, as the other commands
// do, in either format, and writes no output file; a stream without EIT is
// an empty guide.
TEST(KestrinInfoEpg, RefusesWhatIsNotATransportStream) {
    tools_test::Bytes program = {'M', 'Z', 0x90, 0x00, 0x03, 0x00, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00, 0xFF, 0xFF};
    program.resize(0x80, 0x00);
    // "PE\0\0", then the machine: i386.
    for (const int b : {0x50, 0x45, 0x00, 0x00, 0x4C, 0x01}) program.push_back(static_cast<uint8_t>(b));
    for (int i = 0; program.size() < 64 * 1024; ++i) program.push_back(static_cast<uint8_t>(i * 37 + (i >> 8)));
    tools_test::Bytes noEit;
    for (int i = 0; i < 10; ++i) {
        tools_test::Bytes packet(188, 0xFF);
        packet[0] = 0x47;
        packet[1] = 0x1F;  // null packets
        packet[2] = 0xFF;
        packet[3] = 0x10;
        noEit.insert(noEit.end(), packet.begin(), packet.end());
    }
    const struct {
        const char* name;
        tools_test::Bytes bytes;
        int exitCode;
        const char* error;  // found in standard error
    } cases[] = {
        {"empty", {}, 3, "is empty: not a transport stream"},
        {"text", tools_test::Bytes(5000, 'x'), 3, "is not a transport stream"},
        {"a program renamed .ts", program, 3, "is not a transport stream"},
        {"packets without EIT", noEit, 0, ""},
    };
    for (const auto& c : cases) {
        const std::string input = WorkPath("not-ts.ts");
        tools_test::WriteBytes(input, c.bytes);
        for (const char* format : {"json", "xmltv"}) {
            const std::string name = std::string(c.name) + ", " + format;
            const auto r = RunCommand(Info(std::string("--epg --format ") + format + " " + Quote(input)));
            EXPECT_EQ(r.exitCode, c.exitCode) << name;
            EXPECT_NE(r.err.find(c.error), std::string::npos) << name << ": " << r.err;
            EXPECT_EQ(r.out.empty(), c.exitCode != 0) << name;
            const std::string file = WorkPath("not-ts-guide.out");
            std::remove(file.c_str());
            const auto o = RunCommand(Info(std::string("--epg --format ") + format + " -o " + Quote(file) + " " +
                                           Quote(input)));
            EXPECT_EQ(o.exitCode, c.exitCode) << name;
            EXPECT_EQ(std::ifstream(file).good(), c.exitCode == 0) << name << ": the output file";
        }
    }
}

}  // namespace
