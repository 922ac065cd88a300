// Mapping of one character of an ARIB graphic set to Shift_JIS (code page 932).
#ifndef KESTRIN_TEXT_ARIB_CHARSET_H
#define KESTRIN_TEXT_ARIB_CHARSET_H

#include <cstdint>

// Final bytes of the graphic sets the decoder accepts.
const uint8_t kSetHiragana = 0x30;
const uint8_t kSetKatakana = 0x31;
const uint8_t kSetAlphanumeric = 0x4A;
const uint8_t kSetKanji = 0x39;              // JIS compatible Kanji Plane 1
const uint8_t kSetKanjiPlane2 = 0x3A;        // consumed, yields nothing
const uint8_t kSetAdditionalSymbols = 0x3B;
// The Kanji set's own final byte, which both decoders take as kSetKanji.
const uint8_t kSetKanjiAribFinal = 0x42;
// Sets that only captions designate. The event text decoder refuses them, so
// they never reach the mapping from there.
const uint8_t kSetJisKatakana = 0x49;        // JIS X 0201 katakana: half-width kana
const uint8_t kSetProportionalAlphanumeric = 0x36;
const uint8_t kSetProportionalHiragana = 0x37;
const uint8_t kSetProportionalKatakana = 0x38;
const uint8_t kSetMosaicA = 0x32;            // mosaic sets 0x32-0x35: consumed, no text
const uint8_t kSetMosaicD = 0x35;

// The set a final byte stands for in the mapping: the Kanji set as the JIS
// compatible Kanji Plane 1, the proportional sets as their fixed-width ones;
// any other final byte unchanged.
uint8_t MappingSetOf(uint8_t finalByte);

// Rows 0x7A-0x7E hold the additional symbols, in the additional symbols set
// and in the Kanji set alike.
const uint8_t kFirstSymbolRow = 0x7A;
const uint8_t kLastSymbolRow = 0x7E;
inline bool IsAdditionalSymbolRow(uint8_t row) { return row >= kFirstSymbolRow && row <= kLastSymbolRow; }

// Character size controls.
const uint8_t kMiddleSize = 0x89;  // MSZ
const uint8_t kNormalSize = 0x8A;  // NSZ

// Each returns the number of bytes (0, 1 or 2) stored in out.
int32_t MapOneByteCharacter(uint8_t set, uint8_t code, uint8_t characterSize, uint8_t out[2]);
int32_t MapTwoByteCharacter(uint8_t set, uint8_t first, uint8_t second, uint8_t characterSize,
                            uint8_t out[2]);

// JIS X 0208 row/cell code (row in the high byte) to Shift_JIS (lead byte in
// the high byte); 0 when the code is not a JIS X 0208 code.
uint16_t JisToShiftJis(uint16_t code);

#endif
