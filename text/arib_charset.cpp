#include "text/arib_charset.h"

namespace {

// A code paired with the byte it maps to.
struct CodeByte {
    uint8_t code;
    uint8_t value;
};

// Hiragana and Katakana 0x79-0x7E: the prolonged sound mark and the
// punctuation shared by both kana sets, as Shift_JIS trail bytes after 0x81.
const uint8_t kKanaPunctuationTrail[6] = {
    0x5B,  // 0x79 ー
    0x42,  // 0x7A 。
    0x75,  // 0x7B 「
    0x76,  // 0x7C 」
    0x41,  // 0x7D 、
    0x45,  // 0x7E ・
};

// Alphanumeric set in normal size: the codes that are neither digits nor
// letters, and the trail byte after 0x81 of their full-width form.
const CodeByte kAlphanumericSymbolTrail[32] = {
    {0x21, 0x49}, {0x22, 0x4E}, {0x23, 0x94}, {0x24, 0x90}, {0x25, 0x93}, {0x26, 0x95},
    {0x27, 0x4C}, {0x28, 0x69}, {0x29, 0x6A}, {0x2A, 0x96}, {0x2B, 0x7B}, {0x2C, 0x43},
    {0x2D, 0x7C}, {0x2E, 0x44}, {0x2F, 0x5E}, {0x3A, 0x46}, {0x3B, 0x47}, {0x3C, 0x83},
    {0x3D, 0x81}, {0x3E, 0x84}, {0x3F, 0x48}, {0x40, 0x97}, {0x5B, 0x6D}, {0x5C, 0x8F},
    {0x5D, 0x6E}, {0x5E, 0x4F}, {0x5F, 0x51}, {0x60, 0x4D}, {0x7B, 0x6F}, {0x7C, 0x62},
    {0x7D, 0x70}, {0x7E, 0x50},
};

// Kanji set row 0x21 in middle size: the cells that become one ASCII byte.
const CodeByte kKanjiRow21MiddleSize[32] = {
    {0x24, 0x2C}, {0x25, 0x2E}, {0x27, 0x3A}, {0x28, 0x3B}, {0x29, 0x3F}, {0x2A, 0x21},
    {0x2E, 0x60}, {0x30, 0x5E}, {0x31, 0x7E}, {0x32, 0x5F}, {0x3F, 0x2F}, {0x43, 0x7C},
    {0x47, 0x27}, {0x49, 0x22}, {0x4A, 0x28}, {0x4B, 0x29}, {0x50, 0x7B}, {0x51, 0x7D},
    {0x5A, 0x5B}, {0x5B, 0x5D}, {0x5C, 0x2B}, {0x5D, 0x2D}, {0x61, 0x3D}, {0x63, 0x3C},
    {0x64, 0x3E}, {0x6F, 0x5C}, {0x70, 0x24}, {0x73, 0x25}, {0x74, 0x23}, {0x75, 0x26},
    {0x76, 0x2A}, {0x77, 0x40},
};

// One run of the Additional symbols set: the cells firstCell..lastCell of a
// row give lead, then firstTrail counting up with the cell, or firstTrail for
// every cell of the run when sameTrail is set.
struct SymbolRun {
    uint8_t row;
    uint8_t firstCell;
    uint8_t lastCell;
    uint8_t lead;
    uint8_t firstTrail;
    bool sameTrail;
};

// Rows 0x7A-0x7E: code page 932 special characters (lead byte 0x87) and the
// user-defined area (lead bytes 0xF1-0xF4) where receivers keep the ARIB
// additional symbols. Cells not listed have no mapping.
const SymbolRun kAdditionalSymbols[] = {
    {0x7A, 0x21, 0x52, 0xF1, 0x4D, false},
    {0x7A, 0x53, 0x57, 0xF1, 0x80, false},
    {0x7A, 0x58, 0x74, 0xF2, 0x48, false},
    {0x7B, 0x21, 0x30, 0xF2, 0x6F, false},
    {0x7B, 0x31, 0x51, 0xF2, 0x80, false},
    {0x7C, 0x21, 0x30, 0xF3, 0x92, false},
    {0x7C, 0x3A, 0x49, 0xF3, 0x9D, false},
    {0x7C, 0x4C, 0x4C, 0x87, 0x8B, false},  // ㈲
    {0x7C, 0x4D, 0x4D, 0x87, 0x8A, false},  // ㈱
    {0x7C, 0x4E, 0x4E, 0x87, 0x8C, false},  // ㈹
    {0x7C, 0x4F, 0x4F, 0xF3, 0xAD, false},
    {0x7C, 0x54, 0x75, 0xF3, 0xAE, false},
    {0x7C, 0x78, 0x7B, 0xF3, 0x58, true},
    {0x7D, 0x29, 0x2B, 0x87, 0x8D, false},  // ㍾ ㍽ ㍼
    {0x7D, 0x2C, 0x2C, 0x87, 0x7E, false},  // ㍻
    {0x7D, 0x2D, 0x2E, 0xF3, 0xD7, false},
    {0x7D, 0x30, 0x46, 0xF3, 0xD9, false},
    {0x7D, 0x51, 0x51, 0xF3, 0xF2, false},
    {0x7D, 0x56, 0x56, 0xF3, 0xF3, false},
    {0x7D, 0x5E, 0x5F, 0xF3, 0xF4, false},
    {0x7D, 0x6E, 0x6E, 0x21, 0x21, false},  // two ASCII exclamation marks
    {0x7D, 0x6F, 0x7E, 0xF4, 0x40, false},
    {0x7E, 0x21, 0x2A, 0x87, 0x54, false},  // Ⅰ to Ⅹ
    {0x7E, 0x2D, 0x30, 0x87, 0x50, false},  // ⑰ to ⑳
    {0x7E, 0x3D, 0x3D, 0xF4, 0x4F, false},
    {0x7E, 0x3E, 0x60, 0xF4, 0xD1, false},
    {0x7E, 0x61, 0x70, 0x87, 0x40, false},  // ① to ⑯
    {0x7E, 0x7D, 0x7D, 0xF4, 0xF6, false},
};

const uint8_t kSubstituteLead = 0x81;  // □, for additional symbols without a mapping
const uint8_t kSubstituteTrail = 0xA0;

int32_t Put1(uint8_t out[2], uint8_t b) {
    out[0] = b;
    return 1;
}

int32_t Put2(uint8_t out[2], uint8_t lead, uint8_t trail) {
    out[0] = lead;
    out[1] = trail;
    return 2;
}

bool FindCode(const CodeByte* table, int32_t count, uint8_t code, uint8_t* value) {
    for (int32_t i = 0; i < count; ++i) {
        if (table[i].code == code) {
            *value = table[i].value;
            return true;
        }
    }
    return false;
}

bool IsDigitOrLetter(uint8_t c) {
    return (c >= 0x30 && c <= 0x39) || (c >= 0x41 && c <= 0x5A) || (c >= 0x61 && c <= 0x7A);
}

int32_t MapHiragana(uint8_t code, uint8_t out[2]) {
    if (code >= 0x21 && code <= 0x73) return Put2(out, 0x82, static_cast<uint8_t>(code + 0x7E));
    if (code == 0x77) return Put2(out, 0x81, 0x54);  // ゝ
    if (code == 0x78) return Put2(out, 0x81, 0x55);  // ゞ
    if (code >= 0x79 && code <= 0x7E) return Put2(out, 0x81, kKanaPunctuationTrail[code - 0x79]);
    return 0;
}

int32_t MapKatakana(uint8_t code, uint8_t out[2]) {
    if (code >= 0x21 && code <= 0x5F) return Put2(out, 0x83, static_cast<uint8_t>(code + 0x1F));
    // Shift_JIS has no trail byte 0x7F: ム onwards sit one higher.
    if (code >= 0x60 && code <= 0x76) return Put2(out, 0x83, static_cast<uint8_t>(code + 0x20));
    if (code == 0x77) return Put2(out, 0x81, 0x52);  // ヽ
    if (code == 0x78) return Put2(out, 0x81, 0x53);  // ヾ
    if (code >= 0x79 && code <= 0x7E) return Put2(out, 0x81, kKanaPunctuationTrail[code - 0x79]);
    return 0;
}

int32_t MapAlphanumeric(uint8_t code, uint8_t characterSize, uint8_t out[2]) {
    // Middle size is plain ASCII, including a code that only a single shift
    // can bring; the decoder keeps such codes away from here.
    if (characterSize == kMiddleSize) return Put1(out, code);
    if ((code >= 0x30 && code <= 0x39) || (code >= 0x41 && code <= 0x5A))
        return Put2(out, 0x82, static_cast<uint8_t>(code + 0x1F));
    if (code >= 0x61 && code <= 0x7A) return Put2(out, 0x82, static_cast<uint8_t>(code + 0x20));
    uint8_t trail = 0;
    if (FindCode(kAlphanumericSymbolTrail, 32, code, &trail)) return Put2(out, 0x81, trail);
    // Normal size outside 0x21-0x7E has no full-width form: nothing.
    return 0;
}

int32_t MapAdditionalSymbol(uint8_t row, uint8_t cell, uint8_t out[2]);

int32_t MapKanji(uint8_t row, uint8_t cell, uint8_t characterSize, uint8_t out[2]) {
    // The Kanji set carries the additional symbols in its rows 0x7A-0x7E, and
    // broadcasters send them there (the boxed 字 straight after a title's
    // kanji). As JIS X 0208 codes those rows would land on unrelated code
    // page 932 kanji (the NEC-selected IBM extensions), so they never go
    // through JisToShiftJis.
    if (IsAdditionalSymbolRow(row)) return MapAdditionalSymbol(row, cell, out);
    if (characterSize == kMiddleSize) {
        if (row == 0x23) return IsDigitOrLetter(cell) ? Put1(out, cell) : 0;
        uint8_t ascii = 0;
        if (row == 0x21 && FindCode(kKanjiRow21MiddleSize, 32, cell, &ascii)) return Put1(out, ascii);
    }
    const uint32_t code = static_cast<uint32_t>(row) * 256u + cell;
    // The zero pair stands for a pair that is no JIS X 0208 code.
    if (code > 0x7E7Eu) return Put2(out, 0, 0);
    const uint16_t v = JisToShiftJis(static_cast<uint16_t>(code));
    return Put2(out, static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v & 0xFF));
}

