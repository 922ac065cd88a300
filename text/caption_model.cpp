#include "text/caption_model.h"

#include "text/shift_jis_text.h"

namespace {

// The 64 combinations of the levels 0, 85, 170, 255 in R, G and B that are
// neither one of the eight full-level colours nor one of the seven
// half-level ones come in ascending R, G, B order as entries 16-64.
uint32_t Rgb(uint32_t r, uint32_t g, uint32_t b) { return (r << 16) | (g << 8) | b; }

bool IsLowEntry(uint32_t r, uint32_t g, uint32_t b) {
    const bool full = (r == 0 || r == 255) && (g == 0 || g == 255) && (b == 0 || b == 255);
    const bool half = (r == 0 || r == 170) && (g == 0 || g == 170) && (b == 0 || b == 170);
    return full || half;
}

CaptionColour OpaqueColour(int32_t index) {
    static const uint8_t kFull[8][3] = {{0, 0, 0},     {255, 0, 0},   {0, 255, 0},   {255, 255, 0},
                                        {0, 0, 255},   {255, 0, 255}, {0, 255, 255}, {255, 255, 255}};
    if (index < 8) return {Rgb(kFull[index][0], kFull[index][1], kFull[index][2]), 255};
    if (index == 8) return {0, 0};
    if (index < 16) {
        const int32_t i = index - 8;
        return {Rgb(kFull[i][0] / 255 * 170, kFull[i][1] / 255 * 170, kFull[i][2] / 255 * 170), 255};
    }
    int32_t n = 16;
    for (uint32_t r = 0; r <= 255; r += 85) {
        for (uint32_t g = 0; g <= 255; g += 85) {
            for (uint32_t b = 0; b <= 255; b += 85) {
                if (IsLowEntry(r, g, b)) continue;
                if (n == index) return {Rgb(r, g, b), 255};
                ++n;
            }
        }
    }
    return {0, 0};
}

int32_t LineOf(const CaptionRow& row) { return row.y; }

}  // namespace

const char* CaptionCharSizeName(CaptionCharSize size) {
    switch (size) {
        case CaptionCharSize::kSmall: return "small";
        case CaptionCharSize::kMiddle: return "middle";
        case CaptionCharSize::kNormal: return "normal";
        case CaptionCharSize::kTiny: return "tiny";
        case CaptionCharSize::kDoubleHeight: return "double-height";
        case CaptionCharSize::kDoubleWidth: return "double-width";
        case CaptionCharSize::kDoubleBoth: return "double";
        case CaptionCharSize::kSpecial1: return "special-1";
        case CaptionCharSize::kSpecial2: return "special-2";
    }
    return "normal";
}

void ClearCaptionScreen(CaptionScreen& screen) {
    // Rows past rowCount are never read; a row is set whole when it is
    // started.
    const int32_t used = screen.rowCount > 0 && screen.rowCount <= kCaptionMaxRows ? screen.rowCount : 0;
    for (int32_t i = 0; i < used; ++i) {
        screen.rows[i].length = 0;
        screen.rows[i].text[0] = '\0';
    }
    screen.rowCount = 0;
}

bool CaptionScreenIsEmpty(const CaptionScreen& screen, bool withRuby) {
    for (int32_t i = 0; i < screen.rowCount && i < kCaptionMaxRows; ++i) {
        const CaptionRow& row = screen.rows[i];
        if (row.length > 0 && (withRuby || !row.ruby)) return false;
    }
    return true;
}

int32_t FormatCaptionText(const CaptionScreen& screen, bool withRuby, char* destination, int32_t capacity) {
    if (destination == nullptr || capacity <= 0) return 0;
    int32_t count = 0;
    bool full = false;
    const int32_t rows = screen.rowCount < kCaptionMaxRows ? (screen.rowCount > 0 ? screen.rowCount : 0)
                                                           : kCaptionMaxRows;
    bool done[kCaptionMaxRows] = {};
    bool firstLine = true;
    // Lines from top to bottom: each pass takes the lowest y not yet
    // written, then the rows on it from left to right.
    for (;;) {
        int32_t line = -1;
        for (int32_t i = 0; i < rows; ++i) {
            const CaptionRow& row = screen.rows[i];
            if (done[i]) continue;
            if (row.length <= 0 || (row.ruby && !withRuby)) {
                done[i] = true;
                continue;
            }
            if (line < 0 || LineOf(row) < LineOf(screen.rows[line])) line = i;
        }
        if (line < 0 || full) break;
        const int32_t y = LineOf(screen.rows[line]);
        if (!firstLine) {
            if (capacity - 1 - count >= 2) {
                destination[count++] = '\r';
                destination[count++] = '\n';
            } else {
                full = true;
            }
        }
        firstLine = false;
        for (;;) {
            int32_t next = -1;
            for (int32_t i = 0; i < rows; ++i) {
                if (done[i] || LineOf(screen.rows[i]) != y) continue;
                if (next < 0 || screen.rows[i].x < screen.rows[next].x) next = i;
            }
            if (next < 0) break;
            done[next] = true;
            const CaptionRow& row = screen.rows[next];
            const int32_t length = row.length < kCaptionRowTextSize ? row.length : kCaptionRowTextSize - 1;
            // Whole characters, as far as they fit with the terminator.
            for (int32_t k = 0; k < length && !full;) {
                const int32_t n =
                    IsShiftJisLeadByte(static_cast<uint8_t>(row.text[k])) && k + 1 < length ? 2 : 1;
                if (n > capacity - 1 - count) {
                    full = true;
                    break;
                }
                for (int32_t m = 0; m < n; ++m) destination[count++] = row.text[k + m];
                k += n;
            }
        }
    }
    destination[count] = '\0';
    return count;
}

CaptionColour CaptionColourOf(uint8_t index) {
    if (index >= 128) return {0, 0};
    if (index <= 64) return OpaqueColour(index);
    CaptionColour c = OpaqueColour(index - 64);
    c.alpha = 128;
    return c;
}
