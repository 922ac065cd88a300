#include "plugin/guide_store.h"

#include <cstring>
#include <mutex>

#include "plugin/messages.h"
#include "plugin/plugin_state.h"
#include "ts/calendar.h"
#include "ts/crc32.h"

namespace {

const uint8_t kEitPfActual = 0x4E;
const uint8_t kEitPfOther = 0x4F;
const uint8_t kEitScheduleLast = 0x6F;

// The packet path asks this before it copies a section: false for one held
// in the same version.
bool SectionWanted(const void* context, uint8_t tableId, uint8_t sectionNumber, uint8_t version) {
    const GuideStore& store = *static_cast<const GuideStore*>(context);
    return store.heldVersion[tableId - kScheduleFirstTableId][sectionNumber] != version;
}

bool SectionsWaiting(const GuideStore& g) {
    return g.slotCount > 0 || g.pfLengths[0] > 0 || g.pfLengths[1] > 0;
}

struct SinkContext {
    PluginState& state;
};

void HandOverSection(void* context, const uint8_t* section, int32_t length) {
    PluginState& s = static_cast<SinkContext*>(context)->state;
    GuideStore& g = s.guide;
    if (g.slotCount == kGuideHandOverSlots) {
        ++g.droppedSections;
        // The window thread has not emptied the slots: perhaps the message
        // that should have made it was lost (posted before the window
        // existed). Ask again at the first drop and every
        // kGuideHandOverSlots-th after, never for each.
        if (g.dropsSinceTake++ % kGuideHandOverSlots == 0) s.platform->PostToWindow(WM_GUIDE_READY);
        return;
    }
    const bool first = !SectionsWaiting(g);
    const int32_t slot = (g.firstSlot + g.slotCount) % kGuideHandOverSlots;
    std::memcpy(g.slots[slot], section, static_cast<size_t>(length));
    g.slotLengths[slot] = length;
    g.slotStamps[slot] = g.nextStamp++;
    ++g.slotCount;
    // One message for a run of sections: the handler takes them all.
    if (first) s.platform->PostToWindow(WM_GUIDE_READY);
}

// --- The list, window thread ---------------------------------------------

int64_t EndOf(const ScheduleEventRef& r) {
    return r.start + (r.durationDetermined && r.duration > 0 ? r.duration : 1);
}

// Start order; undetermined starts last; the event id breaks ties (ids are
// unique in the list, so the order is total).
bool Earlier(const ScheduleEventRef& a, const ScheduleEventRef& b) {
    if (a.startDetermined != b.startDetermined) return a.startDetermined;
    if (a.startDetermined && a.start != b.start) return a.start < b.start;
    return a.eventId < b.eventId;
}

const ScheduleEventRef& AtRow(const GuideStore& g, int32_t row) { return g.list[g.rows[row]]; }

// The row `ref` stands at, or would be put at.
int32_t RowFor(const GuideStore& g, const ScheduleEventRef& ref) {
    int32_t low = 0;
    int32_t high = g.listCount;
    while (low < high) {
        const int32_t middle = low + (high - low) / 2;
        if (Earlier(AtRow(g, middle), ref)) {
            low = middle + 1;
        } else {
            high = middle;
        }
    }
    return low;
}

// The first row that ends after `start`. Listed programmes of determined
// start never overlap one another, so their ends are in start order too.
int32_t FirstEndingAfter(const GuideStore& g, int64_t start) {
    int32_t low = 0;
    int32_t high = g.listCount;
    while (low < high) {
        const int32_t middle = low + (high - low) / 2;
        const ScheduleEventRef& r = AtRow(g, middle);
        if (r.startDetermined && EndOf(r) <= start) {
            low = middle + 1;
        } else {
            high = middle;
        }
    }
    return low;
}

void FreeEntry(GuideStore& g, uint16_t entry) {
    g.entryOfEvent[g.list[entry].eventId] = -1;
    g.freeEntries[g.freeCount++] = entry;
}

void RemoveRow(GuideStore& g, int32_t row) {
    FreeEntry(g, g.rows[row]);
    std::memmove(&g.rows[row], &g.rows[row + 1], static_cast<size_t>(g.listCount - row - 1) * sizeof g.rows[0]);
    --g.listCount;
}

void InsertRow(GuideStore& g, const ScheduleEventRef& ref) {
    const uint16_t entry = g.freeEntries[--g.freeCount];
    g.list[entry] = ref;
    const int32_t row = RowFor(g, ref);
    std::memmove(&g.rows[row + 1], &g.rows[row], static_cast<size_t>(g.listCount - row) * sizeof g.rows[0]);
    g.rows[row] = entry;
    ++g.listCount;
    g.entryOfEvent[ref.eventId] = static_cast<int16_t>(entry);
}

void EmptyList(GuideStore& g) {
    g.listCount = 0;
    g.freeCount = kScheduleEventsEightDays;
    for (int32_t i = 0; i < kScheduleEventsEightDays; ++i) {
        g.freeEntries[i] = static_cast<uint16_t>(kScheduleEventsEightDays - 1 - i);
    }
    std::memset(g.entryOfEvent, 0xFF, sizeof g.entryOfEvent);
}

// The rows overlapping `c`: [first, last). False when one of them is an
// earlier event of c's own section (which keeps its place: within a section
// the loop's order decides).
bool OverlappingRows(const GuideStore& g, const ScheduleEventRef& c, int32_t& first, int32_t& last,
                     GuideTurnWork& work) {
    first = last = 0;
    if (!c.startDetermined) return true;
    first = FirstEndingAfter(g, c.start);
    last = first;
    const int64_t end = EndOf(c);
    while (last < g.listCount && AtRow(g, last).startDetermined && AtRow(g, last).start < end) {
        ++work.rowsScanned;
        if (AtRow(g, last).slot == c.slot) return false;
        ++last;
    }
    return true;
}

// One event of the section filed last: it displaces what it conflicts
// with. True when the list changed.
bool Offer(GuideStore& g, const ScheduleEventRef& c, GuideTurnWork& work) {
    const int16_t same = g.entryOfEvent[c.eventId];
    if (same >= 0 && g.list[same].slot == c.slot) return false;  // twice in one section: the first stays
    int32_t first = 0;
    int32_t last = 0;
    if (!OverlappingRows(g, c, first, last, work)) return false;
    bool changed = false;
    if (same >= 0) {
        RemoveRow(g, RowFor(g, g.list[same]));
        changed = true;
        OverlappingRows(g, c, first, last, work);
    }
    for (int32_t row = last - 1; row >= first; --row) {
        RemoveRow(g, row);
        changed = true;
    }
    if (g.listCount >= kScheduleEventsEightDays) {
        // Full: the latest programme goes (the present one keeps its place),
        // when the newcomer starts before it.
        int32_t latest = -1;
        for (int32_t row = g.listCount - 1; row >= 0; --row) {
            ++work.rowsScanned;
            if (!AtRow(g, row).present) {
                latest = row;
                break;
            }
        }
        if (latest < 0 || !Earlier(c, AtRow(g, latest))) return changed;
        RemoveRow(g, latest);
    }
    InsertRow(g, c);
    return true;
}

// The list slot of a section (present, following or basic schedule), or
// kScheduleNoSlot for one whose events are not listed (extended).
int32_t ListedSlotOf(const uint8_t* section) {
    const uint8_t tableId = section[0];
    const uint8_t number = section[6];
    if (tableId == kEitPfActual || tableId == kEitPfOther) {
        if (number > 1) return kScheduleNoSlot;
        return number == 0 ? kScheduleSlotPresent : kScheduleSlotFollowing;
    }
    if (tableId < kScheduleFirstTableId || tableId > kEitScheduleLast) return kScheduleNoSlot;
    const int32_t index = (tableId - kScheduleFirstTableId) & 0x0F;  // other stream shares the actual slots
    if (index >= kScheduleTablesPerKind) return kScheduleNoSlot;
    return index * kScheduleSectionsPerTable + number;
}

// A section stored in `slot`: its older version's events leave the list,
// its own events enter it. True when the list changed.
bool ListSection(GuideStore& g, int32_t slot) {
    GuideTurnWork& work = g.lastTurn;
    bool changed = false;
    int32_t kept = 0;
    for (int32_t row = 0; row < g.listCount; ++row) {
        const uint16_t entry = g.rows[row];
        if (g.list[entry].slot == slot) {
            FreeEntry(g, entry);
            changed = true;
        } else {
            g.rows[kept++] = entry;
        }
    }
    work.rowsScanned += g.listCount;
    g.listCount = kept;
    int32_t size = 0;
    const uint8_t* section = ScheduleSection(g.schedule, slot, size);
    if (section == nullptr) return changed;
    const bool pf = slot >= kScheduleSlotPresent;
    EitEventCursor cursor(section, size);
    EitEventEntry e;
    while (cursor.Next(e)) {
        ++work.events;
        ScheduleEventRef ref;
        ref.eventId = e.eventId;
        ref.startDetermined = DecodeEitStart(e.startTime, ref.start);
        ref.durationDetermined = DecodeEitDuration(e.duration, ref.duration);
        if (!ref.startDetermined) ref.start = 0;
        if (!ref.durationDetermined) ref.duration = 0;
        ref.slot = slot;
        ref.offset = e.offset;
        ref.extendedSlot = kScheduleNoSlot;
        ref.extendedOffset = 0;
        ref.present = slot == kScheduleSlotPresent;
        changed = Offer(g, ref, work) || changed;
        if (pf) break;  // a present or following section carries one event
    }
    return changed;
}

// Window thread: the schedule as that of `generation`'s service, started
// again (empty, unbound) when it belonged to another. True when started.
bool StartSchedule(GuideStore& g, uint32_t generation) {
    if (g.scheduleReady && g.filedGeneration == generation) return false;
    InitScheduleService(g.schedule, g.pool, kSchedulePoolSizeEightDays);
    g.scheduleReady = true;
    g.filedGeneration = generation;
    EmptyList(g);
    ++g.revision;
    return true;
}

}  // namespace

