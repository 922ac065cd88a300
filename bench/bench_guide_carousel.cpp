// The plug-in's packet path under a BS-like EIT carousel: kestrin-gen's
// bs-like scenario (a transponder of its own three services and 27 services
// of nine other transport streams, four days of schedule each, every
// service's sections once in 10 seconds, the services spread evenly over
// them; 11 seconds of stream at 16 Mbit/s from 22:00:10, 117,021 packets),
// generated once
// in memory and handed to the plug-in in host calls of st.range(0) packets,
// the viewer on the transponder's first service.
//
//   BM_CarouselBareScan    every packet's PID read in the same host calls:
//                          the floor
//   BM_CarouselBareScanLocked  the same under a lock taken once a host call,
//                          as RoutePackets takes it whatever the guide does
//   BM_CarouselBareDispatch  the locked scan handing the packets of PID
//                          0x0012 and 0x0011 to a function that does
//                          nothing: what picking the guide's packets out of
//                          the stream costs before any follower runs
//   BM_CarouselStream      ViewerStreamData alone (the stream thread), guide
//                          window closed (0) or open (1), in the steady state
//                          (the carousel already held once). The window
//                          thread's turns (WM_GUIDE_READY) run between the
//                          host calls with the timing paused, so that the
//                          hand-over slots empty as they do in the plug-in;
//                          their wall time is the counter
//                          window_core_percent: the window thread's time per
//                          second of stream, in percent of one core
//   BM_CarouselSiFollow    the following of the service information the
//                          guide shares: the locked scan handing the packets
//                          of PID 0x0012 to AssembleEit and of PID 0x0011 to
//                          AssembleSdt (each PID's one follower for the
//                          viewer and the guide), in the steady state.
//                          guide:0 is the viewer alone: a guide without its
//                          memory block (as when it could not be had), whose
//                          keep tests refuse every section at once;
//                          guide:1 with the guide window
//                          closed, guide:2 open. guide:1 less guide:0 is
//                          what the guide adds to the stream thread.
//                          turns:1 runs the window's turns between host
//                          calls as BM_CarouselStream does; turns:0 only
//                          after each pass, so that no timing pause (a
//                          CPU-time clock read, a system call on a virtual
//                          machine) falls inside the pass
//   BM_CarouselGuideWork   the same followers on the packets of PID 0x0012
//                          and 0x0011 alone, picked out beforehand (guide 0
//                          or 1): the code without the scan around it, per
//                          packet of the whole stream
//   BM_CarouselFirstFill   the window thread alone while the carousel is
//                          received the first time (a fresh plug-in each
//                          iteration): every section new, each copied out,
//                          its CRC checked and filed; the time is for the 11
//                          seconds of stream, per_stream_second the share of
//                          one second of it
//   BM_CarouselMemory      the memory the guide holds, fixed at
//                          construction: sizeof GuideStore and PluginState
//                          as counters (bytes)
//
// The stream thread's time is the benchmark's own (CPU time, as the other
// packet-path benchmarks give it); the window thread's turns are timed apart
// with a steady clock, so neither is charged to the other. Run: build/bench/bench/bench_guide_carousel (see
// docs/performance.md).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "plugin/guide_store.h"
#include "plugin/messages.h"
#include "plugin/plugin_core.h"
#include "plugin/plugin_state.h"
#include "plugin/section_handover.h"
#include "tests/support/quiet_platform.h"
#include "tools/gen/guide_scenarios.h"
#include "ts/packet.h"
#include "tools/gen/multiplexer.h"
#include "tools/gen/scenario.h"
#include "ui/channel_buttons.h"
#include "ui/guide_view.h"
#include "ui/viewer.h"

