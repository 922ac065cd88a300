// Reassembly of EIT p/f, SDT and PMT sections from packets, and the hand-over
// of completed sections through the mailboxes.
#include <gtest/gtest.h>

#include <algorithm>

#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

#include "tests/support/real_data.h"
#include "plugin/messages.h"
#include "plugin/plugin_core.h"
#include "plugin/plugin_state.h"
#include "plugin/router.h"
#include "tests/support/test_plugin.h"
#include "tools/streamkit/stream_builder.h"
#include "ui/channel_buttons.h"
#include "ui/viewer.h"

namespace {

using build::Bytes;

const uint16_t kService = 0x5DB8;
const uint16_t kEitPid = 0x0012;
const uint16_t kSdtPid = 0x0011;
const uint16_t kPmtPid = 0x1FC8;

// An EIT p/f section of exactly `size` bytes (at least 30): one event whose
// descriptor loop is filler.
Bytes EventSection(uint16_t service, uint8_t sectionNumber, size_t size, uint8_t version = 0) {
    build::EitEvent e = build::Event(0xE4C1, 21, 0, 0, 0, 54, 0);
    e.descriptors = Bytes(size - 30, static_cast<uint8_t>(0x20 + version));
    return build::EitPfSection(service, sectionNumber, {e}, version);
}

// A section of `size` bytes with the given table_id and filler body.
Bytes RawSection(uint8_t tableId, size_t size, uint8_t fill = 0x33) {
    Bytes s(size - 4, fill);
    s[0] = tableId;
    s[1] = 0xB0;
    return build::Seal(s);
}

Bytes Mailbox(const SectionMailbox& m) { return Bytes(m.data, m.data + m.length); }

void SetCounter(Bytes& packet, uint8_t counter) {
    packet[3] = static_cast<uint8_t>((packet[3] & 0xF0) | (counter & 0x0F));
}

class SectionAssemblyTest : public ::testing::Test {
protected:
    TestPlugin t;
    build::StreamBuilder sb;

    void SetUp() override { PluginOnChannelChange(t.s(), 27, kService); }

