// CRC-32/MPEG-2, the one-segment PMT parse and the rewritten PAT.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <vector>

#include "tests/support/real_data.h"
#include "plugin/plugin_core.h"
#include "plugin/plugin_state.h"
#include "plugin/recorder.h"
#include "plugin/router.h"
#include "plugin/section_handover.h"
#include "tests/support/test_plugin.h"
#include "tools/streamkit/stream_builder.h"
#include "ts/crc32.h"
#include "ts/programme_map.h"
#include "ui/channel_buttons.h"
#include "ui/viewer.h"

namespace {

using build::Bytes;

// The six real packets: PAT, PMT (2 packets, PID 0x0101), SDT (2 packets), NIT.
std::vector<Bytes> RealPackets() {
    const Bytes all = ReadRealData("tokyo-mx-psi.ts");
    std::vector<Bytes> packets;
    for (size_t o = 0; o + 188 <= all.size(); o += 188) packets.emplace_back(all.begin() + o, all.begin() + o + 188);
    return packets;
}

// A section carried from the start of the first packet's payload (pointer 0,
// no adaptation field) through the following packets' payloads.
Bytes RealSection(const std::vector<Bytes>& packets, size_t first, size_t count) {
    Bytes data(packets[first].begin() + 5, packets[first].end());
    for (size_t i = first + 1; i < first + count; ++i) data.insert(data.end(), packets[i].begin() + 4, packets[i].end());
    const size_t size = static_cast<size_t>(((data[1] & 0x0F) << 8) | data[2]) + 3;
    data.resize(size);
    return data;
}

// Bit by bit, straight from the polynomial: an oracle independent of the table.
uint32_t BitwiseCrc(const uint8_t* data, size_t size) {
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < size; ++i) {
        for (int bit = 7; bit >= 0; --bit) {
            const bool in = ((data[i] >> bit) & 1) != 0;
            const bool top = (crc & 0x80000000u) != 0;
            crc <<= 1;
            if (in != top) crc ^= 0x04C11DB7u;
        }
    }
    return crc;
}

TEST(Crc32Mpeg2, MatchesTheCatalogueCheckValueAndABitwiseOracle) {
    const char* check = "123456789";
    EXPECT_EQ(Crc32Mpeg2(reinterpret_cast<const uint8_t*>(check), 9), 0x0376E6E7u);
    EXPECT_EQ(Crc32Mpeg2(nullptr, 0), 0xFFFFFFFFu);
    std::mt19937 rng(7);
    for (size_t size : {1u, 2u, 16u, 183u, 4098u}) {
        Bytes data(size);
        for (uint8_t& b : data) b = static_cast<uint8_t>(rng());
        EXPECT_EQ(Crc32Mpeg2(data.data(), size), BitwiseCrc(data.data(), size)) << size;
    }
}

TEST(Crc32Mpeg2, RealSectionsRunThroughWithTheirCrcGiveZero) {
    const std::vector<Bytes> p = RealPackets();
    ASSERT_EQ(p.size(), 6u);
    const Bytes sections[] = {RealSection(p, 0, 1), RealSection(p, 1, 2), RealSection(p, 3, 2), RealSection(p, 5, 1)};
    const uint8_t tableIds[] = {0x00, 0x02, 0x42, 0x40};
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(sections[i][0], tableIds[i]);
        EXPECT_EQ(Crc32Mpeg2(sections[i].data(), sections[i].size()), 0u) << i;
        // One flipped bit anywhere is caught.
        Bytes damaged = sections[i];
        damaged[damaged.size() / 2] ^= 0x10;
        EXPECT_NE(Crc32Mpeg2(damaged.data(), damaged.size()), 0u) << i;
    }
}

// --- ParsePmt ----------------------------------------------------------------------

// An exactly sized heap copy, so that AddressSanitizer sees any read past it.
int32_t Parse(const Bytes& section, EsPidTable& table, uint16_t& programNumber) {
    std::unique_ptr<uint8_t[]> copy(new uint8_t[section.size()]);
    std::memcpy(copy.get(), section.data(), section.size());
    return ParsePmt(copy.get(), static_cast<int32_t>(section.size()), table, programNumber);
}

EsPidTable FreshTable() {
    EsPidTable t;
    for (EsPidEntry& e : t.entries) {
        e.pid = 0x1234;
        e.streamType = -7;
    }
    t.count = 0;
    return t;
}

