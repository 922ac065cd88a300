// The router together with the section handlers: what one buffer does to the
// programme map, the recording and the posted messages.
#include <gtest/gtest.h>

#include <vector>

#include "plugin/messages.h"
#include "plugin/plugin_state.h"
#include "plugin/router.h"
#include "tests/support/test_plugin.h"
#include "tools/streamkit/stream_builder.h"
#include "ui/viewer.h"

namespace {

using build::Bytes;

std::vector<uint16_t> FilePids(const Bytes& file) {
    std::vector<uint16_t> pids;
    for (size_t o = 0; o + 188 <= file.size(); o += 188) {
        pids.push_back(static_cast<uint16_t>(((file[o + 1] & 0x1F) << 8) | file[o + 2]));
    }
    return pids;
}

class RouterFlowTest : public ::testing::Test {
protected:
    TestPlugin t;
    build::StreamBuilder sb;

    void OpenRecording() {
        t.s().recordingFile = t.platform.CreateRecordingFile("C:\\rec.ts");
        t.s().recording = true;
    }
    void Route(const Bytes& buffer) { RoutePackets(t.s(), buffer.data(), static_cast<uint32_t>(buffer.size())); }
    Bytes Es(uint16_t pid) { return sb.Packet(pid, false, Bytes(184, 0x00)); }
};

TEST_F(RouterFlowTest, PacketCompletingTheFirstPmtOpensTheRecordingToTheService) {
    OpenRecording();
    const Bytes pmt = build::PmtSection(0x5DB8, 0x01FF, Bytes(), {{0x1B, 0x0181, Bytes()}, {0x0F, 0x0183, Bytes()}});
    const Bytes pat = build::PatSection(0x7FE8, {{0, 0x0010}, {0x5DB8, 0x1FC8}, {0x5C38, 0x0101}});
    Route(build::Cat({sb.Stream(0x0000, {pat}), Es(0x0181), sb.Stream(0x1FC8, {pmt}), Es(0x0181), Es(0x0183),
                      Es(0x0182), sb.Stream(0x0000, {pat})}));
    EXPECT_EQ(FilePids(t.platform.files["C:\\rec.ts"]),
              (std::vector<uint16_t>{0x1FC8, 0x0181, 0x0183, 0x0000}));
    const Bytes& file = t.platform.files["C:\\rec.ts"];
    EXPECT_EQ(file[188 * 3 + 5 + 2], 0x11);  // the PAT as rewritten: section_length 17
}

TEST_F(RouterFlowTest, HandlersKeepRunningAfterAFailedWrite) {
    OpenRecording();
    t.s().esPidTable.entries[0].pid = 0x0181;
    t.s().esPidTable.count = 1;
    t.platform.failWriteAt = 3;
    const Bytes eit = build::EitPfSection(0, 0, {build::Event(0xE4C1, 21, 0, 0, 0, 30, 0)});
    Route(build::Cat({Es(0x0181), Es(0x0181), Es(0x0181), Es(0x0181), sb.Stream(0x0012, {eit}),
                      sb.Stream(0x0014, {build::TotSection(0xE4C1, 0x12, 0x00, 0x00)})}));
    EXPECT_EQ(t.platform.writeCalls, 3);
    EXPECT_FALSE(t.s().recording);
    EXPECT_EQ(t.s().recordingFile, kInvalidFileHandle);
    EXPECT_EQ(t.platform.windowPosted, std::vector<uint32_t>{WM_EIT_PRESENT_READY});
    EXPECT_EQ(t.s().tickCount, 0);
}

TEST_F(RouterFlowTest, WithoutRecordingOnlyTheHandlersRun) {
    std::vector<Bytes> parts;
    for (int i = 0; i < 5; ++i) {
        parts.push_back(sb.Stream(0x0012, {build::EitPfSection(0, 0, {}, static_cast<uint8_t>(i))}));
        parts.push_back(sb.Stream(0x0011, {build::SdtSection(1, 1, {build::NamedService(0, build::Text("S"))})}));
    }
    Route(build::Cat(parts));
    EXPECT_EQ(t.platform.windowPosted.size(), 10u);
    EXPECT_EQ(t.platform.writeCalls, 0);
    EXPECT_TRUE(t.platform.createdPaths.empty());
}

}  // namespace
