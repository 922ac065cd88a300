// The EIT schedule assembly of one service over eight days, as the plug-in
// would host it: 64 three-hour segments of basic (0x50/0x51) and extended
// (0x58/0x59) sections, four programmes a segment with a short event,
// component, audio, content and extended event descriptors, in the pool
// sized for eight days. Measured: taking every section once (stored),
// taking them again (unchanged, the steady state of a repeating carousel),
// listing the programmes, and reading every listed record.
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "bench/bench_support.h"
#include "text/eit_schedule.h"

namespace {

const uint16_t kMjd = 61382;  // 2026-12-08

struct Fixture {
    Fixture()
        : service(new EitScheduleService),
          pool(kSchedulePoolSizeEightDays),
          sections(bench::EightDaysSchedule(0x0400, kMjd)) {}
    void Fill() {
        InitScheduleService(*service, pool.data(), kSchedulePoolSizeEightDays);
        for (const build::Bytes& s : sections) AddScheduleSection(*service, s.data(), static_cast<int32_t>(s.size()));
    }
    std::unique_ptr<EitScheduleService> service;
    std::vector<uint8_t> pool;
    std::vector<build::Bytes> sections;
};

void BM_ScheduleFirstFill(benchmark::State& state) {
    Fixture f;
    for (auto _ : state) f.Fill();
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(f.sections.size()));
    state.counters["pool_bytes"] = f.service->poolUsed;
}
BENCHMARK(BM_ScheduleFirstFill);

void BM_ScheduleUnchangedRepeat(benchmark::State& state) {
    Fixture f;
    f.Fill();
    for (auto _ : state) {
        for (const build::Bytes& s : f.sections) {
            benchmark::DoNotOptimize(AddScheduleSection(*f.service, s.data(), static_cast<int32_t>(s.size())));
        }
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(f.sections.size()));
}
BENCHMARK(BM_ScheduleUnchangedRepeat);

void BM_ScheduleListAndRead(benchmark::State& state) {
    Fixture f;
    f.Fill();
    std::vector<ScheduleEventRef> refs(kScheduleEventsEightDays);
    std::unique_ptr<EitEventRecord> record(new EitEventRecord);
    int32_t n = 0;
    for (auto _ : state) {
        n = ListScheduleEvents(*f.service, refs.data(), kScheduleEventsEightDays);
        if (state.range(0) != 0) {
            for (int32_t i = 0; i < n; ++i) ReadScheduleEvent(*f.service, refs[static_cast<size_t>(i)], *record);
        }
    }
    state.counters["programmes"] = n;
}
BENCHMARK(BM_ScheduleListAndRead)->Arg(0)->Arg(1);

}  // namespace
