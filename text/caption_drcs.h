// The DRCS glyphs of a caption stream: read from the DRCS data units of
// the management and statement data, kept in a fixed store (those of the
// management data across statements, those of a statement until the next),
// and the text written for a DRCS character.
#ifndef KESTRIN_TEXT_CAPTION_DRCS_H
#define KESTRIN_TEXT_CAPTION_DRCS_H

#include <cstdint>

#include "text/caption_data.h"

// The final byte of the two-byte DRCS set (DRCS-0); DRCS-1..15 are 0x41-0x4F.
const uint8_t kDrcs0 = 0x40;

// DRCS glyphs kept at once (those of the management data and of the
// statement being shown) and the largest pattern kept (72 x 72 dots at 2
// bits, or 36 x 36 at 8): larger glyphs are counted but not kept.
const int32_t kCaptionMaxDrcs = 32;
const int32_t kDrcsPatternMaxSize = 1296;

// One DRCS glyph. `set` is the final byte the character is coded through:
// 0x40 for the two-byte DRCS-0 set, 0x41-0x4F for DRCS-1..15; `code` the
// character code (two bytes for DRCS-0, the byte in the low half otherwise).
struct CaptionDrcsGlyph {
    uint8_t set;
    uint16_t code;
    uint8_t width;
    uint8_t height;
    uint8_t depth;           // gradation levels minus 2 (0: two colours)
    uint8_t bitsPerPixel;
    bool fromManagement;     // kept across statements
    int32_t patternSize;
    uint8_t pattern[kDrcsPatternMaxSize];
};

struct CaptionDrcsStore {
    int32_t count;
    CaptionDrcsGlyph glyphs[kCaptionMaxDrcs];
};

// The glyph of a DRCS character, or null when none was received.
const CaptionDrcsGlyph* FindDrcsGlyph(const CaptionDrcsStore& store, uint8_t set, uint16_t code);

// The Shift_JIS text written for a DRCS glyph: the character it shows when
// it is one of the few glyphs the decoder recognises by their exact pattern
// (an arrow at the end of a continued line, a kanji of a name), otherwise
// 〓 (also for a character whose glyph was not received).
const char* DrcsReplacementText(const CaptionDrcsGlyph* glyph);

// A new statement drops the glyphs of the one before; new management data
// drops those of the management data before it.
void DropStatementGlyphs(CaptionDrcsStore& store);
void DropManagementGlyphs(CaptionDrcsStore& store);

// A DRCS data unit (one-byte 0x30 or two-byte 0x31 codes): every glyph is
// counted in `received`, the first font of each code kept unless it is too
// large or the store is full (counted in `dropped`). Every length is read
// through the bounded reader.
void ReadDrcsUnit(CaptionDrcsStore& store, const DataUnit& unit, bool fromManagement, int32_t* received,
                  int32_t* dropped);

#endif
