#include "tools/info/epg_dump.h"


#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <vector>

#include "text/arib_decoder.h"
#include "text/eit_schedule.h"
#include "tools/info/cp932_utf8.h"
#include "tools/info/json_text.h"
#include "tools/info/output_file.h"
#include "tools/info/standard_output.h"
#include "ts/crc32.h"
#include "ts/packet.h"
#include "ts/section_stream.h"

namespace {

// The PIDs that carry EIT: the multiplex's own, and the one-segment
// layer's (L-EIT) two.
const uint16_t kEitPids[] = {0x0012, 0x0026, 0x0027};
const int32_t kEitPidCount = 3;
// A decoded text: 255 ARIB bytes, or 1 KiB joined, at most 5 Shift_JIS
// bytes a character.
const int32_t kDecodeCapacity = 8 * 1024;
const int64_t kMillisecondsPerSecond = 1000;
const int64_t kSecondsPerDay = 86400;
const int64_t kMjdUnixEpoch = 40587;
const size_t kReadChunk = 1 << 20;
const size_t kPacket = static_cast<size_t>(kTsPacketSize);

// Sampling rates of the audio component descriptor's code, -1 reserved.
const int32_t kSamplingRates[8] = {-1, 16000, 22050, 24000, -1, 32000, 44100, 48000};

const char* VideoType(uint8_t streamContent) {
    switch (streamContent) {
        case 0x01: return "mpeg2";
        case 0x05: return "h.264";
        case 0x09: return "h.265";
        default: return nullptr;
    }
}

const char* VideoResolution(uint8_t componentType) {
    switch (componentType) {
        case 0x01: case 0x02: case 0x03: case 0x04: return "480i";
        case 0x83: return "4320p";
        case 0x91: case 0x92: case 0x93: case 0x94: return "2160p";
        case 0xA1: case 0xA2: case 0xA3: case 0xA4: return "480p";
        case 0xB1: case 0xB2: case 0xB3: case 0xB4: return "1080i";
        case 0xC1: case 0xC2: case 0xC3: case 0xC4: return "720p";
        case 0xD1: case 0xD2: case 0xD3: case 0xD4: return "240p";
        case 0xE1: case 0xE2: case 0xE3: case 0xE4: return "1080p";
        case 0xF1: case 0xF2: case 0xF3: case 0xF4: return "180p";
        default: return nullptr;
    }
}


// ARIB bytes to UTF-8, the additional symbols as their Unicode forms.
std::string Utf8(const uint8_t* bytes, int32_t size) {
    static char buffer[kDecodeCapacity];
    DecodeAribText(buffer, bytes, size, kDecodeCapacity, SymbolStyle::kUserDefined);
    return Cp932ToUtf8WithSymbols(buffer);
}

std::string Number(int64_t value) {
    char text[32];
    std::snprintf(text, sizeof text, "%" PRId64, value);
    return text;
}

// UTC milliseconds of a Japan-time second count.
int64_t UtcMilliseconds(int64_t japanSeconds) {
    return (japanSeconds - kJapanUtcOffsetSeconds) * kMillisecondsPerSecond;
}

void AppendProgramme(std::string& out, const EitEventRecord& r) {
    const int64_t id = static_cast<int64_t>(r.originalNetworkId) * 10000000000LL +
                       static_cast<int64_t>(r.serviceId) * 100000LL + r.eventId;
    out += "{\"id\":" + Number(id);
    out += ",\"eventId\":" + Number(r.eventId);
    out += ",\"serviceId\":" + Number(r.serviceId);
    out += ",\"networkId\":" + Number(r.originalNetworkId);
    out += ",\"startAt\":" + (r.startDetermined ? Number(UtcMilliseconds(r.start)) : std::string("null"));
    out += ",\"duration\":" +
           (r.durationDetermined ? Number(static_cast<int64_t>(r.duration) * kMillisecondsPerSecond) : std::string("null"));
    out += std::string(",\"isFree\":") + (r.freeCaMode ? "false" : "true");
    if (r.hasShortEvent) {
        out += ",\"name\":";
        AppendJsonString(out, Utf8(r.name, r.nameSize));
        out += ",\"description\":";
        AppendJsonString(out, Utf8(r.text, r.textSize));
    }
    if (r.extended.itemCount > 0) {
        // Items under the same heading are joined before decoding, as their
        // bytes may continue one another.
        std::vector<std::string> keys;
        std::map<std::string, std::vector<uint8_t>> texts;
        for (int32_t i = 0; i < r.extended.itemCount && i < kMaxDetailItems; ++i) {
            const ExtendedItemRaw& item = r.extended.items[i];
            const std::string key = Utf8(item.description, item.descriptionSize);
            if (texts.find(key) == texts.end()) keys.push_back(key);
            std::vector<uint8_t>& joined = texts[key];
            joined.insert(joined.end(), item.text, item.text + item.textSize);
        }
        out += ",\"extended\":{";
        for (size_t i = 0; i < keys.size(); ++i) {
            if (i > 0) out += ',';
            AppendJsonString(out, keys[i]);
            out += ':';
            const std::vector<uint8_t>& joined = texts[keys[i]];
            AppendJsonString(out, Utf8(joined.data(), static_cast<int32_t>(joined.size())));
        }
        out += '}';
    }
    if (r.videoCount > 0) {
        // The first component descriptor, the main video.
        const EitVideo& v = r.videos[0];
        const char* type = VideoType(v.streamContent);
        const char* resolution = VideoResolution(v.componentType);
        out += ",\"video\":{\"type\":" + (type ? "\"" + std::string(type) + "\"" : std::string("null"));
        out += ",\"resolution\":" + (resolution ? "\"" + std::string(resolution) + "\"" : std::string("null"));
        out += ",\"streamContent\":" + Number(v.streamContent);
        out += ",\"componentType\":" + Number(v.componentType) + "}";
    }
    if (r.audioCount > 0) {
        const EitAudio& a = r.audios[0];
        out += ",\"audio\":{\"samplingRate\":" + Number(kSamplingRates[a.samplingRate & 0x07]);
        out += ",\"componentType\":" + Number(a.componentType) + "}";
    }
    if (r.genreCount > 0) {
        out += ",\"genres\":[";
        for (int32_t i = 0; i < r.genreCount && i < kMaxEventGenres; ++i) {
            const EitGenre& g = r.genres[i];
            if (i > 0) out += ',';
            out += "{\"lv1\":" + Number(g.level1) + ",\"lv2\":" + Number(g.level2) + ",\"un1\":" + Number(g.user1) +
                   ",\"un2\":" + Number(g.user2) + "}";
        }
        out += ']';
    }
    if (r.hasSeries) {
        const EitSeries& s = r.series;
        out += ",\"series\":{\"id\":" + Number(s.seriesId);
        out += ",\"repeat\":" + Number(s.repeatLabel);
        out += ",\"pattern\":" + Number(s.programPattern);
        // The expiry date's midnight, Japan time.
        out += ",\"expiresAt\":" +
               (s.expireDateValid ? Number(UtcMilliseconds((s.expireDate - kMjdUnixEpoch) * kSecondsPerDay))
                                  : std::string("-1"));
        out += ",\"episode\":" + Number(s.episodeNumber);
        out += ",\"lastEpisode\":" + Number(s.lastEpisodeNumber);
        out += ",\"name\":";
        AppendJsonString(out, Utf8(s.name, s.nameSize));
        out += '}';
    }
    if (r.relatedCount > 0) {
        out += ",\"relatedItems\":[";
        for (int32_t i = 0; i < r.relatedCount && i < kMaxRelatedEvents; ++i) {
            const EitRelatedEvent& e = r.related[i];
            if (i > 0) out += ',';
            out += '{';
            // Events of the same network name no network, as the peer's
            // consumers expect.
            if (e.otherNetwork) out += "\"networkId\":" + Number(e.originalNetworkId) + ",";
            out += "\"serviceId\":" + Number(e.serviceId) + ",\"eventId\":" + Number(e.eventId) + "}";
        }
        out += ']';
    }
    out += '}';
}

class EpgCollector {
public:
    EpgCollector()
        : services_(new EitScheduleService[kEpgDumpServices]),
          pools_(new uint8_t[static_cast<size_t>(kEpgDumpServices) * kEpgDumpPoolSize]),
          streams_(new SectionStream[kEitPidCount]) {
        InitScheduleSet(set_, services_.get(), kEpgDumpServices, pools_.get(), kEpgDumpPoolSize);
        for (int32_t i = 0; i < kEitPidCount; ++i) ResetSectionStream(streams_[i]);
    }

