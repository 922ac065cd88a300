// The programme table kept across restarts, at the guide's full budget: the
// real store (32 MB, every service entry in use) saved to its cache file and
// read back into a fresh plug-in, each section filed as the window thread
// files it. Measured, never asserted (docs/performance.md).
//
// The table is kestrin-gen's full-budget scenario (120 services of eight
// dense days, more than the budget holds) received once through the packet
// path with the window thread's turns between the host calls, so the store
// holds what a viewer that received it would: as many services as the
// budget has entries, the oldest dropped as it fills. The file is in memory
// (bench/bench_memory_disk.h): the cache's and the store's own cost, no disk.
//
//   BM_GuideTableSave    SaveGuideTable of the full store: every section
//                        read out of the store, through the cache's buffer,
//                        the checksum, the writes, the rename
//   BM_GuideTableLoad    BeginGuideTableLoad and every ContinueGuideTableLoad
//                        step into a fresh PluginState (made with the timing
//                        paused): the file checked whole, each record handed
//                        over and each section filed into the store, as the
//                        viewer does at start; longest_step_ms is the
//                        longest single step (one WM_GUIDE_CACHE message)
//   BM_GuideTableMemory  the memory held at the budget: sizeof PluginState
//                        and GuideStore, the store's block, what it holds
//
// Run: build/bench/bench/bench_guide_table (see docs/performance.md).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench_memory_disk.h"
#include "plugin/guide_keeper.h"
#include "plugin/guide_store.h"
#include "plugin/messages.h"
#include "plugin/plugin_core.h"
#include "plugin/plugin_state.h"
#include "plugin/settings.h"
#include "tools/gen/guide_scenarios.h"
#include "tools/gen/multiplexer.h"
#include "tools/gen/scenario.h"
#include "ui/channel_buttons.h"
#include "ui/guide_view.h"
#include "ui/viewer.h"

namespace {

typedef std::chrono::steady_clock Clock;

const int32_t kChannel = 27;
const int32_t kWatchedService = 151;  // the transponder's first service
const size_t kFileRoom = 40u * 1024 * 1024;
// The viewer's clock: the scenario's broadcast time, 2026-12-08 22:00.
const LocalTime kNow = {2026, 12, 8, 22, 0, 5};

// A plug-in on the transponder's first service, its file in memory.
struct Viewer {
    bench::MemoryDisk disk{kFileRoom};
    std::unique_ptr<PluginState> state{new PluginState()};

