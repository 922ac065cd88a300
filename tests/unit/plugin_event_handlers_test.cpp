// The window handlers against a service change: a section handed over
// before OnChannelChange, or copied before it and committed after it, must
// leave nothing of the old service behind (its name with an SDT key that
// would skip every repeat, its event and end time that feed the recording
// request).
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "plugin/event_handlers.h"
#include "plugin/plugin_state.h"
#include "plugin/router.h"
#include "tests/support/test_plugin.h"
#include "tests/unit/text_test_helpers.h"
#include "tools/streamkit/stream_builder.h"
#include "ui/channel_buttons.h"
#include "ui/resource.h"

namespace {

using build::Bytes;

const uint16_t kOld = 0x5DB8;
const uint16_t kNew = 0x5DB9;

// One SDT naming both services, as a multiplex carries it: a service change
// within the multiplex meets the very same section (same change key) again.
Bytes BothServices() {
    return build::SdtSection(build::kDefaultTransportStreamId, build::kDefaultNetworkId,
                             {build::NamedService(kOld, Alnum("OLD")),
                              build::NamedService(kNew, Alnum("NEW"))});
}

Bytes EventOf(uint16_t service, uint8_t sectionNumber) {
    return build::EitPfSection(service, sectionNumber,
                               {build::Event(0xE4C1, 21, 0, 0, 0, 30, 0,
                                             build::ShortEventDescriptor(Alnum("OLD EVENT"),
                                                                         Alnum("TEXT")))});
}

struct Fixture {
    TestPlugin t;
    build::StreamBuilder sb;
    Fixture() { PluginOnChannelChange(t.s(), 27, kOld); }
    void Route(uint16_t pid, const Bytes& section) {
        const Bytes stream = sb.Stream(pid, {section});
        RoutePackets(t.s(), stream.data(), static_cast<uint32_t>(stream.size()));
    }
    void ChangeService() { PluginOnChannelChange(t.s(), 27, kNew); }
    void ExpectNothingOfTheOldEvents() {
        EXPECT_EQ(t.s().presentText[0], '\0');
        EXPECT_EQ(t.s().followingText[0], '\0');
        EXPECT_EQ(t.s().lastPresentKey, 0u);
        EXPECT_EQ(t.s().lastFollowingKey, 0u);
        EXPECT_EQ(t.s().presentEndHour, -1);
        EXPECT_EQ(t.s().followingStartHour, -1);
        EXPECT_EQ(t.platform.Text(IDC_INFO_TEXT), "");
    }
};

TEST(ServiceChange, MessagesPostedBeforeItShowNothingOfTheOldService) {
    Fixture f;
    f.t.s().view = View::kFollowing;
    f.Route(0x0012, EventOf(kOld, 0));
    f.Route(0x0012, EventOf(kOld, 1));
    f.ChangeService();
    f.t.s().view = View::kFollowing;
    f.t.platform.Pump(f.t.s());
    f.ExpectNothingOfTheOldEvents();
}

// The handler copied its section before the change and commits after it.
TEST(ServiceChange, CommitAfterItIsDropped) {
    for (int kind = 0; kind < 2; ++kind) {
        SCOPED_TRACE(kind == 0 ? "present" : "following");
        Fixture f;
        const View view = kind == 0 ? View::kPresent : View::kFollowing;
        f.t.s().view = view;
        f.Route(0x0012, EventOf(kOld, static_cast<uint8_t>(kind)));
        HandedSection taken;
        ASSERT_TRUE(TakeEventSection(f.t.s(), view, taken));
        f.ChangeService();
        f.t.s().view = view;
        char shown[kEventTextSize] = "";
        EXPECT_FALSE(CommitEventSection(f.t.s(), view, taken, shown));
        f.ExpectNothingOfTheOldEvents();
    }
}

TEST(ServiceChange, NameCommittedAfterItIsDroppedAndTheRepeatNamesTheNewService) {
    Fixture f;
    f.Route(0x0011, BothServices());
    HandedSection taken;
    ASSERT_TRUE(TakeServiceSection(f.t.s(), taken));
    f.ChangeService();
    EXPECT_FALSE(CommitServiceSection(f.t.s(), taken));
    EXPECT_EQ(f.t.s().lastSdtKey, 0u);

    // The same SDT comes round again: its key must not be skipped.
    f.Route(0x0011, BothServices());
    f.t.platform.Pump(f.t.s());
    EXPECT_STREQ(f.t.s().serviceName, "NEW");
    const std::string caption = f.t.platform.windowTitle;
    ASSERT_GE(caption.size(), 3u);
    EXPECT_EQ(caption.substr(caption.size() - 3), "NEW");
}

// Without a change in between the two halves commit as one handler does.
TEST(ServiceChange, NoChangeBetweenCopyAndCommitCommits) {
    Fixture f;
    f.Route(0x0011, BothServices());
    HandedSection taken;
    ASSERT_TRUE(TakeServiceSection(f.t.s(), taken));
    EXPECT_TRUE(CommitServiceSection(f.t.s(), taken));
    EXPECT_STREQ(f.t.s().serviceName, "OLD");
    EXPECT_NE(f.t.s().lastSdtKey, 0u);
}

}  // namespace
