// ARIB STD-B24 8-bit character coding to Shift_JIS.
#ifndef KESTRIN_TEXT_ARIB_DECODER_H
#define KESTRIN_TEXT_ARIB_DECODER_H

#include <cstdint>

// Decodes `length` bytes of ARIB text into `destination`, a buffer of
// `capacity` bytes. Writes whole characters only, never more than capacity
// - 1 bytes of text, and always a terminating 0x00 (when capacity >= 1).
// The conversion ends before the first character that would not fit
// together with the terminator. Returns the number of bytes written before
// the terminator.
int32_t DecodeAribText(char* destination, const uint8_t* source, int32_t length, int32_t capacity);

// How the ARIB additional symbols (the enclosed characters of the additional
// symbols set: the boxed 字, 二, デ, 新 ...) are written.
enum class SymbolStyle {
    // Code page 932 user-defined characters (lead bytes 0xF1-0xF4), which a
    // receiver's own font draws, or the code page 932 special character where
    // one exists (the parenthesised 株, circled digits). What the window shows.
    kUserDefined,
    // The enclosed character(s) in brackets, "[字]", "[PPV]": readable in any
    // font, for tooltips and logs. Symbols without such a short form (arrows,
    // weather marks, circled numbers ...) keep their kUserDefined bytes, so
    // nothing is lost and a font with the glyphs still shows them.
    kBracketed,
};

// As above, with the additional symbols written in `style`. A bracketed
// text is written whole or not at all, like any other character.
int32_t DecodeAribText(char* destination, const uint8_t* source, int32_t length, int32_t capacity,
                       SymbolStyle style);

#endif
