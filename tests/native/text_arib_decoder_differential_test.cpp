// Differential test of DecodeAribText against Debian's libaribb24.
//
// Text of hiragana, katakana, kanji, full-width alphanumerics (normal size),
// spaces and line breaks is coded with the test encoder (plainly and with
// varied shifts and designations); libaribb24 decodes the ARIB bytes to
// UTF-8, we decode them to Shift_JIS and convert that with iconv (CP932).
// Both must agree after this normalisation:
//
//  1. Six JIS X 0208 characters have different Unicode mappings in code page
//     932 and in libaribb24 (which follows JIS X 0208 proper); our side is
//     rewritten to the JIS X 0208 code point:
//       JIS 0x2140 U+FF3C -> U+005C      JIS 0x2141 U+FF5E -> U+301C
//       JIS 0x2142 U+2225 -> U+2016      JIS 0x2171 U+FFE0 -> U+00A2
//       JIS 0x2172 U+FFE1 -> U+00A3      JIS 0x224C U+FFE2 -> U+00AC
//     Every other assigned cell of rows 0x21-0x74 maps identically. Row 0x2D
//     (code page 932 special characters, unassigned in JIS X 0208) and rows
//     0x75-0x7E (ARIB additional kanji and symbols in libaribb24, IBM
//     extensions in code page 932) differ by design and are not compared.
//  2. libaribb24's text output carries no line breaks: APR only moves its
//     active position. Line structure is therefore compared through its
//     regions (one per run of text on a display line, with the line's
//     bottom position), decoded in its caption profile A; our CR LF becomes
//     "\n". Profile A designates macros to G3, so those strings are prefixed
//     with ESC 0x2B 0x31 (katakana to G3), which restores our initial
//     designations; its default plane wraps after 16 full-width characters,
//     so the lines are kept shorter; and, as a display rule, it hangs
//     punctuation such as 、 and 。 that would start a line on the line
//     before, so every line here starts with a kanji. The plain decoder
//     initialisation starts
//     from our initial designations as it is and needs no prefix.
//
//  3. The additional symbols: we give code page 932 user-defined codes
//     (Private Use Area characters through iconv), libaribb24 the Unicode
//     characters of ARIB's mapping. Only the named symbols of row 0x7A
//     (tools/common/arib_symbols.h) are used, and our side is rewritten to
//     their Unicode characters.
//  4. Single shifts of a two-byte set (the one remaining difference in
//     decoding). libaribb24 shifts one byte only: the first byte of the pair
//     comes from G2/G3 and the second is read through GL, so its result is
//     the pair of the GL set (or, with a one-byte set in GL, a character of
//     that set and a first byte left waiting). We take the two bytes as one
//     character of the shifted set. Where GL holds the shifted set itself
//     the two readings agree and libaribb24 gets the string as it is;
//     elsewhere it gets the same string with the single shift written as a
//     locking shift of GL and back (LS2/LS3, the pair, then the GL's own
//     shift), which both readings decode alike.
//
// Middle size is left out: libaribb24 keeps alphanumerics full-width there,
// while we give ASCII. So are alphanumeric-set symbols, which it maps to the
// full-width ASCII forms (＂ ＇) where we give the diaeresis and the acute
// accent.
extern "C" {
#include <aribb24/aribb24.h>
#include <aribb24/decoder.h>
}

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "text/arib_charset.h"
#include "text/arib_decoder.h"
#include "tools/common/arib_symbols.h"
#include "tools/streamkit/arib_encoder.h"

namespace {

class LibAribb24 {
public:
    LibAribb24() : instance_(arib_instance_new(nullptr)), decoder_(arib_get_decoder(instance_)) {}
    ~LibAribb24() { arib_instance_destroy(instance_); }
    LibAribb24(const LibAribb24&) = delete;
    LibAribb24& operator=(const LibAribb24&) = delete;

