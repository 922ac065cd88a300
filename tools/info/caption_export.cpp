#include "tools/info/caption_export.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#include "text/caption_decoder.h"
#include "tools/info/caption_symbols.h"
#include "tools/info/cp932_utf8.h"
#include "ts/packet.h"
#include "ts/pes_assembler.h"
#include "ts/psi_reader.h"
#include "ts/section.h"
#include "ts/section_assembler.h"

namespace {

const uint16_t kOneSegmentPmtPid = 0x1FC8;
const uint8_t kStreamTypePrivateData = 0x06;
const uint8_t kStreamIdentifierDescriptor = 0x52;
// component_tag of the caption stream: 0x87 on the one-segment service
// (profile C), 0x30-0x37 on a full-segment one (profile A).
const uint8_t kOneSegCaptionTag = 0x87;
const uint8_t kFirstCaptionTag = 0x30;
const uint8_t kLastCaptionTag = 0x37;
// A cue with no screen after it lasts this long, unless the file ends
// later.
const int64_t kLastCueMs = 5000;
// PTS and PCR base: 33 bits at 90 kHz.
const uint64_t kClockWrap = 1ull << 33;

// Each screen the decoder reports, at its time.
struct ScreenEvent {
    int64_t timeMs;
    std::unique_ptr<CaptionScreen> screen;
};

class Collector : public CaptionSink {
public:
    int64_t statementMs = 0;
    std::vector<ScreenEvent> events;

