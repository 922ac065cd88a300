// kestrin-info --epg against the EPG peer (mirakurun 2.15.2's dump command,
// installed by scripts/bootstrap.sh into tools/peers): both read the sample
// stream and a generated eight-day multiplex with the EIT schedule, several
// services, mixed section versions and updates that overlap older events,
// and every field of every programme must agree, except where the peer is
// known to be wrong:
//   - an undetermined duration (all ones) it reads as 165:165:165 of BCD,
//     604,065,000 ms: we write null;
//   - of several event group descriptors it keeps the first one's events:
//     we list the events of all of them;
//   - its relatedItems carry no "type" (shared, relay, movement), which
//     newer servers write and we do: compared without it;
//   - ARIB additional symbols it writes as bracketed text ("[字]"): we write
//     their Unicode characters (U+1F211), compared here through the
//     symbol table;
//   - a section that begins in the last one or two bytes of a packet it
//     loses (it starts a section only with its three header bytes in the
//     packet): events carried only in such sections it lacks, or has with
//     the fields of their extended copy alone; found here by reading the
//     stream with that rule;
//   - an event a newer section no longer carries, nor any event overlaps, it
//     keeps (it never forgets an event id): we drop it. The scenario's
//     updates replace or overlap what they remove, so both drop the same;
//   - when it adds an event it removes only those that start inside the new
//     one, so an older event that starts before it and runs into it stays,
//     overlapping (seen in longer runs of the same file, when the peer lost
//     the older event's section at first and read it after the update): we
//     keep the one received last.
#include <gtest/gtest.h>

#include <cstdio>
#include <algorithm>
#include <cstdint>
#include <map>
#include <regex>
#include <set>
#include <string>

#include <nlohmann/json.hpp>

#include "tests/tools/tools_test_support.h"
#include "tools/common/arib_symbols.h"
#include "tools/info/epg_dump.h"
#include "text/eit_event.h"
#include "tools/info/xmltv_writer.h"

