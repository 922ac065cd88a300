#include "text/caption_drcs.h"

#include <cstring>

#include "text/caption_model.h"
#include "ts/psi_reader.h"

namespace {

int32_t BitsPerPixel(uint8_t mode, uint8_t depth) {
    if (mode == 0) return 1;
    int32_t levels = depth + 2;
    int32_t bits = 0;
    while ((1 << bits) < levels) ++bits;
    return bits;
}

void KeepGlyph(CaptionDrcsStore& store, const CaptionDrcsGlyph& g, const uint8_t* pattern, int32_t* dropped) {
    CaptionDrcsGlyph* slot = nullptr;
    for (int32_t i = 0; i < store.count && i < kCaptionMaxDrcs; ++i) {
        if (store.glyphs[i].set == g.set && store.glyphs[i].code == g.code) slot = &store.glyphs[i];
    }
    if (slot == nullptr) {
        if (store.count >= kCaptionMaxDrcs || g.patternSize > kDrcsPatternMaxSize) {
            ++*dropped;
            return;
        }
        slot = &store.glyphs[store.count++];
    } else if (g.patternSize > kDrcsPatternMaxSize) {
        ++*dropped;
        return;
    }
    *slot = g;
    if (g.patternSize > 0) std::memcpy(slot->pattern, pattern, static_cast<size_t>(g.patternSize));
}

// Glyphs that broadcasters send as DRCS for characters a font has: the
// FNV-1a hash of width, height, depth and pattern, and the Shift_JIS text
// written for them. Built from the glyphs of the real caption streams in
// tests/data/real/captions, looked at one by one.
struct KnownGlyph {
    uint32_t hash;
    uint8_t width;
    uint8_t height;
    const char* text;
};

const KnownGlyph kKnownGlyphs[] = {
    {0x94E06255u, 36, 36, "\x81\xA8"},  // → (a continued line)
    {0x0C5E14FDu, 36, 36, "\xEA\xA3"},  // 凜 (a name)
};

uint32_t GlyphHash(const CaptionDrcsGlyph& g) {
    uint32_t h = 2166136261u;
    const auto mix = [&h](uint8_t b) {
        h ^= b;
        h *= 16777619u;
    };
    mix(g.width);
    mix(g.height);
    mix(g.depth);
    const int32_t n = g.patternSize < kDrcsPatternMaxSize ? g.patternSize : kDrcsPatternMaxSize;
    for (int32_t i = 0; i < n; ++i) mix(g.pattern[i]);
    return h;
}

}  // namespace

const CaptionDrcsGlyph* FindDrcsGlyph(const CaptionDrcsStore& store, uint8_t set, uint16_t code) {
    for (int32_t i = 0; i < store.count && i < kCaptionMaxDrcs; ++i) {
        if (store.glyphs[i].set == set && store.glyphs[i].code == code) return &store.glyphs[i];
    }
    return nullptr;
}

void DropStatementGlyphs(CaptionDrcsStore& store) {
    int32_t kept = 0;
    for (int32_t i = 0; i < store.count && i < kCaptionMaxDrcs; ++i) {
        if (store.glyphs[i].fromManagement) store.glyphs[kept++] = store.glyphs[i];
    }
    store.count = kept;
}

void DropManagementGlyphs(CaptionDrcsStore& store) {
    int32_t kept = 0;
    for (int32_t i = 0; i < store.count && i < kCaptionMaxDrcs; ++i) {
        if (!store.glyphs[i].fromManagement) store.glyphs[kept++] = store.glyphs[i];
    }
    store.count = kept;
}


// A DRCS data unit: glyphs for one-byte (0x30) or two-byte (0x31) codes.
void ReadDrcsUnit(CaptionDrcsStore& store, const DataUnit& unit, bool fromManagement, int32_t* received,
                  int32_t* dropped) {
    PsiReader r(unit.data, unit.size);
    const int32_t codes = r.U8();
    for (int32_t c = 0; c < codes && !r.Error(); ++c) {
        const uint16_t characterCode = r.U16();
        const int32_t fonts = r.U8();
        for (int32_t f = 0; f < fonts && !r.Error(); ++f) {
            const uint8_t idMode = r.U8();
            const uint8_t mode = idMode & 0x0F;
            if (mode > 1) {
                // Geometric data: region, length, bytes.
                r.Skip(2);
                const int32_t length = r.U16();
                r.Skip(length);
                continue;
            }
            CaptionDrcsGlyph g = {};
            g.depth = r.U8();
            g.width = r.U8();
            g.height = r.U8();
            g.bitsPerPixel = static_cast<uint8_t>(BitsPerPixel(mode, g.depth));
            g.patternSize = (g.width * g.height * g.bitsPerPixel + 7) / 8;
            g.fromManagement = fromManagement;
            if (unit.parameter == kDataUnitDrcsTwoByte) {
                g.set = kDrcs0;
                g.code = characterCode;
            } else {
                g.set = static_cast<uint8_t>(characterCode >> 8);
                g.code = static_cast<uint16_t>(characterCode & 0x7F);
            }
            const uint8_t* pattern = r.Bytes(g.patternSize);
            if (pattern == nullptr) break;
            ++*received;
            // Only the first font of a code is kept.
            if (f == 0) KeepGlyph(store, g, pattern, dropped);
        }
    }
}

const char* DrcsReplacementText(const CaptionDrcsGlyph* glyph) {
    if (glyph == nullptr) return kDrcsReplacement;
    const uint32_t hash = GlyphHash(*glyph);
    for (const KnownGlyph& k : kKnownGlyphs) {
        if (k.hash == hash && k.width == glyph->width && k.height == glyph->height) return k.text;
    }
    return kDrcsReplacement;
}
