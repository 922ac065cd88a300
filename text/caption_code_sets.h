// The code sets of caption text: the designations of G0..G3 (the character
// sets of the event texts, the DRCS sets and the macro set), the profile's
// starting sets, and the escape sequences that change them.
#ifndef KESTRIN_TEXT_CAPTION_CODE_SETS_H
#define KESTRIN_TEXT_CAPTION_CODE_SETS_H

#include <cstdint>

#include "text/caption_format.h"

namespace caption_code_sets {

// Final bytes of the DRCS-1..15 sets and of the macro set (after the
// intermediate 0x20); DRCS-0 is kDrcs0.
const uint8_t kDrcsFirst = 0x41;
const uint8_t kDrcsLast = 0x4F;
const uint8_t kMacroSet = 0x70;

// Whether a final byte names a DRCS or the macro set.
bool IsDrcsFinal(uint8_t f);
bool IsTwoByteSet(const CaptionTextState& t, int32_t g);
// The sets the profile starts a statement with.
void InitCodeState(CaptionTextState& t, CaptionProfile profile);
void Designate(CaptionTextState& t, int32_t g, uint8_t finalByte, bool drcs);
// ESC at bytes[-1]: a designation or a locking shift; returns the bytes
// used after it.
int32_t Escape(CaptionTextState& t, const uint8_t* b, int32_t rest);

}  // namespace caption_code_sets

#endif
