// The guide's grid layout, keyboard moves and hit tests over an in-memory
// source: cells and their cuts, the clock line, the days, the moves.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "tests/unit/text_test_helpers.h"
#include "ui/guide_grid.h"

namespace {

const int64_t kDay = (0xEFC6 - 40587) * 86400LL;  // 2026-12-08 (火), midnight in Japan seconds

int64_t At(int hour, int minute, int day = 0) { return kDay + day * 86400LL + hour * 3600 + minute * 60; }

struct Entry {
    int32_t id;
    int64_t start;  // -1 undetermined
    int32_t duration;
    std::string title;  // Shift_JIS
    int32_t genre;
};

struct Column {
    std::string name;
    bool tunable;
    std::vector<Entry> entries;  // in start order
};

struct Fake {
    std::vector<Column> columns;
    int titleReads = 0;

    GridSource Source() {
        GridSource s;
        s.context = this;
        s.columns = static_cast<int32_t>(columns.size());
        s.column = [](void* c, int32_t column, GridColumnInfo& out) {
            const Column& col = static_cast<Fake*>(c)->columns[static_cast<size_t>(column)];
            snprintf(out.name, sizeof out.name, "%s", col.name.c_str());
            out.tunable = col.tunable;
            return true;
        };
        s.count = [](void* c, int32_t column) {
            return static_cast<int32_t>(static_cast<Fake*>(c)->columns[static_cast<size_t>(column)].entries.size());
        };
        s.firstEndingAfter = [](void* c, int32_t column, int64_t time) {
            const auto& e = static_cast<Fake*>(c)->columns[static_cast<size_t>(column)].entries;
            int32_t i = 0;
            while (i < static_cast<int32_t>(e.size()) && e[static_cast<size_t>(i)].start >= 0 &&
                   e[static_cast<size_t>(i)].start + e[static_cast<size_t>(i)].duration <= time) {
                ++i;
            }
            return i;
        };
        s.programme = [](void* c, int32_t column, int32_t index, GridProgramme& out) {
            const auto& e = static_cast<Fake*>(c)->columns[static_cast<size_t>(column)].entries;
            if (index < 0 || index >= static_cast<int32_t>(e.size())) return false;
            const Entry& x = e[static_cast<size_t>(index)];
            out.id = x.id;
            out.startDetermined = x.start >= 0;
            out.start = x.start;
            out.duration = x.duration;
            out.genre = x.genre;
            out.onAir = false;
            return true;
        };
        s.title = [](void* c, int32_t column, int32_t index, char* out, int32_t capacity) {
            Fake* f = static_cast<Fake*>(c);
            ++f->titleReads;
            const std::string& t = f->columns[static_cast<size_t>(column)].entries[static_cast<size_t>(index)].title;
            return static_cast<int32_t>(snprintf(out, static_cast<size_t>(capacity), "%s", t.c_str()));
        };
        return s;
    }
};

// Three services: news and a drama, a column with a gap and a programme of
// unknown length, and an empty one. 180 px an hour, columns of 160.
Fake Sample() {
    Fake f;
    f.columns.push_back({Sjis("ＮＨＫ総合"), true,
                         {{1, At(21, 0), 3600, Sjis("ニュース９[字]"), 0},
                          {2, At(22, 0), 2700, Sjis("連続ドラマ「渡り鳥の空」第３話"), 3},
                          {3, At(22, 45), 900, Sjis("天気予報"), 0}}});
    f.columns.push_back({Sjis("ワンセグ"), false,
                         {{11, At(21, 30), 1800, "Quiz", 5},
                          {12, At(23, 0), 0, Sjis("映画"), 6},
                          {13, At(23, 30), 1800, "Late", 16}}});
    f.columns.push_back({"Empty", true, {}});
    return f;
}

GridViewport View(int hour) {
    GridViewport v = DefaultGridViewport(28 + 3 * 160, 20 + 3 * 180);  // three hours, three columns
    v.dayStart = kDay;
    v.firstMinute = hour * 60;
    return v;
}

const GridCell* CellOf(const GridLayout& l, int32_t id) {
    for (int32_t i = 0; i < l.cellCount; ++i) {
        if (l.cells[i].id == id) return &l.cells[i];
    }
    return nullptr;
}

GridLayout g_layout;  // large: kept off the stack

// Where each programme lands from 21:00: rectangles, cut texts, genre fills,
// the programme on air, and what is not placed.
TEST(GuideGrid, CellsOfTheViewport) {
    Fake f = Sample();
    const GridSource s = f.Source();
    LayoutGrid(s, View(21), At(22, 30), GridSelection{0, 1, 2}, g_layout);
    struct Case {
        int32_t id;
        GridRect rect;
        int32_t genre;
        bool onAir;
        bool selected;
        std::string text;
    } cases[] = {
        {1, {28, 20, 188, 200}, 0, false, false, "21:00 " + Sjis("ニュース９[字]")},
        // 26 widths a line (160 less 4, over 6): the title wraps at a
        // whole character.
        {2, {28, 200, 188, 335}, 3, true, true,
         "22:00 " + Sjis("連続ドラマ「渡り鳥の") + "\n" + Sjis("空」第３話")},
        {3, {28, 335, 188, 380}, 0, false, false, "22:45 " + Sjis("天気予報")},
        {11, {188, 110, 348, 200}, 5, false, false, "21:30 Quiz"},
        // Unknown length: drawn up to the next programme's start.
        {12, {188, 380, 348, 470}, 6, false, false, "23:00 " + Sjis("映画")},
        {13, {188, 470, 348, 560}, kGridNoGenre, false, false, "23:30 Late"},
    };
    ASSERT_EQ(g_layout.cellCount, 6);
    for (const Case& c : cases) {
        const GridCell* cell = CellOf(g_layout, c.id);
        ASSERT_NE(cell, nullptr) << c.id;
        EXPECT_EQ(cell->rect.left, c.rect.left) << c.id;
        EXPECT_EQ(cell->rect.top, c.rect.top) << c.id;
        EXPECT_EQ(cell->rect.right, c.rect.right) << c.id;
        EXPECT_EQ(cell->rect.bottom, c.rect.bottom) << c.id;
        EXPECT_EQ(cell->genre, c.genre) << c.id;
        EXPECT_EQ(cell->fill, GridGenreColour(c.genre)) << c.id;
        EXPECT_EQ(cell->onAir, c.onAir) << c.id;
        EXPECT_EQ(cell->selected, c.selected) << c.id;
        EXPECT_EQ(cell->text, c.text) << c.id;
    }
    ASSERT_EQ(g_layout.headerCount, 3);
    EXPECT_EQ(std::string(g_layout.headers[0].name), Sjis("ＮＨＫ総合"));
    EXPECT_FALSE(g_layout.headers[1].tunable);
    EXPECT_EQ(g_layout.headers[2].rect.left, 348);
    EXPECT_EQ(g_layout.clockY, 20 + 270);
    ASSERT_EQ(g_layout.hourCount, 3);
    EXPECT_EQ(std::string(g_layout.hours[1].label), "22");
    EXPECT_EQ(g_layout.hours[1].top, 200);
    EXPECT_EQ(g_layout.hours[1].bottom, 380);
}

// Titles are read only for the cells shown: a scroll to the morning reads
// none of the evening's.
TEST(GuideGrid, OnlyVisibleTitlesAreRead) {
    Fake f = Sample();
    LayoutGrid(f.Source(), View(6), -1, kNoGridSelection, g_layout);
    EXPECT_EQ(g_layout.cellCount, 0);
    EXPECT_EQ(f.titleReads, 0);
    EXPECT_EQ(g_layout.clockY, -1);
}

// Edges of the data: undetermined starts, zero and overlapping lengths,
// programmes that cross midnight or the view's edges.
TEST(GuideGrid, AwkwardProgrammesArePlacedSafely) {
    struct Case {
        const char* name;
        std::vector<Entry> entries;
        std::vector<std::pair<int32_t, GridRect>> cells;  // id, rectangle
    } cases[] = {
        {"undetermined start", {{1, -1, 600, "x", 0}}, {}},
        {"two at the same second: the later in the list holds it",
         {{1, At(21, 0), 600, "a", 0}, {2, At(21, 0), 600, "b", 0}},
         {{2, {28, 20, 188, 50}}}},
        {"overlap: the earlier cut at the later's start",
         {{1, At(21, 0), 3600, "a", 0}, {2, At(21, 30), 600, "b", 0}},
         {{1, {28, 20, 188, 110}}, {2, {28, 110, 188, 140}}}},
        {"from the day before, into the view", {{1, At(23, 0, -1), 23 * 3600, "a", 0}},
         {{1, {28, 20, 188, 200}}}},
        {"past the bottom: cut at the grid's edge", {{1, At(23, 30), 7200, "a", 0}},
         {{1, {28, 470, 188, 560}}}},
        {"a second long", {{1, At(22, 0), 1, "a", 0}}, {}},
        {"a minute long: a thin cell without text", {{1, At(22, 0), 60, "abc", 0}},
         {{1, {28, 200, 188, 203}}}},
        {"undetermined start among the rest", {{1, At(21, 0), 600, "a", 0}, {2, -1, 0, "b", 0}},
         {{1, {28, 20, 188, 50}}}},
        // The source takes an unknown length as ended at its start; the
        // grid draws it an hour from there, so from the view's top here.
        {"unknown length, started before the top", {{1, At(20, 30), 0, "a", 0}, {2, At(22, 0), 600, "b", 0}},
         {{1, {28, 20, 188, 110}}, {2, {28, 200, 188, 230}}}},
    };
    for (const Case& c : cases) {
        Fake f;
        f.columns.push_back({"S", true, c.entries});
        LayoutGrid(f.Source(), View(21), -1, kNoGridSelection, g_layout);
        ASSERT_EQ(g_layout.cellCount, static_cast<int32_t>(c.cells.size())) << c.name;
        for (size_t i = 0; i < c.cells.size(); ++i) {
            const GridCell& cell = g_layout.cells[i];
            EXPECT_EQ(cell.id, c.cells[i].first) << c.name;
            EXPECT_EQ(cell.rect.top, c.cells[i].second.top) << c.name;
            EXPECT_EQ(cell.rect.bottom, c.cells[i].second.bottom) << c.name;
            EXPECT_GE(cell.rect.top, 20) << c.name;
            EXPECT_LE(cell.rect.bottom, 560) << c.name;
        }
    }
    // The one-minute cell keeps no text: no line fits it.
    Fake thin;
    thin.columns.push_back({"S", true, {{1, At(22, 0), 60, "abc", 0}}});
    LayoutGrid(thin.Source(), View(21), -1, kNoGridSelection, g_layout);
    ASSERT_EQ(g_layout.cellCount, 1);
    EXPECT_STREQ(g_layout.cells[0].text, "");
}

// A column of one-minute programmes all day, twenty columns wide: more
// cells than a pass holds. The passes lay every one out once, in column
// order (the right-hand columns too), the first pass full; a click finds a
// cell of any pass, and one at a column's first pixel is that column's.
TEST(GuideGrid, ManyProgrammesComeInPasses) {
    const int kColumns = 20;
    const int kMinutes = 24 * 60;
    Fake f;
    for (int c = 0; c < kColumns; ++c) {
        Column col{"S", true, {}};
        for (int m = 0; m < kMinutes; ++m) col.entries.push_back({c * kMinutes + m, At(m / 60, m % 60), 60, "t", 0});
        f.columns.push_back(col);
    }
    const GridSource s = f.Source();
    GridViewport v = DefaultGridViewport(28 + kColumns * 40, 20 + 24 * 60);
    v.dayStart = kDay;
    v.columnWidth = 40;
    v.pixelsPerHour = 60;  // a pixel a minute
    LayoutGrid(s, v, -1, kNoGridSelection, g_layout);
    EXPECT_EQ(g_layout.cellCount, kGridMaxCells);
    EXPECT_EQ(g_layout.headerCount, kColumns);
    std::vector<int> seen(static_cast<size_t>(kColumns * kMinutes), 0);
    int32_t passes = 0;
    int32_t lastColumn = 0;
    do {
        ++passes;
        ASSERT_LE(g_layout.cellCount, kGridMaxCells);
        for (int32_t i = 0; i < g_layout.cellCount; ++i) {
            const GridCell& cell = g_layout.cells[i];
            ASSERT_GE(cell.id, 0);
            ASSERT_LT(cell.id, kColumns * kMinutes);
            ++seen[static_cast<size_t>(cell.id)];
            EXPECT_EQ(cell.column, cell.id / kMinutes);
            EXPECT_EQ(cell.rect.left, 28 + cell.column * 40);
            EXPECT_EQ(cell.rect.top, 20 + cell.id % kMinutes);
            EXPECT_GE(cell.column, lastColumn);
            lastColumn = cell.column;
        }
    } while (NextGridCells(s, g_layout));
    EXPECT_EQ(passes, (kColumns * kMinutes + kGridMaxCells - 1) / kGridMaxCells);
    EXPECT_EQ(std::count(seen.begin(), seen.end(), 1), kColumns * kMinutes);
    // Past the last pass: nothing more, the layout as it was.
    const int32_t lastCount = g_layout.cellCount;
    EXPECT_FALSE(NextGridCells(s, g_layout));
    EXPECT_EQ(g_layout.cellCount, lastCount);

    const struct {
        const char* name;
        int32_t x, y;
        int32_t column;
        int32_t id;
    } clicks[] = {
        {"the first pass's first cell", 28, 20, 0, 0},
        {"the first column's last", 67, 20 + kMinutes - 1, 0, kMinutes - 1},
        {"the second column's first pixel", 68, 20 + 30, 1, kMinutes + 30},
        {"the last column, last minute", 28 + kColumns * 40 - 1, 20 + kMinutes - 1, kColumns - 1,
         kColumns * kMinutes - 1},
        {"a middle column in the evening", 28 + 10 * 40, 20 + 21 * 60, 10, 10 * kMinutes + 21 * 60},
    };
    for (const auto& c : clicks) {
        // From whatever pass the layout was left at: the last one drawn.
        while (NextGridCells(s, g_layout)) {
        }
        const GridHit hit = GridHitTestAllPasses(s, g_layout, c.x, c.y);
        EXPECT_EQ(hit.kind, GridHitKind::kCell) << c.name;
        EXPECT_EQ(hit.column, c.column) << c.name;
        EXPECT_EQ(hit.id, c.id) << c.name;
    }
    EXPECT_EQ(GridHitTestAllPasses(s, g_layout, 5, 100).kind, GridHitKind::kNothing);
    EXPECT_EQ(GridHitTestAllPasses(s, g_layout, 28 + 3 * 40, 5).column, 3);
}

// Which programme is on air at the broadcast clock: from its start second
// up to, not including, its end second, where only the next one is.
TEST(GuideGrid, OnAirFromTheStartSecondToBeforeTheEndSecond) {
    Fake f = Sample();
    const struct {
        const char* name;
        int64_t now;
        std::vector<int32_t> onAir;  // ids
    } cases[] = {
        {"the news's first second", At(21, 0), {1}},
        {"the news's last second", At(22, 0) - 1, {1, 11}},
        {"the news's end: the drama only", At(22, 0), {2}},
        {"the drama's end: the weather only", At(22, 45), {3}},
        {"an unknown length: on air up to the next start", At(23, 30) - 1, {12}},
        {"the next start", At(23, 30), {13}},
        {"no clock", -1, {}},
    };
    for (const auto& c : cases) {
        LayoutGrid(f.Source(), View(21), c.now, kNoGridSelection, g_layout);
        std::vector<int32_t> onAir;
        for (int32_t i = 0; i < g_layout.cellCount; ++i) {
            if (g_layout.cells[i].onAir) onAir.push_back(g_layout.cells[i].id);
        }
        std::sort(onAir.begin(), onAir.end());
        EXPECT_EQ(onAir, c.onAir) << c.name;
    }
}

// The wheel: whole notches scroll an hour each; a fine wheel's or a
// touchpad's small deltas add up to the same; a turn back starts afresh.
TEST(GuideGrid, WheelDeltasAddUp) {
    const struct {
        const char* name;
        std::vector<int32_t> deltas;
        int32_t minutesPerNotch;
        std::vector<int32_t> minutes;  // after each delta
    } cases[] = {
        {"a notch forward, one back", {120, -120}, 60, {60, -60}},
        {"two notches at once", {240}, 60, {120}},
        {"quarter notches", {30, 30, 30, 30}, 60, {15, 15, 15, 15}},
        {"a touchpad's single units", {1, 1, 1, 1}, 60, {0, 1, 0, 1}},
        {"a fifth of a notch at a time", {24, 24, 24, 24, 24}, 60, {12, 12, 12, 12, 12}},
        {"a seventh at a time: the rest carried", {17, 17, 17, 17, 17, 17, 17}, 60, {8, 9, 8, 9, 8, 9, 8}},
        {"small steps back", {-40, -40, -40}, 60, {-20, -20, -20}},
        {"a turn back drops what was left", {1, -1, -1}, 60, {0, 0, -1}},
        {"half an hour a notch", {80, 80, 80}, 30, {20, 20, 20}},
    };
    for (const auto& c : cases) {
        int32_t remainder = 0;
        std::vector<int32_t> minutes;
        for (int32_t delta : c.deltas) minutes.push_back(GridWheelMinutes(delta, c.minutesPerNotch, remainder));
        EXPECT_EQ(minutes, c.minutes) << c.name;
    }
    // Whatever comes in, the remainder stays under a notch.
    int32_t remainder = 0x7FFFFFFF;
    EXPECT_EQ(GridWheelMinutes(120, 60, remainder), 60);
    EXPECT_EQ(remainder, 0);
    EXPECT_EQ(GridWheelMinutes(0x7FFFFFFF, 1 << 30, remainder), 0x7FFF * 1440 / 120);
}

// Shift_JIS cutting: widths per character, never half a double-byte one.
TEST(GuideGrid, TextIsCutAtWholeCharacters) {
    struct Case {
        const char* name;
        std::string text;
        int32_t columns;
        int32_t lines;
        int32_t capacity;
        std::string expected;
    } cases[] = {
        {"fits", "abc", 5, 1, 32, "abc"},
        {"cut on one line", "abcdef", 4, 1, 32, "abcd"},
        {"wrapped", "abcdef", 4, 2, 32, "abcd\nef"},
        {"double-byte not split at a line's end", "a" + Sjis("字幕"), 4, 2, 32, "a" + Sjis("字") + "\n" + Sjis("幕")},
        {"double-byte wider than a line", Sjis("字"), 1, 3, 32, ""},
        {"a lead byte without its trail byte", "ab\x93", 5, 1, 32, "ab"},
        {"half-width katakana are single", "\xB6\xC5", 2, 1, 32, "\xB6\xC5"},
        {"control bytes become spaces", "a\r\nb", 8, 1, 32, "a  b"},
        {"the buffer ends first, whole characters", Sjis("番組表"), 20, 1, 5, Sjis("番組")},
        {"no lines", "abc", 5, 0, 32, ""},
    };
    for (const Case& c : cases) {
        char out[64];
        const int32_t n = CutGridText(c.text.c_str(), c.columns, c.lines, out, c.capacity);
        EXPECT_EQ(std::string(out), c.expected) << c.name;
        EXPECT_EQ(n, static_cast<int32_t>(c.expected.size())) << c.name;
    }
}

// Titles break as Japanese text does: the break moves back so that no line
// starts with a closing bracket, 、。・ー or a small kana, none ends with an
// opening bracket, and a bracketed symbol or an ASCII word stays whole. The
// last line, where the title is cut, keeps no half symbol or lone opening
// bracket. Real titles; widths in single-byte columns as the grid measures
// them. BreakGridText's ends give the same lines.
TEST(GuideGrid, TitlesBreakLikeJapaneseText) {
    struct Case {
        const char* name;
        const char* text;  // UTF-8
        int32_t columns;
        int32_t lines;
        int32_t capacity;
        const char* expected;  // UTF-8, lines joined by '\n'
    } cases[] = {
        {"a symbol stays whole, a closing bracket ends the line", "ドラマ「北の灯台守」[字][二]", 21, 2, 64,
         "ドラマ「北の灯台守」\n[字][二]"},
        {"a closing bracket takes the character before it along", "ドラマ「北の灯台守」[字]", 19, 2, 64,
         "ドラマ「北の灯台\n守」[字]"},
        {"an opening bracket goes with what it opens", "アニメ　おじゃる丸「遠い約束」[字]", 20, 2, 64,
         "アニメ　おじゃる丸\n「遠い約束」[字]"},
        {"small っ never starts a line", "おかあさんといっしょ[字]", 14, 2, 64, "おかあさんと\nいっしょ[字]"},
        {"small ょ never starts a line", "おかあさんといっしょ[字]", 18, 2, 64, "おかあさんといっ\nしょ[字]"},
        {"small ュ and ー never start a line", "ＮＨＫニュース７", 8, 2, 64, "ＮＨＫ\nニュース"},
        {"ー after ュ: both stay with ニ", "ＮＨＫニュース７", 10, 2, 64, "ＮＨＫ\nニュース７"},
        {"the middle dot never starts a line", "天気予報・交通情報", 8, 2, 64, "天気予\n報・交通"},
        {"the full stop never starts a line", "あさイチ。特集", 8, 2, 64, "あさイ\nチ。特集"},
        {"a bracketed ASCII symbol stays whole", "プロ野球[HV][字]", 10, 2, 64, "プロ野球\n[HV][字]"},
        {"full-width brackets stay with the symbol", "ニュース［字］", 10, 2, 64, "ニュース\n［字］"},
        {"an ASCII word stays whole", "21:30 Quiz Show", 8, 3, 64, "21:30 \nQuiz \nShow"},
        {"a space at the edge hangs", "アニメ　おじゃる丸", 7, 2, 64, "アニメ　\nおじゃ"},
        {"half-width small kana and ｰ never start a line", "ｱﾆﾒｰｼｮﾝ", 3, 3, 64, "ｱﾆ\nﾒｰ\nｼｮﾝ"},
        // The cut at the end of the last line.
        {"cut: no lone opening bracket at the end", "アニメ　おじゃる丸「遠い約束」", 20, 1, 64,
         "アニメ　おじゃる丸"},
        {"cut: no half symbol at the end", "ニュース９[字]", 12, 1, 64, "ニュース９"},
        {"cut by the buffer: no half symbol", "ab[PPV]", 20, 1, 6, "ab"},
        {"cut: a closing bracket may be cut off", "ドラマ「北の灯台守」", 19, 1, 64, "ドラマ「北の灯台守"},
        // Nothing better: cut where the width runs out.
        {"a symbol wider than a line", "[PPV]", 3, 2, 64, "[PP\nV]"},
        {"a word wider than a line", "Documentary", 4, 3, 64, "Docu\nment\nary"},
        {"small kana only", "ッッッ", 4, 2, 64, "ッッ\nッ"},
        {"an open square bracket without its close is no symbol", "[ab cd", 4, 2, 64, "[ab \ncd"},
    };
    for (const Case& c : cases) {
        const std::string text = Sjis(c.text);
        const std::string expected = Sjis(c.expected);
        char out[64];
        const int32_t n = CutGridText(text.c_str(), c.columns, c.lines, out, c.capacity);
        EXPECT_EQ(std::string(out), expected) << c.name;
        EXPECT_EQ(n, static_cast<int32_t>(expected.size())) << c.name;
        int32_t ends[8];
        const int32_t lines = BreakGridText(text.c_str(), c.columns, c.lines, c.capacity - 1, ends);
        std::string joined;
        for (int32_t i = 0, from = 0; i < lines; from = ends[i++]) {
            if (i > 0) joined += '\n';
            joined += text.substr(static_cast<size_t>(from), static_cast<size_t>(ends[i] - from));
        }
        EXPECT_EQ(joined, expected) << c.name;
    }
}

// The broadcast clock's line: where it falls, or none.
TEST(GuideGrid, ClockLine) {
    Fake f = Sample();
    const struct {
        const char* name;
        int64_t now;
        int32_t y;
    } cases[] = {
        {"unknown", -1, -1},
        {"at the top", At(21, 0), 20},
        {"21:20", At(21, 20), 80},
        {"the last visible second", At(23, 59) + 59, 20 + 539},
        {"just below the view", At(0, 0, 1), -1},
        {"the day before", At(22, 0, -1), -1},
    };
    for (const auto& c : cases) {
        LayoutGrid(f.Source(), View(21), c.now, kNoGridSelection, g_layout);
        EXPECT_EQ(g_layout.clockY, c.y) << c.name;
    }
    // The view is clamped to the end of the day: three hours show 21:00-24:00.
    LayoutGrid(f.Source(), View(23), At(23, 59) + 59, kNoGridSelection, g_layout);
    EXPECT_EQ(g_layout.view.firstMinute, 21 * 60);
    EXPECT_EQ(g_layout.clockY, 20 + 539);
}

// The date tabs: the days held, with their labels; from today when more.
TEST(GuideGrid, DaysHeld) {
    const struct {
        const char* name;
        std::vector<Entry> entries;
        int64_t now;
        int32_t count;
        int64_t first;
        const char* firstLabel;  // UTF-8
    } cases[] = {
        {"nothing, no clock", {}, -1, 0, 0, ""},
        {"nothing: today", {}, At(10, 0, 2), 1, kDay + 2 * 86400, "12/10(木)"},
        {"one day", {{1, At(21, 0), 3600, "", 0}}, -1, 1, kDay, "12/08(火)"},
        {"ending at midnight stays on its day", {{1, At(23, 0), 3600, "", 0}}, -1, 1, kDay, "12/08(火)"},
        {"crossing midnight", {{1, At(23, 0), 7200, "", 0}}, -1, 2, kDay, "12/08(火)"},
        {"three days", {{1, At(1, 0), 60, "", 0}, {2, At(1, 0, 2), 60, "", 0}}, -1, 3, kDay, "12/08(火)"},
        {"more than the tabs: from today",
         {{1, At(1, 0, -5), 60, "", 0}, {2, At(1, 0, 8), 60, "", 0}}, At(12, 0), 9, kDay, "12/08(火)"},
    };
    for (const auto& c : cases) {
        Fake f;
        f.columns.push_back({"S", true, c.entries});
        GridDays days;
        GridHeldDays(f.Source(), c.now, days);
        ASSERT_EQ(days.count, c.count) << c.name;
        if (c.count == 0) continue;
        EXPECT_EQ(days.start[0], c.first) << c.name;
        EXPECT_EQ(std::string(days.label[0]), Sjis(c.firstLabel)) << c.name;
    }
}

// Keyboard moves from a selection, each a case: where the selection goes,
// and the day shown after it.
TEST(GuideGrid, KeyboardMoves) {
    Fake f = Sample();
    f.columns[0].entries.push_back({4, At(21, 0, 1), 3600, "tomorrow", 0});
    const GridSource s = f.Source();
    GridDays days;
    GridHeldDays(s, -1, days);
    ASSERT_EQ(days.count, 2);
    const int64_t now = At(22, 30);
    const struct {
        const char* name;
        GridSelection from;
        int hour;  // of the view
        GridKey key;
        bool moved;
        int32_t id;  // selected after, -1 none
        int64_t day;
    } cases[] = {
        {"right from the drama on air: at the clock, a gap there: the next", {0, 1, 2}, 21, GridKey::kRight,
         true, 12, kDay},
        {"right from the news: nothing at its start, the first after", {0, 0, 1}, 21, GridKey::kRight, true, 11,
         kDay},
        {"left from the quiz: the news on at 21:30", {1, 0, 11}, 21, GridKey::kLeft, true, 1, kDay},
        {"right into an empty column: stays", {1, 0, 11}, 21, GridKey::kRight, false, 11, kDay},
        {"left at the first column: stays", {0, 0, 1}, 21, GridKey::kLeft, false, 1, kDay},
        {"down", {0, 0, 1}, 21, GridKey::kDown, true, 2, kDay},
        {"up at the first: stays", {0, 0, 1}, 21, GridKey::kUp, false, 1, kDay},
        {"down to the next day", {0, 2, 3}, 21, GridKey::kDown, true, 4, kDay + 86400},
        {"page down: tomorrow's at the same time", {0, 0, 1}, 21, GridKey::kPageDown, true, 4, kDay + 86400},
        {"page up on the first day: stays", {0, 0, 1}, 21, GridKey::kPageUp, false, 1, kDay},
        {"page down with nothing that day in the column", {1, 0, 11}, 21, GridKey::kPageDown, true, -1,
         kDay + 86400},
        {"home: the programme on air", {0, 0, 1}, 6, GridKey::kHome, true, 2, kDay},
        {"nothing selected, down: the first shown", kNoGridSelection, 21, GridKey::kDown, true, 1, kDay},
        {"nothing selected, right: the first column at the middle", kNoGridSelection, 21, GridKey::kRight, true, 2,
         kDay},
        {"an index out of date is found by its id", {0, 7, 2}, 21, GridKey::kDown, true, 3, kDay},
    };
    for (const auto& c : cases) {
        GridViewport v = View(c.hour);
        GridSelection sel = c.from;
        EXPECT_EQ(MoveGridSelection(s, days, now, c.key, v, sel), c.moved) << c.name;
        EXPECT_EQ(sel.id, c.id) << c.name;
        EXPECT_EQ(v.dayStart, c.day) << c.name;
        if (sel.id < 0) continue;
        // The selection shows.
        LayoutGrid(s, v, now, sel, g_layout);
        const GridCell* cell = CellOf(g_layout, sel.id);
        ASSERT_NE(cell, nullptr) << c.name;
        EXPECT_TRUE(cell->selected) << c.name;
    }
}

// A move that needs scrolling brings the selection into view, across columns
// too.
TEST(GuideGrid, MovesScrollTheSelectionIntoView) {
    Fake f;
    for (int c = 0; c < 8; ++c) {
        f.columns.push_back({"S", true, {{c * 10 + 1, At(5, 0), 3600, "a", 0}, {c * 10 + 2, At(20, 0), 3600, "b", 0}}});
    }
    const GridSource s = f.Source();
    GridDays days;
    GridHeldDays(s, -1, days);
    GridViewport v = View(4);
    GridSelection sel = {0, 0, 1};
    ASSERT_TRUE(MoveGridSelection(s, days, -1, GridKey::kDown, v, sel));
    EXPECT_EQ(sel.id, 2);
    EXPECT_EQ(v.firstMinute, 20 * 60);
    for (int i = 1; i < 8; ++i) ASSERT_TRUE(MoveGridSelection(s, days, -1, GridKey::kRight, v, sel));
    EXPECT_EQ(sel.id, 72);
    EXPECT_EQ(v.firstColumn, 5);
}

// Down onto a programme that begins in view but runs past its bottom: the
// view goes down until the programme's end shows, or, for one longer than
// the view, until its start is at the top; one wholly in view moves nothing.
TEST(GuideGrid, DownOntoAProgrammeRunningPastTheBottomShowsItWhole) {
    const struct {
        const char* name;
        int64_t nextStart;
        int32_t nextLength;
        int32_t firstMinute;  // of the view after the move
    } cases[] = {
        {"20:50-21:40, the view 18:00-21:00: down to 18:40", At(20, 50), 50 * 60, 18 * 60 + 40},
        {"20:50-21:40:30, a second into a minute: 18:41", At(20, 50), 50 * 60 + 30, 18 * 60 + 41},
        {"20:50 for four hours, longer than the view: its start at the top", At(20, 50), 4 * 3600, 20 * 60 + 50},
        {"20:00-20:50, wholly in view: no scroll", At(20, 0), 50 * 60, 18 * 60},
    };
    for (const auto& c : cases) {
        Fake f;
        f.columns.push_back({"S", true, {{1, At(18, 0), 1800, "a", 0}, {2, c.nextStart, c.nextLength, "b", 0}}});
        const GridSource s = f.Source();
        GridDays days;
        GridHeldDays(s, -1, days);
        GridViewport v = View(18);
        GridSelection sel = {0, 0, 1};
        ASSERT_TRUE(MoveGridSelection(s, days, -1, GridKey::kDown, v, sel)) << c.name;
        EXPECT_EQ(sel.id, 2) << c.name;
        EXPECT_EQ(v.firstMinute, c.firstMinute) << c.name;
    }
}

// Hit tests on the laid-out grid: a cell, a header, the axis and the gaps.
TEST(GuideGrid, HitTests) {
    Fake f = Sample();
    LayoutGrid(f.Source(), View(21), -1, kNoGridSelection, g_layout);
    const struct {
        const char* name;
        int32_t x, y;
        GridHitKind kind;
        int32_t column;
        int32_t id;
    } cases[] = {
        {"the news", 30, 25, GridHitKind::kCell, 0, 1},
        {"the drama's last pixel row", 187, 334, GridHitKind::kCell, 0, 2},
        {"the weather's first", 28, 335, GridHitKind::kCell, 0, 3},
        {"the second column's first pixel", 188, 120, GridHitKind::kCell, 1, 11},
        {"the second header's first pixel", 188, 5, GridHitKind::kHeader, 1, -1},
        {"the gap in the second column", 200, 50, GridHitKind::kNothing, -1, -1},
        {"a header", 200, 5, GridHitKind::kHeader, 1, -1},
        {"the empty column's header", 400, 0, GridHitKind::kHeader, 2, -1},
        {"the hours' axis", 5, 100, GridHitKind::kNothing, -1, -1},
        {"outside", 9999, -5, GridHitKind::kNothing, -1, -1},
    };
    for (const auto& c : cases) {
        const GridHit hit = GridHitTest(g_layout, c.x, c.y);
        EXPECT_EQ(hit.kind, c.kind) << c.name;
        EXPECT_EQ(hit.column, c.column) << c.name;
        EXPECT_EQ(hit.id, c.id) << c.name;
    }
}

// Viewports no window would ask for: nothing outside the grid's arrays,
// nothing outside the client area.
TEST(GuideGrid, HostileViewportsStayInBounds) {
    Fake f = Sample();
    const GridViewport sane = View(21);
    GridViewport cases[6];
    for (GridViewport& v : cases) v = sane;
    cases[0].width = cases[0].height = 0;
    cases[1].pixelsPerHour = 0;
    cases[1].columnWidth = -5;
    cases[2].firstColumn = 1 << 30;
    cases[2].firstMinute = -100000;
    cases[3].charWidth = 0;
    cases[3].lineHeight = 0;
    cases[4].width = cases[4].height = 0x7FFFFFFF;
    cases[5].dayStart = kDay + 12345;  // not a midnight
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        LayoutGrid(f.Source(), cases[i], At(22, 0), kNoGridSelection, g_layout);
        EXPECT_LE(g_layout.cellCount, kGridMaxCells) << i;
        for (int32_t k = 0; k < g_layout.cellCount; ++k) {
            const GridRect& r = g_layout.cells[k].rect;
            EXPECT_LT(r.top, r.bottom) << i;
            EXPECT_GE(r.top, g_layout.view.headerHeight) << i;
            EXPECT_LE(r.bottom, g_layout.view.height) << i;
            EXPECT_LE(r.right, g_layout.view.width) << i;
        }
    }
    EXPECT_EQ(g_layout.view.dayStart, kDay);
}

