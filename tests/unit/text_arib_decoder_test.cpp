// ARIB 8-bit text to Shift_JIS: the code-extension state machine and the
// output bound.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "text/arib_decoder.h"

namespace {

typedef std::vector<uint8_t> Bytes;

// Decodes into a buffer of exactly `capacity` bytes followed by a guard, so
// that both AddressSanitizer and the guard see a write past the end. The
// source is copied to the heap so that a read past `length` is caught too.
struct Decoded {
    Bytes text;  // the bytes before the terminator, by the returned count
    int32_t result;
};

Decoded Decode(const Bytes& source, int32_t capacity) {
    const size_t kGuard = 16;
    std::vector<char> buffer(static_cast<size_t>(capacity > 0 ? capacity : 0) + kGuard, '\x5A');
    std::vector<uint8_t> heapSource(source);
    const int32_t n = DecodeAribText(buffer.data(), heapSource.empty() ? nullptr : heapSource.data(),
                                     static_cast<int32_t>(source.size()), capacity);
    for (size_t i = static_cast<size_t>(capacity > 0 ? capacity : 0); i < buffer.size(); ++i) {
        EXPECT_EQ('\x5A', buffer[i]) << "write past capacity at " << i;
    }
    Decoded d;
    d.result = n;
    if (capacity > 0 && n >= 0 && n < capacity) {
        d.text.assign(buffer.begin(), buffer.begin() + n);
        EXPECT_EQ('\0', buffer[static_cast<size_t>(n)]) << "no terminator after the text";
    } else if (capacity > 0) {
        ADD_FAILURE() << "result " << n << " does not leave room for the terminator of " << capacity;
    }
    return d;
}

std::string Hex(const Bytes& b) {
    std::string s;
    char tmp[4];
    for (uint8_t c : b) {
        std::snprintf(tmp, sizeof tmp, "%02X ", c);
        s += tmp;
    }
    return s;
}

struct Case {
    const char* name;
    Bytes source;
    Bytes expected;
};

const Case kCases[] = {
    {"empty", {}, {}},
    {"hiragana through GR", {0xA2, 0xA4, 0xA6}, {0x82, 0xA0, 0x82, 0xA2, 0x82, 0xA4}},
    {"kanji through GL", {0x30, 0x21}, {0x88, 0x9F}},
    {"space in normal size", {0x20}, {0x81, 0x40}},
    {"space in middle size", {0x89, 0x20}, {0x20}},
    {"APR", {0x0D}, {0x0D, 0x0A}},
    {"APR then LF is one line break", {0x0D, 0x0A}, {0x0D, 0x0A}},
    {"LS1 alphanumerics, normal size", {0x0E, 0x41, 0x42, 0x43}, {0x82, 0x60, 0x82, 0x61, 0x82, 0x62}},
    {"LS1 alphanumerics, middle size", {0x89, 0x0E, 0x41, 0x42, 0x43, 0x20, 0x31}, {0x41, 0x42, 0x43, 0x20, 0x31}},
    {"LS1R alphanumerics through GR", {0x1B, 0x7E, 0xC1, 0xE1, 0xB0}, {0x82, 0x60, 0x82, 0x81, 0x82, 0x4F}},
    {"katakana into G1, LS1", {0x1B, 0x29, 0x31, 0x0E, 0x25, 0x2B}, {0x83, 0x44, 0x83, 0x4A}},
    {"LS2", {0x1B, 0x6E, 0x22}, {0x82, 0xA0}},
    {"LS3", {0x1B, 0x6F, 0x22}, {0x83, 0x41}},
    {"LS3R", {0x1B, 0x7C, 0xA2}, {0x83, 0x41}},
    {"LS2R after LS3R", {0x1B, 0x7C, 0xA2, 0x1B, 0x7D, 0xA2}, {0x83, 0x41, 0x82, 0xA0}},
    {"LS0 after LS1", {0x0E, 0x0F, 0x30, 0x21}, {0x88, 0x9F}},
    {"final byte 0x42 is not accepted",
     {0x1B, 0x28, 0x4A, 0x41, 0x1B, 0x24, 0x42, 0x41},
     {0x82, 0x60, 0x82, 0x60}},
    {"one-byte form designates the kanji set", {0x1B, 0x28, 0x4A, 0x1B, 0x28, 0x39, 0x30, 0x21}, {0x88, 0x9F}},
    {"two-byte form designates a one-byte set to G1", {0x1B, 0x24, 0x29, 0x30, 0x0E, 0x22}, {0x82, 0xA0}},
    {"unknown set to G1 leaves it", {0x1B, 0x29, 0x49, 0x0E, 0x41}, {0x82, 0x60}},
    {"additional symbols to G3 through GR",
     {0x1B, 0x24, 0x2B, 0x3B, 0x1B, 0x7C, 0xFA, 0xD6},
     {0xF1, 0x83}},
    {"SS2 covers one byte", {0x0E, 0x19, 0x22, 0x41}, {0x82, 0xA0, 0x82, 0x60}},
    {"SS3", {0x1D, 0x22, 0xA2}, {0x83, 0x41, 0x82, 0xA0}},
    {"SS2 supplies the first byte of a kanji pair",
     {0x1B, 0x24, 0x2A, 0x39, 0x0E, 0x19, 0x30, 0x41, 0x0F, 0x21},
     {0x82, 0x60, 0x88, 0x9F}},
    {"SSZ is skipped", {0x88, 0x20}, {0x81, 0x40}},
    {"SZX is skipped", {0x89, 0x8B, 0x20}, {0x20}},
    {"NSZ after MSZ", {0x89, 0x8A, 0x20}, {0x81, 0x40}},
    {"middle size kanji row 0x23", {0x89, 0x23, 0x41}, {0x41}},
    {"kanji pair through GR", {0x1B, 0x24, 0x2A, 0x39, 0xB0, 0xA1}, {0x88, 0x9F}},
    {"GL first byte completed through GR", {0x1B, 0x24, 0x2A, 0x39, 0x30, 0xA1}, {0x00, 0x00}},
    {"GR first byte completed through GL",
     {0x1B, 0x24, 0x2A, 0x39, 0xB0, 0x21},
     {0x00, 0x00}},
    {"additional symbol pair across halves",
     {0x1B, 0x24, 0x2A, 0x3B, 0x1B, 0x24, 0x3B, 0x7A, 0xD6},
     {0x81, 0xA0}},
    {"kanji plane 2 yields nothing", {0x1B, 0x24, 0x3A, 0x30, 0x21}, {}},
    {"kanji plane 2 leaves the pending byte",
     {0x30, 0x1B, 0x24, 0x29, 0x3A, 0x0E, 0x41, 0x0F, 0x21},
     {0x88, 0x9F}},
    {"pending byte survives a line break", {0x30, 0x0D, 0x21}, {0x0D, 0x0A, 0x88, 0x9F}},
    {"pending byte survives an alphanumeric", {0x30, 0x0E, 0x41, 0x0F, 0x21}, {0x82, 0x60, 0x88, 0x9F}},
    {"pending byte survives a space", {0x30, 0x20, 0x21}, {0x81, 0x40, 0x88, 0x9F}},
    {"pending byte is completed by the set designated later",
     {0x7A, 0x1B, 0x24, 0x3B, 0x56},
     {0xF1, 0x83}},
    {"lone last byte is dropped", {0x30, 0x21, 0x30}, {0x88, 0x9F}},
    {"DEL is skipped", {0x20, 0x7F}, {0x81, 0x40}},
    {"COL parameter decoded as a character", {0x90, 0x48, 0x24, 0x22}, {0x94, 0xA2}},
    {"ESC swallowing APR still breaks the line", {0x1B, 0x0D}, {0x0D, 0x0A}},
    {"designation swallowing APR", {0x1B, 0x28, 0x0D, 0xA2}, {0x0D, 0x0A, 0x82, 0xA0}},
    {"two-byte designation swallowing APR", {0x1B, 0x24, 0x29, 0x0D}, {0x0D, 0x0A}},
    {"DRCS two-byte designation consumed in part",
     {0x1B, 0x24, 0x28, 0x20, 0x40, 0x21},
     {0x81, 0x40, 0x90, 0x9F}},
    {"DRCS one-byte designation consumed in part", {0x1B, 0x28, 0x20, 0x30, 0x21}, {0x88, 0x9F}},
    {"unknown escape consumes one byte", {0x1B, 0x41, 0xA2}, {0x82, 0xA0}},
    // A byte after SS2/SS3 outside 0x21-0x7E is consumed and yields nothing.
    {"SS2 byte in GR range", {0x19, 0xA2, 0xA2}, {0x82, 0xA0}},
    {"SS2 swallows APR without a line break", {0x19, 0x0D, 0xA2}, {0x82, 0xA0}},
    {"SS2 swallows a space", {0x19, 0x20}, {}},
    {"SS2 of alphanumerics in middle size passes no raw byte",
     {0x1B, 0x2A, 0x4A, 0x89, 0x19, 0x81, 0x19, 0x00, 0x19, 0x41},
     {0x41}},
    {"SS3 byte outside GL leaves the pending byte",
     {0x1B, 0x24, 0x2B, 0x39, 0x30, 0x1D, 0xB0, 0x21},
     {0x88, 0x9F}},
    // Cut off by the end of the source: nothing more, no read beyond.
    {"ends with ESC", {0xA2, 0x1B}, {0x82, 0xA0}},
    {"ends with ESC 0x24", {0xA2, 0x1B, 0x24}, {0x82, 0xA0}},
    {"ends with ESC 0x24 0x29", {0xA2, 0x1B, 0x24, 0x29}, {0x82, 0xA0}},
    {"ends with ESC 0x28", {0xA2, 0x1B, 0x28}, {0x82, 0xA0}},
    {"ends with SS2", {0xA2, 0x19}, {0x82, 0xA0}},
    {"ends with SS3", {0xA2, 0x1D}, {0x82, 0xA0}},
};

TEST(DecodeAribText, Cases) {
    for (const Case& c : kCases) {
        const Decoded d = Decode(c.source, 256);
        EXPECT_EQ(Hex(c.expected), Hex(d.text)) << c.name;
        EXPECT_EQ(static_cast<int32_t>(c.expected.size()), d.result) << c.name;
    }
}

TEST(DecodeAribText, SkippedBytesChangeNothing) {
    for (int b = 0; b <= 0xFF; ++b) {
        const bool acted = (b >= 0x21 && b <= 0x7E) || (b >= 0xA1 && b <= 0xFE) || b == 0x0D || b == 0x0E ||
                           b == 0x0F || b == 0x19 || b == 0x1D || b == 0x1B || b == 0x20 || b == 0x89 ||
                           b == 0x8A;
        if (acted) continue;
        // Between the two bytes of a kanji and before a hiragana in GR.
        const Decoded d = Decode({0x30, static_cast<uint8_t>(b), 0x21, static_cast<uint8_t>(b), 0xA2, 0x20}, 64);
        EXPECT_EQ(Hex({0x88, 0x9F, 0x82, 0xA0, 0x81, 0x40}), Hex(d.text)) << "byte " << b;
    }
}

TEST(DecodeAribText, EveryCallStartsFromTheInitialState) {
    // A string that changes every part of the state ...
    Decode({0x1B, 0x28, 0x4A, 0x1B, 0x7C, 0x89, 0x0E, 0x30}, 64);
    // ... does not leak into the next one.
    const Decoded d = Decode({0x30, 0x21, 0xA2, 0x20}, 64);
    EXPECT_EQ(Hex({0x88, 0x9F, 0x82, 0xA0, 0x81, 0x40}), Hex(d.text));
}

TEST(DecodeAribText, NonPositiveLengthGivesEmptyText) {
    char buffer[4] = {'x', 'x', 'x', 'x'};
    const uint8_t source[] = {0xA2};
    EXPECT_EQ(0, DecodeAribText(buffer, source, 0, 4));
    EXPECT_EQ('\0', buffer[0]);
    buffer[0] = 'x';
    EXPECT_EQ(0, DecodeAribText(buffer, source, -5, 4));
    EXPECT_EQ('\0', buffer[0]);
    buffer[0] = 'x';
    EXPECT_EQ(0, DecodeAribText(buffer, nullptr, 3, 4));
    EXPECT_EQ('\0', buffer[0]);
}

TEST(DecodeAribText, NoCapacityWritesNothing) {
    char buffer[2] = {'x', 'x'};
    const uint8_t source[] = {0xA2};
    EXPECT_EQ(0, DecodeAribText(buffer, source, 1, 0));
    EXPECT_EQ(0, DecodeAribText(buffer, source, 1, -1));
    EXPECT_EQ('x', buffer[0]);
}

// The conversion ends before the first character that does not fit together
// with the terminator; nothing after it is appended even if it would fit.
TEST(DecodeAribText, CapacityEndsBeforeAWholeCharacter) {
    const Bytes source = {0xA2, 0xA4, 0x89, 0x0E, 0x41, 0x0D, 0x42};
    const struct {
        int32_t capacity;
        Bytes expected;
    } cases[] = {
        {1, {}},
        {2, {}},
        {3, {0x82, 0xA0}},
        {4, {0x82, 0xA0}},
        {5, {0x82, 0xA0, 0x82, 0xA2}},
        {6, {0x82, 0xA0, 0x82, 0xA2, 0x41}},
        {7, {0x82, 0xA0, 0x82, 0xA2, 0x41}},  // CR LF is one character: no lone CR
        {8, {0x82, 0xA0, 0x82, 0xA2, 0x41, 0x0D, 0x0A}},
        {9, {0x82, 0xA0, 0x82, 0xA2, 0x41, 0x0D, 0x0A, 0x42}},
    };
    for (const auto& c : cases) {
        const Decoded d = Decode(source, c.capacity);
        EXPECT_EQ(Hex(c.expected), Hex(d.text)) << "capacity " << c.capacity;
    }
    // A one-byte character after a two-byte one that did not fit stays out.
    EXPECT_EQ(Hex({}), Hex(Decode({0x89, 0x0E, 0xA2, 0x41}, 2).text));
}

TEST(DecodeAribText, TwiceTheLengthPlusOneHoldsAnyOutput) {
    // Sources where every byte yields two bytes.
    const Bytes sources[] = {
        {0x20, 0x20, 0x20},
        {0x0D, 0x0D},
        {0x0E, 0x41, 0x42},
        {0x1B, 0x0D, 0x1B, 0x0D},
    };
    for (const Bytes& s : sources) {
        const Decoded d = Decode(s, static_cast<int32_t>(2 * s.size() + 1));
        EXPECT_LE(d.result, static_cast<int32_t>(2 * s.size()));
        const Decoded roomy = Decode(s, 256);
        EXPECT_EQ(Hex(roomy.text), Hex(d.text));
    }
}

}  // namespace
