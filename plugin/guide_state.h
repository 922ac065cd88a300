// The programme guide's memory in PluginState (see guide_store.h for what
// fills it and the capacity).
#ifndef KESTRIN_PLUGIN_GUIDE_STATE_H
#define KESTRIN_PLUGIN_GUIDE_STATE_H

#include <cstdint>

#include "text/eit_schedule.h"
#include "ts/schedule_assembler.h"
#include "ts/section.h"
#include "ts/section_assembler.h"

const int32_t kGuideHandOverSlots = 16;
// The present and the following section, each kept apart from the schedule
// slots: the newest replaces one not taken yet, so it is never lost.
const int32_t kGuidePfSlots = 2;
const uint8_t kScheduleFirstTableId = 0x50;
const uint8_t kScheduleLastTableId = 0x5F;
const int32_t kScheduleTables = kScheduleLastTableId - kScheduleFirstTableId + 1;
const uint8_t kNoVersion = 0xFF;
// Every event id of a service (16 bits).
const int32_t kGuideEventIds = 65536;
// The most events one section can carry: the whole section less the EIT
// header (14 bytes) and the CRC_32, twelve bytes an event without
// descriptors.
const int32_t kGuideMostEventsPerSection = (kMaxSectionSize - 14 - kCrcSize) / 12;
// The guide's following-event assemblers: one for each EIT layer.
const int32_t kGuideEitLayers = 3;  // H-EIT 0x0012, M-EIT 0x0026, L-EIT 0x0027

// What one turn of the window thread did with the guide (WM_GUIDE_READY):
// sections filed, their events read, and the rows of the list looked at.
struct GuideTurnWork {
    int32_t sections;
    int32_t events;
    int32_t rowsScanned;
};

struct GuideStore {
    // --- Shared with the packet path (PluginState::lock) -------------------
    ScheduleAssembler assembler;
    uint8_t slots[kGuideHandOverSlots][kMaxSectionSize];
    int32_t slotLengths[kGuideHandOverSlots];
    uint32_t slotStamps[kGuideHandOverSlots];  // hand-over order, with pfStamps
    int32_t firstSlot;
    int32_t slotCount;
    uint32_t droppedSections = 0;  // the slots were full (the section comes again)
    // Sections dropped since the window thread last took: every
    // kGuideHandOverSlots-th posts WM_GUIDE_READY again, so that a lost post
    // does not leave the slots full for good.
    uint32_t dropsSinceTake = 0;
    // The present (0) and following (1) sections waiting, length 0 for none.
    uint8_t pf[kGuidePfSlots][kMaxSectionSize];
    int32_t pfLengths[kGuidePfSlots];
    uint32_t pfStamps[kGuidePfSlots];
    uint32_t nextStamp = 0;
    // The following section for the guide whichever view the viewer shows
    // (the viewer's own assembler runs only in the following view).
    SectionAssembler followingAssemblers[kGuideEitLayers];
    // The version of each schedule section taken, kNoVersion for none;
    // written by the window thread, read by the packet path to skip repeats.
    uint8_t heldVersion[kScheduleTables][256];
    // Bumped on a service change: the window thread then starts its
    // schedule again.
    uint32_t generation = 0;
    // The guide window is open: a service change posts WM_GUIDE_READY so
    // that it empties at once, and the viewer's present/following sections
    // go to the guide as well.
    bool windowShown = false;
    // Change keys of the present and following sections handed to the guide.
    uint32_t lastPfKey[kGuidePfSlots];

    // --- The window thread's own (set here at construction, since only that
    // thread may touch them afterwards) ----------------------------------------
    bool scheduleReady = false;    // InitScheduleService done for filedGeneration
    uint32_t filedGeneration = 0;  // the generation the schedule belongs to
    EitScheduleService schedule;
    uint8_t pool[kSchedulePoolSizeEightDays];
    // The programmes: entries in no order, `rows` their entry numbers in
    // start order (listCount of them), `freeEntries` the unused entries and
    // `entryOfEvent` each listed event id's entry (-1 none).
    ScheduleEventRef list[kScheduleEventsEightDays];
    uint16_t rows[kScheduleEventsEightDays];
    int32_t listCount = 0;
    uint16_t freeEntries[kScheduleEventsEightDays];
    int32_t freeCount = 0;
    int16_t entryOfEvent[kGuideEventIds];
    // Bumped by every change of the list: a window redraws when it moved.
    uint32_t revision = 0;
    GuideTurnWork lastTurn = {0, 0, 0};
    // Called on the window thread after each section a turn copies out,
    // without the lock: a seam for tests, where a stream thread's hand-over
    // meanwhile is made to happen at that point. Null otherwise.
    void (*afterTake)(void* context) = nullptr;
    void* afterTakeContext = nullptr;

    // The guide window (ui/guide_view.h), also the window thread's own.
    bool windowOpen = false;
    int32_t selectedEventId = -1;  // followed across updates of the list
    int32_t selectedRow = -1;
    uint32_t shownRevision = 0;
};

#endif