TEST(ParsePmt, ReadsPcrAndStreamsInLoopOrder) {
    const Bytes pmt = build::PmtSection(0x5DB8, 0x01FF, Bytes(6, 0xAA),
                                        {{0x1B, 0x0181, Bytes(3, 0x52)}, {0x0F, 0x0183, Bytes()}});
    EsPidTable t = FreshTable();
    uint16_t programNumber = 0;
    ASSERT_EQ(Parse(pmt, t, programNumber), 3);
    EXPECT_EQ(programNumber, 0x5DB8);
    EXPECT_EQ(t.entries[0].pid, 0x01FF);
    EXPECT_EQ(t.entries[0].streamType, 0);
    EXPECT_EQ(t.entries[1].pid, 0x0181);
    EXPECT_EQ(t.entries[1].streamType, 0x1B);
    EXPECT_EQ(t.entries[2].pid, 0x0183);
    EXPECT_EQ(t.entries[2].streamType, 0x0F);
    EXPECT_EQ(t.entries[3].pid, 0x1234);  // beyond the count: untouched
}

TEST(ParsePmt, RealPmtOfTwelveEntries) {
    const std::vector<Bytes> p = RealPackets();
    ASSERT_EQ(p.size(), 6u);
    EsPidTable t = FreshTable();
    uint16_t programNumber = 0;
    ASSERT_EQ(Parse(RealSection(p, 1, 2), t, programNumber), 12);
    EXPECT_EQ(programNumber, 0x5C38);
    const uint16_t pids[] = {0x0100, 0x0121, 0x0112, 0x0740, 0x0750, 0x0751,
                             0x0752, 0x0960, 0x0961, 0x075E, 0x075F, 0x096E};
    const int32_t types[] = {0, 0x02, 0x0F, 0x0D, 0x0D, 0x0D, 0x0D, 0x0D, 0x0D, 0x0D, 0x0D, 0x0D};
    for (int i = 0; i < 12; ++i) {
        EXPECT_EQ(t.entries[i].pid, pids[i]) << i;
        EXPECT_EQ(t.entries[i].streamType, types[i]) << i;
    }
}

// Sections whose lengths are short, contradictory or too many for the table.
struct PmtCase {
    const char* name;
    Bytes section;
    int32_t count;
    uint16_t lastPid;  // pid of entry count-1
};

Bytes WithoutCrc(const Bytes& section) { return Bytes(section.begin(), section.end() - 4); }

std::vector<PmtCase> PmtCases() {
    std::vector<PmtCase> cases;
    // section_length 14, program_info_length 1: four bytes remain, the CRC.
    cases.push_back({"OnlyPcr", build::PmtSection(1, 0x0100, Bytes(1, 0x09), {}), 1, 0x0100});
    std::vector<build::PmtStream> many;
    for (uint16_t i = 0; i < 20; ++i) many.push_back({0x0D, static_cast<uint16_t>(0x0200 + i), Bytes()});
    // 20 streams: the PCR PID and the first 16 streams are kept.
    cases.push_back({"MoreStreamsThanTheTableHolds", build::PmtSection(1, 0x0100, Bytes(), many), 17, 0x020F});
    // program_info_length 0xFFF runs past the section: no stream is read.
    Bytes longInfo = build::PmtSection(1, 0x0100, Bytes(), {{0x1B, 0x0181, Bytes()}});
    longInfo[10] = 0xFF;
    longInfo[11] = 0xFF;
    cases.push_back({"ProgramInfoPastTheEnd", longInfo, 1, 0x0100});
    // The first ES_info_length runs past the CRC_32: that entry's head is
    // inside and kept, the loop ends there.
    Bytes longEsInfo = build::PmtSection(1, 0x0100, Bytes(), {{0x1B, 0x0181, Bytes()}, {0x0F, 0x0183, Bytes()}});
    longEsInfo[15] = 0xF0;
    longEsInfo[16] = 0xFF;
    cases.push_back({"EsInfoPastTheEnd", longEsInfo, 2, 0x0181});
    // Three bytes of an entry before the CRC_32: the entry does not fit.
    Bytes partial = WithoutCrc(build::PmtSection(1, 0x0100, Bytes(), {{0x1B, 0x0181, Bytes()}}));
    partial.insert(partial.end(), {0x0F, 0xE1, 0x83});
    cases.push_back({"PartialEntryBeforeCrc", build::Seal(partial), 2, 0x0181});
    // An entry that ends exactly at the CRC_32 is taken.
    cases.push_back({"EntryEndingAtCrc", build::PmtSection(1, 0x0100, Bytes(), {{0x0F, 0x0183, Bytes()}}), 2, 0x0183});
    return cases;
}