    void Packet(const uint8_t* packet) {
        const uint16_t pid = PacketPid(packet);
        for (int32_t i = 0; i < kEitPidCount; ++i) {
            if (pid == kEitPids[i]) FeedSectionStream(streams_[i], packet, &EpgCollector::Sink, this);
        }
    }

    std::string Json(std::string& warnings) {
        std::string out = "[";
        bool first = true;
        std::vector<ScheduleEventRef> refs(kScheduleEventsEightDays * 8);
        std::unique_ptr<EitEventRecord> record(new EitEventRecord);
        for (int32_t i = 0; i < set_.count; ++i) {
            const EitScheduleService& s = services_[i];
            const int32_t n = ListScheduleEvents(s, refs.data(), static_cast<int32_t>(refs.size()));
            for (int32_t k = 0; k < n; ++k) {
                if (!ReadScheduleEvent(s, refs[static_cast<size_t>(k)], *record)) continue;
                out += first ? "\n" : ",\n";
                first = false;
                AppendProgramme(out, *record);
            }
            for (const auto& kept : seen_) {
                const Seen& e = kept.second;
                if (e.networkId != s.originalNetworkId || e.transportStreamId != s.transportStreamId ||
                    e.serviceId != s.serviceId) {
                    continue;
                }
                bool listed = false;
                for (int32_t k = 0; k < n && !listed; ++k) {
                    const ScheduleEventRef& ref = refs[static_cast<size_t>(k)];
                    const int64_t end = ref.start + (ref.durationDetermined ? ref.duration : 1);
                    listed = ref.eventId == e.eventId ||
                             (e.startDetermined && ref.startDetermined && ref.start < e.end && e.start < end);
                }
                if (listed) continue;
                out += first ? "\n" : ",\n";
                first = false;
                out += e.json;
            }
            if (s.refusedSections > 0) {
                warnings += "service " + Number(s.serviceId) + ": " + Number(s.refusedSections) +
                            " EIT sections did not fit its " + Number(kEpgDumpPoolSize) + "-byte pool\n";
            }
        }
        if (set_.refusedServices > 0) {
            warnings += Number(set_.refusedServices) + " EIT sections of services past the first " +
                        Number(kEpgDumpServices) + " were left out\n";
        }
        out += first ? "]\n" : "\n]\n";
        return out;
    }

private:
    static void Sink(void* context, const uint8_t* section, int32_t size) {
        // A long-form section whose CRC_32 over all its bytes is 0.
        if (size < kEitSectionHeaderSize + 4 || Crc32Mpeg2(section, static_cast<size_t>(size)) != 0) return;
        EpgCollector* self = static_cast<EpgCollector*>(context);
        if (AddScheduleSetSection(self->set_, section, size) == ScheduleAddResult::kStored &&
            IsEitPresentFollowing(section[0])) {
            self->KeepPresentFollowing(section, size);
        }
    }

