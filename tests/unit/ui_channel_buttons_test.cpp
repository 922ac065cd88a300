// The channel on air is circled whenever the host reports it: before the
// window exists, while CreatePluginWindow loads the channel table (the host
// reports from a thread of its own), or afterwards, and again when it is
// reported again. The table is published under the lock, so the reporting
// thread never reads it half-written.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "plugin/plugin_core.h"
#include "plugin/plugin_state.h"
#include "plugin/settings.h"
#include "tests/support/fake_platform.h"
#include "ui/channel_buttons.h"
#include "ui/resource.h"
#include "ui/viewer.h"

namespace {

const int32_t kService = 0x5DB8;

// A platform whose settings file runs `hook` when the given key is read:
// the host's report arrives while the channel table is being loaded.
struct LoadingPlatform : FakePlatform {
    std::string hookKey;
    std::function<void()> hook;

    int32_t ReadSettingInt(const char* section, const char* key, int32_t defaultValue,
                           const char* path) override {
        if (hook && hookKey == std::string(section) + "/" + key) {
            const std::function<void()> run = hook;
            hook = nullptr;
            run();
        }
        return FakePlatform::ReadSettingInt(section, key, defaultValue, path);
    }
};

// The host's side of a plug-in whose window is created in the test.
struct Host {
    LoadingPlatform platform;
    std::unique_ptr<PluginState> state;

    Host() : state(new PluginState) {
        InitPluginState(*state, &platform);
        // Buttons 1, 6 and 9 carry channels; 2 and 12 cannot tune (blank).
        platform.settings["SERVICE/CH1"] = "26";
        platform.settings["SERVICE/CH2"] = "0";
        platform.settings["SERVICE/CH6"] = "27";
        platform.settings["SERVICE/CH9"] = "27";
        platform.settings["SERVICE/CH12"] = "70";
        // No dialog yet: posted messages go nowhere.
        platform.window = false;
        LoadSettingsBeforeWindow(*state);
    }
    PluginState& s() { return *state; }
    // As CreatePluginWindow: the dialog, then the channel table.
    void CreateWindow() {
        {
            std::lock_guard<std::mutex> g(platform.mutex);
            platform.window = true;
        }
        state->hasWindow = true;
        LoadChannelTable(*state);
    }
    void ReportOnHostThread(int32_t channel) {
        std::thread host([this, channel] { PluginOnChannelChange(*state, channel, kService); });
        host.join();
    }
    // Each button's label, with the template's plain number for one never set.
    std::vector<std::string> Labels() {
        std::vector<std::string> labels;
        for (int32_t i = 0; i < kChannelButtonCount; ++i) {
            const std::string label = platform.Text(kChannelButtonIds[i]);
            labels.push_back(label.empty() ? std::to_string(i + 1) : label);
        }
        return labels;
    }
};

// The labels when `channel` is on air: "①".."⑫" on its buttons, " " on
// those that cannot tune, plain numbers elsewhere.
std::vector<std::string> Expected(int32_t channel) {
    const int32_t table[kChannelButtonCount] = {26, 0, 0, 0, 0, 27, 0, 0, 27, 0, 0, 70};
    std::vector<std::string> labels;
    for (int32_t i = 0; i < kChannelButtonCount; ++i) {
        if (table[i] == channel) {
            labels.push_back(std::string("\x87") + static_cast<char>(0x40 + i));
        } else if (!IsTunableChannel(table[i])) {
            labels.push_back(" ");
        } else {
            labels.push_back(std::to_string(i + 1));
        }
    }
    return labels;
}

enum class When { kBefore, kDuringFirstRead, kDuringSixthRead, kDuringLastRead, kAfter };

struct ReportCase {
    const char* name;
    int32_t earlier;  // reported before the window, -1: none
    When when;        // when `channel` is reported
    int32_t channel;
    bool again;       // `channel` reported once more after the window was created
};

void PrintTo(const ReportCase& c, std::ostream* os) { *os << c.name; }

class CircledChannel : public ::testing::TestWithParam<ReportCase> {};

TEST_P(CircledChannel, TheReportedChannelIsCircledWhateverTheOrder) {
    const ReportCase& c = GetParam();
    Host h;
    if (c.earlier >= 0) h.ReportOnHostThread(c.earlier);
    const char* const keys[] = {"SERVICE/CH1", "SERVICE/CH6", "SERVICE/CH12"};
    switch (c.when) {
        case When::kBefore:
            h.ReportOnHostThread(c.channel);
            h.CreateWindow();
            break;
        case When::kDuringFirstRead:
        case When::kDuringSixthRead:
        case When::kDuringLastRead:
            h.platform.hookKey = keys[static_cast<int>(c.when) - static_cast<int>(When::kDuringFirstRead)];
            h.platform.hook = [&h, &c] { h.ReportOnHostThread(c.channel); };
            h.CreateWindow();
            ASSERT_FALSE(h.platform.hook) << "the table was loaded without reading " << h.platform.hookKey;
            break;
        case When::kAfter:
            h.CreateWindow();
            h.ReportOnHostThread(c.channel);
            break;
    }
    h.platform.Pump(h.s());
    EXPECT_EQ(h.Labels(), Expected(c.channel));
    if (c.again) {
        h.ReportOnHostThread(c.channel);
        h.platform.Pump(h.s());
        EXPECT_EQ(h.Labels(), Expected(c.channel)) << "reported again";
    }
    EXPECT_EQ(h.s().circledChannel, c.channel);
}

INSTANTIATE_TEST_SUITE_P(
    AnyOrder, CircledChannel,
    ::testing::Values(
        ReportCase{"Before", -1, When::kBefore, 27, false},
        ReportCase{"BeforeThenAgain", -1, When::kBefore, 27, true},
        ReportCase{"BeforeOnTheFirstButton", -1, When::kBefore, 26, true},
        ReportCase{"DuringTheFirstRead", -1, When::kDuringFirstRead, 27, true},
        ReportCase{"DuringTheSixthRead", -1, When::kDuringSixthRead, 27, false},
        ReportCase{"DuringTheLastRead", -1, When::kDuringLastRead, 27, false},
        // Another channel came first: its button ends plain.
        ReportCase{"BeforeAndAnotherDuring", 26, When::kDuringFirstRead, 27, false},
        ReportCase{"BeforeAndAnotherAfter", 26, When::kAfter, 27, true},
        ReportCase{"After", -1, When::kAfter, 27, true},
        // On no button: nothing circled, the blanks stay blank.
        ReportCase{"BeforeOnNoButton", -1, When::kBefore, 40, true}),
    [](const ::testing::TestParamInfo<ReportCase>& param) { return std::string(param.param.name); });

// Nothing reported before the window: nothing is circled, and the template's
// numbers stay (only the blanks are set).
TEST(CircledChannelNone, NoChannelBeforeTheWindowCirclesNothing) {
    Host h;
    h.CreateWindow();
    h.platform.Pump(h.s());
    EXPECT_EQ(h.Labels(), Expected(-1));
    for (const auto& change : h.platform.controlHistory) EXPECT_EQ(change.second, " ");
}

// The host's thread keeps reporting while the window's thread loads the
// table, with no order between them at all (ThreadSanitizer checks the
// table's hand-over): the channel ends circled every time.
TEST(CircledChannelRace, ReportsRacingTheTableLoadEndCircled) {
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE(round);
        const int32_t channel = round % 2 == 0 ? 27 : 26;
        Host h;
        std::atomic<bool> reporting{false};
        std::atomic<bool> created{false};
        std::thread host([&h, &reporting, &created, channel] {
            // Until the window exists and once after: the reports before
            // it find no button and post nothing.
            do {
                PluginOnChannelChange(h.s(), channel, kService);
                reporting = true;
            } while (!created.load());
            PluginOnChannelChange(h.s(), channel, kService);
        });
        // The load starts while the host is reporting.
        while (!reporting.load()) std::this_thread::yield();
        h.CreateWindow();
        created = true;
        host.join();
        h.platform.Pump(h.s());
        EXPECT_EQ(h.Labels(), Expected(channel));
    }
}