// The legend: every genre a viewer knows by name, with its fill, names from
// the genre table; the extension nibble (0xE) is no genre to a viewer and
// is left out.
TEST(GuideGrid, LegendNamesEachGenre) {
    GridLegendEntry entries[16];
    const int32_t n = GridLegend(entries, 16);
    ASSERT_EQ(n, 13);  // 0xC and 0xD are reserved, 0xE the extension
    EXPECT_EQ(std::string(entries[0].name), Sjis("ニュース／報道"));
    EXPECT_EQ(entries[3].colour, GridGenreColour(3));
    EXPECT_EQ(entries[11].genre, 0xB);
    EXPECT_EQ(entries[12].genre, 0xF);
    EXPECT_EQ(std::string(entries[12].name), Sjis("その他"));
    for (int32_t i = 0; i < n; ++i) EXPECT_NE(std::string(entries[i].name), Sjis("拡張")) << i;
    EXPECT_EQ(GridLegend(entries, 2), 2);
    EXPECT_EQ(GridGenreColour(-1), GridGenreColour(kGridNoGenre));
    EXPECT_EQ(GridGenreColour(99), GridGenreColour(kGridNoGenre));
}

// Colour science for the fills: sRGB to CIELAB (D65), and the colour-vision
// deficiencies of Machado, Oliveira and Fernandes (2009, severity 1),
// applied in linear RGB.
struct Lab {
    double l, a, b;
};

