// Differential test of the caption text decoder against Debian's
// libaribb24, on every statement of the real caption streams in
// tests/data/real/captions.
//
// For each caption statement data group of the first language (0x01 or
// 0x21; both groups, as libaribb24 knows nothing of the switch), each
// statement body data unit is decoded on its own by both: ours onto a fresh
// screen (its rows' text in the order written, ruby included: libaribb24
// keeps small-size text too), libaribb24 with arib_decode_buffer in its
// caption profile A. The texts of every statement must agree after this
// normalisation, which covers where the conventions differ:
//
//  1. Middle size (MSZ): we write alphanumerics and the symbols of Kanji row
//     0x21 as ASCII (half width), as the event texts do; libaribb24 keeps
//     the full-width forms (（）！？). Full-width ASCII is read as ASCII.
//  2. Spaces: in middle size we write an ASCII space, libaribb24 U+3000.
//     Spaces are not compared (neither is the line structure: libaribb24's
//     text has no line breaks).
//  3. Additional symbols (➡, ♬ and the other marks of rows 0x7A-0x7E): we
//     write the code page 932 user-defined characters a receiver's font
//     draws (Private Use Area in Unicode), libaribb24 Unicode symbols. Any
//     character outside code page 932 on either side reads as '?'.
//  4. Code page 932 maps six JIS X 0208 cells to other Unicode characters
//     than JIS X 0208 does (～ for 〜 and the like); ours are read as JIS's.
//
// Not compared here: libaribb24's own data group parser (arib_parse_pes)
// drops a data group whose data_group_version equals the previous one's;
// in these broadcasts every data group has version 0, so it would show
// only a handful of the statements. Our decoder treats versions as a
// repeat only for caption management data (see the group tests).
#include <cstddef>
#include <ctime>

extern "C" {
#include <aribb24/aribb24.h>
#include <aribb24/decoder.h>
}

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/support/utf8_text.h"
#include "tests/support/real_data.h"
#include "text/caption_data.h"
#include "text/caption_decoder.h"
#include "text/arib_charset.h"
#include "tools/info/caption_symbols.h"
#include "tools/streamkit/arib_encoder.h"

namespace {

typedef std::vector<uint8_t> Bytes;

class LibAribb24Captions {
public:
    LibAribb24Captions() : instance_(arib_instance_new(nullptr)), decoder_(arib_get_decoder(instance_)) {}
    ~LibAribb24Captions() { arib_instance_destroy(instance_); }
    LibAribb24Captions(const LibAribb24Captions&) = delete;
    LibAribb24Captions& operator=(const LibAribb24Captions&) = delete;

