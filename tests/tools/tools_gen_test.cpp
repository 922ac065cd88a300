// kestrin-gen: the scenario parser, the stream's transport-level structure,
// the sample read back by the plug-in core, and ffprobe's view of it.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <set>

#include "plugin/plugin_core.h"
#include "plugin/plugin_state.h"
#include "plugin/recorder.h"
#include "plugin/router.h"
#include "plugin/section_handover.h"
#include "tests/support/test_plugin.h"
#include "tests/tools/tools_test_support.h"
#include "text/arib_decoder.h"
#include "text/event_details.h"
#include "tools/gen/event_descriptors.h"
#include "tools/gen/multiplexer.h"
#include "tools/streamkit/arib_encoder.h"
#include "tools/gen/scenario.h"
#include "ts/crc32.h"
#include "ts/programme_map.h"
#include "ts/psi_reader.h"
#include "ui/channel_buttons.h"
#include "ui/resource.h"
#include "ui/viewer.h"

namespace {

using tools_test::Bytes;

const uint64_t kClock = 27000000;

// --- Scenario parser ------------------------------------------------------------------

const char kMinimalScenario[] =
    "[stream]\n"
    "start = 2026-12-08 21:59:59\n"
    "duration = 1\n"
    "[service 0x0400]\n"
    "pmt = 0x0101\n"
    "pcr = 0x0111\n"
    "video = 0x0111 mpeg2 4000 0x00 720x480\n";

TEST(Scenario, SampleParsesWithItsServicesAndEvents) {
    const gen::Scenario s = tools_test::SampleScenario();
    ASSERT_EQ(s.services.size(), 3u);
    EXPECT_EQ(s.services[2].id, 0x0588);
    EXPECT_EQ(s.services[2].pmtPid, 0x1FC8);
    EXPECT_EQ(s.services[2].pcrPid, 0x01FF);
    EXPECT_EQ(s.services[2].streams[0].streamType, 0x1B);
    EXPECT_EQ(s.services[0].streams[0].streamType, 0x02);
    EXPECT_EQ(s.services[0].streams[1].streamType, 0x0F);
    EXPECT_EQ(s.bitrate, 16000000u);
    EXPECT_EQ(s.events.size(), 8u);
    // \{字} is the additional symbol 0x7A56, Shift_JIS 0xF1 0x83.
    EXPECT_NE(s.events[0].title.find("\xF1\x83"), std::string::npos);
    // \n in a text is a line break.
    EXPECT_NE(s.events[1].text.find('\n'), std::string::npos);
}

TEST(Scenario, DatesBecomeSecondsSinceMjdZero) {
    // MJD 54922 is 2009-04-01 (the example of ARIB STD-B10).
    EXPECT_EQ(gen::SecondsOf(2009, 4, 1, 0, 0, 0), 54922LL * 86400);
    EXPECT_EQ(gen::SecondsOf(1982, 9, 6, 1, 2, 3), 45218LL * 86400 + 3723);
}

TEST(Scenario, MistakesAreReportedWithTheirLine) {
    struct Case {
        const char* append;  // added to the minimal scenario
        const char* message;
    };
    const Case cases[] = {
        {"colour = red\n", "line 8: unknown key colour"},
        {"[event 0x0400]\nstart = 2026-12-08 22:00:00\ntitle = \\{猫}\n", "line 10: unknown additional symbol"},
        {"[event 0x0400]\nstart = 2026-12-08 22:00:00\ntitle = \\{7A21}\n", ""},  // a real symbol: fine
        {"[event 0x0400]\nstart = 2026-13-08 22:00:00\n", "line 9: start wants"},
        {"[event 0x0400]\nduration = 1:00\n", "line 9: duration wants"},
        {"[event 0x0400]\nstart = 2026-12-08 22:00:00\naudio = quad jpn\n", "line 10: audio wants"},
        {"[event 0x0999]\nstart = 2026-12-08 22:00:00\n", "service 2457, which is not described"},
        {"audio = 0x0111 aac 64\n", "PID 273 used twice"},
        {"audio = 0x0010 aac 64\n", "line 8: audio wants"},
        {"video = 0x0112 mpeg2 20000\n", "need more than the bitrate"},
        {"video = 0x0112 mpeg2 2000\n", "PID 274: too few kbit/s for 1440x1080 pictures"},
        {"video = 0x0112 h264 300 0x81 640x480\n", "line 8: video wants"},
        {"[channel 5]\n", "line 8: unknown section"},
        {"name = \\\n", "line 8: a backslash ends the text"},
        {"name = ☃\n", "line 8: the text has characters that code page 932 lacks"},
        {"[event 0x0400]\nstart = 2026-12-08 22:00:00\nitem = 出演者\n", "line 10: item wants: description | text"},
        {"[event 0x0400]\nstart = 2026-12-08 22:00:00\nitem =  | 山田花子\n", "line 10: item wants a description"},
        {"[event 0x0400]\nstart = 2026-12-08 22:00:00\nitem = 出演 | a|b\n", ""},  // the first | separates
        {"[event 0x0400]\nstart = 2026-12-08 22:00:00\nitem-bytes = 15\n", "line 10: item-bytes wants 16..249"},
        {"[event 0x0400]\nstart = 2026-12-08 22:00:00\ngenre = 0x30 0x100\n", "line 10: genre wants content entries"},
        {"[event 0x0400]\nstart = 2026-12-08 22:00:00\ngenre =\n", "line 10: genre wants"},
        // 17 descriptors' worth of items: descriptor_number has four bits.
        {"[event 0x0400]\nstart = 2026-12-08 22:00:00\nitem-bytes = 16\n"
         "item = a | 0123456789012345678901234567890123456789012345678901234567890123456789"
         "0123456789012345678901234567890123456789012345678901234567890123456789012345678901234567890123456789"
         "012345678901234567890123456789012345678901234567890123456789\n",
         "more than 16"},
    };
    for (const Case& c : cases) {
        gen::Scenario s;
        std::string error;
        const bool ok = gen::ParseScenario(std::string(kMinimalScenario) + c.append, s, error);
        if (c.message[0] == '\0') {
            EXPECT_TRUE(ok) << c.append << ": " << error;
        } else {
            EXPECT_FALSE(ok) << c.append;
            EXPECT_NE(error.find(c.message), std::string::npos) << c.append << " gave: " << error;
        }
    }
}

TEST(Scenario, StreamNeedsStartDurationAndAService) {
    gen::Scenario s;
    std::string error;
    EXPECT_FALSE(gen::ParseScenario("[stream]\nduration = 1\n", s, error));
    EXPECT_NE(error.find("start"), std::string::npos);
    EXPECT_FALSE(gen::ParseScenario("[stream]\nstart = 2026-12-08 21:59:59\nduration = 1\n", s, error));
    EXPECT_NE(error.find("no [service]"), std::string::npos);
    EXPECT_FALSE(gen::ParseScenario("title = x\n", s, error));
    EXPECT_NE(error.find("line 1"), std::string::npos);
}

// --- Extended event and content descriptors ----------------------------------------------

// The item loop of each extended event descriptor, with its number byte.
struct ExtendedLoop {
    uint8_t numbers;  // descriptor_number << 4 | last_descriptor_number
    Bytes items;
};

std::vector<ExtendedLoop> ItemLoops(const std::vector<Bytes>& descriptors) {
    std::vector<ExtendedLoop> loops;
    for (const Bytes& d : descriptors) {
        PsiReader r(d.data(), static_cast<int32_t>(d.size()));
        EXPECT_EQ(r.U8(), 0x4E);
        PsiReader body = r.Enter(r.U8());
        ExtendedLoop loop;
        loop.numbers = body.U8();
        body.Skip(3);
        const int32_t n = body.U8();
        const uint8_t* items = body.Bytes(n);
        EXPECT_EQ(body.U8(), 0);  // text_length
        EXPECT_TRUE(body.AtEnd() && !body.Error() && r.AtEnd());
        if (items != nullptr) loop.items.assign(items, items + n);
        loops.push_back(loop);
    }
    return loops;
}

TEST(EventDescriptors, ItemsArePackedAndCutWhereTheDescriptorIsFull) {
    const Bytes cast = {'C', 'A', 'S', 'T'};
    const Bytes kanji = {0x3B, 0x33, 0x45, 0x44, 0x32, 0x56, 0x3B, 0x52};  // 山田花子 in the kanji set
    struct Case {
        const char* name;
        size_t itemBytes;
        std::vector<gen::AribItem> items;
        std::vector<Bytes> loops;  // expected item loops
    };
    const std::vector<Case> cases = {
        {"one descriptor holds both", 249, {{cast, kanji}, {Bytes{'X'}, Bytes{'y'}}},
         {Bytes{4, 'C', 'A', 'S', 'T', 8, 0x3B, 0x33, 0x45, 0x44, 0x32, 0x56, 0x3B, 0x52, 1, 'X', 1, 'y'}}},
        // 16 bytes: heading 4 + 2 length bytes leave 10; the text's 8 fit,
        // the next item moves on.
        {"the next item moves to a new descriptor", 16, {{cast, kanji}, {Bytes{'X'}, Bytes{'y'}}},
         {Bytes{4, 'C', 'A', 'S', 'T', 8, 0x3B, 0x33, 0x45, 0x44, 0x32, 0x56, 0x3B, 0x52}, Bytes{1, 'X', 1, 'y'}}},
        // 11 bytes leave 5 for the text: the cut falls inside the third
        // kanji, and the rest follows under an empty item_description.
        {"a text is cut mid-character", 16, {{Bytes{'H', 'E', 'A', 'D', 'I', 'N', 'G', '9', '9'}, kanji}},
         {Bytes{9, 'H', 'E', 'A', 'D', 'I', 'N', 'G', '9', '9', 5, 0x3B, 0x33, 0x45, 0x44, 0x32},
          Bytes{0, 3, 0x56, 0x3B, 0x52}}},
        {"an item without text", 249, {{cast, Bytes()}}, {Bytes{4, 'C', 'A', 'S', 'T', 0}}},
        {"no items, no descriptor", 249, {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<Bytes> descriptors;
        std::string error;
        ASSERT_TRUE(gen::ExtendedEventDescriptors(c.items, c.itemBytes, descriptors, error)) << error;
        const std::vector<ExtendedLoop> loops = ItemLoops(descriptors);
        ASSERT_EQ(loops.size(), c.loops.size());
        for (size_t i = 0; i < loops.size(); ++i) {
            EXPECT_EQ(loops[i].numbers, (i << 4) | (loops.size() - 1));
            EXPECT_EQ(loops[i].items, c.loops[i]) << "descriptor " << i;
        }
    }
    std::vector<Bytes> descriptors;
    std::string error;
    EXPECT_FALSE(gen::ExtendedEventDescriptors({{Bytes(14, 'A'), kanji}}, 16, descriptors, error));
    EXPECT_NE(error.find("does not fit"), std::string::npos) << error;
}

TEST(EventDescriptors, TheCoreJoinsWhatTheGeneratorCut) {
    // Every cut of a two-item text, character boundary or not, reads back
    // as the whole text.
    const std::string cast = "\x8F\x6F\x89\x89\x8E\xD2";                              // 出演者
    const std::string text = "\x8E\x52\x93\x63\x89\xD4\x8E\x71\x81\x41\x82\xA0\x82\xA2";  // 山田花子、あい
    const gen::AribItem item = {EncodeAribFromShiftJis(cast), EncodeAribFromShiftJis(text)};
    for (size_t itemBytes = item.description.size() + 3; itemBytes <= 40; ++itemBytes) {
        SCOPED_TRACE(itemBytes);
        std::vector<Bytes> descriptors;
        std::string error;
        ASSERT_TRUE(gen::ExtendedEventDescriptors({item, item}, itemBytes, descriptors, error)) << error;
        Bytes loop;
        for (const Bytes& d : descriptors) loop.insert(loop.end(), d.begin(), d.end());
        const Bytes genres = gen::ContentDescriptor({0x30, 0x30, 0x01});
        loop.insert(loop.end(), genres.begin(), genres.end());
        EventDetails details;
        ReadEventDetails(loop.data(), static_cast<int32_t>(loop.size()), SymbolStyle::kUserDefined, details);
        ASSERT_EQ(details.itemCount, 2);
        for (int i = 0; i < 2; ++i) {
            EXPECT_EQ(details.items[i].description, cast);
            EXPECT_EQ(details.items[i].text, text);
        }
        EXPECT_EQ(details.genreCount, 2);  // the repeated entry once
    }
}

// --- Transport-level structure of the sample stream -------------------------------------

class SampleStream : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        scenario_ = new gen::Scenario(tools_test::SampleScenario());
        stream_ = new Bytes(tools_test::Generate(*scenario_));
    }
    static void TearDownTestSuite() {
        delete stream_;
        delete scenario_;
    }
    static size_t Packets() { return stream_->size() / 188; }
    static const uint8_t* PacketAt(size_t i) { return stream_->data() + i * 188; }
    // 27 MHz time of packet i's first byte at the nominal bitrate.
    static uint64_t TimeOf(size_t i) { return i * 188 * 8 * kClock / scenario_->bitrate; }

    static gen::Scenario* scenario_;
    static Bytes* stream_;
};
gen::Scenario* SampleStream::scenario_ = nullptr;
Bytes* SampleStream::stream_ = nullptr;

TEST_F(SampleStream, HasTheNominalSizeAndSyncBytes) {
    EXPECT_EQ(Packets(), gen::PacketCount(*scenario_));
    EXPECT_EQ(Packets(), 31915u);  // 3 s at 16 Mbit/s
    for (size_t i = 0; i < Packets(); ++i) ASSERT_EQ(PacketAt(i)[0], 0x47) << "packet " << i;
    // The file the build wrote is this same stream.
    EXPECT_EQ(tools_test::ReadBytes(KESTRIN_SAMPLE_TS), *stream_);
}

TEST_F(SampleStream, ContinuityCountersRunOnEveryPid) {
    std::map<uint16_t, int> last;
    for (size_t i = 0; i < Packets(); ++i) {
        const uint8_t* p = PacketAt(i);
        const uint16_t pid = tools_test::Pid(p);
        const bool payload = (p[3] & 0x10) != 0;
        const int cc = p[3] & 0x0F;
        if (pid == 0x1FFF) continue;
        auto it = last.find(pid);
        if (it != last.end()) {
            // The counter advances with each payload and stays without one.
            const int expected = payload ? (it->second + 1) & 0x0F : it->second;
            ASSERT_EQ(cc, expected) << "PID " << pid << " packet " << i;
        }
        last[pid] = cc;
    }
    for (uint16_t pid : {0x0000, 0x0010, 0x0011, 0x0012, 0x0014, 0x0027, 0x0101, 0x0102, 0x1FC8, 0x0111, 0x0112,
                         0x0121, 0x0122, 0x0181, 0x0183, 0x01FF}) {
        EXPECT_TRUE(last.count(pid)) << "no packet on PID " << pid;
    }
}

TEST_F(SampleStream, PcrsKeepToTheBitrateAndComeEvery100MsAtMost) {
    std::map<uint16_t, uint64_t> lastPcr;
    std::map<uint16_t, int> pcrCount;
    for (size_t i = 0; i < Packets(); ++i) {
        const uint8_t* p = PacketAt(i);
        if (!(p[3] & 0x20) || p[4] < 7 || !(p[5] & 0x10)) continue;
        const uint16_t pid = tools_test::Pid(p);
        const uint64_t base = (uint64_t(p[6]) << 25) | (uint64_t(p[7]) << 17) | (uint64_t(p[8]) << 9) |
                              (uint64_t(p[9]) << 1) | (p[10] >> 7);
        const uint64_t pcr = base * 300 + (((p[10] & 1) << 8) | p[11]);
        // The PCR is the time of the packet's byte 10 at the nominal rate.
        const uint64_t expected = 10 * kClock + (i * 188 + 10) * 8 * kClock / scenario_->bitrate;
        ASSERT_EQ(pcr, expected) << "PID " << pid << " packet " << i;
        if (lastPcr.count(pid)) {
            EXPECT_LE(pcr - lastPcr[pid], kClock / 10) << "PID " << pid << " packet " << i;
        }
        lastPcr[pid] = pcr;
        ++pcrCount[pid];
    }
    // The PCR PIDs of the three services.
    EXPECT_EQ(pcrCount.size(), 3u);
    EXPECT_GT(pcrCount[0x01FF], 60);   // the one-segment PCR PID, every 40 ms
    EXPECT_GT(pcrCount[0x0111], 80);   // in the video of service 0x0400
}

TEST_F(SampleStream, TheOneSegmentServiceIsAFewPercentOfThePackets) {
    size_t oneSeg = 0, nulls = 0;
    for (size_t i = 0; i < Packets(); ++i) {
        const uint16_t pid = tools_test::Pid(PacketAt(i));
        if (pid == 0x1FC8 || pid == 0x0181 || pid == 0x0183 || pid == 0x01FF) ++oneSeg;
        if (pid == 0x1FFF) ++nulls;
    }
    const double share = 100.0 * oneSeg / Packets();
    EXPECT_GT(share, 1.5);
    EXPECT_LT(share, 5.0);
    EXPECT_GT(nulls, Packets() / 20);  // room left over, as in a real multiplex
}

TEST_F(SampleStream, EverySectionHasItsCrcAndTheTablesTheirIds) {
    const auto sections = tools_test::Sections(*stream_, {0x0000, 0x0010, 0x0011, 0x0012, 0x0014, 0x0027, 0x0101,
                                                          0x0102, 0x1FC8});
    std::map<std::pair<uint16_t, uint8_t>, int> tables;  // (PID, table_id) -> count
    for (const auto& s : sections) {
        ASSERT_EQ(Crc32Mpeg2(s.bytes.data(), s.bytes.size()), 0u) << "PID " << s.pid << " table " << int(s.bytes[0]);
        ++tables[{s.pid, s.bytes[0]}];
    }
    // 3 s: PAT and PMTs every 100 ms, NIT and SDT every second, EIT p/f of
    // three services every second, L-EIT p/f of the one-segment service
    // every second from 0.5 s, TOT every 2 s from 0.5 s.
    EXPECT_EQ((tables[{0x0000, 0x00}]), 30);
    EXPECT_EQ((tables[{0x1FC8, 0x02}]), 30);
    EXPECT_EQ((tables[{0x0101, 0x02}]), 30);
    EXPECT_EQ((tables[{0x0010, 0x40}]), 3);
    EXPECT_EQ((tables[{0x0011, 0x42}]), 3);
    EXPECT_EQ((tables[{0x0012, 0x4E}]), 18);
    EXPECT_EQ((tables[{0x0027, 0x4E}]), 6);
    EXPECT_EQ((tables[{0x0014, 0x73}]), 2);
    EXPECT_EQ(tables.size(), 9u);
}

TEST_F(SampleStream, TotCarriesTheBroadcastTimeOfItsPacket) {
    const auto sections = tools_test::Sections(*stream_, {0x0014});
    ASSERT_EQ(sections.size(), 2u);
    for (const auto& s : sections) {
        const Bytes& b = s.bytes;
        const int64_t mjd = (b[3] << 8) | b[4];
        auto bcd = [](uint8_t v) { return (v >> 4) * 10 + (v & 0x0F); };
        const int64_t seconds = mjd * 86400 + bcd(b[5]) * 3600 + bcd(b[6]) * 60 + bcd(b[7]);
        EXPECT_EQ(seconds, scenario_->start + static_cast<int64_t>(TimeOf(s.packetIndex) / kClock));
        // Descriptors: the local time offset descriptor, country JPN.
        ASSERT_GE(b.size(), 18u);
        EXPECT_EQ(b[10], 0x58);
        EXPECT_EQ(std::string(b.begin() + 12, b.begin() + 15), "JPN");
    }
}

// --- The plug-in core reads the sample back ----------------------------------------------

struct Shown {
    std::vector<std::string> texts;  // IDC_INFO_TEXT, each change
    std::string caption;
    std::string clock;
};

// Feeds the stream as the host would, in buffers of 256 packets, handling
// the posted messages after each buffer.
Shown ShowService(const Bytes& stream, uint16_t service, bool following) {
    TestPlugin t;
    PluginOnChannelChange(t.s(), -1, service);
    if (following) ViewerCommand(t.s(), IDC_PRESENT_FOLLOWING);
    const size_t buffer = 256 * 188;
    for (size_t o = 0; o < stream.size(); o += buffer) {
        const size_t n = std::min(buffer, stream.size() - o);
        RoutePackets(t.s(), stream.data() + o, static_cast<uint32_t>(n));
        t.platform.Pump(t.s());
    }
    Shown shown;
    for (const auto& change : t.platform.controlHistory) {
        if (change.first == IDC_INFO_TEXT && (shown.texts.empty() || shown.texts.back() != change.second)) {
            shown.texts.push_back(change.second);
        }
    }
    shown.caption = t.platform.windowTitle;
    shown.clock = t.platform.Text(IDC_CLOCK);
    return shown;
}

std::string TimeLine(const gen::Event& e) {
    auto hms = [](int64_t s, char* out) {
        std::snprintf(out, 16, "%02d:%02d:%02d", int(s % 86400 / 3600), int(s % 3600 / 60), int(s % 60));
    };
    char start[16], end[16];
    hms(e.start, start);
    hms(e.start + e.duration, end);
    return std::string(start) + " - " + (e.duration < 0 ? std::string("\x96\xA2\x92\xE8") : std::string(end));
}

TEST_F(SampleStream, TheCoreShowsEachServicesNameAndEvents) {
    const std::string kPresentCaption = "\x94\xD4\x91\x67\x8F\xEE\x95\xF1\x81\x69\x8C\xBB\x8D\xDD\x81\x6A- ";
    for (const gen::Service& service : scenario_->services) {
        SCOPED_TRACE(service.id);
        // The present event at each second of the stream, without repeats.
        std::vector<const gen::Event*> events;
        for (int64_t now = scenario_->start; now < scenario_->start + 3; ++now) {
            for (const gen::Event& e : scenario_->events) {
                if (e.serviceId != service.id || e.start > now || (e.duration >= 0 && now >= e.start + e.duration)) {
                    continue;
                }
                if (events.empty() || events.back() != &e) events.push_back(&e);
            }
        }
        const Shown shown = ShowService(*stream_, service.id, false);
        EXPECT_EQ(shown.caption, kPresentCaption + service.name);
        ASSERT_EQ(shown.texts.size(), events.size());
        for (size_t k = 0; k < events.size(); ++k) {
            EXPECT_EQ(shown.texts[k].find(TimeLine(*events[k])), 0u) << shown.texts[k];
            EXPECT_NE(shown.texts[k].find("\x81\x79" + events[k]->title + "\x81\x7A"), std::string::npos);
            std::string text = events[k]->text;  // a line break is shown as CR LF
            for (size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 2)) {
                text.replace(at, 1, "\r\n");
            }
            EXPECT_NE(shown.texts[k].find(text), std::string::npos);
        }
        // TOT 21:59:59 at 0.5 s, then a present section at 1 s and at 2 s.
        EXPECT_EQ(shown.clock, "22:00:01");
    }
}

