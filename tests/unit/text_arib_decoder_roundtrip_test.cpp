// Round trip through the test encoder: Shift_JIS -> ARIB 8-bit ->
// DecodeAribText gives the same Shift_JIS back, for every JIS X 0208 cell
// and for random mixtures of kana, kanji, alphanumerics in both sizes,
// spaces and line breaks coded with every kind of shift and designation.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "tools/streamkit/arib_encoder.h"
#include "text/arib_decoder.h"

namespace {

std::string DecodeAll(const std::vector<uint8_t>& arib) {
    std::vector<char> buffer(2 * arib.size() + 1);
    const int32_t n =
        DecodeAribText(buffer.data(), arib.data(), static_cast<int32_t>(arib.size()), static_cast<int32_t>(buffer.size()));
    return std::string(buffer.data(), static_cast<size_t>(n));
}

std::string Hex(const std::string& s) {
    std::string h;
    char tmp[4];
    for (unsigned char c : s) {
        std::snprintf(tmp, sizeof tmp, "%02X ", c);
        h += tmp;
    }
    return h;
}

// The standard JIS X 0208 to Shift_JIS arithmetic, written out here so that
// the test does not lean on the code under test.
std::string ShiftJisOf(int row, int cell) {
    const int lead = (row + 1) / 2 + (row <= 0x5E ? 0x70 : 0xB0);
    const int trail = (row % 2 == 0) ? cell + 0x7E : cell + (cell <= 0x5F ? 0x1F : 0x20);
    return std::string{static_cast<char>(lead), static_cast<char>(trail)};
}

TEST(AribRoundTrip, EveryJisX0208Cell) {
    // Rows 0x7A-0x7E of the Kanji set are the additional symbols: the code
    // page 932 characters the arithmetic gives for them (IBM extensions) have
    // no ARIB code, and the encoder says so.
    for (int row = 0x7A; row <= 0x7E; ++row) {
        bool complete = true;
        EncodeAribFromShiftJis(ShiftJisOf(row, 0x21) + ShiftJisOf(row, 0x7E), &complete);
        EXPECT_FALSE(complete) << "row " << row;
    }
    for (int row = 0x21; row < 0x7A; ++row) {
        std::string line;
        for (int cell = 0x21; cell <= 0x7E; ++cell) line += ShiftJisOf(row, cell);
        bool complete = false;
        const std::vector<uint8_t> plain = EncodeAribFromShiftJis(line, &complete);
        EXPECT_TRUE(complete) << "row " << row;
        ASSERT_EQ(Hex(line), Hex(DecodeAll(plain))) << "row " << row;
        for (uint32_t seed = 1; seed <= 3; ++seed) {
            const std::vector<uint8_t> varied = EncodeAribFromShiftJisVaried(line, seed * 1000 + row, &complete);
            ASSERT_EQ(Hex(line), Hex(DecodeAll(varied))) << "row " << row << " seed " << seed;
        }
    }
}

// Random strings drawn from the pieces programme texts are made of.
std::string RandomText(std::mt19937& rng) {
    static const char* const kPieces[] = {
        "\x82\xA0", "\x82\xF1", "\x82\xC1",  // あ ん っ
        "\x83\x40", "\x83\x94", "\x83\x96",  // ァ ヴ ヶ
        "\x81\x5B", "\x81\x42", "\x81\x75", "\x81\x76", "\x81\x41", "\x81\x45", "\x81\x54", "\x81\x52",
        "\x88\x9F", "\x8A\xBF", "\x9F\xFC", "\xE0\x40", "\xEA\xA4",  // kanji on both sides of the gap
        "\x82\x60", "\x82\x4F", "\x82\x81",                          // Ａ ０ ａ
        "\x81\x40", "\x81\x8F", "\x81\x79", "\x81\x6D", "\x81\x49",  // 　 ￥ 【 ［ ！
        "A", "z", "0", "9", " ", "!", "~", "\\", "[", "]", "'", "\"",
        "\r\n",
        "\x87\x40", "\x87\x8A", "\x87\x54",  // ① ㈱ Ⅰ
        "\xF1\x83", "\xF4\xF6",              // additional symbols in the user-defined area
    };
    const size_t kCount = sizeof kPieces / sizeof kPieces[0];
    std::string s;
    const uint32_t length = rng() % 40;
    for (uint32_t i = 0; i < length; ++i) s += kPieces[rng() % kCount];
    return s;
}

TEST(AribRoundTrip, RandomMixedStrings) {
    std::mt19937 rng(20241210);
    for (int i = 0; i < 3000; ++i) {
        const std::string text = RandomText(rng);
        bool complete = false;
        const std::vector<uint8_t> arib = EncodeAribFromShiftJisVaried(text, static_cast<uint32_t>(i), &complete);
        ASSERT_TRUE(complete) << Hex(text);
        ASSERT_EQ(Hex(text), Hex(DecodeAll(arib))) << "seed " << i;
        ASSERT_EQ(Hex(text), Hex(DecodeAll(EncodeAribFromShiftJis(text)))) << "plain " << i;
    }
}

TEST(AribEncoder, PlainCodingLooksLikeABroadcast) {
    // おかあさん through GR, 丸 through GL, ＡＢ by LS1 in normal size, AB in
    // middle size.
    const std::vector<uint8_t> arib = EncodeAribFromShiftJis("\x82\xA8\x8A\xDB\x82\x60\x82\x61" "AB");
    const std::vector<uint8_t> expected = {0xAA, 0x34, 0x5D, 0x0E, 0x41, 0x42, 0x89, 0x41, 0x42};
    EXPECT_EQ(expected, arib);
}

TEST(AribEncoder, LineBreaksBecomeApr) {
    const std::vector<uint8_t> arib = EncodeAribFromShiftJis("A\r\nB\nC\rD");
    EXPECT_EQ("A\r\nB\r\nC\r\nD", DecodeAll(arib));
}

TEST(AribEncoder, ReportsWhatItCannotCode) {
    bool complete = true;
    // Half-width katakana ｱ, a control code and a cut-off lead byte.
    const std::vector<uint8_t> arib = EncodeAribFromShiftJis("\xB1" "A\x01\x82", &complete);
    EXPECT_FALSE(complete);
    EXPECT_EQ("A", DecodeAll(arib));
}

TEST(AribEncoder, FromUtf8) {
    bool complete = false;
    const std::vector<uint8_t> arib = EncodeAribFromUtf8(u8"ＭＸワンセグ１ 天気\n①", &complete);
    EXPECT_TRUE(complete);
    EXPECT_EQ(u8"ＭＸワンセグ１ 天気\r\n①", ShiftJisToUtf8(DecodeAll(arib)));
}

}  // namespace
