// EIT present/following from the lower hierarchical layers (L-EIT on PID
// 0x0027, M-EIT on 0x0026): what a receiver of the one-segment layer alone
// shows, and what a receiver of the whole multiplex does when both layers
// carry the same event in different sections.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "plugin/plugin_core.h"
#include "plugin/plugin_state.h"
#include "tests/support/test_plugin.h"
#include "tests/unit/text_test_helpers.h"
#include "tools/streamkit/stream_builder.h"
#include "ui/channel_buttons.h"
#include "ui/resource.h"
#include "ui/viewer.h"

namespace {

using build::Bytes;

const uint16_t kOneSegService = 0x0588;
const uint16_t kFullService = 0x0400;
const uint16_t kMjd = 0xE4C1;
const uint16_t kHighEit = 0x0012;
const uint16_t kMediumEit = 0x0026;
const uint16_t kLowEit = 0x0027;

Bytes Event(const char* title, uint16_t service = kOneSegService, uint8_t sectionNumber = 0, uint8_t version = 0) {
    bool complete = true;
    const Bytes descriptors = build::ShortEventDescriptor(EncodeAribFromUtf8(title, &complete), Bytes());
    return build::EitPfSection(service, sectionNumber, {build::Event(kMjd, 22, 0, 0, 0, 45, 0, descriptors)},
                               version);
}

class LowerLayerEit : public ::testing::Test {
protected:
    void SetUp() override {
        LoadSettingsBeforeWindow(t.s());
        PluginOnChannelChange(t.s(), 27, kOneSegService);
        t.platform.Pump(t.s());
    }
    void Feed(uint16_t pid, const Bytes& section) {
        const Bytes packets = sb.Stream(pid, {section});
        ViewerStreamData(t.s(), packets.data(), static_cast<uint32_t>(packets.size()));
        t.platform.Pump(t.s());
    }
    // Every text the event control was given, in order.
    std::vector<std::string> EventTexts() {
        std::vector<std::string> texts;
        for (const auto& c : t.platform.controlHistory) {
            if (c.first == IDC_INFO_TEXT) texts.push_back(c.second);
        }
        return texts;
    }
    bool Shows(const char* title) { return t.platform.Text(IDC_INFO_TEXT).find(Sjis(title)) != std::string::npos; }

