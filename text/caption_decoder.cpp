#include "text/caption_decoder.h"

#include <cstring>

#include "text/arib_charset.h"
#include "text/caption_code_sets.h"
#include "text/caption_format.h"
#include "ts/pes_assembler.h"
#include "ts/psi_reader.h"

namespace {

using namespace caption_code_sets;
using namespace caption_format;

// C0 control functions of captions.
const uint8_t kNul = 0x00;
const uint8_t kApb = 0x08;   // active position backward
const uint8_t kApf = 0x09;   // active position forward
const uint8_t kApd = 0x0A;   // active position down
const uint8_t kApu = 0x0B;   // active position up
const uint8_t kCs = 0x0C;    // clear screen
const uint8_t kApr = 0x0D;   // active position return
const uint8_t kLs1 = 0x0E;
const uint8_t kLs0 = 0x0F;
const uint8_t kPapf = 0x16;  // parameterised active position forward
const uint8_t kSs2 = 0x19;
const uint8_t kEsc = 0x1B;
const uint8_t kAps = 0x1C;   // active position set
const uint8_t kSs3 = 0x1D;
const uint8_t kSp = 0x20;
const uint8_t kDel = 0x7F;

// C1 control functions.
const uint8_t kBkf = 0x80;   // BKF..WHF: 0x80-0x87, foreground of palette 0..7
const uint8_t kWhf = 0x87;
const uint8_t kSsz = 0x88;
const uint8_t kMsz = 0x89;
const uint8_t kNsz = 0x8A;
const uint8_t kSzx = 0x8B;
const uint8_t kCol = 0x90;
const uint8_t kFlc = 0x91;
const uint8_t kCdc = 0x92;
const uint8_t kPol = 0x93;
const uint8_t kWmm = 0x94;
const uint8_t kMacro = 0x95;
const uint8_t kHlc = 0x97;
const uint8_t kRpc = 0x98;
const uint8_t kCsi = 0x9B;
const uint8_t kTime = 0x9D;

// Macro codes that a statement may define: 0x60-0x6F.
const uint8_t kMacroFirst = 0x60;

// MACRO parameters.
const uint8_t kMacroDefine = 0x40;
const uint8_t kMacroDefineAndRun = 0x41;
const uint8_t kMacroEnd = 0x4F;

// How deep a macro may run another macro: the default macros only
// designate, so one level is all a real stream needs.
const int32_t kMaxMacroDepth = 2;
// RPC with parameter 0 repeats to the end of the line; at most this often.
const int32_t kMaxRepeat = 64;

// The default macros 0x60-0x6F: designations of the sets and the invocation
// LS0, LS2R.
#define KESTRIN_MACRO_TAIL 0x1B, 0x2B, 0x20, 0x70, 0x0F, 0x1B, 0x7D
const uint8_t kDefaultMacro60[] = {0x1B, 0x24, 0x42, 0x1B, 0x29, 0x4A, 0x1B, 0x2A, 0x30, KESTRIN_MACRO_TAIL};
const uint8_t kDefaultMacro61[] = {0x1B, 0x24, 0x42, 0x1B, 0x29, 0x31, 0x1B, 0x2A, 0x30, KESTRIN_MACRO_TAIL};
const uint8_t kDefaultMacro62[] = {0x1B, 0x24, 0x42, 0x1B, 0x29, 0x20, 0x41, 0x1B, 0x2A, 0x30, KESTRIN_MACRO_TAIL};
const uint8_t kDefaultMacro63[] = {0x1B, 0x28, 0x32, 0x1B, 0x29, 0x34, 0x1B, 0x2A, 0x35, KESTRIN_MACRO_TAIL};
const uint8_t kDefaultMacro64[] = {0x1B, 0x28, 0x32, 0x1B, 0x29, 0x33, 0x1B, 0x2A, 0x35, KESTRIN_MACRO_TAIL};
const uint8_t kDefaultMacro65[] = {0x1B, 0x28, 0x32, 0x1B, 0x29, 0x20, 0x41, 0x1B, 0x2A, 0x35, KESTRIN_MACRO_TAIL};
const uint8_t kDefaultMacro66[] = {0x1B, 0x28, 0x20, 0x41, 0x1B, 0x29, 0x20, 0x42, 0x1B, 0x2A, 0x20, 0x43,
                                   KESTRIN_MACRO_TAIL};
const uint8_t kDefaultMacro67[] = {0x1B, 0x28, 0x20, 0x44, 0x1B, 0x29, 0x20, 0x45, 0x1B, 0x2A, 0x20, 0x46,
                                   KESTRIN_MACRO_TAIL};
const uint8_t kDefaultMacro68[] = {0x1B, 0x28, 0x20, 0x47, 0x1B, 0x29, 0x20, 0x48, 0x1B, 0x2A, 0x20, 0x49,
                                   KESTRIN_MACRO_TAIL};
const uint8_t kDefaultMacro69[] = {0x1B, 0x28, 0x20, 0x4A, 0x1B, 0x29, 0x20, 0x4B, 0x1B, 0x2A, 0x20, 0x4C,
                                   KESTRIN_MACRO_TAIL};
const uint8_t kDefaultMacro6A[] = {0x1B, 0x28, 0x20, 0x4D, 0x1B, 0x29, 0x20, 0x4E, 0x1B, 0x2A, 0x20, 0x4F,
                                   KESTRIN_MACRO_TAIL};
const uint8_t kDefaultMacro6B[] = {0x1B, 0x24, 0x42, 0x1B, 0x29, 0x20, 0x42, 0x1B, 0x2A, 0x30, KESTRIN_MACRO_TAIL};
const uint8_t kDefaultMacro6C[] = {0x1B, 0x24, 0x42, 0x1B, 0x29, 0x20, 0x43, 0x1B, 0x2A, 0x30, KESTRIN_MACRO_TAIL};
const uint8_t kDefaultMacro6D[] = {0x1B, 0x24, 0x42, 0x1B, 0x29, 0x20, 0x44, 0x1B, 0x2A, 0x30, KESTRIN_MACRO_TAIL};
const uint8_t kDefaultMacro6E[] = {0x1B, 0x28, 0x31, 0x1B, 0x29, 0x30, 0x1B, 0x2A, 0x4A, KESTRIN_MACRO_TAIL};
const uint8_t kDefaultMacro6F[] = {0x1B, 0x28, 0x4A, 0x1B, 0x29, 0x32, 0x1B, 0x2A, 0x20, 0x41, KESTRIN_MACRO_TAIL};
#undef KESTRIN_MACRO_TAIL

struct MacroBytes {
    const uint8_t* bytes;
    int32_t size;
};
#define KESTRIN_MACRO(m) {m, static_cast<int32_t>(sizeof(m))}
const MacroBytes kDefaultMacros[kCaptionMacroCount] = {
    KESTRIN_MACRO(kDefaultMacro60), KESTRIN_MACRO(kDefaultMacro61), KESTRIN_MACRO(kDefaultMacro62),
    KESTRIN_MACRO(kDefaultMacro63), KESTRIN_MACRO(kDefaultMacro64), KESTRIN_MACRO(kDefaultMacro65),
    KESTRIN_MACRO(kDefaultMacro66), KESTRIN_MACRO(kDefaultMacro67), KESTRIN_MACRO(kDefaultMacro68),
    KESTRIN_MACRO(kDefaultMacro69), KESTRIN_MACRO(kDefaultMacro6A), KESTRIN_MACRO(kDefaultMacro6B),
    KESTRIN_MACRO(kDefaultMacro6C), KESTRIN_MACRO(kDefaultMacro6D), KESTRIN_MACRO(kDefaultMacro6E),
    KESTRIN_MACRO(kDefaultMacro6F),
};
#undef KESTRIN_MACRO

// The decoding of one statement body: the decoder, the sink, and where the
// walk through the bytes stands.
struct Run {
    CaptionDecoder& decoder;
    CaptionSink* sink;
    int32_t repeat;      // RPC count for the next character, 0 none, -1 to the end of the line
};

// ---- the screen --------------------------------------------------------

int32_t SizeRank(CaptionCharSize s) { return WidthPercent(s) * HeightPercent(s); }

bool IsRubySize(CaptionCharSize s) { return s == CaptionCharSize::kSmall; }

// The row that the next character joins: the one being written when it
// continues right where the last character ended with the same colour and
// kind of size; otherwise a new one (none when the screen is full).
CaptionRow* RowForCharacter(CaptionDecoder& d, int32_t width) {
    CaptionTextState& t = d.text;
    EnsurePosition(t);
    if (t.column + width > t.areaX + t.areaWidth && t.column > t.areaX) {
        // The character does not fit on the line: it goes to the next one.
        t.column = t.areaX;
        t.line = Bound(t.line + CellHeight(t));
        t.currentRow = -1;
    }
    CaptionScreen& s = d.screen;
    if (t.currentRow >= 0 && t.currentRow < s.rowCount) {
        CaptionRow& row = s.rows[t.currentRow];
        if (row.foreground == t.foreground && row.ruby == IsRubySize(t.size) && row.flashing == t.flashing) {
            return &row;
        }
    }
    if (s.rowCount >= kCaptionMaxRows) return nullptr;
    CaptionRow& row = s.rows[s.rowCount];
    row = CaptionRow{};
    row.x = Clamp16(t.column);
    row.y = Clamp16(t.line);
    row.line = Clamp16((t.line - t.areaY) / NormalCellHeight(t) - 1);
    row.column = Clamp16((t.column - t.areaX) / NormalCellWidth(t));
    row.size = t.size;
    row.foreground = t.foreground;
    row.background = t.background;
    row.ruby = IsRubySize(t.size);
    row.flashing = t.flashing;
    row.text[0] = '\0';
    t.currentRow = s.rowCount++;
    return &row;
}

// Writes one character's text (whole or not at all) at the active position
// and moves past it.
void WriteCharacter(CaptionDecoder& d, const char* text, int32_t length, bool drcs) {
    CaptionTextState& t = d.text;
    const int32_t width = CellWidth(t);
    CaptionRow* row = RowForCharacter(d, width);
    if (row != nullptr && length > 0 && length <= kCaptionRowTextSize - 1 - row->length) {
        std::memcpy(row->text + row->length, text, static_cast<size_t>(length));
        row->length += length;
        row->text[row->length] = '\0';
        if (SizeRank(t.size) > SizeRank(row->size)) row->size = t.size;
        if (drcs) row->hasDrcs = true;
    }
    t.column = Bound(t.column + width);
}

// A character with its RPC repetitions.
void PutCharacter(Run& run, const char* text, int32_t length, bool drcs) {
    CaptionTextState& t = run.decoder.text;
    int32_t times = 1;
    if (run.repeat > 0) times = run.repeat;
    if (run.repeat < 0) {
        // To the end of the line.
        EnsurePosition(t);
        const int32_t room = (t.areaX + t.areaWidth - t.column) / CellWidth(t);
        times = room > 0 ? room : 1;
    }
    if (times > kMaxRepeat) times = kMaxRepeat;
    run.repeat = 0;
    for (int32_t i = 0; i < times; ++i) WriteCharacter(run.decoder, text, length, drcs);
}

void ClearScreen(CaptionDecoder& d) {
    ClearCaptionScreen(d.screen);
    d.screen.planeWidth = Clamp16(d.text.planeWidth);
    d.screen.planeHeight = Clamp16(d.text.planeHeight);
    d.text.positionSet = false;
    d.text.currentRow = -1;
}

void Report(Run& run) {
    CaptionDecoder& d = run.decoder;
    d.screen.planeWidth = Clamp16(d.text.planeWidth);
    d.screen.planeHeight = Clamp16(d.text.planeHeight);
    if (run.sink != nullptr) run.sink->OnCaptionScreen(d.screen, d.text.waitedMs);
}

void RunBytes(Run& run, const uint8_t* bytes, int32_t size, int32_t depth);

void RunMacro(Run& run, uint8_t code, int32_t depth) {
    if (code < kMacroFirst || code >= kMacroFirst + kCaptionMacroCount || depth >= kMaxMacroDepth) return;
    const int32_t index = code - kMacroFirst;
    const CaptionMacro& defined = run.decoder.macros[index];
    // Every run is paid from the statement's allowance; past it macros do
    // nothing.
    int32_t& left = run.decoder.text.macroBytesLeft;
    const int32_t size = defined.defined ? defined.size : kDefaultMacros[index].size;
    if (size > left) {
        left = 0;
        return;
    }
    left -= size;
    if (defined.defined) {
        // The body is copied: a macro that redefines itself must not change
        // the bytes being run.
        CaptionMacro body = defined;
        RunBytes(run, body.body, body.size, depth + 1);
        return;
    }
    RunBytes(run, kDefaultMacros[index].bytes, kDefaultMacros[index].size, depth + 1);
}

// One graphic code (GL form 0x21-0x7E, or the pair for a two-byte set) of
// the set in G`g`.
void GraphicCharacter(Run& run, int32_t g, uint8_t first, uint8_t second, int32_t depth) {
    CaptionDecoder& d = run.decoder;
    CaptionTextState& t = d.text;
    const uint8_t f = t.designation[g];
    if (t.designationIsDrcs[g]) {
        if (f == kMacroSet) {
            RunMacro(run, first, depth);
            return;
        }
        const uint16_t code = f == kDrcs0 ? static_cast<uint16_t>((first << 8) | second) : first;
        const CaptionDrcsGlyph* glyph = FindDrcsGlyph(d.drcs, f, code);
        const char* text = DrcsReplacementText(glyph);
        PutCharacter(run, text, static_cast<int32_t>(std::strlen(text)), true);
        return;
    }
    const uint8_t set = MappingSetOf(f);
    if (set >= kSetMosaicA && set <= kSetMosaicD) return;
    const uint8_t size = t.size == CaptionCharSize::kMiddle ? kMiddleSize : kNormalSize;
    uint8_t out[2] = {0, 0};
    int32_t n = 0;
    if (IsTwoByteSet(t, g)) {
        // Rows 0x7A-0x7E of the Kanji set are the additional symbols (♫,
        // the boxed 字 ...), which captions code through G0: the mapping
        // gives them as such.
        n = MapTwoByteCharacter(set, first, second, size, out);
        // The zero pair: no JIS X 0208 code.
        if (n == 2 && out[0] == 0) n = 0;
    } else {
        n = MapOneByteCharacter(set, first, size, out);
    }
    if (n <= 0) {
        // A code without a mapping still takes its place on the line.
        MoveForward(t);
        return;
    }
    PutCharacter(run, reinterpret_cast<const char*>(out), n, false);
}

// A graphic byte in GL form through G`g`: the first byte of a pair waits.
void GraphicByte(Run& run, int32_t g, uint8_t b, int32_t depth) {
    CaptionTextState& t = run.decoder.text;
    if (IsTwoByteSet(t, g)) {
        if (!t.hasPendingByte) {
            t.hasPendingByte = true;
            t.pendingByte = b;
            return;
        }
        t.hasPendingByte = false;
        GraphicCharacter(run, g, t.pendingByte, b, depth);
        return;
    }
    t.hasPendingByte = false;
    GraphicCharacter(run, g, b, 0, depth);
}

void Space(Run& run) {
    CaptionTextState& t = run.decoder.text;
    t.hasPendingByte = false;
    if (t.size == CaptionCharSize::kMiddle) {
        PutCharacter(run, " ", 1, false);
    } else {
        const char ideographic[2] = {static_cast<char>(0x81), static_cast<char>(0x40)};
        PutCharacter(run, ideographic, 2, false);
    }
}

// ---- escape and control sequences ----------------------------------------


// MACRO at bytes[-1]. A definition runs to MACRO 0x4F (or the end);
// returns the bytes used after the MACRO byte.
int32_t Macro(Run& run, const uint8_t* b, int32_t rest, int32_t depth) {
    if (rest < 1) return 0;
    const uint8_t p1 = b[0];
    if (p1 != kMacroDefine && p1 != kMacroDefineAndRun) return 1;
    if (rest < 2) return rest;
    const uint8_t code = b[1];
    int32_t end = 2;
    while (end + 1 < rest && !(b[end] == kMacro && b[end + 1] == kMacroEnd)) ++end;
    const bool terminated = end + 1 < rest;
    const int32_t bodySize = (terminated ? end : rest) - 2;
    const int32_t used = terminated ? end + 2 : rest;
    if (code >= kMacroFirst && code < kMacroFirst + kCaptionMacroCount) {
        CaptionMacro& m = run.decoder.macros[code - kMacroFirst];
        if (bodySize <= kCaptionMacroMaxSize) {
            m.defined = true;
            m.size = bodySize;
            if (bodySize > 0) std::memcpy(m.body, b + 2, static_cast<size_t>(bodySize));
        } else {
            // Too long to keep: the default macro stays in force.
            m.defined = false;
            m.size = 0;
        }
        if (p1 == kMacroDefineAndRun) RunMacro(run, code, depth);
    }
    return used;
}

// TIME at bytes[-1]; returns the bytes used after it.
int32_t Time(Run& run, const uint8_t* b, int32_t rest) {
    if (rest < 1) return 0;
    const uint8_t p1 = b[0];
    if (p1 == 0x20) {
        if (rest < 2) return 1;
        // Wait: P2 - 0x40 tenths of a second. What was written so far is
        // shown before the wait.
        const int32_t tenths = b[1] & 0x3F;
        Report(run);
        int32_t& waited = run.decoder.text.waitedMs;
        // A day of waits at most.
        waited = waited + tenths * 100 < 86400000 ? waited + tenths * 100 : 86400000;
        return 2;
    }
    if (p1 == 0x28) return rest >= 2 ? 2 : 1;
    if (p1 == 0x29) {
        // Presentation time: digits and separators up to a final 0x40-0x43.
        int32_t i = 1;
        while (i < rest && b[i] >= 0x30 && b[i] <= 0x3B) ++i;
        if (i < rest && b[i] >= 0x40 && b[i] <= 0x43) ++i;
        return i;
    }
    return 1;
}

// Bytes that follow a one-parameter control, cut at the end.
int32_t Param(int32_t rest, int32_t n) { return rest < n ? rest : n; }

void RunBytes(Run& run, const uint8_t* bytes, int32_t size, int32_t depth) {
    CaptionDecoder& d = run.decoder;
    CaptionTextState& t = d.text;
    int32_t pos = 0;
    while (pos < size) {
        const uint8_t b = bytes[pos++];
        const int32_t rest = size - pos;
        const uint8_t* next = bytes + pos;
        if (b >= 0x21 && b <= 0x7E) {
            GraphicByte(run, t.glIndex, b, depth);
            continue;
        }
        if (b >= 0xA1 && b <= 0xFE) {
            GraphicByte(run, t.grIndex, static_cast<uint8_t>(b & 0x7F), depth);
            continue;
        }
        if (b >= kBkf && b <= kWhf) {
            t.foreground = static_cast<uint8_t>(t.palette * 16 + (b - kBkf));
            continue;
        }
        switch (b) {
            case kNul: break;
            case kApb: MoveBackward(t); break;
            case kApf: MoveForward(t); break;
            case kApd: MoveDown(t); break;
            case kApu: MoveUp(t); break;
            case kCs: ClearScreen(d); break;
            case kApr: ReturnLine(t); break;
            case kLs1: t.glIndex = 1; break;
            case kLs0: t.glIndex = 0; break;
            case kPapf:
                if (rest >= 1) {
                    const int32_t n = next[0] & 0x3F;
                    for (int32_t i = 0; i < n; ++i) MoveForward(t);
                }
                pos += Param(rest, 1);
                break;
            case kSs2:
            case kSs3: {
                const int32_t g = b == kSs2 ? 2 : 3;
                const int32_t need = IsTwoByteSet(t, g) ? 2 : 1;
                if (rest >= need) {
                    const uint8_t c1 = static_cast<uint8_t>(next[0] & 0x7F);
                    const uint8_t c2 = need == 2 ? static_cast<uint8_t>(next[1] & 0x7F) : 0;
                    if (c1 >= 0x21 && c1 <= 0x7E && (need == 1 || (c2 >= 0x21 && c2 <= 0x7E))) {
                        t.hasPendingByte = false;
                        GraphicCharacter(run, g, c1, c2, depth);
                    }
                }
                pos += Param(rest, need);
                break;
            }
            case kEsc: pos += Escape(t, next, rest); break;
            case kAps:
                if (rest >= 2) SetPosition(t, next[0] & 0x3F, next[1] & 0x3F);
                pos += Param(rest, 2);
                break;
            case kSp:
            case 0xA0: Space(run); break;
            case kDel:
            case 0xFF: MoveForward(t); break;
            case kSsz: t.size = CaptionCharSize::kSmall; t.currentRow = -1; break;
            case kMsz: t.size = CaptionCharSize::kMiddle; break;
            case kNsz: t.size = CaptionCharSize::kNormal; break;
            case kSzx:
                if (rest >= 1) t.size = SzxSize(next[0]);
                pos += Param(rest, 1);
                break;
            case kCol:
                if (rest >= 1 && next[0] == 0x20) {
                    if (rest >= 2) t.palette = static_cast<uint8_t>(next[1] & 0x07);
                    pos += Param(rest, 2);
                } else {
                    if (rest >= 1) SetColour(t, next[0]);
                    pos += Param(rest, 1);
                }
                break;
            case kFlc:
                if (rest >= 1) t.flashing = next[0] == 0x40 || next[0] == 0x47;
                pos += Param(rest, 1);
                break;
            case kCdc: pos += Param(rest, rest >= 1 && next[0] == 0x20 ? 2 : 1); break;
            case kPol:
            case kWmm:
            case kHlc: pos += Param(rest, 1); break;
            case kMacro: pos += Macro(run, next, rest, depth); break;
            case kRpc:
                if (rest >= 1) {
                    const int32_t n = next[0] & 0x3F;
                    run.repeat = n == 0 ? -1 : n;
                }
                pos += Param(rest, 1);
                break;
            case kCsi: {
                CsiSequence csi;
                pos += ReadCsi(next, rest, &csi);
                ApplyCsi(t, csi);
                break;
            }
            case kTime: pos += Time(run, next, rest); break;
            default:
                // BEL, CAN, RS, US, SPL, STL and unassigned codes: one byte.
                break;
        }
    }
}

void InitStatementState(CaptionDecoder& d) {
    CaptionTextState& t = d.text;
    InitCodeState(t, d.options.profile);
    t.size = CaptionCharSize::kNormal;
    t.palette = 0;
    t.foreground = 7;  // white
    t.background = 8;  // transparent
    t.flashing = false;
    t.positionSet = false;
    t.line = 0;
    t.column = 0;
    InitFormat(t, d.options.profile);
    t.currentRow = -1;
    t.waitedMs = 0;
    t.macroBytesLeft = kCaptionMacroBytesPerStatement;
}

void DecodeBody(CaptionDecoder& d, const uint8_t* text, int32_t size, CaptionSink* sink) {
    Run run = {d, sink, 0};
    RunBytes(run, text, size, 0);
}

}  // namespace

