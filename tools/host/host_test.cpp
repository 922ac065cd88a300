// Tests of the parts of kestrin-host that the soak's verdict rests on: the
// damage generator must stay inside its buffer and mix the stream's own
// packets in order, the Shift_JIS check must tell good texts from bad, and
// the PAT lookup must find the one-segment service without reading outside
// the packet.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "tools/host/soak_source.h"
#include "tools/host/stream_feeder.h"
#include "tools/host/window_capture.h"

namespace {

const uint32_t kPacket = 188;

// A stream whose packets say where they come from: bytes 4-7 hold the packet
// index. Every eighth packet is on an SI PID (EIT) so that the mutation of
// PSI/SI headers has something to work on.
std::vector<uint8_t> IndexedStream(uint32_t packets) {
    std::vector<uint8_t> s(packets * kPacket, 0xAA);
    for (uint32_t i = 0; i < packets; ++i) {
        uint8_t* p = &s[i * kPacket];
        const uint16_t pid = i % 8 == 0 ? 0x0012 : 0x0100;
        p[0] = 0x47;
        p[1] = static_cast<uint8_t>(pid >> 8);
        p[2] = static_cast<uint8_t>(pid & 0xFF);
        p[3] = static_cast<uint8_t>(0x10 | (i & 0x0F));
        std::memcpy(p + 4, &i, sizeof i);
    }
    return s;
}

uint32_t IndexOf(const uint8_t* p) {
    uint32_t i;
    std::memcpy(&i, p + 4, sizeof i);
    return i;
}

TEST(SoakSourceTest, BuffersStayInsideTheCapacityAndKeepTheirShape) {
    const std::vector<uint8_t> stream = IndexedStream(1000);
    const uint32_t kGuard = 64;
    std::vector<uint8_t> out(kSoakBufferCapacity + kGuard);
    uint64_t seen[kDamageKindCount] = {};
    for (uint64_t seed = 1; seed <= 20; ++seed) {
        SoakSource source(stream, seed);
        for (int n = 0; n < 2000; ++n) {
            std::memset(out.data() + kSoakBufferCapacity, 0x5A, kGuard);
            SoakDamage damage;
            const uint32_t length = source.Next(out.data(), &damage);
            ASSERT_LE(length, kSoakBufferCapacity);
            for (uint32_t g = 0; g < kGuard; ++g) ASSERT_EQ(out[kSoakBufferCapacity + g], 0x5A) << "wrote past the buffer";
            ASSERT_LT(damage, kDamageKindCount);
            ++seen[damage];
            switch (damage) {
                case kDamageWrongLength:
                    EXPECT_NE(length % kPacket, 0u);
                    break;
                case kDamageRandomBytes:
                    break;
                default:
                    EXPECT_EQ(length % kPacket, 0u) << SoakDamageName(damage);
                    EXPECT_GT(length, 0u) << SoakDamageName(damage);
                    break;
            }
            if (damage == kDamageNone) {
                // Clean buffers are the stream's packets, one after another.
                for (uint32_t at = kPacket; at < length; at += kPacket) {
                    ASSERT_EQ(IndexOf(&out[at]), (IndexOf(&out[at - kPacket]) + 1) % 1000);
                }
                ASSERT_EQ(std::memcmp(&out[0], &stream[IndexOf(&out[0]) * kPacket], kPacket), 0);
            }
        }
    }
    for (int k = 0; k < kDamageKindCount; ++k) EXPECT_GT(seen[k], 0u) << SoakDamageName(static_cast<SoakDamage>(k));
}

TEST(SoakSourceTest, SameSeedSameBuffersOtherSeedOtherBuffers) {
    const std::vector<uint8_t> stream = IndexedStream(300);
    SoakSource a(stream, 42), b(stream, 42), c(stream, 43);
    std::vector<uint8_t> x(kSoakBufferCapacity), y(kSoakBufferCapacity), z(kSoakBufferCapacity);
    bool differs = false;
    for (int n = 0; n < 200; ++n) {
        SoakDamage da, db, dc;
        const uint32_t la = a.Next(x.data(), &da);
        const uint32_t lb = b.Next(y.data(), &db);
        const uint32_t lc = c.Next(z.data(), &dc);
        ASSERT_EQ(la, lb);
        ASSERT_EQ(da, db);
        ASSERT_EQ(std::memcmp(x.data(), y.data(), la), 0);
        if (la != lc || da != dc || std::memcmp(x.data(), z.data(), la) != 0) differs = true;
    }
    EXPECT_TRUE(differs);
}

TEST(SoakSourceTest, OnePacketStreamWithoutSiStillWorks) {
    std::vector<uint8_t> stream(kPacket, 0);
    stream[0] = 0x47;
    stream[1] = 0x01;  // PID 0x0100: nothing to mutate as PSI/SI
    SoakSource source(stream, 5);
    std::vector<uint8_t> out(kSoakBufferCapacity);
    for (int n = 0; n < 500; ++n) {
        SoakDamage damage;
        ASSERT_LE(source.Next(out.data(), &damage), kSoakBufferCapacity);
    }
}

TEST(ShiftJisCheckTest, TellsWellFormedFromBroken) {
    const struct {
        const char* name;
        std::string text;
        bool ok;
        size_t badOffset;
    } cases[] = {
        {"empty", "", true, 0},
        {"ASCII", "22:00:00 - 22:45:00", true, 0},
        {"half-width katakana", "\xB1\xDF", true, 0},
        {"kanji and kana", "\x94\xD4\x91\x67\x8F\xEE\x95\xF1", true, 0},  // 番組情報
        {"user-defined area", "\xF0\x40\xF9\xFC", true, 0},
        {"highest lead and trail", "\xFC\xFC", true, 0},
        {"lead byte at the end", "ab\x82", false, 2},
        {"trail byte below 0x40", "\x82\x20", false, 0},
        {"trail byte 0x7F", "\x81\x7F", false, 0},
        {"trail byte above 0xFC", "a\x81\xFD", false, 1},
        {"0x80 alone", "a\x80", false, 1},
        {"0xA0 alone", "\xA0", false, 0},
        {"0xFF alone (a raw stream byte)", "S(\xFFpn)", false, 2},
    };
    for (const auto& c : cases) {
        size_t bad = 12345;
        EXPECT_EQ(IsWellFormedShiftJis(c.text, &bad), c.ok) << c.name;
        if (!c.ok) {
            EXPECT_EQ(bad, c.badOffset) << c.name;
        }
    }
}

// A PAT packet: programmes as (number, PMT PID) pairs; `declaredLength`
// overrides section_length when not 0.
std::vector<uint8_t> PatPacket(const std::vector<std::pair<uint16_t, uint16_t>>& programmes,
                               uint16_t declaredLength = 0, uint8_t pointer = 0) {
    std::vector<uint8_t> p(kPacket, 0xFF);
    p[0] = 0x47;
    p[1] = 0x40;  // payload_unit_start_indicator, PID 0
    p[2] = 0x00;
    p[3] = 0x10;
    p[4] = pointer;
    size_t at = 5 + pointer;
    if (at + 8 > kPacket) return p;
    const uint16_t length = declaredLength != 0 ? declaredLength : static_cast<uint16_t>(5 + 4 * programmes.size() + 4);
    const uint8_t header[8] = {0x00, static_cast<uint8_t>(0xB0 | (length >> 8)), static_cast<uint8_t>(length & 0xFF),
                               0x7F, 0xE0, 0xC1, 0x00, 0x00};
    std::memcpy(&p[at], header, 8);
    at += 8;
    for (const auto& e : programmes) {
        if (at + 4 > kPacket) break;
        p[at++] = static_cast<uint8_t>(e.first >> 8);
        p[at++] = static_cast<uint8_t>(e.first & 0xFF);
        p[at++] = static_cast<uint8_t>(0xE0 | (e.second >> 8));
        p[at++] = static_cast<uint8_t>(e.second & 0xFF);
    }
    return p;
}

TEST(FindOneSegServiceTest, FindsTheProgrammeOfPmtPid1FC8) {
    const std::vector<std::pair<uint16_t, uint16_t>> multiplex = {
        {0x0000, 0x0010}, {0x0400, 0x0101}, {0x0401, 0x0102}, {0x0588, 0x1FC8}};
    // Forty-two programmes before it: the one-segment entry is the last
    // whole one in the packet (bytes 181-184).
    std::vector<std::pair<uint16_t, uint16_t>> crowded;
    for (uint16_t i = 1; i <= 42; ++i) crowded.push_back({i, 0x0100});
    crowded.push_back({0x0588, 0x1FC8});
    const struct {
        const char* name;
        std::vector<uint8_t> packet;
        int32_t service;
    } cases[] = {
        {"the sample's PAT", PatPacket(multiplex), 0x0588},
        {"network PID entry (programme 0) on 0x1FC8 is no service", PatPacket({{0x0000, 0x1FC8}}), -1},
        {"no one-segment PMT", PatPacket({{0x0400, 0x0101}}), -1},
        {"section_length beyond the packet", PatPacket(multiplex, 0x3FF), 0x0588},
        {"last whole entry of a full packet", PatPacket(crowded, 0x3FF), 0x0588},
        {"section_length too short for any entry", PatPacket(multiplex, 9), -1},
        {"pointer_field beyond the packet", PatPacket(multiplex, 0, 200), -1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FindOneSegService(c.packet), c.service) << c.name;
    }
    std::vector<uint8_t> adaptation = PatPacket(multiplex);
    adaptation[3] = 0x30;  // adaptation field and payload
    adaptation[4] = 183;   // fills the packet: no payload left
    EXPECT_EQ(FindOneSegService(adaptation), -1);
    EXPECT_EQ(FindOneSegService(std::vector<uint8_t>()), -1);
    // A partial packet at the end is not read.
    std::vector<uint8_t> partial = PatPacket(multiplex);
    partial.resize(100);
    EXPECT_EQ(FindOneSegService(partial), -1);
}

}  // namespace
