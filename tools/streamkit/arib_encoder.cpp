#include "tools/streamkit/arib_encoder.h"

#include <random>

#include "text/arib_charset.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <iconv.h>
#endif

namespace {

enum class Size { kAny, kMiddle, kNormal };

// One ARIB character: a graphic character of a set (GL form), the space or a
// line break, with the character size it needs to decode as intended.
struct Unit {
    enum Kind { kGraphic, kSpace, kLineBreak } kind;
    uint8_t set;
    uint8_t bytes[2];
    int count;
    Size size;
};

Unit Graphic1(uint8_t set, uint8_t code, Size size) { return {Unit::kGraphic, set, {code, 0}, 1, size}; }
Unit Graphic2(uint8_t set, uint8_t row, uint8_t cell, Size size) {
    return {Unit::kGraphic, set, {row, cell}, 2, size};
}

bool IsDigitOrLetter(uint8_t c) {
    return (c >= 0x30 && c <= 0x39) || (c >= 0x41 && c <= 0x5A) || (c >= 0x61 && c <= 0x7A);
}

// Shift_JIS double-byte code to JIS X 0208 row/cell; false outside the 94x94
// grid of lead bytes 0x81-0x9F, 0xE0-0xEF.
bool ShiftJisToJis(uint8_t lead, uint8_t trail, uint8_t* row, uint8_t* cell) {
    if (!((lead >= 0x81 && lead <= 0x9F) || (lead >= 0xE0 && lead <= 0xEF))) return false;
    if (trail < 0x40 || trail == 0x7F || trail > 0xFC) return false;
    int j1 = (lead <= 0x9F ? lead - 0x70 : lead - 0xB0) * 2;
    int j2;
    if (trail < 0x9F) {
        j1 -= 1;
        j2 = trail - (trail >= 0x80 ? 0x20 : 0x1F);
    } else {
        j2 = trail - 0x7E;
    }
    *row = static_cast<uint8_t>(j1);
    *cell = static_cast<uint8_t>(j2);
    return true;
}

// Reverse lookups of the forms that are not plain JIS arithmetic: kana
// punctuation, full-width symbols of the alphanumeric set, the ASCII forms of
// kanji row 0x21 in middle size, and the additional symbols. Built once from
// the character-set mapping.
struct ReverseTables {
    std::vector<std::pair<uint16_t, Unit>> fullWidth;  // Shift_JIS code -> unit
    std::vector<std::pair<uint8_t, Unit>> ascii;       // ASCII byte -> unit

