#include "tools/info/cp932_utf8.h"

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
