// The section follower on its own: a header whole in its packet is tested
// where it lies, one split between packets in the buffer; the packets in
// the middle of a section passed over are counted through, and every
// packet that is not a plain continuation (an adaptation field, a damaged
// or repeated packet, a gap) still takes the careful way.
#include <gtest/gtest.h>

#include <vector>

#include "tools/streamkit/stream_builder.h"
#include "ts/section_follower.h"

namespace {

using build::Bytes;

const uint16_t kPid = 0x0012;
const uint8_t kWanted = 0x60;
const uint8_t kPassed = 0x61;

// A section of `size` bytes with the given table_id and a filler body.
Bytes RawSection(uint8_t tableId, size_t size, uint8_t fill) {
    Bytes s(size - 4, fill);
    s[0] = tableId;
    s[1] = static_cast<uint8_t>(0xB0 | ((size - 3) >> 8));
    s[2] = static_cast<uint8_t>((size - 3) & 0xFF);
    return build::Seal(s);
}

// Keeps the sections of kWanted and records every header it was asked
// about (table id and how many bytes it was shown).
struct Recorder {
    std::vector<Bytes> kept;
    std::vector<std::pair<uint8_t, int32_t>> asked;
};

bool KeepWanted(const void* context, const uint8_t* header, int32_t size) {
    Recorder& r = *const_cast<Recorder*>(static_cast<const Recorder*>(context));
    r.asked.push_back({header[0], size});
    return header[0] == kWanted;
}

void Sink(void* context, const uint8_t* section, int32_t size) {
    static_cast<Recorder*>(context)->kept.push_back(Bytes(section, section + size));
}

std::vector<Bytes> Follow(const std::vector<Bytes>& packets, Recorder& r) {
    SectionFollower f;
    ResetSectionFollower(f);
    FollowPolicy policy = {KeepWanted, &r, kFollowHeaderSize, 11};
    for (const Bytes& p : packets) FollowSections(f, policy, p.data(), Sink, &r);
    return r.kept;
}

// A long section passed over (five packets and more), then a wanted one;
// something happens to the packets in the middle of the long one.
enum class Middle { kNothing, kRepeated, kDamaged, kAdaptationField, kNoPayload, kGap };

struct MiddleCase {
    const char* name;
    Middle middle;
};

TEST(SectionFollower, APassedSectionsMiddlePacketsKeepTheNextSectionInPlace) {
    const MiddleCase cases[] = {
        {"plain continuation", Middle::kNothing},
        {"a packet repeated (same counter) is taken once", Middle::kRepeated},
        {"a packet with transport_error_indicator is ignored", Middle::kDamaged},
        // Fewer payload bytes in that packet: counting it as a whole
        // payload would misplace the next section's start.
        {"an adaptation field shortens one packet's payload", Middle::kAdaptationField},
        {"an adaptation field without payload", Middle::kNoPayload},
        // The long section is lost; the wanted one starts at the pointer
        // of its own PUSI packet and is found there.
        {"a packet lost", Middle::kGap},
    };
    const Bytes passed = RawSection(kPassed, 1100, 0x11);
    const Bytes wanted = RawSection(kWanted, 300, 0x22);
    for (const MiddleCase& c : cases) {
        build::StreamBuilder sb;
        build::PacketOptions options;
        if (c.middle == Middle::kAdaptationField) options.adaptationLengths = {-1, -1, 20};
        std::vector<Bytes> packets = sb.Packets(kPid, {passed, wanted}, options);
        ASSERT_GE(packets.size(), 7u) << c.name;
        switch (c.middle) {
            case Middle::kRepeated:
                packets.insert(packets.begin() + 3, packets[2]);
                break;
            case Middle::kDamaged: {
                Bytes damaged = packets[2];
                damaged[1] |= 0x80;
                damaged[3] = static_cast<uint8_t>((damaged[3] & 0xF0) | ((damaged[3] + 1) & 0x0F));
                packets.insert(packets.begin() + 2, damaged);
                break;
            }
            case Middle::kNoPayload: {
                Bytes empty = build::MakePacket(kPid, false, packets[1][3] & 0x0F, Bytes(), 183);
                packets.insert(packets.begin() + 2, empty);
                break;
            }
            case Middle::kGap:
                packets.erase(packets.begin() + 2);
                break;
            default:
                break;
        }
        Recorder r;
        const std::vector<Bytes> kept = Follow(packets, r);
        ASSERT_EQ(kept.size(), 1u) << c.name;
        EXPECT_EQ(kept[0], wanted) << c.name;
        // The long section's header was looked at once, whole; no header
        // was made up of its body.
        ASSERT_FALSE(r.asked.empty()) << c.name;
        EXPECT_EQ(r.asked[0].first, kPassed) << c.name;
        for (const auto& a : r.asked) {
            EXPECT_TRUE(a.first == kPassed || a.first == kWanted) << c.name;
        }
    }
}

// A section whose header is split between two packets: its keep test
// waits for the rest of the header in the next packet, even when the
// section goes on over more packets after it.
struct SplitCase {
    const char* name;
    size_t headerBytesInFirstPacket;
    size_t wantedSize;
};

TEST(SectionFollower, AHeaderSplitBetweenPacketsIsTestedWhole) {
    const SplitCase cases[] = {
        {"table id only", 1, 200},
        {"the length known, the ids not", 5, 200},
        {"all but the last header byte", 13, 200},
        {"a long wanted section after the split", 5, 900},
        {"the split header of a long section passed over", 5, 0},
    };
    for (const SplitCase& c : cases) {
        // The first packet's payload: the pointer_field, then 183 bytes.
        const Bytes filler = RawSection(kPassed, 183 - c.headerBytesInFirstPacket, 0x11);
        const bool wantedFollows = c.wantedSize > 0;
        const Bytes second = wantedFollows ? RawSection(kWanted, c.wantedSize, 0x22) : RawSection(kPassed, 900, 0x33);
        const Bytes last = RawSection(kWanted, 100, 0x44);
        build::StreamBuilder sb;
        const std::vector<Bytes> packets = sb.Packets(kPid, {filler, second, last});
        Recorder r;
        const std::vector<Bytes> kept = Follow(packets, r);
        std::vector<Bytes> expected;
        if (wantedFollows) expected.push_back(second);
        expected.push_back(last);
        EXPECT_EQ(kept, expected) << c.name;
        ASSERT_EQ(r.asked.size(), 3u) << c.name;
        EXPECT_EQ(r.asked[1].second, kFollowHeaderSize) << c.name;
    }
}

}  // namespace
