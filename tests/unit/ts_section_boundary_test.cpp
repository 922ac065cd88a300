// Sections whose last byte is the last byte of a packet: the section is
// complete in that packet, and the PUSI packet that follows starts the next
// one. 183 bytes fill a PUSI packet behind a pointer_field of 0, 367 bytes
// that packet and one more.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "plugin/messages.h"
#include "plugin/plugin_state.h"
#include "plugin/router.h"
#include "tests/support/test_plugin.h"
#include "tools/streamkit/stream_builder.h"
#include "ts/packet.h"
#include "ts/programme_map.h"

namespace {

using build::Bytes;

const uint16_t kService = 0x5DB8;
const uint16_t kEitPid = 0x0012;
const uint16_t kSdtPid = 0x0011;
const uint16_t kPmtPid = 0x1FC8;

// Filler descriptors of exactly `size` bytes (at least 2).
Bytes Filler(size_t size) {
    Bytes out;
    while (size > 0) {
        size_t body = size - 2 > 255 ? 255 : size - 2;
        // Never leave a single byte, which cannot hold a descriptor.
        if (size - 2 - body == 1) --body;
        out = build::Cat({out, build::Descriptor(0xC1, Bytes(body, 0x44))});
        size -= body + 2;
    }
    return out;
}

// A PMT of exactly `size` bytes: video on `firstPid`, audio on firstPid + 2.
Bytes PmtOfSize(size_t size, uint16_t firstPid, uint8_t version) {
    const size_t fixed = 12 + 2 * 5 + 4;  // header, PCR_PID, program_info_length; two streams; CRC_32
    return build::PmtSection(kService, firstPid, Bytes(),
                             {{0x1B, firstPid, Filler(size - fixed)}, {0x0F, static_cast<uint16_t>(firstPid + 2), Bytes()}},
                             version);
}

Bytes SdtOfSize(size_t size, uint8_t version) {
    build::SdtService s = build::NamedService(kService, build::Text("NAME"));
    const size_t fixed = 11 + 5 + s.descriptors.size() + 4;  // header, one service entry, CRC_32
    s.descriptors = build::Cat({s.descriptors, Filler(size - fixed)});
    return build::SdtSection(build::kDefaultTransportStreamId, build::kDefaultNetworkId, {s}, version);
}

Bytes EventOfSize(uint8_t sectionNumber, size_t size, uint8_t version) {
    build::EitEvent e = build::Event(0xE4C1, 21, 0, 0, 0, 54, 0);
    e.descriptors = Filler(size - 14 - 12 - 4);  // header, event header, CRC_32
    return build::EitPfSection(kService, sectionNumber, {e}, version);
}

enum class Kind { kSdt, kPresent, kFollowing, kPmt };

struct BoundaryCase {
    const char* name;
    Kind kind;
    size_t size;
};

void PrintTo(const BoundaryCase& c, std::ostream* os) { *os << c.name; }

class SectionEndingAtThePacketsEnd : public ::testing::TestWithParam<BoundaryCase> {
protected:
    TestPlugin t;
    build::StreamBuilder sb;

