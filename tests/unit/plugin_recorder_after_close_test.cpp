// The record button after the window's close command. The close closes the
// recording file and leaves flag and "1■" as they were; from then on the
// plug-in is inactive and no file may be created or replaced: with a fixed
// "Filename" a start would truncate the finished recording (CREATE_ALWAYS).
// After every step the label shows the flag.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "plugin/plugin_state.h"
#include "tests/support/test_plugin.h"
#include "ui/channel_buttons.h"
#include "ui/resource.h"
#include "ui/viewer.h"

namespace {

const std::string kRecordingLabel = "1\x81\xA1";  // 1■
const std::string kIdleLabel = "1\x81\x9B";       // 1○
const char kFixedPath[] = "D:\\rec\\one.ts";
const uint16_t kVideoPid = 0x0181;
const int32_t kCancel = 2;  // IDCANCEL: the close box or Esc

std::vector<uint8_t> VideoPackets(int count) {
    std::vector<uint8_t> out;
    for (int i = 0; i < count; ++i) {
        std::vector<uint8_t> p(188, static_cast<uint8_t>(0xA0 + i));
        p[0] = 0x47;
        p[1] = static_cast<uint8_t>(kVideoPid >> 8);
        p[2] = static_cast<uint8_t>(kVideoPid & 0xFF);
        p[3] = static_cast<uint8_t>(0x10 | (i & 0x0F));
        out.insert(out.end(), p.begin(), p.end());
    }
    return out;
}

// The label as the flag says it must read.
std::string LabelOf(bool recording) { return recording ? kRecordingLabel : kIdleLabel; }

struct Recorder {
    TestPlugin t;

