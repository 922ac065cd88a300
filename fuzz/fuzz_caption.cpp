// The caption path on arbitrary bytes: data groups through the caption
// decoder (group A/B, management data, DRCS, macros, statement text) and
// statement bodies through the text decoder, onto the screen model and its
// text.
//
// Input layout: byte 0 chooses the mode (modulo 3):
//   0  the rest is one statement body (caption text);
//   1  the rest is a series of data groups as they come, each cut by its
//      own data_group_size (5 header bytes, data, CRC_16);
//   2  the same, with each CRC_16 made right first, so that mutated groups
//      reach the management and statement parsers.
// Byte 1 chooses the language (bit 0) and the profile (bit 1).
//
// Checked for every screen the decoder reports and at the end: the row
// count within kCaptionMaxRows, each row's length below its buffer with
// the terminator behind it, the DRCS store within kCaptionMaxDrcs, the
// formatted text whole Shift_JIS characters within the capacity (and a
// prefix of the full text when the capacity is small); and the same input
// decoded twice gives the same screens (no state outside the decoder).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/fuzz_require.h"
#include "text/caption_decoder.h"
#include "ts/crc16.h"

namespace {

bool IsLead(uint8_t b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }

void CheckText(const char* text, int32_t n, int32_t capacity) {
    FUZZ_REQUIRE(n >= 0 && n < capacity);
    FUZZ_REQUIRE(text[n] == '\0');
    const uint8_t* p = reinterpret_cast<const uint8_t*>(text);
    for (int32_t i = 0; i < n;) {
        if (IsLead(p[i])) {
            FUZZ_REQUIRE(i + 1 < n);
            i += 2;
        } else {
            FUZZ_REQUIRE(p[i] != 0);
            i += 1;
        }
    }
}

void CheckScreen(const CaptionScreen& screen, std::string& log) {
    FUZZ_REQUIRE(screen.rowCount >= 0 && screen.rowCount <= kCaptionMaxRows);
    for (int32_t i = 0; i < screen.rowCount; ++i) {
        const CaptionRow& row = screen.rows[i];
        FUZZ_REQUIRE(row.length >= 0 && row.length < kCaptionRowTextSize);
        FUZZ_REQUIRE(row.text[row.length] == '\0');
    }
    const int32_t fullCapacity = kCaptionMaxRows * (kCaptionRowTextSize + 2) + 1;
    std::vector<char> full(static_cast<size_t>(fullCapacity) + 16, '\x5A');
    const int32_t n = FormatCaptionText(screen, true, full.data(), fullCapacity);
    CheckText(full.data(), n, fullCapacity);
    for (size_t k = static_cast<size_t>(fullCapacity); k < full.size(); ++k) FUZZ_REQUIRE(full[k] == '\x5A');
    // A small buffer: a prefix, exactly that size for AddressSanitizer.
    const int32_t small = 1 + static_cast<int32_t>(screen.rowCount % 9);
    std::unique_ptr<char[]> cut(new char[static_cast<size_t>(small)]);
    const int32_t m = FormatCaptionText(screen, true, cut.get(), small);
    CheckText(cut.get(), m, small);
    FUZZ_REQUIRE(std::memcmp(cut.get(), full.data(), static_cast<size_t>(m)) == 0);
    char without[4096];
    CheckText(without, FormatCaptionText(screen, false, without, sizeof without), sizeof without);
    log.append(full.data(), static_cast<size_t>(n));
    log += '|';
}

class Checker : public CaptionSink {
public:
    std::string log;
    void OnCaptionScreen(const CaptionScreen& screen, int32_t delayMs) override {
        FUZZ_REQUIRE(delayMs >= 0);
        CheckScreen(screen, log);
        log += std::to_string(delayMs);
    }
};

std::string Run(const uint8_t* data, size_t size) {
    const int mode = data[0] % 3;
    std::unique_ptr<CaptionDecoder> d(new CaptionDecoder);
    ResetCaptionDecoder(*d, CaptionDecoderOptions{data[1] & 1, (data[1] & 2) != 0 ? CaptionProfile::kC
                                                                                     : CaptionProfile::kA});
    Checker checker;
    const uint8_t* rest = data + 2;
    const size_t length = size - 2;
    if (mode == 0) {
        DecodeCaptionStatementBody(*d, rest, static_cast<int32_t>(length), &checker);
    } else {
        std::vector<uint8_t> group;
        size_t at = 0;
        while (at < length) {
            size_t end = length;
            if (at + 5 <= length) {
                const size_t declared = at + 5 + ((static_cast<size_t>(rest[at + 3]) << 8) | rest[at + 4]) + 2;
                if (declared < end) end = declared;
            }
            group.assign(rest + at, rest + end);
            if (mode == 2 && group.size() >= 7) {
                const uint16_t crc = Crc16Ccitt(group.data(), static_cast<int32_t>(group.size() - 2));
                group[group.size() - 2] = static_cast<uint8_t>(crc >> 8);
                group[group.size() - 1] = static_cast<uint8_t>(crc);
            }
            DecodeCaptionDataGroup(*d, group.data(), static_cast<int32_t>(group.size()), &checker);
            at = end;
        }
    }
    CheckScreen(d->screen, checker.log);
    FUZZ_REQUIRE(d->drcs.count >= 0 && d->drcs.count <= kCaptionMaxDrcs);
    for (int32_t i = 0; i < d->drcs.count; ++i) {
        FUZZ_REQUIRE(d->drcs.glyphs[i].patternSize >= 0 && d->drcs.glyphs[i].patternSize <= kDrcsPatternMaxSize);
    }
    return checker.log;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2 || size > 65536) return 0;
    const std::string first = Run(data, size);
    FUZZ_REQUIRE(Run(data, size) == first);
    return 0;
}
