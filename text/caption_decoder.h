// ARIB caption decoding: data groups in, caption screens out.
//
// A CaptionDecoder follows one caption stream: it checks each data group
// (CRC_16), follows the group (A or B) of the latest caption management data
// and ignores the other, keeps the management data, keeps the DRCS glyphs
// of the statement being shown, and decodes the statement body of the
// chosen language onto its CaptionScreen with the ARIB 8-unit code (the
// character sets of the event texts, plus the caption controls: positioning,
// clear screen, sizes, colours, flashing, TIME, RPC, macros, CSI sequences).
//
// After each statement, and at each TIME wait inside one, the decoder hands
// the screen to a CaptionSink with the time (milliseconds) the statement has
// waited so far: a screen is shown from the statement's PTS plus that delay
// until the next screen. Everything is fixed size; nothing is allocated.
#ifndef KESTRIN_TEXT_CAPTION_DECODER_H
#define KESTRIN_TEXT_CAPTION_DECODER_H

#include <cstdint>

#include "text/caption_data.h"
#include "text/caption_model.h"

// DRCS glyphs kept at once (those of the management data and of the
// statement being shown) and the largest pattern kept (72 x 72 dots at 2
// bits, or 36 x 36 at 8): larger glyphs are counted but not kept.
const int32_t kCaptionMaxDrcs = 32;
const int32_t kDrcsPatternMaxSize = 1296;

// Macros that a statement may define (MACRO): codes 0x60-0x6F, which start
// as the default macros; bodies up to kCaptionMacroMaxSize bytes.
const int32_t kCaptionMacroCount = 16;
const int32_t kCaptionMacroMaxSize = 128;

// CSI parameters kept per sequence; each value stops growing at
// kCsiParameterMax (a huge number reads as that).
const int32_t kCsiMaxParameters = 8;
const int32_t kCsiParameterMax = 9999;

// The caption profile decides the writing plane when the statement does not
// set one: A (full-segment services, component_tag 0x30-0x37) or C (the
// one-segment service, component_tag 0x87).
enum class CaptionProfile : uint8_t { kA, kC };

struct CaptionDecoderOptions {
    int32_t language;        // 0 the first language (statement group 0x01/0x21), 1 the second
    CaptionProfile profile;
};

// One DRCS glyph. `set` is the final byte the character is coded through:
// 0x40 for the two-byte DRCS-0 set, 0x41-0x4F for DRCS-1..15; `code` the
// character code (two bytes for DRCS-0, the byte in the low half otherwise).
struct CaptionDrcsGlyph {
    uint8_t set;
    uint16_t code;
    uint8_t width;
    uint8_t height;
    uint8_t depth;           // gradation levels minus 2 (0: two colours)
    uint8_t bitsPerPixel;
    bool fromManagement;     // kept across statements
    int32_t patternSize;
    uint8_t pattern[kDrcsPatternMaxSize];
};

struct CaptionDrcsStore {
    int32_t count;
    CaptionDrcsGlyph glyphs[kCaptionMaxDrcs];
};

// The glyph of a DRCS character, or null when none was received.
const CaptionDrcsGlyph* FindDrcsGlyph(const CaptionDrcsStore& store, uint8_t set, uint16_t code);

// The Shift_JIS text written for a DRCS glyph: the character it shows when
// it is one of the few glyphs the decoder recognises by their exact pattern
// (an arrow at the end of a continued line, a kanji of a name), otherwise
// 〓 (also for a character whose glyph was not received).
const char* DrcsReplacementText(const CaptionDrcsGlyph* glyph);

struct CaptionMacro {
    bool defined;
    int32_t size;
    uint8_t body[kCaptionMacroMaxSize];
};

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
};

// What happened to one data group.
enum class CaptionGroupResult {
    kStatement,      // a statement of the chosen language was decoded
    kManagement,     // new or changed caption management data
    kRepeat,         // management data repeated with the same version
    kOtherGroup,     // a data group of the group not followed
    kOtherLanguage,  // statement data of another language
    kBadDataGroup,   // too short, length past the end, or a wrong CRC_16
    kNotCaption,     // a PES payload without the caption layout, or an unknown data_group_id
};

// Counts of what the decoder met, for tests, tools and the viewer's log.
struct CaptionDecoderCounts {
    int32_t dataGroups;
    int32_t badDataGroups;
    int32_t groupSwitches;
    int32_t statements;
    int32_t drcsGlyphs;        // DRCS glyphs received
    int32_t drcsDropped;       // glyphs not kept (too large, store full)
    int32_t cutDataUnits;      // data units whose size ran past their loop
};

// Receives the screen after each statement and at each TIME wait.
class CaptionSink {
public:
    virtual ~CaptionSink() {}
    // `delayMs`: the TIME waits of the statement so far (0 for a statement
    // without TIME).
    virtual void OnCaptionScreen(const CaptionScreen& screen, int32_t delayMs) = 0;
};

struct CaptionDecoder {
    CaptionDecoderOptions options;
    CaptionGroup followedGroup;
    bool hasManagement;
    uint8_t managementVersion;
    CaptionManagement management;   // its pointers are cleared after each data group
    CaptionDrcsStore drcs;
    CaptionMacro macros[kCaptionMacroCount];
    CaptionTextState text;
    CaptionScreen screen;
    CaptionDecoderCounts counts;
};

// Forgets everything (screen, management, DRCS, macros, counts) and
// applies `options`.
void ResetCaptionDecoder(CaptionDecoder& decoder, const CaptionDecoderOptions& options);

// One data group of `size` bytes (header, data, CRC_16).
CaptionGroupResult DecodeCaptionDataGroup(CaptionDecoder& decoder, const uint8_t* group, int32_t size,
                                          CaptionSink* sink);

// The PES_packet_data_bytes of one caption PES packet (data_identifier 0x80
// or 0x81, private_stream_id 0xFF, header, data group).
CaptionGroupResult DecodeCaptionPesPayload(CaptionDecoder& decoder, const uint8_t* payload, int32_t size,
                                           CaptionSink* sink);

// The data of one statement body data unit, decoded onto decoder.screen as
// a statement does (the coding state starts afresh; the screen and the
// writing format carry on). Reports to `sink` (may be null) at each TIME
// wait and at the end.
void DecodeCaptionStatementBody(CaptionDecoder& decoder, const uint8_t* text, int32_t size, CaptionSink* sink);

#endif
