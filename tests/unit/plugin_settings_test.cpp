// The settings file beside the host executable: its path, the position
// clamps, the template choice, the channel table and what is written back.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "plugin/plugin_core.h"
#include "plugin/settings.h"
#include "tests/support/test_plugin.h"
#include "ui/channel_buttons.h"
#include "ui/resource.h"
#include "ui/viewer.h"

namespace {

struct PathCase {
    const char* name;
    std::string executable;
    std::string expected;  // "" = no settings path: defaults, nothing written
    bool reportedCut = false;  // the platform says a buffer-filling path was cut
};

// A directory part (including its final backslash) of exactly n bytes.
std::string DirectoryOf(size_t n) {
    std::string d = "C:\\";
    d += std::string(n - 4, 'd');
    d += "\\";
    return d;
}

class SettingsPath : public ::testing::TestWithParam<PathCase> {};

TEST_P(SettingsPath, IsBuiltBesideTheExecutable) {
    const PathCase& c = GetParam();
    TestPlugin t;
    t.platform.executablePath = c.executable;
    t.platform.executablePathCut = c.reportedCut;
    // A value that shows whether the file was read at all.
    t.platform.settings["POSITION/Left"] = "100";
    LoadSettingsBeforeWindow(t.s());
    EXPECT_EQ(std::string(t.s().settingsPath), c.expected);
    if (c.expected.empty()) {
        EXPECT_EQ(t.s().windowLeft, 0);
        EXPECT_TRUE(t.platform.settingsPathsUsed.empty());
        SaveWindowPosition(t.s());
        SaveTemplateChoice(t.s());
        EXPECT_TRUE(t.platform.settingWrites.empty());
    } else {
        EXPECT_EQ(t.s().windowLeft, 100);
        for (const std::string& used : t.platform.settingsPathsUsed) EXPECT_EQ(used, c.expected);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SettingsPath,
    ::testing::Values(
        PathCase{"Nested", "C:\\Program Files\\Host\\host.exe", "C:\\Program Files\\Host\\Kestrin.ini"},
        PathCase{"DriveRoot", "C:\\host.exe", "C:\\Kestrin.ini"},
        PathCase{"NoBackslash", "host.exe", "host.exeKestrin.ini"},
        // Index 0 is not part of the scan: the whole path is kept.
        PathCase{"OnlyLeadingBackslash", "\\host.exe", "\\host.exeKestrin.ini"},
        PathCase{"NoExecutablePath", "", ""},
        // Directory of 248 bytes + "Kestrin.ini" + terminator = 260: fits.
        PathCase{"LongestThatFits", DirectoryOf(248) + "h.exe", DirectoryOf(248) + "Kestrin.ini"},
        PathCase{"OneByteTooLong", DirectoryOf(249) + "h.exe", ""},
        // 258, 259 and 260 characters with a short directory: a whole path
        // that fills the 260-byte buffer exactly is as good as a shorter one.
        PathCase{"Whole258", DirectoryOf(200) + std::string(58, 'h'), DirectoryOf(200) + "Kestrin.ini"},
        PathCase{"Whole259", DirectoryOf(200) + std::string(59, 'h'), DirectoryOf(200) + "Kestrin.ini"},
        PathCase{"Cut260", DirectoryOf(200) + std::string(60, 'h'), ""},
        // The same 259 characters when GetModuleFileNameA reported a cut.
        PathCase{"ReportedCut259", DirectoryOf(200) + std::string(59, 'h'), "", true},
        // 259 whole characters whose directory leaves no room for the name.
        PathCase{"Whole259LongDirectory", DirectoryOf(250) + std::string(9, 'h'), ""},
        PathCase{"Truncated", DirectoryOf(280) + "host.exe", ""}),
    [](const ::testing::TestParamInfo<PathCase>& param) { return std::string(param.param.name); });

struct PositionCase {
    const char* left;  // nullptr = key missing
    const char* top;
    int32_t expectedLeft;
    int32_t expectedTop;
};

TEST(Settings, PositionClampsOnlyTheUpperBounds) {
    const PositionCase cases[] = {
        {"4000", "3000", 4000, 3000}, {"4001", "3001", 0, 0},    {"0", "0", 0, 0},
        {"-50", "-20", -50, -20},     {nullptr, nullptr, 0, 0},  {"99999", "12", 0, 12},
    };
    for (const PositionCase& c : cases) {
        TestPlugin t;
        if (c.left) t.platform.settings["POSITION/Left"] = c.left;
        if (c.top) t.platform.settings["POSITION/Top"] = c.top;
        LoadSettingsBeforeWindow(t.s());
        EXPECT_EQ(t.s().windowLeft, c.expectedLeft) << (c.left ? c.left : "missing");
        EXPECT_EQ(t.s().windowTop, c.expectedTop) << (c.top ? c.top : "missing");
    }
}

TEST(Settings, FontSelectsTheTemplate) {
    const struct {
        const char* font;
        int32_t choice;
        int32_t templateId;
    } cases[] = {
        {"1", 1, IDD_VIEWER_HGP}, {"2", 2, IDD_VIEWER_DF}, {"3", 3, IDD_VIEWER_MS},
        {"0", 0, IDD_VIEWER_MS},  {"-1", -1, IDD_VIEWER_MS}, {nullptr, 0, IDD_VIEWER_MS},
    };
    for (const auto& c : cases) {
        TestPlugin t;
        if (c.font) t.platform.settings["POSITION/Font"] = c.font;
        EXPECT_EQ(LoadSettingsBeforeWindow(t.s()), c.templateId) << (c.font ? c.font : "missing");
        EXPECT_EQ(t.s().templateChoice, c.choice);
    }
}

TEST(Settings, ChannelsOutsideTheTunableRangeBlankTheirButtons) {
    TestPlugin t;
    const char* values[kChannelButtonCount] = {"12", "13", "62", "63", nullptr, "0",
                                               "-1", "27", "100", "20", "14", "61"};
    for (int32_t i = 0; i < kChannelButtonCount; ++i) {
        if (values[i]) t.platform.settings["SERVICE/CH" + std::to_string(i + 1)] = values[i];
    }
    LoadSettingsBeforeWindow(t.s());
    LoadChannelTable(t.s());

    const int32_t expected[kChannelButtonCount] = {12, 13, 62, 63, 0, 0, -1, 27, 100, 20, 14, 61};
    const bool blank[kChannelButtonCount] = {true,  false, false, true,  true,  true,
                                             true,  false, true,  false, false, false};
    for (int32_t i = 0; i < kChannelButtonCount; ++i) {
        // Out-of-range numbers stay in the table; only the label changes.
        EXPECT_EQ(t.s().channelTable[i], expected[i]) << "CH" << i + 1;
        EXPECT_EQ(t.platform.Text(kChannelButtonIds[i]), blank[i] ? " " : "") << "CH" << i + 1;
    }
}

TEST(Settings, NoSettingsFileGivesTheDefaults) {
    TestPlugin t;
    EXPECT_EQ(LoadSettingsBeforeWindow(t.s()), IDD_VIEWER_MS);
    EXPECT_EQ(t.s().windowLeft, 0);
    EXPECT_EQ(t.s().windowTop, 0);
    LoadChannelTable(t.s());
    for (int32_t i = 0; i < kChannelButtonCount; ++i) {
        EXPECT_EQ(t.platform.Text(kChannelButtonIds[i]), " ");
    }
    char directory[260];
    char fileName[100];
    ReadRecordingSettings(t.s(), directory, sizeof directory, fileName, sizeof fileName);
    EXPECT_STREQ(directory, "C:\\");
    EXPECT_STREQ(fileName, "");
    EXPECT_TRUE(t.platform.settingWrites.empty());
}

TEST(Settings, SavingWritesLeftThenTopAndKeepsThePosition) {
    TestPlugin t;
    LoadSettingsBeforeWindow(t.s());
    t.platform.windowLeft = -120;
    t.platform.windowTop = 4500;  // saved as it is: the clamp applies only on reading
    SaveWindowPosition(t.s());
    EXPECT_EQ(t.s().windowLeft, -120);
    EXPECT_EQ(t.s().windowTop, 4500);
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"POSITION/Left", "-120"}, {"POSITION/Top", "4500"}};
    EXPECT_EQ(t.platform.settingWrites, expected);
}

