// Mapping of one ARIB graphic character to Shift_JIS.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "text/arib_charset.h"

namespace {

std::vector<uint8_t> One(uint8_t set, uint8_t code, uint8_t size) {
    uint8_t out[2] = {0xEE, 0xEE};
    const int32_t n = MapOneByteCharacter(set, code, size, out);
    EXPECT_GE(n, 0);
    EXPECT_LE(n, 2);
    return std::vector<uint8_t>(out, out + (n < 0 ? 0 : n > 2 ? 2 : n));
}

std::vector<uint8_t> Two(uint8_t set, uint8_t first, uint8_t second, uint8_t size) {
    uint8_t out[2] = {0xEE, 0xEE};
    const int32_t n = MapTwoByteCharacter(set, first, second, size, out);
    EXPECT_GE(n, 0);
    EXPECT_LE(n, 2);
    return std::vector<uint8_t>(out, out + (n < 0 ? 0 : n > 2 ? 2 : n));
}

typedef std::vector<uint8_t> Bytes;
const Bytes kNothing;
const Bytes kSubstitute = {0x81, 0xA0};
const Bytes kZeroPair = {0x00, 0x00};

TEST(JisToShiftJis, KnownCodes) {
    EXPECT_EQ(0x8140, JisToShiftJis(0x2121));
    EXPECT_EQ(0x82A0, JisToShiftJis(0x2422));
    EXPECT_EQ(0x889F, JisToShiftJis(0x3021));
    EXPECT_EQ(0x9FFC, JisToShiftJis(0x5E7E));  // last row below the lead-byte gap
    EXPECT_EQ(0xE040, JisToShiftJis(0x5F21));
    EXPECT_EQ(0xEFFC, JisToShiftJis(0x7E7E));
    EXPECT_EQ(0x815F, JisToShiftJis(0x2140));  // odd row, cell up to 0x5F
    EXPECT_EQ(0x8180, JisToShiftJis(0x2160));  // odd row skips trail 0x7F
}

TEST(JisToShiftJis, RejectsCodesOutsideTheGrid) {
    const uint16_t bad[] = {0x0000, 0x2120, 0x207E, 0x2020, 0x217F, 0x2100, 0x21FF, 0x30A1};
    for (uint16_t code : bad) EXPECT_EQ(0, JisToShiftJis(code)) << std::hex << code;
}

// Every cell of the 94x94 grid lands on a distinct valid double-byte code.
TEST(JisToShiftJis, WholeGridIsOneToOneOntoValidCodes) {
    std::vector<bool> seen(65536, false);
    for (int row = 0x21; row <= 0x7E; ++row) {
        for (int cell = 0x21; cell <= 0x7E; ++cell) {
            const uint16_t v = JisToShiftJis(static_cast<uint16_t>(row << 8 | cell));
            const int lead = v >> 8;
            const int trail = v & 0xFF;
            ASSERT_TRUE((lead >= 0x81 && lead <= 0x9F) || (lead >= 0xE0 && lead <= 0xEF)) << row << " " << cell;
            ASSERT_TRUE(trail >= 0x40 && trail <= 0xFC && trail != 0x7F) << row << " " << cell;
            ASSERT_FALSE(seen[v]);
            seen[v] = true;
        }
    }
}

TEST(MapOneByteCharacter, Hiragana) {
    for (int code = 0x21; code <= 0x73; ++code) {
        EXPECT_EQ(Bytes({0x82, static_cast<uint8_t>(0x9F + code - 0x21)}),
                  One(kSetHiragana, static_cast<uint8_t>(code), kNormalSize));
    }
    EXPECT_EQ(Bytes({0x82, 0xF1}), One(kSetHiragana, 0x73, kMiddleSize));
    for (uint8_t code : {0x74, 0x75, 0x76, 0x7F, 0x20, 0x00, 0xA1}) {
        EXPECT_EQ(kNothing, One(kSetHiragana, code, kNormalSize)) << int(code);
    }
}

TEST(MapOneByteCharacter, Katakana) {
    EXPECT_EQ(Bytes({0x83, 0x40}), One(kSetKatakana, 0x21, kNormalSize));
    EXPECT_EQ(Bytes({0x83, 0x7E}), One(kSetKatakana, 0x5F, kNormalSize));  // ミ
    EXPECT_EQ(Bytes({0x83, 0x80}), One(kSetKatakana, 0x60, kNormalSize));  // ム
    EXPECT_EQ(Bytes({0x83, 0x94}), One(kSetKatakana, 0x74, kMiddleSize));  // ヴ
    EXPECT_EQ(Bytes({0x83, 0x96}), One(kSetKatakana, 0x76, kNormalSize));  // ヶ
    for (uint8_t code : {0x7F, 0x20, 0x00, 0xFF}) EXPECT_EQ(kNothing, One(kSetKatakana, code, kNormalSize));
}

// Codes 0x77-0x7E of both kana sets: iteration marks, the prolonged sound
// mark and the punctuation.
TEST(MapOneByteCharacter, KanaSymbols) {
    struct Case {
        uint8_t code;
        Bytes hiragana;
        Bytes katakana;
    } cases[] = {
        {0x77, {0x81, 0x54}, {0x81, 0x52}}, {0x78, {0x81, 0x55}, {0x81, 0x53}},
        {0x79, {0x81, 0x5B}, {0x81, 0x5B}}, {0x7A, {0x81, 0x42}, {0x81, 0x42}},
        {0x7B, {0x81, 0x75}, {0x81, 0x75}}, {0x7C, {0x81, 0x76}, {0x81, 0x76}},
        {0x7D, {0x81, 0x41}, {0x81, 0x41}}, {0x7E, {0x81, 0x45}, {0x81, 0x45}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.hiragana, One(kSetHiragana, c.code, kNormalSize)) << int(c.code);
        EXPECT_EQ(c.katakana, One(kSetKatakana, c.code, kMiddleSize)) << int(c.code);
    }
}

TEST(MapOneByteCharacter, AlphanumericNormalSize) {
    for (int code = 0x21; code <= 0x7E; ++code) {
        const Bytes got = One(kSetAlphanumeric, static_cast<uint8_t>(code), kNormalSize);
        ASSERT_EQ(2u, got.size()) << code;
        if ((code >= 0x30 && code <= 0x39) || (code >= 0x41 && code <= 0x5A)) {
            EXPECT_EQ(Bytes({0x82, uint8_t(code + 0x1F)}), got);
        } else if (code >= 0x61 && code <= 0x7A) {
            EXPECT_EQ(Bytes({0x82, uint8_t(code + 0x20)}), got);
        }
    }
    const struct {
        uint8_t code;
        uint8_t trail;
    } symbols[] = {
        {0x21, 0x49}, {0x22, 0x4E}, {0x23, 0x94}, {0x24, 0x90}, {0x25, 0x93}, {0x26, 0x95}, {0x27, 0x4C},
        {0x28, 0x69}, {0x29, 0x6A}, {0x2A, 0x96}, {0x2B, 0x7B}, {0x2C, 0x43}, {0x2D, 0x7C}, {0x2E, 0x44},
        {0x2F, 0x5E}, {0x3A, 0x46}, {0x3B, 0x47}, {0x3C, 0x83}, {0x3D, 0x81}, {0x3E, 0x84}, {0x3F, 0x48},
        {0x40, 0x97}, {0x5B, 0x6D}, {0x5C, 0x8F}, {0x5D, 0x6E}, {0x5E, 0x4F}, {0x5F, 0x51}, {0x60, 0x4D},
        {0x7B, 0x6F}, {0x7C, 0x62}, {0x7D, 0x70}, {0x7E, 0x50},
    };
    for (const auto& s : symbols) {
        EXPECT_EQ(Bytes({0x81, s.trail}), One(kSetAlphanumeric, s.code, kNormalSize)) << int(s.code);
    }
}

TEST(MapOneByteCharacter, AlphanumericMiddleSizeIsAscii) {
    for (int code = 0x21; code <= 0x7E; ++code) {
        EXPECT_EQ(Bytes({uint8_t(code)}), One(kSetAlphanumeric, static_cast<uint8_t>(code), kMiddleSize));
    }
    // Outside 0x21-0x7E: passed on in middle size, nothing in normal size.
    EXPECT_EQ(Bytes({0xA1}), One(kSetAlphanumeric, 0xA1, kMiddleSize));
    EXPECT_EQ(kNothing, One(kSetAlphanumeric, 0xA1, kNormalSize));
    EXPECT_EQ(kNothing, One(kSetAlphanumeric, 0x0D, kNormalSize));
}

TEST(MapTwoByteCharacter, KanjiCases) {
    struct Case {
        uint8_t first, second;
        Bytes normal, middle;
    } cases[] = {
        {0x21, 0x21, {0x81, 0x40}, {0x81, 0x40}},  // ideographic space in both sizes
        {0x21, 0x24, {0x81, 0x43}, {0x2C}},
        {0x21, 0x5A, {0x81, 0x79}, {0x5B}},        // 【 becomes [
        {0x21, 0x4E, {0x81, 0x6D}, {0x81, 0x6D}},  // ［ stays full-width
        {0x23, 0x41, {0x82, 0x60}, {0x41}},
        {0x23, 0x30, {0x82, 0x4F}, {0x30}},
        {0x23, 0x21, {0x82, 0x40}, {}},  // unassigned cell: transformed, or nothing in MSZ
        {0x24, 0x22, {0x82, 0xA0}, {0x82, 0xA0}},
        {0x30, 0x21, {0x88, 0x9F}, {0x88, 0x9F}},
        {0x79, 0x7E, {0xED, 0x9E}, {0xED, 0x9E}},  // last row below the additional symbols
        // Rows 0x7A-0x7E are the additional symbols, never JIS X 0208.
        {0x7A, 0x6A, {0xF2, 0x5A}, {0xF2, 0x5A}},  // [再]
        {0x7E, 0x61, {0x87, 0x40}, {0x87, 0x40}},  // ①
        {0x7E, 0x7E, {0x81, 0xA0}, {0x81, 0xA0}},  // no symbol: the substitute
        {0xB0, 0x21, {0x00, 0x00}, {0x00, 0x00}},  // first byte that came through GR
        {0x7F, 0x21, {0x00, 0x00}, {0x00, 0x00}},
        {0x20, 0x21, {0x00, 0x00}, {0x00, 0x00}},
        {0x30, 0x7F, {0x00, 0x00}, {0x00, 0x00}},
        {0x30, 0x00, {0x00, 0x00}, {0x00, 0x00}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.normal, Two(kSetKanji, c.first, c.second, kNormalSize)) << int(c.first) << " " << int(c.second);
        EXPECT_EQ(c.middle, Two(kSetKanji, c.first, c.second, kMiddleSize)) << int(c.first) << " " << int(c.second);
    }
}

// Row 0x21 in middle size: exactly these 32 cells become ASCII; the rest of
// the row stays full-width.
TEST(MapTwoByteCharacter, KanjiRow21MiddleSize) {
    const struct {
        uint8_t cell;
        uint8_t ascii;
    } table[] = {
        {0x24, ','}, {0x25, '.'},  {0x27, ':'}, {0x28, ';'}, {0x29, '?'}, {0x2A, '!'}, {0x2E, '`'},
        {0x30, '^'}, {0x31, '~'},  {0x32, '_'}, {0x3F, '/'}, {0x43, '|'}, {0x47, '\''}, {0x49, '"'},
        {0x4A, '('}, {0x4B, ')'},  {0x50, '{'}, {0x51, '}'}, {0x5A, '['}, {0x5B, ']'}, {0x5C, '+'},
        {0x5D, '-'}, {0x61, '='},  {0x63, '<'}, {0x64, '>'}, {0x6F, '\\'}, {0x70, '$'}, {0x73, '%'},
        {0x74, '#'}, {0x75, '&'},  {0x76, '*'}, {0x77, '@'},
    };
    for (int cell = 0x21; cell <= 0x7E; ++cell) {
        Bytes want;
        for (const auto& t : table) {
            if (t.cell == cell) want = {t.ascii};
        }
        const uint16_t v = JisToShiftJis(static_cast<uint16_t>(0x2100 | cell));
        if (want.empty()) want = {uint8_t(v >> 8), uint8_t(v & 0xFF)};
        EXPECT_EQ(want, Two(kSetKanji, 0x21, static_cast<uint8_t>(cell), kMiddleSize)) << cell;
        EXPECT_EQ(Bytes({uint8_t(v >> 8), uint8_t(v & 0xFF)}),
                  Two(kSetKanji, 0x21, static_cast<uint8_t>(cell), kNormalSize))
            << cell;
    }
}

TEST(MapTwoByteCharacter, KanjiRow23MiddleSizeOnlyDigitsAndLetters) {
    for (int cell = 0x21; cell <= 0x7E; ++cell) {
        const bool alnum = (cell >= 0x30 && cell <= 0x39) || (cell >= 0x41 && cell <= 0x5A) ||
                           (cell >= 0x61 && cell <= 0x7A);
        EXPECT_EQ(alnum ? Bytes({uint8_t(cell)}) : kNothing,
                  Two(kSetKanji, 0x23, static_cast<uint8_t>(cell), kMiddleSize))
            << cell;
    }
}

// The Additional symbols table, one line per run of cells as broadcast
// receivers place them in code page 932: result = lead, cell + offset (or
// one fixed trail byte for every cell of the run).
TEST(MapTwoByteCharacter, AdditionalSymbolsRowByRow) {
    struct Run {
        uint8_t row, from, to, lead;
        int offset;
        int fixedTrail;  // -1: cell + offset
    } runs[] = {
        {0x7A, 0x21, 0x52, 0xF1, 0x2C, -1},  {0x7A, 0x53, 0x57, 0xF1, 0x2D, -1},
        {0x7A, 0x58, 0x74, 0xF2, -0x10, -1}, {0x7B, 0x21, 0x30, 0xF2, 0x4E, -1},
        {0x7B, 0x31, 0x51, 0xF2, 0x4F, -1},  {0x7C, 0x21, 0x30, 0xF3, 0x71, -1},
        {0x7C, 0x3A, 0x49, 0xF3, 0x63, -1},  {0x7C, 0x4C, 0x4C, 0x87, 0, 0x8B},
        {0x7C, 0x4D, 0x4D, 0x87, 0, 0x8A},   {0x7C, 0x4E, 0x4E, 0x87, 0, 0x8C},
        {0x7C, 0x4F, 0x4F, 0xF3, 0, 0xAD},   {0x7C, 0x54, 0x75, 0xF3, 0x5A, -1},
        {0x7C, 0x78, 0x7B, 0xF3, 0, 0x58},   {0x7D, 0x29, 0x2B, 0x87, 0x64, -1},
        {0x7D, 0x2C, 0x2C, 0x87, 0, 0x7E},   {0x7D, 0x2D, 0x2E, 0xF3, 0xAA, -1},
        {0x7D, 0x30, 0x46, 0xF3, 0xA9, -1},  {0x7D, 0x51, 0x51, 0xF3, 0, 0xF2},
        {0x7D, 0x56, 0x56, 0xF3, 0, 0xF3},   {0x7D, 0x5E, 0x5F, 0xF3, 0x96, -1},
        {0x7D, 0x6E, 0x6E, 0x21, 0, 0x21},   {0x7D, 0x6F, 0x7E, 0xF4, -0x2F, -1},
        {0x7E, 0x21, 0x2A, 0x87, 0x33, -1},  {0x7E, 0x2D, 0x30, 0x87, 0x23, -1},
        {0x7E, 0x3D, 0x3D, 0xF4, 0, 0x4F},   {0x7E, 0x3E, 0x60, 0xF4, 0x93, -1},
        {0x7E, 0x61, 0x70, 0x87, -0x21, -1}, {0x7E, 0x7D, 0x7D, 0xF4, 0, 0xF6},
    };
    for (int first = 0; first <= 0xFF; ++first) {
        for (int second = 0; second <= 0xFF; ++second) {
            Bytes want = kSubstitute;
            for (const Run& r : runs) {
                if (r.row == first && second >= r.from && second <= r.to) {
                    want = {r.lead, uint8_t(r.fixedTrail >= 0 ? r.fixedTrail : second + r.offset)};
                }
            }
            const uint8_t f = static_cast<uint8_t>(first);
            const uint8_t s = static_cast<uint8_t>(second);
            ASSERT_EQ(want, Two(kSetAdditionalSymbols, f, s, kNormalSize)) << std::hex << first << " " << second;
            ASSERT_EQ(want, Two(kSetAdditionalSymbols, f, s, kMiddleSize)) << std::hex << first << " " << second;
        }
    }
}

// The Kanji set's rows 0x7A-0x7E are the additional symbols cell for cell,
// in both sizes.
TEST(MapTwoByteCharacter, KanjiSymbolRowsAreTheAdditionalSymbols) {
    for (int row = 0x7A; row <= 0x7E; ++row) {
        for (int cell = 0x00; cell <= 0xFF; ++cell) {
            const uint8_t r = static_cast<uint8_t>(row);
            const uint8_t c = static_cast<uint8_t>(cell);
            ASSERT_EQ(Two(kSetAdditionalSymbols, r, c, kNormalSize), Two(kSetKanji, r, c, kNormalSize)) << row << " " << cell;
            ASSERT_EQ(Two(kSetAdditionalSymbols, r, c, kNormalSize), Two(kSetKanji, r, c, kMiddleSize)) << row << " " << cell;
        }
    }
}

TEST(MapTwoByteCharacter, AdditionalSymbolsSpotChecks) {
    EXPECT_EQ(Bytes({0xF1, 0x7C}), Two(kSetAdditionalSymbols, 0x7A, 0x50, kNormalSize));
    EXPECT_EQ(kSubstitute, Two(kSetAdditionalSymbols, 0x7A, 0x75, kNormalSize));
    EXPECT_EQ(Bytes({0x21, 0x21}), Two(kSetAdditionalSymbols, 0x7D, 0x6E, kNormalSize));
    EXPECT_EQ(kSubstitute, Two(kSetAdditionalSymbols, 0x50, 0x21, kNormalSize));
    EXPECT_EQ(kSubstitute, Two(kSetAdditionalSymbols, 0xFA, 0x56, kNormalSize));
    EXPECT_EQ(Bytes({0x87, 0x8A}), Two(kSetAdditionalSymbols, 0x7C, 0x4D, kMiddleSize));  // ㈱
    EXPECT_EQ(Bytes({0x87, 0x40}), Two(kSetAdditionalSymbols, 0x7E, 0x61, kNormalSize));  // ①
    // Duplicates stand as listed.
    EXPECT_EQ(Two(kSetAdditionalSymbols, 0x7C, 0x2C, kNormalSize), Two(kSetAdditionalSymbols, 0x7C, 0x3A, kNormalSize));
    EXPECT_EQ(Two(kSetAdditionalSymbols, 0x7D, 0x7E, kNormalSize), Two(kSetAdditionalSymbols, 0x7E, 0x3D, kNormalSize));
}

TEST(MapCharacter, SetsWithoutOutput) {
    EXPECT_EQ(kNothing, One(kSetKanji, 0x30, kNormalSize));
    EXPECT_EQ(kNothing, One(0x42, 0x30, kNormalSize));
    EXPECT_EQ(kNothing, Two(kSetKanjiPlane2, 0x30, 0x21, kNormalSize));
    EXPECT_EQ(kNothing, Two(kSetHiragana, 0x30, 0x21, kNormalSize));
}

}  // namespace
