// Caption decoding on the real caption streams of tests/data/real/captions:
//   BM_CaptionStream            every data group of a file through the
//                               caption decoder (CRC_16, groups, DRCS, text,
//                               screen), as the plug-in and kestrin-info run it;
//   BM_CaptionBodies            only the statement bodies, each decoded onto
//                               a fresh screen;
//   BM_CaptionBodiesLibAribb24  the same bodies through Debian's libaribb24
//                               (arib_decode_buffer, caption profile A);
//   BM_CaptionPacketPath        the file wrapped in PES and TS packets: PES
//                               reassembly and decoding, against
//   BM_BareScan                 the same packets only tested for their PID.
// Bytes per second count the caption bytes (data groups or bodies).
#include <cstddef>
#include <ctime>

extern "C" {
#include <aribb24/aribb24.h>
#include <aribb24/decoder.h>
}

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "text/caption_decoder.h"
#include "tools/streamkit/caption_builder.h"
#include "ts/packet.h"
#include "ts/pes_assembler.h"

namespace {

typedef std::vector<uint8_t> Bytes;

const char* const kFiles[] = {"samurai_flamenco_13.es", "pokemon-2023.es", "toriko_subs.es"};
const uint16_t kCaptionPid = 0x0130;

Bytes ReadFile(const std::string& name) {
    Bytes bytes;
    std::FILE* f = std::fopen((std::string(KESTRIN_REALDATA_DIR) + "/captions/" + name).c_str(), "rb");
    if (f == nullptr) return bytes;
    uint8_t chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) bytes.insert(bytes.end(), chunk, chunk + n);
    std::fclose(f);
    return bytes;
}

struct Caption {
    std::vector<Bytes> payloads;  // PES payloads, one data group each
    std::vector<Bytes> bodies;    // statement bodies of the first language
    Bytes packets;                // the payloads in PES and TS packets
    size_t payloadBytes = 0;
    size_t bodyBytes = 0;
};

const Caption& Load(int64_t which) {
    static std::vector<std::unique_ptr<Caption>> cache(3);
    std::unique_ptr<Caption>& c = cache[static_cast<size_t>(which)];
    if (c) return *c;
    c.reset(new Caption);
    const Bytes file = ReadFile(kFiles[which]);
    build::StreamBuilder builder;
    uint64_t pts = 0;
    for (const Bytes& payload : build::SplitCaptionPayloads(file)) {
        c->payloads.push_back(payload);
        c->payloadBytes += payload.size();
        const size_t group = 3 + (payload[2] & 0x0F);
        DataGroup g;
        CaptionStatement s;
        if (ParseDataGroup(&payload[group], static_cast<int32_t>(payload.size() - group), &g) == DataGroupStatus::kOk &&
            g.language == 1 && ParseCaptionStatement(g.data, g.size, &s)) {
            int32_t offset = 0;
            DataUnit unit;
            while (NextDataUnit(s.dataUnits, s.dataUnitsSize, &offset, &unit)) {
                if (unit.parameter != kDataUnitStatementBody) continue;
                c->bodies.push_back(Bytes(unit.data, unit.data + unit.size));
                c->bodyBytes += static_cast<size_t>(unit.size);
            }
        }
        pts += 45000;
        for (const Bytes& p : build::PesPackets(builder, kCaptionPid, build::PesPacketWithPts(pts, payload))) {
            c->packets.insert(c->packets.end(), p.begin(), p.end());
        }
    }
    return *c;
}

class CountingSink : public CaptionSink {
public:
    int64_t screens = 0;
    void OnCaptionScreen(const CaptionScreen& screen, int32_t) override {
        char text[4096];
        screens += FormatCaptionText(screen, false, text, sizeof text) > 0 ? 1 : 0;
    }
};