    Recorder() {
        t.platform.settings["1Seg/Directory"] = "D:\\rec";
        t.platform.settings["1Seg/Filename"] = "one.ts";
        LoadSettingsBeforeWindow(t.s());
        t.s().currentChannel = 27;
        t.s().esPidTable.entries[0].pid = kVideoPid;
        t.s().esPidTable.count = 1;
    }
    void Press() { ViewerCommand(t.s(), IDC_ONESEG_RECORD); }
    void Stream(const std::vector<uint8_t>& buffer) {
        ViewerStreamData(t.s(), buffer.data(), static_cast<uint32_t>(buffer.size()));
    }
    std::vector<uint8_t> File() {
        std::lock_guard<std::mutex> g(t.platform.mutex);
        return t.platform.files[kFixedPath];
    }
    size_t Creations() {
        std::lock_guard<std::mutex> g(t.platform.mutex);
        return t.platform.createdPaths.size();
    }
    bool Flag() {
        std::lock_guard<std::mutex> g(t.s().lock);
        return t.s().recording;
    }
    void ExpectLabelIsTheFlag(const std::string& step) {
        const bool flag = Flag();
        EXPECT_EQ(t.platform.Text(IDC_ONESEG_RECORD), LabelOf(flag)) << step << ": flag " << flag;
    }
};

struct AfterCloseCase {
    const char* name;
    int32_t closeCommand;
    bool recordingAtClose;  // a recording ran (and wrote packets) when the window was closed
    int presses;            // presses of the record button after the close
};

void PrintTo(const AfterCloseCase& c, std::ostream* os) { *os << c.name; }

class RecorderAfterClose : public ::testing::TestWithParam<AfterCloseCase> {};

TEST_P(RecorderAfterClose, CreatesNoFileAndTheLabelShowsTheFlag) {
    const AfterCloseCase& c = GetParam();
    Recorder r;
    const std::vector<uint8_t> packets = VideoPackets(5);
    if (c.recordingAtClose) {
        r.Press();
        r.Stream(packets);
        ASSERT_EQ(r.File(), packets);
    }
    const std::vector<uint8_t> recorded = r.File();
    const size_t creations = r.Creations();

    ViewerCommand(r.t.s(), c.closeCommand);
    // The close keeps flag and label as they were.
    EXPECT_EQ(r.Flag(), c.recordingAtClose);
    if (c.recordingAtClose) r.ExpectLabelIsTheFlag("close");
    EXPECT_TRUE(r.t.platform.openFiles.empty());

    for (int i = 0; i < c.presses; ++i) {
        const std::string step = "press " + std::to_string(i + 1);
        r.Press();
        r.ExpectLabelIsTheFlag(step);
        // Packets still arriving are refused; nothing is written anywhere.
        r.Stream(packets);
        EXPECT_EQ(r.Creations(), creations) << step << ": a file was created after the close";
        EXPECT_EQ(r.File(), recorded) << step << ": the finished recording changed";
        EXPECT_TRUE(r.t.platform.openFiles.empty()) << step;
        EXPECT_EQ(r.t.s().recordingFile, kInvalidFileHandle) << step;
    }
    // Every press after the close ends idle: a stop, or a start refused.
    if (c.presses > 0) {
        EXPECT_FALSE(r.Flag());
    }
    EXPECT_EQ(r.t.platform.closeOfClosedFile, 0);
    EXPECT_EQ(r.t.platform.writesToClosedFile, 0);
}

INSTANTIATE_TEST_SUITE_P(
    PressesAfterTheClose, RecorderAfterClose,
    ::testing::Values(
        // The sequence: stop, then start; a fixed name used to be
        // truncated to 0 bytes and the label to stay "1■" with nothing
        // recording.
        AfterCloseCase{"RecordingThenStopAndStart", IDC_CLOSE, true, 2},
        AfterCloseCase{"RecordingThenStopAndStartByCancel", kCancel, true, 2},
        AfterCloseCase{"RecordingThenStopOnly", IDC_CLOSE, true, 1},
        AfterCloseCase{"RecordingThenStopStartStopStart", IDC_CLOSE, true, 4},
        // Closed while idle: every press is a start, and each is refused.
        AfterCloseCase{"IdleThenStart", IDC_CLOSE, false, 1},
        AfterCloseCase{"IdleThenThreeStarts", kCancel, false, 3}),
    [](const ::testing::TestParamInfo<AfterCloseCase>& param) { return std::string(param.param.name); });

// The close command while a start's file is being created (a sleeping disk):
// the creation was asked for while the plug-in was active and has already
// created or truncated the file, which cannot be undone. The start does not
// take it into use and closes it at once; flag and "1■" stay as the close
// leaves a running recording; the presses after it create nothing more.
TEST(RecorderAfterCloseRace, CloseDuringASlowCreateLeavesNoFileOpenAndCreatesNoOther) {
    Recorder r;
    r.t.platform.createGate.Close();
    std::atomic<bool> pressed{false};
    std::thread press([&r, &pressed] {
        r.Press();
        pressed = true;
        r.t.platform.createGate.Notify();
    });
    ASSERT_TRUE(r.t.platform.createGate.WaitForArrivals(1));
    ViewerCommand(r.t.s(), IDC_CLOSE);
    r.t.platform.createGate.Open();
    const bool finished = r.t.platform.createGate.WaitUntil([&pressed](int) { return pressed.load(); });
    press.join();
    ASSERT_TRUE(finished);

    EXPECT_TRUE(r.t.platform.openFiles.empty());
    EXPECT_EQ(r.t.s().recordingFile, kInvalidFileHandle);
    EXPECT_EQ(r.Creations(), 1u);
    EXPECT_TRUE(r.Flag());
    r.ExpectLabelIsTheFlag("close during the creation");

    for (int i = 0; i < 3; ++i) {
        r.Press();
        r.ExpectLabelIsTheFlag("press " + std::to_string(i + 1));
    }
    EXPECT_EQ(r.Creations(), 1u);
    EXPECT_TRUE(r.t.platform.openFiles.empty());
    EXPECT_EQ(r.t.platform.closeOfClosedFile, 0);
}

// Before the close, the same presses still record into the fixed name, each
// start replacing the last recording as configured: the refusal is the
// close's alone.
TEST(RecorderAfterCloseRace, WhileActiveAStartStillReplacesTheFixedFile) {
    Recorder r;
    r.Press();
    r.Stream(VideoPackets(5));
    r.Press();
    ASSERT_EQ(r.File().size(), 5u * 188u);
    r.Press();
    r.ExpectLabelIsTheFlag("second start");
    EXPECT_TRUE(r.Flag());
    EXPECT_EQ(r.Creations(), 2u);
    EXPECT_TRUE(r.File().empty());
    r.Stream(VideoPackets(2));
    EXPECT_EQ(r.File(), VideoPackets(2));
}

}  // namespace
