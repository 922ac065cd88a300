// The host's stream thread: reads a transport-stream file (or makes soak
// buffers from it) and hands it to the plug-in's OnStreamData, buffer by
// buffer, at the stream's pace or as fast as possible. Whatever must happen
// on the window's thread (scripted presses, texts, pictures, service changes
// of the soak, memory samples) is asked of the window thread through
// WindowThreadLink.
#ifndef KESTRIN_TOOLS_HOST_STREAM_FEEDER_H
#define KESTRIN_TOOLS_HOST_STREAM_FEEDER_H

#include <cstdint>
#include <string>
#include <vector>

#include "tools/host/soak_source.h"

class LoadedPlugin;

struct FeedOptions {
    std::string path;
    uint32_t chunkBytes = 188 * 64;  // bytes per OnStreamData call
    bool fast = false;               // no pacing
    double packetRate = 0;           // packets per second; 0: pace by the PCR
    int loops = 1;                   // times the file is played
    // Soak: at least this many packets (bytes / 188) of mixed clean and
    // damaged data; 0 plays the file.
    uint64_t soakPackets = 0;
    uint64_t seed = 1;
    uint64_t sampleInterval = 0;  // packets between memory and text samples
    int32_t channel = 27;         // the channel the soak returns to
    int32_t oneSegService = 0;    // the service the soak mostly shows
};

struct FeedResult {
    uint64_t calls = 0;
    uint64_t bytes = 0;
    uint64_t refused = 0;  // OnStreamData returned 0
    uint64_t damage[kDamageKindCount] = {};
    uint64_t viewToggles = 0;
    uint64_t recordToggles = 0;
    uint64_t serviceChanges = 0;
    uint64_t otherPresses = 0;
    bool readError = false;
};

// What the stream thread asks of the window thread.
class WindowThreadLink {
public:
    // Packet count at which the next scripted action is due, or UINT64_MAX.
    virtual uint64_t NextActionAt() = 0;
    // Runs every scripted action due at `packets` on the window thread and
    // returns when they are done.
    virtual void RunActions(uint64_t packets) = 0;
    // Memory and window-text sample on the window thread; returns when done
    // (which also lets the window thread catch up with the posted messages).
    virtual void Sample(uint64_t packets) = 0;
    // Soak events, posted without waiting.
    virtual void ToggleRecording() = 0;
    virtual void ChangeServiceOnWindowThread(int32_t channel, int32_t service) = 0;
    virtual void PressButton(int id) = 0;

protected:
    ~WindowThreadLink() {}
};

// Reads the whole file (up to `limit` bytes); false if it cannot be read.
bool ReadStreamFile(const std::string& path, std::vector<uint8_t>* bytes, uint64_t limit);

// The service whose PMT is on PID 0x1FC8 in the first PAT of the file, or -1.
int32_t FindOneSegService(const std::vector<uint8_t>& stream);

// Runs on the stream thread until the file (or the soak) is done.
void FeedStream(const FeedOptions& options, const std::vector<uint8_t>& stream, LoadedPlugin& plugin,
                WindowThreadLink& window, FeedResult* result);

#endif
