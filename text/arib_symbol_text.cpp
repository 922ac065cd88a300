#include "text/arib_symbol_text.h"

#include <cstring>

#include "text/arib_symbol_names_table.h"

int32_t BracketedSymbolText(uint8_t row, uint8_t cell, const char** text) {
    *text = nullptr;
    const uint16_t code = static_cast<uint16_t>((row << 8) | cell);
    for (const AdditionalSymbolName& symbol : kAdditionalSymbolNames) {
        if (symbol.code != code) continue;
        *text = symbol.text;
        return static_cast<int32_t>(std::strlen(symbol.text));
    }
    return 0;
}