    // The text, without line breaks.
    std::string Decode(const std::vector<uint8_t>& arib) {
        arib_initialize_decoder(decoder_);
        std::vector<char> out(arib.size() * 4 + 16, '\0');
        const size_t n = arib_decode_buffer(decoder_, arib.data(), arib.size(), out.data(), out.size());
        arib_finalize_decoder(decoder_);
        return std::string(out.data(), n);
    }

    // The text with "\n" where a region starts on a lower display line, one
    // per line moved.
    std::string DecodeLines(const std::vector<uint8_t>& arib) {
        std::vector<uint8_t> source = {0x1B, 0x2B, 0x31};  // katakana to G3
        source.insert(source.end(), arib.begin(), arib.end());
        arib_initialize_decoder_a_profile(decoder_);
        std::vector<char> out(source.size() * 4 + 16, '\0');
        arib_decode_buffer(decoder_, source.data(), source.size(), out.data(), out.size());
        std::string text;
        bool first = true;
        int bottom = 0;
        for (const arib_buf_region_t* r = arib_decoder_get_regions(decoder_); r != nullptr; r = r->p_next) {
            const int step = r->i_fontheight + r->i_verint;
            if (!first && r->i_charbottom != bottom) {
                EXPECT_GT(step, 0);
                EXPECT_GT(r->i_charbottom, bottom);
                for (int b = bottom; step > 0 && b < r->i_charbottom; b += step) text += "\n";
            }
            text.append(r->p_start, static_cast<size_t>(r->p_end - r->p_start));
            bottom = r->i_charbottom;
            first = false;
        }
        arib_finalize_decoder(decoder_);
        return text;
    }

private:
    arib_instance_t* instance_;
    arib_decoder_t* decoder_;
};

void ReplaceAll(std::string& s, const std::string& from, const std::string& to) {
    for (size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size())) {
        s.replace(at, from.size(), to);
    }
}

std::string Utf8Of(uint32_t c) {
    std::string out;
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
    return out;
}

// Our Shift_JIS as UTF-8, normalised as described at the top.
std::string OursAsUtf8(const std::vector<uint8_t>& arib, bool keepLineBreaks) {
    std::vector<char> buffer(2 * arib.size() + 1);
    const int32_t n =
        DecodeAribText(buffer.data(), arib.data(), static_cast<int32_t>(arib.size()), static_cast<int32_t>(buffer.size()));
    bool ok = false;
    std::string utf8 = ShiftJisToUtf8(std::string(buffer.data(), static_cast<size_t>(n)), &ok);
    EXPECT_TRUE(ok);
    static const char* const kCp932ToJis[][2] = {
        {u8"\uFF3C", "\\"},     {u8"\uFF5E", u8"\u301C"}, {u8"\u2225", u8"\u2016"},
        {u8"\uFFE0", u8"\u00A2"}, {u8"\uFFE1", u8"\u00A3"}, {u8"\uFFE2", u8"\u00AC"},
    };
    for (const auto& pair : kCp932ToJis) ReplaceAll(utf8, pair[0], pair[1]);
    for (const AribSymbol& symbol : kAribSymbols) {
        uint8_t bytes[2];
        MapTwoByteCharacter(kSetAdditionalSymbols, static_cast<uint8_t>(symbol.code >> 8),
                            static_cast<uint8_t>(symbol.code), kNormalSize, bytes);
        ReplaceAll(utf8, ShiftJisToUtf8(std::string(reinterpret_cast<const char*>(bytes), 2)), Utf8Of(symbol.unicode));
    }
    ReplaceAll(utf8, "\r\n", keepLineBreaks ? "\n" : "");
    return utf8;
}

std::string Sjis(int row, int cell) {
    const uint16_t v = JisToShiftJis(static_cast<uint16_t>(row << 8 | cell));
    return std::string{static_cast<char>(v >> 8), static_cast<char>(v & 0xFF)};
}

// A JIS X 0208 cell that code page 932 assigns.
bool Assigned(int row, int cell) {
    bool ok = false;
    return !ShiftJisToUtf8(Sjis(row, cell), &ok).empty() && ok;
}