    void OnCaptionScreen(const CaptionScreen& screen, int32_t delayMs) override {
        ScreenEvent e;
        e.timeMs = statementMs + delayMs;
        e.screen.reset(new CaptionScreen(screen));
        events.push_back(std::move(e));
    }
};

// Screens to cues: each screen with text is shown until the next screen
// (a screen repeated unchanged continues the cue); the last one until the
// end of the file, or kLastCueMs when the file ends with it.
std::vector<CaptionCue> BuildCues(const std::vector<ScreenEvent>& events, int64_t endOfFileMs, bool ruby) {
    std::vector<CaptionCue> cues;
    std::string shown;
    bool open = false;
    for (size_t i = 0; i < events.size(); ++i) {
        const ScreenEvent& e = events[i];
        const std::string text = CaptionScreenText(*e.screen, true);
        const bool empty = CaptionScreenIsEmpty(*e.screen, ruby);
        if (open && text == shown) continue;
        if (open) {
            cues.back().endMs = e.timeMs;
            // A screen that another replaced at the same moment was never seen.
            if (cues.back().endMs <= cues.back().startMs) cues.pop_back();
            open = false;
        }
        shown = text;
        if (empty) continue;
        CaptionCue cue;
        cue.startMs = e.timeMs;
        cue.endMs = e.timeMs;
        cue.screen = *e.screen;
        cues.push_back(cue);
        open = true;
    }
    if (open) {
        CaptionCue& last = cues.back();
        last.endMs = endOfFileMs > last.startMs ? endOfFileMs : last.startMs + kLastCueMs;
    }
    return cues;
}

// ---- transport stream ------------------------------------------------------

// The PAT's programs: program_number and PMT PID.
bool FindPmtPid(const uint8_t* section, int32_t size, int32_t service, int32_t* foundService,
                uint16_t* pmtPid) {
    PsiReader reader(section, size);
    reader.U8();
    PsiReader body = reader.Enter(reader.Length12());
    body.Skip(5);
    if (body.Error()) return false;
    PsiReader programs = body.Enter(body.Remaining() - kCrcSize);
    while (programs.CanRead(4)) {
        const int32_t program = programs.U16();
        const uint16_t pid = programs.Pid();
        if (program == 0) continue;
        if ((service < 0 && pid == kOneSegmentPmtPid) || program == service) {
            *foundService = program;
            *pmtPid = pid;
            return true;
        }
    }
    return false;
}

// The caption stream of a PMT: the first stream_type 0x06 entry whose
// stream identifier descriptor carries a caption component_tag.
bool FindCaptionPid(const uint8_t* section, int32_t size, uint16_t* pid, CaptionProfile* profile) {
    PsiReader reader(section, size);
    reader.U8();
    PsiReader body = reader.Enter(reader.Length12());
    body.Skip(5);  // program_number, version, section numbers
    body.Pid();    // PCR_PID
    body.Skip(body.Length12());
    if (body.Error()) return false;
    PsiReader streams = body.Enter(body.Remaining() - kCrcSize);
    while (streams.CanRead(5)) {
        const uint8_t streamType = streams.U8();
        const uint16_t esPid = streams.Pid();
        PsiReader descriptors = streams.Enter(streams.Length12());
        while (descriptors.CanRead(2)) {
            const uint8_t tag = descriptors.U8();
            PsiReader d = descriptors.Enter(descriptors.U8());
            if (tag != kStreamIdentifierDescriptor || streamType != kStreamTypePrivateData) continue;
            const uint8_t componentTag = d.U8();
            if (d.Error()) continue;
            if (componentTag == kOneSegCaptionTag ||
                (componentTag >= kFirstCaptionTag && componentTag <= kLastCaptionTag)) {
                *pid = esPid;
                *profile = componentTag == kOneSegCaptionTag ? CaptionProfile::kC : CaptionProfile::kA;
                return true;
            }
        }
    }
    return false;
}

// The PCR of a packet's adaptation field, as 90 kHz ticks.
bool PacketPcr(const uint8_t* p, uint64_t* pcr) {
    if (!PacketHasAdaptationField(p) || p[4] < 7 || (p[5] & 0x10) == 0) return false;
    *pcr = (static_cast<uint64_t>(p[6]) << 25) | (static_cast<uint64_t>(p[7]) << 17) |
           (static_cast<uint64_t>(p[8]) << 9) | (static_cast<uint64_t>(p[9]) << 1) | (p[10] >> 7);
    return true;
}

// Milliseconds from `base` to `ticks` on the 33-bit clock; a time just
// before the base (less than half the wrap) reads as 0.
int64_t TicksToMs(uint64_t ticks, uint64_t base) {
    const uint64_t delta = (ticks + kClockWrap - base) % kClockWrap;
    if (delta >= kClockWrap / 2) return 0;
    return static_cast<int64_t>(delta / 90);
}

// The whole reading of a transport stream, a packet at a time.
class TransportReader {
public:
    explicit TransportReader(const CaptionExportOptions& options) : options_(options) {
        ResetSectionAssembler(pat_);
        ResetSectionAssembler(pmt_);
        pes_.reset(new PesAssembler);
        ResetPesAssembler(*pes_, 0x1FFF);
        decoder_.reset(new CaptionDecoder);
    }

    void Feed(const uint8_t* p) {
        if (p[0] != 0x47) return;
        uint64_t pcr = 0;
        if (PacketPcr(p, &pcr)) {
            if (!hasBase_) {
                hasBase_ = true;
                base_ = pcr;
            }
            lastClock_ = pcr;
            hasLast_ = true;
        }
        const uint16_t pid = PacketPid(p);
        if (pmtPid_ == 0 && pid == kPatPid) {
            static const SectionFilter kPat = TableSectionFilter(kPatTableId, 9);
            AssembleSections(pat_, kPat, p,
                             [](void* self, const uint8_t* section, int32_t size) {
                                 TransportReader& r = *static_cast<TransportReader*>(self);
                                 if (r.pmtPid_ != 0) return;  // an earlier section of the packet told
                                 r.sawPat_ = true;
                                 FindPmtPid(section, size, r.options_.service, &r.service_, &r.pmtPid_);
                             },
                             this);
            return;
        }
        if (pmtPid_ != 0 && captionPid_ == 0 && pid == pmtPid_) {
            static const SectionFilter kPmt = TableSectionFilter(kPmtTableId, 13);
            AssembleSections(pmt_, kPmt, p,
                             [](void* self, const uint8_t* section, int32_t size) {
                                 TransportReader& r = *static_cast<TransportReader*>(self);
                                 if (r.captionPid_ != 0) return;  // an earlier section of the packet told
                                 r.sawPmt_ = true;
                                 CaptionProfile profile = CaptionProfile::kC;
                                 if (FindCaptionPid(section, size, &r.captionPid_, &profile)) {
                                     ResetCaptionDecoder(*r.decoder_,
                                                         CaptionDecoderOptions{r.options_.language, profile});
                                     ResetPesAssembler(*r.pes_, r.captionPid_);
                                 }
                             },
                             this);
            return;
        }
        if (captionPid_ == 0 || pid != captionPid_) return;
        if (AssemblePes(*pes_, p) != PesResult::kComplete) return;
        PesPacket pes;
        if (!ParsePesPacket(pes_->buffer, pes_->packetSize, &pes) || !pes.hasPts) return;
        if (!hasBase_) {
            hasBase_ = true;
            base_ = pes.pts;
        }
        collector_.statementMs = TicksToMs(pes.pts, base_);
        if (!hasLast_ || TicksToMs(pes.pts, base_) > TicksToMs(lastClock_, base_)) {
            lastClock_ = pes.pts;
            hasLast_ = true;
        }
        DecodeCaptionPesPayload(*decoder_, pes.payload, pes.payloadSize, &collector_);
    }

