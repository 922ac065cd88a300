// The tooltip of the event text and the additional symbols setting, from
// packets through the router and the window's handlers to the platform.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "plugin/plugin_core.h"
#include "plugin/plugin_state.h"
#include "tests/support/test_plugin.h"
#include "tests/unit/text_test_helpers.h"
#include "text/event_details.h"
#include "tools/streamkit/stream_builder.h"
#include "ui/channel_buttons.h"
#include "ui/programme_display.h"
#include "ui/resource.h"
#include "ui/viewer.h"

namespace {

using build::Bytes;
using build::Cat;

const uint16_t kService = 0x0408;
const uint16_t kMjd = 0xE4C1;  // 2019-03-01; the date plays no part here
const uint16_t kEitPid = 0x0012;
const uint16_t kSdtPid = 0x0011;

// ESC 0x24 0x3B puts the additional symbols into G0, LS0 invokes G0 into
// GL; then row 0x7A cell 0x56: the boxed 字. Always at the end of a text,
// so nothing after it needs the kanji set back.
const Bytes kBoxedJi = {0x1B, 0x24, 0x3B, 0x0F, 0x7A, 0x56};
// The boxed 字 as the code page 932 user-defined character, and bracketed.
const std::string kJiUserDefined = "\xF1\x83";

Bytes A(const char* utf8) {
    bool complete = true;
    Bytes b = EncodeAribFromUtf8(utf8, &complete);
    EXPECT_TRUE(complete) << utf8;
    return b;
}

struct Item {
    Bytes description;
    Bytes text;
};

// Extended event descriptor 0 of 0 (tag 0x4E) with honest lengths.
Bytes ExtendedEvent(const std::vector<Item>& items) {
    Bytes loop;
    for (const Item& item : items) {
        loop.push_back(static_cast<uint8_t>(item.description.size()));
        loop.insert(loop.end(), item.description.begin(), item.description.end());
        loop.push_back(static_cast<uint8_t>(item.text.size()));
        loop.insert(loop.end(), item.text.begin(), item.text.end());
    }
    Bytes body = {0x00, 'j', 'p', 'n', static_cast<uint8_t>(loop.size())};
    body.insert(body.end(), loop.begin(), loop.end());
    body.push_back(0);  // no text_char
    return build::Descriptor(0x4E, body);
}

// Content descriptor (tag 0x54): one genre, user nibbles 0xFF.
Bytes Genre(uint8_t nibbles) { return build::Descriptor(0x54, {nibbles, 0xFF}); }

Bytes Eit(uint8_t sectionNumber, uint8_t version, const Bytes& descriptors) {
    return build::EitPfSection(kService, sectionNumber, {build::Event(kMjd, 22, 0, 0, 0, 45, 0, descriptors)},
                               version);
}

class ProgrammeDisplay : public ::testing::Test {
protected:
    void SetUp() override {
        LoadSettingsBeforeWindow(t.s());
        PluginOnChannelChange(t.s(), 27, kService);
        t.platform.Pump(t.s());
    }
    // The host's stream thread hands the packets over; the window's thread
    // handles what they posted.
    void Feed(uint16_t pid, const Bytes& section) {
        const Bytes packets = sb.Stream(pid, {section});
        ViewerStreamData(t.s(), packets.data(), static_cast<uint32_t>(packets.size()));
        t.platform.Pump(t.s());
    }
    std::vector<std::string> ToolTipHistory() {
        std::vector<std::string> texts;
        for (const auto& call : t.platform.toolTipHistory) {
            EXPECT_EQ(call.first, IDC_INFO_TEXT);
            texts.push_back(call.second);
        }
        return texts;
    }