void BM_CaptionStream(benchmark::State& state) {
    const Caption& c = Load(state.range(0));
    std::unique_ptr<CaptionDecoder> d(new CaptionDecoder);
    CountingSink sink;
    for (auto _ : state) {
        ResetCaptionDecoder(*d, CaptionDecoderOptions{0, CaptionProfile::kA});
        for (const Bytes& p : c.payloads) {
            DecodeCaptionPesPayload(*d, p.data(), static_cast<int32_t>(p.size()), &sink);
        }
        benchmark::DoNotOptimize(sink.screens);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(c.payloadBytes));
    state.SetLabel(kFiles[state.range(0)]);
}

void BM_CaptionBodies(benchmark::State& state) {
    const Caption& c = Load(state.range(0));
    std::unique_ptr<CaptionDecoder> d(new CaptionDecoder);
    ResetCaptionDecoder(*d, CaptionDecoderOptions{0, CaptionProfile::kA});
    char text[4096];
    for (auto _ : state) {
        for (const Bytes& b : c.bodies) {
            ClearCaptionScreen(d->screen);
            DecodeCaptionStatementBody(*d, b.data(), static_cast<int32_t>(b.size()), nullptr);
            benchmark::DoNotOptimize(FormatCaptionText(d->screen, true, text, sizeof text));
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(c.bodyBytes));
    state.SetLabel(kFiles[state.range(0)]);
}

void BM_CaptionBodiesLibAribb24(benchmark::State& state) {
    const Caption& c = Load(state.range(0));
    arib_instance_t* instance = arib_instance_new(nullptr);
    arib_decoder_t* decoder = arib_get_decoder(instance);
    std::vector<char> out(65536);
    for (auto _ : state) {
        for (const Bytes& b : c.bodies) {
            arib_initialize_decoder_a_profile(decoder);
            benchmark::DoNotOptimize(arib_decode_buffer(decoder, b.data(), b.size(), out.data(), out.size()));
            arib_finalize_decoder(decoder);
        }
    }
    arib_instance_destroy(instance);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(c.bodyBytes));
    state.SetLabel(kFiles[state.range(0)]);
}

void BM_CaptionPacketPath(benchmark::State& state) {
    const Caption& c = Load(state.range(0));
    std::unique_ptr<PesAssembler> a(new PesAssembler);
    std::unique_ptr<CaptionDecoder> d(new CaptionDecoder);
    CountingSink sink;
    for (auto _ : state) {
        ResetPesAssembler(*a, kCaptionPid);
        ResetCaptionDecoder(*d, CaptionDecoderOptions{0, CaptionProfile::kA});
        for (size_t at = 0; at + kTsPacketSize <= c.packets.size(); at += kTsPacketSize) {
            if (AssemblePes(*a, &c.packets[at]) != PesResult::kComplete) continue;
            PesPacket pes;
            if (ParsePesPacket(a->buffer, a->packetSize, &pes)) {
                DecodeCaptionPesPayload(*d, pes.payload, pes.payloadSize, &sink);
            }
        }
        benchmark::DoNotOptimize(sink.screens);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(c.packets.size()));
    state.SetLabel(kFiles[state.range(0)]);
}

void BM_BareScan(benchmark::State& state) {
    const Caption& c = Load(state.range(0));
    for (auto _ : state) {
        int64_t hits = 0;
        for (size_t at = 0; at + kTsPacketSize <= c.packets.size(); at += kTsPacketSize) {
            hits += PacketPid(&c.packets[at]) == kCaptionPid ? 1 : 0;
        }
        benchmark::DoNotOptimize(hits);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(c.packets.size()));
    state.SetLabel(kFiles[state.range(0)]);
}

}  // namespace

BENCHMARK(BM_CaptionStream)->DenseRange(0, 2);
BENCHMARK(BM_CaptionBodies)->DenseRange(0, 2);
BENCHMARK(BM_CaptionBodiesLibAribb24)->DenseRange(0, 2);
BENCHMARK(BM_CaptionPacketPath)->DenseRange(0, 2);
BENCHMARK(BM_BareScan)->DenseRange(0, 2);
