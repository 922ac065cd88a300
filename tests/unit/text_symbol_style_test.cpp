// The additional symbols written as user-defined characters (the window's
// default) or as bracketed text (tooltips).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/unit/text_test_helpers.h"
#include "text/arib_decoder.h"

namespace {

typedef std::vector<uint8_t> Bytes;

// ESC 0x24 0x2A 0x3B: the additional symbols into G2, which GR holds.
const Bytes kSymbolsIntoG2 = {0x1B, 0x24, 0x2A, 0x3B};
// ESC 0x24 0x3B: the additional symbols into G0, which GL holds.
const Bytes kSymbolsIntoG0 = {0x1B, 0x24, 0x3B};

Bytes Cat(const Bytes& a, const Bytes& b) {
    Bytes r = a;
    r.insert(r.end(), b.begin(), b.end());
    return r;
}

std::string Decode(const Bytes& source, int32_t capacity, SymbolStyle style) {
    std::vector<char> buffer(static_cast<size_t>(capacity) + 8, '\x5A');
    const int32_t n = DecodeAribText(buffer.data(), source.data(), static_cast<int32_t>(source.size()), capacity,
                                     style);
    for (size_t i = static_cast<size_t>(capacity); i < buffer.size(); ++i) {
        EXPECT_EQ('\x5A', buffer[i]) << "write past capacity at " << i;
    }
    EXPECT_EQ('\0', buffer[static_cast<size_t>(n)]);
    return std::string(buffer.data(), static_cast<size_t>(n));
}

TEST(AribSymbolStyle, UserDefinedOrBracketed) {
    struct Case {
        const char* name;
        Bytes source;
        std::string userDefined;
        std::string bracketed;
    };
    const Case cases[] = {
        {"字 through GR", Cat(kSymbolsIntoG2, {0xFA, 0xD6}), "\xF1\x83", Sjis("[字]")},
        {"字 through GL", Cat(kSymbolsIntoG0, {0x7A, 0x56}), "\xF1\x83", Sjis("[字]")},
        {"字 by one single shift", Cat(kSymbolsIntoG2, {0x19, 0x7A, 0x56}), "\xF1\x83", Sjis("[字]")},
        {"HV, the first named", Cat(kSymbolsIntoG0, {0x7A, 0x50}), "\xF1\x7C", "[HV]"},
        {"デ", Cat(kSymbolsIntoG0, {0x7A, 0x58}), "\xF2\x48", Sjis("[デ]")},
        {"二", Cat(kSymbolsIntoG0, {0x7A, 0x5A}), "\xF2\x4A", Sjis("[二]")},
        {"新", Cat(kSymbolsIntoG0, {0x7A, 0x6B}), "\xF2\x5B", Sjis("[新]")},
        {"PPV, the last named", Cat(kSymbolsIntoG0, {0x7A, 0x72}), "\xF2\x62", "[PPV]"},
        {"in a title between kanji",
         Cat(Cat({0x48, 0x56, 0x41, 0x48}, kSymbolsIntoG2), {0xFA, 0xD6, 0xFA, 0xDA, 0x30, 0x21}),
         Sjis("番組") + "\xF1\x83\xF2\x4A" + Sjis("亜"), Sjis("番組[字][二]亜")},
        // Without a short form the user-defined code or special character
        // stays.
        {"unnamed symbol keeps its user-defined code", Cat(kSymbolsIntoG0, {0x7A, 0x21}), "\xF1\x4D", "\xF1\x4D"},
        {"unnamed cell between named ones", Cat(kSymbolsIntoG0, {0x7A, 0x59}), "\xF2\x49", "\xF2\x49"},
        {"parenthesised 株 keeps the code page 932 character", Cat(kSymbolsIntoG0, {0x7C, 0x4D}), "\x87\x8A",
         "\x87\x8A"},
        {"unmapped cell keeps the substitute", Cat(kSymbolsIntoG0, {0x7A, 0x75}), "\x81\xA0", "\x81\xA0"},
        // The Kanji set carries the same symbols in its rows 0x7A-0x7E.
        {"字 in the kanji set's row 0x7A", {0x7A, 0x56}, "\xF1\x83", Sjis("[字]")},
        {"新 in the kanji set through GR", {0x1B, 0x24, 0x2A, 0x39, 0xFA, 0xEB}, "\xF2\x5B", Sjis("[新]")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.userDefined, Decode(c.source, 64, SymbolStyle::kUserDefined));
        EXPECT_EQ(c.bracketed, Decode(c.source, 64, SymbolStyle::kBracketed));
        // The four-argument form is the user-defined style, byte for byte.
        char plain[64];
        const int32_t n = DecodeAribText(plain, c.source.data(), static_cast<int32_t>(c.source.size()), 64);
        EXPECT_EQ(c.userDefined, std::string(plain, static_cast<size_t>(n)));
    }
}

TEST(AribSymbolStyle, BracketedTextIsWrittenWholeOrNotAtAll) {
    // "AB" in middle size, then [PPV] (5 bytes), then "C".
    const Bytes source = Cat(Cat({0x89, 0x0E, 0x41, 0x42}, kSymbolsIntoG2), {0xFA, 0xF2, 0x43});
    struct Case {
        int32_t capacity;
        std::string expected;
    };
    const Case cases[] = {
        {1, ""}, {3, "AB"}, {7, "AB"}, {8, "AB[PPV]"}, {9, "AB[PPV]C"}, {64, "AB[PPV]C"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.capacity);
        EXPECT_EQ(c.expected, Decode(source, c.capacity, SymbolStyle::kBracketed));
    }
}

}  // namespace
