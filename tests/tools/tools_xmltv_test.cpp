// kestrin-info --epg --format xmltv: the sample's golden file, every output
// checked against the XMLTV DTD (Debian's xmltv-util) with xmllint; the
// escaping, the times, the programmes left out for an undetermined start
// and stopped at the next one for an undetermined duration, the
// additional symbols as Unicode, the categories and episode numbers of
// hand-built sections, and an empty stream.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/tools/tools_test_support.h"
#include "tools/info/epg_dump.h"
#include "tools/info/xmltv_writer.h"
#include "tools/streamkit/arib_encoder.h"
#include "tools/streamkit/stream_builder.h"

namespace {

using tools_test::Bytes;
using tools_test::Golden;
using tools_test::Info;
using tools_test::Quote;
using tools_test::RunCommand;
using tools_test::WorkPath;

const char kDtd[] = "/usr/share/xmltv/xmltv.dtd";
const char kEmptyGuide[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<!DOCTYPE tv SYSTEM \"xmltv.dtd\">\n"
    "<tv generator-info-name=\"kestrin-info\">\n"
    "</tv>\n";

bool HaveValidator() {
    return tools_test::FileExists(kDtd) && RunCommand("command -v xmllint").exitCode == 0;
}

// xmllint's messages when `xml` is not valid XMLTV, "" when it is.
std::string ValidationErrors(const std::string& xml, const std::string& name) {
    const std::string path = WorkPath(name);
    tools_test::WriteBytes(path, Bytes(xml.begin(), xml.end()));
    const tools_test::CommandResult r =
        RunCommand("xmllint --noout --nonet --dtdvalid " + Quote(kDtd) + " " + Quote(path));
    return r.exitCode == 0 ? std::string() : "xmllint: " + r.err;
}

// Checked where the validator is installed (scripts/bootstrap.sh installs it).
void ExpectValidXmltv(const std::string& xml, const std::string& name) {
    if (HaveValidator()) {
        EXPECT_EQ(ValidationErrors(xml, name), "") << name;
    }
}

size_t Count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

TEST(KestrinInfoXmltv, ValidatorIsInstalled) {
    if (!HaveValidator()) GTEST_SKIP() << "xmllint or " << kDtd << " missing (libxml2-utils, xmltv-util)";
    // The validator does refuse what the DTD forbids: a programme without title.
    EXPECT_NE(ValidationErrors("<?xml version=\"1.0\"?>\n<tv><programme start=\"20261208210000 +0900\" "
                               "channel=\"1\"></programme></tv>\n",
                               "invalid.xml"),
              "");
}

// The sample stream as the golden file, on standard output and in -o's file,
// with -o's refusals, and the JSON still the default.
TEST(KestrinInfoXmltv, SampleMatchesTheGoldenFile) {
    const std::string golden = Golden("sample-epg.xml");
    const auto out = RunCommand(Info("--epg --format xmltv " + Quote(KESTRIN_SAMPLE_TS)));
    EXPECT_EQ(out.exitCode, 0);
    EXPECT_EQ(out.out, golden);
    // 0x2002 of service 0x0401 runs until further notice, and nothing
    // follows it: it stops three hours after its start, 22:30 to 01:30.
    EXPECT_EQ(out.err, "");
    EXPECT_NE(golden.find("<programme start=\"20261208223000 +0900\" stop=\"20261209013000 +0900\""),
              std::string::npos);
    ExpectValidXmltv(golden, "sample-epg.xml");
    const Bytes stream = tools_test::ReadBytes(KESTRIN_SAMPLE_TS);
    std::string warnings;
    EXPECT_EQ(EpgXmltvFromStream(stream.data(), stream.size(), warnings), golden);

    const std::string file = WorkPath("guide.xml");
    std::remove(file.c_str());
    EXPECT_EQ(RunCommand(Info("--epg --format=xmltv -o " + Quote(file) + " " + Quote(KESTRIN_SAMPLE_TS))).exitCode, 0);
    EXPECT_EQ(tools_test::ReadText(file), golden);
    tools_test::WriteBytes(file, Bytes(3, 'x'));
    EXPECT_EQ(RunCommand(Info("--epg --format xmltv -o " + Quote(file) + " " + Quote(KESTRIN_SAMPLE_TS))).exitCode, 6);
    EXPECT_EQ(tools_test::ReadText(file), "xxx");
    EXPECT_EQ(RunCommand(Info("--epg --format xmltv --force -o " + Quote(file) + " " + Quote(KESTRIN_SAMPLE_TS))).exitCode,
              0);
    EXPECT_EQ(tools_test::ReadText(file), golden);
    const std::string input = WorkPath("xmltv-input.ts");
    tools_test::WriteBytes(input, stream);
    EXPECT_EQ(RunCommand(Info("--epg --format xmltv --force -o " + Quote(input) + " " + Quote(input))).exitCode, 6);
    EXPECT_EQ(tools_test::ReadBytes(input), stream);

    const auto json = RunCommand(Info("--epg --format json " + Quote(KESTRIN_SAMPLE_TS)));
    EXPECT_EQ(json.exitCode, 0);
    EXPECT_EQ(json.out, RunCommand(Info("--epg " + Quote(KESTRIN_SAMPLE_TS))).out);
    const auto badFormat = RunCommand(Info("--epg --format xml " + Quote(KESTRIN_SAMPLE_TS)));
    EXPECT_EQ(badFormat.exitCode, 1);
    EXPECT_EQ(badFormat.err, "kestrin-info: --format wants json or xmltv, not 'xml'\n");
    const auto noFormat = RunCommand(Info("--epg " + Quote(KESTRIN_SAMPLE_TS) + " --format"));
    EXPECT_EQ(noFormat.exitCode, 1);
    EXPECT_EQ(noFormat.err, "kestrin-info: --format needs a value: json or xmltv\n");
}

TEST(KestrinInfoXmltv, EmptyStreamIsAnEmptyGuide) {
    std::string warnings;
    EXPECT_EQ(EpgXmltvFromStream(nullptr, 0, warnings), kEmptyGuide);
    EXPECT_EQ(warnings, "");
    ExpectValidXmltv(kEmptyGuide, "empty.xml");
    // Not a transport stream at all: no guide, but the refusal
    // (KestrinInfoEpg.RefusesWhatIsNotATransportStream).
    const std::string text = WorkPath("xmltv-text.ts");
    tools_test::WriteBytes(text, Bytes(5000, 'x'));
    const auto empty = RunCommand(Info("--epg --format xmltv " + Quote(text)));
    EXPECT_EQ(empty.exitCode, 3);
    EXPECT_EQ(empty.out, "");
}

TEST(XmltvText, EscapesAndDropsWhatXmlForbids) {
    struct Case {
        const char* name;
        std::string text;
        std::string xml;
    };
    const Case cases[] = {
        {"ampersand", "Tom & Jerry", "Tom &amp; Jerry"},
        {"markup", "<b>x</b>", "&lt;b&gt;x&lt;/b&gt;"},
        {"entity-like text", "&amp;", "&amp;amp;"},
        {"double quote", "say \"hi\"", "say &quot;hi&quot;"},
        {"single quote kept", "it's", "it's"},
        {"controls dropped", std::string("a\x01" "b\x1B" "c\x7F" "d", 7), "ab" "c\x7F" "d"},
        {"NUL dropped", std::string("a\0b", 3), "ab"},
        {"tab kept", "a\tb", "a\tb"},
        {"CR LF and CR as LF", "a\r\nb\rc\nd", "a\nb\nc\nd"},
        {"U+FFFE and U+FFFF dropped", "a\xEF\xBF\xBE" "b\xEF\xBF\xBF" "c", "abc"},
        {"invalid UTF-8 as U+FFFD", "a\xFF" "b\xC3", "a\xEF\xBF\xBD" "b\xEF\xBF\xBD"},
        {"overlong form as U+FFFD", "\xC0\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD"},
        // '/' in three and four bytes: each byte alone.
        {"overlong 3-byte form as U+FFFD", "a\xE0\x80\xAF" "b", "a\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD" "b"},
        {"overlong 4-byte form as U+FFFD", "\xF0\x80\x80\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"the shortest 3-byte form kept", "\xE0\xA0\x80", "\xE0\xA0\x80"},
        {"encoded surrogate as U+FFFD", "\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"symbol kept", "\xF0\x9F\x88\x91", "\xF0\x9F\x88\x91"},
        {"Japanese kept", "字幕", "字幕"},
    };
    for (const Case& c : cases) {
        std::string out;
        AppendXmlText(out, c.text);
        EXPECT_EQ(out, c.xml) << c.name;
    }
}

// episode-num from the series descriptor's episode and last episode
// numbers: the total only when it is one the episode can be part of.
TEST(KestrinInfoXmltv, EpisodeNumbers) {
    const uint16_t kMjd = 61382;  // 2026-12-08
    const struct {
        const char* name;
        uint16_t episode;
        uint16_t last;
        const char* xmltvNs;  // nullptr: no episode-num
    } cases[] = {
        {"3 of 12", 3, 12, ".2/12."},
        {"the last: 12 of 12", 12, 12, ".11/12."},
        {"the first of one", 1, 1, ".0/1."},
        {"no total", 5, 0, ".4."},
        {"a total below the episode", 13, 12, ".12."},
        {"no episode number", 0, 12, nullptr},
    };
    for (const auto& c : cases) {
        build::Series series;
        series.seriesId = 0x0123;
        series.episodeNumber = c.episode;
        series.lastEpisodeNumber = c.last;
        build::EitEvent e = build::Event(kMjd, 22, 0, 0, 0, 45, 0, build::SeriesDescriptor(series));
        e.eventId = 0x1001;
        build::StreamBuilder sb;
        const Bytes stream = sb.Stream(0x0012, {build::EitPfSection(0x0400, 0, {e})});
        std::string warnings;
        const std::string xml = EpgXmltvFromStream(stream.data(), stream.size(), warnings);
        ASSERT_EQ(Count(xml, "<programme "), 1u) << c.name;
        if (c.xmltvNs == nullptr) {
            EXPECT_EQ(Count(xml, "episode-num"), 0u) << c.name;
            continue;
        }
        EXPECT_NE(xml.find(std::string("<episode-num system=\"xmltv_ns\">") + c.xmltvNs + "</episode-num>"),
                  std::string::npos)
            << c.name << "\n"
            << xml;
        EXPECT_NE(xml.find("<episode-num system=\"onscreen\">第" + std::to_string(c.episode) + "回</episode-num>"),
                  std::string::npos)
            << c.name;
    }
}

TEST(XmltvTime, JapanSecondsAsXmltvTimes) {
    struct Case {
        int64_t seconds;
        const char* time;
    };
    const Case cases[] = {
        {0, "19700101000000 +0900"},
        {-1, "19691231235959 +0900"},
        {1796767200, "20261208220000 +0900"},         // the sample's 22:00
        {1835481599, "20280229235959 +0900"},         // a leap day's last second
        {1835481600, "20280301000000 +0900"},
        {4102444799, "20991231235959 +0900"},
        // The last start an EIT can give (MJD 0xFFFF, 23:59:59) and 99:59:59
        // on: past the 16-bit MJD and 32-bit seconds.
        {2155953598LL, "20380427035958 +0900"},
    };
    for (const Case& c : cases) EXPECT_EQ(XmltvTime(c.seconds), c.time) << c.seconds;
}

// Hand-built sections: service names from the SDT (one service without),
// a present event with markup characters, a symbol and control bytes in its
// texts, genres that decide the English word, a series and a relay (their
// lines close the desc); a following event
// whose start is undetermined (left out); an event of another service whose
// duration is undetermined, which stops where that service's next one starts.
TEST(KestrinInfoXmltv, HandBuiltEvents) {
    const uint16_t kMjd = 61382;  // 2026-12-08
    bool complete = true;
    build::Bytes title = EncodeAribFromUtf8("Tom & Jerry <1> \"x\"", &complete);
    // The boxed 字: G0 into GL again (the Latin letters were G1's), the
    // additional symbols designated to G0, then kanji again.
    title.insert(title.end(), {0x0F, 0x1B, 0x24, 0x3B, 0x7A, 0x56, 0x1B, 0x24, 0x42});
    build::Bytes text = EncodeAribFromUtf8("一行目", &complete);
    text.insert(text.end(), {0x07, 0x0D});  // BEL, then APR: a line break
    const build::Bytes second = EncodeAribFromUtf8("二行目", &complete);
    text.insert(text.end(), second.begin(), second.end());
    ASSERT_TRUE(complete);
    build::Series series;
    series.seriesId = 0x0123;
    series.episodeNumber = 3;
    series.lastEpisodeNumber = 12;
    series.name = EncodeAribFromUtf8("渡り鳥の空");
    build::EitEvent present = build::Event(
        kMjd, 22, 0, 0, 0, 45, 0,
        build::Cat({build::ShortEventDescriptor(title, text),
                    build::ExtendedEventDescriptor(0, 0, {{EncodeAribFromUtf8("出演"), EncodeAribFromUtf8("A&B")}}),
                    // 特撮, 国内アニメ, 特撮 again, the extension, a reserved level, an unassigned pair.
                    build::ContentDescriptorOf({0x72FF, 0x70FF, 0x72FF, 0xE0FF, 0xC0FF, 0x0BFF}),
                    build::SeriesDescriptor(series), build::EventGroupDescriptor(2, {{0, 0, 0x0401, 0x2002}})}));
    present.eventId = 0x1001;
    build::EitEvent following = build::Event(kMjd, 0, 0, 0, 0, 30, 0,
                                             build::ShortEventDescriptor(EncodeAribFromUtf8("未定"), Bytes()));
    following.eventId = 0x1002;
    following.startMjd = 0xFFFF;
    following.start[0] = following.start[1] = following.start[2] = 0xFF;
    build::EitEvent open = build::Event(kMjd, 21, 30, 0, 0, 0, 0,
                                        build::ShortEventDescriptor(EncodeAribFromUtf8("スポーツ"), Bytes()));
    open.eventId = 0x2001;
    open.duration[0] = open.duration[1] = open.duration[2] = 0xFF;
    build::EitEvent plain = build::Event(kMjd, 23, 0, 0, 1, 0, 0);  // no short event: an empty title
    plain.eventId = 0x2002;

    build::StreamBuilder sb;
    const Bytes stream = build::Cat(
        {sb.Stream(0x0011, {build::SdtSection(0x7FE0, 0x7FE0,
                                              {build::NamedService(0x0400, EncodeAribFromUtf8("A&B <局>")),
                                               build::NamedService(0x0401, Bytes())})}),
         sb.Stream(0x0012, {build::EitPfSection(0x0400, 0, {present}), build::EitPfSection(0x0400, 1, {following}),
                            build::EitPfSection(0x0401, 0, {open}), build::EitPfSection(0x0401, 1, {plain})})});
    std::string warnings;
    const std::string xml = EpgXmltvFromStream(stream.data(), stream.size(), warnings);
    EXPECT_EQ(warnings,
              "service 1024 event 4098: left out of the XMLTV, its start is undetermined\n");
    ExpectValidXmltv(xml, "hand-built.xml");
    const std::string expected =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<!DOCTYPE tv SYSTEM \"xmltv.dtd\">\n"
        "<tv generator-info-name=\"kestrin-info\">\n"
        "  <channel id=\"3273601024\">\n"
        "    <display-name lang=\"ja\">A&amp;B &lt;局&gt;</display-name>\n"
        "  </channel>\n"
        "  <channel id=\"3273601025\">\n"
        "    <display-name>3273601025</display-name>\n"
        "  </channel>\n"
        "  <programme start=\"20261208220000 +0900\" stop=\"20261208224500 +0900\" channel=\"3273601024\">\n"
        "    <title lang=\"ja\">Tom &amp; Jerry &lt;1&gt; &quot;x&quot;\xF0\x9F\x88\x91</title>\n"
        "    <desc lang=\"ja\">一行目\n二行目\n\n出演\nA&amp;B\n\n"
        "シリーズ: 第3回／全12回「渡り鳥の空」\nリレー: サービス 1025 イベント 8194</desc>\n"
        "    <category lang=\"ja\">アニメ／特撮 - 特撮</category>\n"
        "    <category lang=\"en\">kids</category>\n"
        "    <category lang=\"ja\">アニメ／特撮 - 国内アニメ</category>\n"
        "    <category lang=\"en\">anime</category>\n"
        "    <episode-num system=\"xmltv_ns\">.2/12.</episode-num>\n"
        "    <episode-num system=\"onscreen\">第3回</episode-num>\n"
        "  </programme>\n"
        "  <programme start=\"20261208213000 +0900\" stop=\"20261208230000 +0900\" channel=\"3273601025\">\n"
        "    <title lang=\"ja\">スポーツ</title>\n"
        "  </programme>\n"
        "  <programme start=\"20261208230000 +0900\" stop=\"20261209000000 +0900\" channel=\"3273601025\">\n"
        "    <title lang=\"ja\"></title>\n"
        "  </programme>\n"
        "</tv>\n";
    EXPECT_EQ(xml, expected);
    // The JSON names the group's kind.
    const std::string json = EpgJsonFromStream(stream.data(), stream.size(), warnings);
    EXPECT_NE(json.find("\"relatedItems\":[{\"type\":\"relay\",\"serviceId\":1025,\"eventId\":8194}]"),
              std::string::npos)
        << json;
    // A series without an episode number gives none.
    series.episodeNumber = 0;
    build::EitEvent unnumbered = build::Event(kMjd, 22, 0, 0, 0, 45, 0, build::SeriesDescriptor(series));
    build::StreamBuilder sb2;
    const Bytes stream2 = sb2.Stream(0x0012, {build::EitPfSection(0x0400, 0, {unnumbered})});
    const std::string xml2 = EpgXmltvFromStream(stream2.data(), stream2.size(), warnings);
    EXPECT_EQ(Count(xml2, "<programme "), 1u);
    EXPECT_EQ(Count(xml2, "episode-num"), 0u);
}

}  // namespace