    // A present or following event stays in the dump after the stream
    // moved on from it (the schedule state keeps only the current pair):
    // each p/f event as it last arrived, listed when the final guide has no
    // event of that id and none that overlaps it.
    struct Seen {
        uint16_t networkId;
        uint16_t transportStreamId;
        uint16_t serviceId;
        uint16_t eventId;
        bool startDetermined;
        int64_t start;
        int64_t end;
        std::string json;
    };

    void KeepPresentFollowing(const uint8_t* section, int32_t size) {
        EitSectionHeader h;
        if (!ReadEitSectionHeader(section, size, h)) return;
        EitEventCursor cursor(section, size);
        EitEventEntry entry;
        while (cursor.Next(entry)) {
            ReadEitEvent(h, entry, *record_);
            Seen seen = {h.originalNetworkId, h.transportStreamId, h.serviceId, entry.eventId, record_->startDetermined,
                         record_->start, record_->start + (record_->durationDetermined ? record_->duration : 1),
                         std::string()};
            AppendProgramme(seen.json, *record_);
            const uint64_t key = static_cast<uint64_t>(h.originalNetworkId) << 48 |
                                 static_cast<uint64_t>(h.transportStreamId) << 32 |
                                 static_cast<uint64_t>(h.serviceId) << 16 | entry.eventId;
            seen_[key] = seen;
        }
    }

    std::map<uint64_t, Seen> seen_;
    std::unique_ptr<EitEventRecord> record_{new EitEventRecord};

    std::unique_ptr<EitScheduleService[]> services_;
    std::unique_ptr<uint8_t[]> pools_;
    std::unique_ptr<SectionStream[]> streams_;
    EitScheduleSet set_;
};

// The first offset at which sync bytes stand 188 bytes apart.
size_t SyncOffset(const uint8_t* data, size_t size) {
    for (size_t at = 0; at < kPacket && at < size; ++at) {
        bool ok = true;
        for (size_t k = at; k < size && k < at + 5 * kPacket; k += kPacket) ok = ok && data[k] == 0x47;
        if (ok) return at;
    }
    return 0;
}

}  // namespace