std::string Hex(const std::vector<uint8_t>& b) {
    std::string s;
    char tmp[4];
    for (uint8_t c : b) {
        std::snprintf(tmp, sizeof tmp, "%02X ", c);
        s += tmp;
    }
    return s;
}

bool IsTwoByteSet(uint8_t set) { return set == kSetKanji || set == kSetKanjiPlane2 || set == kSetAdditionalSymbols; }

// What the walk over a string met.
struct ShiftCounts {
    int twoByteSingleShifts = 0;  // SS2/SS3 of a two-byte set
    int rewritten = 0;            // of those, written as locking shifts for libaribb24
    int g0TwoByteDesignations = 0;  // ESC 0x24 F
};

// The string for libaribb24, as described at the top (4.): a single shift of
// a two-byte set that GL does not hold becomes LS2/LS3, the pair, and the
// shift back to GL. The walk follows the test encoder's output: graphic
// bytes, APR, SP, sizes, LS0/LS1, SS2/SS3 and the escape sequences of
// designation and locking shift.
std::vector<uint8_t> ForLibAribb24(const std::vector<uint8_t>& arib, ShiftCounts* counts) {
    uint8_t designation[4] = {kSetKanji, kSetAlphanumeric, kSetHiragana, kSetKatakana};
    int gl = 0;
    std::vector<uint8_t> out;
    size_t i = 0;
    while (i < arib.size()) {
        const uint8_t b = arib[i];
        if (b == 0x0E || b == 0x0F) {
            gl = b == 0x0E ? 1 : 0;
        } else if ((b == 0x19 || b == 0x1D) && IsTwoByteSet(designation[b == 0x19 ? 2 : 3]) && i + 2 < arib.size()) {
            const int g = b == 0x19 ? 2 : 3;
            ++counts->twoByteSingleShifts;
            if (designation[gl] != designation[g]) {
                ++counts->rewritten;
                out.insert(out.end(), {0x1B, static_cast<uint8_t>(g == 2 ? 0x6E : 0x6F), arib[i + 1], arib[i + 2]});
                static const std::vector<uint8_t> kBack[4] = {{0x0F}, {0x0E}, {0x1B, 0x6E}, {0x1B, 0x6F}};
                out.insert(out.end(), kBack[gl].begin(), kBack[gl].end());
                i += 3;
                continue;
            }
            out.insert(out.end(), arib.begin() + static_cast<long>(i), arib.begin() + static_cast<long>(i) + 3);
            i += 3;
            continue;
        } else if (b == 0x19 || b == 0x1D) {
            out.insert(out.end(), arib.begin() + static_cast<long>(i), arib.begin() + static_cast<long>(i) + 2);
            i += 2;
            continue;
        } else if (b == 0x1B && i + 1 < arib.size()) {
            const uint8_t b1 = arib[i + 1];
            size_t n = 2;
            if (b1 >= 0x28 && b1 <= 0x2B && i + 2 < arib.size()) {
                designation[b1 - 0x28] = MappingSetOf(arib[i + 2]);
                n = 3;
            } else if (b1 == 0x24 && i + 2 < arib.size()) {
                const uint8_t b2 = arib[i + 2];
                if (b2 >= 0x29 && b2 <= 0x2B && i + 3 < arib.size()) {
                    designation[b2 - 0x28] = MappingSetOf(arib[i + 3]);
                    n = 4;
                } else {
                    designation[0] = MappingSetOf(b2);
                    ++counts->g0TwoByteDesignations;
                    n = 3;
                }
            } else if (b1 == 0x6E || b1 == 0x6F) {
                gl = b1 == 0x6E ? 2 : 3;
            }
            out.insert(out.end(), arib.begin() + static_cast<long>(i), arib.begin() + static_cast<long>(i + n));
            i += n;
            continue;
        }
        out.push_back(b);
        ++i;
    }
    return out;
}

