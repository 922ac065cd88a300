#include "text/caption_format.h"

namespace caption_format {

namespace {

// Final bytes of CSI sequences the decoder acts on.
const uint8_t kCsiSwf = 0x53;
const uint8_t kCsiSdf = 0x56;
const uint8_t kCsiSsm = 0x57;
const uint8_t kCsiShs = 0x58;
const uint8_t kCsiSvs = 0x59;
const uint8_t kCsiSdp = 0x5F;
const uint8_t kCsiAcps = 0x61;

// Writing formats of SWF: plane width and height.
struct PlaneFormat {
    int32_t format;
    int32_t width;
    int32_t height;
};
const PlaneFormat kPlaneFormats[] = {
    {5, 1920, 1080}, {6, 1080, 1920}, {7, 960, 540}, {8, 540, 960},
    {9, 720, 480},   {10, 480, 720},  {11, 1280, 720}, {12, 720, 1280},
};

void SetPlane(CaptionTextState& t, int32_t width, int32_t height) {
    t.planeWidth = width;
    t.planeHeight = height;
    t.areaWidth = width;
    t.areaHeight = height;
    t.areaX = 0;
    t.areaY = 0;
}

int32_t Positive(int32_t v, int32_t fallback) { return v > 0 ? v : fallback; }

}  // namespace

// The active position stays within this many dots of the plane's origin,
// whatever the moves: a long body of RPC and APD cannot overflow it.
const int32_t kPositionLimit = 1 << 20;

int32_t Bound(int32_t v) { return v > kPositionLimit ? kPositionLimit : (v < -kPositionLimit ? -kPositionLimit : v); }


void InitFormat(CaptionTextState& t, CaptionProfile profile) {
    if (profile == CaptionProfile::kC) {
        // The one-segment screen: 16 characters on each of 4 lines.
        t.writingFormat = 0;
        SetPlane(t, 320, 180);
        t.charWidth = 18;
        t.charHeight = 18;
        t.hSpacing = 2;
        t.vSpacing = 6;
        return;
    }
    t.writingFormat = 7;
    SetPlane(t, 960, 540);
    t.charWidth = 36;
    t.charHeight = 36;
    t.hSpacing = 4;
    t.vSpacing = 24;
}

int32_t WidthPercent(CaptionCharSize s) {
    switch (s) {
        case CaptionCharSize::kSmall:
        case CaptionCharSize::kMiddle:
        case CaptionCharSize::kTiny: return 50;
        case CaptionCharSize::kDoubleWidth:
        case CaptionCharSize::kDoubleBoth: return 200;
        default: return 100;
    }
}

int32_t HeightPercent(CaptionCharSize s) {
    switch (s) {
        case CaptionCharSize::kSmall:
        case CaptionCharSize::kTiny: return 50;
        case CaptionCharSize::kDoubleHeight:
        case CaptionCharSize::kDoubleBoth: return 200;
        default: return 100;
    }
}

// Width and height of the character cell in the current size, at least 1.
int32_t CellWidth(const CaptionTextState& t) {
    const int32_t w = (t.charWidth + t.hSpacing) * WidthPercent(t.size) / 100;
    return w > 0 ? w : 1;
}
int32_t CellHeight(const CaptionTextState& t) {
    const int32_t h = (t.charHeight + t.vSpacing) * HeightPercent(t.size) / 100;
    return h > 0 ? h : 1;
}
// The cells of normal size, in which APS counts.
int32_t NormalCellWidth(const CaptionTextState& t) {
    const int32_t w = t.charWidth + t.hSpacing;
    return w > 0 ? w : 1;
}
int32_t NormalCellHeight(const CaptionTextState& t) {
    const int32_t h = t.charHeight + t.vSpacing;
    return h > 0 ? h : 1;
}

// The active position is the bottom-left corner of the next character's
// cell, in dots of the plane. Without an explicit position the first
// character goes to the top left of the display area.
void EnsurePosition(CaptionTextState& t) {
    if (t.positionSet) return;
    t.positionSet = true;
    t.column = t.areaX;
    t.line = t.areaY + CellHeight(t);
}

void MoveForward(CaptionTextState& t) {
    EnsurePosition(t);
    t.column = Bound(t.column + CellWidth(t));
    if (t.column >= t.areaX + t.areaWidth) {
        t.column = t.areaX;
        t.line = Bound(t.line + CellHeight(t));
    }
    t.currentRow = -1;
}

void MoveBackward(CaptionTextState& t) {
    EnsurePosition(t);
    t.column = Bound(t.column - CellWidth(t));
    if (t.column < t.areaX) {
        t.column = t.areaX + ((t.areaWidth / CellWidth(t)) - 1) * CellWidth(t);
        t.line = Bound(t.line - CellHeight(t));
    }
    t.currentRow = -1;
}

void MoveDown(CaptionTextState& t) {
    EnsurePosition(t);
    t.line = Bound(t.line + CellHeight(t));
    t.currentRow = -1;
}

void MoveUp(CaptionTextState& t) {
    EnsurePosition(t);
    t.line = Bound(t.line - CellHeight(t));
    t.currentRow = -1;
}

void ReturnLine(CaptionTextState& t) {
    EnsurePosition(t);
    t.column = t.areaX;
    t.line = Bound(t.line + CellHeight(t));
    t.currentRow = -1;
}

// APS: line and column count in cells of the current size from the
// display area's top left.
void SetPosition(CaptionTextState& t, int32_t line, int32_t column) {
    t.positionSet = true;
    t.column = t.areaX + column * CellWidth(t);
    t.line = t.areaY + (line + 1) * CellHeight(t);
    t.currentRow = -1;
}

int16_t Clamp16(int32_t v) {
    if (v > 32767) return 32767;
    if (v < -32768) return -32768;
    return static_cast<int16_t>(v);
}


// CSI at bytes[-1]: parameters (digits and ';'), the intermediate 0x20 and
// the final byte. Digits past kCsiParameterMax keep the value there;
// parameters past kCsiMaxParameters are read and dropped. A byte that fits
// no part ends the sequence without a final byte and is not consumed.
int32_t ReadCsi(const uint8_t* b, int32_t rest, CsiSequence* csi) {
    *csi = CsiSequence{};
    int32_t i = 0;
    bool inNumber = false;
    while (i < rest) {
        const uint8_t c = b[i];
        if (c >= 0x30 && c <= 0x39) {
            if (!inNumber) {
                inNumber = true;
                if (csi->count < kCsiMaxParameters) csi->values[csi->count] = 0;
                ++csi->count;
            }
            const int32_t k = csi->count - 1;
            if (k < kCsiMaxParameters) {
                const int32_t v = csi->values[k] * 10 + (c - 0x30);
                csi->values[k] = v > kCsiParameterMax ? kCsiParameterMax : v;
            }
            ++i;
        } else if (c == 0x3B) {
            if (!inNumber) {
                // An empty parameter reads as 0.
                if (csi->count < kCsiMaxParameters) csi->values[csi->count] = 0;
                ++csi->count;
            }
            inNumber = false;
            ++i;
        } else if (c == 0x20) {
            ++i;
            if (i < rest && b[i] >= 0x40 && b[i] <= 0x7E) {
                csi->finalByte = b[i];
                ++i;
            }
            break;
        } else if (c >= 0x40 && c <= 0x7E && i > 0) {
            // A final byte without the intermediate.
            csi->finalByte = c;
            ++i;
            break;
        } else {
            break;
        }
    }
    if (csi->count > kCsiMaxParameters) csi->count = kCsiMaxParameters;
    return i;
}


void ApplyCsi(CaptionTextState& t, const CsiSequence& csi) {
    const int32_t* p = csi.values;
    switch (csi.finalByte) {
        case kCsiSwf:
            if (csi.count >= 1) {
                for (const PlaneFormat& f : kPlaneFormats) {
                    if (f.format == p[0]) {
                        t.writingFormat = p[0];
                        SetPlane(t, f.width, f.height);
                    }
                }
            }
            break;
        case kCsiSdf:
            if (csi.count >= 2) {
                t.areaWidth = Positive(p[0], t.areaWidth);
                t.areaHeight = Positive(p[1], t.areaHeight);
            }
            break;
        case kCsiSdp:
            if (csi.count >= 2) {
                t.areaX = p[0];
                t.areaY = p[1];
            }
            break;
        case kCsiSsm:
            if (csi.count >= 2) {
                t.charWidth = Positive(p[0], t.charWidth);
                t.charHeight = Positive(p[1], t.charHeight);
            }
            break;
        case kCsiShs:
            if (csi.count >= 1) t.hSpacing = p[0];
            break;
        case kCsiSvs:
            if (csi.count >= 1) t.vSpacing = p[0];
            break;
        case kCsiAcps:
            if (csi.count >= 2) {
                t.positionSet = true;
                t.column = p[0];
                t.line = p[1];
                t.currentRow = -1;
            }
            break;
        default:
            // ORN, PLD, PLU, GAA, SRC, TCC, MDF, CFS, XCS, SCR, PRA, ACS,
            // UED, RCS, SCS, CCC: no effect on the text.
            break;
    }
}

CaptionCharSize SzxSize(uint8_t p) {
    switch (p) {
        case 0x60: return CaptionCharSize::kTiny;
        case 0x41: return CaptionCharSize::kDoubleHeight;
        case 0x44: return CaptionCharSize::kDoubleWidth;
        case 0x45: return CaptionCharSize::kDoubleBoth;
        case 0x6B: return CaptionCharSize::kSpecial1;
        case 0x64: return CaptionCharSize::kSpecial2;
        default: return CaptionCharSize::kNormal;
    }
}

void SetColour(CaptionTextState& t, uint8_t p) {
    const uint8_t entry = static_cast<uint8_t>(t.palette * 16 + (p & 0x0F));
    if (p >= 0x40 && p <= 0x4F) t.foreground = entry;
    else if (p >= 0x50 && p <= 0x5F) t.background = entry;
    // 0x60-0x7F: half-foreground and half-background colours, not kept.
}

}  // namespace caption_format
