// The programme guide: the EIT schedule and present/following of every
// service received since the plug-in started, each in a table of its own,
// all in fixed memory allocated once.
//
// Packet path (PID 0x0012, lock held): the PID's one section follower, the
// viewer's present/following one (section_handover.cpp), asks the guide's
// keep test too, which reads each section's header (table_id, service_id,
// version, section_number, transport_stream_id, original_network_id):
// schedule sections 0x50-0x6F (actual and other transport streams) and
// present/following 0x4E/0x4F of every service are kept unless their
// service's entry holds them in that version already; every other section
// is skipped by its length. Finding the entry is a probe or two of a hashed
// index of the entries' ids (guide_entries.h): no allocation, nothing
// formatted. A service not seen before is kept too, but gets its entry only
// when its whole section is there and passed its CRC_32 (a damaged header
// takes no entry); when every entry is taken, the entry to reuse is chosen
// as guide_entries.h says (never the one watched now): its generation
// bumps, and the window thread starts its table again. A kept section goes
// into the hand-over (plugin/section_queue.h, a megabyte ring of whole
// sections) with its entry and generation; only one that does not fit is
// dropped, and comes again at its next repetition. While the guide
// window is open, the viewer's present and following sections of the
// watched service (any EIT layer, whichever view the viewer shows) go to
// two slots of their own, the newest replacing one not yet taken. SDT
// actual and other sections (PID 0x0011) not filed yet in that version go
// to the hand-over as well, each in its turn.
// WM_GUIDE_READY is posted when the first section waits, and again now and
// then while the hand-over is full (the post that should have emptied it may
// have been lost). Nothing is decoded there.
//
// The watched service is the viewer's current service on the actual
// transport stream: its entry is found by the ids of the actual stream's
// own sections (0x4E, 0x50-0x5F). It gets a "last watched" stamp (the
// broadcast clock) when it becomes and when it stops being the watched one,
// and the entries of services of the actual stream record the physical
// channel the host reported.
//
// Window thread: one turn (WM_GUIDE_READY) takes what waited when it began,
// at most kGuideTurnSections + kGuidePfSlots sections (SDT ones too), in the
// order they were handed over, each copied out under the lock, its CRC_32
// verified without it and filed into its service's table
// (text/eit_schedule.h); when more came meanwhile, it posts WM_GUIDE_READY
// again and returns to the message loop. Filing is incremental: a section's
// older version leaves the list with its events, and its events enter it,
// displacing the listed events they conflict with (the same event id, or
// overlapping times): the section received last wins for the events it
// carries, whether it is of the schedule or present/following. So a section
// costs its own events, not a relist of every held programme. An SDT
// section's service names (Shift_JIS) go to the entries of their services,
// or to a small name table until the service has an entry. Text is decoded
// only when a window asks for a row or a programme's details.
//
// Budget: "[GUIDE] MemoryMB" in Kestrin.ini (default 32, clamped to 4..256),
// read before the window is created and allocated then in one block; a
// GuideStore starts with the default. Each service's share
// (kGuideServiceShare) is about 630 KB: the pool of its sections (512 KB,
// kSchedulePoolSizeEightDays: eight days of basic and extended schedule at
// 8 KB per three-hour segment, where terrestrial broadcasters send 1-3 KB),
// the section map (57 KB), the list of 1,024 programmes with its rows and
// free entries (44 KB), the event-id map (8 KB), the packet path's
// held-version map (8.5 KB) and the name. The default budget holds 52
// services: a BS-like transponder's 30 and several terrestrial multiplexes;
// the least (4 MB) holds 6.
// What is dropped first when full:
// - a service's pool: first its sections whose programmes have all ended
//   (segments before the broadcast clock's three-hour slot), then its
//   furthest sections (the last days of its schedule), never nearer ones
//   for a further one: a section further than all held is refused and
//   taken again when it comes round in a new version;
// - a service's list: it keeps the earliest 1,024 programmes, the present
//   one always;
// - the service table: the entry of the service watched longest ago is
//   reused for the new service (see above).
// An event displaced by a present/following event comes back when that
// event leaves (the schedule's programmes of its time fill the gap); one
// displaced otherwise (by a conflict or by the capacity) comes back when
// its own section comes in a new version. Sections that do not fit the
// hand-over wait for their next repetition (droppedSections).
#ifndef KESTRIN_PLUGIN_GUIDE_STORE_H
#define KESTRIN_PLUGIN_GUIDE_STORE_H

#include <cstdint>

#include "plugin/guide_budget.h"
#include "plugin/guide_entries.h"
#include "plugin/guide_state.h"
#include "plugin/section_mailbox.h"
#include "text/eit_event.h"
#include "text/eit_schedule.h"

struct PluginState;


// A service change (lock held, or construction): the sections and
// present/following handed over for the old service are forgotten, the
// watched service is looked for again, and an open guide window is told at
// once. The services' tables stay.
void ForgetServiceGuide(PluginState& state);