namespace {

typedef std::chrono::steady_clock Clock;

const int32_t kChannel = 27;
const int32_t kWatchedService = 151;  // the transponder's first service

struct Carousel {
    std::vector<uint8_t> stream;
    double seconds = 0;  // of broadcast time
};

const Carousel& BsLike() {
    static const Carousel c = [] {
        Carousel out;
        std::vector<std::string> parts;
        gen::Scenario scenario;
        std::string error;
        if (!gen::NamedScenarioParts("bs-like", parts) || !gen::ParseScenario(parts[0], scenario, error)) {
            return out;  // an empty stream: the benchmarks report nothing
        }
        // From 22:00:10 rather than 21:59:58: the scenario starts just before
        // its programmes change, and a stream replayed across that change
        // would take every service's present/following back to the old
        // versions each pass, which a live stream never does (its versions
        // only go forward). The steady state is then the carousel's repeats.
        scenario.start += 12;
        gen::GenerateStream(scenario, [&out](const uint8_t* p) {
            out.stream.insert(out.stream.end(), p, p + 188);
            return true;
        });
        out.seconds = static_cast<double>(scenario.durationMs) / 1000.0;
        return out;
    }();
    return c;
}

double Since(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

// A plug-in watching the transponder's first service; the guide window
// open or not.
struct Viewer {
    QuietPlatform platform;
    std::unique_ptr<PluginState> state{new PluginState()};

    explicit Viewer(bool guideOpen) {
        InitPluginState(*state, &platform);
        state->hasWindow = true;
        PluginOnChannelChange(*state, kChannel, kWatchedService);
        if (guideOpen) GuideInitialised(*state);  // WM_INITDIALOG of the guide window
        platform.queued = 0;
    }

    // The carousel held: passes in host calls of 16 packets, the window's
    // turn after each, until a pass copies nothing (a section dropped from
    // full slots comes round in the next pass, as in the next cycle of a
    // live carousel). Returns the first pass's window time.
    double Hold(const std::vector<uint8_t>& stream) {
        double first = 0;
        Pass(stream, 16, first, nullptr);
        for (int pass = 0; pass < 20; ++pass) {
            const uint32_t copies = state->guide.pathWork.copies;
            double window = 0;
            Pass(stream, 16, window, nullptr);
            if (state->guide.pathWork.copies == copies) break;
        }
        return first;
    }

    // One pass over the stream in host calls of `packets`; adds the window
    // thread's seconds to `window`. With `timed`, its turns are left out of
    // the benchmark's time.
    void Pass(const std::vector<uint8_t>& stream, size_t packets, double& window, benchmark::State* timed) {
        const size_t chunk = packets * 188;
        for (size_t o = 0; o < stream.size(); o += chunk) {
            const size_t n = stream.size() - o < chunk ? stream.size() - o : chunk;
            ViewerStreamData(*state, stream.data() + o, static_cast<uint32_t>(n));
            bool ready = false;
            for (int i = 0; i < platform.queued; ++i) ready = ready || platform.queue[i] == WM_GUIDE_READY;
            platform.queued = 0;
            if (ready) {
                if (timed != nullptr) timed->PauseTiming();
                const Clock::time_point t1 = Clock::now();
                HandleGuideSections(*state);  // the window thread's WM_GUIDE_READY
                window += Since(t1);
                platform.queued = 0;
                if (timed != nullptr) timed->ResumeTiming();
            }
        }
    }
};

void BM_CarouselBareScan(benchmark::State& st) { bench::BareScan(st, BsLike().stream); }
BENCHMARK(BM_CarouselBareScan)->Arg(256)->Arg(16);

// Takes a packet and does nothing with it: a follower that costs nothing.
__attribute__((noinline)) void NoFollower(const uint8_t* packet) { benchmark::DoNotOptimize(packet); }

// The bare scan under the plug-in's lock, taken once a host call as
// RoutePackets takes it whatever the guide does; with `Dispatch`, the
// packets of PID 0x0012 and 0x0011 also handed to a function that does
// nothing, as BM_CarouselSiFollow hands them to the followers.
template <bool Dispatch>
void LockedScan(benchmark::State& st) {
    const std::vector<uint8_t>& mux = BsLike().stream;
    const size_t chunk = static_cast<size_t>(st.range(0)) * 188;
    std::mutex lock;
    for (auto _ : st) {
        uint32_t sum = 0;
        for (size_t o = 0; o < mux.size(); o += chunk) {
            const size_t end = o + chunk < mux.size() ? o + chunk : mux.size();
            std::lock_guard<std::mutex> guard(lock);
            for (const uint8_t* p = mux.data() + o; p + 188 <= mux.data() + end; p += 188) {
                const uint16_t pid = bench::Pid(p);
                sum += pid;
                if (Dispatch && (pid == kEitPid || pid == kSdtPid)) NoFollower(p);
            }
            benchmark::DoNotOptimize(sum);
        }
    }
    bench::SetPacketCounters(st, mux.size());
}

// The floor of the packet path without the guide.
void BM_CarouselBareScanLocked(benchmark::State& st) { LockedScan<false>(st); }
BENCHMARK(BM_CarouselBareScanLocked)->Arg(256)->Arg(16);

// What picking the guide's PIDs out of the stream costs before the guide
// does anything: a branch that goes the other way on about one packet in
// thirty, and a call.
void BM_CarouselBareDispatch(benchmark::State& st) { LockedScan<true>(st); }
BENCHMARK(BM_CarouselBareDispatch)->Arg(256)->Arg(16);

void BM_CarouselStream(benchmark::State& st) {
    const Carousel& c = BsLike();
    Viewer viewer(st.range(1) != 0);
    const double warm = viewer.Hold(c.stream);
    double window = 0;
    for (auto _ : st) viewer.Pass(c.stream, static_cast<size_t>(st.range(0)), window, &st);
    bench::SetPacketCounters(st, c.stream.size());
    const double streamSeconds = c.seconds * static_cast<double>(st.iterations());
    st.counters["window_core_percent"] = streamSeconds > 0 ? 100.0 * window / streamSeconds : 0;
    st.counters["first_pass_window_ms"] = warm * 1000.0;
}
BENCHMARK(BM_CarouselStream)
    ->ArgNames({"packets", "open"})
    ->Args({256, 0})
    ->Args({256, 1})
    ->Args({16, 0})
    ->Args({16, 1});

// The viewer of the benchmarks with its guide as `guide` says: 0 without
// its memory block, 1 closed, 2 open.
std::unique_ptr<Viewer> SiViewer(int64_t guide) {
    std::unique_ptr<Viewer> viewer(new Viewer(guide == 2));
    if (guide == 0) {
        GuideStore& g = viewer->state->guide;
        g.services = nullptr;  // the block stays owned by the store and is freed with it
        g.serviceCapacity = 0;
        ResetGuideEntries(g);
    }
    return viewer;
}

// One packet of the service information the guide shares, lock held.
void FollowSi(PluginState& s, const uint8_t* p, uint16_t pid) {
    if (pid == kEitPid) {
        AssembleEit(s, p);
    } else if (pid == kSdtPid) {
        AssembleSdt(s, p);
    }
}

void BM_CarouselSiFollow(benchmark::State& st) {
    const Carousel& c = BsLike();
    std::unique_ptr<Viewer> viewer = SiViewer(st.range(1));
    viewer->Hold(c.stream);
    double window = 0;
    PluginState& s = *viewer->state;
    const size_t chunk = static_cast<size_t>(st.range(0)) * 188;
    const std::vector<uint8_t>& mux = c.stream;
    window = 0;
    const bool turns = st.range(2) != 0;
    const GuidePathWork before = s.guide.pathWork;
    const uint32_t droppedBefore = s.guide.droppedSections;
    for (auto _ : st) {
        uint32_t sum = 0;
        for (size_t o = 0; o < mux.size(); o += chunk) {
            const size_t end = o + chunk < mux.size() ? o + chunk : mux.size();
            {
                std::lock_guard<std::mutex> guard(s.lock);
                for (const uint8_t* p = mux.data() + o; p + 188 <= mux.data() + end; p += 188) {
                    const uint16_t pid = bench::Pid(p);
                    sum += pid;
                    if (pid == kEitPid || pid == kSdtPid) FollowSi(s, p, pid);
                }
            }
            benchmark::DoNotOptimize(sum);
            // A section handed over (a new version): the window's turn, not
            // timed, so that the slots empty as in the plug-in.
            if (turns && viewer->platform.queued > 0) {
                st.PauseTiming();
                viewer->platform.queued = 0;
                const Clock::time_point t1 = Clock::now();
                HandleGuideSections(s);
                window += Since(t1);
                viewer->platform.queued = 0;
                st.ResumeTiming();
            }
        }
        if (!turns) {
            st.PauseTiming();
            const Clock::time_point t1 = Clock::now();
            for (int i = 0; i < 4 && s.guide.queue.count > 0; ++i) HandleGuideSections(s);
            window += Since(t1);
            viewer->platform.queued = 0;
            st.ResumeTiming();
        }
    }
    bench::SetPacketCounters(st, mux.size());
    // Per pass over the stream: sections whose header the guide checked,
    // those it copied (not held in that version) and those dropped.
    const double passes = static_cast<double>(st.iterations());
    st.counters["headers"] = static_cast<double>(s.guide.pathWork.headers - before.headers) / passes;
    st.counters["copies"] = static_cast<double>(s.guide.pathWork.copies - before.copies) / passes;
    st.counters["window_core_percent"] = c.seconds > 0 ? 100.0 * window / (c.seconds * passes) : 0;
    st.counters["dropped"] = static_cast<double>(s.guide.droppedSections - droppedBefore) / passes;
}
BENCHMARK(BM_CarouselSiFollow)
    ->ArgNames({"packets", "guide", "turns"})
    ->Args({256, 0, 0})
    ->Args({256, 1, 0})
    ->Args({256, 0, 1})
    ->Args({256, 1, 1})
    ->Args({256, 2, 0})
    ->Args({256, 2, 1})
    ->Args({16, 0, 0})
    ->Args({16, 1, 0})
    ->Args({16, 0, 1})
    ->Args({16, 1, 1})
    ->Args({16, 2, 0})
    ->Args({16, 2, 1});

// The followers without the scan around them: only the packets of PID
// 0x0012 and 0x0011, picked out of the stream beforehand (in their order,
// so the counters run on), under the lock, guide 0 (no memory) or 1
// (closed), steady state, the window's turns after each pass. The time is
// per pass, time_per_packet per packet of the whole stream, so that it adds
// to the bare scan's: what the code costs when the packets it reads are at
// hand, apart from the competition with the scan for the memory.
void BM_CarouselGuideWork(benchmark::State& st) {
    const Carousel& c = BsLike();
    std::unique_ptr<Viewer> viewer = SiViewer(st.range(0));
    viewer->Hold(c.stream);
    PluginState& s = *viewer->state;
    std::vector<uint8_t> siPackets;
    for (size_t o = 0; o + 188 <= c.stream.size(); o += 188) {
        const uint16_t pid = bench::Pid(c.stream.data() + o);
        if (pid == kEitPid || pid == kSdtPid) siPackets.insert(siPackets.end(), &c.stream[o], &c.stream[o] + 188);
    }
    for (auto _ : st) {
        {
            std::lock_guard<std::mutex> guard(s.lock);
            for (size_t o = 0; o + 188 <= siPackets.size(); o += 188) {
                const uint8_t* p = siPackets.data() + o;
                FollowSi(s, p, bench::Pid(p));
            }
        }
        st.PauseTiming();
        for (int i = 0; i < 4 && s.guide.queue.count > 0; ++i) HandleGuideSections(s);
        viewer->platform.queued = 0;
        st.ResumeTiming();
    }
    bench::SetPacketCounters(st, c.stream.size());
    st.counters["si_packets"] = static_cast<double>(siPackets.size() / 188);
}
BENCHMARK(BM_CarouselGuideWork)->ArgName("guide")->Arg(0)->Arg(1)->Arg(2);

void BM_CarouselFirstFill(benchmark::State& st) {
    const Carousel& c = BsLike();
    const bool open = st.range(0) != 0;
    for (auto _ : st) {
        st.PauseTiming();
        std::unique_ptr<Viewer> viewer(new Viewer(open));
        st.ResumeTiming();
        double window = 0;
        viewer->Pass(c.stream, 256, window, nullptr);
        st.SetIterationTime(window);
    }
    st.counters["per_stream_second"] =
        benchmark::Counter(c.seconds * static_cast<double>(st.iterations()),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_CarouselFirstFill)->ArgNames({"open"})->Arg(0)->Arg(1)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_CarouselMemory(benchmark::State& st) {
    for (auto _ : st) benchmark::DoNotOptimize(BsLike().stream.size());
    st.counters["guide_store_bytes"] = static_cast<double>(sizeof(GuideStore));
    st.counters["plugin_state_bytes"] = static_cast<double>(sizeof(PluginState));
    st.counters["carousel_stream_bytes"] = static_cast<double>(BsLike().stream.size());
}
BENCHMARK(BM_CarouselMemory)->Iterations(1);

}  // namespace
