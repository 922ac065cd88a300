// EIT present/following: the first event of the section becomes the three
// lines of the viewer's text (times, date, video and audio; title; text).
#include "text/event_formatter.h"

#include <cstdio>
#include <cstring>

#include "text/arib_decoder.h"
#include "text/shift_jis_text.h"
#include "ts/calendar.h"
#include "ts/psi_reader.h"
#include "ts/section.h"

namespace {

// Working texts of one handler call.
const int32_t kVideoTextSize = 16;
const int32_t kAudioTextSize = 32;
const int32_t kTitleSize = 128;
const int32_t kDescriptionSize = 256;
// The layouts are printed as wsprintfA would (it never writes more than
// 1024 bytes) and then cut to the 704-byte event text.
const int32_t kLayoutBufferSize = 1024;
// One audio entry: the longest is "5.1(" + 3 + " " + 3 + ")" + "B".
const int32_t kAudioEntrySize = 16;

// EIT section offsets (from table_id) of the first event: event_id, then
// start_time (MJD and BCD time), duration (BCD) and descriptors_loop_length.
const int32_t kFirstEventOffset = 14;
const int32_t kFirstDescriptorOffset = 26;

const uint8_t kShortEventTag = 0x4D;
const uint8_t kComponentTag = 0x50;
const uint8_t kAudioComponentTag = 0xC4;

const uint8_t kVideoStreamContent = 1;
const uint8_t kAudioStreamContent = 2;
const uint8_t kDualMonoComponentType = 0x02;
// Minutes or seconds above this mark an undetermined time (60 is accepted).
const int32_t kLargestDeterminedField = 60;

struct VideoFormat {
    uint8_t componentType;
    const char* text;
};

const VideoFormat kVideoFormats[] = {
    {0x01, "480i(4:3)"},   {0x02, "480i(16:9PV)"},  {0x03, "480i(16:9)"},   {0x04, "480i(16:9>)"},
    {0xA1, "480p(4:3)"},   {0xA2, "480p(16:9PV)"},  {0xA3, "480p(16:9)"},   {0xA4, "480p(16:9>)"},
    {0xB1, "1080i(4:3)"},  {0xB2, "1080i(16:9PV)"}, {0xB3, "1080i(16:9)"},  {0xB4, "1080i(16:9>)"},
    {0xC1, "720p(4:3)"},   {0xC2, "720p(16:9PV)"},  {0xC3, "720p(16:9)"},   {0xC4, "720p(16:9>)"},
    {0xD1, "240p(4:3)"},   {0xD2, "240p(16:9PV)"},  {0xD3, "240p(16:9)"},   {0xD4, "240p(16:9>)"},
};

// Audio modes of ARIB STD-B10 and the prefix of their entry.
struct AudioMode {
    uint8_t componentType;
    const char* prefix;
};

const AudioMode kAudioModes[] = {
    {0x01, "M("}, {0x02, "D("}, {0x03, "S("}, {0x07, "4("}, {0x08, "5("}, {0x09, "5.1("},
};

// The working texts the descriptors fill.
struct EventTexts {
    char video[kVideoTextSize];
    char mainAudio[kAudioTextSize];
    char subAudio[kAudioTextSize];
    char title[kTitleSize];
    char description[kDescriptionSize];
    // The same text decoded whole (kFullDescriptionSize bytes).
    char* fullDescription;
    SymbolStyle style;
};

// Short event descriptor (after tag and length): name and text, each decoded
// only from the bytes inside the descriptor (a name or text length that runs
// past it is cut there). A later short event descriptor replaces both, also
// when it is too short to carry them.
void ReadShortEvent(PsiReader d, EventTexts& t) {
    t.title[0] = '\0';
    t.description[0] = '\0';
    t.fullDescription[0] = '\0';
    d.Skip(3);  // ISO_639_language_code
    if (!d.CanRead(1)) return;
    const uint8_t* name = nullptr;
    const int32_t nameCount = d.TakeUpTo(d.U8(), &name);
    DecodeAribText(t.title, name, nameCount, kTitleSize, t.style);
    if (!d.CanRead(1)) return;
    const uint8_t* text = nullptr;
    const int32_t textCount = d.TakeUpTo(d.U8(), &text);
    DecodeAribText(t.description, text, textCount, kDescriptionSize, t.style);
    DecodeAribText(t.fullDescription, text, textCount, kFullDescriptionSize, t.style);
}

// Component descriptor: the video format of the Japanese main video
// (component_tag 0). A descriptor too short for its language code is skipped.
void ReadComponent(PsiReader d, EventTexts& t) {
    if (!d.CanRead(6)) return;
    const uint8_t streamContent = d.U8() & 0x0F;
    const uint8_t componentType = d.U8();
    const uint8_t componentTag = d.U8();
    const uint8_t* language = d.Bytes(3);
    if (streamContent != kVideoStreamContent || componentTag != 0) return;
    if (language[0] != 'j' || language[1] != 'p' || language[2] != 'n') return;
    for (const VideoFormat& f : kVideoFormats) {
        if (f.componentType == componentType) {
            CopyShiftJisBounded(t.video, kVideoTextSize, f.text);
            return;
        }
    }
}

// Appends the ISO 639 code of `code` (up to three bytes, as far as the
// descriptor holds them), stopping early at a zero byte.
int32_t AppendLanguage(char* entry, int32_t used, PsiReader code) {
    while (code.CanRead(1) && code.Peek() != 0) {
        // An ISO 639 code is three ASCII letters. A damaged byte outside
        // printable ASCII becomes '?': copied as it is, a Shift_JIS lead
        // byte would swallow the ')' behind it and leave invalid text.
        const uint8_t c = code.U8();
        entry[used++] = (c >= 0x20 && c <= 0x7E) ? static_cast<char>(c) : '?';
    }
    return used;
}

// Audio component descriptor: one entry for the main or the sub audio. The
// fixed fields up to the flags byte must lie inside the descriptor; the
// language codes are read as far as they do. An entry that no longer fits
// its 32-byte text is left out whole (two dual-mono entries always fit).
void ReadAudioComponent(PsiReader d, EventTexts& t) {
    if (!d.CanRead(6)) return;
    const uint8_t streamContent = d.U8() & 0x0F;
    const uint8_t componentType = d.U8();
    d.Skip(3);  // component_tag, stream_type, simulcast_group_tag
    const uint8_t flags = d.U8();
    if (streamContent != kAudioStreamContent) return;
    const char* prefix = nullptr;
    for (const AudioMode& m : kAudioModes) {
        if (m.componentType == componentType) prefix = m.prefix;
    }
    if (prefix == nullptr) return;
    const bool mainComponent = (flags & 0x40) != 0;
    const int32_t quality = (flags >> 4) & 0x03;

    char entry[kAudioEntrySize];
    int32_t used = static_cast<int32_t>(std::strlen(prefix));
    std::memcpy(entry, prefix, static_cast<size_t>(used));
    used = AppendLanguage(entry, used, d.Enter(3));
    if (componentType == kDualMonoComponentType) {
        entry[used++] = ' ';
        used = AppendLanguage(entry, used, d.Enter(3));
    }
    entry[used++] = ')';
    if (quality == 1) entry[used++] = 'B';
    if (quality == 3) entry[used++] = '-';
    entry[used] = '\0';
    if (mainComponent) {
        AppendWhole(t.mainAudio, kAudioTextSize, entry, used);
    } else {
        AppendWhole(t.subAudio, kAudioTextSize, entry, used);
    }
}

// Walks the first event's descriptors. The walk ends at
// descriptors_loop_length or at the CRC_32, whichever comes first, so a loop
// length that overruns the section reads only what lies inside it. Each
// descriptor is cut to the same end and the walk resumes at its declared
// end, so a wrong inner length cannot derail it.
void WalkDescriptors(PsiReader loop, EventTexts& t) {
    while (loop.CanRead(2)) {
        const uint8_t tag = loop.U8();
        const PsiReader d = loop.Enter(loop.U8());
        switch (tag) {
            case kShortEventTag: ReadShortEvent(d, t); break;
            case kComponentTag: ReadComponent(d, t); break;
            case kAudioComponentTag: ReadAudioComponent(d, t); break;
            default: break;
        }
    }
}

}  // namespace

