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
const uint8_t kEscDrcs = 0x20;       // intermediate byte of a DRCS designation
const uint8_t kEscLs2 = 0x6E;
const uint8_t kEscLs3 = 0x6F;
const uint8_t kEscLs1R = 0x7E;
const uint8_t kEscLs2R = 0x7D;
const uint8_t kEscLs3R = 0x7C;

// Final bytes of the DRCS designations (after the intermediate 0x20): the
// two-byte DRCS-0, the one-byte DRCS-1..15, and the macro set.
const uint8_t kFinalDrcs0 = 0x40;
const uint8_t kFinalDrcs1 = 0x41;
const uint8_t kFinalDrcs15 = 0x4F;
const uint8_t kFinalMacro = 0x70;

// What a G set holds when a DRCS or the macro set is designated to it. These
// are not final bytes (those are 0x30-0x7E), so they cannot be mistaken for
// a character set. The glyphs of DRCS characters are not kept here.
const uint8_t kHeldDrcsOneByte = 0x01;
const uint8_t kHeldDrcsTwoByte = 0x02;
const uint8_t kHeldMacro = 0x03;

const int32_t kGraphicSetCount = 4;

// The code-extension state of one string. It lives for one call only, so
// nothing carries over from one text to the next.
struct AribDecoderState {
    uint8_t designation[kGraphicSetCount];  // final byte of the set in G0..G3, or a kHeld* value
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

bool IsTwoByteSet(uint8_t set) {
    return set == kSetKanji || set == kSetAdditionalSymbols || set == kSetKanjiPlane2 || set == kHeldDrcsTwoByte;
}

void Designate(AribDecoderState& state, int32_t g, uint8_t finalByte) {
    // 0x42 is the Kanji set's own final byte (ESC 0x24 0x42 puts the
    // broadcast default back into G0 after the additional symbols); it is
    // decoded as the JIS compatible Kanji Plane 1 that stands for it.
    if (finalByte == kSetKanjiAribFinal) finalByte = kSetKanji;
    if (IsAcceptedFinalByte(finalByte)) state.designation[g] = finalByte;
}

// A DRCS designation (ESC ... 0x20 F). The final byte says whether the set
// has one or two bytes per character, whichever form carried it.
void DesignateDrcs(AribDecoderState& state, int32_t g, uint8_t finalByte) {
    if (finalByte == kFinalDrcs0) {
        state.designation[g] = kHeldDrcsTwoByte;
    } else if (finalByte >= kFinalDrcs1 && finalByte <= kFinalDrcs15) {
        state.designation[g] = kHeldDrcsOneByte;
    } else if (finalByte == kFinalMacro) {
        state.designation[g] = kHeldMacro;
    }
}

void AppendSubstitute(Output& out) {
    const uint8_t substitute[2] = {0x81, 0xA0};  // □
    Append(out, substitute, 2);
}

// One whole character of `set`: a one-byte code, or a pair (first, second)
// in GL form (a first byte in 0xA1-0xFE when the pair came through both
// halves).
void AppendCharacter(AribDecoderState& state, uint8_t set, uint8_t first, uint8_t second, Output& out) {
    uint8_t bytes[2] = {0, 0};
    switch (set) {
        case kSetKanji:
        case kSetAdditionalSymbols:
            if (state.symbolStyle == SymbolStyle::kBracketed &&
                (set == kSetAdditionalSymbols || IsAdditionalSymbolRow(first))) {
                const char* text = nullptr;
                const int32_t n = BracketedSymbolText(first, second, &text);
                if (n > 0) {
                    Append(out, reinterpret_cast<const uint8_t*>(text), n);
                    return;
                }
            }
            Append(out, bytes, MapTwoByteCharacter(set, first, second, state.characterSize, bytes));
            return;
        case kHeldDrcsOneByte:
        case kHeldDrcsTwoByte:
            // A character of a downloaded font: the glyph is not known here,
            // so it shows as an unmapped cell does.
            AppendSubstitute(out);
            return;
        case kSetKanjiPlane2:
        case kHeldMacro:
            // Consumed; no text. Macros are not run.
            return;
        default:
            Append(out, bytes, MapOneByteCharacter(set, first, state.characterSize, bytes));
            return;
    }
}

// One graphic byte b of `set`, as it arrived: through GL (0x21-0x7E) or
// through GR (0xA1-0xFE).
void DecodeGraphic(AribDecoderState& state, uint8_t set, uint8_t b, bool throughGr, Output& out) {
    if (set == kSetKanjiPlane2) return;  // consumed; the pending byte stays
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
        AppendCharacter(state, set, first, second, out);
        return;
    }
    AppendCharacter(state, set, throughGr ? static_cast<uint8_t>(b - 0x80) : b, 0, out);
}

