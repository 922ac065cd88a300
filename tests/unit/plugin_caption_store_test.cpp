// The caption on screen and the recent lines of the caption view.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "plugin/caption_store.h"

namespace {

struct Store {
    std::unique_ptr<CaptionStore> owner{new CaptionStore};
    explicit Store(int32_t limit = kCaptionRecentLines) { ClearCaptionStore(*owner, limit); }
    bool Show(const std::string& rows) {
        return ShowCaption(*owner, rows.data(), static_cast<int32_t>(rows.size()));
    }
    std::string Recent(int32_t size = kCaptionRecentTextSize) {
        std::string out(static_cast<size_t>(size > 0 ? size : 1), '\x7F');
        const int32_t n = FormatRecentLines(*owner, &out[0], size);
        if (size <= 0) return out.substr(0, 1) == "\x7F" ? "untouched" : "written";
        EXPECT_EQ(out[static_cast<size_t>(n)], '\0');
        return out.substr(0, static_cast<size_t>(n));
    }
    CaptionStore& s() { return *owner; }
};

TEST(CaptionStore, RowsBecomeTheCurrentCaptionAndJoinTheRecentLines) {
    Store st;
    EXPECT_TRUE(st.Show("\x82\xA0\x82\xA2\n\r\nABC\r\n"));  // あい, an empty row, ABC
    EXPECT_STREQ(st.s().current, "\x82\xA0\x82\xA2\r\nABC");
    EXPECT_EQ(st.Recent(), "\x82\xA0\x82\xA2\r\nABC\r\n");
    // The same statement sent again adds nothing; a cleared screen keeps the lines.
    EXPECT_FALSE(st.Show("\x82\xA0\x82\xA2\nABC"));
    EXPECT_TRUE(ClearCaption(st.s()));
    EXPECT_FALSE(ClearCaption(st.s()));
    EXPECT_STREQ(st.s().current, "");
    EXPECT_TRUE(st.Show("ABC"));
    EXPECT_EQ(st.Recent(), "\x82\xA0\x82\xA2\r\nABC\r\nABC\r\n");
    // Nothing on screen: the screen is clear, and no line joins.
    EXPECT_TRUE(st.Show("\r\n"));
    EXPECT_STREQ(st.s().current, "");
    EXPECT_FALSE(st.Show(""));
    EXPECT_EQ(st.s().lineCount, 3);
    EXPECT_FALSE(ShowCaption(st.s(), nullptr, 5));
}

TEST(CaptionStore, TheOldestLinesGiveWayAtTheLimit) {
    Store st(3);
    for (int i = 1; i <= 5; ++i) st.Show(std::to_string(i));
    EXPECT_EQ(st.Recent(), "3\r\n4\r\n5\r\n");
    Store clamped(100000);
    EXPECT_EQ(clamped.s().lineLimit, kCaptionRecentLines);
    Store one(0);
    EXPECT_EQ(one.s().lineLimit, 1);
    for (int i = 0; i < kCaptionRecentLines + 7; ++i) clamped.Show(std::to_string(i));
    EXPECT_EQ(clamped.s().lineCount, kCaptionRecentLines);
    EXPECT_EQ(clamped.Recent().substr(0, 3), "7\r\n");
}

TEST(CaptionStore, LongRowsAndSmallBuffersEndAtWholeCharactersAndLines) {
    Store st;
    // 300 double-byte characters in one row: the line keeps 127 of them.
    std::string row;
    for (int i = 0; i < 300; ++i) row += "\x82\xA0";
    st.Show(row);
    EXPECT_EQ(std::string(st.s().lines[0]).size(), 254u);
    // A lead byte without its trail byte at the end of the rows is dropped.
    st.Show("AB\x82");
    EXPECT_STREQ(st.s().current, "AB");
    // The formatted lines leave out the oldest whole line that does not fit.
    EXPECT_EQ(st.Recent(10), "AB\r\n");
    EXPECT_EQ(st.Recent(4), "");
    EXPECT_EQ(st.Recent(0), "untouched");
    // A screen longer than the current caption's buffer is cut, not overrun.
    Store big;
    std::string screen;
    for (int i = 0; i < 40; ++i) screen += row + "\n";
    EXPECT_TRUE(big.Show(screen));
    EXPECT_LT(std::string(big.s().current).size(), static_cast<size_t>(kCaptionTextSize));
    EXPECT_EQ(big.s().lineCount, 40);
}

}  // namespace