void ResetCaptionDecoder(CaptionDecoder& decoder, const CaptionDecoderOptions& options) {
    decoder.options = options;
    decoder.followedGroup = CaptionGroup::kNone;
    decoder.hasManagement = false;
    decoder.managementVersion = 0;
    decoder.management = CaptionManagement{};
    decoder.drcs.count = 0;
    for (CaptionMacro& m : decoder.macros) {
        m.defined = false;
        m.size = 0;
    }
    InitStatementState(decoder);
    // Every row, whatever the memory held before.
    decoder.screen.rowCount = kCaptionMaxRows;
    ClearScreen(decoder);
    decoder.counts = CaptionDecoderCounts{};
}

CaptionGroupResult DecodeCaptionDataGroup(CaptionDecoder& d, const uint8_t* bytes, int32_t size,
                                          CaptionSink* sink) {
    ++d.counts.dataGroups;
    DataGroup g;
    if (ParseDataGroup(bytes, size, &g) != DataGroupStatus::kOk) {
        ++d.counts.badDataGroups;
        return CaptionGroupResult::kBadDataGroup;
    }
    if (g.group == CaptionGroup::kNone) return CaptionGroupResult::kNotCaption;

    if (g.language == 0) {
        // Management data in the other group: the broadcaster switched.
        if (g.group != d.followedGroup) {
            if (d.followedGroup != CaptionGroup::kNone) ++d.counts.groupSwitches;
            d.followedGroup = g.group;
            d.hasManagement = false;
        }
        if (d.hasManagement && g.version == d.managementVersion) return CaptionGroupResult::kRepeat;
        CaptionManagement m;
        if (!ParseCaptionManagement(g.data, g.size, &m)) {
            ++d.counts.badDataGroups;
            return CaptionGroupResult::kBadDataGroup;
        }
        d.management = m;
        d.hasManagement = true;
        d.managementVersion = g.version;
        DropManagementGlyphs(d.drcs);
        int32_t offset = 0;
        DataUnit unit;
        while (NextDataUnit(m.dataUnits, m.dataUnitsSize, &offset, &unit)) {
            if (unit.cut) ++d.counts.cutDataUnits;
            if (unit.parameter == kDataUnitDrcsOneByte || unit.parameter == kDataUnitDrcsTwoByte) {
                ReadDrcsUnit(d.drcs, unit, true, &d.counts.drcsGlyphs, &d.counts.drcsDropped);
            }
        }
        d.management.dataUnits = nullptr;
        d.management.dataUnitsSize = 0;
        return CaptionGroupResult::kManagement;
    }

    if (d.followedGroup == CaptionGroup::kNone) d.followedGroup = g.group;
    if (g.group != d.followedGroup) return CaptionGroupResult::kOtherGroup;
    if (g.language != d.options.language + 1) return CaptionGroupResult::kOtherLanguage;
    CaptionStatement s;
    if (!ParseCaptionStatement(g.data, g.size, &s)) {
        ++d.counts.badDataGroups;
        return CaptionGroupResult::kBadDataGroup;
    }
    ++d.counts.statements;
    DropStatementGlyphs(d.drcs);
    InitStatementState(d);
    bool hadBody = false;
    int32_t offset = 0;
    DataUnit unit;
    while (NextDataUnit(s.dataUnits, s.dataUnitsSize, &offset, &unit)) {
        if (unit.cut) ++d.counts.cutDataUnits;
        if (unit.parameter == kDataUnitDrcsOneByte || unit.parameter == kDataUnitDrcsTwoByte) {
            ReadDrcsUnit(d.drcs, unit, false, &d.counts.drcsGlyphs, &d.counts.drcsDropped);
        } else if (unit.parameter == kDataUnitStatementBody) {
            // Each body starts with the initial code sets; position, size
            // and colour carry on from the body before.
            InitCodeState(d.text, d.options.profile);
            DecodeBody(d, unit.data, unit.size, sink);
            hadBody = true;
        }
    }
    if (hadBody) {
        Run run = {d, sink, 0};
        Report(run);
    }
    return CaptionGroupResult::kStatement;
}

CaptionGroupResult DecodeCaptionPesPayload(CaptionDecoder& decoder, const uint8_t* payload, int32_t size,
                                           CaptionSink* sink) {
    CaptionPesData data;
    if (!ParseCaptionPesData(payload, size, &data)) return CaptionGroupResult::kNotCaption;
    return DecodeCaptionDataGroup(decoder, data.dataGroup, data.dataGroupSize, sink);
}

void DecodeCaptionStatementBody(CaptionDecoder& decoder, const uint8_t* text, int32_t size, CaptionSink* sink) {
    InitStatementState(decoder);
    if (text == nullptr) size = 0;
    DecodeBody(decoder, text, size, sink);
    Run run = {decoder, sink, 0};
    Report(run);
}
