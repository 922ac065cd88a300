// kestrin-info --captions: the cues written as SRT, WebVTT or JSON lines.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "text/caption_decoder.h"
#include "tools/info/caption_export.h"
#include "tools/info/caption_symbols.h"
#include "tools/info/cp932_utf8.h"
#include "tools/info/json_text.h"

namespace {

// The Unicode character of an additional symbol the core wrote as a code
// page 932 user-defined character, or 0.
uint32_t SymbolOf(uint16_t shiftJis) {
    const size_t count = sizeof kCaptionSymbols / sizeof kCaptionSymbols[0];
    size_t low = 0;
    size_t high = count;
    while (low < high) {
        const size_t middle = (low + high) / 2;
        if (kCaptionSymbols[middle].shiftJis < shiftJis) low = middle + 1;
        else high = middle;
    }
    return low < count && kCaptionSymbols[low].shiftJis == shiftJis ? kCaptionSymbols[low].unicode : 0;
}

// Caption text in UTF-8: the additional symbols as their Unicode
// characters (subtitle players show no Private Use Area character), the
// rest as kestrin-info writes code page 932 with --symbols.
std::string CaptionUtf8(const std::string& shiftJis) {
    std::string out;
    std::string run;
    for (size_t i = 0; i < shiftJis.size(); ++i) {
        const uint8_t lead = static_cast<uint8_t>(shiftJis[i]);
        if (lead >= 0xF0 && lead <= 0xF9 && i + 1 < shiftJis.size()) {
            const uint32_t symbol = SymbolOf(static_cast<uint16_t>((lead << 8) | static_cast<uint8_t>(shiftJis[i + 1])));
            if (symbol != 0) {
                out += Cp932ToUtf8WithSymbols(run);
                run.clear();
                AppendUtf8(out, symbol);
                ++i;
                continue;
            }
        }
        run += shiftJis[i];
        // A double-byte character goes whole into the run.
        if (((lead >= 0x81 && lead <= 0x9F) || lead >= 0xE0) && i + 1 < shiftJis.size()) run += shiftJis[++i];
    }
    return out + Cp932ToUtf8WithSymbols(run);
}

std::string Utf8(const std::string& shiftJis) {
    std::string text = CaptionUtf8(shiftJis);
    // CR LF between lines becomes LF.
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        out += text[i];
    }
    return out;
}

std::string Timestamp(int64_t ms, char fractionSeparator) {
    if (ms < 0) ms = 0;
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%02lld:%02lld:%02lld%c%03lld", static_cast<long long>(ms / 3600000),
                  static_cast<long long>(ms / 60000 % 60), static_cast<long long>(ms / 1000 % 60),
                  fractionSeparator, static_cast<long long>(ms % 1000));
    return buffer;
}

std::string JsonString(const std::string& s) {
    std::string out;
    AppendJsonString(out, s);
    return out;
}

std::string ColourText(uint8_t index) {
    const CaptionColour c = CaptionColourOf(index);
    char buffer[16];
    if (c.alpha == 0) return "\"transparent\"";
    std::snprintf(buffer, sizeof buffer, "\"#%06x\"", static_cast<unsigned>(c.rgb));
    return buffer;
}

std::string Seconds(int64_t ms) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%lld.%03lld", static_cast<long long>(ms / 1000),
                  static_cast<long long>(ms % 1000));
    return buffer;
}

std::string JsonCue(size_t index, const CaptionCue& cue, bool ruby) {
    std::string out = "{\"index\":" + std::to_string(index) + ",\"start\":" + Seconds(cue.startMs) +
                      ",\"end\":" + Seconds(cue.endMs) + ",\"text\":" +
                      JsonString(Utf8(CaptionScreenText(cue.screen, ruby))) + ",\"plane\":{\"width\":" +
                      std::to_string(cue.screen.planeWidth) + ",\"height\":" + std::to_string(cue.screen.planeHeight) +
                      "},\"rows\":[";
    bool first = true;
    for (int32_t i = 0; i < cue.screen.rowCount && i < kCaptionMaxRows; ++i) {
        const CaptionRow& row = cue.screen.rows[i];
        if (row.length <= 0) continue;
        if (!first) out += ",";
        first = false;
        out += "{\"x\":" + std::to_string(row.x) + ",\"y\":" + std::to_string(row.y) +
               ",\"line\":" + std::to_string(row.line) + ",\"column\":" + std::to_string(row.column) +
               ",\"size\":\"" + CaptionCharSizeName(row.size) + "\",\"colour\":" + ColourText(row.foreground) +
               ",\"colour_index\":" + std::to_string(row.foreground) +
               ",\"background\":" + ColourText(row.background) + ",\"ruby\":" + (row.ruby ? "true" : "false") +
               ",\"flashing\":" + (row.flashing ? "true" : "false") + ",\"drcs\":" + (row.hasDrcs ? "true" : "false") +
               ",\"text\":" + JsonString(Utf8(std::string(row.text, static_cast<size_t>(row.length)))) + "}";
    }
    return out + "]}\n";
}

}  // namespace

std::string FormatCaptionCues(const std::vector<CaptionCue>& cues, const CaptionExportOptions& options) {
    std::string out;
    if (options.format == CaptionFormat::kVtt) out += "WEBVTT\n\n";
    size_t index = 0;
    for (const CaptionCue& cue : cues) {
        const std::string text = Utf8(CaptionScreenText(cue.screen, options.ruby));
        if (text.empty()) continue;
        ++index;
        switch (options.format) {
            case CaptionFormat::kSrt:
                out += std::to_string(index) + "\n" + Timestamp(cue.startMs, ',') + " --> " +
                       Timestamp(cue.endMs, ',') + "\n" + text + "\n\n";
                break;
            case CaptionFormat::kVtt:
                out += Timestamp(cue.startMs, '.') + " --> " + Timestamp(cue.endMs, '.') + "\n" + text + "\n\n";
                break;
            case CaptionFormat::kJson: out += JsonCue(index, cue, options.ruby); break;
        }
    }
    return out;
}
