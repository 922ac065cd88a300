// Every section of a PID from packets: several to a packet, a header split
// across packets, continuity breaks and repeated packets, stuffing.
#include <gtest/gtest.h>

#include <vector>

#include "tools/streamkit/stream_builder.h"
#include "ts/section_stream.h"

namespace {

using build::Bytes;

struct Collected {
    std::vector<Bytes> sections;
};

void Keep(void* context, const uint8_t* section, int32_t size) {
    static_cast<Collected*>(context)->sections.push_back(Bytes(section, section + size));
}

std::vector<Bytes> Sections(const std::vector<Bytes>& packets) {
    SectionStream stream;
    ResetSectionStream(stream);
    Collected c;
    for (const Bytes& p : packets) FeedSectionStream(stream, p.data(), Keep, &c);
    return c.sections;
}

Bytes Eit(uint8_t number, size_t textBytes) {
    build::EitEvent e = build::Event(61382, 22, 0, 0, 0, 45, 0,
                                     build::ShortEventDescriptor(Bytes(10, 0x41), Bytes(textBytes, 0x42)));
    build::EitHeader h;
    h.sectionNumber = number;
    return build::EitSection(h, {e});
}

TEST(SectionStream, EverySectionWhateverItsPlaceInThePackets) {
    // Section sizes chosen so that, packed one after another, sections end
    // mid-packet, a header lands split over two packets, and one section
    // spans three packets.
    std::vector<Bytes> sections;
    for (uint8_t n = 0; n < 12; ++n) sections.push_back(Eit(n, static_cast<size_t>(20 + 37 * n)));
    for (size_t lead = 0; lead < 40; ++lead) {
        build::StreamBuilder sb;
        build::PacketOptions options;
        // A leading tail of another section shifts every boundary by one.
        options.leading = Bytes(lead, 0x00);
        const std::vector<Bytes> packets = sb.Packets(0x0012, sections, options);
        EXPECT_EQ(Sections(packets), sections) << "shift " << lead;
    }
}

TEST(SectionStream, BreaksRepeatsAndDamage) {
    const std::vector<Bytes> sections = {Eit(0, 300), Eit(1, 20), Eit(2, 20)};
    build::StreamBuilder sb;
    std::vector<Bytes> packets = sb.Packets(0x0012, sections);
    ASSERT_GE(packets.size(), 3u);

    // A repeated packet is skipped: the same sections.
    std::vector<Bytes> repeated = packets;
    repeated.insert(repeated.begin() + 1, packets[1]);
    EXPECT_EQ(Sections(repeated), sections);

    // A lost packet abandons the section it carried part of; the sections
    // that begin after it are whole again (each section in packets of its
    // own here: the first in packets 0 and 1).
    build::StreamBuilder separate;
    build::PacketOptions own;
    own.packSections = false;
    std::vector<Bytes> lost = separate.Packets(0x0012, sections, own);
    ASSERT_EQ(lost.size(), 4u);
    lost.erase(lost.begin() + 1);
    EXPECT_EQ(Sections(lost), (std::vector<Bytes>{sections[1], sections[2]}));

    // A packet without sync byte, with transport_error_indicator, or without
    // payload hands nothing over and breaks nothing that follows it whole.
    Bytes noSync = packets[0];
    noSync[0] = 0x00;
    Bytes errorFlag = packets[0];
    errorFlag[1] |= 0x80;
    EXPECT_TRUE(Sections({noSync}).empty());
    EXPECT_TRUE(Sections({errorFlag}).empty());
    // An adaptation field that fills the packet, and a pointer_field past
    // its end.
    build::StreamBuilder other;
    EXPECT_TRUE(Sections({other.Packet(0x0012, true, Bytes(), 183)}).empty());
    Bytes pointerPast = build::MakePacket(0x0012, true, 0, Bytes{200, 0x4E, 0xF0});
    EXPECT_TRUE(Sections({pointerPast}).empty());
}

}  // namespace
