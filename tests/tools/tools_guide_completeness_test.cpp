// The programme table holds every programme the stream carries: each of
// kestrin-gen's programme-table scenarios fed through the plug-in, as a
// host hands it over (calls of 256 packets or more, the window thread
// taking its turns between calls), and as fast as it can be (the window
// thread behind by many calls, pass after pass), gives the programmes that
// kestrin-info --epg reads from the same bytes: the same services, starts,
// durations and titles. The full-budget scenario carries more than the
// budget holds: there every service the guide keeps is whole and every
// programme it lists is one the stream carries.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "plugin/guide_budget.h"
#include "plugin/guide_store.h"
#include "tests/support/test_plugin.h"
#include "tools/gen/guide_scenarios.h"
#include "tools/gen/multiplexer.h"
#include "tools/gen/scenario.h"
#include "tools/info/epg_collector.h"
#include "ui/channel_buttons.h"
#include "ui/guide_view.h"
#include "ui/resource.h"
#include "ui/viewer.h"

namespace {

typedef std::vector<uint8_t> Bytes;

// A programme as both readers give it: network, service, start, duration
// (-1 undetermined), title bytes.
typedef std::tuple<uint16_t, uint16_t, int64_t, int32_t, std::string> Programme;
typedef std::set<Programme> Table;

Programme Of(const EitEventRecord& r) {
    return Programme(r.originalNetworkId, r.serviceId, r.startDetermined ? r.start : -1,
                     r.durationDetermined ? r.duration : -1,
                     std::string(reinterpret_cast<const char*>(r.name), static_cast<size_t>(r.nameSize)));
}

struct Part {
    gen::Scenario scenario;
    Bytes stream;
};

std::vector<Part> Generate(const std::string& name) {
    std::vector<std::string> texts;
    EXPECT_TRUE(gen::NamedScenarioParts(name, texts)) << name;
    std::vector<Part> parts;
    for (const std::string& text : texts) {
        Part p;
        std::string error;
        EXPECT_TRUE(gen::ParseScenario(text, p.scenario, error)) << error;
        Bytes& out = p.stream;
        gen::GenerateStream(p.scenario, [&out](const uint8_t* packet) {
            out.insert(out.end(), packet, packet + 188);
            return true;
        });
        parts.push_back(std::move(p));
    }
    return parts;
}

// What kestrin-info --epg reads from the bytes.
Table Collected(const std::vector<Part>& parts) {
    EpgCollector collector;
    for (const Part& p : parts) {
        for (size_t at = 0; at + 188 <= p.stream.size(); at += 188) collector.Packet(&p.stream[at]);
    }
    Table table;
    std::string warnings;
    collector.ForEachProgramme([&table](const EitEventRecord& r) { table.insert(Of(r)); }, warnings);
    return table;
}

// How the plug-in is fed.
struct Pace {
    const char* name;
    uint32_t packetsPerCall;
    int callsPerTurn;  // the window thread's turns come after this many calls
};

struct Receiver {
    TestPlugin t;