    ReverseTables() {
        uint8_t out[2];
        for (int code = 0x21; code <= 0x7E; ++code) {
            const uint8_t c = static_cast<uint8_t>(code);
            for (uint8_t set : {kSetHiragana, kSetKatakana}) {
                if (MapOneByteCharacter(set, c, kNormalSize, out) == 2 && out[0] == 0x81)
                    fullWidth.push_back({static_cast<uint16_t>(out[0] << 8 | out[1]), Graphic1(set, c, Size::kAny)});
            }
            if (!IsDigitOrLetter(c) && MapOneByteCharacter(kSetAlphanumeric, c, kNormalSize, out) == 2)
                fullWidth.push_back(
                    {static_cast<uint16_t>(out[0] << 8 | out[1]), Graphic1(kSetAlphanumeric, c, Size::kNormal)});
            if (MapTwoByteCharacter(kSetKanji, 0x21, c, kMiddleSize, out) == 1)
                ascii.push_back({out[0], Graphic2(kSetKanji, 0x21, c, Size::kMiddle)});
            for (int row = kFirstSymbolRow; row <= kLastSymbolRow; ++row) {
                const uint8_t r = static_cast<uint8_t>(row);
                if (MapTwoByteCharacter(kSetAdditionalSymbols, r, c, kNormalSize, out) == 2 && out[0] >= 0x80 &&
                    !(out[0] == 0x81 && out[1] == 0xA0)) {
                    const uint16_t sjis = static_cast<uint16_t>(out[0] << 8 | out[1]);
                    fullWidth.push_back({sjis, Graphic2(kSetAdditionalSymbols, r, c, Size::kAny)});
                    // The same symbol in the Kanji set's rows.
                    fullWidth.push_back({sjis, Graphic2(kSetKanji, r, c, Size::kAny)});
                }
            }
        }
    }
};

const ReverseTables& Reverse() {
    static const ReverseTables tables;
    return tables;
}

bool KanjiNeedsNormalSize(uint8_t row, uint8_t cell) {
    if (row == 0x23) return true;
    if (row != 0x21) return false;
    for (const auto& entry : Reverse().ascii) {
        if (entry.second.bytes[1] == cell) return true;
    }
    return false;
}

// Every ARIB coding of one Shift_JIS character, the plain one first.
std::vector<Unit> Alternatives(const std::string& sjis, size_t& pos) {
    std::vector<Unit> units;
    const uint8_t b = static_cast<uint8_t>(sjis[pos]);
    if (b == '\r' || b == '\n') {
        pos += (b == '\r' && pos + 1 < sjis.size() && sjis[pos + 1] == '\n') ? 2 : 1;
        units.push_back({Unit::kLineBreak, 0, {0x0D, 0}, 1, Size::kAny});
        return units;
    }
    if (b == 0x20) {
        ++pos;
        units.push_back({Unit::kSpace, 0, {0x20, 0}, 1, Size::kMiddle});
        return units;
    }
    if (b >= 0x21 && b <= 0x7E) {
        ++pos;
        units.push_back(Graphic1(kSetAlphanumeric, b, Size::kMiddle));
        if (IsDigitOrLetter(b)) units.push_back(Graphic2(kSetKanji, 0x23, b, Size::kMiddle));
        for (const auto& entry : Reverse().ascii) {
            if (entry.first == b) units.push_back(entry.second);
        }
        return units;
    }
    if (pos + 1 >= sjis.size()) {
        ++pos;
        return units;
    }
    const uint8_t trail = static_cast<uint8_t>(sjis[pos + 1]);
    const uint16_t code = static_cast<uint16_t>(b << 8 | trail);
    uint8_t row = 0;
    uint8_t cell = 0;
    const bool isJis = ShiftJisToJis(b, trail, &row, &cell);
    if (!isJis && !(b >= 0xF0 && b <= 0xFC)) {
        ++pos;  // not a double-byte lead: one unencodable byte
        return units;
    }
    pos += 2;
    if (isJis) {
        if (code == 0x8140) units.push_back({Unit::kSpace, 0, {0x20, 0}, 1, Size::kNormal});
        if (row == 0x24 && cell <= 0x73) units.push_back(Graphic1(kSetHiragana, cell, Size::kAny));
        if (row == 0x25 && cell <= 0x76) units.push_back(Graphic1(kSetKatakana, cell, Size::kAny));
        if (row == 0x23 && IsDigitOrLetter(cell)) units.push_back(Graphic1(kSetAlphanumeric, cell, Size::kNormal));
        // The Kanji set's rows 0x7A-0x7E are the additional symbols, not the
        // characters code page 932 has there.
        if (!IsAdditionalSymbolRow(row)) {
            units.push_back(
                Graphic2(kSetKanji, row, cell, KanjiNeedsNormalSize(row, cell) ? Size::kNormal : Size::kAny));
        }
    }
    for (const auto& entry : Reverse().fullWidth) {
        if (entry.first == code) units.push_back(entry.second);
    }
    return units;
}

const uint8_t kEsc = 0x1B;

class Encoder {
public:
    Encoder(bool varied, uint32_t seed) : varied_(varied), rng_(seed) {}

    void Put(const Unit& unit) {
        SetSize(unit.size);
        if (unit.kind == Unit::kLineBreak || unit.kind == Unit::kSpace) {
            out_.push_back(unit.bytes[0]);
            return;
        }
        const int g = ChooseSlot(unit);
        Invoke(unit, g);
    }

    std::vector<uint8_t> Take() { return std::move(out_); }

private:
    enum Method { kThroughGl, kThroughGr, kLockGl, kLockGr, kSingleShift };