void ForgetServiceGuide(PluginState& s) {
    GuideStore& g = s.guide;
    ResetScheduleAssembler(g.assembler);
    g.firstSlot = 0;
    g.slotCount = 0;
    g.dropsSinceTake = 0;
    g.pfLengths[0] = g.pfLengths[1] = 0;
    for (int32_t i = 0; i < kGuideEitLayers; ++i) ResetSectionAssembler(g.followingAssemblers[i]);
    std::memset(g.heldVersion, kNoVersion, sizeof g.heldVersion);
    g.lastPfKey[0] = g.lastPfKey[1] = 0;
    ++g.generation;
    if (g.windowShown) s.platform->PostToWindow(WM_GUIDE_READY);
}

void AssembleGuide(PluginState& s, const uint8_t* packet) {
    ScheduleFilter filter;
    filter.firstTableId = kScheduleFirstTableId;
    filter.lastTableId = kScheduleLastTableId;
    filter.serviceId = static_cast<uint16_t>(s.currentService);
    filter.wanted = SectionWanted;
    filter.context = &s.guide;
    SinkContext sink = {s};
    AssembleScheduleSections(s.guide.assembler, filter, packet, HandOverSection, &sink);
}

void GuidePresentFollowing(PluginState& s, const uint8_t* section, int32_t length) {
    GuideStore& g = s.guide;
    if (!g.windowShown || length < kScheduleHeaderSize || length > kMaxSectionSize) return;
    const uint8_t number = section[6];
    if (number > 1 || SectionLength(section) < 1) return;
    const uint32_t key = SectionChangeKey(section);
    if (key == g.lastPfKey[number]) return;
    g.lastPfKey[number] = key;
    const bool first = !SectionsWaiting(g);
    std::memcpy(g.pf[number], section, static_cast<size_t>(length));
    g.pfLengths[number] = length;
    g.pfStamps[number] = g.nextStamp++;
    if (first) s.platform->PostToWindow(WM_GUIDE_READY);
}

