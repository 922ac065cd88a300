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

#endif
