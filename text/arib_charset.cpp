#include "text/arib_charset.h"

int32_t MapOneByteCharacter(uint8_t, uint8_t, uint8_t, uint8_t*) { return 0; }
int32_t MapTwoByteCharacter(uint8_t, uint8_t, uint8_t, uint8_t, uint8_t*) { return 0; }
uint16_t JisToShiftJis(uint16_t) { return 0; }
