// kestrin-gen's named programme-table scenarios: what each stream must carry
// (services named in the SDT actual and other, the EIT schedule tables of
// every service, the days, section versions, programmes that ended before
// the first TOT), read back from the stream's sections and through
// kestrin-info --epg; the special programmes of three-services (the update,
// the overlap, the relay, the shared one-segment events); the zap's three
// multiplexes; the full budget's bytes; the command line; and, where the EPG
// peer is installed, its reading of the same streams.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/tools/tools_test_support.h"
#include "tools/gen/guide_scenarios.h"
#include "tools/gen/multiplexer.h"
#include "tools/info/epg_dump.h"

namespace {

using nlohmann::json;
using tools_test::Bytes;

const uint16_t kSdtPid = 0x0011;
const uint16_t kEitPid = 0x0012;
const uint16_t kTotPid = 0x0014;

uint16_t U16(const Bytes& b, size_t at) { return static_cast<uint16_t>(b[at] << 8 | b[at + 1]); }

gen::Scenario Parse(const std::string& text) {
    gen::Scenario scenario;
    std::string error;
    EXPECT_TRUE(gen::ParseScenario(text, scenario, error)) << error;
    return scenario;
}

std::vector<std::string> Parts(const std::string& name) {
    std::vector<std::string> parts;
    EXPECT_TRUE(gen::NamedScenarioParts(name, parts)) << name;
    return parts;
}

// What a stream's sections show.
struct Contents {
    std::map<uint32_t, std::set<uint16_t>> sdtActual;  // onid << 16 | tsid -> service ids
    std::map<uint32_t, std::set<uint16_t>> sdtOther;
    std::set<uint8_t> scheduleTables;                   // table_ids 0x50-0x6F
    std::set<uint64_t> scheduleServices;                // onid << 32 | tsid << 16 | sid
    std::set<uint8_t> presentFollowingTables;           // 0x4E, 0x4F
    // A schedule section by table, service and number -> the versions seen.
    std::map<std::tuple<uint8_t, uint64_t, uint8_t>, std::set<uint8_t>> versions;
    uint64_t distinctScheduleBytes = 0;  // each section once per version
    std::set<uint64_t> scheduleEvents;   // service << 16 | event_id (service as above)
    int64_t firstTot = -1;               // seconds since MJD 0
};

int Bcd(uint8_t b) { return (b >> 4) * 10 + (b & 0x0F); }

Contents Read(const Bytes& stream) {
    Contents c;
    for (const tools_test::FoundSection& f : tools_test::Sections(stream, {kSdtPid, kEitPid, kTotPid})) {
        const Bytes& s = f.bytes;
        const uint8_t table = s[0];
        if (f.pid == kSdtPid && (table == 0x42 || table == 0x46)) {
            const uint32_t ts = static_cast<uint32_t>(U16(s, 8)) << 16 | U16(s, 3);
            std::set<uint16_t>& ids = (table == 0x42 ? c.sdtActual : c.sdtOther)[ts];
            for (size_t at = 11; at + 5 <= s.size() - 4;) {
                ids.insert(U16(s, at));
                at += 5 + (U16(s, at + 3) & 0x0FFF);
            }
        } else if (f.pid == kEitPid && table >= 0x4E && table <= 0x6F) {
            const uint64_t service = static_cast<uint64_t>(U16(s, 10)) << 32 | static_cast<uint64_t>(U16(s, 8)) << 16 |
                                     U16(s, 3);
            if (table <= 0x4F) {
                c.presentFollowingTables.insert(table);
                continue;
            }
            c.scheduleTables.insert(table);
            c.scheduleServices.insert(service);
            const uint8_t version = (s[5] >> 1) & 0x1F;
            if (c.versions[std::make_tuple(table, service, s[6])].insert(version).second) {
                c.distinctScheduleBytes += s.size();
            }
            // Events: id, start, duration, then the descriptors' length.
            for (size_t at = 14; at + 12 <= s.size() - 4; at += 12 + (U16(s, at + 10) & 0x0FFF)) {
                c.scheduleEvents.insert(service << 16 | U16(s, at));
            }
        } else if (f.pid == kTotPid && table == 0x73 && c.firstTot < 0) {
            c.firstTot = static_cast<int64_t>(U16(s, 3)) * 86400 + Bcd(s[5]) * 3600 + Bcd(s[6]) * 60 + Bcd(s[7]);
        }
    }
    return c;
}

size_t Count(const std::map<uint32_t, std::set<uint16_t>>& byTs) {
    size_t n = 0;
    for (const auto& ts : byTs) n += ts.second.size();
    return n;
}

json Epg(const Bytes& stream, std::string* warnings = nullptr) {
    std::string w;
    const json j = json::parse(EpgJsonFromStream(stream.data(), stream.size(), w));
    if (warnings != nullptr) *warnings = w;
    return j;
}

// UTC milliseconds since 1970 of seconds since MJD 0 in Japan time.
int64_t UtcMs(int64_t jstSecondsSinceMjd0) { return (jstSecondsSinceMjd0 - 40587LL * 86400 - 9 * 3600) * 1000; }

struct Expected {
    const char* name;
    size_t actualServices;  // in the SDT actual
    size_t otherServices;   // in the SDT other
    size_t otherStreams;    // transport streams of the SDT other
    std::set<uint8_t> tables;
    size_t scheduledServices;
    int days;               // the schedule's first to last programme, in days at least
    bool newVersion;        // some schedule section comes in two versions
};

// Every one-part scenario, read from its own stream.
const Expected kExpected[] = {
    // From 04:00 on the 8th for four days: into the second table of each kind.
    {"three-services", 4, 0, 0, {0x50, 0x51, 0x58, 0x59}, 4, 3, true},
    {"bs-like", 3, 27, 9, {0x50, 0x58, 0x60, 0x68}, 30, 3, false},
    {"zap-1", 3, 0, 0, {0x50, 0x58}, 3, 1, false},
    {"zap-2", 3, 0, 0, {0x50, 0x58}, 3, 1, false},
    {"zap-3", 3, 0, 0, {0x50, 0x58}, 3, 1, false},
};

TEST(GuideScenarios, EachCarriesItsServicesTablesAndDays) {
    for (const Expected& e : kExpected) {
        SCOPED_TRACE(e.name);
        const std::vector<std::string> parts = Parts(e.name);
        ASSERT_EQ(parts.size(), 1u);
        const gen::Scenario scenario = Parse(parts[0]);
        const Bytes stream = tools_test::Generate(scenario);
        const Contents c = Read(stream);

        EXPECT_EQ(Count(c.sdtActual), e.actualServices);
        EXPECT_EQ(c.sdtActual.size(), 1u);
        EXPECT_EQ(c.sdtActual.begin()->first,
                  static_cast<uint32_t>(scenario.originalNetworkId) << 16 | scenario.transportStreamId);
        EXPECT_EQ(Count(c.sdtOther), e.otherServices);
        EXPECT_EQ(c.sdtOther.size(), e.otherStreams);
        EXPECT_EQ(c.scheduleTables, e.tables);
        EXPECT_EQ(c.scheduleServices.size(), e.scheduledServices);
        // p/f actual always; p/f other exactly when other streams are named.
        EXPECT_EQ(c.presentFollowingTables.count(0x4E), 1u);
        EXPECT_EQ(c.presentFollowingTables.count(0x4F), e.otherServices > 0 ? 1u : 0u);
        // Schedules of other transport streams go in 0x60-0x6F with their
        // own ids, never in the actual tables.
        for (const auto& v : c.versions) {
            const uint8_t table = std::get<0>(v.first);
            const uint64_t service = std::get<1>(v.first);
            const bool actual = (service >> 16) == (static_cast<uint64_t>(scenario.originalNetworkId) << 16 |
                                                    scenario.transportStreamId);
            EXPECT_EQ(actual, table < 0x60) << std::hex << service << " in table " << int(table);
        }
        bool twoVersions = false;
        for (const auto& v : c.versions) twoVersions = twoVersions || v.second.size() > 1;
        EXPECT_EQ(twoVersions, e.newVersion);

        // kestrin-info --epg: every service with programmes and a name, the
        // days, and programmes that ended before the first TOT.
        ASSERT_GE(c.firstTot, 0);
        const json epg = Epg(stream);
        std::map<int64_t, std::pair<int64_t, int64_t>> spans;  // networkId << 16 | serviceId -> first, last start
        size_t ended = 0;
        for (const json& p : epg) {
            const int64_t key = p["networkId"].get<int64_t>() << 16 | p["serviceId"].get<int64_t>();
            const int64_t start = p["startAt"].get<int64_t>();
            auto it = spans.emplace(key, std::make_pair(start, start)).first;
            it->second.first = std::min(it->second.first, start);
            it->second.second = std::max(it->second.second, start);
            if (start + p["duration"].get<int64_t>() <= UtcMs(c.firstTot)) ++ended;
        }
        EXPECT_EQ(spans.size(), e.scheduledServices);
        for (const auto& s : spans) {
            EXPECT_GE(s.second.second - s.second.first, e.days * 86400000LL) << std::hex << s.first;
        }
        EXPECT_GT(ended, e.scheduledServices) << "programmes that ended before the first TOT";
    }
}

// The BS-like carousel: each service's schedule once in 10 seconds, the
// services' rounds spread over those seconds rather than sent in one burst.
TEST(GuideScenarios, BsLikeSpreadsItsCarouselOverTenSeconds) {
    const gen::Scenario scenario = Parse(Parts("bs-like")[0]);
    const Bytes stream = tools_test::Generate(scenario);
    const double packetsPerSecond = static_cast<double>(scenario.bitrate) / (188 * 8);
    std::map<uint16_t, std::vector<double>> rounds;  // service -> seconds where each round begins
    std::map<uint16_t, uint64_t> lastPacket;
    for (const tools_test::FoundSection& f : tools_test::Sections(stream, {kEitPid})) {
        if (f.bytes[0] < 0x50) continue;
        const uint16_t service = U16(f.bytes, 3);
        // A new round: more than a second after the service's last section.
        auto last = lastPacket.find(service);
        if (last == lastPacket.end() || f.packetIndex - last->second > packetsPerSecond) {
            rounds[service].push_back(static_cast<double>(f.packetIndex) / packetsPerSecond);
        }
        lastPacket[service] = f.packetIndex;
    }
    ASSERT_EQ(rounds.size(), 30u);
    std::vector<double> firsts;
    for (const auto& r : rounds) {
        firsts.push_back(r.second[0]);
        for (size_t k = 1; k < r.second.size(); ++k) EXPECT_NEAR(r.second[k] - r.second[k - 1], 10.0, 0.5);
    }
    std::sort(firsts.begin(), firsts.end());
    EXPECT_LT(firsts.front(), 0.5);
    EXPECT_GT(firsts.back(), 9.0);
    for (size_t k = 1; k < firsts.size(); ++k) EXPECT_NEAR(firsts[k] - firsts[k - 1], 10.0 / 30, 0.1) << k;
}

std::map<int64_t, json> ByEvent(const json& epg, int64_t serviceId) {
    std::map<int64_t, json> out;
    for (const json& p : epg) {
        if (p["serviceId"].get<int64_t>() == serviceId) out[p["eventId"].get<int64_t>()] = p;
    }
    return out;
}

// The three-services multiplex's special programmes as the guide reads them
// at the end of the stream.
TEST(GuideScenarios, ThreeServicesUpdateOverlapRelayAndSharedEvents) {
    const gen::Scenario scenario = Parse(Parts("three-services")[0]);
    const Bytes stream = tools_test::Generate(scenario);
    const json epg = Epg(stream);
    const std::map<int64_t, json> general = ByEvent(epg, 0x0400);
    const std::map<int64_t, json> education = ByEvent(epg, 0x0401);
    const std::map<int64_t, json> oneSeg = ByEvent(epg, 0x0588);

    // The update: the special replaced the programme at its start.
    ASSERT_TRUE(general.count(0x5001));
    const int64_t specialStart = general.at(0x5001)["startAt"].get<int64_t>();
    for (const auto& p : general) {
        if (p.first != 0x5001) {
            EXPECT_NE(p.second["startAt"].get<int64_t>(), specialStart) << p.first;
        }
    }
    // The overlap: carried in the schedule over the programmes of its hours;
    // the guide lists no two programmes of a service at the same time.
    const Contents c = Read(stream);
    EXPECT_EQ(c.scheduleEvents.count((0x7FE0ull << 32 | 0x7FE0ull << 16 | 0x0401) << 16 | 0x5101), 1u);
    for (const std::map<int64_t, json>* service : {&general, &education, &oneSeg}) {
        int64_t lastEnd = 0;
        std::map<int64_t, int64_t> byStart;
        for (const auto& p : *service) {
            byStart[p.second["startAt"].get<int64_t>()] = p.second["duration"].get<int64_t>();
        }
        for (const auto& p : byStart) {
            EXPECT_GE(p.first, lastEnd);
            lastEnd = p.first + p.second;
        }
    }
    // The relay: the baseball of 0x0400 names its continuation on 0x0401.
    bool relay = false;
    for (const auto& p : general) {
        if (!p.second.contains("relatedItems")) continue;
        for (const json& r : p.second["relatedItems"]) {
            if (r["type"] == "relay") {
                relay = true;
                EXPECT_EQ(r["serviceId"].get<int64_t>(), 0x0401);
                EXPECT_TRUE(education.count(r["eventId"].get<int64_t>()));
            }
        }
    }
    EXPECT_TRUE(relay);
    // The one-segment service carries the main service's programmes, each
    // shared with it.
    EXPECT_GT(oneSeg.size(), 100u);
    for (const auto& p : oneSeg) {
        ASSERT_TRUE(general.count(p.first)) << p.first;
        EXPECT_EQ(p.second["startAt"], general.at(p.first)["startAt"]);
        bool shared = false;
        for (const json& r : p.second["relatedItems"]) {
            shared = shared || (r["type"] == "shared" && r["serviceId"] == 0x0400 && r["eventId"] == p.first);
        }
        EXPECT_TRUE(shared) << p.first;
    }
    // Serials carry their episode.
    size_t episodes = 0;
    for (const json& p : epg) episodes += p.contains("series") && p["series"].contains("episode");
    EXPECT_GT(episodes, 50u);
}

TEST(GuideScenarios, ZapWritesThreeMultiplexesOneAfterAnother) {
    const std::vector<std::string> parts = Parts("zap");
    ASSERT_EQ(parts.size(), 3u);
    std::set<uint32_t> streams;
    Bytes all;
    int64_t previousEnd = 0;
    for (size_t k = 0; k < parts.size(); ++k) {
        EXPECT_EQ(parts[k], Parts("zap-" + std::to_string(k + 1))[0]);
        const gen::Scenario s = Parse(parts[k]);
        streams.insert(static_cast<uint32_t>(s.originalNetworkId) << 16 | s.transportStreamId);
        // Each begins where the one before ended, on the broadcast clock.
        if (k > 0) {
            EXPECT_EQ(s.start, previousEnd);
        }
        previousEnd = s.start + s.durationMs / 1000;
        const Bytes stream = tools_test::Generate(s);
        EXPECT_EQ(stream.size(), gen::PacketCount(s) * 188);
        all.insert(all.end(), stream.begin(), stream.end());
    }
    EXPECT_EQ(streams.size(), 3u);
    // The whole file: nine services of three networks.
    std::set<int64_t> services;
    for (const json& p : Epg(all)) services.insert(p["networkId"].get<int64_t>() << 16 | p["serviceId"].get<int64_t>());
    EXPECT_EQ(services.size(), 9u);
}

// More distinct schedule bytes than a guide of 32 MB holds, in services of
// eight days.
TEST(GuideScenarios, FullBudgetExceedsThirtyTwoMegabytes) {
    const gen::Scenario scenario = Parse(Parts("full-budget")[0]);
    const Contents c = Read(tools_test::Generate(scenario));
    EXPECT_GT(c.distinctScheduleBytes, 32ull * 1024 * 1024);
    EXPECT_EQ(c.scheduleServices.size(), 120u);
    EXPECT_EQ(Count(c.sdtActual) + Count(c.sdtOther), 120u);
    // Eight days: two tables of each kind, actual and other.
    EXPECT_EQ(c.scheduleTables, (std::set<uint8_t>{0x50, 0x51, 0x58, 0x59, 0x60, 0x61, 0x68, 0x69}));
}

// Scenario keys of other transport streams: what is accepted and refused.
TEST(GuideScenarios, OtherTransportStreamServices) {
    const std::string head =
        "[stream]\nstart = 2026-12-08 21:59:59\nduration = 1\ntransport-stream-id = 0x4010\n"
        "original-network-id = 4\n[service 0x0097]\ntype = 0x01\npmt = 0x0101\npcr = 0x0111\n"
        "video = 0x0111 mpeg2 2000 0x00 352x240\n";
    const struct {
        const char* service;
        bool ok;
    } cases[] = {
        {"[service 0x00C8]\ntransport-stream-id = 0x4011\noriginal-network-id = 4\nname = ＢＳ白鷺\n", true},
        {"[service 0x00C8]\noriginal-network-id = 7\n", true},
        // The stream's own ids: an ordinary service, which needs a PMT.
        {"[service 0x00C8]\ntransport-stream-id = 0x4010\n", false},
        // Another transport stream's service has no PMT or streams here.
        {"[service 0x00C8]\ntransport-stream-id = 0x4011\npmt = 0x0201\n", false},
        {"[service 0x00C8]\ntransport-stream-id = 0x4011\naudio = 0x0202 aac 64\n", false},
        {"[service 0x00C8]\ntransport-stream-id = 0x10000\n", false},
    };
    for (const auto& c : cases) {
        gen::Scenario s;
        std::string error;
        EXPECT_EQ(gen::ParseScenario(head + c.service, s, error), c.ok) << c.service << error;
    }
    // Only services of other transport streams: nothing to carry them.
    gen::Scenario s;
    std::string error;
    EXPECT_FALSE(gen::ParseScenario("[stream]\nstart = 2026-12-08 21:59:59\nduration = 1\n[service 0x00C8]\n"
                                    "transport-stream-id = 0x4011\n",
                                    s, error));
}

// The command line: names, the text of a name, a stream, the zap's parts.
TEST(GuideScenarios, CommandLine) {
    const std::string gen = KESTRIN_GEN_EXE;
    tools_test::CommandResult r = tools_test::RunCommand(tools_test::Quote(gen) + " --list-scenarios");
    EXPECT_EQ(r.exitCode, 0);
    for (const gen::NamedScenario& n : gen::NamedScenarios()) EXPECT_NE(r.out.find(n.name), std::string::npos);

    r = tools_test::RunCommand(tools_test::Quote(gen) + " --print-scenario bs-like");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, Parts("bs-like")[0]);

