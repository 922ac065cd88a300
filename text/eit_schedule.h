// The EIT schedule of one service, assembled from its sections the way EPG
// servers keep it: the sections themselves, per table and section number,
// in a byte pool the caller provides, with a completeness map, and the
// service's programme list made from them on demand.
//
// - Sections: schedule basic (0x50-0x57, 0x60-0x67), extended (0x58-0x5F,
//   0x68-0x6F) and present/following (0x4E/0x4F, sections 0 and 1). Other
//   stream tables share the slots of the actual ones (a service is one
//   service whichever PID brought it).
// - Versions: each section is held with its own version_number. A section
//   whose bytes differ (another version, or another change key) replaces
//   the held section of the same table and number, and so the events of
//   that section only. Tables whose sections carry different versions still
//   complete: broadcasters update single sections.
// - Completeness: sections past last_section_number, past their segment's
//   segment_last_section_number and tables past last_table_id are not
//   waited for; neither are segments that ended before the broadcast
//   clock's current three-hour slot (table 0x50 / 0x58 segment 0 begins at
//   midnight Japan time of the clock's day).
// - The programme list: present/following beats the schedule for the same
//   event; of events that overlap, the one from the section received last
//   stays and the other is dropped, except that the present event is never
//   dropped; within one section the first of two overlapping events stays.
//   A programme of undetermined duration takes no time in these tests (it
//   conflicts only with one that starts at the same second) and ends where
//   ScheduleEventEnd says.
//
// Capacity: kScheduleSlots sections per service; their bytes live in the
// caller's pool. kSchedulePoolSizeEightDays is the pool this project sizes
// for eight days of one terrestrial service (basic and extended). A section
// that does not fit even after the pool is compacted is refused (counted in
// refusedSections) and a held older copy stays. ListScheduleEvents keeps
// the earliest `capacity` programmes (kScheduleEventsEightDays for eight
// days). One service for eight days: the EitScheduleService itself (about
// 57 KiB: the slot map of every table, section and the order), its 512 KiB
// pool, 40 KiB of list at 1,024 programmes and one EitEventRecord (about
// 22 KiB) to read a programme: about 640 KiB, all fixed.
//
// Pure and allocation-free: fixed arrays, the caller's pool, PsiReader for
// every length from the stream. Not thread-safe: one owner.
#ifndef KESTRIN_TEXT_EIT_SCHEDULE_H
#define KESTRIN_TEXT_EIT_SCHEDULE_H

#include <cstdint>

#include "text/eit_event.h"

// Eight tables per kind (basic, extended), 32 three-hour segments of eight
// sections each per table.
const int32_t kScheduleKinds = 2;
const int32_t kScheduleTablesPerKind = 8;
const int32_t kScheduleSegmentsPerTable = 32;
const int32_t kScheduleSectionsPerSegment = 8;
const int32_t kScheduleSectionsPerTable = 256;
const int32_t kScheduleSegmentSeconds = 3 * 3600;
// Slot numbers: kind * 2048 + table * 256 + section_number for the
// schedule, then present and following.
const int32_t kScheduleSlotPresent = kScheduleKinds * kScheduleTablesPerKind * kScheduleSectionsPerTable;
const int32_t kScheduleSlotFollowing = kScheduleSlotPresent + 1;
const int32_t kScheduleSlots = kScheduleSlotFollowing + 1;
// No section.
const int32_t kScheduleNoSlot = -1;

// Pool for eight days of one service: 64 segments of basic and extended
// sections. Terrestrial services send one section of 1-3 KB per segment and
// table; this allows 8 KB per segment for both together.
const int32_t kSchedulePoolSizeEightDays = 64 * 8 * 1024;
// Programmes listed for eight days: 128 a day.
const int32_t kScheduleEventsEightDays = 1024;

struct ScheduleSectionSlot {
    uint32_t offset;    // in the pool
    uint16_t size;      // 0: not held
    uint8_t version;
    uint8_t reserved;
    uint32_t sequence;  // when it was stored: higher is newer
};

struct ScheduleTableState {
    bool seen;                  // a section of this table was held
    uint8_t lastSectionNumber;  // of the section received last
    uint8_t segmentLast[kScheduleSegmentsPerTable];
    bool segmentSeen[kScheduleSegmentsPerTable];
};

struct EitScheduleService {
    bool bound;  // the ids below are set (by the first section)
    uint16_t originalNetworkId;
    uint16_t transportStreamId;
    uint16_t serviceId;

    bool lastTableKnown[kScheduleKinds];
    uint8_t lastTableId[kScheduleKinds];  // as an index 0..7 within the kind
    ScheduleTableState tables[kScheduleKinds][kScheduleTablesPerKind];
    ScheduleSectionSlot slots[kScheduleSlots];
    // Held slots in pool order (allocation only appends), for compaction.
    uint16_t order[kScheduleSlots];
    int32_t heldCount;

