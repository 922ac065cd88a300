// kestrin-info: shows, for a transport-stream file, what the Kestrin viewer
// window would show, extracts the one-segment service exactly as the
// plug-in's recorder writes it, and lists the services of the stream.
//
// Everything runs through the plug-in's own core: the packets go through
// RoutePackets in host-sized buffers, the posted messages are handled after
// each buffer through ViewerPrivateMessage as the dialog procedure handles
// them, and the service is chosen with PluginOnChannelChange. The tool only
// prints what the core sets into the window.
//
// The input is read through PacketSource, which finds the packets in
// 188-, 192- and 204-byte recordings and past junk; the extraction is
// written through OutputFile, which never replaces the input or an existing
// file unasked and renames its temporary file into place only after a whole
// run; every write to standard output is checked.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

#include <nlohmann/json.hpp>

#include "plugin/messages.h"
#include "plugin/plugin_core.h"
#include "plugin/plugin_state.h"
#include "plugin/router.h"
#include "plugin/settings.h"
#include "tools/info/caption_export.h"
#include "tools/info/console_platform.h"
#include "tools/info/cp932_utf8.h"
#include "tools/info/epg_dump.h"
#include "tools/info/event_report.h"
#include "tools/info/info_options.h"
#include "tools/info/interruption.h"
#include "tools/info/list_services.h"
#include "tools/info/output_file.h"
#include "tools/info/packet_source.h"
#include "tools/info/standard_output.h"
#include "tools/info/window_printer.h"
#include "ts/packet.h"
#include "ts/psi_reader.h"
#include "ts/section.h"
#include "ts/section_assembler.h"
#include "ui/channel_buttons.h"
#include "ui/resource.h"
#include "ui/viewer.h"

#ifndef KESTRIN_INFO_VERSION
#define KESTRIN_INFO_VERSION "unknown"
#endif

namespace {

const uint16_t kOneSegmentPmtPid = 0x1FC8;
// How far the PAT is looked for before the first packet is routed.
const size_t kPatSearchLimit = 32u * 1024u * 1024u;
const int kProgressIntervalMs = 250;

bool IsTerminal(std::FILE* f) {
#ifdef _WIN32
    return _isatty(_fileno(f)) != 0;
#else
    return isatty(fileno(f)) != 0;
#endif
}

class PatFinder {
public:
    PatFinder() { ResetSectionAssembler(assembler_); }

    void Feed(const uint8_t* p) {
        if (PacketPid(p) != kPatPid || found()) return;
        AssembleSections(assembler_, kPatFilter, p,
                         [](void* self, const uint8_t* section, int32_t size) {
                             PatFinder& finder = *static_cast<PatFinder*>(self);
                             if (!finder.found()) finder.Parse(section, size);
                         },
                         this);
    }

    bool sawPat() const { return sawPat_; }
    bool found() const { return service_ >= 0; }
    int32_t service() const { return service_; }

private:
    static const uint16_t kPatPid = 0x0000;
    // table_id 0x00; section_length 9 at least: the header after it and the
    // CRC_32.
    static const SectionFilter kPatFilter;
    // transport_stream_id, version and current_next, section_number,
    // last_section_number.
    static const int32_t kPatHeaderAfterLength = 5;
    static const int32_t kProgramEntrySize = 4;

    void Parse(const uint8_t* section, int32_t size) {
        PsiReader reader(section, size);
        reader.U8();  // table_id, tested by the filter
        PsiReader body = reader.Enter(reader.Length12());
        body.Skip(kPatHeaderAfterLength);
        if (body.Error()) return;
        sawPat_ = true;
        // The program loop runs to the CRC_32.
        PsiReader programs = body.Enter(body.Remaining() - kCrcSize);
        while (programs.CanRead(kProgramEntrySize)) {
            const int32_t program = programs.U16();
            const uint16_t pid = programs.Pid();
            if (program != 0 && pid == kOneSegmentPmtPid) {
                service_ = program;
                return;
            }
        }
    }

    SectionAssembler assembler_;
    bool sawPat_ = false;
    int32_t service_ = -1;
};

const SectionFilter PatFinder::kPatFilter = TableSectionFilter(0x00, 9);

class Progress {
public:
    Progress(bool enabled, const Input& input) : enabled_(enabled), input_(input) {}

