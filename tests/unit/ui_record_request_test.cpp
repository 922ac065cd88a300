// The recording request word posted to the host's window.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "plugin/messages.h"
#include "tests/support/test_plugin.h"
#include "ui/record_request.h"

namespace {

struct Clock {
    int32_t hour, minute, second, ticks;
};

struct PresentCase {
    const char* name;
    int32_t endHour, endMinute, endSecond;
    Clock clock;
    uint32_t word;
};

void SetClock(PluginState& s, const Clock& c) {
    s.clockHour = c.hour;
    s.clockMinute = c.minute;
    s.clockSecond = c.second;
    s.tickCount = c.ticks;
}

class PresentRequest : public ::testing::TestWithParam<PresentCase> {};

TEST_P(PresentRequest, AsksForTheMinutesUntilTheEnd) {
    const PresentCase& c = GetParam();
    TestPlugin t;
    t.s().view = View::kPresent;
    t.s().presentEndHour = c.endHour;
    t.s().presentEndMinute = c.endMinute;
    t.s().presentEndSecond = c.endSecond;
    SetClock(t.s(), c.clock);
    uint32_t word = 0xDEADBEEF;
    ASSERT_TRUE(ComputeRecordingRequest(t.s(), word));
    EXPECT_EQ(word, c.word);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PresentRequest,
    ::testing::Values(
        // 1770 s left: 29.5 minutes round up to 30.
        PresentCase{"ThirtyTicks", 21, 0, 0, {20, 30, 0, 30}, 30},
        PresentCase{"TwentyNineTicks", 21, 0, 0, {20, 30, 0, 29}, 30},
        PresentCase{"ZeroTicks", 21, 0, 0, {20, 30, 0, 0}, 30},
        PresentCase{"OneSecondLeft", 20, 30, 1, {20, 30, 0, 0}, 1},
        PresentCase{"EndsNow", 20, 30, 0, {20, 30, 0, 0}, 0},
        // -85200 + 86400 = 1200 s.
        PresentCase{"EndsAfterMidnight", 0, 10, 0, {23, 50, 0, 0}, 20},
        PresentCase{"EndsAtMidnight", 0, 0, 0, {23, 59, 30, 0}, 1},
        // One second ago: the wrap gives a whole day less a second.
        PresentCase{"EndedOneSecondAgo", 20, 29, 59, {20, 30, 0, 0}, 1440},
        // Before the first TOT: clock 00:00:00 with -100 ticks.
        PresentCase{"BeforeTheFirstTot", 0, 1, 0, {0, 0, 0, -100}, 3},
        PresentCase{"EndUndetermined", -1, -1, -1, {20, 30, 0, 0}, 180},
        PresentCase{"EndSecondUndetermined", 21, 0, -1, {20, 30, 0, 0}, 180},
        // An hour byte 0xFF reads as 165: used as it is, cut to 16 bits.
        PresentCase{"EndHourFromFF", 165, 0, 0, {0, 0, 0, 0}, 9900},
        // Ticks without a TOT for over a day: -96400 s wraps once to -10000,
        // -166 minutes rounded towards the end is -165, cut to 16 bits.
        PresentCase{"StillNegativeAfterOneWrap", 21, 0, 0, {20, 0, 0, 100000}, 0x10000 - 165}),
    [](const ::testing::TestParamInfo<PresentCase>& param) { return std::string(param.param.name); });

struct FollowingCase {
    const char* name;
    int32_t startHour, startMinute, startSecond;
    int32_t durationHours, durationMinutes;
    Clock clock;
    bool posted;
    uint32_t delay;    // high word
    uint32_t minutes;  // low word
};

class FollowingRequest : public ::testing::TestWithParam<FollowingCase> {};

TEST_P(FollowingRequest, AsksForTheDelayAndTheDuration) {
    const FollowingCase& c = GetParam();
    TestPlugin t;
    t.s().view = View::kFollowing;
    t.s().followingStartHour = c.startHour;
    t.s().followingStartMinute = c.startMinute;
    t.s().followingStartSecond = c.startSecond;
    t.s().followingDurationHours = c.durationHours;
    t.s().followingDurationMinutes = c.durationMinutes;
    SetClock(t.s(), c.clock);
    uint32_t word = 0;
    EXPECT_EQ(ComputeRecordingRequest(t.s(), word), c.posted);
    if (c.posted) {
        EXPECT_EQ(word >> 16, c.delay);
        EXPECT_EQ(word & 0xFFFF, c.minutes);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FollowingRequest,
    ::testing::Values(
        // 10 s to go, less 11, held at 0; 54 minutes plus one.
        FollowingCase{"StartsInTenSeconds", 21, 0, 0, 0, 54, {20, 59, 50, 0}, true, 0, 55},
        FollowingCase{"StartsInHalfAnHour", 21, 0, 0, 1, 30, {20, 30, 0, 0}, true, 1789, 91},
        FollowingCase{"StartsAfterMidnight", 0, 5, 0, 0, 30, {23, 55, 0, 0}, true, 589, 31},
        FollowingCase{"StartsAtMidnightWithTicks", 0, 0, 0, 1, 0, {23, 0, 0, 100}, true, 3489, 61},
        // Just started: the wrap makes it tomorrow, 86388 cut to 16 bits.
        FollowingCase{"StartedOneSecondAgo", 20, 59, 59, 0, 10, {21, 0, 0, 0}, true, 86388 & 0xFFFF,
                      11},
        FollowingCase{"StartMinuteFromFF", 21, 165, 0, 0, 54, {20, 0, 0, 0}, false, 0, 0},
        FollowingCase{"StartMinute60", 21, 60, 0, 0, 54, {20, 0, 0, 0}, false, 0, 0},
        FollowingCase{"NoFollowingEventYet", -1, -1, -1, -1, -1, {20, 0, 0, 0}, false, 0, 0},
        FollowingCase{"StartMinute59", 20, 59, 0, 0, 1, {20, 0, 0, 0}, true, 3529, 2},
        // The start second is not tested: 60 counts as sixty seconds.
        FollowingCase{"StartSecond60", 20, 59, 60, 1, 0, {20, 0, 0, 0}, true, 3589, 61},
        FollowingCase{"DurationMinute59", 21, 0, 0, 0, 59, {20, 30, 0, 0}, true, 1789, 60},
        FollowingCase{"DurationMinute60", 21, 0, 0, 0, 60, {20, 30, 0, 0}, true, 1789, 180},
        FollowingCase{"DurationMinuteFromFF", 21, 0, 0, 165, 165, {20, 30, 0, 0}, true, 1789, 180},
        // The duration's seconds do not count; an hour byte 0xFF is used as it is.
        FollowingCase{"DurationHourFromFF", 21, 0, 0, 165, 30, {20, 30, 0, 0}, true, 1789, 9931}),
    [](const ::testing::TestParamInfo<FollowingCase>& param) { return std::string(param.param.name); });

TEST(RecordRequest, IsPostedToTheOwnerWindow) {
    TestPlugin t;
    t.s().presentEndHour = 21;
    t.s().presentEndMinute = 0;
    t.s().presentEndSecond = 0;
    SetClock(t.s(), {20, 30, 0, 30});
    SendRecordingRequest(t.s());

    t.s().view = View::kFollowing;
    t.s().followingStartHour = 21;
    t.s().followingStartMinute = 0;
    t.s().followingStartSecond = 0;
    t.s().followingDurationHours = 0;
    t.s().followingDurationMinutes = 54;
    SetClock(t.s(), {20, 59, 50, 0});
    SendRecordingRequest(t.s());

    t.s().followingStartMinute = 165;
    SendRecordingRequest(t.s());

    const std::vector<std::pair<uint32_t, uint32_t>> expected = {{WM_RECORD_REQUEST, 30u},
                                                                 {WM_RECORD_REQUEST, 55u}};
    EXPECT_EQ(t.platform.ownerPosted, expected);
    EXPECT_TRUE(t.platform.windowPosted.empty());
}

}  // namespace