int32_t MapAdditionalSymbol(uint8_t row, uint8_t cell, uint8_t out[2]) {
    for (const SymbolRun& run : kAdditionalSymbols) {
        if (run.row != row || cell < run.firstCell || cell > run.lastCell) continue;
        const uint8_t trail =
            run.sameTrail ? run.firstTrail : static_cast<uint8_t>(run.firstTrail + (cell - run.firstCell));
        return Put2(out, run.lead, trail);
    }
    return Put2(out, kSubstituteLead, kSubstituteTrail);
}

}  // namespace

int32_t MapOneByteCharacter(uint8_t set, uint8_t code, uint8_t characterSize, uint8_t out[2]) {
    switch (set) {
        case kSetHiragana: return MapHiragana(code, out);
        case kSetKatakana: return MapKatakana(code, out);
        case kSetAlphanumeric: return MapAlphanumeric(code, characterSize, out);
        case kSetJisKatakana:
            // Shift_JIS keeps JIS X 0201 katakana as single bytes 0xA1-0xDF.
            return code >= 0x21 && code <= 0x5F ? Put1(out, static_cast<uint8_t>(code + 0x80)) : 0;
        default: return 0;
    }
}

int32_t MapTwoByteCharacter(uint8_t set, uint8_t first, uint8_t second, uint8_t characterSize,
                            uint8_t out[2]) {
    switch (set) {
        case kSetKanji: return MapKanji(first, second, characterSize, out);
        case kSetAdditionalSymbols: return MapAdditionalSymbol(first, second, out);
        default: return 0;
    }
}

uint8_t MappingSetOf(uint8_t finalByte) {
    switch (finalByte) {
        case kSetKanjiAribFinal: return kSetKanji;
        case kSetProportionalAlphanumeric: return kSetAlphanumeric;
        case kSetProportionalHiragana: return kSetHiragana;
        case kSetProportionalKatakana: return kSetKatakana;
        default: return finalByte;
    }
}

uint16_t JisToShiftJis(uint16_t code) {
    const uint32_t j1 = code >> 8;
    const uint32_t j2 = code & 0xFFu;
    if (code < 0x2121 || j2 < 0x21 || j2 > 0x7E) return 0;
    const uint32_t lead = (j1 + 1) / 2 + (j1 <= 0x5E ? 0x70u : 0xB0u);
    uint32_t trail;
    if (j1 % 2 == 0) {
        trail = j2 + 0x7E;
    } else {
        trail = j2 + (j2 <= 0x5F ? 0x1Fu : 0x20u);
    }
    // A row above 0x7E would overflow the lead byte; callers never pass one,
    // and the result keeps 16 bits whatever the input.
    return static_cast<uint16_t>((lead * 256u + trail) & 0xFFFFu);
}
