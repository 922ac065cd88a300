// The two threads against a slow disk: how long one thread is held up by the
// other's file call. Measured, never asserted (docs/performance.md).
//
//   BM_StreamDataWhileARecordingStarts  the host's stream thread feeds
//       256-packet buffers at about the pace of a tuner (one per
//       millisecond) while the window's thread starts a recording whose
//       CreateFileA takes 200 ms (a sleeping or network disk) and stops it
//       again; longest_call_ms is the longest OnStreamData call seen
//   BM_StopWhileAWriteStalls  the stream thread records, and one WriteFile
//       takes 200 ms (a USB disk spinning up); the window's thread presses
//       stop meanwhile; press_ms is how long the press took
//
// Each iteration is one start and stop; the platform allocates nothing on
// the measured paths and only counts.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "plugin/plugin_core.h"
#include "plugin/plugin_state.h"
#include "tests/support/quiet_platform.h"
#include "tools/streamkit/test_multiplex.h"
#include "ui/channel_buttons.h"
#include "ui/resource.h"
#include "ui/viewer.h"

namespace {

typedef std::chrono::steady_clock Clock;
const std::chrono::milliseconds kSlowCall(200);

double Milliseconds(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// QuietPlatform made safe for two threads (its counters and queue are not),
// with a creation or one write that takes kSlowCall.
class SlowDisk : public QuietPlatform {
public:
    bool slowCreate = false;
    std::atomic<bool> stallNextWrite{false};
    std::atomic<bool> writeStalling{false};

    void SetControlText(int32_t, const char*) override {}
    void SetWindowTitle(const char*) override {}
    void PostToWindow(uint32_t) override {}
    FileHandle CreateRecordingFile(const char*) override {
        if (slowCreate) std::this_thread::sleep_for(kSlowCall);
        return 7;
    }
    bool WriteFile(FileHandle, const uint8_t*, uint32_t) override {
        if (stallNextWrite.exchange(false)) {
            writeStalling = true;
            std::this_thread::sleep_for(kSlowCall);
            writeStalling = false;
        }
        return true;
    }
    void CloseFile(FileHandle) override {}
};

const std::vector<uint8_t>& Multiplex() {
    static const std::vector<uint8_t> mux = [] {
        build::MultiplexOptions o;
        o.cycles = 20;
        return build::BuildTestMultiplex(o);
    }();
    return mux;
}

struct Plugin {
    SlowDisk platform;
    std::unique_ptr<PluginState> state{new PluginState};
    Plugin() {
        InitPluginState(*state, &platform);
        state->hasWindow = true;
        LoadSettingsBeforeWindow(*state);
        PluginOnChannelChange(*state, 27, build::kMuxOneSegService);
        // One pass so that the programme map is known and packets are written.
        Feed(Multiplex().size());
    }
    // Feeds `bytes` of the multiplex in 256-packet buffers; returns the
    // longest call.
    Clock::duration Feed(size_t bytes, const std::atomic<bool>* until = nullptr, bool paced = false) {
        const std::vector<uint8_t>& mux = Multiplex();
        const size_t chunk = 256 * 188;
        Clock::duration longest(0);
        size_t fed = 0;
        for (size_t o = 0; until != nullptr ? !until->load() : fed < bytes; o = (o + chunk) % mux.size()) {
            const size_t n = std::min(chunk, mux.size() - o);
            const Clock::time_point t0 = Clock::now();
            ViewerStreamData(*state, mux.data() + o, static_cast<uint32_t>(n));
            longest = std::max(longest, Clock::now() - t0);
            fed += n;
            if (paced) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return longest;
    }
};

void BM_StreamDataWhileARecordingStarts(benchmark::State& st) {
    Plugin plugin;
    plugin.platform.slowCreate = true;
    double longest = 0;
    for (auto _ : st) {
        std::atomic<bool> done(false);
        Clock::duration streamLongest(0);
        std::thread stream([&] { streamLongest = plugin.Feed(0, &done, true); });
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ViewerCommand(*plugin.state, IDC_ONESEG_RECORD);  // start: 200 ms to create
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ViewerCommand(*plugin.state, IDC_ONESEG_RECORD);  // stop
        done = true;
        stream.join();
        longest = std::max(longest, Milliseconds(streamLongest));
    }
    st.counters["longest_call_ms"] = longest;
}
BENCHMARK(BM_StreamDataWhileARecordingStarts)->Iterations(5)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_StopWhileAWriteStalls(benchmark::State& st) {
    Plugin plugin;
    double longest = 0;
    for (auto _ : st) {
        ViewerCommand(*plugin.state, IDC_ONESEG_RECORD);  // start
        plugin.platform.stallNextWrite = true;
        std::atomic<bool> done(false);
        std::thread stream([&] { plugin.Feed(0, &done, true); });
        while (!plugin.platform.writeStalling) std::this_thread::yield();
        const Clock::time_point t0 = Clock::now();
        ViewerCommand(*plugin.state, IDC_ONESEG_RECORD);  // stop
        longest = std::max(longest, Milliseconds(Clock::now() - t0));
        done = true;
        stream.join();
    }
    st.counters["press_ms"] = longest;
}
BENCHMARK(BM_StopWhileAWriteStalls)->Iterations(5)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
