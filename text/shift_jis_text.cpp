#include "text/shift_jis_text.h"

#include <cstring>

bool IsShiftJisLeadByte(uint8_t b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }

int32_t CopyShiftJisBounded(char* destination, int32_t capacity, const char* source) {
    if (capacity < 1) return 0;
    int32_t i = 0;
    while (source[i] != '\0') {
        int32_t width = 1;
        if (IsShiftJisLeadByte(static_cast<uint8_t>(source[i]))) {
            // A lead byte at the very end of the source has lost its trail
            // byte; the window would join it with whatever follows.
            if (source[i + 1] == '\0') break;
            width = 2;
        }
        if (i + width > capacity - 1) break;
        destination[i] = source[i];
        if (width == 2) destination[i + 1] = source[i + 1];
        i += width;
    }
    destination[i] = '\0';
    return i;
}

bool AppendWhole(char* destination, int32_t capacity, const char* text, int32_t count) {
    const int32_t used = static_cast<int32_t>(std::strlen(destination));
    if (count < 0 || used + count > capacity - 1) return false;
    std::memcpy(destination + used, text, static_cast<size_t>(count));
    destination[used + count] = '\0';
    return true;
}
