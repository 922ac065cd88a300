// Start dates far from the broadcast's days: before 1970 (MJD below 40587),
// down to MJD 0, and the last 16-bit MJD. The guide's date tab and the
// programme's details give each its civil date and one of the seven
// weekdays, never a byte outside the weekday table; a broadcast clock before
// 1970 refuses a request.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "plugin/guide_store.h"
#include "plugin/plugin_state.h"
#include "tests/support/test_plugin.h"
#include "tests/unit/text_test_helpers.h"
#include "tools/streamkit/stream_builder.h"
#include "ui/channel_buttons.h"
#include "ui/guide_view.h"
#include "ui/resource.h"
#include "ui/viewer.h"

namespace {

using build::Bytes;

const uint16_t kService = 0x0400;

struct DateCase {
    uint16_t mjd;
    const char* expected;  // UTF-8
};

// Every weekday before 1970 once, and the ends of the 16-bit MJD.
const DateCase kDates[] = {
    {0, "11/17(水)"},      {1, "11/18(木)"},      {15078, "02/28(水)"}, {15079, "03/01(木)"},
    {40580, "12/25(木)"},  {40581, "12/26(金)"},  {40582, "12/27(土)"}, {40583, "12/28(日)"},
    {40584, "12/29(月)"},  {40585, "12/30(火)"},  {40586, "12/31(水)"}, {40587, "01/01(木)"},
    {0xFFFF, "04/22(木)"},
};

class GuideDates : public ::testing::Test {
protected:
    void SetUp() override {
        LoadSettingsBeforeWindow(t.s());
        PluginOnChannelChange(t.s(), 27, kService);
        t.platform.Pump(t.s());
        ViewerCommand(t.s(), IDC_GUIDE_OPEN);
        GuideInitialised(t.s());
    }
    void Feed(uint16_t pid, const std::vector<Bytes>& sections) {
        const Bytes packets = sb.Stream(pid, sections);
        ViewerStreamData(t.s(), packets.data(), static_cast<uint32_t>(packets.size()));
        t.platform.Pump(t.s());
    }

    TestPlugin t;
    build::StreamBuilder sb;
};

TEST_F(GuideDates, EveryStartDateHasItsCivilDateAndWeekday) {
    std::vector<build::EitEvent> events;
    uint16_t id = 1;
    for (const DateCase& c : kDates) {
        build::EitEvent e = build::Event(c.mjd, 21, 0, 0, 1, 0, 0,
                                         build::ShortEventDescriptor(build::Text("T"), build::Text("")));
        e.eventId = id++;
        events.push_back(e);
    }
    build::EitHeader h = build::ScheduleHeader(kService, 0, 1);
    h.lastTableId = 0x50;
    Feed(0x0012, {build::EitSection(h, events)});
    const int32_t count = static_cast<int32_t>(sizeof kDates / sizeof kDates[0]);
    ASSERT_EQ(t.s().guide.listCount, count);
    for (int32_t row = 0; row < count; ++row) {
        GuideSelectProgramme(t.s(), 0, row);
        const std::string when = Sjis(kDates[row].expected) + " 21:00-22:00";
        EXPECT_NE(t.platform.guideTexts[IDC_GUIDE_DETAILS].find(when), std::string::npos) << "MJD " << kDates[row].mjd;
        // The day shown is the selected programme's, its tab so labelled.
        const GuideViewState& view = *t.platform.guideView;
        char label[kGridLabelSize];
        GridDayLabel(view.viewport.dayStart, label, sizeof label);
        EXPECT_EQ(std::string(label), Sjis(kDates[row].expected)) << "MJD " << kDates[row].mjd;
    }
}

TEST_F(GuideDates, AClockBefore1970RefusesARequest) {
    build::EitEvent e = build::Event(40586, 21, 0, 0, 1, 0, 0);
    e.eventId = 7;
    build::EitHeader h = build::ScheduleHeader(kService, 0, 1);
    h.lastTableId = 0x50;
    Feed(0x0012, {build::EitSection(h, {e})});
    Feed(0x0014, {build::TotSection(40586, 0x20, 0x00, 0x00)});
    ASSERT_EQ(t.s().guide.listCount, 1);
    EXPECT_LT(BroadcastNow(t.s()), 0);
    ScheduleEventRef ref = {};
    ref.eventId = 7;
    ref.startDetermined = true;
    ref.durationDetermined = true;
    ref.start = (40586LL - 40587) * 86400 + 21 * 3600;
    ref.duration = 3600;
    uint32_t word = 0;
    EXPECT_EQ(ComputeGuideRequest(ref, BroadcastNow(t.s()), word), GuideRequestStatus::kNoClock);
}

}  // namespace