    CaptionReadResult Finish() {
        CaptionReadResult result;
        result.service = service_;
        result.captionPid = captionPid_;
        if (pmtPid_ == 0 || !sawPmt_) {
            result.status = CaptionReadStatus::kNoService;
            return result;
        }
        if (captionPid_ == 0) {
            result.status = CaptionReadStatus::kNoCaptionStream;
            return result;
        }
        const int64_t end = hasLast_ ? TicksToMs(lastClock_, base_) : 0;
        result.cues = BuildCues(collector_.events, end, options_.ruby);
        return result;
    }

private:
    CaptionExportOptions options_;
    SectionAssembler pat_;
    SectionAssembler pmt_;
    std::unique_ptr<PesAssembler> pes_;
    std::unique_ptr<CaptionDecoder> decoder_;
    Collector collector_;
    bool sawPat_ = false;
    bool sawPmt_ = false;
    int32_t service_ = -1;
    uint16_t pmtPid_ = 0;
    uint16_t captionPid_ = 0;
    bool hasBase_ = false;
    uint64_t base_ = 0;
    bool hasLast_ = false;
    uint64_t lastClock_ = 0;
};

bool LooksLikeTransportStream(const uint8_t* data, size_t size) {
    const size_t packets = size / kTsPacketSize;
    if (packets == 0) return false;
    const size_t checked = packets < 5 ? packets : 5;
    for (size_t i = 0; i < checked; ++i) {
        if (data[i * kTsPacketSize] != 0x47) return false;
    }
    return true;
}

std::FILE* OpenInput(const std::string& name, std::string& error) {
    if (name == "-") {
#ifdef _WIN32
        _setmode(_fileno(stdin), _O_BINARY);
#endif
        return stdin;
    }
    std::FILE* f = std::fopen(name.c_str(), "rb");
    if (f == nullptr) error = std::strerror(errno);
    return f;
}

// Fills `out` as far as the input goes; false on a read error.
bool ReadFully(std::FILE* f, uint8_t* out, size_t size, size_t* got) {
    *got = 0;
    while (*got < size) {
        const size_t n = std::fread(out + *got, 1, size - *got, f);
        *got += n;
        if (n == 0) return std::ferror(f) == 0;
    }
    return true;
}

// A transport stream read a buffer at a time, so that a recording of any
// size goes through in little memory. A partial packet at the end is
// ignored.
bool ReadTransportStream(std::FILE* f, const CaptionExportOptions& options, CaptionReadResult* result) {
    const size_t kBufferPackets = 1024;
    std::vector<uint8_t> buffer(kBufferPackets * kTsPacketSize);
    TransportReader reader(options);
    bool first = true;
    for (;;) {
        size_t got = 0;
        if (!ReadFully(f, buffer.data(), buffer.size(), &got)) return false;
        if (first && !LooksLikeTransportStream(buffer.data(), got)) {
            result->status = CaptionReadStatus::kNotTransportStream;
            return true;
        }
        first = false;
        for (size_t at = 0; at + kTsPacketSize <= got; at += kTsPacketSize) reader.Feed(&buffer[at]);
        if (got < buffer.size()) break;
    }
    *result = reader.Finish();
    return true;
}

bool ParseFormat(const std::string& text, CaptionFormat* format) {
    if (text == "srt") *format = CaptionFormat::kSrt;
    else if (text == "vtt") *format = CaptionFormat::kVtt;
    else if (text == "json") *format = CaptionFormat::kJson;
    else return false;
    return true;
}

}  // namespace