    void Update(bool force = false) {
        if (!enabled_) return;
        const auto now = std::chrono::steady_clock::now();
        if (!force && shown_ &&
            std::chrono::duration_cast<std::chrono::milliseconds>(now - last_).count() < kProgressIntervalMs) {
            return;
        }
        last_ = now;
        shown_ = true;
        const double mb = input_.BytesRead() / 1e6;
        if (input_.Size() > 0) {
            std::fprintf(stderr, "\rkestrin-info: %3d%% (%.1f of %.1f MB)", Percent(), mb, input_.Size() / 1e6);
        } else {
            std::fprintf(stderr, "\rkestrin-info: %.1f MB", mb);
        }
        std::fflush(stderr);
    }

    void Clear() {
        if (!enabled_ || !shown_) return;
        std::fprintf(stderr, "\r%60s\r", "");
        std::fflush(stderr);
        shown_ = false;
    }

private:
    int Percent() const {
        const double p = input_.BytesRead() * 100.0 / input_.Size();
        return p > 100.0 ? 100 : static_cast<int>(p);
    }

    bool enabled_;
    const Input& input_;
    bool shown_ = false;
    std::chrono::steady_clock::time_point last_;
};

// False when standard output failed (or its reader went away).
bool Print(StandardOutput& out, const std::string& block, Progress& progress) {
    if (block.empty()) return out.Ok();
    progress.Clear();
    const bool ok = out.Write(block) && out.Flush();
    progress.Update(true);
    return ok;
}

void PumpMessages(ConsolePlatform& platform, PluginState& state, WindowPrinter& printer) {
    while (!platform.posted.empty()) {
        const uint32_t message = platform.posted.front();
        platform.posted.pop_front();
        ViewerPrivateMessage(state, message);
        printer.Observe(platform, state);
    }
}

int Fail(int code, const std::string& message) {
    std::fprintf(stderr, "kestrin-info: %s\n", message.c_str());
    return code;
}

std::string Quoted(const std::string& name) { return "'" + name + "'"; }


// The input opened and checked against standard output, and its packets.
struct OpenedInput {
    Input input;
    FileIdentity identity;
};

// 0, or the exit code after the message.
int OpenInput(const Options& o, OpenedInput& in) {
    std::string error;
    if (!in.input.Open(o.input, error)) return Fail(kExitCannotRead, "cannot open " + Quoted(o.input) + ": " + error);
    in.identity = IdentityOfStream(in.input.Stream());
    // As cat does: output appended to the file being read would be read again.
    if (in.identity.regular && IdentityOfStream(stdout).SameFileAs(in.identity)) {
        return Fail(kExitRefused, "standard output is the input " + Quoted(o.input) + ": refused");
    }
    return 0;
}


// How a run that stopped early ends: 0 when it did not. The caller has
// discarded its output file already.
int Stopped(const PacketSource& source, const StandardOutput& out) {
    if (source.Interruption() != 0) return EndBySignal(source.Interruption());
    if (out.ClosedPipe()) return EndByClosedPipe();
    if (!out.Ok()) return Fail(kExitCannotWrite, out.Error());
    return 0;
}

// Standard output flushed and closed at the end.
int FinishOutput(StandardOutput& out) {
    if (out.Finish()) return kExitOk;
    if (out.ClosedPipe()) return EndByClosedPipe();
    return Fail(kExitCannotWrite, out.Error());
}

int RunListServices(const Options& o, StandardOutput& out) {
    OpenedInput in;
    if (const int code = OpenInput(o, in)) return code;
    PacketSource source(in.input, static_cast<size_t>(o.bufferPackets));
    Progress progress(o.progress && IsTerminal(stderr), in.input);
    ServiceCollector services;
    bool any = false;
    const uint8_t* data = nullptr;
    size_t packets = 0;
    // To the end, or until the PAT and the SDT are whole.
    while (!services.Complete() && source.Next(&data, &packets)) {
        any = true;
        for (size_t i = 0; i < packets; ++i) services.Feed(data + i * kTsPacketSize);
        progress.Update();
    }
    progress.Clear();
    if (!any) return ExplainNoPackets(in.input, source);
    if (const int code = Stopped(source, out)) return code;
    if (source.ReadFailed()) {
        return Fail(kExitCannotRead, "cannot read " + Quoted(o.input) + ": " + std::strerror(in.input.Error()));
    }
    std::fputs(source.Warnings().c_str(), stderr);
    if (!services.SawPat()) std::fputs("kestrin-info: warning: no whole PAT found: no PMT PIDs\n", stderr);
    if (!services.SawSdt()) std::fputs("kestrin-info: warning: no whole SDT found: no service types or names\n", stderr);
    if (!o.quiet) {
        const std::string list = o.json ? ServiceListJson(services, o.symbols) : ServiceListText(services, o.symbols);
        if (!out.Write(list)) return Stopped(source, out);
    }
    return FinishOutput(out);
}

int Run(const Options& o, StandardOutput& out) {
    OpenedInput in;
    if (const int code = OpenInput(o, in)) return code;

    // Where the extraction goes is settled before anything is read or
    // opened for writing.
    OutputFile output(out);
    const bool extracting = o.extracting;
    if (extracting) {
        switch (output.Prepare(o.extract, o.force, in.identity)) {
            case OutputFile::Check::kOk:
                break;
            case OutputFile::Check::kIsInput:
                return Fail(kExitRefused, Quoted(o.extract) + " is the input " + Quoted(o.input) +
                                              ": refused, nothing was written");
            case OutputFile::Check::kExists:
                return Fail(kExitRefused, Quoted(o.extract) + " exists: not replaced (--force replaces it)");
            case OutputFile::Check::kIsDirectory:
                return Fail(kExitCannotWrite, "cannot create " + Quoted(o.extract) + ": is a directory");
        }
    }
    // With the packets on standard output, the window's changes are not.
    const bool quiet = o.quiet || output.ToStandardOutput();

    const size_t bufferPackets = static_cast<size_t>(o.bufferPackets);
    const size_t bufferBytes = bufferPackets * kTsPacketSize;
    PacketSource source(in.input, bufferPackets);
    Progress progress(o.progress && IsTerminal(stderr), in.input);

    // The first buffer decides whether this is a transport stream at all.
    // Without --service, buffers are held back until the PAT names the
    // one-segment service; they are routed afterwards in the same sizes.
    std::vector<std::vector<uint8_t>> held;
    PatFinder pat;
    bool more = true;
    const uint8_t* data = nullptr;
    size_t count = 0;
    do {
        if (!source.Next(&data, &count)) {
            more = false;
            break;
        }
        for (size_t i = 0; i < count; ++i) pat.Feed(data + i * kTsPacketSize);
        held.push_back(std::vector<uint8_t>(data, data + count * kTsPacketSize));
        progress.Update();
    } while (o.service < 0 && !pat.found() && held.size() * bufferBytes < kPatSearchLimit);
    if (held.empty()) {
        progress.Clear();
        return ExplainNoPackets(in.input, source);
    }
    if (source.Interruption() != 0) {
        progress.Clear();
        return EndBySignal(source.Interruption());
    }

    int32_t service = o.service;
    if (service < 0) {
        if (!pat.found()) {
            progress.Clear();
            return Fail(kExitNoOneSegment,
                        Quoted(o.input) + " has no one-segment service: " +
                            (pat.sawPat() ? "its PAT lists no PMT on PID 0x1FC8" : "no PAT found") +
                            (more ? " in the first 32 MB" : "") + " (choose one with --service; --list-services lists them)");
        }
        service = pat.service();
    }

    ConsolePlatform platform;
    std::unique_ptr<PluginState> state(new PluginState);
    InitPluginState(*state, &platform);
    // As CreatePluginWindow does: the settings path beside the "host"
    // executable, through which the recorder reads its directory and file
    // name. The channel buttons keep their plain labels: no channel table.
    LoadSettingsBeforeWindow(*state);
    state->hasWindow = true;
    ViewerInitialised(*state);
    WindowPrinter printer(OutputStyle{quiet, o.symbols, o.details, o.json});

    // The host reports the service; channel -1 is the plug-in's "no channel
    // yet", so no channel button changes.
    PluginOnChannelChange(*state, -1, service);
    printer.Observe(platform, *state);
    if (o.following) ViewerCommand(*state, IDC_PRESENT_FOLLOWING);
    printer.Observe(platform, *state);
    if (extracting) {
        platform.SetRecordingOutput(&output);
        ViewerCommand(*state, IDC_ONESEG_RECORD);
        if (!platform.recordingCreated) {
            progress.Clear();
            return Fail(kExitCannotWrite, platform.recordingError);
        }
    }
    bool stop = !Print(out, printer.Take(platform, *state, 0), progress);

    uint64_t packets = 0;
    auto route = [&](const uint8_t* bytes, size_t n) {
        ViewerStreamData(*state, bytes, static_cast<uint32_t>(n * kTsPacketSize));
        packets += n;
        PumpMessages(platform, *state, printer);
        // A failed write ends the recording and the run: its outcome is
        // settled.
        if (!Print(out, printer.Take(platform, *state, packets), progress) || platform.recordingWriteFailed) {
            stop = true;
        }
        progress.Update();
    };
    for (size_t i = 0; i < held.size() && !stop; ++i) route(held[i].data(), held[i].size() / kTsPacketSize);
    held.clear();
    while (more && !stop) {
        if (!source.Next(&data, &count)) break;
        route(data, count);
    }
    progress.Clear();

    if (const int code = Stopped(source, out)) {
        output.Discard();
        return code;
    }
    int code = kExitOk;
    if (source.ReadFailed()) {
        code = Fail(kExitCannotRead, "cannot read " + Quoted(o.input) + ": " + std::strerror(in.input.Error()));
    }
    std::fputs(source.Warnings().c_str(), stderr);

    if (extracting) {
        bool pmtRead;
        bool stillRecording;
        {
            std::lock_guard<std::mutex> guard(state->lock);
            pmtRead = state->esPidTable.count > 0;
            stillRecording = state->recording;
        }
        // The second press of the record button closes the file.
        if (stillRecording) ViewerCommand(*state, IDC_ONESEG_RECORD);
        const bool printed = Print(out, printer.Take(platform, *state, packets), progress);
        progress.Clear();
        if (!printed || out.ClosedPipe()) {
            output.Discard();
            return Stopped(source, out);
        }
        if (platform.recordingWriteFailed) {
            output.Discard();
            return Fail(kExitCannotWrite, platform.recordingError);
        }
        if (code != kExitOk) {
            output.Discard();
            return code;
        }
        if (!pmtRead) {
            output.Discard();
            return Fail(kExitNoOneSegment, Quoted(o.input) + " has no one-segment PMT: no PMT on PID 0x1FC8 was read");
        }
    }
    // Everything printed reached standard output before the file is renamed
    // into place.
    const int finished = FinishOutput(out);
    if (finished != kExitOk) {
        output.Discard();
        return finished;
    }
    if (extracting && !output.Commit()) return Fail(kExitCannotWrite, output.Error());
    return code;
}

}  // namespace

int main(int argc, char** argv) {
    StandardOutput out;
#ifdef _WIN32
    // UTF-8 as it is; a console shows it as UTF-8.
    if (IsTerminal(stdout)) SetConsoleOutputCP(CP_UTF8);
#endif
    // --epg is a command of its own (tools/info/epg_dump.*).
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--epg") == 0) return RunEpgDump(argc, argv);
    }
    // --captions is a command of its own, with its own options.
    if (WantsCaptionExport(argc, argv)) return RunCaptionExport(argc, argv);
    InstallInterruptionHandlers();
    Options options;
    if (ParseOptions(argc, argv, options) < 0) {
        std::fputs("Try 'kestrin-info --help'.\n", stderr);
        return kExitUsage;
    }
    if (options.help || options.version) {
        out.Write(options.help ? Usage() : std::string("kestrin-info ") + KESTRIN_INFO_VERSION + "\n");
        return FinishOutput(out);
    }
    if (options.extracting && options.extract == "-" && IsTerminal(stdout)) {
        std::fputs("kestrin-info: the packets are not written to a terminal: redirect standard output\n", stderr);
        return kExitUsage;
    }
    return options.listServices ? RunListServices(options, out) : Run(options, out);
}