    r = tools_test::RunCommand(tools_test::Quote(gen) + " --scenario no-such -o " +
                               tools_test::Quote(tools_test::WorkPath("none.ts")));
    EXPECT_EQ(r.exitCode, 1);
    r = tools_test::RunCommand(tools_test::Quote(gen) + " " +
                               tools_test::Quote(std::string(KESTRIN_SOURCE_DIR) + "/tools/sample/sample.scenario") +
                               " --scenario zap -o " + tools_test::Quote(tools_test::WorkPath("none.ts")));
    EXPECT_EQ(r.exitCode, 1);

    // The zap in one file, the packet where each multiplex begins on
    // standard error; the file is the three streams back to back.
    const std::string zap = tools_test::WorkPath("zap.ts");
    r = tools_test::RunCommand(tools_test::Quote(gen) + " --scenario zap -o " + tools_test::Quote(zap));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    uint64_t first = 0;
    Bytes expected;
    for (int k = 1; k <= 3; ++k) {
        const gen::Scenario s = Parse(Parts("zap-" + std::to_string(k))[0]);
        char line[128];
        std::snprintf(line, sizeof line, "multiplex %d (transport_stream_id 0x%04X) from packet %llu", k,
                      s.transportStreamId, static_cast<unsigned long long>(first));
        EXPECT_NE(r.err.find(line), std::string::npos) << r.err;
        first += gen::PacketCount(s);
        const Bytes part = tools_test::Generate(s);
        expected.insert(expected.end(), part.begin(), part.end());
    }
    EXPECT_TRUE(tools_test::ReadBytes(zap) == expected);

