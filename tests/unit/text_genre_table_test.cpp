// Genre lines of the content descriptor: the compiled-in Shift_JIS table
// against the genre list it was made from.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tests/unit/text_test_helpers.h"
#include "text/genre_table.h"

namespace {

std::string Line(uint8_t nibbles, int32_t capacity = kGenreLineSize) {
    std::vector<char> buffer(static_cast<size_t>(capacity) + 8, '\x5A');
    const int32_t n = FormatGenreLine(buffer.data(), capacity, nibbles);
    for (size_t i = static_cast<size_t>(capacity); i < buffer.size(); ++i) {
        EXPECT_EQ('\x5A', buffer[i]) << "write past capacity at " << i;
    }
    if (capacity < 1) {
        EXPECT_EQ(0, n);
        return std::string();
    }
    EXPECT_EQ('\0', buffer[static_cast<size_t>(n)]);
    return std::string(buffer.data(), static_cast<size_t>(n));
}

TEST(GenreTable, Lines) {
    struct Case {
        uint8_t nibbles;
        const char* utf8;  // expected; "" for no line
    };
    const Case cases[] = {
        {0x00, "ジャンル：ニュース／報道 - 定時・総合"},
        {0x0F, "ジャンル：ニュース／報道 - その他"},
        {0x46, "ジャンル：音楽 - ランキング・リクエスト"},
        {0x4A, "ジャンル：音楽 - 民族音楽・ワールドミュージック"},
        {0xB5, "ジャンル：福祉 - 文字（字幕）"},
        {0xFF, "ジャンル：その他 - その他"},
        {0xE0, "ジャンル：拡張"},
        {0xE4, "ジャンル：拡張"},
        // Reserved level 1.
        {0xC0, ""},
        {0xCF, ""},
        {0xD0, ""},
        {0xD5, ""},
        // Unassigned pairs, extension included.
        {0x0B, ""},
        {0x33, ""},
        {0xBE, ""},
        {0xE5, ""},
        {0xEF, ""},
        {0xF0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.nibbles));
        EXPECT_EQ(Sjis(c.utf8), Line(c.nibbles));
    }
}

TEST(GenreTable, PrefixIsGenreAndFullWidthColon) {
    const std::string line = Line(0x00);
    ASSERT_GE(line.size(), 10u);
    // ジャンル then the full-width colon 0x81 0x46.
    EXPECT_EQ(std::string("\x83\x57\x83\x83\x83\x93\x83\x8B\x81\x46"), line.substr(0, 10));
}

TEST(GenreTable, LineIsWholeOrNothing) {
    const std::string full = Line(0x4A);
    const int32_t exact = static_cast<int32_t>(full.size()) + 1;
    struct Case {
        int32_t capacity;
        std::string expected;
    };
    const Case cases[] = {{0, ""}, {1, ""}, {2, ""}, {exact - 1, ""}, {exact, full}, {exact + 1, full}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.capacity);
        EXPECT_EQ(c.expected, Line(0x4A, c.capacity));
    }
}

// Every one of the 256 pairs against the list the table was made from
// (tools/tables/make_text_tables.py): the listed ones give their line, all
// others (reserved, unassigned) none.
TEST(GenreTable, MatchesTheGenreList) {
    std::ifstream file(KESTRIN_REALDATA_DIR "/arib-genres.tsv");
    ASSERT_TRUE(file) << "cannot open " KESTRIN_REALDATA_DIR "/arib-genres.tsv";
    std::map<int, std::string> expected;  // nibbles -> UTF-8 line
    std::string row;
    while (std::getline(file, row)) {
        if (row.empty() || row[0] == '#' || row.compare(0, 6, "level1") == 0) continue;
        std::istringstream fields(row);
        std::string l1, l2, genre, subgenre;
        std::getline(fields, l1, '\t');
        std::getline(fields, l2, '\t');
        std::getline(fields, genre, '\t');
        std::getline(fields, subgenre, '\t');
        const int nibbles = std::stoi(l1, nullptr, 16) << 4 | std::stoi(l2, nullptr, 16);
        expected[nibbles] = "ジャンル：" + genre + (nibbles >> 4 == kGenreExtension ? "" : " - " + subgenre);
    }
    ASSERT_GT(expected.size(), 100u);
    for (int nibbles = 0; nibbles < 256; ++nibbles) {
        SCOPED_TRACE(nibbles);
        const auto it = expected.find(nibbles);
        EXPECT_EQ(it == expected.end() ? std::string() : Sjis(it->second.c_str()),
                  Line(static_cast<uint8_t>(nibbles)));
    }
}

}  // namespace
