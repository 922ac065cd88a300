#include "text/arib_decoder.h"

#include "text/arib_charset.h"
#include "text/arib_symbol_text.h"

namespace {

// C0 and C1 control functions that the decoder acts on.
const uint8_t kApr = 0x0D;  // active position return: a line break
const uint8_t kLs1 = 0x0E;
const uint8_t kLs0 = 0x0F;
const uint8_t kSs2 = 0x19;
const uint8_t kSs3 = 0x1D;
const uint8_t kEsc = 0x1B;
const uint8_t kSp = 0x20;

// Bytes after ESC.
const uint8_t kEscMultiByte = 0x24;  // ESC 0x24: designation of a two-byte set
const uint8_t kEscG0 = 0x28;         // ESC 0x28..0x2B F: designation to G0..G3
const uint8_t kEscG3 = 0x2B;
const uint8_t kEscLs2 = 0x6E;
const uint8_t kEscLs3 = 0x6F;
const uint8_t kEscLs1R = 0x7E;
const uint8_t kEscLs2R = 0x7D;
const uint8_t kEscLs3R = 0x7C;

const int32_t kGraphicSetCount = 4;

// The code-extension state of one string. It lives for one call only, so
// nothing carries over from one text to the next.
struct AribDecoderState {
    uint8_t designation[kGraphicSetCount];  // final byte of the set in G0..G3
    int32_t glIndex;                        // G set invoked into GL
    int32_t grIndex;                        // G set invoked into GR
    uint8_t characterSize;                  // kMiddleSize or kNormalSize
    bool hasPendingByte;                    // first byte of a pair is waiting
    uint8_t pendingByte;                    // that byte, as received (GL or GR form)
    SymbolStyle symbolStyle;                // how additional symbols are written
};

void InitDecoderState(AribDecoderState& state, SymbolStyle symbolStyle) {
    // The broadcast defaults: kanji in G0, alphanumerics in G1, hiragana in
    // G2, katakana in G3; G0 in GL and G2 in GR.
    state.designation[0] = kSetKanji;
    state.designation[1] = kSetAlphanumeric;
    state.designation[2] = kSetHiragana;
    state.designation[3] = kSetKatakana;
    state.glIndex = 0;
    state.grIndex = 2;
    state.characterSize = kNormalSize;
    state.hasPendingByte = false;
    state.pendingByte = 0;
    state.symbolStyle = symbolStyle;
}

// The destination with its capacity. Once a character does not fit together
// with the terminator the output is closed and the conversion ends there.
struct Output {
    char* destination;
    int32_t capacity;
    int32_t count;
    bool full;
};

void Append(Output& out, const uint8_t* bytes, int32_t n) {
    if (out.full || n <= 0) return;
    if (n > out.capacity - 1 - out.count) {
        out.full = true;
        return;
    }
    for (int32_t i = 0; i < n; ++i) out.destination[out.count + i] = static_cast<char>(bytes[i]);
    out.count += n;
}

void AppendLineBreak(Output& out) {
    const uint8_t crlf[2] = {0x0D, 0x0A};
    Append(out, crlf, 2);
}

bool IsAcceptedFinalByte(uint8_t f) {
    return f == kSetHiragana || f == kSetKatakana || f == kSetAlphanumeric || f == kSetKanji ||
           f == kSetKanjiPlane2 || f == kSetAdditionalSymbols;
}

bool IsTwoByteSet(uint8_t set) { return set == kSetKanji || set == kSetAdditionalSymbols; }

void Designate(AribDecoderState& state, int32_t g, uint8_t finalByte) {
    if (IsAcceptedFinalByte(finalByte)) state.designation[g] = finalByte;
}

// One graphic byte b of `set`, as it arrived: through GL (0x21-0x7E) or
// through GR (0xA1-0xFE).
void DecodeGraphic(AribDecoderState& state, uint8_t set, uint8_t b, bool throughGr, Output& out) {
    uint8_t bytes[2] = {0, 0};
    if (IsTwoByteSet(set)) {
        if (!state.hasPendingByte) {
            state.pendingByte = b;
            state.hasPendingByte = true;
            return;
        }
        uint8_t first = state.pendingByte;
        uint8_t second = b;
        if (throughGr) {
            // A first byte that came through GL ends up in 0xA1-0xFE here,
            // which the mapping turns into the zero pair or the substitute.
            first = static_cast<uint8_t>(first + 0x80);
            second = static_cast<uint8_t>(b - 0x80);
        }
        state.hasPendingByte = false;
        if (set == kSetAdditionalSymbols && state.symbolStyle == SymbolStyle::kBracketed) {
            const char* text = nullptr;
            const int32_t n = BracketedSymbolText(first, second, &text);
            if (n > 0) {
                Append(out, reinterpret_cast<const uint8_t*>(text), n);
                return;
            }
        }
        Append(out, bytes, MapTwoByteCharacter(set, first, second, state.characterSize, bytes));
        return;
    }
    if (set == kSetKanjiPlane2) return;  // consumed; the pending byte stays
    const uint8_t code = throughGr ? static_cast<uint8_t>(b - 0x80) : b;
    Append(out, bytes, MapOneByteCharacter(set, code, state.characterSize, bytes));
}

// The byte after SS2 or SS3, taken through GL. Only 0x21-0x7E is a graphic
// character there; any other byte is consumed as the shifted character but
// yields nothing and changes nothing, the pending byte included. Passing it
// on could put a NUL, a control code or a lone Shift_JIS lead byte into the
// text (the alphanumeric set in middle size is plain pass-through), and
// starting a kanji pair with it could only end in the zero pair.
void DecodeSingleShift(AribDecoderState& state, uint8_t set, uint8_t b, Output& out) {
    if (b < 0x21 || b > 0x7E) return;
    DecodeGraphic(state, set, b, false, out);
}

// ESC at source[-1]; `rest` bytes follow it. Returns the number of bytes the
// sequence consumed after the ESC. A sequence cut off by the end of the
// source consumes what is there and does nothing.
int32_t DecodeEscape(AribDecoderState& state, const uint8_t* source, int32_t rest, Output& out) {
    if (rest < 1) return 0;
    int32_t used = 1;
    const uint8_t b1 = source[0];
    if (b1 >= kEscG0 && b1 <= kEscG3) {
        if (rest >= 2) {
            Designate(state, b1 - kEscG0, source[1]);
            used = 2;
        }
    } else if (b1 == kEscMultiByte) {
        if (rest >= 2) {
            const uint8_t x = source[1];
            used = 2;
            if (IsAcceptedFinalByte(x)) {
                state.designation[0] = x;
            } else if (x >= kEscG0 + 1 && x <= kEscG3) {
                if (rest >= 3) {
                    Designate(state, x - kEscG0, source[2]);
                    used = 3;
                }
            }
            // ESC 0x24 0x28 and any other X: the two bytes are consumed and
            // the rest (a DRCS intermediate 0x20, its final byte) is decoded
            // as it comes.
        }
    } else if (b1 == kEscLs2) {
        state.glIndex = 2;
    } else if (b1 == kEscLs3) {
        state.glIndex = 3;
    } else if (b1 == kEscLs1R) {
        state.grIndex = 1;
    } else if (b1 == kEscLs2R) {
        state.grIndex = 2;
    } else if (b1 == kEscLs3R) {
        state.grIndex = 3;
    }
    // A sequence that swallowed an APR still breaks the line.
    if (source[used - 1] == kApr) AppendLineBreak(out);
    return used;
}

}  // namespace

