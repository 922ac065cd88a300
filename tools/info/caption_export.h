// kestrin-info --captions: the ARIB captions of a service as SRT, WebVTT or
// JSON lines, decoded with the plug-in's own caption decoder.
//
// From a transport stream: the PAT gives the service's PMT (the one-segment
// service by default: the program whose PMT is on PID 0x1FC8), the PMT its
// caption stream (stream_type 0x06 with a stream identifier descriptor of
// component_tag 0x87 for the one-segment service, 0x30-0x37 for a
// full-segment one), and the PES packets of that PID are reassembled and
// decoded. Times come from the PTS, relative to the first PCR of the file
// (the first caption PTS when the file carries no PCR).
//
// From a file of caption PES payloads (--captions-input pes: each payload
// `80 FF F0 ...` with one data group, one after another, as recorded by
// tools that strip the PES headers): such a file has no clock, so the n-th
// payload (from 0) stands at n seconds.
#ifndef KESTRIN_TOOLS_INFO_CAPTION_EXPORT_H
#define KESTRIN_TOOLS_INFO_CAPTION_EXPORT_H

#include <cstdint>
#include <string>
#include <vector>

#include "text/caption_model.h"

enum class CaptionFormat { kSrt, kVtt, kJson };

struct CaptionExportOptions {
    CaptionFormat format = CaptionFormat::kSrt;
    bool pesInput = false;     // --captions-input pes
    int32_t service = -1;      // -1: the one-segment service
    int32_t language = 0;      // 0 first, 1 second (--caption-language 2)
    bool ruby = false;         // keep ruby (small-size text) in the text
};

// One cue: a screen shown from start to end (milliseconds from the start of
// the file).
struct CaptionCue {
    int64_t startMs;
    int64_t endMs;
    CaptionScreen screen;
};

// What reading the input gave.
enum class CaptionReadStatus {
    kOk,
    kNotTransportStream,  // no sync byte 0x47 at 188-byte steps
    kNoService,           // the PAT lists no such service, or no PMT of it was read
    kNoCaptionStream,     // the service's PMT lists no caption stream
};

struct CaptionReadResult {
    CaptionReadStatus status = CaptionReadStatus::kOk;
    uint16_t captionPid = 0;
    int32_t service = -1;
    std::vector<CaptionCue> cues;
};

// The cues of a whole transport stream, or of a file of PES payloads.
CaptionReadResult ReadCaptionsFromTransportStream(const std::vector<uint8_t>& stream,
                                                  const CaptionExportOptions& options);
CaptionReadResult ReadCaptionsFromPesPayloads(const std::vector<uint8_t>& payloads,
                                              const CaptionExportOptions& options);

// The screen's text as the viewer shows it (Shift_JIS, rows joined by line
// breaks), ruby kept or left out.
std::string CaptionScreenText(const CaptionScreen& screen, bool ruby);

// The cues written in the chosen format, UTF-8, lines ending in "\n".
std::string FormatCaptionCues(const std::vector<CaptionCue>& cues, const CaptionExportOptions& options);

// The command: `kestrin-info --captions FORMAT [--captions-input ts|pes]
// [--service ID] [--caption-language 1|2] [--ruby] INPUT`. True when argv
// asks for it (then RunCaptionExport handles the whole command line).
bool WantsCaptionExport(int argc, char** argv);
// Returns the exit code of kestrin-info: 0 ok, 1 usage, 2 cannot read, 3 not
// a transport stream, 4 no such service or no caption stream in it.
int RunCaptionExport(int argc, char** argv);

#endif
