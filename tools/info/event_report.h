// kestrin-info's reading of the event on screen: the window's event text
// split into its times, title and description, with the programme details
// (genres, extended event items) the plug-in state keeps for that event,
// all as UTF-8 for the details layout and the JSON lines.
#ifndef KESTRIN_TOOLS_INFO_EVENT_REPORT_H
#define KESTRIN_TOOLS_INFO_EVENT_REPORT_H

#include <cstdint>
#include <string>
#include <vector>

#include "plugin/plugin_state.h"
#include "plugin/section_mailbox.h"

// What the state holds about the event on screen, read under the lock right
// after the message (or command) that set the window's event text.
struct EventSnapshot {
    View view = View::kPresent;
    int32_t year = 0;  // the event date of the last event the handlers stored
    int32_t month = 0;
    int32_t day = 0;
    EventDetails details;  // of the view on screen
    // The EIT section the view's handler read last (its mailbox), and
    // whether there was one.
    SectionCopy section;
    bool hasSection = false;
    std::string shownSjis;  // the window's event text it was taken for
};

// Copies the snapshot out of the state (takes state.lock).
void TakeEventSnapshot(PluginState& state, EventSnapshot& snapshot);

// A broadcast time of day; `valid` false when the window shows 未定 or a
// value that is no time (an 0xFF BCD byte reads as 165).
struct TimeOfDay {
    bool valid = false;
    int32_t hour = 0;
    int32_t minute = 0;
    int32_t second = 0;
};

// The window's event text (UTF-8, lines split at CR LF) as its parts: the
// start and end of the first line ("HH:MM:SS - HH:MM:SS ('YY/MM/DD) ..."),
// the title inside the 【】 of the second line, and the description after
// it (line breaks as "\n"). `hasTitle` is false when the text does not have
// that shape (an empty text: no event).
struct EventTextParts {
    TimeOfDay start;
    TimeOfDay end;
    bool hasTitle = false;
    std::string title;
    std::string description;
};
EventTextParts SplitEventText(const std::string& utf8);

// ISO 8601 local broadcast times of the event: the start on the snapshot's
// date, the end after it (the next day when the end time is earlier than
// the start), the duration in seconds. Fields are absent (empty, -1) when
// the window shows them undetermined or the date is not a calendar date.
struct EventTimes {
    std::string start;  // "2026-12-08T22:00:00"
    std::string end;
    int64_t durationSeconds = -1;
};
EventTimes ResolveEventTimes(const EventTextParts& parts, int32_t year, int32_t month, int32_t day);

// The details as UTF-8, with the converter the output uses (with or
// without --symbols). Genre lines lose the "ジャンル：" heading the tooltip
// puts before them.
struct DetailItemText {
    std::string description;
    std::string text;
};
struct DetailTexts {
    std::vector<std::string> genres;
    std::vector<DetailItemText> items;
    std::string extendedText;
};
DetailTexts ConvertDetails(const EventDetails& details, bool symbols);

// What the JSON event lines take from the EIT section itself rather than from
// the window's text: the ids, the times in ISO 8601 with the Japan offset,
// the genre codes, the whole short event text (UTF-8, additional symbols as
// their Unicode characters, "\n" breaks) and whether the window cut it.
// `present` is false when the snapshot holds no section or one that is not
// the event whose text `shownSjis` is (the window's Shift_JIS event text).
struct GenreCode {
    int32_t level1, level2, user1, user2;
};
struct EitEventFields {
    bool present = false;
    int32_t eventId = 0;
    int32_t serviceId = 0;
    int32_t transportStreamId = 0;
    int32_t networkId = 0;
    std::string startAt;  // "2026-12-08T22:00:00+09:00"; empty when undetermined
    std::string endAt;    // empty when the start or the duration is undetermined
    std::vector<GenreCode> genres;
    std::string shortText;
    bool textCut = false;
};
EitEventFields ReadEitEventFields(const EventSnapshot& snapshot, const std::string& shownSjis);

// Line breaks "\r\n" and "\r" as "\n".
std::string UnixLineBreaks(const std::string& text);

#endif