bool IsGlGraphic(uint8_t b) { return b >= 0x21 && b <= 0x7E; }

// SS2 or SS3 at source[-1] with `rest` bytes after it: the next character of
// `set`, taken through GL, one byte for a one-byte set and two for a
// two-byte set. The shift invokes nothing for longer, and the character is
// whole in itself: a first byte waiting from GL or GR is neither completed
// nor dropped by it. Returns the bytes consumed; a character cut off by the
// end of the source consumes what is there and yields nothing.
//
// Only 0x21-0x7E is a graphic character through GL; a character with any
// other byte is consumed but yields nothing and changes nothing. Passing
// such a byte on could put a NUL, a control code or a lone Shift_JIS lead
// byte into the text (the alphanumeric set in middle size is plain
// pass-through).
int32_t DecodeSingleShift(AribDecoderState& state, uint8_t set, const uint8_t* source, int32_t rest, Output& out) {
    const int32_t size = IsTwoByteSet(set) ? 2 : 1;
    if (rest < size) return rest;
    const uint8_t first = source[0];
    const uint8_t second = size == 2 ? source[1] : 0;
    if (IsGlGraphic(first) && (size == 1 || IsGlGraphic(second))) AppendCharacter(state, set, first, second, out);
    return size;
}

// ESC at source[-1]; `rest` bytes follow it. Returns the number of bytes the
// sequence consumed after the ESC. A sequence cut off by the end of the
// source consumes what is there and does nothing.
//
// The designations, by the number of bytes of the set:
//   one-byte set  ESC 0x28..0x2B F          to G0..G3
//   two-byte set  ESC 0x24 F                to G0
//                 ESC 0x24 0x29..0x2B F     to G1..G3 (ESC 0x24 0x28 F to G0 as well)
//   DRCS          ESC 0x28..0x2B 0x20 F     one-byte DRCS or macro set to G0..G3
//                 ESC 0x24 0x28..0x2B 0x20 F  two-byte DRCS to G0..G3
// Either form designates any accepted set; F that names no accepted set
// leaves the G set as it was, and every byte of the sequence is consumed.
int32_t DecodeEscape(AribDecoderState& state, const uint8_t* source, int32_t rest, Output& out) {
    if (rest < 1) return 0;
    int32_t used = 1;
    const uint8_t b1 = source[0];
    if (b1 >= kEscG0 && b1 <= kEscG3) {
        const int32_t g = b1 - kEscG0;
        if (rest >= 2 && source[1] == kEscDrcs) {
            used = 2;
            if (rest >= 3) {
                DesignateDrcs(state, g, source[2]);
                used = 3;
            }
        } else if (rest >= 2) {
            Designate(state, g, source[1]);
            used = 2;
        }
    } else if (b1 == kEscMultiByte) {
        if (rest >= 2) {
            const uint8_t b2 = source[1];
            used = 2;
            if (b2 >= kEscG0 && b2 <= kEscG3) {
                const int32_t g = b2 - kEscG0;
                if (rest >= 3 && source[2] == kEscDrcs) {
                    used = 3;
                    if (rest >= 4) {
                        DesignateDrcs(state, g, source[3]);
                        used = 4;
                    }
                } else if (rest >= 3) {
                    Designate(state, g, source[2]);
                    used = 3;
                }
            } else {
                Designate(state, 0, b2);
            }
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
                    // The shift covers the next character: one or two bytes.
                    pos += DecodeSingleShift(state, state.designation[b == kSs2 ? 2 : 3], source + pos,
                                             length - pos, out);
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