    Receiver() {
        LoadSettingsBeforeWindow(t.s());
        ViewerInitialised(t.s());
        // The guide opened early, before the first section.
        ViewerCommand(t.s(), IDC_GUIDE_OPEN);
        GuideInitialised(t.s());
    }
    void Tune(const Part& p) {
        PluginOnChannelChange(t.s(), 27, p.scenario.services.front().id);
        t.platform.Pump(t.s());
    }
    void Feed(const Part& p, const Pace& pace) {
        const uint32_t callBytes = pace.packetsPerCall * 188;
        int calls = 0;
        for (size_t at = 0; at < p.stream.size(); at += callBytes) {
            const uint32_t size = static_cast<uint32_t>(std::min<size_t>(callBytes, p.stream.size() - at));
            ViewerStreamData(t.s(), &p.stream[at], size);
            if (++calls % pace.callsPerTurn == 0) t.platform.Pump(t.s());
        }
        t.platform.Pump(t.s());
    }
    Table Held() {
        GuideStore& g = t.s().guide;
        SyncGuide(t.s());
        Table table;
        GuideServiceInfo info;
        EitEventRecord* record = new EitEventRecord;
        for (int32_t i = 0; i < GuideServiceCount(g); ++i) {
            if (!GuideServiceAt(g, i, info)) continue;
            ScheduleEventRef ref;
            for (int32_t row = 0; GuideServiceRow(g, i, row, ref); ++row) {
                if (ReadGuideServiceEvent(g, i, ref, *record)) table.insert(Of(*record));
            }
        }
        delete record;
        return table;
    }
};

std::string Describe(const Programme& p) {
    char line[96];
    std::snprintf(line, sizeof line, "network %04X service %04X start %lld duration %d",
                  std::get<0>(p), std::get<1>(p), static_cast<long long>(std::get<2>(p)), std::get<3>(p));
    return line;
}

// The differences: how many a service, and the first few.
std::string Difference(const Table& expected, const Table& held) {
    std::map<std::pair<uint16_t, uint16_t>, std::pair<int, int>> perService;  // missing, extra
    std::string text;
    int lines = 0;
    for (const Programme& p : expected) {
        if (held.count(p) != 0) continue;
        ++perService[{std::get<0>(p), std::get<1>(p)}].first;
        if (lines++ < 8) text += "missing: " + Describe(p) + "\n";
    }
    for (const Programme& p : held) {
        if (expected.count(p) != 0) continue;
        ++perService[{std::get<0>(p), std::get<1>(p)}].second;
        if (lines++ < 16) text += "not in the stream: " + Describe(p) + "\n";
    }
    for (const auto& s : perService) {
        char line[96];
        std::snprintf(line, sizeof line, "network %04X service %04X: %d missing, %d not in the stream\n",
                      s.first.first, s.first.second, s.second.first, s.second.second);
        text += line;
    }
    return text;
}

const Pace kPaces[] = {
    {"host, 256 packets a call", 256, 1},
    {"host, 1,024 packets a call", 1024, 1},
    {"as fast as possible", 256, 64},
};

class GuideCompleteness : public ::testing::TestWithParam<const char*> {};

TEST_P(GuideCompleteness, TheGuideHoldsWhatTheStreamCarries) {
    const std::vector<Part> parts = Generate(GetParam());
    const Table expected = Collected(parts);
    ASSERT_FALSE(expected.empty());
    for (const Pace& pace : kPaces) {
        SCOPED_TRACE(pace.name);
        Receiver r;
        // Passes until the carousel has come round often enough: at the
        // host's pace one pass is enough; behind the stream, a section
        // dropped comes again on the next pass.
        const int passes = pace.callsPerTurn == 1 ? 1 : 3;
        for (int pass = 0; pass < passes; ++pass) {
            for (const Part& p : parts) {
                r.Tune(p);
                r.Feed(p, pace);
            }
        }
        const Table held = r.Held();
        EXPECT_TRUE(held == expected) << held.size() << " programmes held, " << expected.size()
                                      << " in the stream\n"
                                      << Difference(expected, held);
    }
}

INSTANTIATE_TEST_SUITE_P(Scenarios, GuideCompleteness, ::testing::Values("three-services", "bs-like", "zap"),
                         [](const ::testing::TestParamInfo<const char*>& param) {
                             std::string name = param.param;
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

// More than the budget holds (120 services of eight dense days for the
// default 52 entries): what is dropped is whole services, each kept
// service's programmes that have ended (a full pool's first to go) and its
// furthest ones, never one in the middle. So every programme held is one
// the stream carries, and a service's held programmes are all of the
// stream's that have not ended, up to its last one held.
// The programmes a scenario's EIT carries, as (network, service, start,
// duration) with no title: the collector above keeps 64 services, fewer
// than the full budget's 120, so there the scenario itself is the oracle.
typedef std::tuple<uint16_t, uint16_t, int64_t, int32_t> Slot;
const int64_t kUnixEpochMjd = 40587;

std::set<Slot> ScenarioSlots(const std::vector<Part>& parts) {
    std::set<Slot> slots;
    for (const Part& p : parts) {
        std::map<uint16_t, uint16_t> networkOf;
        for (const gen::Service& service : p.scenario.services) {
            networkOf[service.id] = gen::ServiceOriginalNetworkId(p.scenario, service);
        }
        for (const gen::Event& e : p.scenario.events) {
            slots.insert(Slot(networkOf[e.serviceId], e.serviceId, e.start - kUnixEpochMjd * 86400,
                              static_cast<int32_t>(e.duration)));
        }
    }
    return slots;
}

TEST(GuideCompletenessBudget, WhatTheBudgetDropsIsWholeServicesAndTheirFurthestDays) {
    const std::vector<Part> parts = Generate("full-budget");
    const std::set<Slot> expected = ScenarioSlots(parts);
    Receiver r;
    const Pace pace = kPaces[0];
    for (const Part& p : parts) {
        r.Tune(p);
        r.Feed(p, pace);
    }
    std::set<Slot> held;
    for (const Programme& p : r.Held()) held.insert(Slot(std::get<0>(p), std::get<1>(p), std::get<2>(p), std::get<3>(p)));
    ASSERT_FALSE(held.empty());
    std::map<std::pair<uint16_t, uint16_t>, int64_t> lastHeld;
    int32_t strangers = 0;
    for (const Slot& p : held) {
        if (expected.count(p) == 0 && strangers++ < 8) {
            ADD_FAILURE() << "not in the stream: " << Describe(Programme(std::get<0>(p), std::get<1>(p), std::get<2>(p), std::get<3>(p), ""));
        }
        int64_t& last = lastHeld[{std::get<0>(p), std::get<1>(p)}];
        last = std::max(last, std::get<2>(p));
    }
    EXPECT_EQ(strangers, 0);
    EXPECT_EQ(static_cast<int32_t>(lastHeld.size()), GuideServicesForBudget(kGuideDefaultMemoryMB));
    const int64_t now = r.t.s().guide.clockNow;
    ASSERT_GT(now, 0);
    int32_t holes = 0;
    for (const Slot& p : expected) {
        const auto service = lastHeld.find({std::get<0>(p), std::get<1>(p)});
        if (service == lastHeld.end() || std::get<2>(p) > service->second || held.count(p) != 0) continue;
        if (std::get<3>(p) >= 0 && std::get<2>(p) + std::get<3>(p) <= now) continue;  // ended
        if (holes++ < 8) {
            ADD_FAILURE() << "missing before the service's last programme held: "
                          << Describe(Programme(std::get<0>(p), std::get<1>(p), std::get<2>(p), std::get<3>(p), ""));
        }
    }
    EXPECT_EQ(holes, 0);
}

}  // namespace