    Viewer() {
        disk.now = kNow;
        InitPluginState(*state, &disk);
        LoadWindowSettings(*state);  // the settings path, beside which the cache lies
        state->hasWindow = true;
    }
};

// What the filled store holds, and the file it saves to.
struct FullTable {
    std::vector<uint8_t> file;
    int32_t services = 0;
    int64_t programmes = 0;
    int64_t sections = 0;
    int64_t sectionBytes = 0;
    uint32_t dropped = 0;  // sections the hand-over slots had no room for
    std::string error;
};

// Sections and programmes the store holds now.
void CountStore(const GuideStore& g, FullTable& t) {
    t.services = GuideServiceCount(g);
    t.programmes = 0;
    t.sections = 0;
    t.sectionBytes = 0;
    for (int32_t i = 0; i < t.services; ++i) {
        GuideServiceInfo info;
        if (GuideServiceAt(g, i, info)) t.programmes += info.listCount;
        const int32_t n = GuideServiceSectionCount(g, i);
        for (int32_t j = 0; j < n; ++j) {
            int32_t size = 0;
            if (GuideServiceSection(g, i, j, size) != nullptr) {
                ++t.sections;
                t.sectionBytes += size;
            }
        }
    }
}

// The full-budget scenario received once by `viewer`, a turn of the window
// thread after every host call of 16 packets.
void Receive(Viewer& viewer, FullTable& t) {
    std::vector<std::string> parts;
    gen::Scenario scenario;
    if (!gen::NamedScenarioParts("full-budget", parts) || !gen::ParseScenario(parts[0], scenario, t.error)) {
        if (t.error.empty()) t.error = "no full-budget scenario";
        return;
    }
    // As many services as the budget has entries, so that each is received
    // whole: the scenario has more, and its services' sections come
    // interleaved, so the store would keep parts of many.
    const size_t entries = static_cast<size_t>(GuideServicesForBudget(kGuideDefaultMemoryMB));
    if (scenario.services.size() > entries) scenario.services.resize(entries);
    std::vector<gen::Event> events;
    for (const gen::Event& e : scenario.events) {
        for (const gen::Service& service : scenario.services) {
            if (service.id == e.serviceId) {
                events.push_back(e);
                break;
            }
        }
    }
    scenario.events.swap(events);
    PluginOnChannelChange(*viewer.state, kChannel, kWatchedService);
    std::vector<uint8_t> chunk;
    chunk.reserve(16 * 188);
    auto hand = [&viewer, &chunk]() {
        ViewerStreamData(*viewer.state, chunk.data(), static_cast<uint32_t>(chunk.size()));
        chunk.clear();
        viewer.disk.queued = 0;
        HandleGuideSections(*viewer.state);
        viewer.disk.queued = 0;
    };
    gen::GenerateStream(scenario, [&chunk, &hand](const uint8_t* p) {
        chunk.insert(chunk.end(), p, p + 188);
        if (chunk.size() == 16 * 188) hand();
        return true;
    });
    if (!chunk.empty()) hand();
    t.dropped = viewer.state->guide.droppedSections;
}

const FullTable& Table() {
    static const FullTable table = [] {
        FullTable t;
        Viewer viewer;
        Receive(viewer, t);
        if (!t.error.empty()) return t;
        CountStore(viewer.state->guide, t);
        const GuideCacheStatus saved = SaveGuideTable(*viewer.state);
        if (saved != GuideCacheStatus::kSaved || viewer.disk.Size() == 0) {
            t.error = "the table was not saved: status " + std::to_string(static_cast<int>(saved));
            return t;
        }
        t.file = viewer.disk.File();
        return t;
    }();
    return table;
}

void SetTableCounters(benchmark::State& st, const FullTable& t) {
    st.counters["services"] = t.services;
    st.counters["programmes"] = static_cast<double>(t.programmes);
    st.counters["sections"] = static_cast<double>(t.sections);
    st.counters["file_MB"] = static_cast<double>(t.file.size()) / (1024 * 1024);
}

void BM_GuideTableSave(benchmark::State& st) {
    const FullTable& t = Table();
    if (!t.error.empty()) {
        st.SkipWithError(t.error.c_str());
        return;
    }
    // The store filled again from the file: the same table, in a viewer of
    // its own.
    Viewer viewer;
    viewer.disk.SetFile(t.file);
    if (BeginGuideTableLoad(*viewer.state)) {
        while (ContinueGuideTableLoad(*viewer.state) == GuideCacheStatus::kLoading) {
        }
    }
    for (auto _ : st) {
        // A save is skipped when nothing changed since the last one.
        viewer.state->keeper.savedRevision = GuideRevision(viewer.state->guide) - 1;
        if (SaveGuideTable(*viewer.state) != GuideCacheStatus::kSaved) st.SkipWithError("save failed");
    }
    st.SetBytesProcessed(st.iterations() * static_cast<int64_t>(viewer.disk.Size()));
    SetTableCounters(st, t);
}
BENCHMARK(BM_GuideTableSave)->Unit(benchmark::kMillisecond);

void BM_GuideTableLoad(benchmark::State& st) {
    const FullTable& t = Table();
    if (!t.error.empty()) {
        st.SkipWithError(t.error.c_str());
        return;
    }
    double longest = 0;
    int64_t steps = 0;
    int64_t services = 0, programmes = 0;
    for (auto _ : st) {
        st.PauseTiming();
        std::unique_ptr<Viewer> viewer(new Viewer);
        viewer->disk.SetFile(t.file);
        st.ResumeTiming();
        GuideCacheStatus status = GuideCacheStatus::kNoFile;
        if (BeginGuideTableLoad(*viewer->state)) {
            do {
                const Clock::time_point t0 = Clock::now();
                status = ContinueGuideTableLoad(*viewer->state);
                const double step = std::chrono::duration<double>(Clock::now() - t0).count();
                if (step > longest) longest = step;
                ++steps;
            } while (status == GuideCacheStatus::kLoading);
        }
        st.PauseTiming();
        if (status != GuideCacheStatus::kLoaded) st.SkipWithError("load failed");
        FullTable back;
        CountStore(viewer->state->guide, back);
        services = back.services;
        programmes = back.programmes;
        viewer.reset();
        st.ResumeTiming();
    }
    SetTableCounters(st, t);
    st.counters["services_loaded"] = static_cast<double>(services);
    st.counters["programmes_loaded"] = static_cast<double>(programmes);
    st.counters["steps"] = static_cast<double>(steps) / static_cast<double>(st.iterations());
    st.counters["longest_step_ms"] = longest * 1000.0;
    st.SetBytesProcessed(st.iterations() * static_cast<int64_t>(t.file.size()));
}
BENCHMARK(BM_GuideTableLoad)->Unit(benchmark::kMillisecond);

void BM_GuideTableMemory(benchmark::State& st) {
    const FullTable& t = Table();
    for (auto _ : st) benchmark::DoNotOptimize(t.file.size());
    const int32_t entries = GuideServicesForBudget(kGuideDefaultMemoryMB);
    st.counters["plugin_state_bytes"] = static_cast<double>(sizeof(PluginState));
    st.counters["guide_store_bytes"] = static_cast<double>(sizeof(GuideStore));
    st.counters["store_block_bytes"] = static_cast<double>(static_cast<size_t>(entries) * kGuideServiceShare);
    st.counters["service_share_bytes"] = static_cast<double>(kGuideServiceShare);
    st.counters["service_entries"] = entries;
    st.counters["section_bytes_held"] = static_cast<double>(t.sectionBytes);
    st.counters["sections_dropped"] = t.dropped;
    SetTableCounters(st, t);
}
BENCHMARK(BM_GuideTableMemory)->Iterations(1);

}  // namespace
