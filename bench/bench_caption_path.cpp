// The packet path with captions, against the bare scan, over the routing
// benchmark's multiplex (BuildTestMultiplex: 20 cycles of 1,500 packets,
// two seconds at 15,000 packets/s) whose one-segment PMT names a caption
// stream (stream_type 0x06, component tag 0x87) and which carries one real
// caption PES (toriko_subs.es, in order) per cycle in place of full-segment
// packets: ten a second, several times a real stream's rate.
//
//   BM_CaptionBareScan     reads every packet's PID and nothing else: the floor
//   BM_CaptionRouteOff     RoutePackets with the caption view closed: the
//                          selection (PAT, PMTs) runs, nothing is handed over
//   BM_CaptionRouteOn      the view open: the caption packets are copied into
//                          the mailbox; the window's take (a copy) follows
//                          every host buffer, as the posted message would
//   BM_CaptionRouteAndRead the view open and every WM_CAPTION_READY handled:
//                          PES reassembly, data groups, decoding, the store
//                          and the view's texts
//
// The argument is the number of packets the host hands over per call.
// Run: build/bench/bench/bench_caption_path (see docs/performance.md).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <memory>
#include <vector>

#include "bench/bench_support.h"
#include "plugin/caption_handover.h"
#include "plugin/plugin_core.h"
#include "plugin/plugin_state.h"
#include "tests/support/quiet_platform.h"
#include "tools/streamkit/caption_builder.h"
#include "tools/streamkit/stream_builder.h"
#include "tools/streamkit/test_multiplex.h"
#include "ui/channel_buttons.h"
#include "ui/resource.h"
#include "ui/viewer.h"

namespace {

const uint16_t kCaptionPid = 0x0187;
const int kPacketsPerCycle = 1500;

// A file of tests/data/real; the benchmark stops with a message without it.
build::Bytes ReadRealFile(const char* name) {
    const std::string path = std::string(KESTRIN_REALDATA_DIR) + "/" + name;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", path.c_str());
        std::exit(2);
    }
    return build::Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<uint8_t> MakeCaptionMultiplex() {
    build::MultiplexOptions o;
    o.cycles = 20;
    o.packetsPerCycle = kPacketsPerCycle;
    std::vector<uint8_t> mux = build::BuildTestMultiplex(o);
    build::StreamBuilder sb;
    const build::Bytes pmt = sb.Stream(
        0x1FC8, {build::PmtSection(build::kMuxOneSegService, build::kMuxOneSegPcrPid, build::Bytes(),
                                   {{0x1B, build::kMuxOneSegVideoPid, build::Bytes()},
                                    {0x0F, build::kMuxOneSegAudioPid, build::Bytes()},
                                    {0x06, kCaptionPid, build::Descriptor(0x52, {0x87})}})});
    const std::vector<build::Bytes> payloads = build::SplitCaptionPayloads(ReadRealFile("captions/toriko_subs.es"));
    size_t next = 0;
    uint64_t pts = 0;
    std::vector<build::Bytes> pending;
    for (size_t at = 0; at + 188 <= mux.size(); at += 188) {
        uint8_t* p = mux.data() + at;
        if (bench::Pid(p) == 0x1FC8) {
            // The PMT with the caption stream, the packet's own header kept.
            std::copy(pmt.begin() + 4, pmt.begin() + 188, p + 4);
            continue;
        }
        if ((at / 188) % kPacketsPerCycle == 0 && next < payloads.size()) {
            pts += 9000;
            pending = build::PesPackets(sb, kCaptionPid, build::PesPacketWithPts(pts, payloads[next++]));
            std::reverse(pending.begin(), pending.end());
        }
        if (!pending.empty() && bench::Pid(p) == build::kMuxFullSegVideoPid) {
            std::copy(pending.back().begin(), pending.back().end(), p);
            pending.pop_back();
        }
    }
    return mux;
}

const std::vector<uint8_t>& Multiplex() {
    static const std::vector<uint8_t> mux = MakeCaptionMultiplex();
    return mux;
}

void BM_CaptionBareScan(benchmark::State& st) { bench::BareScan(st, Multiplex()); }
BENCHMARK(BM_CaptionBareScan)->Arg(256)->Arg(16);

enum class Mode { kOff, kHandOver, kRead };

void RunPlugin(benchmark::State& st, Mode mode) {
    QuietPlatform platform;
    std::unique_ptr<PluginState> owner(new PluginState);
    PluginState& s = *owner;
    InitPluginState(s, &platform);
    s.hasWindow = true;
    PluginOnChannelChange(s, 27, build::kMuxOneSegService);
    if (mode != Mode::kOff) ViewerCommand(s, IDM_VIEWER_CAPTIONS);
    std::unique_ptr<CaptionPacketBatch> batch(new CaptionPacketBatch);
    const std::vector<uint8_t>& mux = Multiplex();
    const size_t chunk = static_cast<size_t>(st.range(0)) * 188;
    int64_t handedOver = 0;
    for (auto _ : st) {
        for (size_t o = 0; o < mux.size(); o += chunk) {
            const size_t n = mux.size() - o < chunk ? mux.size() - o : chunk;
            ViewerStreamData(s, mux.data() + o, static_cast<uint32_t>(n));
            if (mode == Mode::kRead) {
                platform.Pump(s);
            } else {
                platform.queued = 0;
                if (mode == Mode::kHandOver) {
                    TakeCaptionPackets(s, *batch);
                    handedOver += batch->count;
                }
            }
        }
    }
    bench::SetPacketCounters(st, mux.size());
    st.counters["caption_packets"] = benchmark::Counter(static_cast<double>(handedOver), benchmark::Counter::kAvgIterations);
    st.counters["caption_texts"] =
        benchmark::Counter(static_cast<double>(platform.captionTexts), benchmark::Counter::kAvgIterations);
}

void BM_CaptionRouteOff(benchmark::State& st) { RunPlugin(st, Mode::kOff); }
void BM_CaptionRouteOn(benchmark::State& st) { RunPlugin(st, Mode::kHandOver); }
void BM_CaptionRouteAndRead(benchmark::State& st) { RunPlugin(st, Mode::kRead); }
BENCHMARK(BM_CaptionRouteOff)->Arg(256)->Arg(16);
BENCHMARK(BM_CaptionRouteOn)->Arg(256)->Arg(16);
BENCHMARK(BM_CaptionRouteAndRead)->Arg(256);

}  // namespace
