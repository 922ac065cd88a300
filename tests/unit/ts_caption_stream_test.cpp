// Finding the caption stream in a PMT by component tag, and a service's PMT
// PID in the PAT.
#include <gtest/gtest.h>

#include "tools/streamkit/stream_builder.h"
#include "ts/caption_stream.h"

namespace {

using build::Bytes;

Bytes Tag(uint8_t componentTag) { return build::Descriptor(kStreamIdentifierDescriptorTag, {componentTag}); }

int32_t Find(const Bytes& section, uint8_t tag) {
    return FindCaptionPid(section.data(), static_cast<int32_t>(section.size()), tag);
}

TEST(CaptionStream, FindsTheStreamByComponentTagAndStreamType) {
    const Bytes other = build::ComponentDescriptor(1, 0xB3, 0x00);
    struct Case {
        const char* name;
        std::vector<build::PmtStream> streams;
        uint8_t tag;
        int32_t pid;
    };
    const Case cases[] = {
        {"one-segment caption", {{0x1B, 0x0181, Tag(0x81)}, {0x0F, 0x0183, Tag(0x83)}, {0x06, 0x0187, Tag(0x87)}},
         0x87, 0x0187},
        {"full-segment caption", {{0x02, 0x0111, Tag(0x00)}, {0x06, 0x0130, Tag(0x30)}, {0x06, 0x0138, Tag(0x38)}},
         0x30, 0x0130},
        {"tag behind another descriptor", {{0x06, 0x0140, build::Cat({other, Tag(0x30)})}}, 0x30, 0x0140},
        {"right tag, not PES private data", {{0x0D, 0x0150, Tag(0x30)}, {0x06, 0x0151, Tag(0x30)}}, 0x30, 0x0151},
        {"second caption component only", {{0x06, 0x0131, Tag(0x31)}}, 0x30, kNoPid},
        {"no stream identifier descriptor", {{0x06, 0x0130, other}}, 0x30, kNoPid},
        {"profile A tag asked in a profile C map", {{0x06, 0x0187, Tag(0x87)}}, 0x30, kNoPid},
        {"no streams", {}, 0x87, kNoPid},
    };
    for (const Case& c : cases) {
        const Bytes pmt = build::PmtSection(0x0408, 0x01FF, Bytes(), c.streams);
        EXPECT_EQ(Find(pmt, c.tag), c.pid) << c.name;
    }
}

TEST(CaptionStream, LengthsFromTheStreamNeverLeadOutOfTheSection) {
    // ES_info_length that overruns the section, a descriptor_length that
    // overruns its ES_info, a cut section: the search ends, nothing is read
    // past the bytes given (ASan watches the exact-size copies).
    Bytes pmt = build::PmtSection(0x0408, 0x01FF, Bytes(), {{0x06, 0x0187, Tag(0x87)}});
    EXPECT_EQ(Find(pmt, 0x87), 0x0187);

    Bytes esInfoTooLong = pmt;
    esInfoTooLong[12 + 3] = 0xFF;  // ES_info_length 0xFFF
    esInfoTooLong[12 + 4] = 0xFF;
    build::Reseal(esInfoTooLong);
    EXPECT_EQ(Find(esInfoTooLong, 0x87), 0x0187);  // the descriptor itself is whole

    Bytes descriptorTooLong = pmt;
    descriptorTooLong[12 + 5 + 1] = 0xFF;  // descriptor_length 255 in 3 bytes of ES_info
    build::Reseal(descriptorTooLong);
    EXPECT_EQ(Find(descriptorTooLong, 0x87), 0x0187);  // its first byte is there

    Bytes emptyDescriptor = build::PmtSection(0x0408, 0x01FF, Bytes(), {{0x06, 0x0187, {0x52, 0x00}}});
    EXPECT_EQ(Find(emptyDescriptor, 0x00), kNoPid);

    for (size_t cut = 0; cut < pmt.size(); ++cut) {
        const Bytes part(pmt.begin(), pmt.begin() + static_cast<long>(cut));
        // Whatever is cut, the last four bytes are taken for the CRC_32, so
        // the stream's descriptor is never whole in a shorter section.
        EXPECT_EQ(FindCaptionPid(part.empty() ? nullptr : part.data(), static_cast<int32_t>(cut), 0x87), kNoPid)
            << cut;
    }
    Bytes notPmt = pmt;
    notPmt[0] = 0x00;
    EXPECT_EQ(Find(notPmt, 0x87), kNoPid);
}

TEST(CaptionStream, FindsTheServicesPmtInThePat) {
    const Bytes pat = build::PatSection(0x7FE0, {{0x0000, 0x0010}, {0x0400, 0x0101}, {0x0408, 0x1FC8}});
    const int32_t size = static_cast<int32_t>(pat.size());
    EXPECT_EQ(FindProgramMapPid(pat.data(), size, 0x0400), 0x0101);
    EXPECT_EQ(FindProgramMapPid(pat.data(), size, 0x0408), 0x1FC8);
    EXPECT_EQ(FindProgramMapPid(pat.data(), size, 0x0401), kNoPid);
    EXPECT_EQ(FindProgramMapPid(pat.data(), size, 0x0000), kNoPid);  // the network PID is no PMT
    // The last entry is cut by the CRC: it is not read.
    EXPECT_EQ(FindProgramMapPid(pat.data(), size - 2, 0x0408), kNoPid);
    Bytes pmt = pat;
    pmt[0] = 0x02;
    EXPECT_EQ(FindProgramMapPid(pmt.data(), size, 0x0400), kNoPid);
    EXPECT_EQ(FindProgramMapPid(nullptr, 0, 0x0400), kNoPid);
}

}  // namespace
