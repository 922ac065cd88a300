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
#include "text/caption_drcs.h"
#include "text/caption_format.h"
#include "text/caption_model.h"

// Macros that a statement may define (MACRO): codes 0x60-0x6F, which start
// as the default macros; bodies up to kCaptionMacroMaxSize bytes.
const int32_t kCaptionMacroCount = 16;
const int32_t kCaptionMacroMaxSize = 128;
// Macro body bytes one statement may run in all, default macros included:
// as many as the largest data group carries. A macro that calls macros
// would otherwise make a 64 KiB statement run billions of codes.
const int32_t kCaptionMacroBytesPerStatement = 65536;

struct CaptionDecoderOptions {
    int32_t language;        // 0 the first language (statement group 0x01/0x21), 1 the second
    CaptionProfile profile;
};

struct CaptionMacro {
    bool defined;
    int32_t size;
    uint8_t body[kCaptionMacroMaxSize];
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