    // kestrin-info --epg reads the BS-like stream's 30 services, named.
    const std::string bs = tools_test::WorkPath("bs-like.ts");
    r = tools_test::RunCommand(tools_test::Quote(gen) + " --scenario bs-like -o " + tools_test::Quote(bs));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    r = tools_test::RunCommand(tools_test::Info("--epg " + tools_test::Quote(bs)));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::set<int64_t> services;
    std::set<int64_t> networks;
    for (const json& p : json::parse(r.out)) {
        services.insert(p["serviceId"].get<int64_t>());
        networks.insert(p["networkId"].get<int64_t>());
    }
    EXPECT_EQ(services.size(), 30u);
    EXPECT_EQ(networks, (std::set<int64_t>{4}));
    r = tools_test::RunCommand(tools_test::Info("--epg --format xmltv " + tools_test::Quote(bs)));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("ＢＳ白鷺１"), std::string::npos);
    EXPECT_NE(r.out.find("ケストリンＢＳ１"), std::string::npos);
}

// The EPG peer (tools/peers) reads the same programmes: every one it lists
// we list with the same times and title, and it misses few (it loses the
// sections that begin in a packet's last bytes; see tools_epg_peer_test).
TEST(GuideScenarios, PeerReadsTheSameProgrammes) {
    const std::string script = std::string(KESTRIN_SOURCE_DIR) + "/tools/peers/node_modules/mirakurun/bin/epgdump.js";
    if (!tools_test::FileExists(script) || tools_test::RunCommand("node --version").exitCode != 0) {
        GTEST_SKIP() << "the EPG peer is not installed (scripts/bootstrap.sh)";
    }
    for (const char* name : {"three-services", "bs-like"}) {
        SCOPED_TRACE(name);
        const Bytes stream = tools_test::Generate(Parse(Parts(name)[0]));
        const std::string ts = tools_test::WorkPath(std::string(name) + ".peer.ts");
        tools_test::WriteBytes(ts, stream);
        const std::string out = ts + ".json";
        std::remove(out.c_str());
        const tools_test::CommandResult r = tools_test::RunCommand(
            "TZ=Asia/Tokyo node " + tools_test::Quote(script) + " " + tools_test::Quote(ts) + " " + tools_test::Quote(out));
        ASSERT_EQ(r.exitCode, 0) << r.err;
        const json peer = json::parse(tools_test::ReadText(out));
        std::map<int64_t, json> ours;
        for (const json& p : Epg(stream)) ours[p["id"].get<int64_t>()] = p;
        size_t agreed = 0;
        for (const json& p : peer) {
            const int64_t id = p["id"].get<int64_t>();
            const int64_t start = p["startAt"].get<int64_t>();
            const int64_t end = start + p["duration"].get<int64_t>();
            if (!ours.count(id)) {
                // It keeps an event that a later one overlaps; we keep the
                // later one (see tools_epg_peer_test).
                bool overlapped = false;
                for (const auto& o : ours) {
                    const int64_t oStart = o.second["startAt"].get<int64_t>();
                    overlapped = overlapped || (o.second["serviceId"] == p["serviceId"] && oStart < end &&
                                                start < oStart + o.second["duration"].get<int64_t>());
                }
                EXPECT_TRUE(overlapped) << "the peer's " << id << " is not ours";
                continue;
            }
            EXPECT_EQ(p["startAt"], ours[id]["startAt"]) << id;
            EXPECT_EQ(p["duration"], ours[id]["duration"]) << id;
            ++agreed;
        }
        EXPECT_GT(agreed, ours.size() * 9 / 10);
    }
}

}  // namespace
