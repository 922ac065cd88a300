// Where the viewer window opens when its saved position lies on no monitor,
// and the conversion of a restored rectangle from workspace coordinates.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>

#include "plugin/window_position.h"

namespace {

const int32_t kWidth = 300;
const int32_t kHeight = 200;

ScreenRect At(int32_t left, int32_t top) {
    return ScreenRect{left, top, left + kWidth, top + kHeight};
}

// Primary 1920x1080 with the taskbar along its bottom (work area to 1040),
// and a 1280x1024 monitor on its left, 200 pixels higher.
const ScreenRect kTwoMonitors[] = {
    {0, 0, 1920, 1040},
    {-1280, -200, 0, 824},
};

struct PlaceCase {
    const char* name;
    int32_t left, top;
    int32_t expectedLeft, expectedTop;
};

TEST(WindowPosition, SavedPositionStaysWhileReachableElseMovesToTheNearestMonitor) {
    const PlaceCase cases[] = {
        {"on the primary", 100, 100, 100, 100},
        {"negative, on the left monitor", -1000, -150, -1000, -150},
        {"across both monitors", -150, 100, -150, 100},
        {"partly above the left monitor", -1000, -230, -1000, -230},
        {"exactly 32 pixels on the primary", 1920 - 32, 100, 1920 - 32, 100},
        {"31 pixels on the primary", 1920 - 31, 100, 1920 - kWidth, 100},
        {"under the taskbar only", 100, 1045, 100, 1040 - kHeight},
        {"right of the primary", 4000, 3000, 1920 - kWidth, 1040 - kHeight},
        {"below the left monitor", -900, 1500, -900, 824 - kHeight},
        // Win32's parking place of a minimised window: nearer the left one.
        {"minimised position", -32000, -32000, -1280, -200},
        {"far above the primary", 1500, -5000, 1500, 0},
    };
    for (const PlaceCase& c : cases) {
        const ScreenRect placed = PlaceOnScreen(At(c.left, c.top), kTwoMonitors, 2);
        EXPECT_EQ(placed.left, c.expectedLeft) << c.name;
        EXPECT_EQ(placed.top, c.expectedTop) << c.name;
        // The size never changes.
        EXPECT_EQ(placed.right - placed.left, kWidth) << c.name;
        EXPECT_EQ(placed.bottom - placed.top, kHeight) << c.name;
    }
}

TEST(WindowPosition, EqualDistancesGoToTheFirstMonitorListed) {
    const ScreenRect leftFirst[] = {{0, 0, 1000, 1000}, {2000, 0, 3000, 1000}};
    const ScreenRect rightFirst[] = {leftFirst[1], leftFirst[0]};
    // 350 pixels from either.
    EXPECT_EQ(PlaceOnScreen(At(1350, 100), leftFirst, 2).left, 700);
    EXPECT_EQ(PlaceOnScreen(At(1350, 100), rightFirst, 2).left, 2000);
}

TEST(WindowPosition, AWindowLargerThanTheWorkAreaKeepsItsTopLeftInside) {
    const ScreenRect area[] = {{0, 0, 800, 600}};
    const ScreenRect big = {5000, 5000, 6000, 5700};
    const ScreenRect placed = PlaceOnScreen(big, area, 1);
    EXPECT_EQ(placed.left, 0);
    EXPECT_EQ(placed.top, 0);
    EXPECT_EQ(placed.right, 1000);
    EXPECT_EQ(placed.bottom, 700);
}

TEST(WindowPosition, NoUsableMonitorLeavesThePositionAlone) {
    const ScreenRect empty[] = {{100, 100, 100, 500}, {0, 0, -10, -10}};
    const ScreenRect w = At(-32000, -32000);
    const ScreenRect cases[] = {PlaceOnScreen(w, kTwoMonitors, 0), PlaceOnScreen(w, nullptr, 2),
                                PlaceOnScreen(w, kTwoMonitors, -1), PlaceOnScreen(w, empty, 2)};
    for (const ScreenRect& r : cases) {
        EXPECT_EQ(r.left, -32000);
        EXPECT_EQ(r.top, -32000);
    }
    // An empty entry is skipped, the usable one after it still counts.
    const ScreenRect mixed[] = {{100, 100, 100, 500}, {0, 0, 800, 600}};
    EXPECT_EQ(PlaceOnScreen(At(5000, 5000), mixed, 2).left, 800 - kWidth);
}

// Rectangles built from any int32 the settings file may hold: no overflow,
// and the result lies on a monitor.
TEST(WindowPosition, ExtremeCoordinatesAreMovedWithoutOverflow) {
    const ScreenRect extremes[] = {
        {INT32_MIN, INT32_MIN, INT32_MIN + kWidth, INT32_MIN + kHeight},
        {INT32_MAX - kWidth, INT32_MAX - kHeight, INT32_MAX, INT32_MAX},
        {INT32_MIN, INT32_MAX - kHeight, INT32_MIN + kWidth, INT32_MAX},
    };
    for (const ScreenRect& w : extremes) {
        const ScreenRect placed = PlaceOnScreen(w, kTwoMonitors, 2);
        bool onOne = false;
        for (const ScreenRect& a : kTwoMonitors) {
            onOne = onOne || (placed.left >= a.left && placed.left < a.right && placed.top >= a.top &&
                              placed.top < a.bottom);
        }
        EXPECT_TRUE(onOne) << w.left << ", " << w.top;
    }
}

TEST(WindowPosition, WorkspaceCoordinatesAreShiftedByTheWorkAreaOffset) {
    const struct {
        const char* name;
        ScreenRect monitor;
        ScreenRect work;
        ScreenRect workspace;
        ScreenRect screen;
    } cases[] = {
        {"taskbar at the bottom", {0, 0, 1920, 1080}, {0, 0, 1920, 1040}, {100, 100, 400, 300}, {100, 100, 400, 300}},
        {"taskbar at the top", {0, 0, 1920, 1080}, {0, 40, 1920, 1080}, {100, 100, 400, 300}, {100, 140, 400, 340}},
        {"taskbar on the left of a left monitor", {-1280, 0, 0, 1024}, {-1220, 0, 0, 1024},
         {-1060, 10, -760, 210}, {-1000, 10, -700, 210}},
    };
    for (const auto& c : cases) {
        const ScreenRect s = WorkspaceToScreen(c.workspace, c.monitor, c.work);
        EXPECT_EQ(s.left, c.screen.left) << c.name;
        EXPECT_EQ(s.top, c.screen.top) << c.name;
        EXPECT_EQ(s.right, c.screen.right) << c.name;
        EXPECT_EQ(s.bottom, c.screen.bottom) << c.name;
    }
}

}  // namespace