TEST(AribDifferential, EveryJisX0208Character) {
    LibAribb24 lib;
    for (int row = 0x21; row <= 0x74; ++row) {
        if (row == 0x2D) continue;
        std::string line;
        for (int cell = 0x21; cell <= 0x7E; ++cell) {
            if (Assigned(row, cell)) line += Sjis(row, cell);
        }
        if (line.empty()) continue;
        const std::vector<uint8_t> arib = EncodeAribFromShiftJis(line);
        EXPECT_EQ(lib.Decode(arib), OursAsUtf8(arib, false)) << "row " << row << ": " << Hex(arib);
    }
}

// A sample of the kanji of both levels.
std::vector<std::string> Kanji() {
    std::vector<std::string> kanji;
    for (int row = 0x30; row <= 0x74; ++row) {
        for (int cell = 0x21; cell <= 0x7E; cell += 7) {
            if (Assigned(row, cell)) kanji.push_back(Sjis(row, cell));
        }
    }
    return kanji;
}

// The characters of the random texts: kana, kana punctuation, the
// ideographic space, full-width digits and letters, and kanji.
std::vector<std::string> Pieces() {
    std::vector<std::string> pieces;
    for (int cell = 0x21; cell <= 0x73; ++cell) pieces.push_back(Sjis(0x24, cell));
    for (int cell = 0x21; cell <= 0x76; ++cell) pieces.push_back(Sjis(0x25, cell));
    for (int cell : {0x21, 0x22, 0x23, 0x26, 0x33, 0x34, 0x35, 0x36, 0x3C, 0x56, 0x57}) {
        pieces.push_back(Sjis(0x21, cell));
    }
    for (int cell = 0x30; cell <= 0x7A; ++cell) {
        if (Assigned(0x23, cell)) pieces.push_back(Sjis(0x23, cell));
    }
    const std::vector<std::string> kanji = Kanji();
    pieces.insert(pieces.end(), kanji.begin(), kanji.end());
    return pieces;
}

TEST(AribDifferential, RandomTextWithVariedShifts) {
    LibAribb24 lib;
    const std::vector<std::string> pieces = Pieces();
    std::mt19937 rng(4242);
    for (uint32_t i = 0; i < 2000; ++i) {
        std::string text;
        const uint32_t length = 1 + rng() % 60;
        for (uint32_t k = 0; k < length; ++k) text += pieces[rng() % pieces.size()];
        const std::vector<uint8_t> arib = EncodeAribFromShiftJisVaried(text, i);
        ShiftCounts counts;
        ASSERT_EQ(lib.Decode(ForLibAribb24(arib, &counts)), OursAsUtf8(arib, false)) << "seed " << i << ": " << Hex(arib);
    }
}

// Kana, kanji, alphanumerics and the named additional symbols, coded with
// every shift and designation the encoder knows, single shifts of the
// two-byte sets and the two-byte designation of G0 among them.
TEST(AribDifferential, RandomTextWithTwoByteSingleShifts) {
    LibAribb24 lib;
    std::vector<std::string> pieces = Pieces();
    for (const AribSymbol& symbol : kAribSymbols) {
        uint8_t bytes[2];
        MapTwoByteCharacter(kSetAdditionalSymbols, static_cast<uint8_t>(symbol.code >> 8),
                            static_cast<uint8_t>(symbol.code), kNormalSize, bytes);
        const std::string sjis(reinterpret_cast<const char*>(bytes), 2);
        // As many symbols as kana, so that strings carry several.
        for (int k = 0; k < 8; ++k) pieces.push_back(sjis);
    }
    std::mt19937 rng(2024);
    ShiftCounts counts;
    int agreedAsIs = 0;
    for (uint32_t i = 0; i < 2000; ++i) {
        std::string text;
        const uint32_t length = 1 + rng() % 40;
        for (uint32_t k = 0; k < length; ++k) text += pieces[rng() % pieces.size()];
        bool complete = false;
        const std::vector<uint8_t> arib = EncodeAribFromShiftJisVaried(text, 90000 + i, &complete);
        ASSERT_TRUE(complete);
        const int before = counts.rewritten;
        const std::vector<uint8_t> theirs = ForLibAribb24(arib, &counts);
        if (counts.rewritten == before) ++agreedAsIs;
        ASSERT_EQ(lib.Decode(theirs), OursAsUtf8(arib, false)) << "case " << i << ": " << Hex(arib);
    }
    // The strings did carry what this test is about.
    EXPECT_GT(counts.twoByteSingleShifts, counts.rewritten);
    EXPECT_GT(counts.rewritten, 0);
    EXPECT_GT(counts.g0TwoByteDesignations, 0);
    EXPECT_GT(agreedAsIs, 0);
}