    uint16_t Pid(Kind k) { return k == Kind::kSdt ? kSdtPid : k == Kind::kPmt ? kPmtPid : kEitPid; }
    Bytes Section(const BoundaryCase& c, uint8_t version) {
        switch (c.kind) {
            case Kind::kSdt: return SdtOfSize(c.size, version);
            case Kind::kPresent: return EventOfSize(0, c.size, version);
            case Kind::kFollowing: return EventOfSize(1, c.size, version);
            case Kind::kPmt: break;
        }
        return PmtOfSize(c.size, static_cast<uint16_t>(0x0181 + 0x10 * version), version);
    }
    // The section an EIT or SDT completion handed to the window.
    Bytes Completed(Kind k) {
        const SectionMailbox& m = k == Kind::kSdt       ? t.s().sdtMailbox
                                  : k == Kind::kPresent ? t.s().presentMailbox
                                                        : t.s().followingMailbox;
        return Bytes(m.data, m.data + m.length);
    }
};

TEST_P(SectionEndingAtThePacketsEnd, IsCompletedInItsLastPacketAndTheNextOneStarts) {
    const BoundaryCase& c = GetParam();
    t.s().currentService = kService;
    t.s().view = c.kind == Kind::kFollowing ? View::kFollowing : View::kPresent;
    const Bytes first = Section(c, 1);
    const Bytes second = Section(c, 2);
    ASSERT_EQ(first.size(), c.size);
    ASSERT_EQ(second.size(), c.size);
    const std::vector<Bytes> firstPackets = sb.Packets(Pid(c.kind), {first});
    const std::vector<Bytes> secondPackets = sb.Packets(Pid(c.kind), {second});
    ASSERT_EQ(firstPackets.size(), (c.size + 1 + 183) / 184);
    ASSERT_EQ(firstPackets.back()[187], first.back()) << "the section does not end at the packet's end";
    ASSERT_TRUE(secondPackets[0][1] & 0x40);

    for (const Bytes& p : firstPackets) RoutePackets(t.s(), p.data(), 188);
    if (c.kind == Kind::kPmt) {
        EXPECT_TRUE(EsPidTableHas(t.s().esPidTable, 0x0191)) << "the programme map was not read";
        EXPECT_TRUE(EsPidTableHas(t.s().esPidTable, 0x0193));
    } else {
        EXPECT_EQ(t.platform.windowPosted.size(), 1u) << "not completed in its own last packet";
        EXPECT_EQ(Completed(c.kind), first);
    }

    for (const Bytes& p : secondPackets) RoutePackets(t.s(), p.data(), 188);
    if (c.kind == Kind::kPmt) {
        EXPECT_TRUE(EsPidTableHas(t.s().esPidTable, 0x01A1)) << "the next programme map was not read";
        EXPECT_TRUE(EsPidTableHas(t.s().esPidTable, 0x01A3));
    } else {
        const uint32_t message = c.kind == Kind::kSdt       ? WM_SDT_READY
                                 : c.kind == Kind::kPresent ? WM_EIT_PRESENT_READY
                                                            : WM_EIT_FOLLOWING_READY;
        EXPECT_EQ(t.platform.windowPosted, (std::vector<uint32_t>{message, message}));
        EXPECT_EQ(Completed(c.kind), second);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, SectionEndingAtThePacketsEnd,
    ::testing::Values(BoundaryCase{"Sdt183", Kind::kSdt, 183}, BoundaryCase{"Sdt367", Kind::kSdt, 367},
                      BoundaryCase{"Present183", Kind::kPresent, 183},
                      BoundaryCase{"Present367", Kind::kPresent, 367},
                      BoundaryCase{"Following183", Kind::kFollowing, 183},
                      BoundaryCase{"Following367", Kind::kFollowing, 367},
                      BoundaryCase{"Pmt183", Kind::kPmt, 183}, BoundaryCase{"Pmt367", Kind::kPmt, 367}),
    [](const ::testing::TestParamInfo<BoundaryCase>& param) { return std::string(param.param.name); });

// The PMT that fills its packet exactly opens the recording to the
// service's audio and video, from the packets right behind it.
TEST(SectionBoundary, PmtEndingAtThePacketsEndRecordsAudioAndVideo) {
    for (size_t size : {183u, 367u}) {
        SCOPED_TRACE(size);
        TestPlugin t;
        build::StreamBuilder sb;
        t.s().recordingFile = t.platform.CreateRecordingFile("C:\\rec.ts");
        t.s().recording = true;
        const Bytes stream = build::Cat({sb.Stream(kPmtPid, {PmtOfSize(size, 0x0181, 0)}),
                                         sb.Packet(0x0181, false, Bytes(184, 0x00)),
                                         sb.Packet(0x0183, false, Bytes(184, 0x00)),
                                         sb.Stream(kPmtPid, {PmtOfSize(size, 0x0181, 0)})});
        RoutePackets(t.s(), stream.data(), static_cast<uint32_t>(stream.size()));
        std::vector<uint16_t> pids;
        const Bytes& file = t.platform.files["C:\\rec.ts"];
        for (size_t o = 0; o + 188 <= file.size(); o += 188) pids.push_back(PacketPid(&file[o]));
        std::vector<uint16_t> expected(size / 183, kPmtPid);
        expected.push_back(0x0181);
        expected.push_back(0x0183);
        expected.insert(expected.end(), size / 183, kPmtPid);
        EXPECT_EQ(pids, expected);
    }
}

}  // namespace