int64_t BroadcastNow(const PluginState& s) {
    if (s.tickCount < 0 || s.clockMjd < 0) return -1;
    return JapanSecondsOf(s.clockMjd, static_cast<int64_t>(s.clockHour) * 3600 + s.clockMinute * 60 + s.clockSecond +
                                          s.tickCount);
}

bool SyncGuide(PluginState& s) {
    uint32_t generation;
    {
        std::lock_guard<std::mutex> guard(s.lock);
        generation = s.guide.generation;
    }
    return StartSchedule(s.guide, generation);
}

bool TakeGuideSection(PluginState& s, GuideTakenSection& taken) {
    GuideStore& g = s.guide;
    std::lock_guard<std::mutex> guard(s.lock);
    taken.generation = g.generation;
    // The one handed over first: the schedule slots in their order, the
    // present and following sections by their stamps among them.
    int32_t which = -1;  // 0, 1: present, following; kGuidePfSlots: the schedule slots
    uint32_t stamp = 0;
    if (g.slotCount > 0) {
        which = kGuidePfSlots;
        stamp = g.slotStamps[g.firstSlot];
    }
    for (int32_t i = 0; i < kGuidePfSlots; ++i) {
        if (g.pfLengths[i] > 0 && (which < 0 || static_cast<int32_t>(g.pfStamps[i] - stamp) < 0)) {
            which = i;
            stamp = g.pfStamps[i];
        }
    }
    if (which < 0) return false;
    const uint8_t* from;
    int32_t length;
    if (which == kGuidePfSlots) {
        from = g.slots[g.firstSlot];
        length = g.slotLengths[g.firstSlot];
        g.firstSlot = (g.firstSlot + 1) % kGuideHandOverSlots;
        --g.slotCount;
    } else {
        from = g.pf[which];
        length = g.pfLengths[which];
        g.pfLengths[which] = 0;
    }
    taken.section.length = length > 0 && length <= kMaxSectionSize ? length : 0;
    std::memcpy(taken.section.data, from, static_cast<size_t>(taken.section.length));
    taken.schedule = which == kGuidePfSlots;
    return true;
}

