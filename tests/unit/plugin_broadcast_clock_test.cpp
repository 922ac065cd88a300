// The broadcast clock: TOT read on the packet path, ticks on the window thread.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "plugin/broadcast_clock.h"
#include "plugin/plugin_state.h"
#include "plugin/router.h"
#include "tests/support/test_plugin.h"
#include "text/clock_text.h"
#include "tools/streamkit/stream_builder.h"
#include "ui/programme_display.h"
#include "ui/resource.h"
#include "ui/viewer.h"

namespace {

using build::Bytes;

const uint16_t kTotPid = 0x0014;

class BroadcastClockTest : public ::testing::Test {
protected:
    TestPlugin t;
    build::StreamBuilder sb;

    void Route(const Bytes& stream) { RoutePackets(t.s(), stream.data(), static_cast<uint32_t>(stream.size())); }
    void Tot(uint8_t h, uint8_t m, uint8_t s) { Route(sb.Stream(kTotPid, {build::TotSection(0xE4C1, h, m, s)})); }
    void Tick(int n) {
        for (int i = 0; i < n; ++i) TickBroadcastClock(t.s());
    }
    std::string Clock() { return t.platform.Text(IDC_CLOCK); }
};

TEST_F(BroadcastClockTest, NoTimeBeforeTheFirstTot) {
    Tick(5);
    EXPECT_EQ(Clock(), "");
    EXPECT_TRUE(t.platform.controlHistory.empty());
    EXPECT_EQ(t.s().tickCount, -100);
}

TEST_F(BroadcastClockTest, EachTickAddsASecondToTheTot) {
    Tot(0x12, 0x34, 0x56);
    EXPECT_EQ(Clock(), "");  // a TOT alone does not refresh the display
    EXPECT_EQ(t.s().tickCount, 0);
    Tick(1);
    EXPECT_EQ(Clock(), "12:34:57");
    EXPECT_EQ(t.s().tickCount, 1);
    Tick(4);
    EXPECT_EQ(Clock(), "12:35:01");
    // A new TOT sets the time afresh.
    Tot(0x09, 0x05, 0x00);
    EXPECT_EQ(t.s().tickCount, 0);
    Tick(1);
    EXPECT_EQ(Clock(), "09:05:01");
}

TEST_F(BroadcastClockTest, TotFieldsAreTakenAsDecoded) {
    Tot(0x25, 0xFF, 0x0A);
    EXPECT_EQ(t.s().clockHour, 25);
    EXPECT_EQ(t.s().clockMinute, 165);
    EXPECT_EQ(t.s().clockSecond, 10);
}

struct FormatCase {
    int32_t hour, minute, second, ticks;
    const char* text;
};

TEST(FormatBroadcastClock, AlwaysAValidTimeOfDay) {
    const FormatCase cases[] = {
        {12, 34, 56, 1, "12:34:57"},
        {23, 59, 59, 1, "00:00:00"},
        {9, 5, 0, 1, "09:05:01"},
        {0, 0, 59, 61, "00:02:00"},  // seconds past 119
        {23, 0, 0, 7200, "01:00:00"},
        {0, 0, 0, INT32_MAX, "03:14:07"},
        {165, 165, 165, 0, "23:47:45"},  // 0xFF digits everywhere
        {25, 0, 0, 1, "01:00:01"},
        {0, 0, 0, -100, "23:58:20"},
    };
    for (const FormatCase& c : cases) {
        char out[9];
        FormatBroadcastClock(c.hour, c.minute, c.second, c.ticks, out);
        EXPECT_STREQ(out, c.text) << c.hour << ":" << c.minute << ":" << c.second << "+" << c.ticks;
    }
}

TEST_F(BroadcastClockTest, TickCountDoesNotOverflow) {
    Tot(0x00, 0x00, 0x00);
    t.s().tickCount = INT32_MAX - 1;
    Tick(3);
    EXPECT_EQ(t.s().tickCount, INT32_MAX);
    EXPECT_EQ(Clock(), "03:14:07");
}

TEST_F(BroadcastClockTest, WithoutAWindowTheCountStillAdvances) {
    Tot(0x10, 0x00, 0x00);
    t.s().hasWindow = false;
    Tick(2);
    EXPECT_EQ(t.s().tickCount, 2);
    EXPECT_TRUE(t.platform.controlHistory.empty());
}

// Packets on PID 0x0014 that must leave the clock alone.
TEST_F(BroadcastClockTest, PacketsThatAreNotReadAsTot) {
    const Bytes tot = build::TotSection(0xE4C1, 0x12, 0x00, 0x00);
    Bytes noPusi = sb.Stream(kTotPid, {tot});
    noPusi[1] &= static_cast<uint8_t>(~0x40);
    Bytes timeOutside(1, 179);  // s = 184: the seconds byte would be at 191
    timeOutside.resize(180, 0x00);
    timeOutside.insert(timeOutside.end(), tot.begin(), tot.begin() + 4);
    // s = 181: hour and minute lie inside, the seconds byte would be at 188.
    Bytes secondsOutside(1, 176);
    secondsOutside.resize(177, 0x00);
    secondsOutside.insert(secondsOutside.end(), tot.begin(), tot.begin() + 7);
    const Bytes cases[] = {
        sb.Stream(kTotPid, {build::TdtSection(0xE4C1, 0x12, 0x00, 0x00)}),
        noPusi,
        build::MakePacket(kTotPid, true, 0, timeOutside),
        build::MakePacket(kTotPid, true, 0, secondsOutside),
    };
    for (const Bytes& p : cases) {
        ASSERT_EQ(p.size() % 188, 0u);
        // Each packet from its own exactly sized block, so that
        // AddressSanitizer sees a read of byte 188.
        std::unique_ptr<uint8_t[]> exact(new uint8_t[p.size()]);
        std::memcpy(exact.get(), p.data(), p.size());
        RoutePackets(t.s(), exact.get(), static_cast<uint32_t>(p.size()));
    }
    EXPECT_EQ(t.s().tickCount, -100);
    EXPECT_EQ(t.s().clockHour, 0);
    EXPECT_EQ(t.s().clockMinute, 0);
}

TEST_F(BroadcastClockTest, TotBehindAnAdaptationFieldAndAPointer) {
    build::PacketOptions o;
    o.adaptationLength = 20;
    o.leading = Bytes(10, 0x00);
    Route(sb.Stream(kTotPid, {build::TotSection(0xE4C1, 0x07, 0x08, 0x09)}, o));
    Tick(1);
    EXPECT_EQ(Clock(), "07:08:10");
}

TEST_F(BroadcastClockTest, TotAtTheLatestPossibleStartIsRead) {
    // s = 180: the seconds byte is the packet's last byte.
    const Bytes tot = build::TotSection(0xE4C1, 0x21, 0x22, 0x23);
    Bytes payload(1, 175);
    payload.resize(176, 0x00);
    payload.insert(payload.end(), tot.begin(), tot.begin() + 8);
    Route(build::MakePacket(kTotPid, true, 0, payload));
    EXPECT_EQ(t.s().tickCount, 0);
    EXPECT_EQ(t.s().clockSecond, 23);
}

}  // namespace