std::string EpgJsonFromStream(const uint8_t* data, size_t size, std::string& warnings) {
    std::unique_ptr<EpgCollector> collector(new EpgCollector);
    for (size_t at = SyncOffset(data, size); at + kPacket <= size; at += kPacket) {
        collector->Packet(data + at);
    }
    return collector->Json(warnings);
}

int RunEpgDump(int argc, char** argv) {
    std::string input;
    std::string output;
    bool named = false;  // -o given, even with an empty name
    bool force = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--epg") continue;
        if (arg == "--force") {
            force = true;
        } else if ((arg == "-o" || arg == "--output") && i + 1 < argc) {
            output = argv[++i];
            named = true;
        } else if (arg.compare(0, 9, "--output=") == 0) {
            output = arg.substr(9);
            named = true;
        } else if (!arg.empty() && arg[0] == '-' && arg != "-") {
            std::fprintf(stderr, "kestrin-info: --epg takes only -o OUT.json and the input, not '%s'\n", arg.c_str());
            return 1;
        } else if (input.empty()) {
            input = arg;
        } else {
            std::fprintf(stderr, "kestrin-info: one input file only\n");
            return 1;
        }
    }
    if (input.empty()) {
        std::fprintf(stderr, "kestrin-info: --epg wants an input file\n");
        return 1;
    }
    if (named && output.empty()) {
        std::fprintf(stderr, "kestrin-info: -o needs a file name (or - for standard output)\n");
        return 1;
    }
    std::FILE* in = input == "-" ? stdin : std::fopen(input.c_str(), "rb");
    if (in == nullptr) {
        std::fprintf(stderr, "kestrin-info: cannot open '%s': %s\n", input.c_str(), std::strerror(errno));
        return 2;
    }
    // The JSON goes where --extract's packets go: never over the input nor,
    // without --force, over an existing file, and renamed into place only
    // once it is whole.
    StandardOutput standardOutput;
    OutputFile out(standardOutput);
    switch (out.Prepare(output.empty() ? std::string("-") : output, force, IdentityOfStream(in))) {
        case OutputFile::Check::kOk:
            break;
        case OutputFile::Check::kIsInput:
            std::fprintf(stderr, "kestrin-info: the output '%s' is the input: refused\n", output.c_str());
            if (in != stdin) std::fclose(in);
            return 6;
        case OutputFile::Check::kExists:
            std::fprintf(stderr, "kestrin-info: '%s' exists (--force replaces it)\n", output.c_str());
            if (in != stdin) std::fclose(in);
            return 6;
        case OutputFile::Check::kIsDirectory:
            std::fprintf(stderr, "kestrin-info: '%s' is a directory\n", output.c_str());
            if (in != stdin) std::fclose(in);
            return 6;
    }
    std::unique_ptr<EpgCollector> collector(new EpgCollector);
    std::vector<uint8_t> buffer(kReadChunk + kPacket);
    size_t held = 0;
    bool synced = false;
    for (;;) {
        const size_t n = std::fread(buffer.data() + held, 1, kReadChunk, in);
        held += n;
        size_t at = 0;
        if (!synced && held >= kPacket) {
            at = SyncOffset(buffer.data(), held);
            synced = true;
        }
        for (; at + kPacket <= held; at += kPacket) collector->Packet(buffer.data() + at);
        std::memmove(buffer.data(), buffer.data() + at, held - at);
        held -= at;
        if (n == 0) break;
    }
    const bool readFailed = std::ferror(in) != 0;
    if (in != stdin) std::fclose(in);
    if (readFailed) {
        std::fprintf(stderr, "kestrin-info: cannot read '%s'\n", input.c_str());
        return 2;
    }
    std::string warnings;
    const std::string json = collector->Json(warnings);
    if (!warnings.empty()) std::fputs(warnings.c_str(), stderr);
    const bool ok = out.Open() && out.Write(reinterpret_cast<const uint8_t*>(json.data()), json.size()) &&
                    out.Close() && out.Commit();
    if (!ok) {
        out.Discard();
        // A reader that closed the pipe ends the run quietly.
        if (out.ToStandardOutput() && standardOutput.ClosedPipe()) return 0;
        std::fprintf(stderr, "kestrin-info: %s\n",
                     out.ToStandardOutput() ? standardOutput.Error().c_str() : out.Error().c_str());
        return 5;
    }
    if (out.ToStandardOutput() && !standardOutput.Finish()) {
        if (standardOutput.ClosedPipe()) return 0;
        std::fprintf(stderr, "kestrin-info: %s\n", standardOutput.Error().c_str());
        return 5;
    }
    return 0;
}
