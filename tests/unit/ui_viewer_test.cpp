// The viewer dialog's commands and private messages, without Win32.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "plugin/messages.h"
#include "plugin/plugin_core.h"
#include "plugin/router.h"
#include "plugin/settings.h"
#include "tests/support/test_plugin.h"
#include "ui/channel_buttons.h"
#include "ui/guide_view.h"
#include "ui/resource.h"
#include "ui/viewer.h"

namespace {

const int32_t kCancel = 2;
const std::string kRecordingLabel = "1\x81\xA1";

void Open(TestPlugin& t) { LoadSettingsBeforeWindow(t.s()); }

TEST(Viewer, MovesBeforeInitialisationAreNotSaved) {
    TestPlugin t;
    Open(t);
    t.platform.windowLeft = 300;
    t.platform.windowTop = 200;
    ViewerMoved(t.s());
    EXPECT_TRUE(t.platform.settingWrites.empty());

    ViewerInitialised(t.s());
    EXPECT_TRUE(t.s().windowInitialised);
    ViewerMoved(t.s());
    const std::vector<std::pair<std::string, std::string>> expected = {{"POSITION/Left", "300"},
                                                                       {"POSITION/Top", "200"}};
    EXPECT_EQ(t.platform.settingWrites, expected);
    EXPECT_EQ(t.s().windowLeft, 300);
    EXPECT_EQ(t.s().windowTop, 200);
}

TEST(Viewer, ChannelButtonsTuneOnlyToChannels13To62) {
    const struct {
        int32_t channel;
        bool tunes;
    } cases[] = {{0, false}, {12, false}, {13, true}, {27, true}, {62, true}, {63, false}, {-1, false}};
    for (const auto& c : cases) {
        TestPlugin t;
        t.s().channelTable[4] = c.channel;
        ViewerCommand(t.s(), IDC_CH5);
        EXPECT_EQ(t.platform.tuned, c.tunes ? std::vector<int32_t>{c.channel} : std::vector<int32_t>{})
            << "channel " << c.channel;
    }
}

TEST(Viewer, EachChannelButtonUsesItsOwnTableEntry) {
    // The button ids skip 1011 (the clock): button 4 is 1012.
    TestPlugin t;
    for (int32_t i = 0; i < kChannelButtonCount; ++i) t.s().channelTable[i] = 20 + i;
    const int32_t ids[kChannelButtonCount] = {1008, 1009, 1010, 1012, 1013, 1014,
                                              1015, 1016, 1017, 1018, 1019, 1020};
    for (int32_t id : ids) ViewerCommand(t.s(), id);
    ViewerCommand(t.s(), IDC_CLOCK);
    const std::vector<int32_t> expected = {20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31};
    EXPECT_EQ(t.platform.tuned, expected);
}

// Channel changes reported by the host: the button of the new channel shows
// its circled number (Shift_JIS 0x87 0x40 + n - 1), the one of the old
// channel its plain number again.
TEST(Viewer, ChannelChangeLabelsTheButtons) {
    typedef std::vector<std::pair<int32_t, std::string>> Labels;
    const struct {
        const char* name;
        int32_t from;  // -1: no channel reported yet
        int32_t to;
        Labels labels;
    } cases[] = {
        {"first report, CH1", -1, 20, {{IDC_CH1, "\x87\x40"}}},
        {"first report, CH12", -1, 31, {{IDC_CH12, "\x87\x4B"}}},
        {"CH1 to CH12", 20, 31, {{IDC_CH1, "1"}, {IDC_CH12, "\x87\x4B"}}},
        {"CH12 to CH1", 31, 20, {{IDC_CH12, "12"}, {IDC_CH1, "\x87\x40"}}},
        {"CH9 to CH10", 28, 29, {{IDC_CH9, "9"}, {IDC_CH10, "\x87\x49"}}},
        {"CH10 to CH11", 29, 30, {{IDC_CH10, "10"}, {IDC_CH11, "\x87\x4A"}}},
        {"CH4 to a channel on no button", 23, 50, {{IDC_CH4, "4"}}},
        {"the same channel again", 25, 25, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TestPlugin t;
        for (int32_t i = 0; i < kChannelButtonCount; ++i) t.s().channelTable[i] = 20 + i;
        if (c.from >= 0) PluginOnChannelChange(t.s(), c.from, 0x5DB8);
        t.platform.Pump(t.s());
        t.platform.controlHistory.clear();
        PluginOnChannelChange(t.s(), c.to, 0x5DB8);
        t.platform.Pump(t.s());
        EXPECT_EQ(t.platform.controlHistory, c.labels);
        EXPECT_EQ(t.s().currentChannel, c.to);
    }
}

// The host reports channel changes from its own thread; the window's thread
// relabels when it gets to the posted message, from the channel it last
// circled to the channel current then, however many changes came between.
TEST(Viewer, ChannelChangesBeforeTheWindowHandlesThemEndOnTheLastChannel) {
    TestPlugin t;
    for (int32_t i = 0; i < kChannelButtonCount; ++i) t.s().channelTable[i] = 20 + i;
    PluginOnChannelChange(t.s(), 20, 0x5DB8);
    t.platform.Pump(t.s());
    ASSERT_EQ(t.platform.Text(IDC_CH1), "\x87\x40");

    PluginOnChannelChange(t.s(), 25, 0x5DB8);
    PluginOnChannelChange(t.s(), 31, 0x5DB8);
    // Nothing changes until the window's thread handles the messages.
    EXPECT_EQ(t.platform.Text(IDC_CH1), "\x87\x40");
    t.platform.Pump(t.s());
    EXPECT_EQ(t.platform.Text(IDC_CH1), "1");
    EXPECT_EQ(t.platform.Text(IDC_CH12), "\x87\x4B");
    for (int32_t i = 1; i < kChannelButtonCount - 1; ++i) {
        const std::string label = t.platform.Text(kChannelButtonIds[i]);
        EXPECT_TRUE(label.empty() || label == std::to_string(i + 1)) << "button " << i + 1 << ": " << label;
    }

    // Back and forth before the window looks: the last channel stays circled.
    PluginOnChannelChange(t.s(), 20, 0x5DB8);
    PluginOnChannelChange(t.s(), 31, 0x5DB8);
    t.platform.Pump(t.s());
    EXPECT_EQ(t.platform.Text(IDC_CH1), "1");
    EXPECT_EQ(t.platform.Text(IDC_CH12), "\x87\x4B");
}

TEST(Viewer, ToggleTwiceShowsThePresentTextAgain) {
    TestPlugin t;
    std::strcpy(t.s().presentText, "present");
    std::strcpy(t.s().followingText, "following");

    ViewerCommand(t.s(), IDC_PRESENT_FOLLOWING);
    EXPECT_EQ(t.s().view, View::kFollowing);
    EXPECT_EQ(t.platform.Text(IDC_INFO_TEXT), "following");

    ViewerCommand(t.s(), IDC_PRESENT_FOLLOWING);
    EXPECT_EQ(t.s().view, View::kPresent);
    EXPECT_EQ(t.platform.Text(IDC_INFO_TEXT), "present");
}

TEST(Viewer, ToggleCopiesAtMostTheTextBuffer) {
    // An unterminated event text must not be read past its buffer.
    TestPlugin t;
    std::memset(t.s().followingText, 'F', sizeof t.s().followingText);
    ViewerCommand(t.s(), IDC_PRESENT_FOLLOWING);
    EXPECT_EQ(t.platform.Text(IDC_INFO_TEXT), std::string(kEventTextSize - 1, 'F'));
}

class CloseCommand : public ::testing::TestWithParam<int32_t> {};

TEST_P(CloseCommand, ClosesTheFileButKeepsFlagAndLabel) {
    TestPlugin t;
    Open(t);
    t.s().templateChoice = 2;
    ViewerCommand(t.s(), IDC_ONESEG_RECORD);
    ASSERT_NE(t.s().recordingFile, kInvalidFileHandle);

    ViewerCommand(t.s(), GetParam());
    EXPECT_TRUE(t.platform.openFiles.empty());
    EXPECT_EQ(t.s().recordingFile, kInvalidFileHandle);
    EXPECT_TRUE(t.s().recording);
    EXPECT_EQ(t.platform.Text(IDC_ONESEG_RECORD), kRecordingLabel);
    EXPECT_FALSE(t.s().active);
    EXPECT_EQ(t.platform.closedCalls, 1);
    ASSERT_FALSE(t.platform.settingWrites.empty());
    EXPECT_EQ(t.platform.settingWrites.back(),
              (std::pair<std::string, std::string>{"POSITION/Font", "2"}));

    // Packets are refused from now on; the closed file is never written.
    t.s().esPidTable.entries[0].pid = 0x0181;
    t.s().esPidTable.count = 1;
    std::vector<uint8_t> packet(188, 0xFF);
    packet[0] = 0x47;
    packet[1] = 0x01;
    packet[2] = 0x81;
    packet[3] = 0x10;
    EXPECT_EQ(RoutePackets(t.s(), packet.data(), 188), 0);
    EXPECT_EQ(t.platform.writeCalls, 0);

    // Commands still run after the close.
    t.s().channelTable[0] = 13;
    ViewerCommand(t.s(), IDC_CH1);
    EXPECT_EQ(t.platform.tuned, std::vector<int32_t>{13});
}

TEST_P(CloseCommand, WithoutARecordingClosesNothing) {
    TestPlugin t;
    Open(t);
    ViewerCommand(t.s(), GetParam());
    EXPECT_EQ(t.platform.closeOfClosedFile, 0);
    EXPECT_FALSE(t.s().active);
    EXPECT_EQ(t.platform.closedCalls, 1);
    EXPECT_EQ(t.platform.Text(IDC_ONESEG_RECORD), "");
}

// The guide and the caption view the viewer opened close with it.
TEST_P(CloseCommand, ClosesTheGuideAndCaptionViewItOpened) {
    TestPlugin t;
    Open(t);
    ViewerInitialised(t.s());
    ViewerCommand(t.s(), IDC_GUIDE_OPEN);
    GuideInitialised(t.s());
    ViewerCommand(t.s(), IDM_VIEWER_CAPTIONS);
    ASSERT_TRUE(t.platform.captionWindow);
    ViewerCommand(t.s(), GetParam());
    EXPECT_EQ(t.platform.guideCloses, 1);
    EXPECT_EQ(t.platform.captionCloses, 1);
    EXPECT_FALSE(t.platform.captionWindow);
}

INSTANTIATE_TEST_SUITE_P(CancelAndCloseButton, CloseCommand, ::testing::Values(kCancel, IDC_CLOSE));

TEST(Viewer, OtherCommandsAreIgnored) {
    TestPlugin t;
    Open(t);
    for (int32_t i = 0; i < kChannelButtonCount; ++i) t.s().channelTable[i] = 27;
    const int32_t ids[] = {0, 1, 3, IDC_INFO_TEXT, IDC_CLOCK, 1006, 1024, 0xFFFF, -1};
    for (int32_t id : ids) ViewerCommand(t.s(), id);
    EXPECT_TRUE(t.platform.tuned.empty());
    EXPECT_EQ(t.platform.closedCalls, 0);
    EXPECT_TRUE(t.s().active);
    EXPECT_TRUE(t.platform.controlHistory.empty());
    EXPECT_TRUE(t.platform.ownerPosted.empty());
    EXPECT_TRUE(t.platform.createdPaths.empty());
}

TEST(Viewer, RecordRequestButtonPostsToTheOwner) {
    TestPlugin t;
    ViewerCommand(t.s(), IDC_RECORD_REQUEST);
    // No end time known yet: three hours.
    const std::vector<std::pair<uint32_t, uint32_t>> expected = {{WM_RECORD_REQUEST, 180u}};
    EXPECT_EQ(t.platform.ownerPosted, expected);
}

TEST(Viewer, OnlyThePrivateMessagesAreHandled) {
    TestPlugin t;
    EXPECT_TRUE(ViewerPrivateMessage(t.s(), WM_EIT_PRESENT_READY));
    EXPECT_TRUE(ViewerPrivateMessage(t.s(), WM_SDT_READY));
    EXPECT_TRUE(ViewerPrivateMessage(t.s(), WM_EIT_FOLLOWING_READY));
    EXPECT_TRUE(ViewerPrivateMessage(t.s(), WM_RECORD_LABEL));
    EXPECT_TRUE(ViewerPrivateMessage(t.s(), WM_CHANNEL_LABELS));
    EXPECT_TRUE(ViewerPrivateMessage(t.s(), WM_SERVICE_VIEW));
    EXPECT_FALSE(ViewerPrivateMessage(t.s(), 6023));
    EXPECT_FALSE(ViewerPrivateMessage(t.s(), 6030));
    EXPECT_FALSE(ViewerPrivateMessage(t.s(), WM_RECORD_REQUEST));
}

}  // namespace
