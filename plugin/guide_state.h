// The programme guide's memory in PluginState (see guide_store.h for what
// fills it, the budget and what is dropped first).
#ifndef KESTRIN_PLUGIN_GUIDE_STATE_H
#define KESTRIN_PLUGIN_GUIDE_STATE_H

#include <cstddef>
#include <cstdint>

#include "plugin/section_queue.h"
#include "text/eit_schedule.h"
#include "ts/section.h"
#include "ts/section_assembler.h"

// The most sections one turn of the window thread files before it returns
// to the message loop (and asks for another turn when more wait).
const int32_t kGuideTurnSections = 64;
// A section that finds the hand-over full is dropped: WM_GUIDE_READY is
// posted again at the first drop and every kGuideDropRepost-th after.
const int32_t kGuideDropRepost = 16;
// The entry an SDT section waiting in the hand-over is kept for: none.
const int32_t kGuideSdtEntry = -2;
// The present and the following section, each kept apart from the schedule
// slots: the newest replaces one not taken yet, so it is never lost.
const int32_t kGuidePfSlots = 2;
const uint8_t kScheduleFirstTableId = 0x50;
const uint8_t kScheduleLastTableId = 0x5F;
const int32_t kScheduleTables = kScheduleLastTableId - kScheduleFirstTableId + 1;
// Tables whose versions the packet path remembers for each service:
// present/following actual and other (0x4E, 0x4F), then the schedule of the
// actual (0x50-0x5F) and of the other transport streams (0x60-0x6F).
const uint8_t kGuideFirstTableId = 0x4E;
const uint8_t kGuideLastTableId = 0x6F;
const int32_t kGuideHeldTables = kGuideLastTableId - kGuideFirstTableId + 1;
const uint8_t kNoVersion = 0xFF;
// Every event id of a service (16 bits).
const int32_t kGuideEventIds = 65536;
// The most events one section can carry: the whole section less the EIT
// header (14 bytes) and the CRC_32, twelve bytes an event without
// descriptors.
const int32_t kGuideMostEventsPerSection = (kMaxSectionSize - 14 - kCrcSize) / 12;
// The event-id map of one service's list: open addressing, twice the list.
const int32_t kGuideEventMapSize = 2 * kScheduleEventsEightDays;
// A service's name as the guide keeps it (Shift_JIS, terminator included).
const int32_t kGuideServiceNameSize = 64;
// Names of services that have no entry yet (SDT before schedule).
const int32_t kGuideNameTableSize = 64;
// SDT sections filed (ids, number, version): repeats are not copied again.
const int32_t kGuideSdtHeld = 64;
// "[GUIDE] MemoryMB": the guide's whole budget, read before the window.
const int32_t kGuideDefaultMemoryMB = 32;
const int32_t kGuideLeastMemoryMB = 4;
const int32_t kGuideMostMemoryMB = 256;

// What one turn of the window thread did with the guide (WM_GUIDE_READY):
// sections filed, their events read, and the rows of the list looked at.
struct GuideTurnWork {
    int32_t sections;
    int32_t events;
    int32_t rowsScanned;
};

// What the packet path did with the EIT schedule PID: sections whose header
// it checked, services it compared while finding a section's service, and
// sections it copied. Under the lock.
struct GuidePathWork {
    uint32_t headers;
    uint32_t serviceCompares;
    uint32_t copies;
};

struct GuideServiceKey {
    uint16_t networkId;
    uint16_t transportStreamId;
    uint16_t serviceId;
};

// The entries' ids by hash (open addressing, linear probing): the packet
// path finds a section's service in a probe or two of this compact table
// instead of comparing the ids of every entry, each on a cache line of its
// own. A power of two, at least twice the entries of the largest budget.
const int32_t kGuideServiceIndexSize = 1024;
struct GuideServiceIndexPlace {
    GuideServiceKey key;
    int16_t entry;  // -1 an empty place
};

// Services an SDT named, so that one without an entry (not given yet, or
// given to another service since) arrives named: a set by hash (open
// addressing, linear probing) that never forgets a key, filled up to half
// its places (kGuideNamedMost keys); past that, a service is named only
// while it has its entry.
const int32_t kGuideNamedPlaces = 1024;
const int32_t kGuideNamedMost = kGuideNamedPlaces / 2;
struct GuideNamedPlace {
    GuideServiceKey key;
    bool used = false;
};
// Entries of services seen only in EIT sections that one transport stream
// may hold: no real multiplex carries this many services, so a stream of
// made-up ids (valid CRC_32, ids no SDT lists) reuses its own entries
// instead of the free ones the other streams' services need.
const int32_t kGuideUnnamedPerStream = 16;

// One service's entry, the packet path's side (under PluginState::lock).
struct GuideServiceSlot {
    GuideServiceKey key;
    // Bumped when the entry is reused for another service: the window
    // thread then starts its table again.
    uint32_t generation;
    int32_t channel;      // physical channel, -1 unknown
    int64_t lastWatched;  // Japan seconds (or a count before the first TOT), -1 never
    uint32_t added;       // when the entry was given: the older goes first among equals
    // A section of it was filed (its CRC_32 checked): an entry that never
    // had one, such as one made by a damaged header, is reused first.
    bool filed;
    // The service is known to exist: an SDT (actual or other) whose CRC_32
    // passed lists it, or the host tuned to it. An entry of a service seen
    // only in EIT sections never pushes out a named one.
    bool named;
    // The version of each section taken, kNoVersion for none; written by
    // the window thread, read by the packet path to skip repeats.
    uint8_t heldVersion[kGuideHeldTables][256];
};

