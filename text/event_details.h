// Programme details of one EIT event: the items of its extended event
// descriptors (tag 0x4E) and the genres of its content descriptor (tag 0x54),
// decoded to Shift_JIS, and the tooltip text made of them.
//
// Pure: fixed buffers only, no allocation, every read of received bytes
// through PsiReader.
#ifndef KESTRIN_TEXT_EVENT_DETAILS_H
#define KESTRIN_TEXT_EVENT_DETAILS_H

#include <cstdint>

#include "text/arib_decoder.h"
#include "text/genre_table.h"

// Genre lines kept per event (a content descriptor can list up to 127
// entries; receivers show the first few).
const int32_t kMaxGenreLines = 8;
// Items kept per event, over all its extended event descriptors. Items
// beyond this, with their continuations, are left out.
const int32_t kMaxDetailItems = 16;
// Raw ARIB bytes of one item text (or of the event's text_char) joined
// across descriptors before decoding. An EIT section is at most 4096 bytes,
// but a single item rarely runs past a few hundred; bytes beyond this are
// left out (the decoder drops a pair cut in half there).
const int32_t kDetailRawCapacity = 1024;
// Decoded Shift_JIS sizes, terminator included. The decoder ends each text
// before the first character that does not fit, so nothing is cut in half.
const int32_t kDetailDescriptionSize = 128;  // item_description: a short heading
const int32_t kDetailTextSize = 1024;        // one joined item text
const int32_t kExtendedTextSize = 1024;      // the joined text_char

struct EventDetails;

// The extended event items before decoding: each item's raw
// item_description and its item_char joined over continuations and
// descriptors, and the joined text_char. What ReadEventDetails decodes.
const int32_t kItemDescriptionRawSize = 255;  // item_description_length is 8 bits
struct ExtendedItemRaw {
    uint8_t description[kItemDescriptionRawSize];
    int32_t descriptionSize;
    uint8_t text[kDetailRawCapacity];
    int32_t textSize;
};
struct ExtendedEventRaw {
    ExtendedItemRaw items[kMaxDetailItems];
    int32_t itemCount;
    uint8_t text[kDetailRawCapacity];
    int32_t textSize;
    bool present;  // the loop held an extended event descriptor
};

// Joins the extended event descriptors of one descriptor loop as
// ReadEventDetails does (see there), without decoding.
void JoinExtendedEvent(const uint8_t* loop, int32_t length, ExtendedEventRaw& raw);

// Decodes joined items into `details` (items and extendedText; the genres
// are left as they are).
void DecodeExtendedEvent(const ExtendedEventRaw& raw, SymbolStyle style, EventDetails& details);

// Adds the genre line of one content entry (nibbles = level 1 << 4 | level
// 2) as ReadEventDetails does: reserved or unassigned entries, repeats and
// lines beyond kMaxGenreLines are skipped.
void AddGenreLine(EventDetails& details, uint8_t nibbles);

// The series and relay lines of the details, terminator included:
//   "シリーズ: 第3回／全12回「渡り鳥の空」" (series descriptor, tag 0xD5:
//   episode_number, last_episode_number when it is not below the episode,
//   the series name in 「」; the name alone when no episode_number is given;
//   no line when neither is);
//   "リレー: サービス 1025 イベント 8194", or with "ネットワーク 4 " before
//   "サービス" for a relay to another network (event group descriptor, tag
//   0xD6, group_type 2 or 4: the first event the programme is relayed to).
// The first series descriptor and the first relay of the loop count.
const int32_t kEventLinkLineSize = 128;
// The series name's share of its line, terminator included.
const int32_t kSeriesNameSize = 80;

// Writes the series line into details.series unless it holds one already;
// `name` is the raw ARIB series_name_char.
void SetSeriesLine(EventDetails& details, uint16_t episode, uint16_t lastEpisode, const uint8_t* name,
                   int32_t nameSize, SymbolStyle style);
// Writes the relay line into details.relay unless it holds one already.
void SetRelayLine(EventDetails& details, bool otherNetwork, uint16_t networkId, uint16_t serviceId,
                  uint16_t eventId);

struct DetailItem {
    char description[kDetailDescriptionSize];  // empty for a text without heading
    char text[kDetailTextSize];
};

struct EventDetails {
    char genres[kMaxGenreLines][kGenreLineSize];
    int32_t genreCount;
    char series[kEventLinkLineSize];  // empty: not part of a series (or nothing to show of it)
    char relay[kEventLinkLineSize];   // empty: not relayed
    DetailItem items[kMaxDetailItems];
    int32_t itemCount;
    char extendedText[kExtendedTextSize];  // text_char of the descriptors, joined
};

// Fills `details` from one event's descriptor loop: `loop` and `length` are
// the bytes after descriptors_loop_length, already cut to the section.
// Other descriptors are passed over; a descriptor whose length overruns the
// loop is cut at the loop's end.
//
// Extended event descriptors are taken in ascending descriptor_number,
// whatever their order in the loop. The first descriptor with a number wins
// over a repeated one; missing numbers are skipped, and the descriptors
// around a gap are still joined. last_descriptor_number and the language
// code are not used to drop anything: damaged or incomplete sets show what
// arrived. Within the joined item sequence an item with an empty
// item_description continues the item before it: their raw item_char bytes
// are joined before decoding, so a two-byte character or a code-extension
// state (designation, locking shift) may straddle descriptors. A
// continuation with no item before it becomes an item without heading.
// text_char is joined over the descriptors in the same way. Each joined
// text and each description is decoded as one ARIB string with
// DecodeAribText in `style`. A length field that overruns its descriptor,
// its item loop or the loop is cut there.
//
// Content descriptors: each two-byte entry becomes a genre line
// (FormatGenreLine), in loop order over all content descriptors. Reserved
// and unassigned entries, repeats of a line already kept and a last odd
// byte are skipped.
//
// Series and event group descriptors give the series and relay lines (see
// kEventLinkLineSize); a series descriptor shorter than its fixed fields is
// skipped.
void ReadEventDetails(const uint8_t* loop, int32_t length, SymbolStyle style, EventDetails& details);

// True when the tooltip shows any of the details (the short event
// description aside): a genre, an item or text_char with a visible
// character.
bool HasEventDetails(const EventDetails& details);

// Tooltip lines are wrapped at this many bytes: 40 full-width columns,
// Shift_JIS taking one byte per half-width and two per full-width column.
const int32_t kTooltipLineWidth = 80;

// Writes the tooltip text into `destination` (`capacity` bytes, Shift_JIS,
// lines separated by "\r\n", no break after the last line):
//   - the genre lines;
//   - the series line and the relay line;
//   - each item: its description on one line (none when it is empty), its
//     text on the following line(s);
//   - the joined text_char;
//   - when `eventTextCut` is set, `shortDescription` (the short event
//     descriptor's text, Shift_JIS, may be null) whole.
// Line breaks inside a text ("\r\n", "\r" or "\n") are kept; a break at the
// very end of a text adds no empty line. Every line is wrapped at
// kTooltipLineWidth bytes, never between the two bytes of a character.
// Writing stops before the first character or line break that would not
// fit together with the terminator; the terminator is always written
// (capacity >= 1), so a shorter capacity gives a prefix of the same text.
// The result is empty when there is nothing to show. Returns the length.
int32_t FormatEventDetailsTooltip(char* destination, int32_t capacity, const EventDetails& details,
                                  const char* shortDescription, bool eventTextCut);

#endif
