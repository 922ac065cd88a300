// One EIT event as a structured record, read from any EIT section (table ids
// 0x4E-0x6F: present/following and schedule, actual and other stream): the
// ids, the start and duration (each possibly undetermined), the short event
// name and text as raw ARIB bytes, the extended event items joined as the
// tooltip joins them, genres, video and audio components, free_CA_mode, the
// event group and series descriptors.
//
// The record is what the programme guide and the JSON outputs are made
// from; the viewer's own event text stays with event_formatter.*. Texts are
// kept as the ARIB bytes received, so each user decodes them in the form it
// needs (Shift_JIS for the window, UTF-8 for the tools).
//
// Pure: fixed-size fields sized by the constants below, no allocation, every
// read of received bytes through PsiReader.
#ifndef KESTRIN_TEXT_EIT_EVENT_H
#define KESTRIN_TEXT_EIT_EVENT_H

#include <cstdint>

#include "text/arib_decoder.h"
#include "text/event_details.h"

// The EIT table ids: present/following actual and other, schedule actual
// (basic 0x50-0x57, extended 0x58-0x5F) and other (0x60-0x67, 0x68-0x6F).
const uint8_t kEitFirstTableId = 0x4E;
const uint8_t kEitPfOtherTableId = 0x4F;
const uint8_t kEitScheduleActualFirst = 0x50;
const uint8_t kEitScheduleExtendedFirst = 0x58;
const uint8_t kEitScheduleOtherFirst = 0x60;
const uint8_t kEitLastTableId = 0x6F;

// table_id .. last_table_id: the fixed header before the first event.
const int32_t kEitSectionHeaderSize = 14;
// event_id .. descriptors_loop_length.
const int32_t kEitEventHeaderSize = 12;

// The fixed header of an EIT section.
struct EitSectionHeader {
    uint8_t tableId;
    uint16_t serviceId;
    uint8_t version;
    bool currentNext;
    uint8_t sectionNumber;
    uint8_t lastSectionNumber;
    uint16_t transportStreamId;
    uint16_t originalNetworkId;
    uint8_t segmentLastSectionNumber;
    uint8_t lastTableId;
};

// True for table ids 0x4E and 0x4F.
bool IsEitPresentFollowing(uint8_t tableId);
// True for the schedule tables that carry extended event descriptors only
// (0x58-0x5F, 0x68-0x6F).
bool IsEitExtendedSchedule(uint8_t tableId);

// Reads the header of the section of `size` bytes (section_length + 3, all
// present). False when it is no EIT (table id outside 0x4E-0x6F), when
// section_length is shorter than header and CRC_32 or longer than the bytes
// given.
bool ReadEitSectionHeader(const uint8_t* section, int32_t size, EitSectionHeader& header);

// One event's fixed fields and where its descriptor loop lies (cut to the
// section's bytes before the CRC_32; valid as long as the section is).
struct EitEventEntry {
    uint16_t eventId;
    uint8_t startTime[5];  // MJD (2 bytes) and BCD hour, minute, second
    uint8_t duration[3];   // BCD hours, minutes, seconds
    uint8_t runningStatus;
    bool freeCaMode;
    const uint8_t* descriptors;
    int32_t descriptorsLength;
    // Offset of the event (its event_id) from the section's first byte.
    int32_t offset;
};

// Walks the events of an EIT section whose header ReadEitSectionHeader
// accepted. Next() gives the events in loop order; it returns false at the
// CRC_32 or at an event header cut by it. A descriptors_loop_length that
// overruns the section is cut at the CRC_32 and ends the walk after that
// event.
class EitEventCursor {
public:
    EitEventCursor(const uint8_t* section, int32_t size);
    bool Next(EitEventEntry& entry);

private:
    const uint8_t* section_;
    int32_t end_;       // offset of the CRC_32
    int32_t position_;  // offset of the next event
};

// The event at `offset` (an EitEventEntry::offset) of the section, as the
// cursor would give it. False when no whole event header lies there.
bool ReadEitEventAt(const uint8_t* section, int32_t size, int32_t offset, EitEventEntry& entry);

// Japan time as seconds since 1970-01-01 00:00 Japan time (not UTC: subtract
// kJapanUtcOffsetSeconds for the UTC instant).
const int32_t kJapanUtcOffsetSeconds = 9 * 3600;

// start_time: MJD and BCD time of day. False (undetermined) when all forty
// bits are ones, and when a BCD digit is not decimal or the time of day is
// not one (hour over 23, minute or second over 59).
bool DecodeEitStart(const uint8_t startTime[5], int64_t& japanSeconds);
// duration: BCD hours, minutes, seconds. False (undetermined) when all
// twenty-four bits are ones, and when a digit is not decimal or minutes or
// seconds are over 59.
bool DecodeEitDuration(const uint8_t duration[3], int32_t& seconds);

// How long a programme whose duration is undetermined runs, as every part of
// the guide times it (the grid, the on-air mark, the cache's "all ended"
// test, the tools' stop times): until the next programme of its service
// starts, and at most kUndeterminedRunSeconds after its own start. The
// broadcaster sends an undetermined duration for a programme that may run
// over (a live match); the cap keeps a present section that is never
// replaced (a service no longer received) from standing on air for ever,
// and is the three hours a recording request asks for such a programme.
const int32_t kUndeterminedRunSeconds = 3 * 3600;