    std::string Decode(const uint8_t* body, size_t size) {
        arib_initialize_decoder_a_profile(decoder_);
        std::vector<char> out(size * 8 + 64, '\0');
        const size_t n = arib_decode_buffer(decoder_, body, size, out.data(), out.size());
        arib_finalize_decoder(decoder_);
        return std::string(out.data(), n);
    }

private:
    arib_instance_t* instance_;
    arib_decoder_t* decoder_;
};

std::string Normalise(const std::string& utf8) {
    std::string out;
    for (size_t i = 0; i < utf8.size();) {
        const size_t n = CharLength(utf8, i);
        uint32_t c = CodePoint(utf8, i, n);
        const std::string piece = utf8.substr(i, n);
        i += n;
        if (c == ' ' || c == 0x3000) continue;
        if (c >= 0xFF01 && c <= 0xFF5E) c -= 0xFEE0;
        if (c == 0x301C) c = '~';
        if (c == 0x2225) c = 0x2016;
        if (c == 0x2212) c = '-';
        if (c == 0xFFE0) c = 0xA2;
        if (c == 0xFFE1) c = 0xA3;
        if (c == 0xFFE2) c = 0xAC;
        if (c < 0x80) {
            out += static_cast<char>(c);
            continue;
        }
        bool inCp932 = true;
        Utf8ToShiftJis(piece, &inCp932);
        out += !inCp932 || (c >= 0xE000 && c <= 0xF8FF) ? std::string("?") : piece;
    }
    return out;
}

std::string OurText(CaptionDecoder& d, const DataUnit& unit) {
    ResetCaptionDecoder(d, CaptionDecoderOptions{0, CaptionProfile::kA});
    DecodeCaptionStatementBody(d, unit.data, unit.size, nullptr);
    std::string sjis;
    for (int32_t i = 0; i < d.screen.rowCount; ++i) {
        sjis.append(d.screen.rows[i].text, static_cast<size_t>(d.screen.rows[i].length));
    }
    return ShiftJisToUtf8(sjis);
}

TEST(CaptionDifferential, EveryStatementOfTheRealStreamsAgreesWithLibAribb24) {
    LibAribb24Captions peer;
    std::unique_ptr<CaptionDecoder> d(new CaptionDecoder);
    for (const char* name : {"captions/samurai_flamenco_13.es", "captions/pokemon-2023.es",
                             "captions/toriko_subs.es", "captions/maho_koukou.es"}) {
        SCOPED_TRACE(name);
        const Bytes file = ReadRealData(name);
        int32_t bodies = 0;
        int32_t withText = 0;
        int32_t differing = 0;
        size_t at = 0;
        while (at + 3 <= file.size()) {
            const size_t group = at + 3 + (file[at + 2] & 0x0F);
            if (group + 5 > file.size()) break;
            const size_t end = group + 5 + ((static_cast<size_t>(file[group + 3]) << 8) | file[group + 4]) + 2;
            at = end;
            DataGroup g;
            if (ParseDataGroup(&file[group], static_cast<int32_t>(end - group), &g) != DataGroupStatus::kOk ||
                g.language != 1) {
                continue;
            }
            CaptionStatement s;
            ASSERT_TRUE(ParseCaptionStatement(g.data, g.size, &s));
            int32_t offset = 0;
            DataUnit unit;
            while (NextDataUnit(s.dataUnits, s.dataUnitsSize, &offset, &unit)) {
                if (unit.parameter != kDataUnitStatementBody) continue;
                ++bodies;
                const std::string ours = OurText(*d, unit);
                const std::string theirs = peer.Decode(unit.data, static_cast<size_t>(unit.size));
                if (!Normalise(ours).empty()) ++withText;
                if (Normalise(ours) != Normalise(theirs)) {
                    if (++differing <= 5) ADD_FAILURE() << "ours:   " << ours << "\ntheirs: " << theirs;
                }
            }
        }
        EXPECT_EQ(differing, 0) << "of " << bodies << " statement bodies";
        EXPECT_GT(bodies, 0);
        if (std::string(name) != "captions/maho_koukou.es") {
            EXPECT_GT(withText, 100);
        }
    }
}

// kestrin-info's table of additional symbols: each entry is the code page
// 932 character the core writes for the symbol, and libaribb24's Unicode
// character for it.
TEST(CaptionDifferential, SymbolTableOfKestrinInfoAgreesWithLibAribb24) {
    LibAribb24Captions peer;
    uint16_t previous = 0;
    for (const CaptionSymbol& s : kCaptionSymbols) {
        EXPECT_GT(s.shiftJis, previous);  // sorted, no duplicates
        previous = s.shiftJis;
        uint8_t out[2] = {0, 0};
        ASSERT_EQ(MapTwoByteCharacter(kSetAdditionalSymbols, static_cast<uint8_t>(s.aribCode >> 8),
                                      static_cast<uint8_t>(s.aribCode), kNormalSize, out),
                  2);
        EXPECT_EQ((out[0] << 8) | out[1], s.shiftJis) << std::hex << s.aribCode;
        const uint8_t code[2] = {static_cast<uint8_t>(s.aribCode >> 8), static_cast<uint8_t>(s.aribCode)};
        const std::string theirs = peer.Decode(code, 2);
        ASSERT_FALSE(theirs.empty());
        EXPECT_EQ(CodePoint(theirs, 0, CharLength(theirs, 0)), s.unicode) << std::hex << s.aribCode;
    }
}

}  // namespace
