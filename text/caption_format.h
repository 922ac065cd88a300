// The writing format and the active position of caption text: the plane
// and display area set by SWF, SDF, SDP, SSM, SHS and SVS, the character
// sizes, the moves of APF, APB, APD, APU, APR, APS and ACPS, and the CSI
// sequences that set them, each parameter bounded. Used by the caption
// decoder only.
#ifndef KESTRIN_TEXT_CAPTION_FORMAT_H
#define KESTRIN_TEXT_CAPTION_FORMAT_H

#include <cstdint>

#include "text/caption_model.h"

// CSI parameters kept per sequence; each value stops growing at
// kCsiParameterMax (a huge number reads as that).
const int32_t kCsiMaxParameters = 8;
const int32_t kCsiParameterMax = 9999;

// The caption profile decides the writing plane when the statement does not
// set one: A (full-segment services, component_tag 0x30-0x37) or C (the
// one-segment service, component_tag 0x87).
enum class CaptionProfile : uint8_t { kA, kC };

// The coding and presentation state inside a statement.
struct CaptionTextState {
    uint8_t designation[4];   // final byte in G0..G3 (DRCS 0x40-0x4F, macro 0x70)
    bool designationIsDrcs[4];  // the set is a DRCS (or macro) set
    int32_t glIndex;
    int32_t grIndex;
    bool hasPendingByte;
    uint8_t pendingByte;
    CaptionCharSize size;
    uint8_t foreground;
    uint8_t background;
    uint8_t palette;
    bool flashing;
    bool positionSet;         // an explicit position is in force
    int32_t line;             // active position in lines and columns
    int32_t column;
    int32_t writingFormat;    // SWF parameter
    int32_t planeWidth;
    int32_t planeHeight;
    int32_t areaWidth;        // SDF
    int32_t areaHeight;
    int32_t areaX;            // SDP
    int32_t areaY;
    int32_t charWidth;        // SSM
    int32_t charHeight;
    int32_t hSpacing;         // SHS
    int32_t vSpacing;         // SVS
    int32_t currentRow;       // row being written, -1 none
    int32_t waitedMs;         // TIME waits so far in this statement
    int32_t macroBytesLeft;   // macro body bytes this statement may still run
};

namespace caption_format {

// A CSI sequence as read: its parameters and final byte.
struct CsiSequence {
    int32_t count;
    int32_t values[kCsiMaxParameters];
    uint8_t finalByte;  // 0 when the sequence had none
};

// A position kept within the limit that no sequence of moves can overflow.
int32_t Bound(int32_t v);
// The profile's plane, area, sizes and spacing, and no position yet.
void InitFormat(CaptionTextState& t, CaptionProfile profile);
// A character size as a share of the normal size, in percent.
int32_t WidthPercent(CaptionCharSize s);
int32_t HeightPercent(CaptionCharSize s);
// The cell of the current size and of the normal size, spacing included.
int32_t CellWidth(const CaptionTextState& t);
int32_t CellHeight(const CaptionTextState& t);
int32_t NormalCellWidth(const CaptionTextState& t);
int32_t NormalCellHeight(const CaptionTextState& t);
// The moves of the active position (the first character sets it if none).
void EnsurePosition(CaptionTextState& t);
void MoveForward(CaptionTextState& t);
void MoveBackward(CaptionTextState& t);
void MoveDown(CaptionTextState& t);
void MoveUp(CaptionTextState& t);
void ReturnLine(CaptionTextState& t);
void SetPosition(CaptionTextState& t, int32_t line, int32_t column);
int16_t Clamp16(int32_t v);
// CSI at bytes[-1]: reads the sequence, returns the bytes used; then sets
// what it names.
int32_t ReadCsi(const uint8_t* b, int32_t rest, CsiSequence* csi);
void ApplyCsi(CaptionTextState& t, const CsiSequence& csi);
// The size SZX names, and the colour of COL.
CaptionCharSize SzxSize(uint8_t p);
void SetColour(CaptionTextState& t, uint8_t p);

}  // namespace caption_format

#endif
