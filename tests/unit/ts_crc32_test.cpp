// CRC-32/MPEG-2: the check value, and the same CRC whether the bytes go
// through at once or carried on in pieces of any size (eight at a time and
// the rest byte by byte inside).
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "ts/crc32.h"

namespace {

// The polynomial a bit at a time, as the standard gives it.
uint32_t BitwiseCrc(const uint8_t* data, size_t size) {
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < size; ++i) {
        crc ^= static_cast<uint32_t>(data[i]) << 24;
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
    }
    return crc;
}

TEST(Crc32Mpeg2, CheckValue) {
    const uint8_t text[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(Crc32Mpeg2(text, sizeof text), 0x0376E6E7u);
    EXPECT_EQ(Crc32Mpeg2(text, 0), kCrc32Mpeg2Preset);
}

TEST(Crc32Mpeg2, AnyLengthAndAnySplitGiveTheBitwiseCrc) {
    std::vector<uint8_t> bytes(70);
    uint32_t seed = 12345;
    for (uint8_t& b : bytes) {
        seed = seed * 1103515245u + 12345u;
        b = static_cast<uint8_t>(seed >> 16);
    }
    for (size_t length = 0; length <= bytes.size(); ++length) {
        const uint32_t expected = BitwiseCrc(bytes.data(), length);
        EXPECT_EQ(Crc32Mpeg2(bytes.data(), length), expected) << length;
        for (size_t split = 0; split <= length; split += 3) {
            const uint32_t first = Crc32Mpeg2Update(kCrc32Mpeg2Preset, bytes.data(), split);
            EXPECT_EQ(Crc32Mpeg2Update(first, bytes.data() + split, length - split), expected)
                << length << " split at " << split;
        }
    }
}

}  // namespace