    TestPlugin t;
    build::StreamBuilder sb;
};

// Present event: a drama with one item; following event: the weather with a
// performer item and no genre; a later version of each without details.
TEST_F(ProgrammeDisplay, ToolTipFollowsTheViewAndEachNewEvent) {
    const Bytes present = Cat({build::ShortEventDescriptor(A("渡り鳥の空"), A("第３話")), Genre(0x30),
                               ExtendedEvent({{A("番組内容"), A("渡り鳥の物語。")}})});
    const Bytes following = Cat({build::ShortEventDescriptor(A("天気予報"), A("全国の天気")),
                                 ExtendedEvent({{A("出演者"), A("山田花子")}, {A("番組内容"), A("各地の天気")}})});
    const Bytes plain = build::ShortEventDescriptor(A("お知らせ"), A("番組のお知らせ"));
    const std::string presentTip = Sjis("ジャンル：ドラマ - 国内ドラマ\r\n番組内容\r\n渡り鳥の物語。");
    const std::string followingTip = Sjis("出演者\r\n山田花子\r\n番組内容\r\n各地の天気");

    Feed(kEitPid, Eit(0, 0, present));
    EXPECT_EQ(ToolTipHistory(), std::vector<std::string>({presentTip}));

    // No following event stored yet: its empty text gets an empty tooltip.
    ViewerCommand(t.s(), IDC_PRESENT_FOLLOWING);
    Feed(kEitPid, Eit(1, 0, following));
    ViewerCommand(t.s(), IDC_PRESENT_FOLLOWING);
    ViewerCommand(t.s(), IDC_PRESENT_FOLLOWING);
    // A new following version without details, then back to the present.
    Feed(kEitPid, Eit(1, 1, plain));
    ViewerCommand(t.s(), IDC_PRESENT_FOLLOWING);
    // The same present section again changes nothing; a new one without
    // details clears the tooltip.
    Feed(kEitPid, Eit(0, 0, present));
    Feed(kEitPid, Eit(0, 1, plain));
    EXPECT_EQ(ToolTipHistory(), std::vector<std::string>({presentTip, "", followingTip, presentTip, followingTip,
                                                          "", presentTip, ""}));
    // Every change of the event text brought its tooltip along.
    size_t textChanges = 0;
    for (const auto& c : t.platform.controlHistory) textChanges += c.first == IDC_INFO_TEXT ? 1 : 0;
    EXPECT_EQ(textChanges, t.platform.toolTipHistory.size());
}

// A following event delivered while the present view is on screen is
// stored; its tooltip appears with the switch, not before.
TEST_F(ProgrammeDisplay, EventOfTheOtherViewLeavesTheToolTipAlone) {
    const Bytes present = Cat({build::ShortEventDescriptor(A("ニュース"), A("今日の出来事")), Genre(0x00)});
    Feed(kEitPid, Eit(0, 0, present));
    ViewerCommand(t.s(), IDC_PRESENT_FOLLOWING);
    Feed(kEitPid, Eit(1, 0, Cat({build::ShortEventDescriptor(A("映画"), A("名作")), Genre(0x60)})));
    ViewerCommand(t.s(), IDC_PRESENT_FOLLOWING);  // back to the present
    const size_t before = t.platform.toolTipHistory.size();
    // The following assembler runs only in the following view; the present
    // event again, in a new version with the same details.
    Feed(kEitPid, Eit(0, 1, present));
    ASSERT_EQ(t.platform.toolTipHistory.size(), before + 1);
    EXPECT_EQ(t.platform.ToolTip(IDC_INFO_TEXT), Sjis("ジャンル：ニュース／報道 - 定時・総合"));
}

// The short description is decoded into 256 bytes for the event text. When
// it does not fit, the tooltip carries it whole, after the details; when it
// fits to the last byte, it is not repeated. 128 hiragana are 256 bytes of
// Shift_JIS: one more than the text holds beside its terminator.
TEST_F(ProgrammeDisplay, CutDescriptionIsShownWholeInTheToolTip) {
    struct Case {
        const char* name;
        int hiragana;
        bool withGenre;
        bool following;
        bool cut;
    };
    const Case cases[] = {
        {"127 characters fit", 127, false, false, false},
        {"128 characters are cut", 128, false, false, true},
        {"cut, after the genre", 200, true, false, true},
        {"fit, genre only", 20, true, false, false},
        {"following event cut", 128, false, true, true},
        {"following event fits", 127, false, true, false},
    };
    uint8_t version = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string utf8;
        for (int i = 0; i < c.hiragana; ++i) utf8 += "あ";
        const std::string whole = Sjis(utf8.c_str());
        Bytes descriptors = build::ShortEventDescriptor(A("題"), A(utf8.c_str()));
        if (c.withGenre) descriptors = Cat({descriptors, Genre(0x30)});
        if ((t.s().view == View::kFollowing) != c.following) ViewerCommand(t.s(), IDC_PRESENT_FOLLOWING);
        Feed(kEitPid, Eit(c.following ? 1 : 0, version++, descriptors));

        const std::string shown = t.platform.Text(IDC_INFO_TEXT);
        const size_t at = shown.find(Sjis("【題】\r\n"));
        ASSERT_NE(at, std::string::npos);
        const std::string description = shown.substr(at + Sjis("【題】\r\n").size());
        EXPECT_EQ(description, whole.substr(0, c.cut ? 254 : whole.size()));

        std::string expected = c.withGenre ? Sjis("ジャンル：ドラマ - 国内ドラマ") : "";
        if (c.cut) {
            // Wrapped at 80 bytes: 40 hiragana per line.
            for (size_t i = 0; i < whole.size(); i += kTooltipLineWidth) {
                if (!expected.empty()) expected += "\r\n";
                expected += whole.substr(i, kTooltipLineWidth);
            }
        }
        EXPECT_EQ(t.platform.ToolTip(IDC_INFO_TEXT), expected);
    }
}