std::string CaptionScreenText(const CaptionScreen& screen, bool ruby) {
    std::vector<char> text(kCaptionMaxRows * kCaptionRowTextSize + kCaptionMaxRows * 2 + 1);
    const int32_t n = FormatCaptionText(screen, ruby, text.data(), static_cast<int32_t>(text.size()));
    return std::string(text.data(), static_cast<size_t>(n));
}

CaptionReadResult ReadCaptionsFromTransportStream(const std::vector<uint8_t>& stream,
                                                  const CaptionExportOptions& options) {
    if (!LooksLikeTransportStream(stream.data(), stream.size())) {
        CaptionReadResult r;
        r.status = CaptionReadStatus::kNotTransportStream;
        return r;
    }
    TransportReader reader(options);
    for (size_t at = 0; at + kTsPacketSize <= stream.size(); at += kTsPacketSize) reader.Feed(&stream[at]);
    return reader.Finish();
}

CaptionReadResult ReadCaptionsFromPesPayloads(const std::vector<uint8_t>& payloads,
                                              const CaptionExportOptions& options) {
    CaptionReadResult result;
    std::unique_ptr<CaptionDecoder> decoder(new CaptionDecoder);
    ResetCaptionDecoder(*decoder, CaptionDecoderOptions{options.language, CaptionProfile::kA});
    Collector collector;
    // Each payload: data_identifier, private_stream_id, header length and
    // header, then one data group (5 header bytes, data_group_size bytes,
    // CRC_16). The file is walked by those lengths.
    size_t at = 0;
    int64_t index = 0;
    while (at + 3 <= payloads.size()) {
        const size_t group = at + 3 + (payloads[at + 2] & 0x0F);
        if (group + 5 > payloads.size()) break;
        const size_t size = (static_cast<size_t>(payloads[group + 3]) << 8) | payloads[group + 4];
        size_t end = group + 5 + size + 2;
        if (end > payloads.size()) end = payloads.size();
        collector.statementMs = index * 1000;
        DecodeCaptionPesPayload(*decoder, &payloads[at], static_cast<int32_t>(end - at), &collector);
        at = end;
        ++index;
    }
    result.cues = BuildCues(collector.events, index * 1000, options.ruby);
    return result;
}


bool WantsCaptionExport(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--captions") == 0 || std::strncmp(argv[i], "--captions=", 11) == 0) return true;
    }
    return false;
}

