// ARIB additional symbols (graphic set 0x3B, row 0x7A) that programme titles
// carry, with the character each encloses and its Unicode form.
//
// kestrin-gen lets a scenario write them by name (\{字}); kestrin-info can
// print them as the Unicode enclosed ideographs instead of the code page
// 932 user-defined characters (Private Use Area) the plug-in produces.
#ifndef KESTRIN_TOOLS_COMMON_ARIB_SYMBOLS_H
#define KESTRIN_TOOLS_COMMON_ARIB_SYMBOLS_H

#include <cstdint>

struct AribSymbol {
    const char* name;    // UTF-8, as a scenario writes it
    uint16_t code;       // ARIB row << 8 | cell
    uint32_t unicode;    // the enclosed form
};

const AribSymbol kAribSymbols[] = {
    {"HV", 0x7A50, 0x1F14A}, {"SD", 0x7A51, 0x1F14C}, {"手", 0x7A55, 0x1F210}, {"字", 0x7A56, 0x1F211},
    {"双", 0x7A57, 0x1F212}, {"デ", 0x7A58, 0x1F213}, {"二", 0x7A5A, 0x1F214}, {"多", 0x7A5B, 0x1F215},
    {"解", 0x7A5C, 0x1F216}, {"SS", 0x7A5D, 0x1F14D}, {"天", 0x7A62, 0x1F217}, {"交", 0x7A63, 0x1F218},
    {"映", 0x7A64, 0x1F219}, {"無", 0x7A65, 0x1F21A}, {"料", 0x7A66, 0x1F21B}, {"前", 0x7A68, 0x1F21C},
    {"後", 0x7A69, 0x1F21D}, {"再", 0x7A6A, 0x1F21E}, {"新", 0x7A6B, 0x1F21F}, {"初", 0x7A6C, 0x1F220},
    {"終", 0x7A6D, 0x1F221}, {"生", 0x7A6E, 0x1F222}, {"販", 0x7A6F, 0x1F223}, {"声", 0x7A70, 0x1F224},
    {"吹", 0x7A71, 0x1F225}, {"PPV", 0x7A72, 0x1F14E},
};

#endif