    // Each packet from its own exactly sized heap block, so that
    // AddressSanitizer sees any read past the packet.
    void Route(const Bytes& packet) {
        ASSERT_EQ(packet.size(), 188u);
        std::unique_ptr<uint8_t[]> exact(new uint8_t[188]);
        std::memcpy(exact.get(), packet.data(), 188);
        RoutePackets(t.s(), exact.get(), 188);
    }
    void Route(const std::vector<Bytes>& packets) {
        for (const Bytes& p : packets) Route(p);
    }
    std::vector<uint32_t> Posted() { return t.platform.windowPosted; }
    size_t Count(uint32_t message) {
        size_t n = 0;
        for (uint32_t m : t.platform.windowPosted) n += m == message;
        return n;
    }
};

TEST_F(SectionAssemblyTest, PresentSectionInOnePacketIsAnnouncedFromIt) {
    const Bytes eit = EventSection(kService, 0, 120);
    Route(sb.Packets(kEitPid, {eit}));
    EXPECT_EQ(Posted(), std::vector<uint32_t>{WM_EIT_PRESENT_READY});
    EXPECT_EQ(Mailbox(t.s().presentMailbox), eit);
}

TEST_F(SectionAssemblyTest, SectionOverManyPacketsUpToTheLargestSize) {
    for (size_t size : {400u, 4098u}) {
        SCOPED_TRACE(size);
        const Bytes sdt = RawSection(0x42, size);
        const std::vector<Bytes> packets = sb.Packets(kSdtPid, {sdt});
        ASSERT_GT(packets.size(), 2u);
        Route(packets);
        EXPECT_EQ(Mailbox(t.s().sdtMailbox), sdt);
    }
    EXPECT_EQ(Count(WM_SDT_READY), 2u);
}

// A PUSI packet whose first section is the other section_number, and the
// wanted one right behind it at offset `secondAt`: found wherever it begins,
// its header in that packet or the next.
struct SecondSectionCase {
    View view;
    uint8_t firstNumber;
    size_t secondAt;
    uint32_t message;
};

TEST_F(SectionAssemblyTest, SectionBehindTheOtherSectionNumber) {
    const SecondSectionCase cases[] = {
        {View::kPresent, 1, 100, WM_EIT_PRESENT_READY},   {View::kPresent, 1, 177, WM_EIT_PRESENT_READY},
        {View::kPresent, 1, 178, WM_EIT_PRESENT_READY},   {View::kPresent, 1, 184, WM_EIT_PRESENT_READY},
        {View::kFollowing, 0, 100, WM_EIT_FOLLOWING_READY}, {View::kFollowing, 0, 178, WM_EIT_FOLLOWING_READY},
    };
    for (const SecondSectionCase& c : cases) {
        SCOPED_TRACE(c.secondAt);
        TestPlugin fresh;
        PluginOnChannelChange(fresh.s(), 27, kService);
        fresh.s().view = c.view;
        // The first section belongs to another service: not examined.
        const Bytes first = EventSection(0x0401, c.firstNumber, c.secondAt - 5);
        const Bytes second = EventSection(kService, c.firstNumber ^ 1, 60);
        const Bytes data = build::Cat({Bytes(1, 0), first, second});  // pointer_field 0
        const size_t split = data.size() < 184 ? data.size() : 184;
        const Bytes head(data.begin(), data.begin() + split);
        const Bytes tail(data.begin() + split, data.end());
        const Bytes p1 = build::MakePacket(kEitPid, true, 3, head);
        const Bytes p2 = build::MakePacket(kEitPid, false, 4, tail);
        for (const Bytes* p : {&p1, &p2}) RoutePackets(fresh.s(), p->data(), 188);
        EXPECT_EQ(fresh.platform.windowPosted, std::vector<uint32_t>{c.message});
        const SectionMailbox& m = c.view == View::kFollowing ? fresh.s().followingMailbox : fresh.s().presentMailbox;
        EXPECT_EQ(Mailbox(m), second);
    }
}

// Two EIT p/f sections of two services in one PUSI packet: a section of
// another service is never taken for the current service's, whichever place
// it has and whatever its section_number, and ours is taken behind it.
struct TwoServicesCase {
    const char* name;
    View view;
    uint16_t firstService;
    uint8_t firstNumber;
    uint16_t secondService;
    uint8_t secondNumber;
    std::vector<uint32_t> posted;
    int handedOver;  // which section the posted message's mailbox holds: 0 the first, 1 the second
};

TEST_F(SectionAssemblyTest, SectionOfAnotherServiceIsNotTakenForOurs) {
    const uint16_t other = 0x0401;
    const TwoServicesCase cases[] = {
        {"PresentBehindTheSameNumberOfAnother", View::kPresent, other, 0, kService, 0, {WM_EIT_PRESENT_READY}, 1},
        {"PresentOfAnotherBehindOurFollowing", View::kPresent, kService, 1, other, 0, {}, 0},
        {"FollowingBehindTheSameNumberOfAnother", View::kFollowing, other, 1, kService, 1, {WM_EIT_FOLLOWING_READY},
         1},
        {"FollowingOfAnotherBehindOurPresent", View::kFollowing, kService, 0, other, 1, {WM_EIT_PRESENT_READY}, 0},
        {"BothPresentInTheFollowingView", View::kFollowing, other, 0, kService, 0, {WM_EIT_PRESENT_READY}, 1},
    };
    for (const TwoServicesCase& c : cases) {
        SCOPED_TRACE(c.name);
        TestPlugin fresh;
        PluginOnChannelChange(fresh.s(), 27, kService);
        fresh.s().view = c.view;
        const Bytes first = EventSection(c.firstService, c.firstNumber, 60, 1);
        const Bytes second = EventSection(c.secondService, c.secondNumber, 60, 2);
        const std::vector<Bytes> packets = sb.Packets(kEitPid, {first, second});
        ASSERT_EQ(packets.size(), 1u);
        RoutePackets(fresh.s(), packets[0].data(), 188);
        EXPECT_EQ(fresh.platform.windowPosted, c.posted);
        if (!c.posted.empty()) {
            const SectionMailbox& m = c.posted[0] == WM_EIT_FOLLOWING_READY ? fresh.s().followingMailbox
                                                                            : fresh.s().presentMailbox;
            EXPECT_EQ(Mailbox(m), c.handedOver == 0 ? first : second);
        }
    }
}

struct CounterCase {
    const char* name;
    uint8_t counters[3];
    bool announced;
};

TEST_F(SectionAssemblyTest, ContinuityCountersWrapAndBreak) {
    const CounterCase cases[] = {
        {"Wraps", {14, 15, 0}, true},
        {"Repeated", {14, 15, 15}, false},
        {"Skipped", {14, 15, 1}, false},
        {"Backwards", {14, 13, 14}, false},
    };
    for (const CounterCase& c : cases) {
        SCOPED_TRACE(c.name);
        t.platform.windowPosted.clear();
        std::vector<Bytes> packets = sb.Packets(kEitPid, {EventSection(kService, 0, 400)});
        ASSERT_EQ(packets.size(), 3u);
        for (int i = 0; i < 3; ++i) SetCounter(packets[i], c.counters[i]);
        Route(packets);
        EXPECT_EQ(Count(WM_EIT_PRESENT_READY), c.announced ? 1u : 0u);
    }
}

// The bytes before the other table's section do not complete the section in
// progress: it is dropped, and later packets do not revive it.
TEST_F(SectionAssemblyTest, OtherTableInAPusiPacketWhileCollectingEndsTheSection) {
    std::vector<Bytes> packets = sb.Packets(kEitPid, {EventSection(kService, 0, 400)});
    Bytes other(1, 0);
    const Bytes tdt = RawSection(0x50, 40);
    other.insert(other.end(), tdt.begin(), tdt.end());
    Route(packets[0]);                                       // counter 0
    Route(build::MakePacket(kEitPid, true, 1, other));       // nothing before the pointer
    SetCounter(packets[1], 2);
    SetCounter(packets[2], 3);
    Route(packets[1]);
    Route(packets[2]);
    // The guide keeps schedule sections of every service (the 0x50 one
    // too); the viewer's present section is broken.
    const std::vector<uint32_t> posted = Posted();
    EXPECT_EQ(std::count(posted.begin(), posted.end(), WM_EIT_PRESENT_READY), 0);
}

TEST_F(SectionAssemblyTest, FollowingSectionsOnlyInTheFollowingView) {
    const Bytes following = EventSection(kService, 1, 90);
    Route(sb.Packets(kEitPid, {following}));
    EXPECT_TRUE(Posted().empty());
    t.s().view = View::kFollowing;
    Route(sb.Packets(kEitPid, {following}));
    EXPECT_EQ(Posted(), std::vector<uint32_t>{WM_EIT_FOLLOWING_READY});
    EXPECT_EQ(Mailbox(t.s().followingMailbox), following);
}

TEST_F(SectionAssemblyTest, PresentAndFollowingFromOnePacket) {
    t.s().view = View::kFollowing;
    const Bytes present = EventSection(kService, 0, 80);
    const Bytes following = EventSection(kService, 1, 90);
    Route(sb.Packets(kEitPid, {present, following}));
    EXPECT_EQ(Posted(), (std::vector<uint32_t>{WM_EIT_PRESENT_READY, WM_EIT_FOLLOWING_READY}));
    EXPECT_EQ(Mailbox(t.s().presentMailbox), present);
    EXPECT_EQ(Mailbox(t.s().followingMailbox), following);
}

struct MinimumCase {
    uint16_t pid;
    uint8_t tableId;
    int sectionLength;
    bool assembled;
};

TEST_F(SectionAssemblyTest, SdtAndPmtMinimumLengths) {
    const MinimumCase cases[] = {
        {kSdtPid, 0x42, 8, false},
        {kSdtPid, 0x42, 9, true},
        {kPmtPid, 0x02, 13, false},
        {kPmtPid, 0x02, 14, true},
    };
    for (const MinimumCase& c : cases) {
        SCOPED_TRACE(c.sectionLength);
        TestPlugin fresh;
        const Bytes section = RawSection(c.tableId, static_cast<size_t>(c.sectionLength) + 3);
        const Bytes stream = sb.Stream(c.pid, {section});
        RoutePackets(fresh.s(), stream.data(), static_cast<uint32_t>(stream.size()));
        if (c.pid == kSdtPid) {
            EXPECT_EQ(fresh.platform.windowPosted.size(), c.assembled ? 1u : 0u);
        } else {
            EXPECT_EQ(fresh.s().pmtKey != 0, c.assembled);  // UpdateProgrammeMap ran
        }
    }
}

TEST_F(SectionAssemblyTest, SdtWhoseLastPacketStartsTheNextIsCompletedFromItsTail) {
    // Two sections packed: the second begins in the first one's last packet,
    // whose bytes before the pointer's target complete the first.
    const Bytes first = RawSection(0x42, 300, 1);
    const Bytes second = RawSection(0x42, 300, 2);
    const std::vector<Bytes> packets = sb.Packets(kSdtPid, {first, second});
    ASSERT_EQ(packets.size(), 4u);
    Route(packets[0]);
    Route(packets[1]);
    EXPECT_EQ(Count(WM_SDT_READY), 1u);
    EXPECT_EQ(Mailbox(t.s().sdtMailbox), first);
    Route(packets[2]);
    Route(packets[3]);
    EXPECT_EQ(Count(WM_SDT_READY), 2u);
    EXPECT_EQ(Mailbox(t.s().sdtMailbox), second);
    // Whole sections that each start a packet are assembled.
    build::PacketOptions separate;
    separate.packSections = false;
    Route(sb.Packets(kSdtPid, {RawSection(0x42, 300, 3), RawSection(0x42, 300, 4)}, separate));
    EXPECT_EQ(Count(WM_SDT_READY), 4u);
}

// Adaptation fields move the payload: continuation without PUSI at 5 + L, the
// section start at 6 + L + pointer_field.
TEST_F(SectionAssemblyTest, AdaptationFieldsMoveThePayload) {
    const std::vector<std::vector<int>> layouts = {{-1, 7}, {7, -1}, {0, 0, 0}, {120, 1, 60}};
    for (const std::vector<int>& layout : layouts) {
        build::PacketOptions o;
        o.adaptationLengths = layout;
        for (uint16_t pid : {kEitPid, kSdtPid}) {
            t.platform.windowPosted.clear();
            const Bytes section = pid == kEitPid ? EventSection(kService, 0, 250) : RawSection(0x42, 250);
            Route(sb.Packets(pid, {section}, o));
            EXPECT_EQ(Posted().size(), 1u) << layout[0] << " " << pid;
            EXPECT_EQ(Mailbox(pid == kEitPid ? t.s().presentMailbox : t.s().sdtMailbox), section);
        }
    }
}

// The PUSI packet that carries a section's tail behind the pointer_field
// completes it from offset 5 (or 6 + L); the section that begins in it,
// whole in that packet, is handed over right behind it (the mailbox holds
// the newer), and the PID's next packet adds nothing.
TEST_F(SectionAssemblyTest, PusiPacketFinishesTheEventSectionBeingCollected) {
    for (int adaptation : {build::kNoAdaptationField, 7}) {
        SCOPED_TRACE(adaptation);
        TestPlugin fresh;
        PluginOnChannelChange(fresh.s(), 27, kService);
        const Bytes a = EventSection(kService, 0, 300, 1);
        const Bytes b = EventSection(kService, 0, 50, 2);
        build::PacketOptions o;
        o.adaptationLengths = {build::kNoAdaptationField, adaptation};
        const std::vector<Bytes> packets = sb.Packets(kEitPid, {a, b}, o);
        ASSERT_EQ(packets.size(), 2u);
        ASSERT_TRUE(packets[1][1] & 0x40);
        RoutePackets(fresh.s(), packets[0].data(), 188);
        EXPECT_TRUE(fresh.platform.windowPosted.empty());
        RoutePackets(fresh.s(), packets[1].data(), 188);
        EXPECT_EQ(fresh.platform.windowPosted,
                  (std::vector<uint32_t>{WM_EIT_PRESENT_READY, WM_EIT_PRESENT_READY}));
        EXPECT_EQ(Mailbox(fresh.s().presentMailbox), b);
        const Bytes next = sb.Packet(kEitPid, false, Bytes());
        RoutePackets(fresh.s(), next.data(), 188);
        EXPECT_EQ(fresh.platform.windowPosted.size(), 2u);
        EXPECT_EQ(Mailbox(fresh.s().presentMailbox), b);
    }
}

TEST_F(SectionAssemblyTest, MailboxKeepsTheCompletedSectionWhileTheNextIsCollected) {
    const Bytes a = EventSection(kService, 0, 100, 1);
    const Bytes b = EventSection(kService, 0, 500, 2);
    Route(sb.Packets(kEitPid, {a}));
    const std::vector<Bytes> packets = sb.Packets(kEitPid, {b});
    Route(packets[0]);
    Route(packets[1]);
    EXPECT_EQ(Mailbox(t.s().presentMailbox), a);
    Route(packets[2]);
    EXPECT_EQ(Mailbox(t.s().presentMailbox), b);
    EXPECT_EQ(Count(WM_EIT_PRESENT_READY), 2u);
}

TEST_F(SectionAssemblyTest, ServiceChangeDropsTheHalfCollectedSection) {
    const std::vector<Bytes> packets = sb.Packets(kEitPid, {EventSection(kService, 0, 400)});
    Route(packets[0]);
    PluginOnChannelChange(t.s(), 27, 0x5DB9);
    Route(packets[1]);
    Route(packets[2]);
    // The guide keeps schedule sections of every service (the 0x50 one
    // too); the viewer's present section is broken.
    const std::vector<uint32_t> posted = Posted();
    EXPECT_EQ(std::count(posted.begin(), posted.end(), WM_EIT_PRESENT_READY), 0);
}

TEST(SectionAssembly, BeforeAnyServiceOnlyServiceZeroIsAssembled) {
    TestPlugin t;
    build::StreamBuilder sb;
    Bytes stream = build::Cat({sb.Stream(kEitPid, {EventSection(0x0001, 0, 60)}),
                               sb.Stream(kEitPid, {EventSection(0x0000, 0, 60)}),
                               sb.Stream(kSdtPid, {RawSection(0x42, 60)})});
    RoutePackets(t.s(), stream.data(), static_cast<uint32_t>(stream.size()));
    EXPECT_EQ(t.platform.windowPosted, (std::vector<uint32_t>{WM_EIT_PRESENT_READY, WM_SDT_READY}));
}

// A section that begins in the packet's last bytes: the checks wait for its
// header, and an EIT section's service and number are tested once they come.
struct LateStartCase {
    uint16_t pid;
    size_t start;       // offset of the table_id in the PUSI packet
    uint16_t service;   // EIT only
    uint8_t number;     // EIT only
    bool announced;
    View view;          // EIT only: the following view also runs the following assembler
};

TEST_F(SectionAssemblyTest, SectionStartingInTheLastBytesOfAPacket) {
    const LateStartCase cases[] = {
        {kSdtPid, 187, 0, 0, true, View::kPresent},
        {kSdtPid, 186, 0, 0, true, View::kPresent},
        {kPmtPid, 187, 0, 0, true, View::kPresent},
        {kEitPid, 187, kService, 0, true, View::kPresent},
        {kEitPid, 185, kService, 0, true, View::kPresent},
        {kEitPid, 184, kService, 0, true, View::kPresent},
        {kEitPid, 183, kService, 0, true, View::kPresent},
        {kEitPid, 182, kService, 0, true, View::kPresent},
        {kEitPid, 185, 0x0401, 0, false, View::kPresent},
        {kEitPid, 184, 0x0401, 0, false, View::kPresent},
        // section_number 1 whose number byte is not yet in: the zero left in
        // the buffer must not pass for section_number 0.
        {kEitPid, 185, kService, 1, false, View::kPresent},
        {kEitPid, 184, kService, 1, false, View::kPresent},
        {kEitPid, 183, kService, 1, false, View::kPresent},
        {kEitPid, 182, kService, 1, false, View::kPresent},
        // In the following view the same section is the following event,
        // and only that.
        {kEitPid, 185, kService, 1, true, View::kFollowing},
        {kEitPid, 184, kService, 1, true, View::kFollowing},
        {kEitPid, 185, kService, 0, true, View::kFollowing},
    };
    for (const LateStartCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "start " << c.start << " number " << int(c.number) << " view "
                                        << static_cast<int>(c.view));
        TestPlugin fresh;
        PluginOnChannelChange(fresh.s(), 27, kService);
        fresh.s().view = c.view;
        // What the buffers held before: a header of section_length 0 and
        // service 0, which a check run too early would read.
        for (SectionAssembler* a : {&fresh.s().eitAssembler, &fresh.s().sdtAssembler, &fresh.s().pmtAssembler}) {
            std::memset(a->follower.buffer, 0, sizeof a->follower.buffer);
        }
        const Bytes section = c.pid == kEitPid ? EventSection(c.service, c.number, 200)
                                               : RawSection(c.pid == kSdtPid ? 0x42 : 0x02, 200);
        build::PacketOptions o;
        o.leading = Bytes(c.start - 5, 0x77);
        const std::vector<Bytes> packets = sb.Packets(c.pid, {section}, o);
        ASSERT_EQ(packets[0][4], c.start - 5);
        for (const Bytes& p : packets) RoutePackets(fresh.s(), p.data(), 188);
        if (c.pid == kPmtPid) {
            EXPECT_EQ(fresh.s().pmtKey != 0, c.announced);
        } else {
            const bool following = c.pid == kEitPid && c.number == 1;
            const uint32_t message = c.pid == kSdtPid ? WM_SDT_READY
                                     : following      ? WM_EIT_FOLLOWING_READY
                                                      : WM_EIT_PRESENT_READY;
            EXPECT_EQ(fresh.platform.windowPosted,
                      c.announced ? std::vector<uint32_t>{message} : std::vector<uint32_t>{});
            if (c.announced) {
                const SectionMailbox& m = c.pid == kSdtPid ? fresh.s().sdtMailbox
                                          : following      ? fresh.s().followingMailbox
                                                           : fresh.s().presentMailbox;
                EXPECT_EQ(Mailbox(m), section);
            }
        }
    }
}