TEST(AribDifferential, LineBreaks) {
    LibAribb24 lib;
    const std::vector<std::string> pieces = Pieces();
    const std::vector<std::string> kanji = Kanji();
    std::mt19937 rng(77);
    for (uint32_t i = 0; i < 500; ++i) {
        std::string text;
        const uint32_t lines = 1 + rng() % 5;
        for (uint32_t l = 0; l < lines; ++l) {
            if (l > 0) text += (rng() % 4 == 0) ? "\r\n\r\n" : "\r\n";
            text += kanji[rng() % kanji.size()];
            const uint32_t length = rng() % 12;
            for (uint32_t k = 0; k < length; ++k) text += pieces[rng() % pieces.size()];
        }
        const std::vector<uint8_t> arib = EncodeAribFromShiftJis(text);
        ASSERT_EQ(lib.DecodeLines(arib), OursAsUtf8(arib, true)) << "case " << i << ": " << Hex(arib);
    }
}

// Hand-made strings with the shifts and designations broadcasters use: a
// kanji pair by SS2 while GL holds the kanji set, the real title's SS3 of an
// additional symbol, the symbols in the Kanji set's rows, ESC 0x24 F in both
// forms.
TEST(AribDifferential, ShiftsAndDesignations) {
    LibAribb24 lib;
    const std::vector<std::vector<uint8_t>> cases = {
        {0x0E, 0x45, 0x1D, 0x46, 0x1D, 0x6C, 0x32, 0x33, 0x35, 0x35},
        {0x1B, 0x7C, 0xD1, 0xBA, 0xC9, 0xE9, 0xAF, 0xED, 0xB9},
        {0x1B, 0x24, 0x2A, 0x39, 0x19, 0x30, 0x41, 0x0E, 0x41},
        {0x1B, 0x24, 0x2B, 0x3B, 0x1D, 0x7A, 0x6A, 0x0E, 0x56, 0x41, 0x4E},
        {0x7A, 0x56, 0x30, 0x21, 0x1B, 0x24, 0x3B, 0x7A, 0x6B, 0x1B, 0x24, 0x39, 0x30, 0x21},
        {0x1B, 0x24, 0x28, 0x3B, 0x7A, 0x56, 0x1B, 0x24, 0x28, 0x39, 0x30, 0x21},
        {0x1B, 0x24, 0x3B, 0x7A, 0x56, 0x1B, 0x24, 0x42, 0x30, 0x21, 0x1B, 0x24, 0x2B, 0x42, 0x1D, 0x30, 0x21},
        {0x1B, 0x28, 0x4A, 0x1B, 0x28, 0x39, 0x30, 0x21},
        {0x1B, 0x24, 0x29, 0x30, 0x0E, 0x22, 0x1B, 0x6F, 0x22, 0x1B, 0x6E, 0x23},
        {0x1B, 0x24, 0x2B, 0x39, 0x1B, 0x7C, 0xB0, 0xA1, 0x1B, 0x7E, 0xC1},
        {0x1B, 0x29, 0x31, 0x1B, 0x7E, 0xA2, 0x1B, 0x7D, 0xA2},
    };
    for (const std::vector<uint8_t>& arib : cases) {
        EXPECT_EQ(lib.Decode(arib), OursAsUtf8(arib, false)) << Hex(arib);
    }
}

}  // namespace
