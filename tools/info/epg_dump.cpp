#include "tools/info/epg_dump.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "tools/info/epg_collector.h"
#include "tools/info/info_options.h"
#include "tools/info/interruption.h"
#include "tools/info/json_text.h"
#include "tools/info/output_file.h"
#include "tools/info/packet_source.h"
#include "tools/info/standard_output.h"
#include "tools/info/xmltv_writer.h"
#include "ts/packet.h"

namespace {

const int64_t kMillisecondsPerSecond = 1000;
const int64_t kSecondsPerDay = 86400;
const int64_t kMjdUnixEpoch = 40587;
// Packets a buffer of the input: the guide takes them one by one.
const size_t kEpgBufferPackets = 4096;
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


std::string Number(int64_t value) {
    char text[32];
    std::snprintf(text, sizeof text, "%" PRId64, value);
    return text;
}

// UTC milliseconds of a Japan-time second count.
int64_t UtcMilliseconds(int64_t japanSeconds) {
    return (japanSeconds - kJapanUtcOffsetSeconds) * kMillisecondsPerSecond;
}

const char* GroupTypeName(uint8_t groupType) {
    switch (groupType) {
        case kEventGroupShared: return "shared";
        case kEventGroupRelay: case kEventGroupRelayOtherNetwork: return "relay";
        case kEventGroupMovement: case kEventGroupMovementOtherNetwork: return "movement";
        default: return nullptr;
    }
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
        AppendJsonString(out, EpgUtf8(r.name, r.nameSize));
        out += ",\"description\":";
        AppendJsonString(out, EpgUtf8(r.text, r.textSize));
    }
    if (r.extended.itemCount > 0) {
        const std::vector<std::pair<std::string, std::string>> items = EpgExtendedItems(r);
        out += ",\"extended\":{";
        for (size_t i = 0; i < items.size(); ++i) {
            if (i > 0) out += ',';
            AppendJsonString(out, items[i].first);
            out += ':';
            AppendJsonString(out, items[i].second);
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
        AppendJsonString(out, EpgUtf8(s.name, s.nameSize));
        out += '}';
    }
    if (r.relatedCount > 0) {
        out += ",\"relatedItems\":[";
        for (int32_t i = 0; i < r.relatedCount && i < kMaxRelatedEvents; ++i) {
            const EitRelatedEvent& e = r.related[i];
            if (i > 0) out += ',';
            out += '{';
            // What the group is, as newer EPG servers write it: a relay is
            // where the programme goes on, a movement where it moved to.
            const char* type = GroupTypeName(e.groupType);
            if (type != nullptr) out += std::string("\"type\":\"") + type + "\",";
            // Events of the same network name no network, as the peer's
            // consumers expect.
            if (e.otherNetwork) out += "\"networkId\":" + Number(e.originalNetworkId) + ",";
            out += "\"serviceId\":" + Number(e.serviceId) + ",\"eventId\":" + Number(e.eventId) + "}";
        }
        out += ']';
    }
    out += '}';
}

}  // namespace

std::string EpgJson(EpgCollector& collector, std::string& warnings) {
    std::string out = "[";
    bool first = true;
    collector.ForEachProgramme(
        [&](const EitEventRecord& record) {
            out += first ? "\n" : ",\n";
            first = false;
            AppendProgramme(out, record);
        },
        warnings);
    out += first ? "]\n" : "\n]\n";
    return out;
}

std::string EpgJsonFromStream(const uint8_t* data, size_t size, std::string& warnings) {
    std::unique_ptr<EpgCollector> collector(new EpgCollector);
    FeedEpgStream(*collector, data, size);
    return EpgJson(*collector, warnings);
}

int RunEpgDump(int argc, char** argv) {
    EpgOptions options;
    if (ParseEpgOptions(argc, argv, options) < 0) return kExitUsage;
    const std::string& input = options.input;
    const std::string& output = options.output;
    const bool force = options.force;
    // Read as every other command reads: packets of 188, 192 or 204 bytes,
    // found past junk, standard input as "-".
    Input in;
    std::string error;
    if (!in.Open(input, error)) {
        std::fprintf(stderr, "kestrin-info: cannot open '%s': %s\n", input.c_str(), error.c_str());
        return kExitCannotRead;
    }
    // The guide goes where --extract's packets go: never over the input nor,
    // without --force, over an existing file, and renamed into place only
    // once it is whole.
    StandardOutput standardOutput;
    OutputFile out(standardOutput);
    switch (out.Prepare(output.empty() ? std::string("-") : output, force, IdentityOfStream(in.Stream()))) {
        case OutputFile::Check::kOk:
            break;
        case OutputFile::Check::kIsInput:
            std::fprintf(stderr, "kestrin-info: the output '%s' is the input: refused\n", output.c_str());
            return kExitRefused;
        case OutputFile::Check::kExists:
            std::fprintf(stderr, "kestrin-info: '%s' exists (--force replaces it)\n", output.c_str());
            return kExitRefused;
        case OutputFile::Check::kIsDirectory:
            std::fprintf(stderr, "kestrin-info: '%s' is a directory\n", output.c_str());
            return kExitRefused;
    }
    std::unique_ptr<EpgCollector> collector(new EpgCollector);
    PacketSource source(in, kEpgBufferPackets);
    const uint8_t* data = nullptr;
    size_t packets = 0;
    bool any = false;
    while (source.Next(&data, &packets)) {
        any = true;
        for (size_t i = 0; i < packets; ++i) collector->Packet(data + i * kPacket);
    }
    // Not a transport stream (an empty file, a text, a program): said so,
    // and no guide written.
    if (!any) return ExplainNoPackets(in, source);
    if (source.Interruption() != 0) return EndBySignal(source.Interruption());
    if (source.ReadFailed()) {
        std::fprintf(stderr, "kestrin-info: cannot read '%s': %s\n", input.c_str(), std::strerror(in.Error()));
        return kExitCannotRead;
    }
    std::fputs(source.Warnings().c_str(), stderr);
    std::string warnings;
    const std::string text = options.format == EpgFormat::kXmltv ? EpgXmltv(*collector, warnings)
                                                                 : EpgJson(*collector, warnings);
    if (!warnings.empty()) std::fputs(warnings.c_str(), stderr);
    const bool ok = out.Open() && out.Write(reinterpret_cast<const uint8_t*>(text.data()), text.size()) &&
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
