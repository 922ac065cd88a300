// One OnStreamData buffer that selects more packets for the recording than
// the staging buffer holds: the packet path writes the full staging buffer
// out in the middle of the buffer, so every selected packet reaches the
// file in order and the recording goes on.
#include <gtest/gtest.h>

#include <vector>

#include "plugin/plugin_state.h"
#include "plugin/router.h"
#include "tests/support/test_plugin.h"

namespace {

const uint16_t kVideoPid = 0x0181;
const uint16_t kOtherPid = 0x0300;  // not in the programme map: never recorded
const char kPath[] = "C:\\rec.ts";

// A packet whose payload says which packet of the buffer it is.
std::vector<uint8_t> Numbered(uint16_t pid, int index) {
    std::vector<uint8_t> p(188, static_cast<uint8_t>(index));
    p[0] = 0x47;
    p[1] = static_cast<uint8_t>((pid >> 8) & 0x1F);
    p[2] = static_cast<uint8_t>(pid);
    p[3] = static_cast<uint8_t>(0x10 | (index & 0x0F));
    p[4] = static_cast<uint8_t>(index >> 8);
    return p;
}

struct StagingCase {
    int selected;    // packets of the recorded PID in the buffer
    int otherEvery;  // an unrecorded packet after every n-th selected one; 0 = none
};

TEST(Staging, BufferWithMoreSelectedPacketsThanTheStagingHoldsIsRecordedWhole) {
    const StagingCase cases[] = {
        {kStagedPackets, 0}, {kStagedPackets + 1, 0}, {300, 0}, {2 * kStagedPackets, 0},
        {2 * kStagedPackets + 1, 0}, {1000, 0}, {600, 3},
    };
    for (const StagingCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.selected << " selected, other every " << c.otherEvery);
        TestPlugin t;
        t.s().recordingFile = t.platform.CreateRecordingFile(kPath);
        t.s().recording = true;
        t.s().esPidTable.entries[0].pid = kVideoPid;
        t.s().esPidTable.count = 1;

        std::vector<uint8_t> buffer;
        std::vector<uint8_t> expected;
        for (int i = 0; i < c.selected; ++i) {
            const std::vector<uint8_t> p = Numbered(kVideoPid, i);
            buffer.insert(buffer.end(), p.begin(), p.end());
            expected.insert(expected.end(), p.begin(), p.end());
            if (c.otherEvery != 0 && i % c.otherEvery == 0) {
                const std::vector<uint8_t> other = Numbered(kOtherPid, i);
                buffer.insert(buffer.end(), other.begin(), other.end());
            }
        }
        EXPECT_EQ(RoutePackets(t.s(), buffer.data(), static_cast<uint32_t>(buffer.size())), 1);

        EXPECT_EQ(t.platform.files[kPath].size() / 188, static_cast<size_t>(c.selected));
        EXPECT_TRUE(t.platform.files[kPath] == expected) << "packets lost or out of order";
        EXPECT_TRUE(t.s().recording);
        EXPECT_NE(t.s().recordingFile, kInvalidFileHandle);
        EXPECT_FALSE(t.s().recordLabelPending);
        EXPECT_EQ(t.s().stagedCount, 0);
        // The recording goes on with the next buffer.
        const std::vector<uint8_t> next = Numbered(kVideoPid, 7);
        RoutePackets(t.s(), next.data(), 188);
        EXPECT_EQ(t.platform.files[kPath].size() / 188, static_cast<size_t>(c.selected) + 1);
    }
}

}  // namespace
