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

#include "tools/streamkit/arib_encoder.h"
#include "text/arib_charset.h"
#include "text/arib_decoder.h"

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
        ASSERT_EQ(lib.Decode(arib), OursAsUtf8(arib, false)) << "seed " << i << ": " << Hex(arib);
    }
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

// Hand-made strings with the shifts broadcasters use, including a kanji pair
// whose first byte comes by SS2.
TEST(AribDifferential, ShiftsAndDesignations) {
    LibAribb24 lib;
    const std::vector<std::vector<uint8_t>> cases = {
        {0x0E, 0x45, 0x1D, 0x46, 0x1D, 0x6C, 0x32, 0x33, 0x35, 0x35},
        {0x1B, 0x7C, 0xD1, 0xBA, 0xC9, 0xE9, 0xAF, 0xED, 0xB9},
        {0x1B, 0x24, 0x2A, 0x39, 0x0E, 0x19, 0x30, 0x41, 0x0F, 0x21},
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
