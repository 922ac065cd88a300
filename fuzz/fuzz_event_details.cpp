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

#include "text/event_details.h"

namespace {

#define DETAILS_CHECK(cond)                                                                 \
    do {                                                                                    \
        if (!(cond)) {                                                                      \
            std::fprintf(stderr, "check failed: %s (%s:%d)\n", #cond, __FILE__, __LINE__); \
            std::abort();                                                                   \
        }                                                                                   \
    } while (0)

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
    DETAILS_CHECK(details->genreCount >= 0 && details->genreCount <= kMaxGenreLines);
    DETAILS_CHECK(details->itemCount >= 0 && details->itemCount <= kMaxDetailItems);
    for (int32_t i = 0; i < details->genreCount; ++i) DETAILS_CHECK(Terminated(details->genres[i], kGenreLineSize));
    for (int32_t i = 0; i < details->itemCount; ++i) {
        DETAILS_CHECK(Terminated(details->items[i].description, kDetailDescriptionSize));
        DETAILS_CHECK(Terminated(details->items[i].text, kDetailTextSize));
    }
    DETAILS_CHECK(Terminated(details->extendedText, kExtendedTextSize));

    std::unique_ptr<EventDetails> again(new EventDetails);
    ReadEventDetails(loop.empty() ? nullptr : loop.data(), static_cast<int32_t>(loop.size()), style, *again);
    DETAILS_CHECK(std::memcmp(details.get(), again.get(), sizeof(EventDetails)) == 0);

    const char* description = "\x82\xA0 short";
    std::vector<char> full(static_cast<size_t>(kLargeTooltip));
    const int32_t fullCount = FormatEventDetailsTooltip(full.data(), kLargeTooltip, *details, description, cut);
    std::vector<char> part(static_cast<size_t>(capacity) + kGuard, kGuardByte);
    const int32_t n = FormatEventDetailsTooltip(part.data(), capacity, *details, description, cut);
    for (size_t i = static_cast<size_t>(capacity); i < part.size(); ++i) DETAILS_CHECK(part[i] == kGuardByte);
    if (capacity < 1) {
        DETAILS_CHECK(n == 0);
        return 0;
    }
    DETAILS_CHECK(n >= 0 && n < capacity && n <= fullCount);
    DETAILS_CHECK(part[static_cast<size_t>(n)] == '\0');
    DETAILS_CHECK(WholeCharacters(part.data(), n));
    DETAILS_CHECK(std::memcmp(part.data(), full.data(), static_cast<size_t>(n)) == 0);
    return 0;
}
