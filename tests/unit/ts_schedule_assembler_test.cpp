// The schedule section assembler: sections packed back to back and across
// packets, the filter applied from the header without a copy, and damaged
// input (continuity breaks, repeated packets, impossible lengths, stuffing).
#include <gtest/gtest.h>

#include <vector>

#include "tools/streamkit/stream_builder.h"
#include "ts/schedule_assembler.h"

namespace {

using build::Bytes;

const uint16_t kService = 0x0400;

Bytes Schedule(uint8_t tableId, uint16_t service, uint8_t sectionNumber, uint8_t version, int titleBytes) {
    build::EitHeader h = build::ScheduleHeader(service, sectionNumber, version, tableId);
    h.segmentLastSectionNumber = sectionNumber;
    // A short event descriptor holds at most 255 bytes of title: longer
    // sections get a second event.
    std::vector<build::EitEvent> events;
    for (int left = titleBytes, hour = 21; left > 0 || events.empty(); left -= 250, ++hour) {
        const Bytes title(static_cast<size_t>(left < 250 ? (left > 0 ? left : 0) : 250), 0x41);
        events.push_back(build::Event(0xE4C1, hour, 0, 0, 1, 0, 0, build::ShortEventDescriptor(title, Bytes())));
    }
    return build::EitSection(h, events);
}

struct Collected {
    std::vector<Bytes> sections;
};

void Sink(void* context, const uint8_t* section, int32_t length) {
    static_cast<Collected*>(context)->sections.emplace_back(section, section + length);
}

struct Held {
    uint8_t version;  // a section 0x50/0 in this version is held already
};

bool Wanted(const void* context, uint8_t tableId, uint8_t sectionNumber, uint8_t version) {
    const Held* held = static_cast<const Held*>(context);
    return !(tableId == 0x50 && sectionNumber == 0 && version == held->version);
}

class ScheduleAssemblerTest : public ::testing::Test {
protected:
    void SetUp() override { ResetScheduleAssembler(a); }
    std::vector<Bytes> Feed(const Bytes& stream) {
        Collected c;
        ScheduleFilter f = {0x50, 0x5F, kService, Wanted, &held};
        for (size_t o = 0; o + 188 <= stream.size(); o += 188) {
            AssembleScheduleSections(a, f, stream.data() + o, Sink, &c);
        }
        return c.sections;
    }

    ScheduleAssembler a;
    Held held = {0x1F};
    build::StreamBuilder sb;
};

// Packed sections: small ones several to a packet, a large one over many,
// the wanted ones whole and in order, the others (another service, the p/f
// table, a section held in that version) skipped.
TEST_F(ScheduleAssemblerTest, PackedSectionsAreTakenWholeAndFilteredByTheirHeader) {
    const Bytes small1 = Schedule(0x50, kService, 8, 1, 10);
    const Bytes other = Schedule(0x50, 0x0401, 0, 1, 10);
    const Bytes pf = build::EitPfSection(kService, 0, {build::Event(0xE4C1, 21, 0, 0, 1, 0, 0)});
    const Bytes large = Schedule(0x58, kService, 16, 2, 240);
    const Bytes held0 = Schedule(0x50, kService, 0, 3, 10);
    const Bytes small2 = Schedule(0x51, kService, 0, 1, 10);
    held.version = 3;
    const std::vector<Bytes> got = Feed(sb.Stream(0x0012, {small1, other, pf, large, held0, small2}));
    EXPECT_EQ(got, (std::vector<Bytes>{small1, large, small2}));
}

// What breaks a section, and that the next PUSI packet starts cleanly.
TEST_F(ScheduleAssemblerTest, DamageAbandonsOnlyTheSectionItHits) {
    const Bytes first = Schedule(0x50, kService, 8, 1, 400);  // three packets
    const Bytes second = Schedule(0x50, kService, 16, 1, 10);
    build::PacketOptions unpacked;
    unpacked.packSections = false;
    const std::vector<Bytes> packets = sb.Packets(0x0012, {first, second}, unpacked);
    ASSERT_EQ(packets.size(), 4u);

    struct Case {
        const char* name;
        std::vector<Bytes> stream;
        size_t sections;
    };
    Bytes skipped = packets[1];
    skipped[3] = static_cast<uint8_t>((skipped[3] & 0xF0) | ((skipped[3] + 5) & 0x0F));
    Bytes badLength = packets[3];
    badLength[5 + 1] = 0xB0;  // section_length 3: shorter than any EIT
    badLength[5 + 2] = 0x03;
    const Case cases[] = {
        {"whole", {packets[0], packets[1], packets[2], packets[3]}, 2},
        {"repeated packet is taken once", {packets[0], packets[1], packets[1], packets[2], packets[3]}, 2},
        {"continuity break", {packets[0], skipped, packets[2], packets[3]}, 1},
        {"lost packet", {packets[0], packets[2], packets[3]}, 1},
        {"impossible length", {packets[0], packets[1], packets[2], badLength}, 1},
        {"starts mid-section", {packets[1], packets[2], packets[3]}, 1},
    };
    for (const Case& c : cases) {
        ResetScheduleAssembler(a);
        EXPECT_EQ(Feed(build::Cat(c.stream)).size(), c.sections) << c.name;
    }
}

// Any bytes: never a read or write outside the packet or the buffer.
TEST_F(ScheduleAssemblerTest, GarbageIsSafe) {
    Bytes stream;
    uint32_t x = 12345;
    for (int i = 0; i < 2000; ++i) {
        Bytes p(188);
        for (auto& b : p) {
            x = x * 1103515245 + 12345;
            b = static_cast<uint8_t>(x >> 16);
        }
        p[0] = 0x47;
        p[1] = static_cast<uint8_t>((p[1] & 0x40) | 0x00);
        p[2] = 0x12;
        // Now and then a plausible schedule header right behind the pointer.
        if (i % 3 == 0) {
            p[1] |= 0x40;
            p[3] = static_cast<uint8_t>(0x10 | (i & 0x0F));
            p[4] = 0;
            p[5] = 0x50;
            p[8] = 0x04;
            p[9] = 0x00;
        }
        stream.insert(stream.end(), p.begin(), p.end());
    }
    const std::vector<Bytes> got = Feed(stream);
    for (const Bytes& s : got) EXPECT_EQ(s.size(), static_cast<size_t>(((s[1] & 0x0F) << 8 | s[2]) + 3));
}

}  // namespace