// Minimising moves the window to (-32000, -32000) with a WM_MOVE: that is no
// place to open at next time. A maximised window keeps its restored position.
TEST(Settings, OnlyTheNormalPositionIsSaved) {
    const struct {
        const char* name;
        WindowShow show;
        int32_t left, top;              // window rectangle
        int32_t normalLeft, normalTop;  // restored rectangle
        bool saved;
        int32_t savedLeft, savedTop;
    } cases[] = {
        {"normal", WindowShow::kNormal, 150, 90, 0, 0, true, 150, 90},
        {"normal on a monitor left of the primary", WindowShow::kNormal, -1500, -40, 0, 0, true, -1500, -40},
        {"minimised", WindowShow::kMinimised, -32000, -32000, 150, 90, false, 0, 0},
        {"minimised, parked elsewhere", WindowShow::kMinimised, 0, 1000, 150, 90, false, 0, 0},
        {"parking position while shown normally", WindowShow::kNormal, -32000, -32000, 150, 90, false, 0, 0},
        {"maximised", WindowShow::kMaximised, -8, -8, 150, 90, true, 150, 90},
    };
    for (const auto& c : cases) {
        TestPlugin t;
        t.platform.settings["POSITION/Left"] = "7";
        t.platform.settings["POSITION/Top"] = "8";
        LoadSettingsBeforeWindow(t.s());
        t.platform.windowShow = c.show;
        t.platform.windowLeft = c.left;
        t.platform.windowTop = c.top;
        t.platform.normalLeft = c.normalLeft;
        t.platform.normalTop = c.normalTop;
        ViewerInitialised(t.s());
        ViewerMoved(t.s());
        if (c.saved) {
            const std::vector<std::pair<std::string, std::string>> expected = {
                {"POSITION/Left", std::to_string(c.savedLeft)}, {"POSITION/Top", std::to_string(c.savedTop)}};
            EXPECT_EQ(t.platform.settingWrites, expected) << c.name;
            EXPECT_EQ(t.s().windowLeft, c.savedLeft) << c.name;
            EXPECT_EQ(t.s().windowTop, c.savedTop) << c.name;
        } else {
            EXPECT_TRUE(t.platform.settingWrites.empty()) << c.name;
            EXPECT_EQ(t.s().windowLeft, 7) << c.name;
            EXPECT_EQ(t.s().windowTop, 8) << c.name;
        }
    }
}