TEST_F(SampleStream, TheFollowingViewShowsTheNextEvent) {
    const Shown shown = ShowService(*stream_, 0x0588, true);
    ASSERT_EQ(shown.texts.size(), 3u);  // emptied by the switch, then two events
    EXPECT_EQ(shown.texts[0], "");
    EXPECT_EQ(shown.texts[1].find("22:00:00 - 22:45:00"), 0u);
    EXPECT_EQ(shown.texts[2].find("22:45:00 - 23:00:00"), 0u);
    EXPECT_EQ(shown.caption.find("\x94\xD4\x91\x67\x8F\xEE\x95\xF1\x81\x69\x8E\x9F\x94\xD4\x91\x67\x81\x6A- "), 0u);
}

// The sample's drama on the one-segment service carries an item whose text
// runs over two extended event descriptors, cut inside a kanji; the core
// reads the joined item.
TEST_F(SampleStream, AnItemRunsOverTwoDescriptorsCutInsideACharacter) {
    const gen::Event* drama = nullptr;
    for (const gen::Event& e : scenario_->events) {
        if (e.serviceId == 0x0588 && e.eventId == 0x1002) drama = &e;
    }
    ASSERT_NE(drama, nullptr);
    const Bytes* section = nullptr;
    const auto sections = tools_test::Sections(*stream_, {0x0027});
    for (const auto& s : sections) {
        if (((s.bytes[3] << 8) | s.bytes[4]) == 0x0588 && s.bytes.size() > 26 && ((s.bytes[14] << 8) | s.bytes[15]) == 0x1002) {
            section = &s.bytes;
            break;
        }
    }
    ASSERT_NE(section, nullptr);
    PsiReader eit(section->data(), static_cast<int32_t>(section->size() - 4));
    eit.Skip(24);
    PsiReader loop = eit.Enter(eit.Length12());
    ASSERT_FALSE(loop.Error());
    const uint8_t* loopStart = loop.Current();
    const int32_t loopSize = loop.Remaining();

    // The raw item texts per descriptor: the last item of one and the
    // continuation (empty item_description) opening the next.
    std::vector<std::vector<std::pair<Bytes, Bytes>>> itemsPerDescriptor;
    while (!loop.AtEnd()) {
        const uint8_t tag = loop.U8();
        PsiReader body = loop.Enter(loop.U8());
        if (tag != 0x4E) continue;
        body.Skip(4);
        PsiReader items = body.Enter(body.U8());
        itemsPerDescriptor.emplace_back();
        while (!items.AtEnd()) {
            const int32_t d = items.U8();
            const uint8_t* description = items.Bytes(d);
            const int32_t t = items.U8();
            const uint8_t* text = items.Bytes(t);
            ASSERT_FALSE(items.Error());
            itemsPerDescriptor.back().push_back({Bytes(description, description + d), Bytes(text, text + t)});
        }
    }
    ASSERT_GE(itemsPerDescriptor.size(), 2u);
    bool cutInsideACharacter = false;
    for (size_t k = 0; k + 1 < itemsPerDescriptor.size(); ++k) {
        const auto& next = itemsPerDescriptor[k + 1];
        if (itemsPerDescriptor[k].empty() || next.empty() || !next.front().first.empty()) continue;
        const Bytes& before = itemsPerDescriptor[k].back().second;
        const Bytes& after = next.front().second;
        Bytes joined = before;
        joined.insert(joined.end(), after.begin(), after.end());
        auto decode = [](const Bytes& b) {
            char out[1024];
            DecodeAribText(out, b.data(), static_cast<int32_t>(b.size()), sizeof out);
            return std::string(out);
        };
        // Both sides of the cut are bytes of the two-byte kanji set, and
        // decoding the halves apart does not give the whole.
        const bool gl = !before.empty() && !after.empty() && before.back() >= 0x21 && before.back() <= 0x7E &&
                        after.front() >= 0x21 && after.front() <= 0x7E;
        if (gl && decode(before) + decode(after) != decode(joined)) cutInsideACharacter = true;
    }
    EXPECT_TRUE(cutInsideACharacter);

    EventDetails details;
    ReadEventDetails(loopStart, loopSize, SymbolStyle::kUserDefined, details);
    ASSERT_EQ(details.itemCount, static_cast<int32_t>(drama->items.size()));
    for (size_t i = 0; i < drama->items.size(); ++i) {
        EXPECT_EQ(details.items[i].description, drama->items[i].description);
        EXPECT_EQ(details.items[i].text, drama->items[i].text);
    }
    EXPECT_EQ(details.genreCount, 1);
}

