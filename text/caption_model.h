// The caption screen: what a caption statement leaves on the display, as
// rows of text with their position, size and colour, in Shift_JIS (code
// page 932, the viewer's text; tools convert it to UTF-8).
//
// A row is a run of characters written one after another on one display
// line with one colour and one kind of size: positioning to another place,
// a change of colour, or a change between small size (ruby) and the larger
// sizes starts a new row. Rows keep the order they were written in; the
// text functions put rows of the same line side by side in the order of
// their x.
//
// Fixed size: kCaptionMaxRows rows of kCaptionRowTextSize bytes each.
// Characters past a full row, and rows past the last, are dropped.
#ifndef KESTRIN_TEXT_CAPTION_MODEL_H
#define KESTRIN_TEXT_CAPTION_MODEL_H

#include <cstdint>

const int32_t kCaptionMaxRows = 32;
// Room for a line of 60 full-width characters with its terminator.
const int32_t kCaptionRowTextSize = 122;

// Character sizes of ARIB captions.
enum class CaptionCharSize : uint8_t {
    kSmall,         // SSZ: ruby
    kMiddle,        // MSZ: half width
    kNormal,        // NSZ
    kTiny,          // SZX 0x60
    kDoubleHeight,  // SZX 0x41
    kDoubleWidth,   // SZX 0x44
    kDoubleBoth,    // SZX 0x45
    kSpecial1,      // SZX 0x6B
    kSpecial2,      // SZX 0x64
};

// The name JSON output uses: "small", "middle", "normal", "tiny",
// "double-height", "double-width", "double", "special-1", "special-2".
const char* CaptionCharSizeName(CaptionCharSize size);

struct CaptionRow {
    int16_t x;               // active position of the first character, in
    int16_t y;               // dots of the writing plane (y is the bottom of the line)
    int16_t line;            // line and column of the first character in the
    int16_t column;          // display area, as APS counts them
    CaptionCharSize size;    // the largest size written in the row
    uint8_t foreground;      // colour map index (0-127): palette * 16 + entry
    uint8_t background;
    bool ruby;               // every character small size
    bool flashing;           // FLC on
    bool hasDrcs;            // holds a DRCS character (written as 〓)
    int32_t length;          // bytes of text before the terminator
    char text[kCaptionRowTextSize];
};

struct CaptionScreen {
    int32_t rowCount;
    CaptionRow rows[kCaptionMaxRows];
    // Writing format of the statement that wrote the screen.
    int16_t planeWidth;   // SWF
    int16_t planeHeight;
};

// Empties the screen. It resets the rows up to rowCount, so rowCount must be
// valid (0..kCaptionMaxRows, as in zeroed memory or after any call here);
// ResetCaptionDecoder clears every row of the decoder's screen.
void ClearCaptionScreen(CaptionScreen& screen);

// True when no row holds text (ruby rows count only when `withRuby`).
bool CaptionScreenIsEmpty(const CaptionScreen& screen, bool withRuby);

// The screen's text, in Shift_JIS: lines from top to bottom joined by CR LF,
// rows of one line side by side in the order of their x. Ruby rows are left
// out unless `withRuby`. Writes whole characters only and always a
// terminator (capacity >= 1); returns the bytes written before it.
int32_t FormatCaptionText(const CaptionScreen& screen, bool withRuby, char* destination, int32_t capacity);

// The RGB value (0xRRGGBB) and alpha (0-255, 0 transparent) of a colour map
// index of the ARIB common fixed colours (0-127).
struct CaptionColour {
    uint32_t rgb;
    uint8_t alpha;
};
CaptionColour CaptionColourOf(uint8_t index);

// Replacement written for a DRCS character: 〓 (GETA MARK) in Shift_JIS.
const char kDrcsReplacement[3] = {static_cast<char>(0x81), static_cast<char>(0xAC), 0};

#endif