    TestPlugin t;
    build::StreamBuilder sb;
};

// Only the one-segment layer: the L-EIT is shown once it has come
// kLowerEitQuietSections times without an H-EIT packet, and each new section
// of it changes the window as the H-EIT's would.
TEST_F(LowerLayerEit, OneSegmentLayerAloneShowsTheLowEit) {
    for (int32_t i = 1; i < kLowerEitQuietSections; ++i) Feed(kLowEit, Event("ワンセグニュース"));
    EXPECT_TRUE(EventTexts().empty());
    Feed(kLowEit, Event("ワンセグニュース"));
    EXPECT_TRUE(Shows("ワンセグニュース"));
    Feed(kLowEit, Event("ワンセグニュース"));  // a repeat: same change key
    Feed(kLowEit, Event("ワンセグドラマ", kOneSegService, 0, 1));
    ASSERT_EQ(EventTexts().size(), 2u);
    EXPECT_TRUE(Shows("ワンセグドラマ"));

    // The following event through the L-EIT too, in the following view.
    ViewerCommand(t.s(), IDC_PRESENT_FOLLOWING);
    Feed(kLowEit, Event("天気予報", kOneSegService, 1));
    EXPECT_TRUE(Shows("天気予報"));
}

// The whole multiplex: H-EIT and L-EIT carry the same event in sections
// that differ (the L-EIT in its own version), interleaved as a multiplexer
// sends them. The window is set once, from the H-EIT, and never flips.
TEST_F(LowerLayerEit, BothLayersSetTheWindowOnceFromTheHighEit) {
    for (int i = 0; i < 10; ++i) {
        Feed(kLowEit, Event("ニュース", kOneSegService, 0, 7));
        Feed(kLowEit, Event("ニュース", kOneSegService, 0, 7));
        Feed(kHighEit, Event("ニュース", kOneSegService, 0, 3));
        Feed(kHighEit, Event("ニュース", kFullService, 0, 3));
    }
    EXPECT_EQ(EventTexts().size(), 1u);
    EXPECT_TRUE(Shows("ニュース"));
}

// Reception falls back to the one-segment layer and comes back: the L-EIT
// takes over after its quiet sections, the H-EIT again at its first section;
// each hand-over sets the window once.
TEST_F(LowerLayerEit, LowEitTakesOverWhileTheHighEitIsMissing) {
    Feed(kHighEit, Event("全国ニュース", kOneSegService, 0, 1));
    for (int32_t i = 0; i < kLowerEitQuietSections; ++i) Feed(kLowEit, Event("ワンセグ版", kOneSegService, 0, 2));
    EXPECT_TRUE(Shows("ワンセグ版"));
    Feed(kHighEit, Event("全国ニュース", kOneSegService, 0, 1));
    Feed(kLowEit, Event("ワンセグ版", kOneSegService, 0, 3));
    EXPECT_TRUE(Shows("全国ニュース"));
    EXPECT_EQ(EventTexts().size(), 3u);
}

// Any H-EIT packet, of whatever service or table, keeps the L-EIT out: a
// multiplex whose H-EIT carries only other services shows nothing from the
// L-EIT either. The M-EIT in turn keeps the L-EIT out, and is itself a
// source when it is the highest layer received.
TEST_F(LowerLayerEit, HigherLayersKeepTheLowerOnesOut) {
    for (int i = 0; i < 2 * kLowerEitQuietSections; ++i) {
        Feed(kHighEit, Event("他のサービス", kFullService));
        Feed(kLowEit, Event("ワンセグ"));
    }
    EXPECT_TRUE(EventTexts().empty());
    for (int i = 0; i < 2 * kLowerEitQuietSections; ++i) {
        Feed(kLowEit, Event("ワンセグ", kOneSegService, 0, 1));
        Feed(kMediumEit, Event("中階層"));
    }
    EXPECT_EQ(EventTexts(), std::vector<std::string>({t.platform.Text(IDC_INFO_TEXT)}));
    EXPECT_TRUE(Shows("中階層"));
}

// Each layer's packets keep every layer below it out, whatever the
// service: the H-EIT both the M-EIT and the L-EIT, the M-EIT the L-EIT.
TEST_F(LowerLayerEit, EachLayerSilencesTheLayersBelowIt) {
    const struct {
        const char* name;
        uint16_t higher;
        uint16_t lower;
    } cases[] = {
        {"H-EIT over M-EIT", kHighEit, kMediumEit},
        {"H-EIT over L-EIT", kHighEit, kLowEit},
        {"M-EIT over L-EIT", kMediumEit, kLowEit},
    };
    for (const auto& c : cases) {
        TestPlugin fresh;
        build::StreamBuilder stream;
        LoadSettingsBeforeWindow(fresh.s());
        PluginOnChannelChange(fresh.s(), 27, kOneSegService);
        fresh.platform.Pump(fresh.s());
        for (int32_t i = 0; i < 2 * kLowerEitQuietSections; ++i) {
            for (const auto& fed : {std::make_pair(c.higher, Event("他のサービス", kFullService)),
                                    std::make_pair(c.lower, Event("下位階層"))}) {
                const Bytes packets = stream.Stream(fed.first, {fed.second});
                ViewerStreamData(fresh.s(), packets.data(), static_cast<uint32_t>(packets.size()));
                fresh.platform.Pump(fresh.s());
            }
        }
        EXPECT_EQ(fresh.platform.Text(IDC_INFO_TEXT).find(Sjis("下位階層")), std::string::npos) << c.name;
    }
}

// The lower layers' EIT is filtered by service like the H-EIT, and a
// service change starts their count again (the new service may come from
// another channel, received otherwise).
TEST_F(LowerLayerEit, OtherServicesAndServiceChanges) {
    for (int32_t i = 0; i < kLowerEitQuietSections; ++i) Feed(kLowEit, Event("別サービス", kFullService));
    EXPECT_TRUE(EventTexts().empty());
    for (int32_t i = 1; i < kLowerEitQuietSections; ++i) Feed(kLowEit, Event("ワンセグ"));
    PluginOnChannelChange(t.s(), 28, kFullService);
    t.platform.Pump(t.s());
    PluginOnChannelChange(t.s(), 27, kOneSegService);
    t.platform.Pump(t.s());
    Feed(kLowEit, Event("ワンセグ"));
    EXPECT_FALSE(Shows("ワンセグ"));
}

}  // namespace
