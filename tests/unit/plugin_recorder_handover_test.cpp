// The recorder between the host's stream thread and the window's thread when
// a file call stalls: a creation on a sleeping disk, a write to a USB disk
// spinning up. Neither thread may wait for the other's file call, no packet
// goes through a closed handle, no handle is left open, and the record
// button's label ends in step with the flag. The stalls are the fake
// platform's gates: deterministic, released by the test.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "plugin/messages.h"
#include "plugin/settings.h"
#include "ui/channel_buttons.h"
#include "tests/support/test_plugin.h"
#include "ui/resource.h"
#include "ui/viewer.h"

namespace {

const std::string kRecordingLabel = "1\x81\xA1";
const std::string kIdleLabel = "1\x81\x9B";
const char kPath[] = "C:\\ch27_20261208_221500.ts";
const uint16_t kVideoPid = 0x0181;

// `count` packets whose payload bytes are first, first + 1, ... (mod 256).
std::vector<uint8_t> Packets(uint16_t pid, int count, int first = 0) {
    std::vector<uint8_t> out;
    for (int i = 0; i < count; ++i) {
        std::vector<uint8_t> p(188, static_cast<uint8_t>(first + i));
        p[0] = 0x47;
        p[1] = static_cast<uint8_t>((pid >> 8) & 0x1F);
        p[2] = static_cast<uint8_t>(pid);
        p[3] = static_cast<uint8_t>(0x10 | (i & 0x0F));
        out.insert(out.end(), p.begin(), p.end());
    }
    return out;
}

class RecorderHandover : public ::testing::Test {
protected:
    void SetUp() override {
        LoadSettingsBeforeWindow(t.s());
        t.s().currentChannel = 27;
        t.s().esPidTable.entries[0].pid = kVideoPid;
        t.s().esPidTable.count = 1;
    }
    // Whatever happened, no thread stays stuck at a gate.
    void TearDown() override {
        t.platform.createGate.Open();
        t.platform.writeGate.Open();
        t.platform.windowGate.Open();
        for (std::thread& thread : threads) thread.join();
    }

    // Runs `work` on a thread of its own: the host's stream thread, or a
    // second thread pressing the button.
    void Start(const std::function<void()>& work) {
        threads.emplace_back([this, work] {
            work();
            ++finished;
            t.platform.createGate.Notify();
            t.platform.writeGate.Notify();
            t.platform.windowGate.Notify();
        });
    }
    // Waits until `count` started threads have returned; false when one of
    // them is stuck (waiting for what the gate holds).
    bool Finished(int count, FakeGate& gate) {
        return gate.WaitUntil([this, count](int) { return finished.load() >= count; });
    }

    void Press() { ViewerCommand(t.s(), IDC_ONESEG_RECORD); }
    void Stream(const std::vector<uint8_t>& buffer) {
        ViewerStreamData(t.s(), buffer.data(), static_cast<uint32_t>(buffer.size()));
    }
    size_t PacketsInFile() {
        std::lock_guard<std::mutex> g(t.platform.mutex);
        return t.platform.files[kPath].size() / 188;
    }
    std::vector<uint8_t> File(const std::string& path) {
        std::lock_guard<std::mutex> g(t.platform.mutex);
        return t.platform.files[path];
    }