// GetModuleFileNameA with a 260-byte buffer: the length returned and whether
// ERROR_INSUFFICIENT_BUFFER was set.
TEST(Settings, ModuleFileNameResultTellsAWholePathFromACutOne) {
    const struct {
        uint32_t length;
        bool insufficientBuffer;
        bool whole;
    } cases[] = {
        {258, false, true},
        {259, false, true},   // exactly fills the buffer
        {259, true, false},   // cut, as systems that report it return it
        {260, true, false},   // cut: the size itself comes back
        {260, false, false},  // cut on older systems: no error, no terminator
        {0, false, false},    // the call failed
        {261, false, false},
        {12, true, true},     // a stale error does not matter below size - 1
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ModuleFileNameIsWhole(c.length, 260, c.insufficientBuffer), c.whole)
            << c.length << (c.insufficientBuffer ? " with" : " without") << " the error";
    }
    EXPECT_FALSE(ModuleFileNameIsWhole(0, 0, false));
}

TEST(Settings, TemplateChoiceIsWrittenBackAsRead) {
    TestPlugin t;
    t.platform.settings["POSITION/Font"] = "7";
    LoadSettingsBeforeWindow(t.s());
    SaveTemplateChoice(t.s());
    const std::vector<std::pair<std::string, std::string>> expected = {{"POSITION/Font", "7"}};
    EXPECT_EQ(t.platform.settingWrites, expected);
}

TEST(Settings, RecordingSettingsAreBoundedByTheirBuffers) {
    TestPlugin t;
    LoadSettingsBeforeWindow(t.s());
    t.platform.settings["1Seg/Directory"] = "D:\\" + std::string(400, 'x');
    t.platform.settings["1Seg/Filename"] = std::string(150, 'y');
    char directory[260];
    char fileName[100];
    std::memset(directory, 'Z', sizeof directory);
    std::memset(fileName, 'Z', sizeof fileName);
    ReadRecordingSettings(t.s(), directory, sizeof directory, fileName, sizeof fileName);
    EXPECT_EQ(std::strlen(directory), 259u);
    EXPECT_EQ(std::strlen(fileName), 99u);
}

}  // namespace
