// The English word of a programme genre (content descriptor, tag 0x54) for
// the XMLTV <category lang="en">: the words media servers match their own
// categories on (movie, news, sports, kids, ...).
#ifndef KESTRIN_TOOLS_INFO_GENRE_ENGLISH_H
#define KESTRIN_TOOLS_INFO_GENRE_ENGLISH_H

#include <cstdint>

// The word for one content entry, nibbles = content_nibble_level_1 << 4 |
// content_nibble_level_2: the entry of the pair where the sub-genre decides
// (animation against special effects, travel or children under hobbies and
// education), else the one of its level 1. Null for the reserved levels
// 0xC and 0xD and for the extension level 0xE, which names no genre.
const char* GenreEnglish(uint8_t nibbles);

#endif