// The end (Japan seconds) of a programme of determined start: start +
// duration when the duration is determined; otherwise the next programme's
// start when `hasNext` and it lies after `start`, at most start +
// kUndeterminedRunSeconds. An undetermined start has no end: callers test
// it first.
int64_t EitProgrammeEnd(int64_t start, bool durationDetermined, int32_t duration, bool hasNext, int64_t nextStart);

// True when every programme of the EIT section (section_length + 3 bytes)
// has ended at `now` (Japan seconds), each timed by EitProgrammeEnd with
// the earliest later start among the section's events as its next
// programme (a present section's one event runs for the cap). False for a
// section that is no EIT, has no event, or has an event whose start is
// undetermined (it cannot be timed).
bool EitSectionEnded(const uint8_t* section, int32_t size, int64_t now);

// Sizes of the record's fixed fields.
const int32_t kEitNameRawSize = 255;        // event_name_length is 8 bits
const int32_t kEitTextRawSize = 255;        // text_length is 8 bits
const int32_t kEitSeriesNameRawSize = 255;  // the rest of a 255-byte descriptor
const int32_t kMaxEventVideos = 4;          // component descriptors with video
const int32_t kMaxEventAudios = 4;          // audio component descriptors
const int32_t kMaxEventGenres = 16;         // content entries (up to 127 fit a descriptor)
const int32_t kMaxRelatedEvents = 16;       // event group entries, over all groups

// Component descriptor (0x50).
struct EitVideo {
    uint8_t streamContent;  // low four bits
    uint8_t componentType;
    uint8_t componentTag;
    char language[4];  // ISO 639, terminated; "" when the descriptor lacks it
};

// Audio component descriptor (0xC4).
struct EitAudio {
    uint8_t streamContent;
    uint8_t componentType;
    uint8_t componentTag;
    uint8_t streamType;
    uint8_t simulcastGroupTag;
    bool multiLingual;
    bool mainComponent;
    uint8_t quality;       // quality_indicator, 2 bits
    uint8_t samplingRate;  // sampling_rate code, 3 bits
    char language[4];
    char language2[4];  // "" unless ES_multi_lingual_flag
};

// One content descriptor entry as nibbles.
struct EitGenre {
    uint8_t level1;
    uint8_t level2;
    uint8_t user1;
    uint8_t user2;
};

// Event group descriptor (0xD6) entries. group_type 1 shared events, 2 relay
// within the network, 4/5 relay or movement to another network, which carry
// their network and transport stream ids (otherNetwork).
const uint8_t kEventGroupShared = 1;
const uint8_t kEventGroupRelay = 2;
const uint8_t kEventGroupMovement = 3;
const uint8_t kEventGroupRelayOtherNetwork = 4;
const uint8_t kEventGroupMovementOtherNetwork = 5;
struct EitRelatedEvent {
    uint8_t groupType;
    bool otherNetwork;
    uint16_t originalNetworkId;  // 0 unless otherNetwork
    uint16_t transportStreamId;  // 0 unless otherNetwork
    uint16_t serviceId;
    uint16_t eventId;
};

// Series descriptor (0xD5).
struct EitSeries {
    uint16_t seriesId;
    uint8_t repeatLabel;
    uint8_t programPattern;
    bool expireDateValid;
    uint16_t expireDate;  // MJD
    uint16_t episodeNumber;
    uint16_t lastEpisodeNumber;
    uint8_t name[kEitSeriesNameRawSize];
    int32_t nameSize;
};

struct EitEventRecord {
    // Where it was read.
    uint8_t tableId;
    uint8_t version;
    uint8_t sectionNumber;
    uint16_t originalNetworkId;
    uint16_t transportStreamId;
    uint16_t serviceId;
    uint16_t eventId;

    uint8_t startTime[5];
    bool startDetermined;
    int64_t start;  // Japan time (see kJapanUtcOffsetSeconds); 0 when undetermined
    uint8_t durationRaw[3];
    bool durationDetermined;
    int32_t duration;  // seconds; 0 when undetermined

    uint8_t runningStatus;
    bool freeCaMode;

    // Short event descriptor (0x4D): the first one of the loop.
    bool hasShortEvent;
    uint8_t name[kEitNameRawSize];
    int32_t nameSize;
    uint8_t text[kEitTextRawSize];
    int32_t textSize;

    // Extended event descriptors (0x4E), joined as the tooltip joins them.
    ExtendedEventRaw extended;

    EitVideo videos[kMaxEventVideos];
    int32_t videoCount;
    EitAudio audios[kMaxEventAudios];
    int32_t audioCount;
    // Every entry of the content descriptors in loop order (reserved and
    // repeated ones too: the tooltip filters them, the JSON does not).
    EitGenre genres[kMaxEventGenres];
    int32_t genreCount;
    EitRelatedEvent related[kMaxRelatedEvents];
    int32_t relatedCount;
    bool hasSeries;
    EitSeries series;
};

// Fills `record` from one event of a section (everything cleared first).
// Descriptors beyond a field's capacity are left out; a descriptor shorter
// than its fixed fields is skipped; texts are cut at their descriptor's end.
void ReadEitEvent(const EitSectionHeader& header, const EitEventEntry& entry, EitEventRecord& record);

// Joins the extended event descriptors of `loop` (another table's copy of
// the same event, the extended schedule) into the record, replacing what
// the record's own loop had when the loop holds any.
void AddEitExtendedEvent(const uint8_t* loop, int32_t length, EitEventRecord& record);

// The programme details of the record (decoded items, genre lines) for the
// tooltip, the same as ReadEventDetails gives for the event's own loop.
void EitEventDetails(const EitEventRecord& record, SymbolStyle style, EventDetails& details);

#endif