bool FileGuideSection(PluginState& s, const GuideTakenSection& taken) {
    GuideStore& g = s.guide;
    // A service change since the last section: the schedule starts again
    // for the generation this section was copied under. Not for the one
    // the state holds by now: a later change may have come meanwhile,
    // and the first section filed binds the schedule to its service, so
    // this one would shut the next service's sections out.
    bool changed = StartSchedule(g, taken.generation);
    const SectionCopy& copy = taken.section;
    if (copy.length < kScheduleHeaderSize) return changed;
    const ScheduleAddResult result = FileScheduleSection(g, copy.data, copy.length);
    changed = changed || result == ScheduleAddResult::kStored;
    // Taken (stored or held already): not copied again in this version,
    // unless the service changed meanwhile (the map was cleared for the
    // new one then). A section that found no room, or was damaged, is
    // not marked, so it is tried again when it comes round.
    if (!taken.schedule || (result != ScheduleAddResult::kStored && result != ScheduleAddResult::kUnchanged)) {
        return changed;
    }
    std::lock_guard<std::mutex> guard(s.lock);
    if (g.generation == taken.generation && copy.data[0] >= kScheduleFirstTableId &&
        copy.data[0] <= kScheduleLastTableId) {
        g.heldVersion[copy.data[0] - kScheduleFirstTableId][copy.data[6]] =
            static_cast<uint8_t>((copy.data[5] >> 1) & 0x1F);
    }
    return changed;
}