// A section of another service that begins too near the packet's end to be
// tested there is dropped when its header arrives, and the wanted section
// that begins in that same PUSI packet is still taken.
TEST_F(SectionAssemblyTest, UnwantedLateSectionDoesNotHideTheNextOne) {
    const Bytes foreign = EventSection(0x0401, 0, 40);
    const Bytes wanted = EventSection(kService, 0, 60);
    build::PacketOptions o;
    o.leading = Bytes(179, 0x77);  // the foreign section begins at 184
    const std::vector<Bytes> packets = sb.Packets(kEitPid, {foreign, wanted}, o);
    ASSERT_EQ(packets.size(), 2u);
    ASSERT_TRUE(packets[1][1] & 0x40);
    Route(packets);
    EXPECT_EQ(Posted(), std::vector<uint32_t>{WM_EIT_PRESENT_READY});
    EXPECT_EQ(Mailbox(t.s().presentMailbox), wanted);
}

// pointer_field and adaptation_field_length that put the section or the
// payload at or past the packet's end: the packet is ignored.
TEST_F(SectionAssemblyTest, OffsetsOutsideThePacketAreIgnored) {
    Bytes pointerPastEnd = build::MakePacket(0, true, 0, Bytes{183});
    Bytes pointerAtLastByte = build::MakePacket(0, true, 0, Bytes(), 182);
    pointerAtLastByte[187] = 0;  // pointer_field 0 at 187: the section would start at 188
    const Bytes bad[] = {
        pointerPastEnd,
        pointerAtLastByte,
        build::MakePacket(0, true, 0, Bytes(), 183),
        build::MakePacket(0, true, 0, Bytes(), 255),
        build::MakePacket(0, false, 0, Bytes(), 200),
    };
    for (uint16_t pid : {kEitPid, kSdtPid, kPmtPid, uint16_t(0x0014)}) {
        for (Bytes p : bad) {
            p[1] = static_cast<uint8_t>((p[1] & 0xE0) | (pid >> 8));
            p[2] = static_cast<uint8_t>(pid);
            Route(p);
        }
    }
    EXPECT_TRUE(Posted().empty());
    EXPECT_EQ(t.s().tickCount, -100);
    EXPECT_EQ(t.s().pmtKey, 0u);
}

