// The real DLL holds every programme the stream carries: kestrin-gen's
// "three-services" multiplex fed once from a stream thread of its own at
// the broadcast rate, in calls of 256 packets, with the guide open from
// the start and the window's messages taken on this thread meanwhile, as a
// host runs it. The table the DLL leaves in Kestrin.epg when it is deleted
// is read back by the core (built into this program) and compared with
// what kestrin-info --epg's collector reads from the same bytes: the same
// services, starts, durations and titles.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "plugin/guide_store.h"
#include "tests/support/test_plugin.h"
#include "tests/wine/plugin_driver.h"
#include "tools/gen/guide_scenarios.h"
#include "tools/gen/multiplexer.h"
#include "tools/gen/scenario.h"
#include "tools/info/epg_collector.h"
#include "ui/channel_buttons.h"
#include "ui/resource.h"
#include "ui/viewer.h"

namespace {

typedef std::tuple<uint16_t, uint16_t, int64_t, int32_t, std::string> Programme;

Programme Of(const EitEventRecord& r) {
    return Programme(r.originalNetworkId, r.serviceId, r.startDetermined ? r.start : -1,
                     r.durationDetermined ? r.duration : -1,
                     std::string(reinterpret_cast<const char*>(r.name), static_cast<size_t>(r.nameSize)));
}

std::string Describe(const Programme& p) {
    char line[96];
    std::snprintf(line, sizeof line, "network %04X service %04X start %lld duration %d", std::get<0>(p),
                  std::get<1>(p), static_cast<long long>(std::get<2>(p)), std::get<3>(p));
    return line;
}

std::vector<uint8_t> ReadWhole(const std::string& path) {
    std::vector<uint8_t> bytes;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        uint8_t buffer[65536];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) bytes.insert(bytes.end(), buffer, buffer + n);
        std::fclose(f);
    }
    return bytes;
}

TEST(GuideCompleteness, TheRealDllHoldsEveryProgrammeOfTheThreeServicesStream) {
    std::vector<std::string> parts;
    gen::Scenario scenario;
    std::string error;
    ASSERT_TRUE(gen::NamedScenarioParts("three-services", parts));
    ASSERT_TRUE(gen::ParseScenario(parts[0], scenario, error)) << error;
    std::vector<uint8_t> stream;
    gen::GenerateStream(scenario, [&stream](const uint8_t* packet) {
        stream.insert(stream.end(), packet, packet + 188);
        return true;
    });
    ASSERT_FALSE(stream.empty());

    const std::string cache = ProgramDirectory() + "Kestrin.epg";
    DeleteFileA(cache.c_str());
    WriteSettingsFile("[SERVICE]\r\nCH1=27\r\n");
    {
        FakeHost host;
        HostWindow owner;
        PluginObject plugin;
        ASSERT_EQ(plugin.SetHost(&host, 0x10400), 1);
        plugin.OnChannelChange(27, scenario.services.front().id);
        ASSERT_EQ(plugin.CreatePluginWindow(owner.Handle()), 1);
        PumpMessages();
        SendMessageA(plugin.Dialog(), WM_COMMAND, IDC_GUIDE_OPEN, 0);
        PumpMessages();
        ASSERT_NE(FindGuideWindow(plugin.Dialog()), nullptr);

        // The broadcast rate: 256 packets are 24 ms of a 16 Mbit/s stream.
        const size_t call = 256 * 188;
        const DWORD perCallMs = static_cast<DWORD>(call * 8 * 1000 / scenario.bitrate);
        std::atomic<bool> done(false);
        std::thread feeder([&] {
            for (size_t at = 0; at < stream.size(); at += call) {
                const size_t n = stream.size() - at < call ? stream.size() - at : call;
                plugin.OnStreamData(stream.data() + at, static_cast<uint32_t>(n));
                Sleep(perCallMs);
            }
            done = true;
        });
        while (!done) {
            PumpMessages();
            Sleep(1);
        }
        feeder.join();
        PumpMessages();
    }  // deleted on this thread: the table is saved
    const std::vector<uint8_t> saved = ReadWhole(cache);
    ASSERT_FALSE(saved.empty());

    // The file read back by the core, its clock at the start of the
    // stream's day so that no programme counts as ended.
    TestPlugin t;
    t.platform.files["C:\\Host\\Kestrin.epg"] = saved;
    t.platform.localTime = {2026, 12, 8, 0, 0, 0};
    LoadSettingsBeforeWindow(t.s());
    PluginOnChannelChange(t.s(), 27, scenario.services.front().id);
    ViewerInitialised(t.s());
    t.platform.Pump(t.s());
    SyncGuide(t.s());
    std::set<Programme> held;
    std::unique_ptr<EitEventRecord> record(new EitEventRecord);
    const GuideStore& g = t.s().guide;
    for (int32_t i = 0; i < GuideServiceCount(g); ++i) {
        ScheduleEventRef ref;
        for (int32_t row = 0; GuideServiceRow(g, i, row, ref); ++row) {
            if (ReadGuideServiceEvent(g, i, ref, *record)) held.insert(Of(*record));
        }
    }

    EpgCollector collector;
    for (size_t at = 0; at + 188 <= stream.size(); at += 188) collector.Packet(&stream[at]);
    std::set<Programme> expected;
    std::string warnings;
    collector.ForEachProgramme([&expected](const EitEventRecord& r) { expected.insert(Of(r)); }, warnings);

    std::string missing;
    int lines = 0;
    for (const Programme& p : expected) {
        if (held.count(p) == 0 && lines++ < 12) missing += Describe(p) + "\n";
    }
    EXPECT_TRUE(held == expected) << held.size() << " programmes held, " << expected.size()
                                  << " in the stream; missing:\n"
                                  << missing;
}

}  // namespace
