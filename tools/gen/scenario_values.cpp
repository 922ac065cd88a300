#include "tools/gen/scenario_values.h"

#include <cstdlib>
#include <cstring>
#include <unordered_map>

#include "text/arib_charset.h"
#include "tools/common/arib_symbols.h"
#include "tools/gen/scenario.h"
#include "tools/streamkit/arib_encoder.h"

namespace gen {

std::string Trim(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r')) --e;
    return s.substr(b, e - b);
}

std::vector<std::string> Words(const std::string& s) {
    std::vector<std::string> words;
    size_t i = 0;
    while (i < s.size()) {
        while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
        size_t j = i;
        while (j < s.size() && s[j] != ' ' && s[j] != '\t') ++j;
        if (j > i) words.push_back(s.substr(i, j - i));
        i = j;
    }
    return words;
}

bool ParseInt(const std::string& text, int64_t minimum, int64_t maximum, int64_t& value) {
    if (text.empty()) return false;
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    char* end = nullptr;
    const long long v = std::strtoll(text.c_str(), &end, hex ? 16 : 10);
    if (*end != '\0' || v < minimum || v > maximum) return false;
    value = v;
    return true;
}

// "2.5" seconds -> 2500 ms.
bool ParseSecondsMs(const std::string& text, int64_t& ms) {
    const size_t dot = text.find('.');
    int64_t whole = 0;
    if (!ParseInt(text.substr(0, dot), 0, 86400, whole)) return false;
    int64_t fraction = 0;
    if (dot != std::string::npos) {
        std::string digits = text.substr(dot + 1);
        if (digits.empty() || digits.size() > 3) return false;
        while (digits.size() < 3) digits += '0';
        if (!ParseInt(digits, 0, 999, fraction)) return false;
    }
    ms = whole * 1000 + fraction;
    return true;
}

// hh:mm:ss
bool ParseClock(const std::string& text, int& h, int& m, int& s) {
    if (text.size() != 8 || text[2] != ':' || text[5] != ':') return false;
    int64_t a, b, c;
    if (!ParseInt(text.substr(0, 2), 0, 99, a) || !ParseInt(text.substr(3, 2), 0, 59, b) ||
        !ParseInt(text.substr(6, 2), 0, 59, c)) {
        return false;
    }
    h = static_cast<int>(a);
    m = static_cast<int>(b);
    s = static_cast<int>(c);
    return true;
}

// yyyy-mm-dd hh:mm:ss
bool ParseDateTime(const std::string& text, int64_t& seconds) {
    const std::vector<std::string> w = Words(text);
    if (w.size() != 2 || w[0].size() != 10 || w[0][4] != '-' || w[0][7] != '-') return false;
    int64_t y, mo, d;
    if (!ParseInt(w[0].substr(0, 4), 1900, 2099, y) || !ParseInt(w[0].substr(5, 2), 1, 12, mo) ||
        !ParseInt(w[0].substr(8, 2), 1, 31, d)) {
        return false;
    }
    int h, m, s;
    if (!ParseClock(w[1], h, m, s) || h > 23) return false;
    seconds = SecondsOf(static_cast<int>(y), static_cast<int>(mo), static_cast<int>(d), h, m, s);
    return true;
}

// The Shift_JIS bytes of one additional symbol, from the plug-in's own
// character mapping, so that the decoder gives back exactly this character.
bool SymbolToShiftJis(uint16_t code, std::string& out) {
    uint8_t bytes[2];
    const int32_t n = MapTwoByteCharacter(kSetAdditionalSymbols, static_cast<uint8_t>(code >> 8),
                                          static_cast<uint8_t>(code), kNormalSize, bytes);
    if (n != 2 || (bytes[0] == 0x81 && bytes[1] == 0xA0)) return false;  // the substitute: no symbol
    out.append(reinterpret_cast<const char*>(bytes), 2);
    return true;
}

// A text value: UTF-8 with the escapes \n, \\ and \{symbol}, to Shift_JIS.
bool ParseText(const std::string& value, std::string& sjis, std::string& error) {
    sjis.clear();
    std::string run;
    auto flush = [&]() -> bool {
        if (run.empty()) return true;
        bool ok = true;
        sjis += Utf8ToShiftJis(run, &ok);
        if (!ok) {
            error = "the text has characters that code page 932 lacks: " + run;
            return false;
        }
        run.clear();
        return true;
    };
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\') {
            run += value[i];
            continue;
        }
        if (i + 1 >= value.size()) {
            error = "a backslash ends the text (write \\\\ for a backslash)";
            return false;
        }
        const char next = value[++i];
        if (next == 'n') {
            run += '\n';
        } else if (next == '\\') {
            run += '\\';
        } else if (next == '{') {
            const size_t close = value.find('}', i);
            if (close == std::string::npos) {
                error = "\\{ without its }";
                return false;
            }
            const std::string name = value.substr(i + 1, close - i - 1);
            i = close;
            int64_t code = -1;
            for (const AribSymbol& s : kAribSymbols) {
                if (name == s.name) code = s.code;
            }
            if (code < 0 && !(name.size() == 4 && ParseInt("0x" + name, 0x2121, 0x7E7E, code))) {
                error = "unknown additional symbol \\{" + name + "}";
                return false;
            }
            if (!flush()) return false;
            if (!SymbolToShiftJis(static_cast<uint16_t>(code), sjis)) {
                error = "\\{" + name + "} is not an ARIB additional symbol";
                return false;
            }
        } else {
            error = std::string("unknown escape \\") + next;
            return false;
        }
    }
    return flush();
}

std::vector<uint8_t> AribBytes(const std::string& sjis) {
    const size_t kRemembered = 4096;
    thread_local std::unordered_map<std::string, std::vector<uint8_t>> encoded;
    const auto found = encoded.find(sjis);
    if (found != encoded.end()) return found->second;
    if (encoded.size() >= kRemembered) encoded.clear();
    std::vector<uint8_t> bytes = EncodeAribFromShiftJis(sjis);
    encoded.emplace(sjis, bytes);
    return bytes;
}

size_t AribSize(const std::string& sjis) { return AribBytes(sjis).size(); }

}  // namespace gen
