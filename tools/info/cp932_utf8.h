// Shift_JIS (code page 932) text, as the viewer window shows it, to UTF-8 for
// a terminal or a file.
#ifndef KESTRIN_TOOLS_INFO_CP932_UTF8_H
#define KESTRIN_TOOLS_INFO_CP932_UTF8_H

#include <cstdint>
#include <string>

// Converts code page 932 text to UTF-8 with the Windows mapping: the
// user-defined area (lead bytes 0xF0-0xF9, where the ARIB additional symbols
// land) becomes the Private Use Area from U+E000. A byte sequence that is not
// code page 932 becomes U+FFFD and the conversion goes on behind it.
std::string Cp932ToUtf8(const std::string& text);

// The same, except that the ARIB additional symbols become their Unicode
// characters (U+1F211 for the boxed "subtitles" mark; tools/common/
// arib_symbols.h and arib_symbol_unicode.h) rather than Private Use Area
// characters.
std::string Cp932ToUtf8WithSymbols(const std::string& text);

// Appends the code point `c` to `out` in UTF-8.
void AppendUtf8(std::string& out, uint32_t c);

#endif