TEST_F(SampleStream, AnUndeterminedDurationIsShownAsSuch) {
    const Shown shown = ShowService(*stream_, 0x0401, true);
    ASSERT_FALSE(shown.texts.empty());
    // The following event of service 0x0401 starts at 22:30 with no known end.
    EXPECT_EQ(shown.texts.back().find("22:30:00 - \x96\xA2\x92\xE8 ('26/12/08)"), 0u) << shown.texts.back();
}

// --- ffprobe ----------------------------------------------------------------------

TEST(SampleStreamFfprobe, ListsEveryProgramWithItsStreams) {
    if (!tools_test::HaveFfprobe()) GTEST_SKIP() << "ffprobe is not installed";
    int exitCode = -1;
    const auto programs = tools_test::ProgramsWithPmt(tools_test::Ffprobe(KESTRIN_SAMPLE_TS, &exitCode));
    EXPECT_EQ(exitCode, 0);
    ASSERT_EQ(programs.size(), 3u);
    EXPECT_EQ(programs.at(0x0400).first, 0x0101);
    EXPECT_EQ(programs.at(0x0400).second, (std::multiset<std::string>{"mpeg2video", "aac"}));
    EXPECT_EQ(programs.at(0x0401).first, 0x0102);
    EXPECT_EQ(programs.at(0x0588).first, 0x1FC8);
    EXPECT_EQ(programs.at(0x0588).second, (std::multiset<std::string>{"h264", "aac"}));
}

TEST(SampleStreamFfprobe, DecodesThePicturesAndSoundOfTheOneSegmentService) {
    if (!tools_test::HaveFfprobe()) GTEST_SKIP() << "ffprobe is not installed";
    const auto r = tools_test::RunCommand("ffprobe -v error -count_frames -select_streams p:1416 -show_entries "
                                   "stream=codec_name,width,height,sample_rate,channels,nb_read_frames -of flat " +
                                   tools_test::Quote(KESTRIN_SAMPLE_TS));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");  // no decoding error
    EXPECT_NE(r.out.find("width=320"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("height=240"), std::string::npos);
    EXPECT_NE(r.out.find("nb_read_frames=\"45\""), std::string::npos);  // 15 pictures a second
    EXPECT_NE(r.out.find("sample_rate=\"48000\""), std::string::npos);
    EXPECT_NE(r.out.find("nb_read_frames=\"137\""), std::string::npos);  // 3 s of AAC frames
}

}  // namespace
