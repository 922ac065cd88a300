// The packet path with the programme guide, against the bare scan, over the
// routing benchmark's multiplex (BuildTestMultiplex: 20 cycles of 1,500
// packets, two seconds at 15,000 packets/s) with an EIT schedule on PID
// 0x0012 at a terrestrial rate: eight days of basic (0x50/0x51) and extended
// (0x58/0x59) sections of the watched one-segment service and of the
// full-segment service, which the guide's filter passes over (256 sections,
// 246 KB), the whole carousel once a minute. A minute is 30 passes over the
// buffer: before each pass, untimed, the schedule sections of its two
// seconds are written into full-segment video packets behind each cycle's
// last present/following packet, whole sections back to back, and the
// continuity counters of PID 0x0012 run on from the pass before. The guide
// thus sees every section once a minute, as a receiver does.
//
//   BM_GuideBareScan          every packet's PID read, nothing else: the floor
//   BM_GuideRouteClosed       RoutePackets with the guide window closed; the
//                             plug-in files the schedule whether or not the
//                             window is open, so every WM_GUIDE_READY is
//                             handled on the same thread after each host
//                             call; the other messages are dropped
//   BM_GuideRouteOpen         the guide window open: the viewer's
//                             present/following sections go to the guide too
//                             (new ones every cycle in this multiplex) and the
//                             window's list follows every change
//   BM_GuideRouteOpenChanging the same, with every schedule section in a new
//                             version each minute: each one is copied, handed
//                             over, its CRC checked, filed and the programmes
//                             listed again
//   BM_GuideFileSection       the window thread's filing of one section
//                             alone, eight days held: what each section
//                             stored costs that thread
//   BM_GuideHostileTurn       one turn of the window thread (WM_GUIDE_READY)
//                             under a hostile carousel: 128 CRC-valid
//                             sections of 339 one-second events, a new
//                             version every cycle, 16 sections waiting per
//                             turn; the list full (spread over the day) or
//                             every section on the same seconds (stacked)
//
// The argument is the number of packets the host hands over per call.
// filed counts the sections stored (new or changed) per pass of two seconds.
// Run: build/bench/bench/bench_guide_path (see docs/performance.md).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "bench/bench_support.h"
#include "plugin/messages.h"
#include "plugin/plugin_core.h"
#include "plugin/guide_store.h"
#include "plugin/plugin_state.h"
#include "tests/support/quiet_platform.h"
#include "tools/streamkit/stream_builder.h"
#include "tools/streamkit/test_multiplex.h"
#include "ui/channel_buttons.h"
#include "ui/guide_view.h"
#include "ui/viewer.h"

