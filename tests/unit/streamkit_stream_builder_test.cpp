// The test stream builder: other tests rely on its packets and sections being
// laid out as ISO/IEC 13818-1 and ARIB STD-B10 describe them.
#include <gtest/gtest.h>

#include <cstddef>
#include <fstream>
#include <iterator>
#include <vector>

#include "tests/support/real_data.h"
#include "tools/streamkit/stream_builder.h"

namespace {

using build::Bytes;

// An independent depacketiser: every section the packets carry, in order.
std::vector<Bytes> Sections(const std::vector<Bytes>& packets) {
    std::vector<Bytes> sections;
    Bytes current;
    auto flush = [&]() {
        size_t pos = 0;
        while (pos + 3 <= current.size() && current[pos] != 0xFF) {
            const size_t size = static_cast<size_t>(((current[pos + 1] & 0x0F) << 8) | current[pos + 2]) + 3;
            if (pos + size > current.size()) break;
            sections.emplace_back(current.begin() + pos, current.begin() + pos + size);
            pos += size;
        }
        current.clear();
    };
    bool synced = false;
    for (const Bytes& p : packets) {
        EXPECT_EQ(p.size(), 188u);
        EXPECT_EQ(p[0], 0x47);
        size_t o = (p[3] & 0x20) ? 5 + p[4] : 4;
        if (!(p[3] & 0x10)) continue;  // no payload
        if (p[1] & 0x40) {
            const size_t pointer = p[o++];
            if (synced) current.insert(current.end(), p.begin() + o, p.begin() + o + pointer);
            flush();
            o += pointer;
            synced = true;
        }
        if (synced) current.insert(current.end(), p.begin() + o, p.end());
    }
    flush();
    return sections;
}

TEST(StreamBuilder, OneShortSection) {
    build::StreamBuilder sb;
    const Bytes pat = build::PatSection(0x7FE8, {{0, 0x0010}, {0x5DB8, 0x1FC8}});
    const std::vector<Bytes> packets = sb.Packets(0x0000, {pat});
    ASSERT_EQ(packets.size(), 1u);
    const Bytes& p = packets[0];
    EXPECT_EQ(Bytes(p.begin(), p.begin() + 5), (Bytes{0x47, 0x60, 0x00, 0x10, 0x00}));
    EXPECT_EQ(Bytes(p.begin() + 5, p.begin() + 5 + pat.size()), pat);
    EXPECT_EQ(Bytes(p.begin() + 5 + pat.size(), p.end()), Bytes(188 - 5 - pat.size(), 0xFF));
    EXPECT_TRUE(build::CrcIsCorrect(pat));
    EXPECT_EQ(pat[1], 0xB0);
    EXPECT_EQ(pat[2], 0x11);
}

TEST(StreamBuilder, CountersPerPidContinueAndWrap) {
    build::StreamBuilder sb;
    sb.SetCounter(0x0012, 14);
    const Bytes eit = sb.Packet(0x0012, true, Bytes{0});
    const Bytes sdt = sb.Packet(0x0011, true, Bytes{0});
    const std::vector<Bytes> more = sb.Packets(0x0012, {Bytes(400, 0x00)});
    EXPECT_EQ(eit[3] & 0x0F, 14);
    EXPECT_EQ(sdt[3] & 0x0F, 0);
    ASSERT_EQ(more.size(), 3u);
    EXPECT_EQ(more[0][3] & 0x0F, 15);
    EXPECT_EQ(more[1][3] & 0x0F, 0);
    EXPECT_EQ(more[2][3] & 0x0F, 1);
    // A packet without payload repeats the counter and does not advance it.
    const Bytes empty = sb.Packet(0x0012, false, Bytes(), 183);
    EXPECT_EQ(empty[3], 0x21);
    EXPECT_EQ(sb.Counter(0x0012), 2);
}

struct LayoutCase {
    const char* name;
    std::vector<size_t> sizes;
    build::PacketOptions options;
    size_t packets;
};

std::vector<LayoutCase> LayoutCases() {
    std::vector<LayoutCase> cases;
    cases.push_back({"OverManyPackets", {4098}, {}, 23});
    cases.push_back({"SeveralInOnePacket", {40, 50, 60}, {}, 1});
    build::PacketOptions separate;
    separate.packSections = false;
    cases.push_back({"EachInItsOwnPacket", {40, 50, 60}, separate, 3});
    build::PacketOptions adaptation;
    adaptation.adaptationLengths = {7, 0, 100, build::kNoAdaptationField, 183};
    cases.push_back({"AdaptationFields", {300, 400}, adaptation, 6});
    build::PacketOptions leading;
    leading.leading = Bytes(182, 0x00);  // the first section begins at byte 187
    cases.push_back({"StartInTheLastByte", {200}, leading, 3});
    // A section that would begin in the last byte of a packet without PUSI
    // is moved to the next packet.
    cases.push_back({"NoStartInTheLastByteWithoutPusi", {183 + 184 - 1, 40}, {}, 3});
    return cases;
}

TEST(StreamBuilder, SectionsComeBackOutOfThePackets) {
    for (const LayoutCase& c : LayoutCases()) {
        SCOPED_TRACE(c.name);
        build::StreamBuilder sb;
        std::vector<Bytes> sections;
        for (size_t i = 0; i < c.sizes.size(); ++i) {
            Bytes s(c.sizes[i] - 4, static_cast<uint8_t>(i + 1));
            s[0] = 0x42;
            s[1] = 0xF0;
            sections.push_back(build::Seal(s));
        }
        const std::vector<Bytes> packets = sb.Packets(0x0011, sections, c.options);
        EXPECT_EQ(packets.size(), c.packets);
        EXPECT_EQ(Sections(packets), sections);
        for (size_t i = 0; i < c.options.adaptationLengths.size() && i < packets.size(); ++i) {
            const int l = c.options.adaptationLengths[i];
            EXPECT_EQ((packets[i][3] & 0x20) != 0, l >= 0) << i;
            if (l >= 0) {
                EXPECT_EQ(packets[i][4], l) << i;
            }
        }
    }
}

// The header bits of the real PSI packets (transport_error_indicator,
// PUSI, transport_priority, the PID, scrambling and adaptation_field_control)
// are what the builder writes for the same PID, so that a PID read with a
// wrong mask fails on generated streams too.
TEST(StreamBuilder, HeaderBitsAsInRealPackets) {
    const Bytes all = ReadRealData("tokyo-mx-psi.ts");
    ASSERT_EQ(all.size(), 6u * 188);
    for (size_t at = 0; at < all.size(); at += 188) {
        const Bytes real(all.begin() + static_cast<std::ptrdiff_t>(at), all.begin() + static_cast<std::ptrdiff_t>(at + 188));
        const uint16_t pid = static_cast<uint16_t>(((real[1] & 0x1F) << 8) | real[2]);
        const bool pusi = (real[1] & 0x40) != 0;
        SCOPED_TRACE(testing::Message() << "PID " << pid << (pusi ? " PUSI" : ""));
        build::StreamBuilder sb;
        Bytes section(296, 0x33);
        section[0] = 0x42;
        section[1] = 0xF0;
        const std::vector<Bytes> packets = sb.Packets(pid, {build::Seal(section)});
        ASSERT_EQ(packets.size(), 2u);
        const Bytes& p = packets[pusi ? 0 : 1];
        EXPECT_EQ(p[0], real[0]);
        EXPECT_EQ(p[1], real[1]);
        EXPECT_EQ(p[2], real[2]);
        EXPECT_EQ(p[3] & 0xF0, real[3] & 0xF0);
    }
}

TEST(StreamBuilder, EitFieldsAtTheirOffsets) {
    const Bytes descriptors = build::Cat({build::ShortEventDescriptor(build::Text("T"), build::Text("D")),
                                          build::ComponentDescriptor(1, 0xB3, 0),
                                          build::AudioComponentDescriptor(build::AudioComponent())});
    const Bytes eit = build::EitPfSection(0x5DB8, 1, {build::Event(0xD68A, 21, 54, 0, 2, 10, 30, descriptors)}, 3);
    EXPECT_TRUE(build::CrcIsCorrect(eit));
    EXPECT_EQ(eit[0], 0x4E);
    EXPECT_EQ(static_cast<size_t>(((eit[1] & 0x0F) << 8) | eit[2]) + 3, eit.size());
    EXPECT_EQ(eit[3], 0x5D);
    EXPECT_EQ(eit[4], 0xB8);
    EXPECT_EQ(eit[5], 0xC7);  // version 3, current
    EXPECT_EQ(eit[6], 1);
    EXPECT_EQ(Bytes(eit.begin() + 16, eit.begin() + 24), (Bytes{0xD6, 0x8A, 0x21, 0x54, 0x00, 0x02, 0x10, 0x30}));
    EXPECT_EQ(static_cast<size_t>(((eit[24] & 0x0F) << 8) | eit[25]), descriptors.size());
    EXPECT_EQ(Bytes(eit.begin() + 26, eit.end() - 4), descriptors);
    // Short event: language, name length at 5, text length at 6 + n.
    EXPECT_EQ(Bytes(descriptors.begin(), descriptors.begin() + 10), (Bytes{0x4D, 7, 'j', 'p', 'n', 1, 'T', 1, 'D', 0x50}));
    // Audio component: stream_content 2, flags at 7, language at 8.
    const Bytes audio(descriptors.end() - 11, descriptors.end());
    EXPECT_EQ(audio, (Bytes{0xC4, 9, 0xF2, 0x03, 0x10, 0x0F, 0xFF, 0x5F, 'j', 'p', 'n'}));
}

TEST(StreamBuilder, SdtTotAndPmtFields) {
    const Bytes sdt = build::SdtSection(0x7FE8, 0x7FE8, {build::NamedService(0x5DB8, build::Text("MX"), Bytes(), 0xC0)});
    EXPECT_TRUE(build::CrcIsCorrect(sdt));
    EXPECT_EQ(Bytes(sdt.begin() + 11, sdt.end() - 4),
              (Bytes{0x5D, 0xB8, 0xE1, 0x80, 0x07, 0x48, 0x05, 0xC0, 0x00, 0x02, 'M', 'X'}));
    const Bytes tot = build::TotSection(0xE4C1, 0x12, 0x34, 0x56);
    EXPECT_TRUE(build::CrcIsCorrect(tot));
    EXPECT_EQ(Bytes(tot.begin(), tot.begin() + 8), (Bytes{0x73, 0x70, static_cast<uint8_t>(tot.size() - 3), 0xE4, 0xC1, 0x12, 0x34, 0x56}));
    const Bytes pmt = build::PmtSection(0x5DB8, 0x01FF, Bytes{0x09, 0x00}, {{0x1B, 0x0181, Bytes{0x52, 0x01, 0x81}}});
    EXPECT_TRUE(build::CrcIsCorrect(pmt));
    EXPECT_EQ(Bytes(pmt.begin() + 3, pmt.end() - 4),
              (Bytes{0x5D, 0xB8, 0xC1, 0x00, 0x00, 0xE1, 0xFF, 0xF0, 0x02, 0x09, 0x00, 0x1B, 0xE1, 0x81, 0xF0, 0x03, 0x52,
                     0x01, 0x81}));
}

}  // namespace
