#include "text/caption_decoder.h"

const CaptionDrcsGlyph* FindDrcsGlyph(const CaptionDrcsStore& store, uint8_t set, uint16_t code) {
    for (int32_t i = 0; i < store.count && i < kCaptionMaxDrcs; ++i) {
        if (store.glyphs[i].set == set && store.glyphs[i].code == code) return &store.glyphs[i];
    }
    return nullptr;
}

const char* DrcsReplacementText(const CaptionDrcsGlyph*) { return kDrcsReplacement; }

void ResetCaptionDecoder(CaptionDecoder& decoder, const CaptionDecoderOptions& options) {
    decoder.options = options;
    decoder.followedGroup = CaptionGroup::kNone;
    decoder.hasManagement = false;
    decoder.managementVersion = 0;
    decoder.management = CaptionManagement{};
    decoder.drcs.count = 0;
    for (CaptionMacro& m : decoder.macros) m = CaptionMacro{};
    decoder.text = CaptionTextState{};
    ClearCaptionScreen(decoder.screen);
    decoder.counts = CaptionDecoderCounts{};
}

CaptionGroupResult DecodeCaptionDataGroup(CaptionDecoder&, const uint8_t*, int32_t, CaptionSink*) {
    return CaptionGroupResult::kNotCaption;
}

CaptionGroupResult DecodeCaptionPesPayload(CaptionDecoder&, const uint8_t*, int32_t, CaptionSink*) {
    return CaptionGroupResult::kNotCaption;
}

void DecodeCaptionStatementBody(CaptionDecoder&, const uint8_t*, int32_t, CaptionSink*) {}
