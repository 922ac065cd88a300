#include "text/arib_decoder.h"

int32_t DecodeAribText(char* destination, const uint8_t*, int32_t, int32_t capacity) {
    if (capacity > 0) destination[0] = '\0';
    return 0;
}
