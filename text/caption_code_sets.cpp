#include "text/caption_code_sets.h"

#include "text/arib_charset.h"
#include "text/caption_drcs.h"

namespace caption_code_sets {

bool IsDrcsFinal(uint8_t f) { return f == kDrcs0 || (f >= kDrcsFirst && f <= kDrcsLast) || f == kMacroSet; }

bool IsTwoByteSet(const CaptionTextState& t, int32_t g) {
    const uint8_t f = t.designation[g];
    if (t.designationIsDrcs[g]) return f == kDrcs0;
    const uint8_t set = MappingSetOf(f);
    return set == kSetKanji || set == kSetKanjiPlane2 || set == kSetAdditionalSymbols;
}

// The code sets a statement body starts with. Profile A: Kanji, alphanumerics,
// hiragana and the macro set in G0-G3. Profile C (the one-segment service):
// DRCS-1, alphanumerics, Kanji and katakana, as libaribb24's profile C
// decoder starts. GL holds G0 and GR G2 in both.
void InitCodeState(CaptionTextState& t, CaptionProfile profile) {
    const bool c = profile == CaptionProfile::kC;
    t.designation[0] = c ? kDrcsFirst : kSetKanjiAribFinal;
    t.designation[1] = kSetAlphanumeric;
    t.designation[2] = c ? kSetKanjiAribFinal : kSetHiragana;
    t.designation[3] = c ? kSetKatakana : kMacroSet;
    t.designationIsDrcs[0] = c;
    t.designationIsDrcs[1] = false;
    t.designationIsDrcs[2] = false;
    t.designationIsDrcs[3] = !c;
    t.glIndex = 0;
    t.grIndex = 2;
    t.hasPendingByte = false;
    t.pendingByte = 0;
}

void Designate(CaptionTextState& t, int32_t g, uint8_t finalByte, bool drcs) {
    if (g < 0 || g > 3) return;
    if (drcs && !IsDrcsFinal(finalByte)) return;
    if (!drcs && (finalByte < 0x30 || finalByte > 0x4F)) return;
    t.designation[g] = finalByte;
    t.designationIsDrcs[g] = drcs;
    t.hasPendingByte = false;
}

// ESC at bytes[-1]; returns the bytes used after it.
int32_t Escape(CaptionTextState& t, const uint8_t* b, int32_t rest) {
    if (rest < 1) return 0;
    const uint8_t b1 = b[0];
    if (b1 >= 0x28 && b1 <= 0x2B) {
        // One-byte set to G0..G3; 0x20 F: a one-byte DRCS or the macro set.
        if (rest >= 2 && b[1] == 0x20) {
            if (rest >= 3) Designate(t, b1 - 0x28, b[2], true);
            return rest >= 3 ? 3 : 2;
        }
        if (rest >= 2) Designate(t, b1 - 0x28, b[1], false);
        return rest >= 2 ? 2 : 1;
    }
    if (b1 == 0x24) {
        if (rest < 2) return 1;
        const uint8_t b2 = b[1];
        if (b2 >= 0x28 && b2 <= 0x2B) {
            // Two-byte set to G0..G3 (0x28 only with a DRCS), 0x20 F: DRCS-0.
            if (rest >= 3 && b[2] == 0x20) {
                if (rest >= 4) Designate(t, b2 - 0x28, b[3], true);
                return rest >= 4 ? 4 : 3;
            }
            if (rest >= 3) Designate(t, b2 - 0x28, b[2], false);
            return rest >= 3 ? 3 : 2;
        }
        Designate(t, 0, b2, false);
        return 2;
    }
    switch (b1) {
        case 0x6E: t.glIndex = 2; break;  // LS2
        case 0x6F: t.glIndex = 3; break;  // LS3
        case 0x7E: t.grIndex = 1; break;  // LS1R
        case 0x7D: t.grIndex = 2; break;  // LS2R
        case 0x7C: t.grIndex = 3; break;  // LS3R
        default: break;
    }
    return 1;
}

}  // namespace caption_code_sets
