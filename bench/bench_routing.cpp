// Speed of the packet path, side by side with its baselines, in one run over
// one in-memory multiplex (BuildTestMultiplex: 20 cycles of 1,500 packets,
// two seconds of a terrestrial channel at 15,000 packets/s, new EIT and SDT
// versions every cycle so that nothing is skipped by a change key):
//
//   BM_PlainPidLoop          reads every packet's PID and nothing else: the floor
//   BM_Route                 RoutePackets, not recording, both EIT assemblers,
//                            SDT, PMT and TOT active
//   BM_RouteAndHandle        the same plus the window handlers (ARIB decoding,
//                            event text, caption) for every posted message
//   BM_RouteRecording*       recording the one-segment service to a real file
//                            with one write(2) per packet, or through stdio;
//                            time_per_recorded is per packet written
//   BM_Dvbpsi                libdvbpsi decoding PAT, the one-segment PMT, SDT,
//                            EIT p/f of the one-segment service and TOT from
//                            the same buffer
//
// The first argument is the number of packets the host hands over per call;
// the second picks the buffer (see Multiplex).
// items_per_second counts packets of the multiplex; bytes_per_second its
// bytes. Run: build/bench/bench/bench_routing (see docs/performance.md).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "bench/bench_support.h"
#include "plugin/plugin_core.h"
#include "plugin/plugin_state.h"
#include "plugin/router.h"
#include "tests/support/quiet_platform.h"
#include "tools/streamkit/test_multiplex.h"
#include "ui/channel_buttons.h"
#include "ui/resource.h"
#include "ui/viewer.h"

extern "C" {
#include <dvbpsi/dvbpsi.h>
#include <dvbpsi/demux.h>
#include <dvbpsi/descriptor.h>
#include <dvbpsi/eit.h>
#include <dvbpsi/pat.h>
#include <dvbpsi/pmt.h>
#include <dvbpsi/psi.h>
#include <dvbpsi/sdt.h>
#include <dvbpsi/tot.h>
}

namespace {

// The benchmarks' second argument picks the buffer: 0 the whole multiplex,
// 1 only its service-information and one-segment packets (the full-segment
// fill left out), where the per-packet floor no longer hides the work.
std::vector<uint8_t> MakeMultiplex(bool siOnly) {
    build::MultiplexOptions o;
    o.cycles = 20;
    o.followingFirst = true;  // the order in which libdvbpsi completes EIT p/f
    if (siOnly) o.packetsPerCycle = 0;
    return build::BuildTestMultiplex(o);
}

const std::vector<uint8_t>& Multiplex(int64_t kind = 0) {
    static const std::vector<uint8_t> full = MakeMultiplex(false);
    static const std::vector<uint8_t> si = MakeMultiplex(true);
    return kind == 1 ? si : full;
}

// --- The floor ------------------------------------------------------------------

void BM_PlainPidLoop(benchmark::State& st) { bench::BareScan(st, Multiplex(st.range(1))); }
BENCHMARK(BM_PlainPidLoop)->Args({256, 0})->Args({16, 0})->Args({256, 1});

// --- Kestrin ----------------------------------------------------------------------

// The plug-in as the host runs it: one-segment service tuned, following view
// shown so that the following section is handed over too.
struct Plugin {
    std::unique_ptr<PluginState> state;
    QuietPlatform* platform;