    uint32_t Pick(uint32_t n) { return varied_ ? static_cast<uint32_t>(rng_() % n) : 0; }

    void SetSize(Size size) {
        uint8_t want = size_;
        if (size == Size::kMiddle) want = kMiddleSize;
        if (size == Size::kNormal) want = kNormalSize;
        if (size == Size::kAny && varied_ && Pick(6) == 0) want = Pick(2) ? kMiddleSize : kNormalSize;
        if (want != size_ || (varied_ && Pick(10) == 0)) {
            out_.push_back(want);
            size_ = want;
        }
    }

    void Designate(int g, uint8_t set) {
        // Both forms designate any accepted set; pick one.
        const bool twoByteForm = varied_ ? Pick(2) == 1 : set == kSetKanji || set == kSetAdditionalSymbols;
        out_.push_back(kEsc);
        if (twoByteForm) {
            out_.push_back(0x24);
            if (g != 0) out_.push_back(static_cast<uint8_t>(0x28 + g));
        } else {
            out_.push_back(static_cast<uint8_t>(0x28 + g));
        }
        // The Kanji set also by its own final byte, which decodes alike.
        out_.push_back(set == kSetKanji && varied_ && Pick(3) == 0 ? kSetKanjiAribFinal : set);
        designation_[g] = set;
    }

    int ChooseSlot(const Unit& unit) {
        std::vector<int> slots;
        for (int g = 0; g < 4; ++g) {
            if (designation_[g] == unit.set) slots.push_back(g);
        }
        if (!slots.empty() && !(varied_ && Pick(5) == 0)) return slots[Pick(static_cast<uint32_t>(slots.size()))];
        int g;
        if (varied_) {
            g = static_cast<int>(Pick(4));
        } else {
            g = unit.count == 2 ? 0 : 1;
        }
        Designate(g, unit.set);
        return g;
    }

    void LockGl(int g) {
        static const uint8_t kLs0 = 0x0F, kLs1 = 0x0E;
        if (g == 0) out_.push_back(kLs0);
        if (g == 1) out_.push_back(kLs1);
        if (g == 2) out_.insert(out_.end(), {kEsc, 0x6E});
        if (g == 3) out_.insert(out_.end(), {kEsc, 0x6F});
        gl_ = g;
    }

    void LockGr(int g) {
        if (g == 1) out_.insert(out_.end(), {kEsc, 0x7E});
        if (g == 2) out_.insert(out_.end(), {kEsc, 0x7D});
        if (g == 3) out_.insert(out_.end(), {kEsc, 0x7C});
        gr_ = g;
    }

    void Invoke(const Unit& unit, int g) {
        Method method;
        if (varied_) {
            std::vector<Method> methods;
            if (gl_ == g) methods.push_back(kThroughGl);
            if (gr_ == g) methods.push_back(kThroughGr);
            methods.push_back(kLockGl);
            if (g != 0) methods.push_back(kLockGr);
            // A single shift covers one character, of one or two bytes.
            if (g >= 2) methods.push_back(kSingleShift);
            method = methods[Pick(static_cast<uint32_t>(methods.size()))];
        } else if (gl_ == g) {
            method = kThroughGl;
        } else if (gr_ == g) {
            method = kThroughGr;
        } else if (g == 0 || unit.set == kSetAlphanumeric) {
            method = kLockGl;
        } else {
            method = kLockGr;
        }
        switch (method) {
            case kLockGl: LockGl(g); [[fallthrough]];
            case kThroughGl: out_.insert(out_.end(), unit.bytes, unit.bytes + unit.count); break;
            case kLockGr: LockGr(g); [[fallthrough]];
            case kThroughGr:
                for (int i = 0; i < unit.count; ++i) out_.push_back(static_cast<uint8_t>(unit.bytes[i] | 0x80));
                break;
            case kSingleShift:
                out_.push_back(g == 2 ? 0x19 : 0x1D);
                out_.insert(out_.end(), unit.bytes, unit.bytes + unit.count);
                break;
        }
    }

