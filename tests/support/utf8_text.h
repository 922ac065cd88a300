// Walking UTF-8 text one character at a time, for the tests that compare
// decoded texts with other decoders' (the caption reference texts,
// libaribb24). A truncated sequence at the end is taken as it stands.
#ifndef KESTRIN_TESTS_SUPPORT_UTF8_TEXT_H
#define KESTRIN_TESTS_SUPPORT_UTF8_TEXT_H

#include <cstddef>
#include <cstdint>
#include <string>

// Bytes of the character of `s` that starts at `i`.
inline size_t CharLength(const std::string& s, size_t i) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    const size_t n = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    return i + n <= s.size() ? n : s.size() - i;
}

// The code point of the `n`-byte character of `s` at `i`.
inline uint32_t CodePoint(const std::string& s, size_t i, size_t n) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (n == 1) return c;
    uint32_t v = c & (n == 2 ? 0x1F : n == 3 ? 0x0F : 0x07);
    for (size_t k = 1; k < n; ++k) v = (v << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
    return v;
}

#endif