void FormatEvent(const uint8_t* section, int32_t size, bool following, SymbolStyle style, EventOutcome& out) {
    out.text[0] = '\0';
    out.hasEvent = false;
    out.fullDescription[0] = '\0';
    out.textCut = false;
    ReadEventDetails(nullptr, 0, style, out.details);
    // Everything is read from the bytes before the CRC_32. The event header
    // (event_id through descriptors_loop_length, offsets 14..25) must lie
    // there: section_length below 16 carries no event at all; 16..26 cannot
    // hold a whole header either, and its fields would be read from the
    // CRC_32 or from beyond the section: both are treated as a section
    // without an event.
    PsiReader r(section, size - kCrcSize);
    if (!r.CanRead(kFirstDescriptorOffset)) return;
    out.hasEvent = true;

    r.Skip(kFirstEventOffset + 2);  // up to and including event_id
    const uint16_t mjd = r.U16();
    const int32_t h = FromBcd(r.U8());
    const int32_t m = FromBcd(r.U8());
    const int32_t sec = FromBcd(r.U8());
    const int32_t dh = FromBcd(r.U8());
    const int32_t dm = FromBcd(r.U8());
    const int32_t ds = FromBcd(r.U8());
    const int32_t loopLength = r.Length12();

    EventTexts t;
    t.video[0] = t.mainAudio[0] = t.subAudio[0] = t.title[0] = t.description[0] = '\0';
    t.fullDescription = out.fullDescription;
    t.style = style;
    const PsiReader loop = r.Enter(loopLength);
    WalkDescriptors(loop, t);
    ReadEventDetails(loop.Current(), loop.Size(), style, out.details);
    MjdToDate(mjd, out.year, out.month, out.day);
    out.startHour = h;
    out.startMinute = m;
    out.startSecond = sec;
    out.durationHours = dh;
    out.durationMinutes = dm;

    // The hours are never tested: only minutes and seconds mark "undefined".
    out.durationDetermined = dm <= kLargestDeterminedField && ds <= kLargestDeterminedField;
    const bool startShown =
        !following || (m <= kLargestDeterminedField && sec <= kLargestDeterminedField);

    out.endHour = out.endMinute = out.endSecond = -1;
    if (out.durationDetermined) {
        // Carries run second -> minute -> hour; the hour wraps once past 23
        // and the date is not advanced.
        const int32_t seconds = sec + ds;
        const int32_t minutes = m + dm + seconds / 60;
        out.endSecond = seconds % 60;
        out.endMinute = minutes % 60;
        out.endHour = h + dh + minutes / 60;
        if (out.endHour > 23) out.endHour -= 24;
    }

    char layout[kLayoutBufferSize];
    const int32_t year = out.year % 100;
    if (!startShown) {
        std::snprintf(layout, sizeof layout,
                      "\x96\xA2\x92\xE8 - \x96\xA2\x92\xE8 (\x96\xA2\x92\xE8) %s %s %s\r\n"
                      "\x81\x79%s\x81\x7A\r\n%s",
                      t.video, t.mainAudio, t.subAudio, t.title, t.description);
    } else if (out.durationDetermined) {
        std::snprintf(layout, sizeof layout,
                      "%2.2d:%2.2d:%2.2d - %2.2d:%2.2d:%2.2d ('%2.2d/%2.2d/%2.2d) %s %s %s\r\n"
                      "\x81\x79%s\x81\x7A\r\n%s",
                      h, m, sec, out.endHour, out.endMinute, out.endSecond, year, out.month,
                      out.day, t.video, t.mainAudio, t.subAudio, t.title, t.description);
    } else {
        std::snprintf(layout, sizeof layout,
                      "%2.2d:%2.2d:%2.2d - \x96\xA2\x92\xE8 ('%2.2d/%2.2d/%2.2d) %s %s %s\r\n"
                      "\x81\x79%s\x81\x7A\r\n%s",
                      h, m, sec, year, out.month, out.day, t.video, t.mainAudio, t.subAudio,
                      t.title, t.description);
    }
    // The working texts' capacities keep the layout well below 704 bytes;
    // the cut is a guard that never splits a double-byte character.
    const int32_t shown = CopyShiftJisBounded(out.text, kEventTextSize, layout);
    // The decoder ends a text before the first character that does not fit,
    // so the 256-byte description is a prefix of the whole one: it was cut
    // exactly when the whole one is longer.
    out.textCut = std::strlen(out.fullDescription) > std::strlen(t.description) ||
                  static_cast<size_t>(shown) < std::strlen(layout);
}

void MjdToDate(uint16_t mjd, int32_t& year, int32_t& month, int32_t& day) {
    // ARIB STD-B10 / EN 300 468 Annex C in double precision; the casts
    // truncate toward zero, which the formula relies on below 1900-03-01.
    const double value = mjd;
    const int32_t y = static_cast<int32_t>((value - 15078.2) / 365.25);
    const int32_t yearDays = static_cast<int32_t>(y * 365.25);
    const int32_t m = static_cast<int32_t>((value - 14956.1 - yearDays) / 30.6001);
    day = static_cast<int32_t>(mjd) - 14956 - yearDays - static_cast<int32_t>(m * 30.6001);
    const int32_t k = (m == 14 || m == 15) ? 1 : 0;
    year = 1900 + y + k;
    month = m - 1 - 12 * k;
}

