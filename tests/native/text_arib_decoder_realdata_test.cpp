// Real ARIB strings from other decoders' test suites
// (tests/data/real/arib-strings.tsv: name, hex bytes, their UTF-8 text).
//
// Their text follows their conventions, which differ from ours in two ways;
// the expected text is rewritten to ours before comparing:
//  - an additional symbol is a bracketed word there (【字】); here it is the
//    code page 932 code of the symbol (0x7A 0x56 -> 0xF1 0x83, a private-use
//    character in UTF-8);
//  - middle size makes kana half-width there; here kana stay full-width in
//    both sizes, so half-width katakana in the expected text become
//    full-width.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tools/streamkit/arib_encoder.h"
#include "text/arib_charset.h"
#include "text/arib_decoder.h"

namespace {

struct RealString {
    std::string name;
    std::vector<uint8_t> bytes;
    std::string text;
};

std::vector<RealString> ReadRealStrings() {
    std::vector<RealString> rows;
    std::ifstream in(KESTRIN_REALDATA_DIR "/arib-strings.tsv");
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        RealString row;
        std::string hex;
        if (!std::getline(fields, row.name, '\t') || !std::getline(fields, hex, '\t') ||
            !std::getline(fields, row.text)) {
            continue;
        }
        std::istringstream bytes(hex);
        std::string token;
        while (bytes >> token) row.bytes.push_back(static_cast<uint8_t>(std::strtoul(token.c_str(), nullptr, 16)));
        rows.push_back(row);
    }
    return rows;
}

void ReplaceAll(std::string& s, const std::string& from, const std::string& to) {
    for (size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size())) {
        s.replace(at, from.size(), to);
    }
}

std::string AdditionalSymbolUtf8(uint8_t row, uint8_t cell) {
    uint8_t out[2];
    const int32_t n = MapTwoByteCharacter(kSetAdditionalSymbols, row, cell, kNormalSize, out);
    return ShiftJisToUtf8(std::string(reinterpret_cast<const char*>(out), static_cast<size_t>(n)));
}

std::string ToOurConventions(std::string text) {
    ReplaceAll(text, u8"【字】", AdditionalSymbolUtf8(0x7A, 0x56));
    // Half-width katakana U+FF66-U+FF9D and their full-width forms.
    static const char kHalfWidth[] =
        u8"ｦｧｨｩｪｫｬｭｮｯｰｱｲｳｴｵｶｷｸｹｺｻｼｽｾｿﾀﾁﾂﾃﾄﾅﾆﾇﾈﾉﾊﾋﾌﾍﾎﾏﾐﾑﾒﾓﾔﾕﾖﾗﾘﾙﾚﾛﾜﾝ";
    static const char kFullWidth[] =
        u8"ヲァィゥェォャュョッーアイウエオカキクケコサシスセソタチツテトナニヌネノハヒフヘホマミムメモヤユヨラリルレロワン";
    static_assert(sizeof kHalfWidth == sizeof kFullWidth, "one full-width form per half-width one");
    // Every character of both lists is three bytes of UTF-8.
    for (size_t i = 0; i + 3 <= sizeof kHalfWidth - 1; i += 3) {
        ReplaceAll(text, std::string(kHalfWidth + i, 3), std::string(kFullWidth + i, 3));
    }
    return text;
}

TEST(AribRealData, StringsFromOtherDecodersTestSuites) {
    const std::vector<RealString> rows = ReadRealStrings();
    ASSERT_FALSE(rows.empty()) << "no rows read from " KESTRIN_REALDATA_DIR "/arib-strings.tsv";
    for (const RealString& row : rows) {
        std::vector<char> buffer(2 * row.bytes.size() + 1);
        const int32_t n = DecodeAribText(buffer.data(), row.bytes.data(), static_cast<int32_t>(row.bytes.size()),
                                         static_cast<int32_t>(buffer.size()));
        const std::string ours = ShiftJisToUtf8(std::string(buffer.data(), static_cast<size_t>(n)));
        EXPECT_EQ(ToOurConventions(row.text), ours) << row.name;
    }
}

}  // namespace