TEST(ParsePmt, LengthsNeverLeadOutsideTheSection) {
    for (const PmtCase& c : PmtCases()) {
        SCOPED_TRACE(c.name);
        EsPidTable t = FreshTable();
        uint16_t programNumber = 0;
        ASSERT_EQ(Parse(c.section, t, programNumber), c.count);
        EXPECT_EQ(t.entries[c.count - 1].pid, c.lastPid);
    }
}

TEST(ParsePmt, NotAPmtLeavesTheTableAlone) {
    Bytes notPmt = build::PmtSection(7, 0x0100, Bytes(), {{0x1B, 0x0181, Bytes()}});
    notPmt[0] = 0x42;
    EsPidTable t = FreshTable();
    uint16_t programNumber = 99;
    EXPECT_EQ(Parse(notPmt, t, programNumber), 0);
    EXPECT_EQ(programNumber, 99);
    EXPECT_EQ(t.entries[0].pid, 0x1234);
    // Too short for the fixed fields and a CRC_32.
    EXPECT_EQ(Parse(Bytes{0x02, 0xB0, 0x0C, 0, 1, 0xC1, 0, 0, 0xE1, 0, 0xF0, 0, 0, 0, 0}, t, programNumber), 0);
    EXPECT_EQ(t.entries[0].pid, 0x1234);
}

// --- UpdateProgrammeMap through the router -------------------------------------------

class ProgrammeMapTest : public ::testing::Test {
protected:
    TestPlugin t;
    build::StreamBuilder sb;

    void Route(const Bytes& stream) { RoutePackets(t.s(), stream.data(), static_cast<uint32_t>(stream.size())); }
    void RoutePmt(const Bytes& section) { Route(sb.Stream(0x1FC8, {section})); }
};

TEST_F(ProgrammeMapTest, SamePmtIsParsedOnceAndAgainAfterAServiceChange) {
    const Bytes pmt = build::PmtSection(0x5DB8, 0x01FF, Bytes(), {{0x1B, 0x0181, Bytes()}, {0x0F, 0x0183, Bytes()}});
    RoutePmt(pmt);
    ASSERT_EQ(t.s().esPidTable.count, 3);
    EXPECT_EQ(t.s().programNumber, 0x5DB8);
    const uint32_t key = (uint32_t(pmt[pmt.size() - 4]) << 24) | (pmt[pmt.size() - 3] << 16) |
                         (pmt[pmt.size() - 2] << 8) | pmt[pmt.size() - 1];
    EXPECT_EQ(t.s().pmtKey, key);

    // A mark in the table shows whether the next copy is parsed.
    t.s().esPidTable.entries[1].pid = 0x0999;
    RoutePmt(pmt);
    EXPECT_EQ(t.s().esPidTable.entries[1].pid, 0x0999);

    PluginOnChannelChange(t.s(), 27, 0x5DB9);
    EXPECT_EQ(t.s().esPidTable.count, 0);
    EXPECT_EQ(t.s().programNumber, 0x5DB8);  // kept until the next PMT
    RoutePmt(pmt);
    EXPECT_EQ(t.s().esPidTable.count, 3);
    EXPECT_EQ(t.s().esPidTable.entries[1].pid, 0x0181);
}

TEST_F(ProgrammeMapTest, ChangedPmtOverwritesFromEntryZero) {
    RoutePmt(build::PmtSection(1, 0x01FF, Bytes(), {{0x1B, 0x0181, Bytes()}, {0x0F, 0x0183, Bytes()}}, 0));
    RoutePmt(build::PmtSection(2, 0x0101, Bytes(), {{0x0F, 0x0185, Bytes()}}, 1));
    EXPECT_EQ(t.s().esPidTable.count, 2);
    EXPECT_EQ(t.s().programNumber, 2);
    EXPECT_EQ(t.s().esPidTable.entries[0].pid, 0x0101);
    EXPECT_EQ(t.s().esPidTable.entries[1].pid, 0x0185);
}

TEST_F(ProgrammeMapTest, PmtWhoseCrcFieldIsZeroIsNeverParsedWhileTheKeyIsZero) {
    Bytes pmt = build::PmtSection(1, 0x01FF, Bytes(), {{0x1B, 0x0181, Bytes()}});
    for (size_t i = pmt.size() - 4; i < pmt.size(); ++i) pmt[i] = 0;
    RoutePmt(pmt);
    EXPECT_EQ(t.s().esPidTable.count, 0);
    EXPECT_EQ(t.s().pmtKey, 0u);
}

