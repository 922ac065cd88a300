// The programme guide of the service being watched: its EIT schedule, kept
// in fixed memory.
//
// Packet path (PID 0x0012, lock held): a ScheduleAssembler copies only the
// schedule sections (table_id 0x50-0x5F, actual multiplex) of the current
// service that the guide does not already hold in that version; every other
// section is skipped by its length. A complete section goes into one of
// kGuideHandOverSlots slots, and WM_GUIDE_READY is posted when the first slot
// fills. Nothing is decoded there.
//
// Window thread: TakeGuideSections copies the sections out one at a time
// under the lock, verifies each one's CRC_32 without it and adds it to the
// service's schedule (text/eit_schedule.h), then lists the programmes again.
// Text is decoded only when the guide window asks for a row or a
// programme's details.
//
// Capacity: the sections of eight days of one terrestrial service, basic and
// extended, in kSchedulePoolSizeEightDays (512 KB: 8 KB per three-hour
// segment where broadcasters send 1-3 KB), and kScheduleEventsEightDays
// (1,024) programmes in the list, 128 a day. Beyond it: a section that does
// not fit even after compaction is refused and the held older copy of it
// stays (EitScheduleService::refusedSections counts them; it is taken again
// when it comes round and there is room); the list keeps the earliest 1,024
// programmes, so the far end of the week goes first. Sections that do not
// fit the hand-over slots wait for their next repetition (droppedSections).
#ifndef KESTRIN_PLUGIN_GUIDE_STORE_H
#define KESTRIN_PLUGIN_GUIDE_STORE_H

#include <cstdint>

#include "plugin/guide_state.h"
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

// Packet path, lock held: a present/following section the viewer was handed
// (any EIT layer) goes to the guide while its window is open, unless it is
// the one handed before (same change key).
void GuidePresentFollowing(PluginState& state, const uint8_t* section, int32_t length);

// Window thread, WM_GUIDE_READY: files every handed-over section. Takes the
// lock itself, only to copy. Returns true when the events changed.
bool TakeGuideSections(PluginState& state);

// Window thread: the schedule as the current service's (started again after
// a service change). Every reader of the list calls it first. Returns true
// when it was started again (the list is empty then).
bool SyncGuide(PluginState& state);

// Window thread: adds one whole schedule section (CRC_32 verified here:
// kIgnored when it fails) and lists the programmes again when it was stored.
ScheduleAddResult FileScheduleSection(GuideStore& store, const uint8_t* section, int32_t length);

// Broadcast time now in Japan seconds since 1970 (the TOT plus the ticks
// since, as the clock shows it), or -1 before the first TOT. Lock held.
int64_t BroadcastNow(const PluginState& state);

#endif
