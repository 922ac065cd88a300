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
// under the lock, verifies each one's CRC_32 without it, and files its
// events: start, duration and the raw descriptor loops of the basic
// (0x50-0x57) and extended (0x58-0x5F) parts, by event_id. Text is decoded
// only when the guide window asks for a row or a programme's details.
//
// Capacity: kGuideEventCapacity events and kGuidePoolBytes of descriptor
// loops, enough for eight days of a real terrestrial service (about 60
// programmes a day, a few hundred bytes each, and their extended texts).
// Beyond it, events that ended before the broadcast clock go first, then the
// latest-starting events: the guide keeps the nearest days whole and drops
// the far end (GuideStore::droppedEvents counts them).
#ifndef KESTRIN_PLUGIN_GUIDE_STORE_H
#define KESTRIN_PLUGIN_GUIDE_STORE_H

#include <cstdint>

#include "ts/schedule_assembler.h"
#include "ts/section.h"

struct PluginState;

const int32_t kGuideEventCapacity = 1024;
const int32_t kGuidePoolBytes = 1536 * 1024;
const int32_t kGuideHandOverSlots = 16;
const uint8_t kScheduleFirstTableId = 0x50;
const uint8_t kScheduleLastTableId = 0x5F;
const int32_t kScheduleTables = kScheduleLastTableId - kScheduleFirstTableId + 1;
// Tables 0x58-0x5F carry the extended part of the events of 0x50-0x57.
const uint8_t kScheduleFirstExtendedTableId = 0x58;
const uint8_t kNoVersion = 0xFF;

// One programme. Times in seconds since MJD 0, Japan time.
struct GuideEvent {
    uint16_t eventId;
    bool startKnown;
    bool durationKnown;
    int64_t start;
    int32_t duration;  // seconds
    // Raw descriptor loops in GuideStore::pool.
    int32_t basicOffset;
    int32_t basicLength;
    int32_t extendedOffset;
    int32_t extendedLength;
    // The sections they came from (table_id, section_number); table 0: that
    // part was not received.
    uint8_t basicTable;
    uint8_t basicSection;
    uint8_t extendedTable;
    uint8_t extendedSection;
};

struct GuideStore {
    // --- Shared with the packet path (PluginState::lock) -------------------
    ScheduleAssembler assembler;
    uint8_t slots[kGuideHandOverSlots][kMaxSectionSize];
    int32_t slotLengths[kGuideHandOverSlots];
    int32_t firstSlot;
    int32_t slotCount;
    uint32_t droppedSections;  // the slots were full (the section comes again)
    // The version of each schedule section filed, kNoVersion for none;
    // written by the window thread, read by the packet path to skip repeats.
    uint8_t heldVersion[kScheduleTables][256];
    // Bumped on a service change: the window thread then clears its events.
    uint32_t generation = 0;

    // --- The window thread's own (set here at construction, since only that
    // thread may touch them afterwards) ----------------------------------------
    uint32_t filedGeneration = 0;  // the generation the events belong to
    GuideEvent events[kGuideEventCapacity];  // sorted by start (unknown last)
    int32_t eventCount = 0;
    uint8_t pool[kGuidePoolBytes];
    int32_t poolUsed = 0;
    uint32_t droppedEvents = 0;
    // Bumped by every change of the events: a window redraws when it moved.
    uint32_t revision = 0;
};

// Everything of the guide that belongs to one service, as after
// construction: the lower layers' EIT present/following (whose counters
// start again, since a new service may come from another channel and its
// reception) and the guide itself. Lock held (or construction).
void ForgetServiceGuide(PluginState& state);

// Packet path, PID 0x0012, lock held.
void AssembleGuide(PluginState& state, const uint8_t* packet);

// Window thread, WM_GUIDE_READY: files every handed-over section. Takes the
// lock itself, only to copy. Returns true when the events changed.
bool TakeGuideSections(PluginState& state);

// Window thread: files one whole schedule section (CRC_32 verified here).
// `now` (seconds since MJD 0, or -1) lets ended events go first when the
// store is full. Returns true when the events changed.
bool FileScheduleSection(GuideStore& store, const uint8_t* section, int32_t length, int64_t now);

// Window thread: the store's two descriptor loops of an event joined into
// `out` (capacity bytes, basic part first). Returns the length.
int32_t GuideEventDescriptors(const GuideStore& store, const GuideEvent& event, uint8_t* out, int32_t capacity);

// Broadcast time now in seconds since MJD 0 (TOT plus the ticks since), or
// -1 before the first TOT. Lock held.
int64_t BroadcastNow(const PluginState& state);

#endif