TEST_F(ProgrammeMapTest, RealPmtOnTheOneSegPidFillsTheTable) {
    std::vector<Bytes> p = RealPackets();
    ASSERT_EQ(p.size(), 6u);
    for (int i : {1, 2}) {
        p[i][1] = static_cast<uint8_t>((p[i][1] & 0xE0) | 0x1F);
        p[i][2] = 0xC8;
        Route(p[i]);
    }
    EXPECT_EQ(t.s().esPidTable.count, 12);
    EXPECT_EQ(t.s().programNumber, 0x5C38);
}

// --- The rewritten PAT ----------------------------------------------------------------

// A PAT packet: header, optional adaptation field, pointer_field, the
// section, then a pattern (not stuffing) so that a change behind it shows.
Bytes PatPacket(const Bytes& section, int adaptation, uint8_t pointer, bool pusi = true) {
    Bytes payload(1, pointer);
    payload.insert(payload.end(), pointer, 0x3C);
    payload.insert(payload.end(), section.begin(), section.end());
    payload.resize(188, 0x5A);
    return build::MakePacket(0x0000, pusi, 9, payload, adaptation);
}

const std::vector<build::PatProgram> kThreeProgrammes = {{0, 0x0010}, {0x5DB8, 0x1FC8}, {0x5C38, 0x0101}};

bool Rewrite(const Bytes& packet, uint16_t programNumber, Bytes& out) {
    out.assign(188, 0);
    return RewritePatPacket(packet.data(), programNumber, out.data());
}

TEST(RewritePat, ThreeProgrammesBecomeOneWithStuffingBehind) {
    const Bytes pat = build::PatSection(0x7FE8, kThreeProgrammes, 5);
    ASSERT_EQ(pat.size(), 24u);
    const Bytes in = PatPacket(pat, build::kNoAdaptationField, 0);
    Bytes out;
    ASSERT_TRUE(Rewrite(in, 0x5DB8, out));
    const uint8_t expectedHead[16] = {0x00, 0xB0, 0x11, 0x7F, 0xE8, pat[5], 0x00, 0x00,
                                      0x00, 0x00, 0xE0, 0x10, 0x5D, 0xB8, 0xFF, 0xC8};
    EXPECT_EQ(Bytes(out.begin() + 5, out.begin() + 21), Bytes(expectedHead, expectedHead + 16));
    EXPECT_EQ(Crc32Mpeg2(out.data() + 5, 20), 0u);
    EXPECT_EQ(Bytes(out.begin() + 25, out.begin() + 29), Bytes(4, 0xFF));
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 5), Bytes(in.begin(), in.begin() + 5));
    EXPECT_EQ(Bytes(out.begin() + 29, out.end()), Bytes(in.begin() + 29, in.end()));
}

TEST(RewritePat, ShortSectionGrowsOverWhatFollowsIt) {
    const Bytes pat = build::PatSection(1, {{0x5DB8, 0x1FC8}});
    ASSERT_EQ(pat.size(), 16u);
    const Bytes in = PatPacket(pat, 3, 2);  // s = 6 + 3 + 2 = 11
    Bytes out;
    ASSERT_TRUE(Rewrite(in, 0x0400, out));
    EXPECT_EQ(out[11 + 2], 0x11);
    EXPECT_EQ(out[11 + 12], 0x04);
    EXPECT_EQ(Crc32Mpeg2(out.data() + 11, 20), 0u);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 11), Bytes(in.begin(), in.begin() + 11));
    EXPECT_EQ(Bytes(out.begin() + 31, out.end()), Bytes(in.begin() + 31, in.end()));
}

TEST(RewritePat, RealPatKeepsItsHeaderFields) {
    const std::vector<Bytes> p = RealPackets();
    ASSERT_EQ(p.size(), 6u);
    const Bytes& in = p[0];
    Bytes out;
    ASSERT_TRUE(Rewrite(in, 0x5DB8, out));
    const uint8_t expected[] = {0x00, 0xB0, 0x11, 0x7E, 0x87, 0xD9, 0x00, 0x00,
                                0x00, 0x00, 0xE0, 0x10, 0x5D, 0xB8, 0xFF, 0xC8};
    EXPECT_EQ(Bytes(out.begin() + 5, out.begin() + 21), Bytes(expected, expected + 16));
    EXPECT_EQ(Crc32Mpeg2(out.data() + 5, 20), 0u);
    EXPECT_EQ(Bytes(out.begin() + 25, out.begin() + 37), Bytes(12, 0xFF));  // old section's end at 37
    EXPECT_EQ(Bytes(out.begin() + 37, out.end()), Bytes(in.begin() + 37, in.end()));
}

