// A programme's title broken into the lines of a grid cell as Japanese text
// breaks, pure functions over Shift_JIS bytes.
#ifndef KESTRIN_UI_GRID_TEXT_H
#define KESTRIN_UI_GRID_TEXT_H

#include <cstdint>

// Where Shift_JIS `text` breaks into at most `lines` lines of `columns`
// single-byte widths each (a double-byte character counts two and is never
// split), as Japanese text breaks: no line starts with a closing bracket,
// 、。・ー, a small kana or the like, none ends with an opening bracket, and
// a bracketed additional symbol ("[字]", "[HV]", "［二］") or a word of ASCII
// letters and digits stays whole, unless it is wider than a line. The last
// line, where the text is cut, ends neither inside a symbol nor after an
// opening bracket. `bytes` bounds the text kept with a '\n' between lines.
// `ends` (room for `lines`) gets the byte offset where each line ends and
// the next begins. Returns the number of lines.
int32_t BreakGridText(const char* text, int32_t columns, int32_t lines, int32_t bytes, int32_t* ends);

// Cuts Shift_JIS `text` into lines as BreakGridText does, joined by '\n',
// into `out` (`capacity` bytes, always terminated). Control bytes become
// spaces. Returns the length.
int32_t CutGridText(const char* text, int32_t columns, int32_t lines, char* out, int32_t capacity);

#endif