// A service change forgets the stored events: switching views then shows
// empty texts with empty tooltips, not the details of the old service.
TEST_F(ProgrammeDisplay, ServiceChangeForgetsTheDetails) {
    Feed(kEitPid, Eit(0, 0, Cat({build::ShortEventDescriptor(A("題"), A("説明")), Genre(0x30)})));
    ASSERT_FALSE(t.platform.ToolTip(IDC_INFO_TEXT).empty());
    PluginOnChannelChange(t.s(), 27, kService + 1);
    t.platform.Pump(t.s());
    ViewerCommand(t.s(), IDC_PRESENT_FOLLOWING);
    ViewerCommand(t.s(), IDC_PRESENT_FOLLOWING);
    EXPECT_EQ(t.platform.ToolTip(IDC_INFO_TEXT), "");
}

// The following view before its first following section: the guide's
// programme after the one on air, with the text a following section of
// that programme gives, its details in the tooltip; the section, when it
// comes, takes over. Nothing from another service, none past the last
// programme, and never over a following section already shown.
TEST_F(ProgrammeDisplay, FollowingViewShowsTheGuidesNextProgrammeUntilItsSectionComes) {
    // A video and a stereo audio component, so the times line is whole.
    const Bytes components = Cat({build::Descriptor(0x50, {0x01, 0xB3, 0x00, 'j', 'p', 'n'}),
                                  build::Descriptor(0xC4, {0x02, 0x03, 0x10, 0x0F, 0x00, 0x58, 'j', 'p', 'n'})});
    const auto event = [&](uint16_t id, int hour, int minute, int length, const char* title, const Bytes& more) {
        build::EitEvent e = build::Event(kMjd, hour, minute, 0, length / 60, length % 60, 0,
                                         Cat({build::ShortEventDescriptor(A(title), A("あらすじ")), components, more}));
        e.eventId = id;
        return e;
    };
    const build::EitEvent news = event(0x1001, 21, 0, 60, "ニュース", Genre(0x00));
    const build::EitEvent drama =
        event(0x1002, 22, 0, 45, "連続ドラマ", Cat({Genre(0x30), ExtendedEvent({{A("出演者"), A("山田花子")}})}));
    const build::EitEvent weather = event(0x1003, 22, 45, 15, "天気予報", Genre(0x01));
    const build::EitEvent special = event(0x1004, 22, 0, 45, "特別番組", Bytes());
    build::EitHeader header = build::ScheduleHeader(kService, 56, 1);  // 21:00-24:00
    header.lastTableId = 0x50;
    const Bytes schedule = build::EitSection(header, {news, drama, weather});
    // What the viewer shows when the following section of each comes.
    const auto shownFor = [&](const build::EitEvent& e) {
        TestPlugin fresh;
        LoadSettingsBeforeWindow(fresh.s());
        PluginOnChannelChange(fresh.s(), 27, kService);
        fresh.platform.Pump(fresh.s());
        ViewerCommand(fresh.s(), IDC_PRESENT_FOLLOWING);
        const Bytes packets = sb.Stream(kEitPid, {build::EitPfSection(kService, 1, {e})});
        ViewerStreamData(fresh.s(), packets.data(), static_cast<uint32_t>(packets.size()));
        fresh.platform.Pump(fresh.s());
        return std::make_pair(fresh.platform.Text(IDC_INFO_TEXT), fresh.platform.ToolTip(IDC_INFO_TEXT));
    };
    const auto dramaShown = shownFor(drama);
    const auto weatherShown = shownFor(weather);
    const auto specialShown = shownFor(special);
    ASSERT_NE(dramaShown.first.find(Sjis("連続ドラマ")), std::string::npos);
    ASSERT_NE(dramaShown.second.find(Sjis("山田花子")), std::string::npos);

    enum Step { kClock2130, kClock2230, kClock2330, kPresentNews, kFollowingSpecial, kToggle, kOtherService };
    const std::pair<std::string, std::string> blank("", "");
    struct Case {
        const char* name;
        std::vector<Step> before;  // after the schedule, before the switch
        std::pair<std::string, std::string> shown;
    } cases[] = {
        {"the next programme by the clock", {kClock2130}, dramaShown},
        {"the one after, later", {kClock2230}, weatherShown},
        {"none after the last", {kClock2330}, blank},
        {"no clock: the one after the present section's", {kPresentNews}, dramaShown},
        {"no clock and no present section", {}, blank},
        // The viewer takes following sections in the following view only.
        {"the following section already came", {kClock2130, kToggle, kFollowingSpecial, kToggle}, specialShown},
        {"another service", {kClock2130, kOtherService}, blank},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestPlugin p;
        LoadSettingsBeforeWindow(p.s());
        PluginOnChannelChange(p.s(), 27, kService);
        p.platform.Pump(p.s());
        const auto feed = [&](const Bytes& section, uint16_t pid) {
            const Bytes packets = sb.Stream(pid, {section});
            ViewerStreamData(p.s(), packets.data(), static_cast<uint32_t>(packets.size()));
            p.platform.Pump(p.s());
        };
        feed(schedule, kEitPid);
        for (Step step : c.before) {
            switch (step) {
                case kClock2130: feed(build::TotSection(kMjd, 0x21, 0x30, 0), 0x0014); break;
                case kClock2230: feed(build::TotSection(kMjd, 0x22, 0x30, 0), 0x0014); break;
                case kClock2330: feed(build::TotSection(kMjd, 0x23, 0x30, 0), 0x0014); break;
                case kPresentNews: feed(build::EitPfSection(kService, 0, {news}), kEitPid); break;
                case kFollowingSpecial: feed(build::EitPfSection(kService, 1, {special}), kEitPid); break;
                case kToggle: ViewerCommand(p.s(), IDC_PRESENT_FOLLOWING); break;
                case kOtherService:
                    PluginOnChannelChange(p.s(), 27, kService + 1);
                    p.platform.Pump(p.s());
                    break;
            }
        }
        ViewerCommand(p.s(), IDC_PRESENT_FOLLOWING);
        EXPECT_EQ(p.platform.Text(IDC_INFO_TEXT), c.shown.first);
        EXPECT_EQ(p.platform.ToolTip(IDC_INFO_TEXT), c.shown.second);
        // Back and forth: the same again.
        ViewerCommand(p.s(), IDC_PRESENT_FOLLOWING);
        ViewerCommand(p.s(), IDC_PRESENT_FOLLOWING);
        EXPECT_EQ(p.platform.Text(IDC_INFO_TEXT), c.shown.first) << "shown again";
        // The following section itself replaces what the guide gave.
        feed(build::EitPfSection(kService, 1, {special}), kEitPid);
        if (std::find(c.before.begin(), c.before.end(), kOtherService) == c.before.end()) {
            EXPECT_EQ(p.platform.Text(IDC_INFO_TEXT), specialShown.first) << "after the section";
        }
    }
}