struct PatPlacement {
    const char* name;
    size_t programmes;  // section of 12 + 4 * programmes bytes
    int adaptation;
    uint8_t pointer;
    bool written;
};

TEST(RewritePat, WrittenOnlyWhenBothSectionsLieInsideThePacket) {
    const PatPlacement cases[] = {
        {"StartAt5", 3, build::kNoAdaptationField, 0, true},
        {"AfterAdaptationField", 3, 10, 3, true},  // s = 19
        {"OldSectionEndsAt186", 3, build::kNoAdaptationField, 158, true},      // s = 163
        {"OldSectionEndsAtTheLastByte", 3, build::kNoAdaptationField, 159, false},  // s = 164
        {"NewSectionEndsAtTheLastByte", 1, build::kNoAdaptationField, 163, true},   // s = 168
        {"NewSectionWouldRunPastThePacket", 1, build::kNoAdaptationField, 165, false},  // s = 170
    };
    for (const PatPlacement& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<build::PatProgram> programmes(kThreeProgrammes.begin(), kThreeProgrammes.begin() + c.programmes);
        const Bytes in = PatPacket(build::PatSection(1, programmes), c.adaptation, c.pointer);
        Bytes out;
        EXPECT_EQ(Rewrite(in, 0x5DB8, out), c.written);
        if (c.written) {
            const size_t s = (c.adaptation >= 0 ? 6 + c.adaptation : 5) + c.pointer;
            EXPECT_EQ(Crc32Mpeg2(out.data() + s, 20), 0u);
        }
    }
}

TEST(RewritePat, PacketsThatAreNotWritten) {
    const Bytes pat = build::PatSection(1, kThreeProgrammes);
    Bytes notPat = pat;
    notPat[0] = 0x02;
    Bytes pointerPastEnd = PatPacket(pat, build::kNoAdaptationField, 0);
    pointerPastEnd[4] = 200;
    Bytes startAtLastByte = PatPacket(pat, build::kNoAdaptationField, 0);
    startAtLastByte[4] = 182;  // s = 187
    startAtLastByte[187] = 0x00;
    const Bytes cases[] = {
        PatPacket(pat, build::kNoAdaptationField, 0, false),  // no PUSI
        PatPacket(notPat, build::kNoAdaptationField, 0),
        pointerPastEnd,
        startAtLastByte,
        build::MakePacket(0x0000, true, 0, Bytes(), 183),  // adaptation field only
        build::MakePacket(0x0000, true, 0, Bytes(), 230),  // adaptation_field_length past the packet
    };
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        std::unique_ptr<uint8_t[]> exact(new uint8_t[188]);
        std::memcpy(exact.get(), cases[i].data(), 188);
        uint8_t out[188];
        EXPECT_FALSE(RewritePatPacket(exact.get(), 1, out)) << i;
    }
}

TEST_F(ProgrammeMapTest, RecordingGetsThePatOfTheParsedProgramme) {
    t.s().recordingFile = t.platform.CreateRecordingFile("C:\\rec.ts");
    t.s().recording = true;
    RoutePmt(build::PmtSection(0x5DB8, 0x01FF, Bytes(), {{0x1B, 0x0181, Bytes()}}));
    const Bytes pat = PatPacket(build::PatSection(0x7FE8, kThreeProgrammes), build::kNoAdaptationField, 0);
    Route(build::Cat({pat, PatPacket(build::PatSection(0x7FE8, kThreeProgrammes), build::kNoAdaptationField, 0, false)}));
    const Bytes& file = t.platform.files["C:\\rec.ts"];
    ASSERT_EQ(file.size(), 2u * 188);  // the PMT packet and one rewritten PAT
    const Bytes written(file.begin() + 188, file.end());
    Bytes expected;
    ASSERT_TRUE(Rewrite(pat, 0x5DB8, expected));
    EXPECT_EQ(written, expected);
    EXPECT_EQ(written[3], pat[3]);  // continuity_counter as received
}

}  // namespace
