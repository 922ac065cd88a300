// Packet routing: which packets reach which handler and which are recorded.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "plugin/plugin_state.h"
#include "plugin/router.h"
#include "tests/support/test_plugin.h"
#include "ui/viewer.h"

namespace {

std::vector<uint8_t> Packet(uint16_t pid, uint8_t counter = 0, uint8_t fill = 0xFF) {
    std::vector<uint8_t> p(188, fill);
    p[0] = 0x47;
    p[1] = static_cast<uint8_t>((pid >> 8) & 0x1F);
    p[2] = static_cast<uint8_t>(pid);
    p[3] = static_cast<uint8_t>(0x10 | (counter & 0x0F));
    return p;
}

std::vector<uint8_t> Concat(const std::vector<std::vector<uint8_t>>& packets) {
    std::vector<uint8_t> out;
    for (const auto& p : packets) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// Opens a fake recording file directly, as the recorder would.
FileHandle OpenRecording(TestPlugin& t) {
    FileHandle h = t.platform.CreateRecordingFile("C:\\rec.ts");
    t.s().recordingFile = h;
    t.s().recording = true;
    return h;
}

void SetTable(PluginState& s, std::initializer_list<uint16_t> pids) {
    int32_t i = 0;
    for (uint16_t pid : pids) s.esPidTable.entries[i++].pid = pid;
    s.esPidTable.count = i;
}

std::vector<uint16_t> RecordedPids(TestPlugin& t) {
    std::vector<uint16_t> pids;
    const std::vector<uint8_t>& f = t.platform.files["C:\\rec.ts"];
    EXPECT_EQ(f.size() % 188, 0u);
    for (size_t o = 0; o + 188 <= f.size(); o += 188) {
        pids.push_back(static_cast<uint16_t>(((f[o + 1] & 0x1F) << 8) | f[o + 2]));
    }
    return pids;
}

TEST(Router, ReturnsZeroWhenClosedAndOneOtherwise) {
    TestPlugin t;
    EXPECT_EQ(RoutePackets(t.s(), nullptr, 0), 1);
    OpenRecording(t);
    SetTable(t.s(), {0x0181});
    std::vector<uint8_t> buf = Packet(0x0181);
    t.s().active = false;
    EXPECT_EQ(RoutePackets(t.s(), buf.data(), 188), 0);
    EXPECT_EQ(t.platform.writeCalls, 0);
}

TEST(Router, WritesOnlySelectedPidsWhileRecording) {
    TestPlugin t;
    OpenRecording(t);
    SetTable(t.s(), {0x01FF, 0x0181, 0x0183});
    std::vector<uint8_t> buf = Concat({Packet(0x0181), Packet(0x0182), Packet(0x0183), Packet(0x1FFF),
                                       Packet(0x0012), Packet(0x01FF), Packet(0x0010), Packet(0x0024),
                                       Packet(0x0027), Packet(0x0028), Packet(0x0001), Packet(0x0101)});
    EXPECT_EQ(RoutePackets(t.s(), buf.data(), static_cast<uint32_t>(buf.size())), 1);
    EXPECT_EQ(RecordedPids(t), (std::vector<uint16_t>{0x0181, 0x0183, 0x01FF, 0x0010, 0x0024, 0x0027,
                                                      0x0028}));
}

TEST(Router, WithEmptyTableOnlyThePmtPidIsWritten) {
    TestPlugin t;
    OpenRecording(t);
    std::vector<uint8_t> buf =
        Concat({Packet(0x0000), Packet(0x0010), Packet(0x0181), Packet(0x1FC8), Packet(0x0011)});
    RoutePackets(t.s(), buf.data(), static_cast<uint32_t>(buf.size()));
    EXPECT_EQ(RecordedPids(t), (std::vector<uint16_t>{0x1FC8}));
}

TEST(Router, NothingIsWrittenWithoutAFile) {
    TestPlugin t;
    SetTable(t.s(), {0x0181});
    std::vector<uint8_t> buf = Concat({Packet(0x0181), Packet(0x1FC8), Packet(0x0010)});
    RoutePackets(t.s(), buf.data(), static_cast<uint32_t>(buf.size()));
    EXPECT_EQ(t.platform.writeCalls, 0);
}

TEST(Router, PidListedTwiceIsWrittenOnce) {
    TestPlugin t;
    OpenRecording(t);
    SetTable(t.s(), {0x0181, 0x0181, 0x0182});
    std::vector<uint8_t> buf = Packet(0x0181);
    RoutePackets(t.s(), buf.data(), 188);
    EXPECT_EQ(RecordedPids(t), (std::vector<uint16_t>{0x0181}));
}

TEST(Router, PartialTailIsNeverRead) {
    TestPlugin t;
    OpenRecording(t);
    SetTable(t.s(), {0x0181});
    // Two whole packets and 100 bytes of a third in an exactly sized heap
    // buffer: AddressSanitizer catches any read past it.
    std::vector<uint8_t> whole = Concat({Packet(0x0181), Packet(0x0181), Packet(0x0181)});
    std::unique_ptr<uint8_t[]> buf(new uint8_t[188 * 2 + 100]);
    std::memcpy(buf.get(), whole.data(), 188 * 2 + 100);
    RoutePackets(t.s(), buf.get(), 188 * 2 + 100);
    EXPECT_EQ(RecordedPids(t).size(), 2u);
}

TEST(Router, FixedRowsWinOverTheTable) {
    TestPlugin t;
    OpenRecording(t);
    SetTable(t.s(), {0x0012, 0x0000});  // EIT and PAT listed as elementary PIDs
    std::vector<uint8_t> buf = Concat({Packet(0x0012), Packet(0x0000)});
    RoutePackets(t.s(), buf.data(), static_cast<uint32_t>(buf.size()));
    // The EIT is never written; the PAT only in rewritten form, and this
    // packet (no PUSI) not at all.
    EXPECT_TRUE(RecordedPids(t).empty());
}

}  // namespace