int32_t DecodeAribText(char* destination, const uint8_t* source, int32_t length, int32_t capacity) {
    return DecodeAribText(destination, source, length, capacity, SymbolStyle::kUserDefined);
}

int32_t DecodeAribText(char* destination, const uint8_t* source, int32_t length, int32_t capacity,
                       SymbolStyle style) {
    if (capacity <= 0 || destination == nullptr) return 0;
    Output out = {destination, capacity, 0, false};
    if (source == nullptr) length = 0;

    AribDecoderState state;
    InitDecoderState(state, style);

    int32_t pos = 0;
    while (pos < length && !out.full) {
        const uint8_t b = source[pos++];
        if (b >= 0x21 && b <= 0x7E) {
            DecodeGraphic(state, state.designation[state.glIndex], b, false, out);
        } else if (b >= 0xA1 && b <= 0xFE) {
            DecodeGraphic(state, state.designation[state.grIndex], b, true, out);
        } else {
            switch (b) {
                case kApr: AppendLineBreak(out); break;
                case kLs1: state.glIndex = 1; break;
                case kLs0: state.glIndex = 0; break;
                case kSs2:
                case kSs3:
                    // The shift covers the next byte only; at the end of the
                    // source it does nothing.
                    if (pos < length) {
                        const uint8_t set = state.designation[b == kSs2 ? 2 : 3];
                        DecodeSingleShift(state, set, source[pos++], out);
                    }
                    break;
                case kEsc: pos += DecodeEscape(state, source + pos, length - pos, out); break;
                case kSp:
                    if (state.characterSize == kMiddleSize) {
                        const uint8_t space = 0x20;
                        Append(out, &space, 1);
                    } else {
                        const uint8_t ideographicSpace[2] = {0x81, 0x40};
                        Append(out, ideographicSpace, 2);
                    }
                    break;
                case kMiddleSize:
                case kNormalSize: state.characterSize = b; break;
                default:
                    // Every other control byte, including the other size
                    // controls and the parameters of control functions, is
                    // skipped on its own.
                    break;
            }
        }
    }
    destination[out.count] = '\0';
    return out.count;
}
