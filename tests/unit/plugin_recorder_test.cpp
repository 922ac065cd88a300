// The one-segment recorder: file names, the recording states and their
// button label, failed creates and writes, over-long paths.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "plugin/recorder.h"
#include "plugin/router.h"
#include "plugin/settings.h"
#include "tests/support/test_plugin.h"
#include "ui/channel_buttons.h"
#include "ui/record_button.h"
#include "ui/resource.h"
#include "ui/viewer.h"

namespace {

const std::string kRecordingLabel = "1\x81\xA1";
const std::string kIdleLabel = "1\x81\x9B";

void Open(TestPlugin& t) { LoadSettingsBeforeWindow(t.s()); }
void Press(TestPlugin& t) { ViewerCommand(t.s(), IDC_ONESEG_RECORD); }

std::vector<uint8_t> Packet(uint16_t pid, uint8_t fill = 0xFF) {
    std::vector<uint8_t> p(188, fill);
    p[0] = 0x47;
    p[1] = static_cast<uint8_t>((pid >> 8) & 0x1F);
    p[2] = static_cast<uint8_t>(pid);
    p[3] = 0x10;
    return p;
}

struct NameCase {
    const char* name;
    int32_t channel;
    const char* directory;  // nullptr: key missing
    const char* fileName;   // nullptr: key missing
    LocalTime time;
    const char* expected;
};

class RecordingPath : public ::testing::TestWithParam<NameCase> {};

TEST_P(RecordingPath, IsDirectoryPlusConfiguredOrGeneratedName) {
    const NameCase& c = GetParam();
    TestPlugin t;
    Open(t);
    t.s().currentChannel = c.channel;
    t.platform.localTime = c.time;
    if (c.directory) t.platform.settings["1Seg/Directory"] = c.directory;
    if (c.fileName) t.platform.settings["1Seg/Filename"] = c.fileName;
    Press(t);
    EXPECT_EQ(t.platform.createdPaths, std::vector<std::string>{c.expected});
    EXPECT_TRUE(t.s().recording);
    EXPECT_NE(t.s().recordingFile, kInvalidFileHandle);
}

const LocalTime kEvening = {2026, 12, 8, 22, 15, 0};

INSTANTIATE_TEST_SUITE_P(
    Cases, RecordingPath,
    ::testing::Values(
        NameCase{"NoSettings", 27, nullptr, nullptr, kEvening, "C:\\ch27_20261208_221500.ts"},
        NameCase{"DirectoryWithoutBackslash", 27, "D:\\rec", nullptr, kEvening,
                 "D:\\rec\\ch27_20261208_221500.ts"},
        NameCase{"DirectoryWithBackslash", 27, "D:\\rec\\", nullptr, kEvening,
                 "D:\\rec\\ch27_20261208_221500.ts"},
        NameCase{"EmptyDirectoryIsTheDriveRoot", 27, "", nullptr, kEvening,
                 "\\ch27_20261208_221500.ts"},
        NameCase{"FixedName", 27, "D:\\rec", "one.ts", kEvening, "D:\\rec\\one.ts"},
        NameCase{"EmptyFileNameIsGenerated", 27, "D:\\rec", "", kEvening,
                 "D:\\rec\\ch27_20261208_221500.ts"},
        NameCase{"OneDigitChannel", 5, nullptr, nullptr, kEvening, "C:\\ch05_20261208_221500.ts"},
        NameCase{"NoChannelReportedYet", -1, nullptr, nullptr, kEvening,
                 "C:\\ch-01_20261208_221500.ts"},
        NameCase{"OneDigitDateAndTime", 13, nullptr, nullptr, {2027, 1, 2, 3, 4, 5},
                 "C:\\ch13_20270102_030405.ts"},
        // 0x95 0x5C is one Shift_JIS character whose second byte is 0x5C: the
        // directory does not end in a separator.
        NameCase{"ShiftJisTrailByteIsNotASeparator", 27, "D:\\\x95\x5C", "one.ts", kEvening,
                 "D:\\\x95\x5C\\one.ts"},
        // Lead bytes at the edges of both ranges, 0x81..0x9F and 0xE0..0xFC.
        NameCase{"TrailByte5CAfterLead81", 27, "D:\\\x81\x5C", "one.ts", kEvening, "D:\\\x81\x5C\\one.ts"},
        NameCase{"TrailByte5CAfterLead9F", 27, "D:\\\x9F\x5C", "one.ts", kEvening, "D:\\\x9F\x5C\\one.ts"},
        NameCase{"TrailByte5CAfterLeadE0", 27, "D:\\\xE0\x5C", "one.ts", kEvening, "D:\\\xE0\x5C\\one.ts"},
        NameCase{"TrailByte5CAfterLeadFC", 27, "D:\\\xFC\x5C", "one.ts", kEvening, "D:\\\xFC\x5C\\one.ts"},
        // The bytes just outside the ranges are single characters: the 0x5C
        // behind them is a separator.
        NameCase{"BackslashAfter80", 27, "D:\\\x80\x5C", "one.ts", kEvening, "D:\\\x80\x5Cone.ts"},
        NameCase{"BackslashAfterA0", 27, "D:\\\xA0\x5C", "one.ts", kEvening, "D:\\\xA0\x5Cone.ts"},
        NameCase{"BackslashAfterHalfWidthDF", 27, "D:\\\xDF\x5C", "one.ts", kEvening, "D:\\\xDF\x5Cone.ts"},
        NameCase{"BackslashAfterFD", 27, "D:\\\xFD\x5C", "one.ts", kEvening, "D:\\\xFD\x5Cone.ts"},
        NameCase{"ShiftJisThenBackslash", 27, "D:\\\x95\x5C\\", "one.ts", kEvening,
                 "D:\\\x95\x5C\\one.ts"}),
    [](const ::testing::TestParamInfo<NameCase>& param) { return std::string(param.param.name); });

// A directory of exactly n bytes, with or without its final backslash.
std::string Directory(size_t n, bool backslash) {
    std::string d = "D:\\";
    d += std::string(n - d.size() - (backslash ? 1 : 0), 'r');
    if (backslash) d += "\\";
    return d;
}

TEST(Recorder, PathsThatDoNotFit260BytesAreNeverCreated) {
    const struct {
        std::string directory;
        const char* fileName;
        size_t pathLength;  // directory, separator and name
    } cases[] = {
        {Directory(255, true), "x.ts", 259},
        {Directory(256, true), "x.ts", 260},
        {Directory(254, false), "x.ts", 259},
        {Directory(255, false), "x.ts", 260},
        // The generated name "ch27_20261208_221500.ts" has 23 bytes.
        {Directory(236, true), "", 259},
        {Directory(237, true), "", 260},
        // Both keys at their longest: 259 + 1 + 99 bytes.
        {Directory(259, false), nullptr, 359},
    };
    for (const auto& c : cases) {
        TestPlugin t;
        Open(t);
        t.s().currentChannel = 27;
        t.platform.settings["1Seg/Directory"] = c.directory;
        t.platform.settings["1Seg/Filename"] = c.fileName ? c.fileName : std::string(99, 'n');
        Press(t);
        if (c.pathLength < 260) {
            ASSERT_EQ(t.platform.createdPaths.size(), 1u) << c.pathLength;
            EXPECT_EQ(t.platform.createdPaths[0].size(), c.pathLength);
            EXPECT_TRUE(t.s().recording);
            EXPECT_EQ(t.platform.Text(IDC_ONESEG_RECORD), kRecordingLabel);
        } else {
            EXPECT_TRUE(t.platform.createdPaths.empty()) << c.pathLength;
            EXPECT_FALSE(t.s().recording);
            EXPECT_EQ(t.s().recordingFile, kInvalidFileHandle);
            EXPECT_EQ(t.platform.Text(IDC_ONESEG_RECORD), kIdleLabel);
        }
    }
}

TEST(Recorder, ButtonStartsAndStops) {
    TestPlugin t;
    Open(t);
    t.s().currentChannel = 27;
    Press(t);
    EXPECT_TRUE(t.s().recording);
    ASSERT_NE(t.s().recordingFile, kInvalidFileHandle);
    EXPECT_EQ(t.platform.openFiles.size(), 1u);
    EXPECT_EQ(t.platform.Text(IDC_ONESEG_RECORD), kRecordingLabel);

    Press(t);
    EXPECT_FALSE(t.s().recording);
    EXPECT_EQ(t.s().recordingFile, kInvalidFileHandle);
    EXPECT_TRUE(t.platform.openFiles.empty());
    EXPECT_EQ(t.platform.closeOfClosedFile, 0);
    EXPECT_EQ(t.platform.Text(IDC_ONESEG_RECORD), kIdleLabel);
    // Nothing was routed in between: the file exists and is empty.
    EXPECT_TRUE(t.platform.files["C:\\ch27_20261208_221500.ts"].empty());
}

TEST(Recorder, FailedCreateReturnsToIdleAndTheNextPressRetries) {
    TestPlugin t;
    Open(t);
    t.s().currentChannel = 27;
    t.platform.settings["1Seg/Directory"] = "Z:\\missing";
    t.platform.failAllCreates = true;
    Press(t);
    EXPECT_EQ(t.platform.createdPaths.size(), 1u);
    EXPECT_FALSE(t.s().recording);
    EXPECT_EQ(t.s().recordingFile, kInvalidFileHandle);
    EXPECT_EQ(t.platform.Text(IDC_ONESEG_RECORD), kIdleLabel);

    // The settings are read afresh at every start.
    t.platform.failAllCreates = false;
    t.platform.settings["1Seg/Directory"] = "D:\\rec";
    Press(t);
    EXPECT_EQ(t.platform.createdPaths.back(), "D:\\rec\\ch27_20261208_221500.ts");
    EXPECT_TRUE(t.s().recording);
    EXPECT_EQ(t.platform.Text(IDC_ONESEG_RECORD), kRecordingLabel);
}

TEST(Recorder, CloseCommandWhileRecordingThenButton) {
    TestPlugin t;
    Open(t);
    Press(t);
    ViewerCommand(t.s(), IDC_CLOSE);
    EXPECT_TRUE(t.s().recording);
    EXPECT_EQ(t.s().recordingFile, kInvalidFileHandle);
    EXPECT_EQ(t.platform.Text(IDC_ONESEG_RECORD), kRecordingLabel);

    // The button only changes the label: the file is not closed twice.
    Press(t);
    EXPECT_FALSE(t.s().recording);
    EXPECT_EQ(t.platform.closeOfClosedFile, 0);
    EXPECT_EQ(t.platform.createdPaths.size(), 1u);
    EXPECT_EQ(t.platform.Text(IDC_ONESEG_RECORD), kIdleLabel);
}

TEST(Recorder, FailedWriteOnTheThirdPacketStopsTheRecording) {
    TestPlugin t;
    Open(t);
    t.s().currentChannel = 27;
    Press(t);
    t.s().esPidTable.entries[0].pid = 0x0181;
    t.s().esPidTable.count = 1;
    t.platform.failWriteAt = 3;

    std::vector<uint8_t> buffer;
    for (uint8_t i = 0; i < 6; ++i) {
        const std::vector<uint8_t> p = Packet(i == 4 ? 0x1FC8 : 0x0181, i);
        buffer.insert(buffer.end(), p.begin(), p.end());
    }
    EXPECT_EQ(ViewerStreamData(t.s(), buffer.data(), static_cast<uint32_t>(buffer.size())), 1);
    t.platform.Pump(t.s());  // the label change the packet path left for the window

    // Packets four to six (including a PMT packet, written whenever a file is
    // open) are not written: the file was closed by the failed write.
    EXPECT_EQ(t.platform.writeCalls, 3);
    EXPECT_EQ(t.platform.writesToClosedFile, 0);
    const std::vector<uint8_t>& file = t.platform.files["C:\\ch27_20261208_221500.ts"];
    ASSERT_EQ(file.size(), 2u * 188);
    EXPECT_EQ(file[3 + 188], 0x10);
    EXPECT_EQ(file[4 + 188], 1);  // fill byte of the second packet
    EXPECT_FALSE(t.s().recording);
    EXPECT_EQ(t.s().recordingFile, kInvalidFileHandle);
    EXPECT_TRUE(t.platform.openFiles.empty());
    EXPECT_EQ(t.platform.Text(IDC_ONESEG_RECORD), kIdleLabel);

    // The next press starts a new recording.
    Press(t);
    EXPECT_TRUE(t.s().recording);
    EXPECT_EQ(t.platform.openFiles.size(), 1u);
}

TEST(Recorder, RoutingWithoutAStateChangeLeavesTheLabelAlone) {
    TestPlugin t;
    Open(t);
    Press(t);
    const size_t labelsBefore = t.platform.controlHistory.size();
    t.s().esPidTable.entries[0].pid = 0x0181;
    t.s().esPidTable.count = 1;
    const std::vector<uint8_t> p = Packet(0x0181);
    ViewerStreamData(t.s(), p.data(), 188);
    EXPECT_EQ(t.platform.controlHistory.size(), labelsBefore);
}

// The packet path writes (and sometimes fails) while the window thread
// presses the button: no write or close through a closed handle, whole
// packets only, and the label ends matching the flag.
TEST(Recorder, ButtonAndPacketPathOnTwoThreads) {
    TestPlugin t;
    Open(t);
    t.s().esPidTable.entries[0].pid = 0x0181;
    t.s().esPidTable.count = 1;
    t.platform.failWriteAt = 50;  // one failure on the way

    std::vector<uint8_t> buffer;
    for (int i = 0; i < 4; ++i) {
        const std::vector<uint8_t> p = Packet(0x0181);
        buffer.insert(buffer.end(), p.begin(), p.end());
    }
    std::atomic<bool> done(false);
    std::atomic<int> buffersRouted(0);
    std::thread packetPath([&] {
        while (!done.load()) {
            ViewerStreamData(t.s(), buffer.data(), static_cast<uint32_t>(buffer.size()));
            ++buffersRouted;
        }
    });
    // Each press waits for the packet path to have routed a buffer, so the
    // two threads really take turns.
    for (int i = 0; i < 301; ++i) {
        const int seen = buffersRouted.load();
        while (buffersRouted.load() == seen) std::this_thread::yield();
        Press(t);
    }
    done.store(true);
    packetPath.join();
    t.platform.Pump(t.s());  // a label a failed write left for the window

    std::lock_guard<std::mutex> g(t.platform.mutex);
    EXPECT_GT(t.platform.writeCalls, t.platform.failWriteAt);  // the failure was met
    EXPECT_EQ(t.platform.writesToClosedFile, 0);
    EXPECT_EQ(t.platform.closeOfClosedFile, 0);
    for (const auto& f : t.platform.files) EXPECT_EQ(f.second.size() % 188, 0u);
    const bool open = t.s().recordingFile != kInvalidFileHandle;
    EXPECT_EQ(open, t.s().recording);
    EXPECT_EQ(t.platform.openFiles.size(), open ? 1u : 0u);
    EXPECT_EQ(t.platform.controlTexts[IDC_ONESEG_RECORD],
              t.s().recording ? kRecordingLabel : kIdleLabel);
}

// The object's destructor calls ReleaseRecording: the file open at that
// moment is closed once, whether the window's close command came first or not.
TEST(Recorder, ReleaseClosesWhatIsStillOpenAndNothingTwice) {
    const struct {
        const char* name;
        bool start;
        bool closeWindowFirst;
        size_t openBefore;
    } cases[] = {
        {"recording", true, false, 1},
        {"closed by the window first", true, true, 0},
        {"never recorded", false, false, 0},
    };
    for (const auto& c : cases) {
        TestPlugin t;
        Open(t);
        if (c.start) Press(t);
        if (c.closeWindowFirst) ViewerCommand(t.s(), IDC_CLOSE);
        EXPECT_EQ(t.platform.openFiles.size(), c.openBefore) << c.name;
        ReleaseRecording(t.s());
        EXPECT_TRUE(t.platform.openFiles.empty()) << c.name;
        EXPECT_EQ(t.platform.closeOfClosedFile, 0) << c.name;
        EXPECT_EQ(t.s().recordingFile, kInvalidFileHandle) << c.name;
        EXPECT_FALSE(t.s().recording) << c.name;
        // Packets routed afterwards find no file to write to.
        const int writes = t.platform.writeCalls;
        const std::vector<uint8_t> pat = Packet(0x0000);
        RoutePackets(t.s(), pat.data(), static_cast<uint32_t>(pat.size()));
        EXPECT_EQ(t.platform.writeCalls, writes) << c.name;
    }
}

}  // namespace
