#include "tools/info/cp932_utf8.h"

#include <cstdint>
#include <map>

#include "text/arib_charset.h"
#include "tools/common/arib_symbol_unicode.h"
#include "tools/common/arib_symbols.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <iconv.h>

#include <cerrno>
#endif

#ifdef _WIN32

std::string Cp932ToUtf8(const std::string& text) {
    if (text.empty()) return std::string();
    const int wideLength = MultiByteToWideChar(932, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (wideLength <= 0) return std::string();
    std::wstring wide(static_cast<size_t>(wideLength), L'\0');
    MultiByteToWideChar(932, 0, text.data(), static_cast<int>(text.size()), &wide[0], wideLength);
    const int utf8Length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideLength, nullptr, 0, nullptr, nullptr);
    if (utf8Length <= 0) return std::string();
    std::string out(static_cast<size_t>(utf8Length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideLength, &out[0], utf8Length, nullptr, nullptr);
    return out;
}

#else

std::string Cp932ToUtf8(const std::string& text) {
    static const char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD
    std::string out;
    iconv_t cd = iconv_open("UTF-8", "CP932");
    if (cd == reinterpret_cast<iconv_t>(-1)) return text;  // no converter: pass the bytes on
    char* in = const_cast<char*>(text.data());
    size_t inLeft = text.size();
    char chunk[256];
    while (inLeft > 0) {
        char* o = chunk;
        size_t oLeft = sizeof chunk;
        const size_t r = iconv(cd, &in, &inLeft, &o, &oLeft);
        out.append(chunk, static_cast<size_t>(o - chunk));
        if (r != static_cast<size_t>(-1)) break;
        if (errno == E2BIG) continue;
        // EILSEQ: a byte that starts no code page 932 character; EINVAL: a
        // lead byte cut off by the end. Either way one byte is replaced.
        out += kReplacement;
        ++in;
        --inLeft;
    }
    iconv_close(cd);
    return out;
}

#endif

void AppendUtf8(std::string& out, uint32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

namespace {


bool IsLeadByte(uint8_t c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

// The Unicode character of a double-byte code that the plug-in's decoder
// writes for an additional symbol, found through its own mapping of the
// symbols; 0 if none. The named symbols count wherever the decoder puts
// them; the others of ARIB's Unicode mapping where they land in the
// user-defined area (lead bytes 0xF0-0xF9), so that a code page 932
// character that some symbol shares is left to the converter.
uint32_t SymbolFor(uint8_t lead, uint8_t trail) {
    static const std::map<uint16_t, uint32_t> symbols = [] {
        std::map<uint16_t, uint32_t> m;
        auto add = [&m](uint16_t code, uint32_t unicode, bool anywhere) {
            uint8_t bytes[2];
            if (MapTwoByteCharacter(kSetAdditionalSymbols, static_cast<uint8_t>(code >> 8), static_cast<uint8_t>(code),
                                    kNormalSize, bytes) != 2) {
                return;
            }
            if (!anywhere && (bytes[0] < 0xF0 || bytes[0] > 0xF9)) return;
            m.emplace(static_cast<uint16_t>(bytes[0] << 8 | bytes[1]), unicode);
        };
        for (const AribSymbol& s : kAribSymbols) add(s.code, s.unicode, true);
        for (const AribSymbolUnicode& s : kAribSymbolUnicode) add(s.code, s.unicode, false);
        return m;
    }();
    const auto found = symbols.find(static_cast<uint16_t>(lead << 8 | trail));
    return found == symbols.end() ? 0 : found->second;
}

}  // namespace

std::string Cp932ToUtf8WithSymbols(const std::string& text) {
    std::string out;
    std::string run;  // code page 932 text still to convert
    for (size_t i = 0; i < text.size(); ++i) {
        const uint8_t c = static_cast<uint8_t>(text[i]);
        if (IsLeadByte(c) && i + 1 < text.size()) {
            const uint32_t symbol = SymbolFor(c, static_cast<uint8_t>(text[i + 1]));
            if (symbol != 0) {
                out += Cp932ToUtf8(run);
                run.clear();
                AppendUtf8(out, symbol);
            } else {
                run.append(text, i, 2);
            }
            ++i;
        } else {
            run += static_cast<char>(c);
        }
    }
    return out + Cp932ToUtf8(run);
}