int RunCaptionExport(int argc, char** argv) {
    CaptionExportOptions options;
    std::string input;
    bool haveFormat = false;
    auto usage = [](const char* message, const char* value) {
        std::fprintf(stderr, "kestrin-info: %s%s%s\n", message, value ? " " : "", value ? value : "");
        std::fputs("Usage: kestrin-info --captions srt|vtt|json [--captions-input ts|pes] [--service ID]\n"
                   "                    [--caption-language 1|2] [--ruby] INPUT\n",
                   stderr);
        return 1;
    };
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        // --option=value beside --option value.
        std::string inlineValue;
        const bool hasInline = arg.compare(0, 2, "--") == 0 && arg.find('=') != std::string::npos;
        if (hasInline) {
            inlineValue = arg.substr(arg.find('=') + 1);
            arg.resize(arg.find('='));
        }
        const char* value = hasInline ? inlineValue.c_str() : (i + 1 < argc ? argv[i + 1] : nullptr);
        if (arg == "--captions") {
            if (value == nullptr || !ParseFormat(value, &options.format)) {
                return usage("--captions wants srt, vtt or json, not", value ? value : "nothing");
            }
            haveFormat = true;
            if (!hasInline) ++i;
        } else if (arg == "--captions-input") {
            if (value == nullptr || (std::strcmp(value, "ts") != 0 && std::strcmp(value, "pes") != 0)) {
                return usage("--captions-input wants ts or pes, not", value ? value : "nothing");
            }
            options.pesInput = std::strcmp(value, "pes") == 0;
            if (!hasInline) ++i;
        } else if (arg == "--service") {
            char* end = nullptr;
            const long v = value ? std::strtol(value, &end, 0) : -1;
            if (value == nullptr || *end != '\0' || v < 0 || v > 0xFFFF) {
                return usage("--service wants a service_id 0..65535, not", value ? value : "nothing");
            }
            options.service = static_cast<int32_t>(v);
            if (!hasInline) ++i;
        } else if (arg == "--caption-language") {
            if (value == nullptr || (std::strcmp(value, "1") != 0 && std::strcmp(value, "2") != 0)) {
                return usage("--caption-language wants 1 or 2, not", value ? value : "nothing");
            }
            options.language = value[0] - '1';
            if (!hasInline) ++i;
        } else if (hasInline && (arg == "--ruby" || arg == "--no-progress" || arg == "--quiet")) {
            return usage("takes no value:", argv[i]);
        } else if (arg == "--ruby") {
            options.ruby = true;
        } else if (arg == "--no-progress" || arg == "--quiet") {
            // Accepted with the other commands' options; nothing to show here.
        } else if (arg.size() > 1 && arg[0] == '-') {
            return usage("unknown option with --captions:", arg.c_str());
        } else if (input.empty()) {
            input = arg;
        } else {
            return usage("only one input, not also", arg.c_str());
        }
    }
    if (!haveFormat) return usage("--captions wants a format", nullptr);
    if (input.empty()) return usage("no input given (a .ts file, a PES payload file, or -)", nullptr);
    std::string error;
    std::FILE* f = OpenInput(input, error);
    if (f == nullptr) {
        std::fprintf(stderr, "kestrin-info: cannot read '%s': %s\n", input.c_str(), error.c_str());
        return 2;
    }
    CaptionReadResult result;
    bool read = true;
    if (options.pesInput) {
        // A file of caption PES payloads is small: read whole.
        std::vector<uint8_t> bytes;
        uint8_t chunk[65536];
        size_t n;
        while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) bytes.insert(bytes.end(), chunk, chunk + n);
        read = std::ferror(f) == 0;
        if (read) result = ReadCaptionsFromPesPayloads(bytes, options);
    } else {
        read = ReadTransportStream(f, options, &result);
    }
    if (f != stdin) std::fclose(f);
    if (!read) {
        std::fprintf(stderr, "kestrin-info: cannot read '%s': read error\n", input.c_str());
        return 2;
    }
    switch (result.status) {
        case CaptionReadStatus::kOk: break;
        case CaptionReadStatus::kNotTransportStream:
            std::fprintf(stderr, "kestrin-info: '%s' is not a transport stream\n", input.c_str());
            return 3;
        case CaptionReadStatus::kNoService:
            std::fprintf(stderr, "kestrin-info: '%s': no PMT of the %s service\n", input.c_str(),
                         options.service < 0 ? "one-segment" : "chosen");
            return 4;
        case CaptionReadStatus::kNoCaptionStream:
            std::fprintf(stderr, "kestrin-info: '%s': the service's PMT lists no caption stream\n", input.c_str());
            return 4;
    }
    const std::string out = FormatCaptionCues(result.cues, options);
    // Every write is checked: a full disk or a closed file must not pass for
    // success (a reader that closed the pipe ends the process by SIGPIPE).
    if (std::fwrite(out.data(), 1, out.size(), stdout) != out.size() || std::fflush(stdout) != 0) {
        std::fprintf(stderr, "kestrin-info: cannot write the captions to standard output: %s\n",
                     std::strerror(errno));
        return 5;
    }
    return 0;
}