bool TakeGuideSections(PluginState& s) {
    GuideStore& g = s.guide;
    g.lastTurn.sections = g.lastTurn.events = g.lastTurn.rowsScanned = 0;
    bool changed = SyncGuide(s);
    // What waits now, and no more: sections that come meanwhile wait for
    // the next turn, after the window's other messages.
    int32_t waiting;
    {
        std::lock_guard<std::mutex> guard(s.lock);
        waiting = g.slotCount + (g.pfLengths[0] > 0 ? 1 : 0) + (g.pfLengths[1] > 0 ? 1 : 0);
        g.dropsSinceTake = 0;
    }
    // Large: one on the window thread's stack per turn.
    GuideTakenSection taken;
    for (int32_t i = 0; i < waiting && TakeGuideSection(s, taken); ++i) {
        if (g.afterTake != nullptr) g.afterTake(g.afterTakeContext);
        ++g.lastTurn.sections;
        changed = FileGuideSection(s, taken) || changed;
    }
    bool more;
    {
        std::lock_guard<std::mutex> guard(s.lock);
        more = SectionsWaiting(g);
    }
    if (more) s.platform->PostToWindow(WM_GUIDE_READY);
    return changed;
}

ScheduleAddResult FileScheduleSection(GuideStore& g, const uint8_t* section, int32_t length) {
    if (length < kScheduleHeaderSize || length > kMaxSectionSize) return ScheduleAddResult::kIgnored;
    if (SectionLength(section) + kSectionHeaderSize != length) return ScheduleAddResult::kIgnored;
    if (Crc32Mpeg2(section, static_cast<size_t>(length)) != 0) return ScheduleAddResult::kIgnored;
    if (!g.scheduleReady) StartSchedule(g, g.filedGeneration);
    const ScheduleAddResult result = AddScheduleSection(g.schedule, section, length);
    if (result == ScheduleAddResult::kStored) {
        const int32_t slot = ListedSlotOf(section);
        if (slot != kScheduleNoSlot) ListSection(g, slot);
        // Extended items too change what the details show.
        ++g.revision;
    }
    return result;
}

bool GuideRow(const GuideStore& g, int32_t row, ScheduleEventRef& ref) {
    if (row < 0 || row >= g.listCount) return false;
    ref = AtRow(g, row);
    return true;
}

int32_t GuideRowOfEvent(const GuideStore& g, int32_t eventId) {
    if (!g.scheduleReady || eventId < 0 || eventId >= kGuideEventIds) return -1;
    const int16_t entry = g.entryOfEvent[eventId];
    if (entry < 0) return -1;
    const int32_t row = RowFor(g, g.list[entry]);
    return row < g.listCount && g.rows[row] == static_cast<uint16_t>(entry) ? row : -1;
}

bool ReadGuideEvent(const GuideStore& g, const ScheduleEventRef& ref, EitEventRecord& record) {
    const EitScheduleService& s = g.schedule;
    ScheduleEventRef withItems = ref;
    withItems.extendedSlot = kScheduleNoSlot;
    withItems.extendedOffset = 0;
    uint32_t newest = 0;
    const int32_t firstExtended = kScheduleTablesPerKind * kScheduleSectionsPerTable;
    for (int32_t i = 0; i < s.heldCount; ++i) {
        const int32_t slot = s.order[i];
        if (slot < firstExtended || slot >= kScheduleSlotPresent) continue;
        if (withItems.extendedSlot != kScheduleNoSlot && s.slots[slot].sequence <= newest) continue;
        int32_t size = 0;
        const uint8_t* section = ScheduleSection(s, slot, size);
        EitEventCursor cursor(section, size);
        EitEventEntry e;
        while (cursor.Next(e)) {
            if (e.eventId != ref.eventId) continue;
            withItems.extendedSlot = slot;
            withItems.extendedOffset = e.offset;
            newest = s.slots[slot].sequence;
            break;
        }
    }
    return ReadScheduleEvent(s, withItems, record);
}
