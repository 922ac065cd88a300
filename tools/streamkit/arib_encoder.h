// ARIB STD-B24 8-bit text encoder for tests, fuzz seeds, benchmarks and
// sample streams: the inverse of DecodeAribText.
//
// Shift_JIS (code page 932) text goes in; ARIB bytes come out that decode,
// from the broadcast initial state (kanji in G0/GL, alphanumerics in G1,
// hiragana in G2/GR, katakana in G3, normal size), back to the same
// Shift_JIS, with these normalisations:
//   - a line break ("\r\n", "\n" or "\r") becomes APR, which decodes as "\r\n";
//   - ASCII 0x20-0x7E is sent in middle size (MSZ), full-width characters in
//     normal size (NSZ), switching size as needed;
//   - characters with no ARIB form here (half-width katakana, control codes,
//     user-defined codes outside the additional symbols, broken lead bytes)
//     are left out and *complete is set to false.
//
// EncodeAribFromShiftJis gives a plain, deterministic encoding in the style of
// broadcasters: kanji through GL, hiragana through GR, katakana by LS3R,
// alphanumerics by LS1, additional symbols designated to G0 when needed.
// EncodeAribFromShiftJisVaried picks, character by character and driven by
// `seed`, among the equivalent codings: every G set, GL or GR, locking
// shifts, single shifts (of one- and two-byte sets), one- and two-byte
// designation forms, redundant size controls, and the kanji-set forms of
// kana, alphanumerics and additional symbols.
#ifndef KESTRIN_TOOLS_STREAMKIT_ARIB_ENCODER_H
#define KESTRIN_TOOLS_STREAMKIT_ARIB_ENCODER_H

#include <cstdint>
#include <string>
#include <vector>

std::vector<uint8_t> EncodeAribFromShiftJis(const std::string& sjis, bool* complete = nullptr);
std::vector<uint8_t> EncodeAribFromShiftJisVaried(const std::string& sjis, uint32_t seed,
                                                  bool* complete = nullptr);

// UTF-8 convenience: converts to code page 932 first (iconv on POSIX,
// WideCharToMultiByte on Windows). Characters code page 932 lacks are left
// out and *complete is set to false.
std::vector<uint8_t> EncodeAribFromUtf8(const std::string& utf8, bool* complete = nullptr);

// Code page 932 <-> UTF-8. Unconvertible input is skipped and *ok set to
// false.
std::string Utf8ToShiftJis(const std::string& utf8, bool* ok = nullptr);
std::string ShiftJisToUtf8(const std::string& sjis, bool* ok = nullptr);

#endif
