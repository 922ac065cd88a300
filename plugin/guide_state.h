// The programme guide's memory in PluginState (see guide_store.h for what
// fills it and the capacity).
#ifndef KESTRIN_PLUGIN_GUIDE_STATE_H
#define KESTRIN_PLUGIN_GUIDE_STATE_H

#include <cstdint>

#include "text/eit_schedule.h"
#include "ts/schedule_assembler.h"
#include "ts/section.h"

const int32_t kGuideHandOverSlots = 16;
const uint8_t kScheduleFirstTableId = 0x50;
const uint8_t kScheduleLastTableId = 0x5F;
const int32_t kScheduleTables = kScheduleLastTableId - kScheduleFirstTableId + 1;
const uint8_t kNoVersion = 0xFF;

struct GuideStore {
    // --- Shared with the packet path (PluginState::lock) -------------------
    ScheduleAssembler assembler;
    uint8_t slots[kGuideHandOverSlots][kMaxSectionSize];
    int32_t slotLengths[kGuideHandOverSlots];
    int32_t firstSlot;
    int32_t slotCount;
    uint32_t droppedSections = 0;  // the slots were full (the section comes again)
    // The version of each schedule section taken, kNoVersion for none;
    // written by the window thread, read by the packet path to skip repeats.
    uint8_t heldVersion[kScheduleTables][256];
    // Bumped on a service change: the window thread then starts its
    // schedule again.
    uint32_t generation = 0;
    // The guide window is open: a service change posts WM_GUIDE_READY so
    // that it empties at once, and the present/following sections of the
    // viewer go to the guide as well.
    bool windowShown = false;
    // Change keys of the present and following sections handed to the guide.
    uint32_t lastPfKey[2];

    // --- The window thread's own (set here at construction, since only that
    // thread may touch them afterwards) ----------------------------------------
    bool scheduleReady = false;    // InitScheduleService done for filedGeneration
    uint32_t filedGeneration = 0;  // the generation the schedule belongs to
    EitScheduleService schedule;
    uint8_t pool[kSchedulePoolSizeEightDays];
    ScheduleEventRef list[kScheduleEventsEightDays];  // in start order
    int32_t listCount = 0;
    // Bumped by every change of the list: a window redraws when it moved.
    uint32_t revision = 0;

    // The guide window (ui/guide_view.h), also the window thread's own.
    bool windowOpen = false;
    int32_t selectedEventId = -1;  // followed across updates of the list
    int32_t selectedRow = -1;
    uint32_t shownRevision = 0;
};

#endif
