// EIT present/following: the first event of a section as the viewer's text
// (times, date, video and audio; title; description) and the times the
// recording request needs.
#ifndef KESTRIN_TEXT_EVENT_FORMATTER_H
#define KESTRIN_TEXT_EVENT_FORMATTER_H

#include <cstdint>

#include "text/arib_decoder.h"
#include "text/event_details.h"

// The event text of one view, terminator included.
const int32_t kEventTextSize = 704;
// The short event descriptor's text_char decoded whole, terminator
// included: at most 255 ARIB bytes, and no character of 1 or 2 bytes
// decodes to more than 5 Shift_JIS bytes ("[PPV]"), so 640 always suffice.
const int32_t kFullDescriptionSize = 1024;

// Everything one section yields.
struct EventOutcome {
    char text[kEventTextSize];
    bool hasEvent;  // false: the section carries no (complete) event header
    int32_t year, month, day;
    int32_t startHour, startMinute, startSecond;
    int32_t durationHours, durationMinutes;
    bool durationDetermined;
    int32_t endHour, endMinute, endSecond;  // -1 when the duration is undetermined
    // The extended event items and genres of the event (empty without them).
    EventDetails details;
    // The short event description whole, for the tooltip.
    char fullDescription[kFullDescriptionSize];
    // The event text does not show the whole description: the decoded
    // description ran past its 256-byte working text (or, as a guard, the
    // layout past the 704-byte event text). The tooltip then adds
    // fullDescription.
    bool textCut;
};

// Modified Julian Date to year, month, day (ARIB STD-B10 / EN 300 468 Annex C).
void MjdToDate(uint16_t mjd, int32_t& year, int32_t& month, int32_t& day);

// Formats the first event of the EIT p/f section of `size` bytes
// (section_length + 3, all of them present), its texts decoded with the
// additional symbols in `style`. In the following layout an undetermined
// start shows 未定.
void FormatEvent(const uint8_t* section, int32_t size, bool following, SymbolStyle style, EventOutcome& out);

#endif
