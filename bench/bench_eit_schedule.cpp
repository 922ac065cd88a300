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

#include "text/eit_schedule.h"
#include "tools/streamkit/stream_builder.h"

namespace {

const uint16_t kMjd = 61382;  // 2026-12-08

std::vector<build::Bytes> EightDays() {
    std::vector<build::Bytes> sections;
    for (int kind = 0; kind < 2; ++kind) {
        for (int g = 0; g < 64; ++g) {
            std::vector<build::EitEvent> events;
            for (int k = 0; k < 4; ++k) {
                const int minute = g * 180 + k * 45;
                build::Bytes d;
                if (kind == 0) {
                    d = build::Cat({build::ShortEventDescriptor(build::Bytes(40, 0x30), build::Bytes(160, 0x31)),
                                    build::ComponentDescriptor(0x01, 0xB3, 0x00),
                                    build::AudioComponentDescriptor(build::AudioComponent()),
                                    build::ContentDescriptorOf({0x30FF})});
                } else {
                    d = build::ExtendedEventDescriptor(0, 0, {{build::Bytes(8, 0x32), build::Bytes(200, 0x33)}});
                }
                build::EitEvent e = build::Event(static_cast<uint16_t>(kMjd + minute / 1440), minute / 60 % 24,
                                                 minute % 60, 0, 0, 45, 0, d);
                e.eventId = static_cast<uint16_t>(0x1000 + g * 4 + k);
                events.push_back(e);
            }
            build::EitHeader h;
            h.tableId = static_cast<uint8_t>((kind ? 0x58 : 0x50) + g / 32);
            h.serviceId = 0x0400;
            h.sectionNumber = static_cast<uint8_t>(g % 32 * 8);
            h.lastSectionNumber = 0xF8;
            h.segmentLastSectionNumber = h.sectionNumber;
            h.lastTableId = static_cast<uint8_t>(kind ? 0x59 : 0x51);
            sections.push_back(build::EitSection(h, events));
        }
    }
    return sections;
}

struct Fixture {
    Fixture() : service(new EitScheduleService), pool(kSchedulePoolSizeEightDays), sections(EightDays()) {}
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
