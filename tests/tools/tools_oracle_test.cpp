// The sample stream's names and event texts read with another decoder,
// Debian's libaribb24, so that a fault shared by our ARIB encoder and our
// decoder cannot hide in the round trip. libaribb24 writes additional
// symbols as bracketed words (【字】) and line breaks not at all.
#include <gtest/gtest.h>

extern "C" {
#include <aribb24/aribb24.h>
#include <aribb24/decoder.h>
}

#include <map>
#include <string>
#include <vector>

#include "tests/tools/tools_test_support.h"
#include "text/arib_decoder.h"
#include "tools/info/cp932_utf8.h"
#include "tools/common/arib_symbol_unicode.h"
#include "tools/common/arib_symbols.h"

namespace {

using tools_test::Bytes;

std::string DecodeWithAribb24(const uint8_t* data, size_t size) {
    arib_instance_t* instance = arib_instance_new(nullptr);
    arib_decoder_t* decoder = arib_get_decoder(instance);
    arib_initialize_decoder(decoder);
    std::vector<char> out(size * 4 + 16, '\0');
    const size_t n = arib_decode_buffer(decoder, data, size, out.data(), out.size());
    arib_finalize_decoder(decoder);
    arib_instance_destroy(instance);
    return std::string(out.data(), n);
}

// Service names of the SDT: service_id -> name.
std::map<int, std::string> ServiceNames(const Bytes& sdt) {
    std::map<int, std::string> names;
    const size_t end = sdt.size() - 4;  // before the CRC_32
    for (size_t o = 11; o + 5 <= end;) {
        const int id = (sdt[o] << 8) | sdt[o + 1];
        const size_t loop = static_cast<size_t>(((sdt[o + 3] & 0x0F) << 8) | sdt[o + 4]);
        for (size_t d = o + 5; d + 2 <= o + 5 + loop && d + 2 <= end; d += 2 + sdt[d + 1]) {
            if (sdt[d] != 0x48) continue;
            const size_t provider = sdt[d + 3];
            const size_t name = sdt[d + 4 + provider];
            names[id] = DecodeWithAribb24(&sdt[d + 5 + provider], name);
        }
        o += 5 + loop;
    }
    return names;
}

struct ShortEvent {
    std::string title;
    std::string text;
};

// The short event descriptor of the first event of an EIT section.
bool FirstShortEvent(const Bytes& eit, ShortEvent& event) {
    if (eit.size() < 30) return false;
    const size_t loop = static_cast<size_t>(((eit[24] & 0x0F) << 8) | eit[25]);
    for (size_t d = 26; d + 2 <= 26 + loop && d + 2 <= eit.size() - 4; d += 2 + eit[d + 1]) {
        if (eit[d] != 0x4D) continue;
        const size_t n = eit[d + 5];
        const size_t t = eit[d + 6 + n];
        event.title = DecodeWithAribb24(&eit[d + 6], n);
        event.text = DecodeWithAribb24(&eit[d + 7 + n], t);
        return true;
    }
    return false;
}

TEST(SampleStreamOracle, Aribb24ReadsTheServiceNames) {
    const Bytes stream = tools_test::ReadBytes(KESTRIN_SAMPLE_TS);
    const auto sdts = tools_test::Sections(stream, {0x0011});
    ASSERT_FALSE(sdts.empty());
    EXPECT_EQ(ServiceNames(sdts.front().bytes), (std::map<int, std::string>{{0x0400, "ケストリン総合"},
                                                                           {0x0401, "ケストリン総合２"},
                                                                           {0x0588, "ケストリンワンセグ"}}));
}

TEST(SampleStreamOracle, Aribb24ReadsTheEventsOfTheOneSegmentService) {
    const Bytes stream = tools_test::ReadBytes(KESTRIN_SAMPLE_TS);
    std::vector<std::string> presentTitles;
    std::vector<std::string> texts;
    for (const auto& s : tools_test::Sections(stream, {0x0012})) {
        const Bytes& b = s.bytes;
        if (((b[3] << 8) | b[4]) != 0x0588) continue;
        ShortEvent e;
        ASSERT_TRUE(FirstShortEvent(b, e));
        if (b[6] == 0 && (presentTitles.empty() || presentTitles.back() != e.title)) {
            presentTitles.push_back(e.title);
            texts.push_back(e.text);
        }
    }
    // libaribb24 gives the enclosed ideographs 🈑 (字) and 🈔 (二), and keeps
    // the middle-size "1" full-width.
    EXPECT_EQ(presentTitles, (std::vector<std::string>{"ニュース９🈑", "連続ドラマ「渡り鳥の空」第３話🈑🈔"}));
    EXPECT_EQ(texts, (std::vector<std::string>{
                         "きょうの主なニュース。国内外の動きと全国の気象情報をお伝えします。",
                         "港町に戻った美咲は、古い灯台で１枚の写真を見つける。出演：山田花子、佐藤一郎"}));
}

std::string Utf8(uint32_t c) {
    std::string s;
    if (c < 0x800) {
        s += static_cast<char>(0xC0 | (c >> 6));
        s += static_cast<char>(0x80 | (c & 0x3F));
        return s;
    }
    if (c < 0x10000) {
        s += static_cast<char>(0xE0 | (c >> 12));
    } else {
        s += static_cast<char>(0xF0 | (c >> 18));
        s += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    }
    s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    s += static_cast<char>(0x80 | (c & 0x3F));
    return s;
}

TEST(AribSymbolsOracle, UnicodeFormsAreThoseOfLibaribb24) {
    // kestrin-info --symbols prints these; libaribb24 maps the same codes.
    for (const AribSymbol& symbol : kAribSymbols) {
        const uint8_t arib[] = {0x1B, 0x24, 0x3B, static_cast<uint8_t>(symbol.code >> 8),
                                static_cast<uint8_t>(symbol.code)};  // additional symbols to G0, one character
        EXPECT_EQ(DecodeWithAribb24(arib, sizeof arib), Utf8(symbol.unicode)) << symbol.name;
    }
}

TEST(AribSymbolsOracle, EveryUnicodeMappingIsLibaribb24s) {
    // The whole table kestrin-info's UTF-8 outputs use, checked against
    // libaribb24; then each entry through our own decoder and converter.
    // The window's decoder writes some symbols as its substitute □ (no code
    // page 932 place), 0x7D6E as "!!", and 0x7C78-0x7C7B on one shared
    // user-defined code: those cannot come back as their own characters.
    // Every other symbol must arrive as its Unicode character, and none as
    // a Private Use Area one.
    std::map<std::string, int> users;  // Shift_JIS of each symbol -> symbols written so
    auto windowText = [](uint16_t code) {
        const uint8_t arib[] = {0x1B, 0x24, 0x3B, static_cast<uint8_t>(code >> 8), static_cast<uint8_t>(code)};
        char sjis[16];
        DecodeAribText(sjis, arib, sizeof arib, sizeof sjis, SymbolStyle::kUserDefined);
        return std::string(sjis);
    };
    for (const AribSymbolUnicode& symbol : kAribSymbolUnicode) ++users[windowText(symbol.code)];
    int own = 0;
    for (const AribSymbolUnicode& symbol : kAribSymbolUnicode) {
        const uint8_t arib[] = {0x1B, 0x24, 0x3B, static_cast<uint8_t>(symbol.code >> 8),
                                static_cast<uint8_t>(symbol.code)};
        EXPECT_EQ(DecodeWithAribb24(arib, sizeof arib), Utf8(symbol.unicode)) << std::hex << symbol.code;
        const std::string sjis = windowText(symbol.code);
        const std::string utf8 = Cp932ToUtf8WithSymbols(sjis);
        EXPECT_EQ(utf8.find("\xEE"), std::string::npos) << std::hex << symbol.code;  // U+E000-U+EFFF
        if (sjis == "\x81\xA0" || sjis == "!!" || users[sjis] > 1) continue;
        EXPECT_EQ(utf8, Utf8(symbol.unicode)) << std::hex << symbol.code;
        ++own;
    }
    EXPECT_GT(own, 250);  // most of the table
}

}  // namespace