    uint8_t* pool;
    int32_t poolCapacity;
    int32_t poolUsed;  // end of the last held section
    uint32_t sequence;
    int32_t refusedSections;
};

// Empties `service` and gives it the caller's pool (`capacity` bytes, held
// by the caller for the service's lifetime). Also a service change: call it
// again to forget everything.
void InitScheduleService(EitScheduleService& service, uint8_t* pool, int32_t capacity);

enum class ScheduleAddResult {
    kStored,     // new or changed: the programme list may differ
    kUnchanged,  // the same bytes are held already
    kIgnored,    // not an EIT, not current, damaged, another service, a p/f section past 1
    kNoRoom,     // did not fit in the pool
};

// Takes one whole section (section_length + 3 bytes, CRC_32 already checked
// by the caller when it wants that). The first section binds the service to
// its network, transport stream and service ids; sections of other ids are
// ignored.
ScheduleAddResult AddScheduleSection(EitScheduleService& service, const uint8_t* section, int32_t size);

// Forgets the held section of a slot (room for others; nothing when none).
void DropScheduleSection(EitScheduleService& service, int32_t slot);

// The held section of a slot, or null.
const uint8_t* ScheduleSection(const EitScheduleService& service, int32_t slot, int32_t& size);

// Completeness of one kind (0 basic, 1 extended), for a broadcast clock in
// Japan seconds (see kJapanUtcOffsetSeconds; negative when no clock is known:
// then no segment counts as past).
struct ScheduleProgress {
    int32_t expectedSections;  // the sections waited for, as far as known
    int32_t heldSections;      // of those, held
    bool complete;             // every table up to last_table_id complete
};
ScheduleProgress ScheduleKindProgress(const EitScheduleService& service, int32_t kind, int64_t clock);
// One segment: its sections up to segment_last_section_number held, or
// past last_section_number or last_table_id, or ended before the clock's
// three-hour slot.
bool ScheduleSegmentComplete(const EitScheduleService& service, int32_t kind, int32_t table, int32_t segment,
                             int64_t clock);
// Both kinds complete (extended counts as complete when none was seen and
// the basic table says nothing of it).
bool ScheduleComplete(const EitScheduleService& service, int64_t clock);

// One programme of the list: where its event lies, and its times.
struct ScheduleEventRef {
    uint16_t eventId;
    bool startDetermined;
    bool durationDetermined;
    int64_t start;     // Japan seconds
    int32_t duration;  // seconds
    int32_t slot;      // present/following or basic schedule section
    int32_t offset;    // of the event in that section
    int32_t extendedSlot;    // extended schedule section, or kScheduleNoSlot
    int32_t extendedOffset;
    bool present;      // from the present section (never dropped)
};

// A listed programme from an event of the section in `slot`: its id, start
// and duration as decoded (zero and not determined where undetermined),
// where it lies, no extended items yet.
ScheduleEventRef ScheduleEventOf(const EitEventEntry& entry, int32_t slot, bool present);

// The end of a listed programme (EitProgrammeEnd): its duration when
// determined, else until `next`, the programme listed after it (null when
// none; one of undetermined start is none), at most kUndeterminedRunSeconds.
// False, and no end, when its own start is undetermined: it is never on air.
bool ScheduleEventEnd(const ScheduleEventRef& ref, const ScheduleEventRef* next, int64_t& end);

// The service's programmes in start order (undetermined starts last), at
// most `capacity` (the earliest). Returns the count.
int32_t ListScheduleEvents(const EitScheduleService& service, ScheduleEventRef* refs, int32_t capacity);

// The record of a listed programme, its extended items from the extended
// schedule when it has them. False when the section is no longer held as
// it was listed (list again after a change).
bool ReadScheduleEvent(const EitScheduleService& service, const ScheduleEventRef& ref, EitEventRecord& record);

// Several services in caller memory, found by their ids: what a tool needs
// for a whole multiplex.
struct EitScheduleSet {
    EitScheduleService* services;  // `capacity` services
    uint8_t* pools;                // capacity * poolSize bytes
    int32_t poolSize;
    int32_t capacity;
    int32_t count;
    int32_t refusedServices;       // sections of services past capacity
};
void InitScheduleSet(EitScheduleSet& set, EitScheduleService* services, int32_t capacity, uint8_t* pools,
                     int32_t poolSize);
// Routes a section to its service (a new one when there is room).
ScheduleAddResult AddScheduleSetSection(EitScheduleSet& set, const uint8_t* section, int32_t size);

#endif