// Packet path, PID 0x0012, lock held: the guide's keep test on a section's
// first `size` header bytes (kFollowHeaderSize, or the whole section when
// it is shorter), and the hand-over of a whole section it kept. A section
// wanted while the hand-over has no room is counted as dropped and not kept.
bool KeepGuideSection(PluginState& state, const uint8_t* header, int32_t size);
void HandOverGuideSection(PluginState& state, const uint8_t* section, int32_t length);
// Packet path, PID 0x0011 (SDT), lock held, the same two for the SDT
// actual and other sections that name the services: kept unless filed
// already in that version, and handed over whatever the guide window does.
bool KeepGuideSdtSection(PluginState& state, const uint8_t* header, int32_t size);
void HandOverGuideSdt(PluginState& state, const uint8_t* section, int32_t length);

// Window thread: sections wait for which no WM_GUIDE_READY is on its way
// (SDT and present/following sections handed over while the guide window
// is closed, behind no new schedule section). The viewer's own present and
// SDT messages, which come with every repeat, take them along, so that the
// guide adds no messages of its own to the viewer's and nothing waits for
// a schedule section that, held already, will not be copied again.
bool GuideSectionsUnannounced(PluginState& state);

// Packet path, lock held: a present/following section of the watched service
// (any EIT layer) goes to the guide while its window is open, unless it is
// the one handed before (same change key).
void GuidePresentFollowing(PluginState& state, const uint8_t* section, int32_t length);

// Window thread, WM_GUIDE_READY: one turn (see above). Takes the lock itself,
// only to copy. Returns true when the events changed.
bool TakeGuideSections(PluginState& state);

// A turn in its two halves, for one section: the copy out of the slots
// (false when nothing waits), then the filing and, for a section taken or
// held already, its version marked held unless its entry was reused since
// the copy.
struct GuideTakenSection {
    SectionCopy section;
    int32_t service;      // the entry, -1 none
    uint32_t generation;  // the entry's generation at the copy
    bool schedule;        // from the schedule slots (else present/following)
};
bool TakeGuideSection(PluginState& state, GuideTakenSection& taken);
bool FileGuideSection(PluginState& state, const GuideTakenSection& taken);

// Window thread: the tables as the packet path's entries (a reused entry's
// table started again) and the watched service looked up. Every reader
// calls it first. Returns true when the watched service's list was started
// again or another service is watched now.
bool SyncGuide(PluginState& state);

// One thread owning the store (tools, benchmarks; no lock): adds one whole
// section (CRC_32 verified here: kIgnored when it fails) to the table of the
// service its ids name (a new entry when there is room) and, when it was
// stored, its events to the list.
ScheduleAddResult FileScheduleSection(GuideStore& store, const uint8_t* section, int32_t length);

// Window thread, the watched service: the programme of a row (false past the
// list) and the row of an event id (-1 when not listed).
bool GuideRow(const GuideStore& store, int32_t row, ScheduleEventRef& ref);
int32_t GuideRowOfEvent(const GuideStore& store, int32_t eventId);

// Window thread, the watched service: the record of a listed programme,
// with the items of the newest extended section that holds it. False when
// its section is no longer held as listed.
bool ReadGuideEvent(const GuideStore& store, const ScheduleEventRef& ref, EitEventRecord& record);

// --- Every service (window thread) ---------------------------------------

struct GuideServiceInfo {
    GuideServiceKey key;
    int32_t channel;      // physical channel, -1 unknown
    int64_t lastWatched;  // -1 never
    char name[kGuideServiceNameSize];  // Shift_JIS, "" unknown
    int32_t listCount;
    uint32_t revision;
    bool watched;  // the service being watched now
};

// Entries in use: indexes 0..count-1 (an index may be reused after
// eviction; compare keys).
int32_t GuideServiceCount(const GuideStore& store);
bool GuideServiceAt(const GuideStore& store, int32_t service, GuideServiceInfo& out);
// A service's programmes in start order.
bool GuideServiceRow(const GuideStore& store, int32_t service, int32_t row, ScheduleEventRef& ref);
// The first row that ends after `time` (binary search); the count when none.
int32_t GuideServiceFirstRowEndingAfter(const GuideStore& store, int32_t service, int64_t time);
// The row of an event id, -1 when not listed.
int32_t GuideServiceRowOfEvent(const GuideStore& store, int32_t service, int32_t eventId);
bool ReadGuideServiceEvent(const GuideStore& store, int32_t service, const ScheduleEventRef& ref,
                           EitEventRecord& record);
// The watched service's index, or -1.
int32_t GuideWatchedService(const GuideStore& store);
// Bumped by any change of any service.
uint32_t GuideRevision(const GuideStore& store);
// A service's section map (null for no such entry).
const EitScheduleService* GuideServiceSchedule(const GuideStore& store, int32_t service);
// Lock held (or one thread): the version of a section the packet path
// skips, kNoVersion for none.
uint8_t GuideHeldVersion(const GuideStore& store, int32_t service, uint8_t tableId, uint8_t sectionNumber);

// For the cache file: a service's held sections, oldest first.
int32_t GuideServiceSectionCount(const GuideStore& store, int32_t service);
const uint8_t* GuideServiceSection(const GuideStore& store, int32_t service, int32_t i, int32_t& size);
// Window thread: the entry for a cached service (name, channel,
// lastWatched; its own entry when it has one), -1 when no room.
int32_t RestoreGuideService(PluginState& state, const GuideServiceInfo& info);
// Window thread: one cached section into its service's table (CRC_32
// checked; a section of other ids is kIgnored), marked held so that the
// packet path skips it.
ScheduleAddResult RestoreGuideSection(PluginState& state, int32_t service, const uint8_t* section, int32_t length);

#endif
