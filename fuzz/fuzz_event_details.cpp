// ReadEventDetails and FormatEventDetailsTooltip on arbitrary descriptor
// loops.
//
// Input layout: byte 0 chooses the symbol style (bit 0) and whether the
// event text was cut (bit 1); byte 1 the tooltip capacity (times 8, so up
// to 2040); the rest is the descriptor loop, copied to a buffer of exactly
// its length so that AddressSanitizer sees any read past it.
//
// Checked: counts within their limits; every text terminated inside its
// buffer; the tooltip terminated after the returned count, nothing written
// past its capacity, made of whole Shift_JIS characters, a prefix of the
// tooltip of a larger buffer; and a second read gives the same details.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "fuzz/fuzz_require.h"
#include "text/event_details.h"

namespace {

const size_t kGuard = 32;
const char kGuardByte = '\x5A';
const int32_t kLargeTooltip = 64 * 1024;

bool Terminated(const char* text, size_t size) { return std::memchr(text, '\0', size) != nullptr; }

bool WholeCharacters(const char* text, int32_t n) {
    for (int32_t i = 0; i < n; ++i) {
        const uint8_t b = static_cast<uint8_t>(text[i]);
        if ((b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC)) {
            if (i + 1 >= n) return false;
            ++i;
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const SymbolStyle style = (data[0] & 1) ? SymbolStyle::kBracketed : SymbolStyle::kUserDefined;
    const bool cut = (data[0] & 2) != 0;
    const int32_t capacity = data[1] * 8;
    std::vector<uint8_t> loop(data + 2, data + size);

    std::unique_ptr<EventDetails> details(new EventDetails);
    ReadEventDetails(loop.empty() ? nullptr : loop.data(), static_cast<int32_t>(loop.size()), style, *details);
    FUZZ_REQUIRE(details->genreCount >= 0 && details->genreCount <= kMaxGenreLines);
    FUZZ_REQUIRE(details->itemCount >= 0 && details->itemCount <= kMaxDetailItems);
    for (int32_t i = 0; i < details->genreCount; ++i) FUZZ_REQUIRE(Terminated(details->genres[i], kGenreLineSize));
    for (int32_t i = 0; i < details->itemCount; ++i) {
        FUZZ_REQUIRE(Terminated(details->items[i].description, kDetailDescriptionSize));
        FUZZ_REQUIRE(Terminated(details->items[i].text, kDetailTextSize));
    }
    FUZZ_REQUIRE(Terminated(details->extendedText, kExtendedTextSize));

    std::unique_ptr<EventDetails> again(new EventDetails);
    ReadEventDetails(loop.empty() ? nullptr : loop.data(), static_cast<int32_t>(loop.size()), style, *again);
    FUZZ_REQUIRE(std::memcmp(details.get(), again.get(), sizeof(EventDetails)) == 0);

    const char* description = "\x82\xA0 short";
    std::vector<char> full(static_cast<size_t>(kLargeTooltip));
    const int32_t fullCount = FormatEventDetailsTooltip(full.data(), kLargeTooltip, *details, description, cut);
    std::vector<char> part(static_cast<size_t>(capacity) + kGuard, kGuardByte);
    const int32_t n = FormatEventDetailsTooltip(part.data(), capacity, *details, description, cut);
    for (size_t i = static_cast<size_t>(capacity); i < part.size(); ++i) FUZZ_REQUIRE(part[i] == kGuardByte);
    if (capacity < 1) {
        FUZZ_REQUIRE(n == 0);
        return 0;
    }
    FUZZ_REQUIRE(n >= 0 && n < capacity && n <= fullCount);
    FUZZ_REQUIRE(part[static_cast<size_t>(n)] == '\0');
    FUZZ_REQUIRE(WholeCharacters(part.data(), n));
    FUZZ_REQUIRE(std::memcmp(part.data(), full.data(), static_cast<size_t>(n)) == 0);
    return 0;
}
