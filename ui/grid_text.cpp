#include "ui/grid_text.h"

#include <cstddef>

#include "text/shift_jis_text.h"

namespace {

// Japanese line breaking. Shift_JIS characters a line may not start
// with: closing brackets and quotes, the comma, full stop and their kin,
// the middle dot, the long vowel mark, iteration marks and the small kana,
// whose place is right after the character they belong to.
const uint16_t kNoLineStart[] = {
    0x8141, 0x8142, 0x8143, 0x8144, 0x8145, 0x8146, 0x8147, 0x8148, 0x8149,  // 、。，．・：；？！
    0x8152, 0x8153, 0x8154, 0x8155, 0x8158, 0x815B,                          // ヽヾゝゞ々ー
    0x8166, 0x8168, 0x816A, 0x816C, 0x816E, 0x8170, 0x8172, 0x8174,          // ’”）〕］｝〉》
    0x8176, 0x8178, 0x817A,                                                  // 」』】
    0x829F, 0x82A1, 0x82A3, 0x82A5, 0x82A7, 0x82C1, 0x82E1, 0x82E3, 0x82E5,  // ぁぃぅぇぉっゃゅょ
    0x82EC,                                                                  // ゎ
    0x8340, 0x8342, 0x8344, 0x8346, 0x8348, 0x8362, 0x8383, 0x8385, 0x8387,  // ァィゥェォッャュョ
    0x838E, 0x8395, 0x8396,                                                  // ヮヵヶ
};
// ... and may not end with: opening brackets and quotes.
const uint16_t kNoLineEnd[] = {
    0x8165, 0x8167, 0x8169, 0x816B, 0x816D, 0x816F, 0x8171, 0x8173, 0x8175, 0x8177, 0x8179,  // ‘“（〔［｛〈《「『【
};
const uint16_t kIdeographicSpace = 0x8140;
const uint16_t kFullWidthOpenSquare = 0x816D;   // ［
const uint16_t kFullWidthCloseSquare = 0x816E;  // ］
// The longest bracketed additional symbol with its brackets ("[PPV]" is
// five bytes, "［字］" six), with room to spare.
const int32_t kLongestSymbol = 8;

// The character at `at`: its two bytes as one code, or its single byte.
uint16_t CodeAt(const char* t, int32_t at) {
    const uint8_t b = static_cast<uint8_t>(t[at]);
    if (!IsShiftJisLeadByte(b)) return b;
    return static_cast<uint16_t>(b << 8 | static_cast<uint8_t>(t[at + 1]));
}

bool Listed(const uint16_t* list, size_t size, uint16_t code) {
    for (size_t i = 0; i < size; ++i) {
        if (list[i] == code) return true;
    }
    return false;
}

bool NoLineStartWith(uint16_t c) {
    if (c < 0x80) {
        return c == ')' || c == ']' || c == '}' || c == ',' || c == '.' || c == '!' || c == '?' || c == ':' ||
               c == ';' || c == ' ';
    }
    // Half-width ｡｣､･, small ｧ-ｯ, ｰ and the sound marks ﾞﾟ.
    if (c < 0x100) return c == 0xA1 || (c >= 0xA3 && c <= 0xA5) || (c >= 0xA7 && c <= 0xB0) || c >= 0xDE;
    // An ideographic space stays at the end of the line before.
    return c == kIdeographicSpace || Listed(kNoLineStart, sizeof kNoLineStart / sizeof kNoLineStart[0], c);
}

bool NoLineEndWith(uint16_t c) {
    if (c < 0x80) return c == '(' || c == '[' || c == '{';
    if (c < 0x100) return c == 0xA2;  // half-width ｢
    return Listed(kNoLineEnd, sizeof kNoLineEnd / sizeof kNoLineEnd[0], c);
}

bool IsAsciiWordCharacter(uint16_t c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// A bracketed additional symbol starting at `at` ("[字]", "[HV]", "［字］",
// as text/ writes them for the grid): the offset just past it, else `at`.
int32_t SymbolEnd(const char* t, int32_t at) {
    const uint16_t open = CodeAt(t, at);
    if (open != '[' && open != kFullWidthOpenSquare) return at;
    const uint16_t close = open == '[' ? ']' : kFullWidthCloseSquare;
    int32_t k = at + (open == '[' ? 1 : 2);
    for (int32_t inside = 0; inside <= kLongestSymbol && t[k] != '\0'; ++inside) {
        const uint8_t b = static_cast<uint8_t>(t[k]);
        if (IsShiftJisLeadByte(b) && t[k + 1] == '\0') return at;
        const uint16_t c = CodeAt(t, k);
        const int32_t size = IsShiftJisLeadByte(b) ? 2 : 1;
        if (c == close) return k > at + (open == '[' ? 1 : 2) ? k + size : at;
        if (c == open || b < 0x20) return at;
        k += size;
    }
    return at;
}

// Where one line of `t` starting at `from` ends: at most `columns`
// widths and `budget` bytes. A line that is not the last breaks at the
// last place Japanese text may break (not before a closing bracket, small
// kana or the like, not after an opening bracket, not inside a bracketed
// symbol or a word of ASCII letters and digits), else where the width runs
// out (a space there hangs past the edge); `more` says the text goes on in the next line. The last line, and
// a line the budget ends, stop at the last place the text may end (not
// after an opening bracket, not inside a bracketed symbol).
struct LineCut {
    int32_t end;
    bool more;
};
LineCut CutLine(const char* t, int32_t from, int32_t columns, bool last, int32_t budget) {
    int32_t used = 0;
    int32_t at = from;
    int32_t previous = from;
    int32_t breakAt = -1;
    int32_t endAt = -1;
    int32_t unitStart = from;
    int32_t unitEnd = from;
    for (;;) {
        const uint8_t b = static_cast<uint8_t>(t[at]);
        if (b == '\0') return LineCut{at, false};
        const bool wide = IsShiftJisLeadByte(b);
        if (wide && t[at + 1] == '\0') return LineCut{at, false};  // a lead byte without its trail byte
        const int32_t size = wide ? 2 : 1;
        if (size > columns) return LineCut{at, false};  // a double-byte character fits no line
        if (at >= unitEnd) {
            unitStart = at;
            unitEnd = SymbolEnd(t, at);
        }
        if (at > from && !(unitStart < at && at < unitEnd)) {
            const uint16_t before = CodeAt(t, previous);
            const uint16_t after = CodeAt(t, at);
            if (!NoLineEndWith(before)) {
                endAt = at;
                if (!NoLineStartWith(after) && !(IsAsciiWordCharacter(before) && IsAsciiWordCharacter(after))) {
                    breakAt = at;
                }
            }
        }
        const bool full = at - from + size > budget;
        if (used + size > columns && !last && !full) {
            // A space at the edge hangs there, out of sight, rather than
            // start the next line.
            if (CodeAt(t, at) == ' ' || CodeAt(t, at) == kIdeographicSpace) return LineCut{at + size, true};
            return LineCut{breakAt > from ? breakAt : at, true};
        }
        if (used + size > columns || full) return LineCut{endAt > from ? endAt : at, false};
        used += size;
        previous = at;
        at += size;
    }
}

}  // namespace

int32_t BreakGridText(const char* text, int32_t columns, int32_t lines, int32_t bytes, int32_t* ends) {
    if (text == nullptr || ends == nullptr || columns <= 0 || lines <= 0 || bytes <= 0) return 0;
    int32_t count = 0;
    int32_t from = 0;
    int32_t taken = 0;  // bytes of the lines so far, with the '\n' after each
    while (count < lines) {
        const LineCut cut = CutLine(text, from, columns, count + 1 >= lines, bytes - taken);
        // An empty line after a break: nothing of the next character fitted.
        if (cut.end == from) break;
        ends[count++] = cut.end;
        taken += cut.end - from + 1;
        from = cut.end;
        // A next line needs its '\n' and at least a byte.
        if (!cut.more || taken + 1 > bytes) break;
    }
    return count;
}

int32_t CutGridText(const char* text, int32_t columns, int32_t lines, char* out, int32_t capacity) {
    if (out == nullptr || capacity <= 0) return 0;
    out[0] = '\0';
    if (text == nullptr || columns <= 0 || lines <= 0) return 0;
    int32_t n = 0;
    int32_t from = 0;
    for (int32_t line = 0; line < lines; ++line) {
        const LineCut cut = CutLine(text, from, columns, line + 1 >= lines, capacity - 1 - n);
        if (cut.end == from) {
            if (n > 0 && out[n - 1] == '\n') --n;  // no line after the last break
            break;
        }
        for (int32_t at = from; at < cut.end;) {
            const uint8_t b = static_cast<uint8_t>(text[at]);
            if (IsShiftJisLeadByte(b)) {
                out[n++] = text[at];
                out[n++] = text[at + 1];
                at += 2;
            } else {
                out[n++] = b < 0x20 || b == 0x7F ? ' ' : static_cast<char>(b);
                ++at;
            }
        }
        from = cut.end;
        if (!cut.more || n + 2 > capacity - 1) break;
        out[n++] = '\n';
    }
    out[n] = '\0';
    return n;
}
