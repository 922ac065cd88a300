// Programme genres of the content descriptor (tag 0x54, ARIB STD-B10) as the
// Shift_JIS lines of the details tooltip.
#ifndef KESTRIN_TEXT_GENRE_TABLE_H
#define KESTRIN_TEXT_GENRE_TABLE_H

#include <cstdint>

// One genre line with its terminator; the longest line the table can make
// is shorter (checked where the table is compiled in).
const int32_t kGenreLineSize = 64;

// content_nibble_level_1 = 0xE: the user nibbles carry an extended
// classification, shown as the genre name alone.
const uint8_t kGenreExtension = 0xE;

// Writes the line of one content entry, nibbles = content_nibble_level_1 << 4
// | content_nibble_level_2, into `destination` (`capacity` bytes):
//   "ジャンル：<genre> - <sub-genre>", or "ジャンル：拡張" for level 1 = 0xE.
// Returns its length. Returns 0 and writes an empty string for a reserved
// level 1 (0xC, 0xD) or a pair that is not assigned (under 0xE as well), and
// for a line that does not fit whole: a genre is never shown cut.
int32_t FormatGenreLine(char* destination, int32_t capacity, uint8_t nibbles);

#endif
