// Bounded Shift_JIS copies and appends for the fixed-size event texts.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "plugin/plugin_state.h"
#include "text/shift_jis_text.h"

namespace {

TEST(ShiftJisText, CopyNeverSplitsADoubleByteCharacter) {
    struct Case {
        const char* name;
        std::string source;
        int32_t capacity;
        std::string expected;
    };
    const Case cases[] = {
        {"fits", "ab\x82\xA0", 5, "ab\x82\xA0"},
        {"single bytes cut at capacity - 1", "abcdef", 4, "abc"},
        {"double-byte character that no longer fits", "ab\x82\xA0", 4, "ab"},
        {"lead byte 0x9F", "a\x9F\x40", 3, "a"},
        {"lead byte 0xE0", "a\xE0\x40", 3, "a"},
        {"lead byte 0xFC", "a\xFC\x40", 3, "a"},
        {"0xA0..0xDF are single bytes", "a\xA0\xDF", 3, "a\xA0"},
        {"0x80 and 0xFD are single bytes", "\x80\xFD", 3, "\x80\xFD"},
        {"lone lead byte at the end is dropped", "ab\x81", 10, "ab"},
        {"trail byte that looks like a lead byte", "\x81\x81\x41", 3, "\x81\x81"},
        {"capacity 1 holds the terminator only", "abc", 1, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        char out[16];
        std::memset(out, 0x55, sizeof out);
        const int32_t n = CopyShiftJisBounded(out, c.capacity, c.source.c_str());
        EXPECT_EQ(std::string(out), c.expected);
        EXPECT_EQ(n, static_cast<int32_t>(c.expected.size()));
        for (size_t i = static_cast<size_t>(c.capacity); i < sizeof out; ++i) {
            ASSERT_EQ(out[i], 0x55) << "written past the capacity at " << i;
        }
    }
}

TEST(ShiftJisText, EventTextIsCutAt703BytesOnACharacterBoundary) {
    // 1 + 400 double-byte characters: the 352nd would end at byte 704.
    std::string source = "a";
    for (int i = 0; i < 400; ++i) source += "\x88\x9F";
    char out[kEventTextSize + 8];
    std::memset(out, 0x55, sizeof out);
    EXPECT_EQ(CopyShiftJisBounded(out, kEventTextSize, source.c_str()), 703);
    EXPECT_EQ(out[703], '\0');
    EXPECT_EQ(static_cast<uint8_t>(out[702]), 0x9F);
    // Without the leading single byte the last whole character ends at 702.
    EXPECT_EQ(CopyShiftJisBounded(out, kEventTextSize, source.c_str() + 1), 702);
    EXPECT_EQ(out[704], 0x55);
}

TEST(ShiftJisText, AppendWholeAddsAnEntryOnlyWhenAllOfItFits) {
    char text[8] = "abc";
    EXPECT_TRUE(AppendWhole(text, sizeof text, "1234", 4));
    EXPECT_STREQ(text, "abc1234");
    EXPECT_FALSE(AppendWhole(text, sizeof text, "x", 1));
    EXPECT_STREQ(text, "abc1234");
    char empty[4] = "";
    EXPECT_FALSE(AppendWhole(empty, sizeof empty, "abcd", 4));
    EXPECT_STREQ(empty, "");
    EXPECT_TRUE(AppendWhole(empty, sizeof empty, "abc", 3));
    EXPECT_STREQ(empty, "abc");
}

}  // namespace