TEST_F(SectionAssemblyTest, PacketWithoutPayloadInsideASectionIsSkipped) {
    const std::vector<Bytes> packets = sb.Packets(kEitPid, {EventSection(kService, 0, 400)});
    Bytes adaptationOnly = build::MakePacket(kEitPid, false, 0, Bytes(), 183);
    Route(packets[0]);
    Route(adaptationOnly);
    Route(packets[1]);
    Route(packets[2]);
    EXPECT_EQ(Posted(), std::vector<uint32_t>{WM_EIT_PRESENT_READY});
}

// A section too short to hold its own service_id and section_number
// (section_length below 4) is not announced: the bytes behind it, which
// would name the service, are not its. From section_length 4 on it is, its
// change key inside it.
TEST_F(SectionAssemblyTest, EventSectionTooShortForItsServiceAndNumberIsNotAnnounced) {
    for (uint8_t length = 0; length < 4; ++length) {
        Route(build::MakePacket(kEitPid, true, length, Bytes{0x00, 0x4E, 0xF0, length, 0x5D, 0xB8, 0xC1, 0x00}));
    }
    EXPECT_TRUE(Posted().empty());
    Route(build::MakePacket(kEitPid, true, 4, Bytes{0x00, 0x4E, 0xF0, 0x04, 0x5D, 0xB8, 0xC1, 0x00}));
    EXPECT_EQ(Posted(), std::vector<uint32_t>{WM_EIT_PRESENT_READY});
    EXPECT_EQ(t.s().presentMailbox.length, 7);
}

TEST_F(SectionAssemblyTest, RealSdtOverTwoPackets) {
    const Bytes all = ReadRealData("tokyo-mx-psi.ts");
    ASSERT_EQ(all.size(), 6u * 188);
    RoutePackets(t.s(), all.data(), static_cast<uint32_t>(all.size()));
    EXPECT_EQ(Posted(), std::vector<uint32_t>{WM_SDT_READY});
    const Bytes sdt = Mailbox(t.s().sdtMailbox);
    ASSERT_EQ(sdt.size(), 0xDBu + 3);
    EXPECT_TRUE(build::CrcIsCorrect(sdt));
    EXPECT_EQ(sdt[0], 0x42);
}

}  // namespace
