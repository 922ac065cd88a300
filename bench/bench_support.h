// What the packet-path benchmarks share: a packet's PID, the per-packet
// counters, the bare scan that is every one's floor, and eight days of EIT
// schedule sections of one service.
#ifndef KESTRIN_BENCH_BENCH_SUPPORT_H
#define KESTRIN_BENCH_BENCH_SUPPORT_H

#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "tools/streamkit/stream_builder.h"

namespace bench {

inline uint16_t Pid(const uint8_t* p) { return static_cast<uint16_t>(((p[1] & 0x1F) << 8) | p[2]); }

// items_per_second and bytes_per_second over the packets of `bytes`, and
// time_per_packet, the figure the tables of docs/performance.md give.
inline void SetPacketCounters(benchmark::State& st, size_t bytes) {
    const int64_t packets = static_cast<int64_t>(bytes / 188);
    st.SetItemsProcessed(st.iterations() * packets);
    st.SetBytesProcessed(st.iterations() * static_cast<int64_t>(bytes));
    st.counters["time_per_packet"] = benchmark::Counter(static_cast<double>(st.iterations() * packets),
                                                        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// The floor: every packet's PID read and nothing else, in host calls of
// st.range(0) packets.
inline void BareScan(benchmark::State& st, const std::vector<uint8_t>& mux) {
    const size_t chunk = static_cast<size_t>(st.range(0)) * 188;
    for (auto _ : st) {
        uint32_t sum = 0;
        for (size_t o = 0; o < mux.size(); o += chunk) {
            const size_t end = o + chunk < mux.size() ? o + chunk : mux.size();
            for (const uint8_t* p = mux.data() + o; p + 188 <= mux.data() + end; p += 188) sum += Pid(p);
            benchmark::DoNotOptimize(sum);
        }
    }
    SetPacketCounters(st, mux.size());
}

// Eight days of one service's EIT schedule from midnight of `mjd`: 64
// three-hour segments of basic (0x50/0x51) and then of extended
// (0x58/0x59) sections, four programmes a segment with a short event,
// component, audio and content descriptors (basic) or an extended event
// descriptor (extended): about 1 KB a section, 123 KB together.
inline std::vector<build::Bytes> EightDaysSchedule(uint16_t serviceId, uint16_t mjd, uint8_t version = 0) {
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
                build::EitEvent e = build::Event(static_cast<uint16_t>(mjd + minute / 1440), minute / 60 % 24,
                                                 minute % 60, 0, 0, 45, 0, d);
                e.eventId = static_cast<uint16_t>(0x1000 + g * 4 + k);
                events.push_back(e);
            }
            build::EitHeader h;
            h.tableId = static_cast<uint8_t>((kind ? 0x58 : 0x50) + g / 32);
            h.serviceId = serviceId;
            h.version = version;
            h.sectionNumber = static_cast<uint8_t>(g % 32 * 8);
            h.lastSectionNumber = 0xF8;
            h.segmentLastSectionNumber = h.sectionNumber;
            h.lastTableId = static_cast<uint8_t>(kind ? 0x59 : 0x51);
            sections.push_back(build::EitSection(h, events));
        }
    }
    return sections;
}

}  // namespace bench

#endif