double Linear(uint32_t channel) {
    const double c = channel / 255.0;
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

enum class Vision { kNormal, kProtanopia, kDeuteranopia, kTritanopia };

const double kMachado[3][3][3] = {
    {{0.152286, 1.052583, -0.204868}, {0.114503, 0.786281, 0.099216}, {-0.003882, -0.048116, 1.051998}},
    {{0.367322, 0.860646, -0.227968}, {0.280085, 0.672501, 0.047413}, {-0.011820, 0.042940, 0.968881}},
    {{1.255528, -0.076749, -0.178779}, {-0.078411, 0.930809, 0.147602}, {0.004733, 0.691367, 0.303900}},
};

// Relative luminance and CIELAB of a 0x00BBGGRR fill as seen in `vision`.
void Seen(uint32_t colour, Vision vision, double& luminance, Lab& lab) {
    double rgb[3] = {Linear(colour & 0xFF), Linear(colour >> 8 & 0xFF), Linear(colour >> 16 & 0xFF)};
    if (vision != Vision::kNormal) {
        const double(&m)[3][3] = kMachado[static_cast<int>(vision) - 1];
        double out[3];
        for (int i = 0; i < 3; ++i) {
            out[i] = m[i][0] * rgb[0] + m[i][1] * rgb[1] + m[i][2] * rgb[2];
            out[i] = out[i] < 0 ? 0 : (out[i] > 1 ? 1 : out[i]);
        }
        for (int i = 0; i < 3; ++i) rgb[i] = out[i];
    }
    const double x = 0.4124564 * rgb[0] + 0.3575761 * rgb[1] + 0.1804375 * rgb[2];
    const double y = 0.2126729 * rgb[0] + 0.7151522 * rgb[1] + 0.0721750 * rgb[2];
    const double z = 0.0193339 * rgb[0] + 0.1191920 * rgb[1] + 0.9503041 * rgb[2];
    const auto f = [](double t) { return t > 216.0 / 24389 ? std::cbrt(t) : (24389.0 / 27 * t + 16) / 116; };
    const double fx = f(x / 0.95047);
    const double fy = f(y);
    const double fz = f(z / 1.08883);
    luminance = y;
    lab = Lab{116 * fy - 16, 500 * (fx - fy), 200 * (fy - fz)};
}

double DeltaE76(const Lab& p, const Lab& q) {
    return std::sqrt((p.l - q.l) * (p.l - q.l) + (p.a - q.a) * (p.a - q.a) + (p.b - q.b) * (p.b - q.b));
}

// The arithmetic above against known values: white and sRGB red in CIELAB,
// and each deficiency leaves white and black as they are.
TEST(GuideGrid, ColourScienceOfTheTest) {
    double y = 0;
    Lab lab;
    Seen(0x0000FF, Vision::kNormal, y, lab);
    EXPECT_NEAR(lab.l, 53.24, 0.01);
    EXPECT_NEAR(lab.a, 80.09, 0.01);
    EXPECT_NEAR(lab.b, 67.20, 0.01);
    EXPECT_NEAR(y, 0.2126, 0.0001);
    for (Vision v : {Vision::kNormal, Vision::kProtanopia, Vision::kDeuteranopia, Vision::kTritanopia}) {
        Seen(0xFFFFFF, v, y, lab);
        EXPECT_NEAR(lab.l, 100, 0.01);
        EXPECT_NEAR(lab.a, 0, 0.01);
        EXPECT_NEAR(lab.b, 0, 0.01);
        Seen(0x000000, v, y, lab);
        EXPECT_NEAR(lab.l, 0, 0.01);
    }
    // Red and green, told apart by normal vision, run together without
    // the red cones.
    Lab red;
    Lab green;
    Seen(0x0000FF, Vision::kProtanopia, y, red);
    Seen(0x00FF00, Vision::kProtanopia, y, green);
    Lab redNormal;
    Lab greenNormal;
    Seen(0x0000FF, Vision::kNormal, y, redNormal);
    Seen(0x00FF00, Vision::kNormal, y, greenNormal);
    EXPECT_LT(DeltaE76(red, green), DeltaE76(redNormal, greenNormal) / 2);
}

// Every genre a viewer can tell by name, the programme without a genre and
// the empty time (white, where no programme is) are told apart by colour,
// in normal vision and in protanopia, deuteranopia and tritanopia: each
// pair at least 10 CIE76 units apart (a difference that shows between two
// cells side by side; 2.3 is the least noticeable). Black text reads on
// each: contrast 7:1 or more. No genre is a neutral grey, and the
// extension and reserved nibbles take the colour of "other".
TEST(GuideGrid, GenreColoursAreToldApartInEveryVision) {
    const double kLeastDifference = 10.0;
    struct Fill {
        const char* name;
        uint32_t colour;
    };
    std::vector<Fill> fills;
    const char* const names[] = {"news", "sports", "information", "drama", "music", "variety", "film", "animation",
                                 "documentary", "theatre", "hobby", "welfare"};
    for (int32_t genre = 0; genre < 12; ++genre) fills.push_back({names[genre], GridGenreColour(genre)});
    fills.push_back({"other", GridGenreColour(0xF)});
    fills.push_back({"no genre", GridGenreColour(kGridNoGenre)});
    fills.push_back({"empty time", 0xFFFFFF});
    const struct {
        const char* name;
        Vision vision;
    } visions[] = {
        {"normal", Vision::kNormal},
        {"protanopia", Vision::kProtanopia},
        {"deuteranopia", Vision::kDeuteranopia},
        {"tritanopia", Vision::kTritanopia},
    };
    for (const auto& v : visions) {
        for (size_t i = 0; i < fills.size(); ++i) {
            double y = 0;
            Lab p;
            Seen(fills[i].colour, v.vision, y, p);
            if (v.vision == Vision::kNormal) {
                EXPECT_GE((y + 0.05) / 0.05, 7.0) << fills[i].name;
            }
            for (size_t j = i + 1; j < fills.size(); ++j) {
                Lab q;
                Seen(fills[j].colour, v.vision, y, q);
                EXPECT_GE(DeltaE76(p, q), kLeastDifference) << v.name << ": " << fills[i].name << " / " << fills[j].name;
            }
        }
    }
    const uint32_t none = GridGenreColour(kGridNoGenre);
    EXPECT_EQ(none & 0xFF, none >> 8 & 0xFF);
    EXPECT_EQ(none & 0xFF, none >> 16 & 0xFF);
    EXPECT_NE(none, 0xFFFFFFu);
    for (int32_t genre : {0xC, 0xD, 0xE}) EXPECT_EQ(GridGenreColour(genre), GridGenreColour(0xF)) << genre;
}

}  // namespace
