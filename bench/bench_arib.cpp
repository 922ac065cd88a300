// Decode throughput of DecodeAribText on programme-information texts (an
// event title, a service name, a long event description with line breaks),
// with Debian's libaribb24 decoding the same bytes in the same run.
extern "C" {
#include <aribb24/aribb24.h>
#include <aribb24/decoder.h>
}

#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tools/streamkit/arib_encoder.h"
#include "text/arib_decoder.h"

namespace {

// A title as broadcast (katakana by LS3R, hiragana through GR, kanji through
// GL, additional symbol 【字】 at the end).
const std::vector<uint8_t> kRealTitle = {0x1B, 0x7C, 0xA2, 0xCB, 0xE1, 0x21, 0x21, 0x1B, 0x7D, 0xAA,
                                         0xB8, 0xE3, 0xEB, 0x34, 0x5D, 0xFB, 0x31, 0x73, 0xA4, 0x4C,
                                         0x73, 0x42, 0x2B, 0xFC, 0x1B, 0x24, 0x3B, 0x7A, 0x56};

std::vector<uint8_t> ServiceName() { return EncodeAribFromUtf8(u8"ＮＨＫ総合１・東京"); }

std::vector<uint8_t> Description() {
    return EncodeAribFromUtf8(
        u8"全国の最新ニュースと気象情報をお伝えします。\n"
        u8"【出演】キャスター…山田太郎，気象予報士…鈴木花子\n"
        u8"きょうの特集は「ＡＩと暮らしの未来」。"
        u8"身近になった人工知能は私たちの生活をどう変えるのか。"
        u8"専門家へのインタビューと街の声を交えて、最新の動きを詳しく伝える。"
        u8"放送時間は午後７時から７時３０分まで、全国の天気は７時２５分ごろ。");
}

const std::vector<uint8_t>& Sample(int64_t which) {
    static const std::vector<uint8_t> service = ServiceName();
    static const std::vector<uint8_t> description = Description();
    switch (which) {
        case 0: return kRealTitle;
        case 1: return service;
        default: return description;
    }
}

const char* SampleName(int64_t which) {
    static const char* const kNames[] = {"title", "service_name", "description"};
    return kNames[which < 0 || which > 2 ? 2 : which];
}

void BM_DecodeAribText(benchmark::State& state) {
    const std::vector<uint8_t>& source = Sample(state.range(0));
    std::vector<char> destination(2 * source.size() + 1);
    for (auto _ : state) {
        const int32_t n = DecodeAribText(destination.data(), source.data(), static_cast<int32_t>(source.size()),
                                         static_cast<int32_t>(destination.size()));
        benchmark::DoNotOptimize(n);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(source.size()));
    state.SetLabel(SampleName(state.range(0)));
}

void BM_Libaribb24(benchmark::State& state) {
    const std::vector<uint8_t>& source = Sample(state.range(0));
    std::vector<char> destination(4 * source.size() + 16);
    arib_instance_t* instance = arib_instance_new(nullptr);
    arib_decoder_t* decoder = arib_get_decoder(instance);
    for (auto _ : state) {
        arib_initialize_decoder(decoder);
        const size_t n =
            arib_decode_buffer(decoder, source.data(), source.size(), destination.data(), destination.size());
        arib_finalize_decoder(decoder);
        benchmark::DoNotOptimize(n);
        benchmark::ClobberMemory();
    }
    arib_instance_destroy(instance);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(source.size()));
    state.SetLabel(SampleName(state.range(0)));
}

}  // namespace

BENCHMARK(BM_DecodeAribText)->DenseRange(0, 2);
BENCHMARK(BM_Libaribb24)->DenseRange(0, 2);