    explicit Plugin(QuietPlatform* p) : state(new PluginState), platform(p) {
        InitPluginState(*state, p);
        state->hasWindow = true;
        PluginOnChannelChange(*state, 27, build::kMuxOneSegService);
        ViewerCommand(*state, IDC_PRESENT_FOLLOWING);
    }
};

void RouteAll(Plugin& plugin, const std::vector<uint8_t>& mux, size_t chunk, bool handle) {
    for (size_t o = 0; o < mux.size(); o += chunk) {
        const size_t n = mux.size() - o < chunk ? mux.size() - o : chunk;
        ViewerStreamData(*plugin.state, mux.data() + o, static_cast<uint32_t>(n));
        if (handle) {
            plugin.platform->Pump(*plugin.state);
        } else {
            plugin.platform->queued = 0;
        }
    }
}

void BM_Route(benchmark::State& st) {
    QuietPlatform platform;
    Plugin plugin(&platform);
    const std::vector<uint8_t>& mux = Multiplex(st.range(1));
    for (auto _ : st) RouteAll(plugin, mux, static_cast<size_t>(st.range(0)) * 188, false);
    bench::SetPacketCounters(st, mux.size());
}
BENCHMARK(BM_Route)->Args({256, 0})->Args({16, 0})->Args({256, 1});

void BM_RouteAndHandle(benchmark::State& st) {
    QuietPlatform platform;
    Plugin plugin(&platform);
    const std::vector<uint8_t>& mux = Multiplex(st.range(1));
    for (auto _ : st) RouteAll(plugin, mux, static_cast<size_t>(st.range(0)) * 188, true);
    bench::SetPacketCounters(st, mux.size());
    st.counters["messages"] = benchmark::Counter(
        static_cast<double>(platform.presentHandled + platform.followingHandled + platform.sdtHandled),
        benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_RouteAndHandle)->Args({256, 0})->Args({256, 1});

// Writes the recording to one real file, whatever path the recorder built
// (its default directory is a Windows one).
class FilePlatform : public QuietPlatform {
public:
    explicit FilePlatform(bool stdio) : stdio_(stdio) {
        const char* dir = std::getenv("TMPDIR");
        path_ = std::string(dir && *dir ? dir : "/tmp") + "/kestrin_bench_recording.ts";
    }
    ~FilePlatform() override { std::remove(path_.c_str()); }

    FileHandle CreateRecordingFile(const char*) override {
        ++creates;
        if (stdio_) {
            file_ = std::fopen(path_.c_str(), "wb");
            return file_ ? 1 : kInvalidFileHandle;
        }
        fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        return fd_ < 0 ? kInvalidFileHandle : 1;
    }
    bool WriteFile(FileHandle, const uint8_t* data, uint32_t size) override {
        bytesWritten += size;
        if (stdio_) return std::fwrite(data, 1, size, file_) == size;
        return ::write(fd_, data, size) == static_cast<ssize_t>(size);
    }
    void CloseFile(FileHandle) override {
        if (stdio_) {
            std::fclose(file_);
            file_ = nullptr;
        } else {
            ::close(fd_);
            fd_ = -1;
        }
    }

private:
    bool stdio_;
    std::string path_;
    FILE* file_ = nullptr;
    int fd_ = -1;
};

void RouteRecording(benchmark::State& st, bool stdio) {
    FilePlatform platform(stdio);
    Plugin plugin(&platform);
    const std::vector<uint8_t>& mux = Multiplex();
    const size_t chunk = static_cast<size_t>(st.range(0)) * 188;
    for (auto _ : st) {
        st.PauseTiming();
        ViewerCommand(*plugin.state, IDC_ONESEG_RECORD);  // creates the file afresh
        st.ResumeTiming();
        RouteAll(plugin, mux, chunk, false);
        st.PauseTiming();
        ViewerCommand(*plugin.state, IDC_ONESEG_RECORD);  // closes it
        st.ResumeTiming();
    }
    bench::SetPacketCounters(st, mux.size());
    const double recorded = static_cast<double>(platform.bytesWritten / 188);
    st.counters["recorded_per_iteration"] =
        benchmark::Counter(recorded, benchmark::Counter::kAvgIterations);
    st.counters["time_per_recorded"] = benchmark::Counter(
        recorded, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_RouteRecordingWrite(benchmark::State& st) { RouteRecording(st, false); }
void BM_RouteRecordingStdio(benchmark::State& st) { RouteRecording(st, true); }
BENCHMARK(BM_RouteRecordingWrite)->Arg(256);
BENCHMARK(BM_RouteRecordingStdio)->Arg(256);

// --- libdvbpsi ----------------------------------------------------------------------

struct Dvbpsi {
    dvbpsi_t* pat = nullptr;
    dvbpsi_t* pmt = nullptr;
    dvbpsi_t* sdt = nullptr;
    dvbpsi_t* eit = nullptr;
    dvbpsi_t* tot = nullptr;
    // Tables delivered, by kind: PAT, PMT, SDT, EIT, TOT.
    long tables[5] = {0, 0, 0, 0, 0};

    static void OnPat(void* self, dvbpsi_pat_t* t) {
        ++static_cast<Dvbpsi*>(self)->tables[0];
        dvbpsi_pat_delete(t);
    }
    static void OnPmt(void* self, dvbpsi_pmt_t* t) {
        ++static_cast<Dvbpsi*>(self)->tables[1];
        dvbpsi_pmt_delete(t);
    }
    static void OnSdt(void* self, dvbpsi_sdt_t* t) {
        ++static_cast<Dvbpsi*>(self)->tables[2];
        dvbpsi_sdt_delete(t);
    }
    static void OnEit(void* self, dvbpsi_eit_t* t) {
        ++static_cast<Dvbpsi*>(self)->tables[3];
        dvbpsi_eit_delete(t);
    }
    static void OnTot(void* self, dvbpsi_tot_t* t) {
        ++static_cast<Dvbpsi*>(self)->tables[4];
        dvbpsi_tot_delete(t);
    }
    // Subtables are attached as they first appear, as a libdvbpsi
    // application does: the SDT actual, EIT p/f of the one service, TOT.
    static void OnNewSubtable(dvbpsi_t* h, uint8_t tableId, uint16_t extension, void* self) {
        if (tableId == 0x42) dvbpsi_sdt_attach(h, tableId, extension, OnSdt, self);
        if (tableId == 0x4E && extension == build::kMuxOneSegService) {
            dvbpsi_eit_attach(h, tableId, extension, OnEit, self);
        }
        if (tableId == 0x73) dvbpsi_tot_attach(h, tableId, extension, OnTot, self);
    }

    Dvbpsi() {
        pat = dvbpsi_new(nullptr, DVBPSI_MSG_NONE);
        pmt = dvbpsi_new(nullptr, DVBPSI_MSG_NONE);
        sdt = dvbpsi_new(nullptr, DVBPSI_MSG_NONE);
        eit = dvbpsi_new(nullptr, DVBPSI_MSG_NONE);
        tot = dvbpsi_new(nullptr, DVBPSI_MSG_NONE);
        dvbpsi_pat_attach(pat, OnPat, this);
        dvbpsi_pmt_attach(pmt, build::kMuxOneSegService, OnPmt, this);
        dvbpsi_AttachDemux(sdt, OnNewSubtable, this);
        dvbpsi_AttachDemux(eit, OnNewSubtable, this);
        dvbpsi_AttachDemux(tot, OnNewSubtable, this);
    }
    ~Dvbpsi() {
        dvbpsi_pat_detach(pat);
        dvbpsi_pmt_detach(pmt);
        dvbpsi_DetachDemux(sdt);
        dvbpsi_DetachDemux(eit);
        dvbpsi_DetachDemux(tot);
        dvbpsi_t* all[] = {pat, pmt, sdt, eit, tot};
        for (dvbpsi_t* h : all) dvbpsi_delete(h);
    }

    void Push(uint8_t* p) {
        switch (((p[1] & 0x1F) << 8) | p[2]) {
            case 0x0000: dvbpsi_packet_push(pat, p); break;
            case 0x1FC8: dvbpsi_packet_push(pmt, p); break;
            case 0x0011: dvbpsi_packet_push(sdt, p); break;
            case 0x0012: dvbpsi_packet_push(eit, p); break;
            case 0x0014: dvbpsi_packet_push(tot, p); break;
            default: break;
        }
    }
};

void BM_Dvbpsi(benchmark::State& st) {
    // libdvbpsi takes non-const packets; it does not change them.
    std::vector<uint8_t> mux = Multiplex(st.range(1));
    Dvbpsi peer;
    const size_t chunk = static_cast<size_t>(st.range(0)) * 188;
    for (auto _ : st) {
        for (size_t o = 0; o < mux.size(); o += chunk) {
            const size_t end = o + chunk < mux.size() ? o + chunk : mux.size();
            for (size_t q = o; q + 188 <= end; q += 188) peer.Push(&mux[q]);
        }
    }
    bench::SetPacketCounters(st, mux.size());
    const char* kinds[5] = {"pat", "pmt", "sdt", "eit", "tot"};
    for (int i = 0; i < 5; ++i) {
        st.counters[kinds[i]] = benchmark::Counter(static_cast<double>(peer.tables[i]),
                                                   benchmark::Counter::kAvgIterations);
    }
}
BENCHMARK(BM_Dvbpsi)->Args({256, 0})->Args({256, 1});

}  // namespace