namespace {

using nlohmann::json;
using tools_test::Bytes;

const int64_t kUndeterminedDurationMs = (165LL * 3600 + 165 * 60 + 165) * 1000;

std::string PeerScript() {
    return std::string(KESTRIN_SOURCE_DIR) + "/tools/peers/node_modules/mirakurun/bin/epgdump.js";
}

// The peer's dump of a stream file (it waits 3.5 s after reading).
json Peer(const std::string& ts) {
    const std::string out = ts + ".peer.json";
    std::remove(out.c_str());
    const tools_test::CommandResult r = tools_test::RunCommand("TZ=Asia/Tokyo node " + tools_test::Quote(PeerScript()) +
                                                               " " + tools_test::Quote(ts) + " " + tools_test::Quote(out));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    return json::parse(tools_test::ReadText(out));
}

json Ours(const Bytes& stream) {
    std::string warnings;
    const std::string text = EpgJsonFromStream(stream.data(), stream.size(), warnings);
    EXPECT_EQ(warnings, "");
    return json::parse(text);
}

std::map<int64_t, json> ById(const json& programmes) {
    std::map<int64_t, json> byId;
    for (const json& p : programmes) byId[p["id"].get<int64_t>()] = p;
    return byId;
}

void AppendUtf8(std::string& out, uint32_t c) {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
}

// Our text with the additional symbols as the peer brackets them.
std::string Bracketed(std::string text) {
    for (const AribSymbol& s : kAribSymbols) {
        std::string symbol;
        AppendUtf8(symbol, s.unicode);
        for (size_t at = text.find(symbol); at != std::string::npos; at = text.find(symbol, at)) {
            text.replace(at, symbol.size(), std::string("[") + s.name + "]");
        }
    }
    return text;
}

void BracketTexts(json& value) {
    if (value.is_string()) {
        value = Bracketed(value.get<std::string>());
    } else if (value.is_object()) {
        json renamed = json::object();
        for (auto it = value.begin(); it != value.end(); ++it) {
            json v = it.value();
            BracketTexts(v);
            renamed[Bracketed(it.key())] = v;
        }
        value = renamed;
    } else if (value.is_array()) {
        for (json& v : value) BracketTexts(v);
    }
}

// Event ids (service << 16 | event) of the basic EIT sections the peer
// reads: sections of PID 0x0012 whose header lies whole in the packet where
// they begin (continuity and CRC are left aside: the generator's are right).
std::set<uint32_t> EventsThePeerReads(const Bytes& stream) {
    std::set<uint32_t> events;
    Bytes pending;
    size_t wanted = 0;
    auto take = [&](const Bytes& section) {
        if (section.size() < 18 || section[0] < 0x4E || section[0] > 0x57) return;
        const uint32_t service = static_cast<uint32_t>(section[3] << 8 | section[4]);
        size_t at = 14;
        while (at + 12 <= section.size() - 4) {
            events.insert(service << 16 | static_cast<uint32_t>(section[at] << 8 | section[at + 1]));
            at += 12 + static_cast<size_t>((section[at + 10] & 0x0F) << 8 | section[at + 11]);
        }
    };
    for (size_t p = 0; p + 188 <= stream.size(); p += 188) {
        const uint8_t* packet = stream.data() + p;
        if (tools_test::Pid(packet) != 0x0012 || (packet[3] & 0x10) == 0) continue;
        size_t at = (packet[3] & 0x20) ? 5 + packet[4] : 4;
        if (at >= 188) continue;
        if ((packet[1] & 0x40) == 0) {
            if (!pending.empty()) {
                const size_t n = std::min(wanted - pending.size(), 188 - at);
                pending.insert(pending.end(), packet + at, packet + at + n);
                if (pending.size() == wanted) take(pending), pending.clear();
            }
            continue;
        }
        const size_t pointer = packet[at++];
        if (!pending.empty() && pending.size() + pointer == wanted) {
            pending.insert(pending.end(), packet + at, packet + at + pointer);
            take(pending);
        }
        pending.clear();
        at += pointer;
        while (at + 3 <= 188 && packet[at] != 0xFF) {
            const size_t length = 3 + static_cast<size_t>((packet[at + 1] & 0x0F) << 8 | packet[at + 2]);
            if (at + length > 188) {
                pending.assign(packet + at, packet + 188);
                wanted = length;
                break;
            }
            take(Bytes(packet + at, packet + at + length));
            at += length;
        }
    }
    return events;
}

// Compares the two dumps field by field, the peer's known faults allowed.
void ExpectAgree(const json& oursJson, const json& peerJson, size_t minimum, const std::set<uint32_t>& peerReads) {
    std::map<int64_t, json> ours = ById(oursJson);
    std::map<int64_t, json> peer = ById(peerJson);
    EXPECT_GE(ours.size(), minimum);
    for (const auto& entry : peer) EXPECT_TRUE(ours.count(entry.first)) << "only the peer has " << entry.second.dump();
    for (auto& entry : ours) {
        auto found = peer.find(entry.first);
        const uint32_t key = entry.second["serviceId"].get<uint32_t>() << 16 | entry.second["eventId"].get<uint32_t>();
        const bool basicLost = peerReads.count(key) == 0;
        if (found == peer.end()) {
            if (!basicLost) ADD_FAILURE() << "only we have " << entry.second.dump();
            continue;
        }
        json mine = entry.second;
        json theirs = found->second;
        if (basicLost) {
            // The peer has the extended copy's fields alone.
            for (const char* field : {"name", "description", "video", "audio", "genres", "series", "relatedItems"}) {
                mine.erase(field);
            }
        }
        BracketTexts(mine);
        if (mine.contains("relatedItems")) {
            for (json& item : mine["relatedItems"]) {
                EXPECT_TRUE(item.contains("type")) << entry.first;
                item.erase("type");
            }
        }
        if (mine["duration"].is_null()) {
            EXPECT_EQ(theirs["duration"], kUndeterminedDurationMs) << entry.first;
            theirs["duration"] = nullptr;
        }
        if (mine.contains("relatedItems") && theirs.contains("relatedItems") &&
            theirs["relatedItems"].size() < mine["relatedItems"].size()) {
            // The peer keeps the first event group descriptor only.
            for (size_t i = 0; i < theirs["relatedItems"].size(); ++i) {
                EXPECT_EQ(theirs["relatedItems"][i], mine["relatedItems"][i]) << entry.first;
            }
            theirs["relatedItems"] = mine["relatedItems"];
        }
        EXPECT_EQ(mine, theirs) << "programme " << entry.first;
    }
}

// A programme's place in the guide: "channel start stop" as XMLTV writes it.
std::string Slot(int64_t networkId, int64_t serviceId, int64_t startAtMs, int64_t durationMs) {
    const int64_t start = startAtMs / 1000 + 9 * 3600;  // Japan time
    return std::to_string(networkId * 100000 + serviceId) + " " + XmltvTime(start) + " " +
           XmltvTime(start + durationMs / 1000);
}

// The XMLTV of the stream lists the programmes of our JSON whose start is
// determined, at the same times, and no other: one of undetermined duration
// until the next programme of its service in the JSON, at most
// kUndeterminedRunSeconds; the peer's programmes (those of known duration)
// are among them.
void ExpectXmltvAgrees(const Bytes& stream, const json& oursJson, const json& peerJson) {
    std::string warnings;
    const std::string xml = EpgXmltvFromStream(stream.data(), stream.size(), warnings);
    std::multiset<std::string> slots;
    const std::regex programme("<programme start=\"([^\"]*)\" stop=\"([^\"]*)\" channel=\"([^\"]*)\">");
    for (std::sregex_iterator it(xml.begin(), xml.end(), programme), end; it != end; ++it) {
        slots.insert((*it)[3].str() + " " + (*it)[1].str() + " " + (*it)[2].str());
    }
    std::map<std::pair<int64_t, int64_t>, std::set<int64_t>> starts;  // per service, UTC ms
    for (const json& p : oursJson) {
        if (p["startAt"].is_null()) continue;
        starts[{p["networkId"].get<int64_t>(), p["serviceId"].get<int64_t>()}].insert(p["startAt"].get<int64_t>());
    }
    std::multiset<std::string> expected;
    size_t undetermined = 0;
    for (const json& p : oursJson) {
        if (p["startAt"].is_null()) {
            ++undetermined;
            continue;
        }
        const int64_t startAt = p["startAt"].get<int64_t>();
        int64_t durationMs = 0;
        if (p["duration"].is_null()) {
            const std::set<int64_t>& own = starts[{p["networkId"].get<int64_t>(), p["serviceId"].get<int64_t>()}];
            const auto next = own.upper_bound(startAt);
            durationMs = std::min<int64_t>(next == own.end() ? INT64_MAX : *next - startAt,
                                           kUndeterminedRunSeconds * 1000LL);
        } else {
            durationMs = p["duration"].get<int64_t>();
        }
        expected.insert(Slot(p["networkId"].get<int64_t>(), p["serviceId"].get<int64_t>(), startAt, durationMs));
    }
    EXPECT_EQ(slots, expected);
    EXPECT_EQ(std::count(warnings.begin(), warnings.end(), '\n'), static_cast<long>(undetermined)) << warnings;
    for (const json& p : peerJson) {
        if (p["startAt"].is_null() || p["duration"].get<int64_t>() == kUndeterminedDurationMs) continue;
        const std::string slot = Slot(p["networkId"].get<int64_t>(), p["serviceId"].get<int64_t>(),
                                      p["startAt"].get<int64_t>(), p["duration"].get<int64_t>());
        EXPECT_TRUE(slots.count(slot)) << "the peer's " << slot << " is not in the XMLTV";
    }
}

TEST(EpgPeer, SampleStreamAgrees) {
    const Bytes stream = tools_test::ReadBytes(KESTRIN_SAMPLE_TS);
    const json ours = Ours(stream);
    const json peer = Peer(KESTRIN_SAMPLE_TS);
    ExpectAgree(ours, peer, 8, EventsThePeerReads(stream));
    ExpectXmltvAgrees(stream, ours, peer);
}

// Eight days of three services: programmes of 30 to 120 minutes from
// 2026-12-09 on, with texts, items, genres, series, event groups, free_CA,
// additional symbols and mixed section versions; then updates during the
// stream that replace and overlap older events.
std::string WeekScenario() {
    std::string text = tools_test::SampleScenarioText();
    const std::string stream = "[stream]\n";
    text.replace(text.find(stream), stream.size(), stream + "schedule = on\nschedule-interval = 1\n");
    const std::string duration = "duration = 3\n";
    text.replace(text.find(duration), duration.size(), "duration = 5\n");
    const std::string bitrate = "bitrate = 16000000\n";
    text.replace(text.find(bitrate), bitrate.size(), "bitrate = 24000000\n");
    const int services[] = {0x0400, 0x0401, 0x0588};
    const int lengths[] = {30, 45, 60, 90, 120, 55, 25, 70};
    const char* titles[] = {"朝のニュース\\{字}", "ドラマ「港の灯」\\{再}", "ＳＰＯＲＴＳ　ＬＩＶＥ\\{生}", "料理の時間",
                            "映画劇場\\{字}\\{二}", "天気と交通", "子ども番組", "ドキュメント\\{新}"};
    int id = 0x3000;
    for (int s : services) {
        int64_t minute = 0;  // from 2026-12-09 00:00
        int n = 0;
        while (minute < 7 * 24 * 60) {
            const int length = lengths[(n + s) % 8];
            char start[64];
            std::snprintf(start, sizeof start, "2026-12-%02d %02d:%02d:00", 9 + static_cast<int>(minute / 1440),
                          static_cast<int>(minute / 60 % 24), static_cast<int>(minute % 60));
            char clock[32];
            std::snprintf(clock, sizeof clock, "%02d:%02d:00", length / 60, length % 60);
            text += "\n[event " + std::to_string(s) + "]\nid = " + std::to_string(++id) + "\nstart = " + start +
                    "\nduration = " + clock + "\n";
            text += std::string("title = ") + titles[n % 8] + " 第" + std::to_string(n) + "回\n";
            text += "text = 番組の説明です。" + std::to_string(n) + "\\nつぎの行\n";
            text += "video = " + std::string(s == 0x0588 ? "0xD1" : (n % 3 ? "0xB3" : "0xA1")) + "\n";
            text += n % 4 == 0 ? "audio = dual jpn eng\n" : "audio = stereo jpn\n";
            if (n % 2 == 0) text += "genre = 0x" + std::string(n % 4 ? "30" : "12") + " 0x01\n";
            if (n % 3 == 0) {
                text += "item = 出演者 | 山田花子、佐藤一郎\nitem = 番組内容 | 詳しい内容。" + std::string(300, 'x') + "\n";
                text += "item-bytes = 120\n";
            }
            if (n % 5 == 0) text += "series = " + std::to_string(100 + n % 7) + " 1 2 " + std::to_string(n % 12 + 1) +
                                    " 12 2027-03-31 | シリーズ" + std::to_string(n % 7) + "\n";
            if (n % 6 == 1) text += "group = 1 0x0401:" + std::to_string(id) + "\n";
            if (n % 11 == 2) text += "group = 4 0x7FE1:0x7FE2:0x0500:0x1234\n";
            if (n % 9 == 4) text += "free-ca = 1\n";
            if (n % 7 == 3) text += "version = " + std::to_string(n % 31) + "\n";
            minute += length;
            ++n;
        }
    }
    // Updates at 22:00:02: event 0x5001 10:00-11:00 on the 10th is replaced
    // by 0x5002 10:00-10:30 in the same section; 0x5003 09:00-10:00 on the
    // 11th is overlapped by 0x5004 08:30-09:30 in the segment before it.
    text += R"(
[service 0x0402]
type = 0x01
pmt = 0x0103
pcr = 0x0131
name = 更新テスト
video = 0x0131 mpeg2 2000 0x00 352x240
audio = 0x0132 aac 64 0x10

[event 0x0402]
id = 0x5001
start = 2026-12-10 10:00:00
duration = 01:00:00
title = 古い番組
until = 2026-12-08 22:00:02

[event 0x0402]
id = 0x5002
start = 2026-12-10 10:00:00
duration = 00:30:00
title = 新しい番組
from = 2026-12-08 22:00:02

[event 0x0402]
id = 0x5003
start = 2026-12-11 09:00:00
duration = 01:00:00
title = 重なられる番組
version = 4

[event 0x0402]
id = 0x5004
start = 2026-12-11 08:30:00
duration = 01:00:00
title = 重なる番組
from = 2026-12-08 22:00:02
)";
    return text;
}

