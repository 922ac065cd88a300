#include "tools/host/stream_feeder.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

#include "tools/host/host_log.h"
#include "tools/host/plugin_host.h"

namespace {

const uint32_t kPacket = 188;

// The buffer handed to OnStreamData ends exactly at a page the process may
// not touch: a plug-in that reads one byte past the count it was given
// faults at once instead of reading the host's other data unnoticed.
class GuardedBuffer {
public:
    explicit GuardedBuffer(uint32_t capacity) : base_(nullptr), end_(nullptr) {
        SYSTEM_INFO info;
        GetSystemInfo(&info);
        const uint32_t page = info.dwPageSize;
        const uint32_t dataBytes = (capacity + page - 1) / page * page;
        base_ = static_cast<uint8_t*>(VirtualAlloc(nullptr, dataBytes + page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
        if (base_ == nullptr) return;
        DWORD old = 0;
        VirtualProtect(base_ + dataBytes, page, PAGE_NOACCESS, &old);
        end_ = base_ + dataBytes;
    }
    ~GuardedBuffer() {
        if (base_ != nullptr) VirtualFree(base_, 0, MEM_RELEASE);
    }
    bool Ok() const { return end_ != nullptr; }
    // Where a buffer of `length` bytes starts so that it ends at the guard.
    uint8_t* For(uint32_t length) const { return end_ - length; }

private:
    GuardedBuffer(const GuardedBuffer&) = delete;
    GuardedBuffer& operator=(const GuardedBuffer&) = delete;
    uint8_t* base_;
    uint8_t* end_;
};

double Now() {
    static LARGE_INTEGER frequency = {};
    if (frequency.QuadPart == 0) QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

void SleepUntil(double target) {
    for (;;) {
        const double left = target - Now();
        if (left <= 0.001) return;
        Sleep(static_cast<DWORD>(left * 1000.0 > 50.0 ? 50.0 : left * 1000.0));
    }
}

// The 33-bit PCR base (90 kHz) of a packet's adaptation field, if it has one.
bool ReadPcr(const uint8_t* p, uint16_t* pid, uint64_t* base) {
    if (p[0] != 0x47) return false;
    const uint8_t control = (p[3] >> 4) & 3;
    if (control != 2 && control != 3) return false;
    if (p[4] < 7 || (p[5] & 0x10) == 0) return false;
    *pid = static_cast<uint16_t>(((p[1] & 0x1F) << 8) | p[2]);
    *base = (static_cast<uint64_t>(p[6]) << 25) | (static_cast<uint64_t>(p[7]) << 17) |
            (static_cast<uint64_t>(p[8]) << 9) | (static_cast<uint64_t>(p[9]) << 1) | (p[10] >> 7);
    return true;
}

// Keeps the feed at the stream's pace: each buffer goes out when the wall
// clock has advanced as far as the stream's PCR (or the nominal packet
// rate) since the first buffer. A PCR that jumps (the file starting over, a
// discontinuity) starts a new reference.
class Pacer {
public:
    explicit Pacer(const FeedOptions& options)
        : fast_(options.fast), rate_(options.packetRate), start_(Now()), pcrPid_(0xFFFF),
          havePcr_(false), pcr0_(0), wall0_(0), lastDelta_(0) {}

    void Wait(const uint8_t* buffer, uint32_t length, uint64_t packetsBefore) {
        if (fast_) return;
        if (rate_ > 0) {
            SleepUntil(start_ + static_cast<double>(packetsBefore) / rate_);
            return;
        }
        // The last PCR of the buffer on the first PCR PID seen.
        bool found = false;
        uint64_t pcr = 0;
        for (uint32_t at = 0; at + kPacket <= length; at += kPacket) {
            uint16_t pid;
            uint64_t base;
            if (!ReadPcr(buffer + at, &pid, &base)) continue;
            if (pcrPid_ == 0xFFFF) pcrPid_ = pid;
            if (pid == pcrPid_) {
                pcr = base;
                found = true;
            }
        }
        if (!found) return;
        const double now = Now();
        if (!havePcr_) {
            havePcr_ = true;
            pcr0_ = pcr;
            wall0_ = now;
            return;
        }
        const uint64_t ticks = (pcr - pcr0_) & ((1ull << 33) - 1);
        const double delta = static_cast<double>(ticks) / 90000.0;
        if (delta + 1.0 < lastDelta_ || delta > lastDelta_ + 10.0) {
            pcr0_ = pcr;
            wall0_ = now;
            lastDelta_ = 0;
            return;
        }
        lastDelta_ = delta;
        SleepUntil(wall0_ + delta);
    }

private:
    bool fast_;
    double rate_;
    double start_;
    uint16_t pcrPid_;
    bool havePcr_;
    uint64_t pcr0_;
    double wall0_;
    double lastDelta_;
};

void Feed(LoadedPlugin& plugin, const uint8_t* data, uint32_t length, FeedResult* result) {
    if (plugin.OnStreamData(data, length) == 0) ++result->refused;
    ++result->calls;
    result->bytes += length;
}

void RunDueActions(WindowThreadLink& window, uint64_t packets) {
    if (window.NextActionAt() <= packets) window.RunActions(packets);
}

void PlayFile(const FeedOptions& options, LoadedPlugin& plugin, WindowThreadLink& window, FeedResult* result) {
    GuardedBuffer buffer(options.chunkBytes);
    if (!buffer.Ok()) {
        result->readError = true;
        return;
    }
    Pacer pacer(options);
    uint8_t* data = buffer.For(options.chunkBytes);
    for (int loop = 0; loop < options.loops; ++loop) {
        std::FILE* file = std::fopen(options.path.c_str(), "rb");
        if (file == nullptr) {
            HostLog("cannot open %s", options.path.c_str());
            result->readError = true;
            return;
        }
        for (;;) {
            const uint64_t packets = result->bytes / kPacket;
            RunDueActions(window, packets);
            const size_t n = std::fread(data, 1, options.chunkBytes, file);
            if (n == 0) break;
            const uint32_t length = static_cast<uint32_t>(n);
            // A short last read: move it up against the guard page.
            uint8_t* at = buffer.For(length);
            if (at != data) std::memmove(at, data, length);
            pacer.Wait(at, length, packets);
            Feed(plugin, at, length, result);
        }
        if (std::ferror(file)) result->readError = true;
        std::fclose(file);
    }
}

void SoakEvent(const FeedOptions& options, SoakRandom& random, LoadedPlugin& plugin, WindowThreadLink& window,
               FeedResult* result) {
    const uint32_t pick = random.Below(100);
    if (pick < 35) {
        window.PressButton(1021);  // IDC_PRESENT_FOLLOWING
        ++result->viewToggles;
    } else if (pick < 60) {
        window.ToggleRecording();
        ++result->recordToggles;
    } else if (pick < 85) {
        // Mostly back to the one-segment service, so that texts come again.
        int32_t service;
        const uint32_t s = random.Below(10);
        if (s < 6) {
            service = options.oneSegService;
        } else if (s < 7) {
            service = 0x0400;
        } else if (s < 8) {
            service = 0x0401;
        } else {
            service = static_cast<int32_t>(random.Below(0x10000));
        }
        int32_t channel;
        const uint32_t c = random.Below(20);
        if (c < 14) {
            channel = options.channel;
        } else if (c < 17) {
            channel = 13 + static_cast<int32_t>(random.Below(50));
        } else {
            const int32_t odd[] = {-1, 0, 12, 63};
            channel = odd[random.Below(4)];
        }
        // A host may report changes from its stream thread or from its
        // window thread: both are exercised.
        if (random.Chance(50)) {
            plugin.OnChannelChange(channel, service);
        } else {
            window.ChangeServiceOnWindowThread(channel, service);
        }
        ++result->serviceChanges;
    } else if (pick < 93) {
        window.PressButton(1022);  // IDC_RECORD_REQUEST
        ++result->otherPresses;
    } else {
        const int channelButtons[12] = {1008, 1009, 1010, 1012, 1013, 1014, 1015, 1016, 1017, 1018, 1019, 1020};
        window.PressButton(channelButtons[random.Below(12)]);
        ++result->otherPresses;
    }
}

void Soak(const FeedOptions& options, const std::vector<uint8_t>& stream, LoadedPlugin& plugin,
          WindowThreadLink& window, FeedResult* result) {
    GuardedBuffer buffer(kSoakBufferCapacity);
    std::vector<uint8_t> scratch(kSoakBufferCapacity);
    if (!buffer.Ok() || stream.size() < kPacket) {
        result->readError = true;
        return;
    }
    SoakSource source(stream, options.seed);
    SoakRandom events(options.seed ^ 0x5EED5EEDull);
    Pacer pacer(options);
    const uint64_t interval = options.sampleInterval != 0 ? options.sampleInterval : 100000;
    uint64_t nextSample = interval;
    uint64_t nextEvent = 2000 + events.Below(20000);
    uint64_t packets = 0;
    while (packets < options.soakPackets) {
        RunDueActions(window, packets);
        SoakDamage damage;
        const uint32_t length = source.Next(scratch.data(), &damage);
        uint8_t* at = buffer.For(length);
        std::memcpy(at, scratch.data(), length);
        pacer.Wait(at, length, packets);
        Feed(plugin, at, length, result);
        ++result->damage[damage];
        packets = result->bytes / kPacket;
        if (packets >= nextEvent) {
            SoakEvent(options, events, plugin, window, result);
            nextEvent = packets + 2000 + events.Below(8000);
        }
        if (packets >= nextSample) {
            window.Sample(packets);
            nextSample += interval;
        }
    }
}

}  // namespace

bool ReadStreamFile(const std::string& path, std::vector<uint8_t>* bytes, uint64_t limit) {
    bytes->clear();
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return false;
    uint8_t chunk[65536];
    size_t n;
    while (bytes->size() < limit && (n = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
        bytes->insert(bytes->end(), chunk, chunk + n);
    }
    const bool ok = !std::ferror(file);
    std::fclose(file);
    if (bytes->size() > limit) bytes->resize(static_cast<size_t>(limit));
    return ok;
}

int32_t FindOneSegService(const std::vector<uint8_t>& stream) {
    for (size_t at = 0; at + kPacket <= stream.size(); at += kPacket) {
        const uint8_t* p = stream.data() + at;
        const uint16_t pid = static_cast<uint16_t>(((p[1] & 0x1F) << 8) | p[2]);
        if (p[0] != 0x47 || pid != 0 || (p[1] & 0x40) == 0) continue;
        // Payload after the adaptation field, then the pointer_field.
        uint32_t offset = 4;
        const uint8_t control = (p[3] >> 4) & 3;
        if (control == 2 || control == 0) continue;
        if (control == 3) offset += 1u + p[4];
        if (offset >= kPacket) continue;
        offset += 1u + p[offset];
        if (offset + 8 > kPacket || p[offset] != 0x00) continue;
        const uint8_t* section = p + offset;
        const uint32_t sectionLength = ((section[1] & 0x0F) << 8) | section[2];
        // The programme loop: after the 8-byte header, before the CRC_32,
        // and within this packet.
        uint32_t end = 3 + sectionLength;
        if (end < 12) continue;
        end -= 4;
        if (offset + end > kPacket) end = kPacket - offset;
        for (uint32_t i = 8; i + 4 <= end; i += 4) {
            const int32_t programme = (section[i] << 8) | section[i + 1];
            const uint16_t pmtPid = static_cast<uint16_t>(((section[i + 2] & 0x1F) << 8) | section[i + 3]);
            if (programme != 0 && pmtPid == 0x1FC8) return programme;
        }
    }
    return -1;
}

void FeedStream(const FeedOptions& options, const std::vector<uint8_t>& stream, LoadedPlugin& plugin,
                WindowThreadLink& window, FeedResult* result) {
    if (options.soakPackets > 0) {
        Soak(options, stream, plugin, window, result);
    } else {
        PlayFile(options, plugin, window, result);
    }
}
