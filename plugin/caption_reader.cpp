#include "plugin/caption_reader.h"

#include <mutex>

#include "plugin/plugin_state.h"

void InitCaptions(PluginState& s) {
    InitCaptionHandover(s);
    s.captionReader.batch.count = 0;
    s.captionReader.generation = 0;
    ClearCaptionStore(s.captionReader.store, kCaptionRecentLines);
    RestartCaptionReading(s.captionReader);
    s.captionViewOpen = false;
    s.captionLinesHeld = false;
    s.captionViewWanted = false;
    s.captionRecentText[0] = '\0';
}

void RestartCaptionReading(CaptionReader& reader) { (void)reader; }

bool ReadCaptionPackets(CaptionReader& reader, const uint8_t (*packets)[kTsPacketSize], int32_t count) {
    (void)reader;
    (void)packets;
    (void)count;
    return false;
}

bool ReadHandedCaptions(PluginState& s) {
    CaptionReader& r = s.captionReader;
    TakeCaptionPackets(s, r.batch);
    bool changed = false;
    if (r.batch.generation != r.generation) {
        // Another stream (a new selection or another service): its captions
        // start on an empty screen.
        r.generation = r.batch.generation;
        RestartCaptionReading(r);
        changed = ClearCaption(r.store);
    } else if (r.batch.dropped) {
        RestartCaptionReading(r);
    }
    if (ReadCaptionPackets(r, r.batch.packets, r.batch.count)) changed = true;
    return changed;
}