    TestPlugin t;
    std::vector<std::thread> threads;
    std::atomic<int> finished{0};
};

TEST_F(RecorderHandover, StreamDataGoesOnWhileTheFileIsCreated) {
    t.platform.createGate.Close();
    Start([this] { Press(); });
    ASSERT_TRUE(t.platform.createGate.WaitForArrivals(1));

    const std::vector<uint8_t> buffer = Packets(kVideoPid, 4);
    Start([this, &buffer] { Stream(buffer); });
    EXPECT_TRUE(Finished(1, t.platform.createGate)) << "OnStreamData waited for CreateFileA";

    t.platform.createGate.Open();
    ASSERT_TRUE(Finished(2, t.platform.createGate));
    EXPECT_TRUE(t.s().recording);
    EXPECT_NE(t.s().recordingFile, kInvalidFileHandle);
    EXPECT_EQ(t.platform.Text(IDC_ONESEG_RECORD), kRecordingLabel);
    // Packets routed before the file existed are not in it.
    EXPECT_EQ(PacketsInFile(), 0u);
    Stream(buffer);
    EXPECT_EQ(PacketsInFile(), 4u);
}

// A second press while the first one's file is still being created: the
// stop wins, and the start closes the file it made itself.
TEST_F(RecorderHandover, StopDuringAStartLeavesNoHandleOpen) {
    t.platform.createGate.Close();
    Start([this] { Press(); });
    ASSERT_TRUE(t.platform.createGate.WaitForArrivals(1));
    Start([this] { Press(); });
    EXPECT_TRUE(Finished(1, t.platform.createGate)) << "the stop waited for CreateFileA";

    t.platform.createGate.Open();
    ASSERT_TRUE(Finished(2, t.platform.createGate));
    EXPECT_FALSE(t.s().recording);
    EXPECT_EQ(t.s().recordingFile, kInvalidFileHandle);
    EXPECT_TRUE(t.platform.openFiles.empty());
    EXPECT_EQ(t.platform.closeOfClosedFile, 0);
    EXPECT_EQ(t.platform.createdPaths.size(), 1u);
    EXPECT_EQ(t.platform.Text(IDC_ONESEG_RECORD), kIdleLabel);
    // The next press starts afresh.
    Press();
    EXPECT_TRUE(t.s().recording);
    EXPECT_EQ(t.platform.openFiles.size(), 1u);
}

// The stream thread is stuck in a write while the window's thread stops the
// recording (button or close command) and handles its other work. The
// window never waits; the packets of the buffer under way all reach the
// file, nothing reaches it after the writer has closed it, and the writer
// closes the handle exactly once.
struct StallCase {
    const char* name;
    int32_t command;     // IDC_ONESEG_RECORD or IDC_CLOSE
    bool stalledWriteFails;
    bool recordingAfter;  // the flag (and label) after the command
    size_t packetsInFile;
};

void PrintTo(const StallCase& c, std::ostream* os) { *os << c.name; }

class WriteStall : public RecorderHandover, public ::testing::WithParamInterface<StallCase> {};

TEST_P(WriteStall, WindowThreadNeverWaitsForTheWrite) {
    const StallCase& c = GetParam();
    Press();
    ASSERT_TRUE(t.s().recording);
    if (c.stalledWriteFails) t.platform.failWriteAt = 1;
    t.platform.writeGate.Close();
    const std::vector<uint8_t> buffer = Packets(kVideoPid, 3);
    Start([this, &buffer] { Stream(buffer); });
    ASSERT_TRUE(t.platform.writeGate.WaitForArrivals(1));

    Start([this, &c] {
        ViewerCommand(t.s(), IDC_PRESENT_FOLLOWING);
        ViewerCommand(t.s(), c.command);
        ViewerPrivateMessage(t.s(), WM_EIT_PRESENT_READY);
    });
    EXPECT_TRUE(Finished(1, t.platform.writeGate)) << "the window's thread waited for WriteFile";
    EXPECT_EQ(t.s().recording, c.recordingAfter);
    EXPECT_EQ(t.s().recordingFile, kInvalidFileHandle);

    t.platform.writeGate.Open();
    ASSERT_TRUE(Finished(2, t.platform.writeGate));
    t.platform.Pump(t.s());
    EXPECT_EQ(t.platform.writesToClosedFile, 0);
    EXPECT_EQ(t.platform.closeOfClosedFile, 0);
    EXPECT_TRUE(t.platform.openFiles.empty());
    EXPECT_EQ(PacketsInFile(), c.packetsInFile);
    EXPECT_EQ(t.s().recording, c.recordingAfter);
    EXPECT_EQ(t.platform.Text(IDC_ONESEG_RECORD), c.recordingAfter ? kRecordingLabel : kIdleLabel);

    // Later buffers write nothing.
    const int writes = t.platform.writeCalls;
    Stream(buffer);
    EXPECT_EQ(t.platform.writeCalls, writes);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WriteStall,
    ::testing::Values(StallCase{"StopButton", IDC_ONESEG_RECORD, false, false, 3},
                      StallCase{"StopButtonThenTheWriteFails", IDC_ONESEG_RECORD, true, false, 0},
                      // The close command keeps flag and label (the button
                      // still has to stop the recording).
                      StallCase{"CloseCommand", IDC_CLOSE, false, true, 3}),
    [](const ::testing::TestParamInfo<StallCase>& param) { return std::string(param.param.name); });

// The user presses "1■" to stop at the moment a write fails on the stream
// thread, whose label change is still on its way to the window (a
// cross-thread SetDlgItemTextA waits until the window's thread serves it; a
// posted message waits in the queue). Both mean stop: the press must not
// start a new recording.
TEST_F(RecorderHandover, FailedWriteRacingAStopPressEndsIdle) {
    Press();
    ASSERT_EQ(t.platform.Text(IDC_ONESEG_RECORD), kRecordingLabel);
    t.platform.failWriteAt = 1;
    t.platform.windowGate.Close();
    const std::vector<uint8_t> buffer = Packets(kVideoPid, 2);
    Start([this, &buffer] { Stream(buffer); });
    // The stream thread has met the failure: it returned, or it waits for
    // the window with the label.
    ASSERT_TRUE(t.platform.windowGate.WaitUntil(
        [this](int arrivals) { return arrivals > 0 || finished.load() > 0; }));

    Press();
    t.platform.windowGate.Open();
    ASSERT_TRUE(Finished(1, t.platform.windowGate));
    t.platform.Pump(t.s());
    EXPECT_EQ(t.platform.Text(IDC_ONESEG_RECORD), kIdleLabel);
    EXPECT_FALSE(t.s().recording);
    EXPECT_EQ(t.platform.createdPaths.size(), 1u);
    EXPECT_TRUE(t.platform.openFiles.empty());
}

// A failed write seen alone: the label follows through the posted message,
// never from the stream thread.
TEST_F(RecorderHandover, FailedWriteLabelIsPostedToTheWindow) {
    Press();
    t.platform.failWriteAt = 2;
    t.platform.windowGate.Close();  // a label from the stream thread would hang here
    const std::vector<uint8_t> buffer = Packets(kVideoPid, 3);
    Start([this, &buffer] { Stream(buffer); });
    EXPECT_TRUE(Finished(1, t.platform.windowGate)) << "the stream thread waited for the window";
    t.platform.windowGate.Open();
    EXPECT_EQ(t.platform.windowPosted, std::vector<uint32_t>{WM_RECORD_LABEL});
    EXPECT_EQ(t.platform.Text(IDC_ONESEG_RECORD), kRecordingLabel);
    EXPECT_EQ(t.platform.Pump(t.s()), 1);
    EXPECT_EQ(t.platform.Text(IDC_ONESEG_RECORD), kIdleLabel);
    EXPECT_EQ(PacketsInFile(), 1u);
    EXPECT_TRUE(t.platform.openFiles.empty());
}

// Two host threads in OnStreamData: the first is stuck in a write, the
// second routes a short buffer. The second never waits for the first's
// write; the first writes the second's packets behind its own.
TEST_F(RecorderHandover, SecondStreamThreadDuringAStalledWriteReturnsAtOnce) {
    Press();
    t.platform.writeGate.Close();
    const std::vector<uint8_t> first = Packets(kVideoPid, 4, 0x10);
    const std::vector<uint8_t> second = Packets(kVideoPid, 3, 0x20);
    Start([this, &first] { Stream(first); });
    ASSERT_TRUE(t.platform.writeGate.WaitForArrivals(1));
    Start([this, &second] { Stream(second); });
    EXPECT_TRUE(Finished(1, t.platform.writeGate)) << "the second stream thread waited for the write";

    t.platform.writeGate.Open();
    ASSERT_TRUE(Finished(2, t.platform.writeGate));
    std::vector<uint8_t> expected = first;
    expected.insert(expected.end(), second.begin(), second.end());
    EXPECT_TRUE(File(kPath) == expected) << PacketsInFile() << " packets, not the first's then the second's";
    EXPECT_TRUE(t.s().recording);
    EXPECT_EQ(t.platform.writesToClosedFile, 0);
    EXPECT_EQ(t.platform.openFiles.size(), 1u);
    EXPECT_TRUE(t.platform.windowPosted.empty());
}

// The second thread routes more packets than the staging buffer holds while
// the first one's write holds it: rather than wait for the disk or leave a
// hole in the file, the recording stops. With a stop and a start pressed
// during the stall, the staging buffer fills for the new file, which the
// packet path then leaves to the stalled writer to close (the orphan).
struct OverflowCase {
    const char* name;
    bool restartDuringTheStall;
};

void PrintTo(const OverflowCase& c, std::ostream* os) { *os << c.name; }

class StagingOverflow : public RecorderHandover, public ::testing::WithParamInterface<OverflowCase> {};

TEST_P(StagingOverflow, RecordingStopsWithoutWritesThroughClosedHandlesNorLeaks) {
    const OverflowCase& c = GetParam();
    const char kSecondPath[] = "C:\\ch27_20261208_221501.ts";
    Press();
    t.platform.writeGate.Close();
    const std::vector<uint8_t> first = Packets(kVideoPid, 3, 0x10);
    const std::vector<uint8_t> second = Packets(kVideoPid, 300, 0x40);
    Start([this, &first] { Stream(first); });
    ASSERT_TRUE(t.platform.writeGate.WaitForArrivals(1));
    if (c.restartDuringTheStall) {
        Press();  // stop: the stalled writer closes the first file
        {
            std::lock_guard<std::mutex> g(t.platform.mutex);
            t.platform.localTime.second = 1;  // the next recording's own name
        }
        Press();  // start: a second file
        ASSERT_TRUE(t.s().recording);
        ASSERT_EQ(t.platform.openFiles.size(), 2u);
    }
    Start([this, &second] { Stream(second); });
    EXPECT_TRUE(Finished(1, t.platform.writeGate)) << "the second stream thread waited for the write";
    EXPECT_FALSE(t.s().recording);
    EXPECT_EQ(t.s().recordingFile, kInvalidFileHandle);

    t.platform.writeGate.Open();
    ASSERT_TRUE(Finished(2, t.platform.writeGate));
    t.platform.Pump(t.s());
    EXPECT_EQ(t.platform.writesToClosedFile, 0);
    EXPECT_EQ(t.platform.closeOfClosedFile, 0);
    EXPECT_TRUE(t.platform.openFiles.empty()) << "a handle was left open";
    EXPECT_FALSE(t.s().recording);
    EXPECT_EQ(t.platform.Text(IDC_ONESEG_RECORD), kIdleLabel);
    // The first thread's packets are whole in the first file.
    EXPECT_TRUE(File(kPath) == first);
    // The second file, if any, holds nothing but the second's packets from
    // their start.
    const std::vector<uint8_t> secondFile = File(kSecondPath);
    ASSERT_LE(secondFile.size(), second.size());
    EXPECT_TRUE(std::equal(secondFile.begin(), secondFile.end(), second.begin()));

    // Later buffers write nothing.
    const int writes = t.platform.writeCalls;
    Stream(first);
    EXPECT_EQ(t.platform.writeCalls, writes);
}

INSTANTIATE_TEST_SUITE_P(Cases, StagingOverflow,
                         ::testing::Values(OverflowCase{"OneRecording", false},
                                           OverflowCase{"StopAndStartDuringTheStall", true}),
                         [](const ::testing::TestParamInfo<OverflowCase>& param) {
                             return std::string(param.param.name);
                         });

// The close command while the start's CreateFileA is slow: the start finds
// the plug-in no longer active and closes the file it made itself.
TEST_F(RecorderHandover, CloseCommandDuringASlowCreateLeavesNoFileOpen) {
    t.platform.createGate.Close();
    Start([this] { Press(); });
    ASSERT_TRUE(t.platform.createGate.WaitForArrivals(1));
    Start([this] { ViewerCommand(t.s(), IDC_CLOSE); });
    EXPECT_TRUE(Finished(1, t.platform.createGate)) << "the close command waited for CreateFileA";

    t.platform.createGate.Open();
    ASSERT_TRUE(Finished(2, t.platform.createGate));
    t.platform.Pump(t.s());
    EXPECT_TRUE(t.platform.openFiles.empty()) << "the file created during the close is still open";
    EXPECT_EQ(t.s().recordingFile, kInvalidFileHandle);
    EXPECT_EQ(t.platform.closeOfClosedFile, 0);
    EXPECT_EQ(t.platform.Text(IDC_ONESEG_RECORD), t.s().recording ? kRecordingLabel : kIdleLabel);
    const std::vector<uint8_t> buffer = Packets(kVideoPid, 3);
    EXPECT_EQ(ViewerStreamData(t.s(), buffer.data(), static_cast<uint32_t>(buffer.size())), 0);
    EXPECT_EQ(t.platform.writeCalls, 0);
}

}  // namespace
