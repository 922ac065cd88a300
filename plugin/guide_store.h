// The programme guide of the service being watched: its EIT schedule, kept
// in fixed memory.
//
// Packet path (PID 0x0012, lock held): a ScheduleAssembler copies only the
// schedule sections (table_id 0x50-0x5F, actual multiplex) of the current
// service that the guide does not already hold in that version; every other
// section is skipped by its length. A complete section goes into one of
// kGuideHandOverSlots slots. While the guide window is open, the viewer's
// present and following sections (any EIT layer, whichever view the viewer
// shows) go to two slots of their own, the newest replacing one not yet
// taken. WM_GUIDE_READY is posted when
// the first section waits, and again now and then while the slots are full
// (the post that should have emptied them may have been lost). Nothing is
// decoded there.
//
// Window thread: one turn (WM_GUIDE_READY) takes what waited when it began,
// at most kGuideHandOverSlots + kGuidePfSlots sections, in the order they
// were handed over, each copied out under the lock, its CRC_32 verified
// without it and filed into the service's schedule (text/eit_schedule.h);
// when more came meanwhile, it posts WM_GUIDE_READY again and returns to the
// message loop. Filing is incremental: a section's older version leaves the
// list with its events, and its events enter it, displacing the listed
// events they conflict with (the same event id, or overlapping times): the
// section received last wins for the events it carries, whether it is of
// the schedule or present/following. So a section costs its own events, not
// a relist of every held programme. Text is decoded only when the guide
// window asks for a row or a programme's details.
//
// Capacity: the sections of eight days of one terrestrial service, basic and
// extended, in kSchedulePoolSizeEightDays (512 KB: 8 KB per three-hour
// segment where broadcasters send 1-3 KB), and kScheduleEventsEightDays
// (1,024) programmes in the list, 128 a day. Beyond it: a section that does
// not fit even after compaction is refused and the held older copy of it
// stays (EitScheduleService::refusedSections counts them; it is taken again
// when it comes round and there is room); the list keeps the earliest 1,024
// programmes, so the far end of the week goes first. An event displaced (by
// a conflict or by the capacity) comes back when its own section comes in a
// new version, or with the next service. Sections that do not fit the
// hand-over slots wait for their next repetition (droppedSections).
#ifndef KESTRIN_PLUGIN_GUIDE_STORE_H
#define KESTRIN_PLUGIN_GUIDE_STORE_H

#include <cstdint>

#include "plugin/guide_state.h"
#include "plugin/section_mailbox.h"
#include "text/eit_event.h"
#include "text/eit_schedule.h"

struct PluginState;

// Everything of the guide that belongs to one service, as after
// construction: the schedule sections being collected or handed over, the
// versions held and the present/following keys; the window thread's
// schedule starts again (generation), and an open guide window is told at
// once. Lock held (or construction).
void ForgetServiceGuide(PluginState& state);

// Packet path, PID 0x0012, lock held.
void AssembleGuide(PluginState& state, const uint8_t* packet);

// Packet path, lock held: a present/following section of the watched service
// (any EIT layer) goes to the guide while its window is open, unless it is
// the one handed before (same change key).
void GuidePresentFollowing(PluginState& state, const uint8_t* section, int32_t length);

// Window thread, WM_GUIDE_READY: one turn (see above). Takes the lock itself,
// only to copy. Returns true when the events changed.
bool TakeGuideSections(PluginState& state);

// A turn in its two halves, for one section: the copy out of the slots
// (false when nothing waits), then the filing and, for a schedule section
// taken or held already, its version marked held unless the service changed
// since the copy.
struct GuideTakenSection {
    SectionCopy section;
    uint32_t generation;  // GuideStore::generation at the copy
    bool schedule;        // from the schedule slots (else present/following)
};
bool TakeGuideSection(PluginState& state, GuideTakenSection& taken);
bool FileGuideSection(PluginState& state, const GuideTakenSection& taken);

// Window thread: the schedule as the current service's (started again after
// a service change). Every reader of the list calls it first. Returns true
// when it was started again (the list is empty then).
bool SyncGuide(PluginState& state);

// Window thread: adds one whole section (CRC_32 verified here: kIgnored when
// it fails) to the schedule and, when it was stored, its events to the list.
ScheduleAddResult FileScheduleSection(GuideStore& store, const uint8_t* section, int32_t length);

// Window thread: the programme of a row (false past the list) and the row of
// an event id (-1 when not listed).
bool GuideRow(const GuideStore& store, int32_t row, ScheduleEventRef& ref);
int32_t GuideRowOfEvent(const GuideStore& store, int32_t eventId);

// Window thread: the record of a listed programme, with the items of the
// newest extended section that holds it. False when its section is no
// longer held as listed.
bool ReadGuideEvent(const GuideStore& store, const ScheduleEventRef& ref, EitEventRecord& record);

// Broadcast time now in Japan seconds since 1970 (the TOT plus the ticks
// since, as the clock shows it), or -1 before the first TOT. Lock held.
int64_t BroadcastNow(const PluginState& state);

#endif