// The programme the guide gives the following view is the one a recording
// request then asks for, exactly as when its section has come.
TEST_F(ProgrammeDisplay, TheGuidesFollowingProgrammeIsTheOneRequested) {
    build::EitEvent drama = build::Event(kMjd, 22, 0, 0, 0, 45, 0, build::ShortEventDescriptor(A("連続ドラマ"), A("")));
    drama.eventId = 0x1002;
    build::EitHeader header = build::ScheduleHeader(kService, 56, 1);
    header.lastTableId = 0x50;
    Feed(0x0014, build::TotSection(kMjd, 0x21, 0x30, 0));
    Feed(kEitPid, build::EitSection(header, {drama}));
    ViewerCommand(t.s(), IDC_PRESENT_FOLLOWING);
    ViewerCommand(t.s(), IDC_RECORD_REQUEST);
    Feed(kEitPid, build::EitPfSection(kService, 1, {drama}));
    ViewerCommand(t.s(), IDC_RECORD_REQUEST);
    ASSERT_EQ(t.platform.ownerPosted.size(), 2u);
    // 22:00 less 21:30 is 1,800 s, less 11; 45 minutes plus 1.
    EXPECT_EQ(t.platform.ownerPosted[0].second, (1789u << 16) | 46u);
    EXPECT_EQ(t.platform.ownerPosted[1], t.platform.ownerPosted[0]);
}

