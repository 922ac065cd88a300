// PES reassembly from the packets of one PID, the PES header and PTS, and
// the caption PES layout.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "tools/streamkit/caption_builder.h"
#include "tools/streamkit/stream_builder.h"
#include "ts/pes_assembler.h"

namespace {

using build::Bytes;

const uint16_t kPid = 0x0130;

struct Fed {
    std::vector<PesResult> results;
    std::vector<Bytes> completed;
};

Fed Feed(PesAssembler& a, const std::vector<Bytes>& packets) {
    Fed f;
    for (const Bytes& p : packets) {
        const PesResult r = AssemblePes(a, p.data());
        f.results.push_back(r);
        if (r == PesResult::kComplete) f.completed.push_back(Bytes(a.buffer, a.buffer + a.packetSize));
    }
    return f;
}

std::unique_ptr<PesAssembler> NewAssembler() {
    std::unique_ptr<PesAssembler> a(new PesAssembler);
    ResetPesAssembler(*a, kPid);
    return a;
}

Bytes Pes(size_t payloadSize, uint64_t pts = 0x123456789ull) {
    Bytes payload(payloadSize);
    for (size_t i = 0; i < payloadSize; ++i) payload[i] = static_cast<uint8_t>(i * 7 + 1);
    return build::PesPacketWithPts(pts, payload);
}

void SetCounter(Bytes& packet, uint8_t counter) {
    packet[3] = static_cast<uint8_t>((packet[3] & 0xF0) | (counter & 0x0F));
}

TEST(PesAssembler, CollectsPesPacketsOfOneAndOfManyTsPackets) {
    for (size_t size : {10u, 170u, 171u, 184u, 500u, 3000u, 65535u - 8u}) {
        SCOPED_TRACE(size);
        build::StreamBuilder b;
        const Bytes pes = Pes(size);
        auto a = NewAssembler();
        const Fed f = Feed(*a, build::PesPackets(b, kPid, pes));
        ASSERT_EQ(f.completed.size(), 1u);
        EXPECT_EQ(f.completed[0], pes);  // the 0xFF behind it in its last packet is not part of it
        EXPECT_EQ(f.results.back(), PesResult::kComplete);
    }
}

TEST(PesAssembler, BreaksAndRestarts) {
    struct Case {
        const char* name;
        void (*spoil)(std::vector<Bytes>& packets);
        std::vector<PesResult> expected;
    };
    const Case cases[] = {
        {"counter skips", [](std::vector<Bytes>& p) { SetCounter(p[1], 5); },
         {PesResult::kNothing, PesResult::kBreak, PesResult::kNothing}},
        {"repeated packet", [](std::vector<Bytes>& p) { p.insert(p.begin() + 1, p[0]); },
         // The repeat starts the PES packet anew (PUSI); the next packet
         // then continues it.
         {PesResult::kNothing, PesResult::kNothing, PesResult::kNothing, PesResult::kComplete}},
        {"repeated continuation", [](std::vector<Bytes>& p) { p.insert(p.begin() + 2, p[1]); },
         {PesResult::kNothing, PesResult::kNothing, PesResult::kBreak, PesResult::kNothing}},
        {"transport error", [](std::vector<Bytes>& p) { p[1][1] |= 0x80; },
         {PesResult::kNothing, PesResult::kBreak, PesResult::kNothing}},
        {"first packet lost", [](std::vector<Bytes>& p) { p.erase(p.begin()); },
         {PesResult::kNothing, PesResult::kNothing}},
        {"other PID", [](std::vector<Bytes>& p) { p[1][2] = static_cast<uint8_t>(p[1][2] + 1); },
         {PesResult::kNothing, PesResult::kNothing, PesResult::kBreak}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        build::StreamBuilder b;
        std::vector<Bytes> packets = build::PesPackets(b, kPid, Pes(400));
        ASSERT_EQ(packets.size(), 3u);
        c.spoil(packets);
        auto a = NewAssembler();
        EXPECT_EQ(Feed(*a, packets).results, c.expected);
        // The next PES packet is collected whatever came before.
        b.SetCounter(kPid, static_cast<uint8_t>(packets.back()[3] + 1));
        EXPECT_EQ(Feed(*a, build::PesPackets(b, kPid, Pes(20))).completed.size(), 1u);
    }
}

TEST(PesAssembler, AnUnfinishedPesPacketGivesWayToTheNextStart) {
    build::StreamBuilder b;
    std::vector<Bytes> first = build::PesPackets(b, kPid, Pes(400));
    first.pop_back();
    std::vector<Bytes> second = build::PesPackets(b, kPid, Pes(30, 90000));
    auto a = NewAssembler();
    first.insert(first.end(), second.begin(), second.end());
    const Fed f = Feed(*a, first);
    ASSERT_EQ(f.completed.size(), 1u);
    EXPECT_EQ(f.completed[0], Pes(30, 90000));
}

TEST(PesAssembler, RefusesWhatIsNoBoundedPesPacket) {
    const Bytes cases[] = {
        {0x00, 0x00, 0x02, 0xBD, 0x00, 0x04, 1, 2, 3, 4},  // no start code
        {0x00, 0x00, 0x01, 0xE0, 0x00, 0x00, 0x80, 0x80},  // PES_packet_length 0 (unbounded video)
    };
    for (const Bytes& pes : cases) {
        build::StreamBuilder b;
        auto a = NewAssembler();
        std::vector<Bytes> packets = build::PesPackets(b, kPid, pes);
        packets.push_back(b.Packet(kPid, false, Bytes(184, 0)));
        const Fed f = Feed(*a, packets);
        EXPECT_TRUE(f.completed.empty());
    }
}

TEST(PesAssembler, PacketsWithoutPayloadOrWithAFullAdaptationFieldAreSkipped) {
    build::StreamBuilder b;
    const Bytes pes = Pes(300);
    std::vector<Bytes> packets = build::PesPackets(b, kPid, pes);
    // An adaptation-field-only packet between the two: its counter repeats.
    packets.insert(packets.begin() + 1, b.Packet(kPid, false, Bytes(), 183));
    auto a = NewAssembler();
    const Fed f = Feed(*a, packets);
    ASSERT_EQ(f.completed.size(), 1u);
    EXPECT_EQ(f.completed[0], pes);
}

TEST(ParsePesPacket, ReadsThePtsAndThePayload) {
    const Bytes payload = {0x80, 0xFF, 0xF0, 1, 2, 3};
    for (uint64_t pts : {0ull, 1ull, 90000ull, 0x1FFFFFFFFull, 0x100000000ull}) {
        const Bytes pes = build::PesPacketWithPts(pts, payload);
        PesPacket p;
        ASSERT_TRUE(ParsePesPacket(pes.data(), static_cast<int32_t>(pes.size()), &p));
        EXPECT_EQ(p.streamId, kPrivateStream1);
        EXPECT_TRUE(p.hasPts);
        EXPECT_EQ(p.pts, pts);
        EXPECT_EQ(Bytes(p.payload, p.payload + p.payloadSize), payload);
    }
}

TEST(ParsePesPacket, RefusesCutOrMalformedHeaders) {
    const Bytes good = build::PesPacketWithPts(1234, {0x80, 0xFF, 0xF0});
    struct Case {
        const char* name;
        Bytes bytes;
    };
    Bytes longHeader = good;
    longHeader[8] = 0x40;  // PES_header_data_length past the packet
    Bytes badMarker = good;
    badMarker[6] = 0x00;   // '10' missing
    Bytes shortLength = good;
    shortLength[5] = 4;    // PES_packet_length shorter than the header
    const Case cases[] = {
        {"empty", {}},
        {"cut in the length", Bytes(good.begin(), good.begin() + 5)},
        {"length past the data", Bytes(good.begin(), good.end() - 1)},
        {"header data past the packet", longHeader},
        {"no marker bits", badMarker},
        {"PTS past the header", shortLength},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PesPacket p;
        EXPECT_FALSE(ParsePesPacket(c.bytes.data(), static_cast<int32_t>(c.bytes.size()), &p));
        EXPECT_EQ(p.payload, nullptr);
    }
}

TEST(ParseCaptionPesData, FindsTheDataGroupBehindTheHeader) {
    struct Case {
        Bytes payload;
        bool ok;
        int32_t groupOffset;
    };
    const Case cases[] = {
        {{0x80, 0xFF, 0xF0, 0xAA}, true, 3},
        {{0x81, 0xFF, 0xF2, 0x11, 0x22, 0xAA}, true, 5},  // asynchronous, two header bytes
        {{0x80, 0xFF, 0xF4, 0x11}, false, 0},             // header past the end
        {{0x82, 0xFF, 0xF0, 0xAA}, false, 0},             // not caption data
        {{0x80, 0xFE, 0xF0, 0xAA}, false, 0},             // private_stream_id
        {{0x80, 0xFF}, false, 0},
    };
    for (const Case& c : cases) {
        CaptionPesData d;
        EXPECT_EQ(ParseCaptionPesData(c.payload.data(), static_cast<int32_t>(c.payload.size()), &d), c.ok);
        if (c.ok) {
            EXPECT_EQ(d.dataGroup, c.payload.data() + c.groupOffset);
            EXPECT_EQ(d.dataGroupSize, static_cast<int32_t>(c.payload.size()) - c.groupOffset);
        }
    }
}

}  // namespace
