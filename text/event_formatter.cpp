// EIT present/following: the first event of the section becomes the three
// lines of the viewer's text (times, date, video and audio; title; text).
#include "text/event_formatter.h"

#include <cstdio>
#include <cstring>
#include <mutex>

#include "plugin/plugin_state.h"
#include "text/arib_decoder.h"
#include "text/section_copy.h"
#include "text/shift_jis_text.h"
#include "ts/broadcast_clock.h"
#include "ui/resource.h"

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

// EIT section offsets (from table_id) of the first event.
const int32_t kStartDateOffset = 16;      // MJD, 16 bits
const int32_t kStartTimeOffset = 18;      // hour, minute, second in BCD
const int32_t kDurationOffset = 21;       // hours, minutes, seconds in BCD
const int32_t kDescriptorsLoopOffset = 24;
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

int32_t Bcd(uint8_t b) { return (b >> 4) * 10 + (b & 0x0F); }

// Everything one section yields; committed to PluginState under the lock.
struct EventOutcome {
    char text[kEventTextSize];
    bool hasEvent;  // false: the section carries no (complete) event header
    int32_t year, month, day;
    int32_t startHour, startMinute, startSecond;
    int32_t durationHours, durationMinutes;
    bool durationDetermined;
    int32_t endHour, endMinute, endSecond;
};

// The working texts the descriptors fill.
struct EventTexts {
    char video[kVideoTextSize];
    char mainAudio[kAudioTextSize];
    char subAudio[kAudioTextSize];
    char title[kTitleSize];
    char description[kDescriptionSize];
};

// Short event descriptor: name and text, each decoded only from the bytes
// inside the descriptor (a name or text length that runs past it is cut
// there). A later short event descriptor replaces both, also when it is too
// short to carry them.
void ReadShortEvent(const uint8_t* d, int32_t at, int32_t end, EventTexts& t) {
    t.title[0] = '\0';
    t.description[0] = '\0';
    const int32_t nameLengthAt = at + 5;
    if (nameLengthAt >= end) return;
    const int32_t nameLength = d[nameLengthAt];
    const int32_t nameAt = nameLengthAt + 1;
    const int32_t nameCount = nameLength < end - nameAt ? nameLength : end - nameAt;
    DecodeAribText(t.title, d + nameAt, nameCount, kTitleSize);
    const int32_t textLengthAt = nameAt + nameLength;
    if (textLengthAt >= end) return;
    const int32_t textLength = d[textLengthAt];
    const int32_t textAt = textLengthAt + 1;
    const int32_t textCount = textLength < end - textAt ? textLength : end - textAt;
    DecodeAribText(t.description, d + textAt, textCount, kDescriptionSize);
}

// Component descriptor: the video format of the Japanese main video
// (component_tag 0). A descriptor too short for its language code is skipped.
void ReadComponent(const uint8_t* d, int32_t at, int32_t end, EventTexts& t) {
    if (at + 8 > end) return;
    if ((d[at + 2] & 0x0F) != kVideoStreamContent) return;
    if (d[at + 4] != 0) return;
    if (d[at + 5] != 'j' || d[at + 6] != 'p' || d[at + 7] != 'n') return;
    for (const VideoFormat& f : kVideoFormats) {
        if (f.componentType == d[at + 3]) {
            CopyShiftJisBounded(t.video, kVideoTextSize, f.text);
            return;
        }
    }
}

// Appends up to three bytes of an ISO 639 code that start at `at`, stopping
// early at a zero byte or at the end of the descriptor.
int32_t AppendLanguage(char* entry, int32_t used, const uint8_t* d, int32_t at, int32_t end) {
    for (int32_t i = 0; i < 3 && at + i < end && d[at + i] != 0; ++i) {
        // An ISO 639 code is three ASCII letters. A damaged byte outside
        // printable ASCII becomes '?': copied as it is, a Shift_JIS lead
        // byte would swallow the ')' behind it and leave invalid text.
        const uint8_t c = d[at + i];
        entry[used++] = (c >= 0x20 && c <= 0x7E) ? static_cast<char>(c) : '?';
    }
    return used;
}

