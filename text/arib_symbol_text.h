// Readable text for the ARIB additional symbols (the enclosed characters of
// the additional symbols set, final byte 0x3B, that programme titles carry:
// the boxed 字 for subtitles, 二 for bilingual audio, 新 for a new series).
#ifndef KESTRIN_TEXT_ARIB_SYMBOL_TEXT_H
#define KESTRIN_TEXT_ARIB_SYMBOL_TEXT_H

#include <cstdint>

// The enclosed character(s) of the symbol at row/cell in brackets, as
// Shift_JIS ("[字]", "[PPV]"), through *text; returns its length in bytes, or
// 0 (and *text null) for a symbol that has no such short form.
int32_t BracketedSymbolText(uint8_t row, uint8_t cell, const char** text);

#endif
