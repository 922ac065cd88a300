#include "plugin/caption_reader.h"

#include "plugin/caption_handover.h"
#include "plugin/plugin_state.h"
#include "text/caption_model.h"
#include "ts/caption_stream.h"

namespace {

// A PID no caption stream has: the null packets'.
const uint16_t kNullPid = 0x1FFF;

// Each screen the decoder reports, without ruby, into the store.
class StoreSink : public CaptionSink {
public:
    explicit StoreSink(CaptionReader& reader) : reader_(reader), changed_(false) {}
    void OnCaptionScreen(const CaptionScreen& screen, int32_t delayMs) override {
        const int32_t n = FormatCaptionText(screen, false, reader_.text, kCaptionTextSize);
        // A screen emptied after a TIME wait is the caption's timed end.
        // Without a clock to wait for it, the caption stays up until the next
        // statement: cleared at once, it would never be seen.
        if (n == 0 && delayMs > 0) return;
        if (ShowCaption(reader_.store, reader_.text, n)) changed_ = true;
    }
    bool Changed() const { return changed_; }

private:
    CaptionReader& reader_;
    bool changed_;
};

void StartStream(CaptionReader& r, const CaptionPacketBatch& batch) {
    r.generation = batch.generation;
    ResetPesAssembler(r.pes, batch.pid >= 0 ? static_cast<uint16_t>(batch.pid) : kNullPid);
    CaptionDecoderOptions options;
    options.language = 0;
    options.profile = batch.oneSeg ? CaptionProfile::kC : CaptionProfile::kA;
    ResetCaptionDecoder(r.decoder, options);
}

}  // namespace

void InitCaptions(PluginState& s) {
    InitCaptionHandover(s);
    CaptionReader& r = s.captionReader;
    r.batch.count = 0;
    r.batch.dropped = false;
    r.batch.generation = 0;
    r.batch.pid = kNoPid;
    r.batch.oneSeg = true;
    StartStream(r, r.batch);
    r.text[0] = '\0';
    ClearCaptionStore(r.store, kCaptionRecentLines);
    s.captionViewOpen = false;
    s.captionLinesHeld = false;
    s.captionViewWanted = false;
    s.captionRecentText[0] = '\0';
}

void RestartCaptionReading(CaptionReader& reader) { ResetPesAssembler(reader.pes, reader.pes.pid); }

bool ReadCaptionPackets(CaptionReader& reader, const uint8_t (*packets)[kTsPacketSize], int32_t count) {
    StoreSink sink(reader);
    for (int32_t i = 0; i < count; ++i) {
        if (AssemblePes(reader.pes, packets[i]) != PesResult::kComplete) continue;
        PesPacket pes;
        if (!ParsePesPacket(reader.pes.buffer, reader.pes.packetSize, &pes)) continue;
        DecodeCaptionPesPayload(reader.decoder, pes.payload, pes.payloadSize, &sink);
    }
    return sink.Changed();
}

bool ReadHandedCaptions(PluginState& s) {
    CaptionReader& r = s.captionReader;
    TakeCaptionPackets(s, r.batch);
    bool changed = false;
    if (r.batch.generation != r.generation) {
        // Another stream (a new selection or another service): its captions
        // start on an empty screen.
        StartStream(r, r.batch);
        changed = ClearCaption(r.store);
    } else if (r.batch.dropped) {
        RestartCaptionReading(r);
    }
    if (ReadCaptionPackets(r, r.batch.packets, r.batch.count)) changed = true;
    return changed;
}