// SetToolTipText may wait for the window's thread: it must be called on
// that thread, by the handlers of the posted messages, with the lock free.
// The packets arrive on a thread of their own, as the host sends them.
TEST(ProgrammeDisplayThreads, ToolTipIsSetOnTheWindowThreadWithoutTheLock) {
    struct Probe : FakePlatform {
        PluginState* state = nullptr;
        std::thread::id windowThread;
        int heldDuringCall = 0;
        int otherThread = 0;
        void SetToolTipText(int32_t id, const char* text) override {
            if (state->lock.try_lock()) {
                state->lock.unlock();
            } else {
                ++heldDuringCall;
            }
            if (std::this_thread::get_id() != windowThread) ++otherThread;
            FakePlatform::SetToolTipText(id, text);
        }
    };
    Probe probe;
    std::unique_ptr<PluginState> s(new PluginState);
    InitPluginState(*s, &probe);
    s->hasWindow = true;
    probe.state = s.get();
    probe.windowThread = std::this_thread::get_id();
    PluginOnChannelChange(*s, 27, kService);
    probe.Pump(*s);

    build::StreamBuilder sb;
    const Bytes details = Cat({build::ShortEventDescriptor(A("題"), A("説明")), Genre(0x30),
                               ExtendedEvent({{A("番組内容"), A("本文")}})});
    const Bytes packets = sb.Stream(kEitPid, {Eit(0, 0, details)});
    std::thread host([&] { ViewerStreamData(*s, packets.data(), static_cast<uint32_t>(packets.size())); });
    host.join();
    EXPECT_TRUE(probe.toolTipHistory.empty()) << "the packet path set the tooltip";
    probe.Pump(*s);
    ViewerCommand(*s, IDC_PRESENT_FOLLOWING);
    ViewerCommand(*s, IDC_PRESENT_FOLLOWING);
    EXPECT_EQ(probe.toolTipHistory.size(), 3u);
    EXPECT_EQ(probe.heldDuringCall, 0);
    EXPECT_EQ(probe.otherThread, 0);
}

// [DISPLAY] Symbols: 0 (or missing) writes the additional symbols as the
// user-defined characters of code page 932, 1 as bracketed text, in every
// text of the window: the caption (service name from the SDT), the event
// text and the tooltip.
TEST(ProgrammeDisplaySymbols, SettingReachesCaptionEventTextAndToolTip) {
    struct Case {
        const char* setting;  // nullptr: no key in the file
        bool bracketed;
    };
    const Case cases[] = {{nullptr, false}, {"0", false}, {"1", true}, {"2", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.setting == nullptr ? "missing" : c.setting);
        TestPlugin t;
        if (c.setting != nullptr) t.platform.settings["DISPLAY/Symbols"] = c.setting;
        LoadSettingsBeforeWindow(t.s());
        PluginOnChannelChange(t.s(), 27, kService);
        build::StreamBuilder sb;
        const Bytes sdt = build::SdtSection(build::kDefaultTransportStreamId, build::kDefaultNetworkId,
                                            {build::NamedService(kService, Cat({Alnum("ONESEG"), kBoxedJi}))});
        const Bytes event = Cat({build::ShortEventDescriptor(Cat({A("ドラマ"), kBoxedJi}), Cat({A("説明"), kBoxedJi})),
                                 ExtendedEvent({{A("番組内容"), Cat({A("本文"), kBoxedJi})}})});
        const Bytes packets = Cat({sb.Stream(kSdtPid, {sdt}), sb.Stream(kEitPid, {Eit(0, 0, event)})});
        ViewerStreamData(t.s(), packets.data(), static_cast<uint32_t>(packets.size()));
        t.platform.Pump(t.s());

        const std::string symbol = c.bracketed ? Sjis("[字]") : kJiUserDefined;
        EXPECT_EQ(t.platform.windowTitle, Sjis("番組情報（現在）- ONESEG") + symbol);
        const std::string text = t.platform.Text(IDC_INFO_TEXT);
        EXPECT_NE(text.find(Sjis("【ドラマ") + symbol + Sjis("】\r\n説明") + symbol), std::string::npos) << text;
        EXPECT_EQ(t.platform.ToolTip(IDC_INFO_TEXT), Sjis("番組内容\r\n本文") + symbol);
        // Nothing of the other style anywhere.
        const std::string other = c.bracketed ? kJiUserDefined : Sjis("[字]");
        for (const std::string& s : {t.platform.windowTitle, text, t.platform.ToolTip(IDC_INFO_TEXT)}) {
            EXPECT_EQ(s.find(other), std::string::npos) << s;
        }
    }
}

}  // namespace