// One entry of a list's event-id map: entry -1 is an empty place.
struct GuideEventPlace {
    uint16_t eventId;
    int16_t entry;
};

// One service's table, the window thread's own.
struct GuideServiceTable {
    bool ready;                // started for filedGeneration
    uint32_t filedGeneration;  // the slot's generation the table belongs to
    uint32_t entryGeneration;  // the slot's generation when last looked
    GuideServiceKey key;
    int32_t channel;
    int64_t lastWatched;
    char name[kGuideServiceNameSize];
    EitScheduleService schedule;
    uint8_t* pool;  // kSchedulePoolSizeEightDays bytes of the budget
    // The programmes: entries in no order, `rows` their entry numbers in
    // start order (listCount of them), `freeEntries` the unused entries and
    // `events` each listed event id's entry.
    ScheduleEventRef list[kScheduleEventsEightDays];
    uint16_t rows[kScheduleEventsEightDays];
    int32_t listCount;
    uint16_t freeEntries[kScheduleEventsEightDays];
    int32_t freeCount;
    GuideEventPlace events[kGuideEventMapSize];
    uint32_t revision;
};

// An SDT section filed: not copied again in that version.
struct GuideSdtFiled {
    uint16_t transportStreamId;
    uint16_t networkId;
    uint8_t tableId;
    uint8_t sectionNumber;
    uint8_t version;
    bool used;
};

struct GuideNameEntry {
    GuideServiceKey key;
    bool used;
    char name[kGuideServiceNameSize];
};

// Each service's share of the budget: its table, its pool and its slot.
const size_t kGuideServiceShare =
    sizeof(GuideServiceTable) + sizeof(GuideServiceSlot) + static_cast<size_t>(kSchedulePoolSizeEightDays);

struct GuideStore {
    // The budget of kGuideDefaultMemoryMB, allocated here once.
    GuideStore();
    ~GuideStore();
    GuideStore(const GuideStore&) = delete;
    GuideStore& operator=(const GuideStore&) = delete;

    // --- Shared with the packet path (PluginState::lock) -------------------
    // The sections kept, each with its entry, generation and stamp (the
    // hand-over order, with pfStamps), in the order they came.
    SectionQueue queue;
    uint32_t droppedSections = 0;  // the hand-over was full (the section comes again)
    // Sections dropped since the window thread last took: every
    // kGuideDropRepost-th posts WM_GUIDE_READY again, so that a lost post
    // does not leave the hand-over full for good.
    uint32_t dropsSinceTake = 0;
    // WM_GUIDE_READY was posted for what waits since the window thread last
    // took: present/following sections waiting unannounced (guide closed)
    // must not keep a schedule section behind them from being announced.
    bool readyPosted = false;
    // The present (0) and following (1) sections waiting, length 0 for none.
    uint8_t pf[kGuidePfSlots][kMaxSectionSize];
    int32_t pfLengths[kGuidePfSlots];
    uint32_t pfStamps[kGuidePfSlots];
    int32_t pfService[kGuidePfSlots];
    uint32_t pfGeneration[kGuidePfSlots];
    uint32_t nextStamp = 0;
    // SDT actual and other (PID 0x0011) sections filed already (those
    // waiting are in `queue`, entry kGuideSdtEntry).
    GuideSdtFiled sdtFiled[kGuideSdtHeld];
    int32_t sdtFiledNext;
    // The services: `serviceCount` entries in use out of `serviceCapacity`.
    GuideServiceSlot* services = nullptr;
    int32_t serviceCapacity = 0;
    int32_t serviceCount = 0;
    GuideServiceIndexPlace serviceIndex[kGuideServiceIndexSize];  // the entries in use
    int32_t serviceIndexMask = 15;  // the places used less one (a power of two less one)
    // Services an SDT named (the packet path's, written under the lock when
    // the window thread files the SDT).
    GuideNamedPlace named[kGuideNamedPlaces];
    int32_t namedCount = 0;
    // The entry and generation of the section the follower is copying.
    int32_t pendingService;
    uint32_t pendingGeneration;
    // The entry of the service being watched (-1 not received yet): the
    // current service of the actual transport stream.
    int32_t watched;
    bool actualKnown;  // the actual transport stream's ids, from its sections
    uint16_t actualNetworkId;
    uint16_t actualTransportStreamId;
    int32_t actualChannel;  // the physical channel they were seen on
    int64_t lastStamp;  // the newest watch stamp given
    uint32_t entriesAdded;
    // Bumped on a service change: the window thread looks for the watched
    // service again.
    uint32_t generation = 0;
    // The guide window is open: a service change posts WM_GUIDE_READY so
    // that it shows the new service at once, and the viewer's
    // present/following sections go to the guide as well.
    bool windowShown = false;
    // Change keys of the present and following sections handed to the guide.
    uint32_t lastPfKey[kGuidePfSlots];
    GuidePathWork pathWork = {0, 0, 0};

    // --- The window thread's own -------------------------------------------
    GuideServiceTable* tables = nullptr;  // serviceCapacity of them
    int32_t tableCount = 0;               // the entries in use when last looked
    int32_t watchedTable = -1;            // `watched` when last looked
    uint32_t seenGeneration = 0;          // `generation` when last looked
    GuideNameEntry names[kGuideNameTableSize];
    int32_t nextName = 0;
    // The broadcast clock (Japan seconds, -1 unknown) as of the turn.
    int64_t clockNow = -1;
    // The watched service's programmes (its table's listCount).
    int32_t listCount = 0;
    // Bumped by every change of any service: a window redraws when it moved.
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

    // The budget: one block for the slots, tables and pools.
    uint8_t* memory = nullptr;
    int32_t memoryMB = 0;
};

#endif