namespace {

const uint16_t kEitPid = 0x0012;
const uint16_t kScheduleMjd = 61384;  // 2026-12-10, the day of the multiplex's TOT
const int kCycles = 20;
const int kPacketsPerCycle = 1500;
const int kPassesPerMinute = 30;  // of two seconds
const int kCyclesPerMinute = kCycles * kPassesPerMinute;

// One pass's schedule packets (whole 188-byte packets at `at`), and every
// PID 0x0012 packet of the pass in stream order, for the counters.
struct SchedulePass {
    std::vector<size_t> at;
    build::Bytes packets;
    std::vector<size_t> eitAt;
};

struct GuideMultiplex {
    std::vector<uint8_t> base;     // the routing multiplex as built
    std::vector<size_t> reserved;  // packets that carry the schedule in some pass
    SchedulePass passes[2][kPassesPerMinute];  // by version, by pass
    size_t sectionsPerMinute = 0;
    size_t packetsPerMinute = 0;  // of the schedule, version 0
};

// The carousel in sending order: segment by segment, basic and extended, the
// watched service's section before the other's.
std::vector<build::Bytes> Carousel(uint8_t version) {
    const std::vector<build::Bytes> watched = bench::EightDaysSchedule(build::kMuxOneSegService, kScheduleMjd, version);
    const std::vector<build::Bytes> other = bench::EightDaysSchedule(build::kMuxFullSegService, kScheduleMjd, version);
    std::vector<build::Bytes> out;
    for (size_t g = 0; g < 64; ++g) {
        for (size_t kind = 0; kind < 2; ++kind) {
            out.push_back(watched[kind * 64 + g]);
            out.push_back(other[kind * 64 + g]);
        }
    }
    return out;
}

GuideMultiplex MakeGuideMultiplex() {
    GuideMultiplex m;
    build::MultiplexOptions o;
    o.cycles = kCycles;
    o.packetsPerCycle = kPacketsPerCycle;
    m.base = build::BuildTestMultiplex(o);
    const size_t cycleBytes = static_cast<size_t>(kPacketsPerCycle) * 188;
    // Per cycle: the full-segment video packets behind its last EIT p/f
    // packet, so that no schedule section is cut by a p/f section.
    std::vector<size_t> open[kCycles];
    std::vector<size_t> eitAt;
    for (int c = 0; c < kCycles; ++c) {
        size_t last = 0;
        for (size_t at = static_cast<size_t>(c) * cycleBytes; at < static_cast<size_t>(c + 1) * cycleBytes; at += 188) {
            const uint16_t pid = bench::Pid(m.base.data() + at);
            if (pid != kEitPid) continue;
            last = at;
            eitAt.push_back(at);
        }
        for (size_t at = last; at < static_cast<size_t>(c + 1) * cycleBytes; at += 188) {
            if (bench::Pid(m.base.data() + at) == build::kMuxFullSegVideoPid) open[c].push_back(at);
        }
    }
    for (int version = 0; version < 2; ++version) {
        const std::vector<build::Bytes> carousel = Carousel(static_cast<uint8_t>(version));
        m.sectionsPerMinute = carousel.size();
        build::StreamBuilder sb;
        size_t next = 0;
        for (int pass = 0; pass < kPassesPerMinute; ++pass) {
            SchedulePass& sp = m.passes[version][pass];
            sp.eitAt = eitAt;
            for (int c = 0; c < kCycles; ++c) {
                // The sections due by the end of this cycle of the minute.
                const size_t due = static_cast<size_t>(pass * kCycles + c + 1) * carousel.size() / kCyclesPerMinute;
                if (next == due) continue;
                const std::vector<build::Bytes> packets = sb.Packets(
                    kEitPid, std::vector<build::Bytes>(carousel.begin() + static_cast<std::ptrdiff_t>(next),
                                                       carousel.begin() + static_cast<std::ptrdiff_t>(due)));
                next = due;
                for (size_t i = 0; i < packets.size(); ++i) {
                    sp.at.push_back(open[c].at(i));
                    sp.eitAt.push_back(open[c][i]);
                    sp.packets.insert(sp.packets.end(), packets[i].begin(), packets[i].end());
                    m.reserved.push_back(open[c][i]);
                }
            }
            std::sort(sp.eitAt.begin(), sp.eitAt.end());
            if (version == 0) m.packetsPerMinute += sp.at.size();
        }
    }
    std::sort(m.reserved.begin(), m.reserved.end());
    m.reserved.erase(std::unique(m.reserved.begin(), m.reserved.end()), m.reserved.end());
    return m;
}

const GuideMultiplex& Multiplex() {
    static const GuideMultiplex m = MakeGuideMultiplex();
    return m;
}

// Writes one pass's schedule into `mux`; the counters of PID 0x0012 go on
// from `counter`.
void ApplyPass(const GuideMultiplex& m, const SchedulePass& sp, std::vector<uint8_t>& mux, uint8_t& counter) {
    for (size_t at : m.reserved) std::memcpy(mux.data() + at, m.base.data() + at, 188);
    for (size_t i = 0; i < sp.at.size(); ++i) std::memcpy(mux.data() + sp.at[i], sp.packets.data() + i * 188, 188);
    for (size_t at : sp.eitAt) {
        mux[at + 3] = static_cast<uint8_t>((mux[at + 3] & 0xF0) | (counter & 0x0F));
        ++counter;
    }
}

void BM_GuideBareScan(benchmark::State& st) {
    const GuideMultiplex& m = Multiplex();
    std::vector<uint8_t> mux = m.base;
    uint8_t counter = 0;
    ApplyPass(m, m.passes[0][0], mux, counter);
    bench::BareScan(st, mux);
}
BENCHMARK(BM_GuideBareScan)->Arg(256)->Arg(16);

enum class Mode { kClosed, kOpen, kOpenChanging };

void RunPlugin(benchmark::State& st, Mode mode) {
    QuietPlatform platform;
    // Value-initialised: GuideStore::droppedSections is set by nothing else.
    std::unique_ptr<PluginState> owner(new PluginState());
    PluginState& s = *owner;
    InitPluginState(s, &platform);
    s.hasWindow = true;
    PluginOnChannelChange(s, 27, build::kMuxOneSegService);
    if (mode != Mode::kClosed) GuideInitialised(s);  // WM_INITDIALOG of the guide window
    platform.queued = 0;
    const GuideMultiplex& m = Multiplex();
    std::vector<uint8_t> mux = m.base;
    uint8_t counter = 0;
    const size_t chunk = static_cast<size_t>(st.range(0)) * 188;
    const uint32_t revisions = s.guide.revision;
    int64_t pass = 0;
    for (auto _ : st) {
        st.PauseTiming();
        const int version = mode == Mode::kOpenChanging ? static_cast<int>(pass / kPassesPerMinute % 2) : 0;
        ApplyPass(m, m.passes[version][pass % kPassesPerMinute], mux, counter);
        ++pass;
        st.ResumeTiming();
        for (size_t o = 0; o < mux.size(); o += chunk) {
            const size_t n = mux.size() - o < chunk ? mux.size() - o : chunk;
            ViewerStreamData(s, mux.data() + o, static_cast<uint32_t>(n));
            // The window thread's part: the guide's message only.
            for (int i = 0; i < platform.queued; ++i) {
                if (platform.queue[i] == WM_GUIDE_READY) ViewerPrivateMessage(s, WM_GUIDE_READY);
            }
            platform.queued = 0;
        }
    }
    bench::SetPacketCounters(st, mux.size());
    // Sections filed (stored: new or changed) per pass, the programmes
    // listed at the end, and sections the full hand-over slots turned away.
    st.counters["filed"] =
        benchmark::Counter(static_cast<double>(s.guide.revision - revisions), benchmark::Counter::kAvgIterations);
    st.counters["programmes"] = static_cast<double>(s.guide.listCount);
    st.counters["dropped"] = static_cast<double>(s.guide.droppedSections);
    st.counters["schedule_sections_per_minute"] = static_cast<double>(m.sectionsPerMinute);
    st.counters["schedule_packets_per_minute"] = static_cast<double>(m.packetsPerMinute);
}

void BM_GuideRouteClosed(benchmark::State& st) { RunPlugin(st, Mode::kClosed); }
void BM_GuideRouteOpen(benchmark::State& st) { RunPlugin(st, Mode::kOpen); }
void BM_GuideRouteOpenChanging(benchmark::State& st) { RunPlugin(st, Mode::kOpenChanging); }
BENCHMARK(BM_GuideRouteClosed)->Arg(256)->Arg(16);
BENCHMARK(BM_GuideRouteOpen)->Arg(256)->Arg(16);
BENCHMARK(BM_GuideRouteOpenChanging)->Arg(256);

// The window thread's filing of one schedule section alone, as
// TakeGuideSections does it for each section handed over: CRC_32, the
// section into the schedule, its events into the list. The guide holds
// the watched service's eight days (256 programmes); every section comes in
// a new version, so each one is stored.
void BM_GuideFileSection(benchmark::State& st) {
    // The service's table is made by its first section.
    std::unique_ptr<GuideStore> store(new GuideStore());
    std::vector<build::Bytes> versions[2] = {bench::EightDaysSchedule(build::kMuxOneSegService, kScheduleMjd, 0),
                                             bench::EightDaysSchedule(build::kMuxOneSegService, kScheduleMjd, 1)};
    for (const build::Bytes& b : versions[0]) {
        FileScheduleSection(*store, b.data(), static_cast<int32_t>(b.size()));
    }
    const size_t count = versions[0].size();
    size_t next = 0;
    int64_t stored = 0;
    for (auto _ : st) {
        const build::Bytes& b = versions[next / count % 2 == 0 ? 1 : 0][next % count];
        stored += FileScheduleSection(*store, b.data(), static_cast<int32_t>(b.size())) == ScheduleAddResult::kStored;
        ++next;
    }
    st.counters["stored"] = benchmark::Counter(static_cast<double>(stored), benchmark::Counter::kAvgIterations);
    GuideServiceInfo info = {};
    GuideServiceAt(*store, 0, info);
    st.counters["programmes"] = static_cast<double>(info.listCount);
}
BENCHMARK(BM_GuideFileSection);

// One turn of the window thread under a hostile carousel: 16 of its
// sections handed over (untimed), then WM_GUIDE_READY handled (timed). The
// argument: 0 spread over the day (the list stays full at 1,024), 1 every
// section on the same seconds (each displaces the last one's events).
void BM_GuideHostileTurn(benchmark::State& st) {
    const bool stacked = st.range(0) != 0;
    const int kSections = 128;
    const int kEvents = 339;
    const int kPerTurn = 16;
    build::StreamBuilder sb;
    std::vector<build::Bytes> turns;  // the packets of 16 sections each, two versions
    for (uint8_t version = 0; version < 2; ++version) {
        for (int first = 0; first < kSections; first += kPerTurn) {
            std::vector<build::Bytes> sections;
            for (int n = first; n < first + kPerTurn; ++n) {
                build::EitHeader header =
                    build::ScheduleHeader(build::kMuxOneSegService, static_cast<uint8_t>(n), version);
                std::vector<build::EitEvent> events;
                for (int k = 0; k < kEvents; ++k) {
                    const int second = (stacked ? 0 : n * kEvents) + k;
                    build::EitEvent e =
                        build::Event(kScheduleMjd, second / 3600, second / 60 % 60, second % 60, 0, 0, 1);
                    e.eventId = static_cast<uint16_t>(n * kEvents + k);
                    events.push_back(e);
                }
                sections.push_back(build::EitSection(header, events));
            }
            turns.push_back(sb.Stream(kEitPid, sections));
        }
    }
    QuietPlatform platform;
    std::unique_ptr<PluginState> owner(new PluginState());
    PluginState& s = *owner;
    InitPluginState(s, &platform);
    s.hasWindow = true;
    PluginOnChannelChange(s, 27, build::kMuxOneSegService);
    GuideInitialised(s);
    platform.queued = 0;
    size_t next = 0;
    int64_t sections = 0;
    int64_t events = 0;
    int64_t rows = 0;
    for (auto _ : st) {
        st.PauseTiming();
        const build::Bytes& b = turns[next++ % turns.size()];
        ViewerStreamData(s, b.data(), static_cast<uint32_t>(b.size()));
        platform.queued = 0;
        st.ResumeTiming();
        ViewerPrivateMessage(s, WM_GUIDE_READY);
        sections += s.guide.lastTurn.sections;
        events += s.guide.lastTurn.events;
        rows += s.guide.lastTurn.rowsScanned;
    }
    st.counters["sections_per_turn"] =
        benchmark::Counter(static_cast<double>(sections), benchmark::Counter::kAvgIterations);
    st.counters["events_per_turn"] = benchmark::Counter(static_cast<double>(events), benchmark::Counter::kAvgIterations);
    st.counters["rows_per_turn"] = benchmark::Counter(static_cast<double>(rows), benchmark::Counter::kAvgIterations);
    st.counters["programmes"] = static_cast<double>(s.guide.listCount);
}
BENCHMARK(BM_GuideHostileTurn)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

}  // namespace