// Audio component descriptor: one entry for the main or the sub audio. The
// fixed fields up to the flags byte must lie inside the descriptor; the
// language codes are read as far as they do. An entry that no longer fits
// its 32-byte text is left out whole (two dual-mono entries always fit).
void ReadAudioComponent(const uint8_t* d, int32_t at, int32_t end, EventTexts& t) {
    if (at + 8 > end) return;
    if ((d[at + 2] & 0x0F) != kAudioStreamContent) return;
    const uint8_t componentType = d[at + 3];
    const char* prefix = nullptr;
    for (const AudioMode& m : kAudioModes) {
        if (m.componentType == componentType) prefix = m.prefix;
    }
    if (prefix == nullptr) return;
    const uint8_t flags = d[at + 7];
    const bool mainComponent = (flags & 0x40) != 0;
    const int32_t quality = (flags >> 4) & 0x03;

    char entry[kAudioEntrySize];
    int32_t used = static_cast<int32_t>(std::strlen(prefix));
    std::memcpy(entry, prefix, static_cast<size_t>(used));
    used = AppendLanguage(entry, used, d, at + 8, end);
    if (componentType == kDualMonoComponentType) {
        entry[used++] = ' ';
        used = AppendLanguage(entry, used, d, at + 11, end);
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
void WalkDescriptors(const SectionCopy& s, EventTexts& t) {
    const uint8_t* d = s.data;
    const int32_t loopLength = ((d[kDescriptorsLoopOffset] & 0x0F) << 8) | d[kDescriptorsLoopOffset + 1];
    int32_t loopEnd = kFirstDescriptorOffset + loopLength;
    if (loopEnd > SectionDataEnd(s)) loopEnd = SectionDataEnd(s);
    int32_t at = kFirstDescriptorOffset;
    while (at + 2 <= loopEnd) {
        int32_t end = at + 2 + d[at + 1];
        if (end > loopEnd) end = loopEnd;
        switch (d[at]) {
            case kShortEventTag: ReadShortEvent(d, at, end, t); break;
            case kComponentTag: ReadComponent(d, at, end, t); break;
            case kAudioComponentTag: ReadAudioComponent(d, at, end, t); break;
            default: break;
        }
        at += 2 + d[at + 1];
    }
}

// Formats the first event of an EIT present/following section.
void FormatEvent(const SectionCopy& s, bool following, EventOutcome& out) {
    out.text[0] = '\0';
    out.hasEvent = false;
    // The event header (event_id through descriptors_loop_length, offsets
    // 14..25) must lie before the CRC_32. section_length below 16 carries no
    // event at all; 16..26 cannot hold a whole header either, and its fields
    // would be read from the CRC_32 or from beyond the section: both are
    // treated as a section without an event.
    if (SectionDataEnd(s) < kFirstDescriptorOffset) return;
    out.hasEvent = true;

    EventTexts t;
    t.video[0] = t.mainAudio[0] = t.subAudio[0] = t.title[0] = t.description[0] = '\0';
    WalkDescriptors(s, t);

    const uint8_t* d = s.data;
    const uint16_t mjd = static_cast<uint16_t>((d[kStartDateOffset] << 8) | d[kStartDateOffset + 1]);
    MjdToDate(mjd, out.year, out.month, out.day);
    const int32_t h = Bcd(d[kStartTimeOffset]);
    const int32_t m = Bcd(d[kStartTimeOffset + 1]);
    const int32_t sec = Bcd(d[kStartTimeOffset + 2]);
    const int32_t dh = Bcd(d[kDurationOffset]);
    const int32_t dm = Bcd(d[kDurationOffset + 1]);
    const int32_t ds = Bcd(d[kDurationOffset + 2]);
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
    CopyShiftJisBounded(out.text, kEventTextSize, layout);
}

enum class EventKind { kPresent, kFollowing };

// The steps both handlers share: take the section, compare the change key,
// format, store, and show the text when its view is selected. The window is
// written only after the lock is released.
void HandleEvent(PluginState& state, EventKind kind) {
    const bool following = kind == EventKind::kFollowing;
    SectionCopy section;
    uint32_t lastKey = 0;
    bool haveSection = false;
    {
        std::lock_guard<std::mutex> guard(state.lock);
        haveSection = CopySectionFromMailbox(following ? state.followingMailbox : state.presentMailbox,
                                             section);
        lastKey = following ? state.lastFollowingKey : state.lastPresentKey;
    }
    // A mailbox without a whole section (nothing handed over, or a length
    // that does not match what was copied) is ignored.
    if (!haveSection) return;
    const uint32_t key = SectionChangeKey(section);
    if (key == lastKey) return;

    EventOutcome out;
    FormatEvent(section, following, out);

    char shown[kEventTextSize];
    bool show = false;
    {
        std::lock_guard<std::mutex> guard(state.lock);
        if (out.hasEvent) {
            state.eventYear = out.year;
            state.eventMonth = out.month;
            state.eventDay = out.day;
            if (following) {
                state.followingStartHour = out.startHour;
                state.followingStartMinute = out.startMinute;
                state.followingStartSecond = out.startSecond;
                state.followingDurationHours = out.durationHours;
                state.followingDurationMinutes = out.durationMinutes;
            } else {
                state.presentEndHour = out.endHour;
                state.presentEndMinute = out.endMinute;
                state.presentEndSecond = out.endSecond;
            }
        }
        char* stored = following ? state.followingText : state.presentText;
        std::memcpy(stored, out.text, sizeof out.text);
        if (following) {
            state.lastFollowingKey = key;
        } else {
            state.lastPresentKey = key;
        }
        show = state.viewSelector == (following ? 1 : 0);
        if (show) std::memcpy(shown, out.text, sizeof shown);
    }
    if (show) state.platform->SetControlText(IDC_INFO_TEXT, shown);
}

}  // namespace

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

void HandlePresentEvent(PluginState& state) {
    HandleEvent(state, EventKind::kPresent);
    // Every WM_EIT_PRESENT_READY moves the broadcast clock on, whether or not
    // the event changed; the lock is not held here.
    TickBroadcastClock(state);
}

void HandleFollowingEvent(PluginState& state) { HandleEvent(state, EventKind::kFollowing); }
