// Bounded Shift_JIS (code page 932) string operations for fixed-size
// buffers. Every function writes within `capacity` bytes, always writes the
// terminator (capacity >= 1) and never leaves half of a double-byte
// character at the end.
#ifndef KESTRIN_TEXT_SHIFT_JIS_TEXT_H
#define KESTRIN_TEXT_SHIFT_JIS_TEXT_H

#include <cstdint>

// True for a Shift_JIS lead byte (0x81-0x9F, 0xE0-0xFC).
bool IsShiftJisLeadByte(uint8_t b);

// Copies the NUL-terminated `source` into `destination`, ending before the
// first character that would not fit together with the terminator. A lead
// byte whose trail byte is missing (the source ends after it) is dropped.
// Returns the number of bytes copied before the terminator.
int32_t CopyShiftJisBounded(char* destination, int32_t capacity, const char* source);

// Appends `count` bytes of `text` to the NUL-terminated `destination` only
// when all of them fit together with the terminator; otherwise leaves it
// unchanged and returns false. Used for entries that must not be cut.
bool AppendWhole(char* destination, int32_t capacity, const char* text, int32_t count);

#endif