    bool varied_;
    std::mt19937 rng_;
    std::vector<uint8_t> out_;
    uint8_t designation_[4] = {kSetKanji, kSetAlphanumeric, kSetHiragana, kSetKatakana};
    int gl_ = 0;
    int gr_ = 2;
    uint8_t size_ = kNormalSize;
};

std::vector<uint8_t> Encode(const std::string& sjis, bool varied, uint32_t seed, bool* complete) {
    Encoder encoder(varied, seed);
    std::mt19937 choice(seed ^ 0x9E3779B9u);
    bool all = true;
    size_t pos = 0;
    while (pos < sjis.size()) {
        const std::vector<Unit> units = Alternatives(sjis, pos);
        if (units.empty()) {
            all = false;
            continue;
        }
        const size_t k = varied ? choice() % units.size() : 0;
        encoder.Put(units[k]);
    }
    if (complete) *complete = all;
    return encoder.Take();
}

#ifdef _WIN32
std::string Convert(const std::string& in, UINT from, UINT to, bool* ok) {
    if (ok) *ok = true;
    if (in.empty()) return std::string();
    const int wideLength = MultiByteToWideChar(from, 0, in.data(), static_cast<int>(in.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(wideLength), L'\0');
    MultiByteToWideChar(from, 0, in.data(), static_cast<int>(in.size()), &wide[0], wideLength);
    BOOL usedDefault = FALSE;
    BOOL* usedDefaultOut = to == CP_UTF8 ? nullptr : &usedDefault;
    const int outLength =
        WideCharToMultiByte(to, 0, wide.data(), wideLength, nullptr, 0, nullptr, usedDefaultOut);
    std::string out(static_cast<size_t>(outLength), '\0');
    WideCharToMultiByte(to, 0, wide.data(), wideLength, &out[0], outLength, nullptr, usedDefaultOut);
    if (ok && (usedDefault || wideLength == 0)) *ok = false;
    return out;
}
#else
std::string Convert(const std::string& in, const char* from, const char* to, bool* ok) {
    if (ok) *ok = true;
    std::string out;
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        if (ok) *ok = false;
        return out;
    }
    char* inPtr = const_cast<char*>(in.data());
    size_t inLeft = in.size();
    char buffer[256];
    while (inLeft > 0) {
        char* outPtr = buffer;
        size_t outLeft = sizeof(buffer);
        const size_t r = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
        out.append(buffer, static_cast<size_t>(outPtr - buffer));
        if (r == static_cast<size_t>(-1) && outLeft == sizeof(buffer) && inLeft > 0) {
            // Not convertible or cut off: skip one byte and go on.
            if (ok) *ok = false;
            ++inPtr;
            --inLeft;
        }
    }
    iconv_close(cd);
    return out;
}
#endif

}  // namespace

std::vector<uint8_t> EncodeAribFromShiftJis(const std::string& sjis, bool* complete) {
    return Encode(sjis, false, 0, complete);
}

std::vector<uint8_t> EncodeAribFromShiftJisVaried(const std::string& sjis, uint32_t seed, bool* complete) {
    return Encode(sjis, true, seed, complete);
}

std::string Utf8ToShiftJis(const std::string& utf8, bool* ok) {
#ifdef _WIN32
    return Convert(utf8, CP_UTF8, 932, ok);
#else
    return Convert(utf8, "UTF-8", "CP932", ok);
#endif
}

std::string ShiftJisToUtf8(const std::string& sjis, bool* ok) {
#ifdef _WIN32
    return Convert(sjis, 932, CP_UTF8, ok);
#else
    return Convert(sjis, "CP932", "UTF-8", ok);
#endif
}

std::vector<uint8_t> EncodeAribFromUtf8(const std::string& utf8, bool* complete) {
    bool converted = true;
    const std::string sjis = Utf8ToShiftJis(utf8, &converted);
    bool encoded = true;
    std::vector<uint8_t> out = EncodeAribFromShiftJis(sjis, &encoded);
    if (complete) *complete = converted && encoded;
    return out;
}