// A key that names no channel the buttons can tune (absent, -1, out of
// 13..62, not a number) gives a blank button that a press leaves alone,
// whatever the host reports afterwards: its own "no channel" (-1), the
// number the key holds, or a real channel and then none again.
struct UntunableKeyCase {
    const char* name;
    const char* value;  // null: no CH3 key
    int32_t reported;   // the host's report that must not label button 3
};

void PrintTo(const UntunableKeyCase& c, std::ostream* os) { *os << c.name; }

class UntunableKey : public ::testing::TestWithParam<UntunableKeyCase> {};

TEST_P(UntunableKey, GivesABlankButtonThatNeverTunes) {
    const UntunableKeyCase& c = GetParam();
    Host h;
    if (c.value != nullptr) h.platform.settings["SERVICE/CH3"] = c.value;
    h.CreateWindow();
    h.platform.Pump(h.s());
    const int32_t button = 2;
    EXPECT_EQ(h.Labels()[button], " ") << "after the table was loaded";
    const int32_t reports[] = {c.reported, 27, c.reported, 26, -1};
    for (const int32_t channel : reports) {
        h.ReportOnHostThread(channel);
        h.platform.Pump(h.s());
        EXPECT_EQ(h.Labels()[button], " ") << "after the host reported " << channel;
    }
    h.platform.tuned.clear();
    ViewerCommand(h.s(), kChannelButtonIds[button]);
    EXPECT_TRUE(h.platform.tuned.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Keys, UntunableKey,
    ::testing::Values(UntunableKeyCase{"Absent", nullptr, -1}, UntunableKeyCase{"MinusOne", "-1", -1},
                      UntunableKeyCase{"Zero", "0", 0}, UntunableKeyCase{"BelowTheBand", "12", 12},
                      UntunableKeyCase{"AboveTheBand", "63", 63}, UntunableKeyCase{"Negative", "-27", -27},
                      UntunableKeyCase{"NotANumber", "abc", 0}, UntunableKeyCase{"Empty", "", 0}),
    [](const ::testing::TestParamInfo<UntunableKeyCase>& param) { return std::string(param.param.name); });

}  // namespace