TEST(EpgPeer, GeneratedWeekAgrees) {
    gen::Scenario scenario;
    std::string error;
    const std::string text = WeekScenario();
    ASSERT_TRUE(gen::ParseScenario(text, scenario, error)) << error;
    // Kept beside the stream for the benchmark (scripts/bench-epg.sh).
    tools_test::WriteBytes(tools_test::WorkPath("epg-week.scenario"), Bytes(text.begin(), text.end()));
    const Bytes stream = tools_test::Generate(scenario);
    const std::string path = tools_test::WorkPath("epg-week.ts");
    tools_test::WriteBytes(path, stream);
    const json ours = Ours(stream);
    const std::set<uint32_t> peerReads = EventsThePeerReads(stream);
    const json peer = Peer(path);
    ExpectAgree(ours, peer, 3 * 7 * 20, peerReads);
    ExpectXmltvAgrees(stream, ours, peer);
    // The rule above leaves the peer most of the guide: the comparison is
    // not an empty one.
    EXPECT_GT(peerReads.size(), ours.size() * 9 / 10);
    // The updates: the replaced and the overlapped events are gone.
    const std::map<int64_t, json> byId = ById(ours);
    const int64_t base = 0x7FE0LL * 10000000000LL + 0x0402LL * 100000LL;
    EXPECT_FALSE(byId.count(base + 0x5001));
    EXPECT_TRUE(byId.count(base + 0x5002));
    EXPECT_FALSE(byId.count(base + 0x5003));
    EXPECT_TRUE(byId.count(base + 0x5004));
}

}  // namespace
