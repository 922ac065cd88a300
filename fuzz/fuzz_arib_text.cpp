// DecodeAribText on arbitrary bytes and capacities.
//
// Input layout: bytes 0-1 choose the capacity (little-endian, taken modulo
// 1100, minus 8, so that zero and negative capacities come up too); the
// rest is the ARIB source.
//
// Checked for every input: no byte is written at or past the capacity (a
// guard region after the buffer, and AddressSanitizer on a buffer of exactly
// the capacity); the terminator follows the returned count; the count is
// below the capacity and at most twice the source length; the text is whole
// characters (ASCII, CR LF, the zero pair, or a Shift_JIS double-byte code);
// a smaller capacity gives a prefix of the full output, cut at a character
// boundary; and a second call gives the same bytes (no state is kept).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "fuzz/fuzz_require.h"
#include "text/arib_decoder.h"

namespace {

const size_t kGuard = 32;
const char kGuardByte = '\x5A';

bool IsLead(uint8_t b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }
bool IsTrail(uint8_t b) { return b >= 0x40 && b <= 0xFC && b != 0x7F; }

// Offsets at which a character starts, plus the end; aborts on a byte that
// starts no character the decoder may produce.
std::vector<int32_t> CharacterStarts(const char* text, int32_t n) {
    std::vector<int32_t> starts;
    const uint8_t* p = reinterpret_cast<const uint8_t*>(text);
    int32_t i = 0;
    while (i < n) {
        starts.push_back(i);
        const uint8_t b = p[i];
        if (b >= 0x20 && b <= 0x7E) {
            i += 1;
        } else if (b == 0x0D) {
            FUZZ_REQUIRE(i + 1 < n && p[i + 1] == 0x0A);
            i += 2;
        } else if (b == 0x00) {
            FUZZ_REQUIRE(i + 1 < n && p[i + 1] == 0x00);
            i += 2;
        } else {
            FUZZ_REQUIRE(IsLead(b));
            FUZZ_REQUIRE(i + 1 < n && IsTrail(p[i + 1]));
            i += 2;
        }
    }
    starts.push_back(n);
    return starts;
}

int32_t DecodeGuarded(const uint8_t* source, int32_t length, int32_t capacity, std::vector<char>& text) {
    const size_t size = static_cast<size_t>(capacity > 0 ? capacity : 0);
    std::vector<char> buffer(size + kGuard, kGuardByte);
    const int32_t n = DecodeAribText(buffer.data(), source, length, capacity);
    for (size_t i = size; i < buffer.size(); ++i) FUZZ_REQUIRE(buffer[i] == kGuardByte);
    if (capacity <= 0) {
        FUZZ_REQUIRE(n == 0);
        text.clear();
        return n;
    }
    FUZZ_REQUIRE(n >= 0 && n < capacity);
    FUZZ_REQUIRE(buffer[static_cast<size_t>(n)] == '\0');
    text.assign(buffer.begin(), buffer.begin() + n);

    // The same call on a buffer of exactly the capacity, for AddressSanitizer.
    std::unique_ptr<char[]> exact(new char[size]);
    FUZZ_REQUIRE(DecodeAribText(exact.get(), source, length, capacity) == n);
    FUZZ_REQUIRE(std::memcmp(exact.get(), buffer.data(), static_cast<size_t>(n) + 1) == 0);
    return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2 || size > 65536) return 0;
    const int32_t capacity = static_cast<int32_t>((data[0] | data[1] << 8) % 1100) - 8;
    const uint8_t* source = data + 2;
    const int32_t length = static_cast<int32_t>(size - 2);

    std::vector<char> full;
    const int32_t fullCapacity = 2 * length + 1;
    const int32_t fullCount = DecodeGuarded(source, length, fullCapacity, full);
    FUZZ_REQUIRE(fullCount <= 2 * length);
    const std::vector<int32_t> starts = CharacterStarts(full.data(), fullCount);

    std::vector<char> again;
    FUZZ_REQUIRE(DecodeGuarded(source, length, fullCapacity, again) == fullCount);
    FUZZ_REQUIRE(again == full);

    std::vector<char> cut;
    const int32_t cutCount = DecodeGuarded(source, length, capacity, cut);
    if (capacity > 0) {
        FUZZ_REQUIRE(cutCount <= fullCount);
        FUZZ_REQUIRE(cutCount == 0 || std::memcmp(cut.data(), full.data(), static_cast<size_t>(cutCount)) == 0);
        // Cut at a character boundary, and as late as the capacity allows:
        // the next character would not have fitted with the terminator.
        size_t k = 0;
        while (k < starts.size() && starts[k] < cutCount) ++k;
        FUZZ_REQUIRE(k < starts.size() && starts[k] == cutCount);
        // (The additional symbol 0x7D 0x6E is "!!", two ASCII bytes that
        // come as one character.)
        if (cutCount < fullCount) {
            int32_t next = starts[k + 1] - cutCount;
            if (full[cutCount] == '!' && cutCount + 1 < fullCount && full[cutCount + 1] == '!') next = 2;
            FUZZ_REQUIRE(cutCount + next + 1 > capacity);
        }
    }
    return 0;
}
