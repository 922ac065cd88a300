#include "plugin/guide_list.h"

#include <cstring>

#include "plugin/guide_entries.h"
#include "text/eit_event.h"
#include "ts/calendar.h"
#include "ts/crc32.h"
#include "ts/schedule_assembler.h"

namespace {

const uint8_t kEitScheduleLast = 0x6F;
const int64_t kDaySeconds = 86400;

// --- The lists, window thread --------------------------------------------

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

}  // namespace

const ScheduleEventRef& AtRow(const GuideServiceTable& t, int32_t row) { return t.list[t.rows[row]]; }

namespace {

// The event-id map: linear probing from a multiplicative hash. It never
// holds more than kScheduleEventsEightDays ids in twice as many places, so
// a probe always ends.
int32_t HomeOf(uint16_t eventId) { return static_cast<int32_t>((eventId * 40503u) >> 5) & (kGuideEventMapSize - 1); }

int32_t PlaceOf(const GuideServiceTable& t, uint16_t eventId) {
    int32_t i = HomeOf(eventId);
    while (t.events[i].entry >= 0 && t.events[i].eventId != eventId) i = (i + 1) & (kGuideEventMapSize - 1);
    return i;
}

}  // namespace

int16_t EntryOfEvent(const GuideServiceTable& t, uint16_t eventId) { return t.events[PlaceOf(t, eventId)].entry; }

namespace {

void SetEntryOfEvent(GuideServiceTable& t, uint16_t eventId, int16_t entry) {
    GuideEventPlace& place = t.events[PlaceOf(t, eventId)];
    place.eventId = eventId;
    place.entry = entry;
}

// Removal with the later places of the run moved back, so that no probe
// stops early at the hole.
void ClearEntryOfEvent(GuideServiceTable& t, uint16_t eventId) {
    const int32_t mask = kGuideEventMapSize - 1;
    int32_t hole = PlaceOf(t, eventId);
    if (t.events[hole].entry < 0) return;
    int32_t j = hole;
    for (;;) {
        j = (j + 1) & mask;
        if (t.events[j].entry < 0) break;
        const int32_t home = HomeOf(t.events[j].eventId);
        // The entry at j may fill the hole unless its home lies cyclically
        // in (hole, j].
        const bool stays = hole <= j ? (home > hole && home <= j) : (home > hole || home <= j);
        if (!stays) {
            t.events[hole] = t.events[j];
            hole = j;
        }
    }
    t.events[hole].entry = -1;
}

}  // namespace

// The row `ref` stands at, or would be put at.
int32_t RowFor(const GuideServiceTable& t, const ScheduleEventRef& ref) {
    int32_t low = 0;
    int32_t high = t.listCount;
    while (low < high) {
        const int32_t middle = low + (high - low) / 2;
        if (Earlier(AtRow(t, middle), ref)) {
            low = middle + 1;
        } else {
            high = middle;
        }
    }
    return low;
}

namespace {

// The first row whose filed time ends after `start`: the filing's own
// search, where a programme of undetermined duration takes its first
// second only (EndOf), so that it conflicts with nothing but one that
// starts with it.
int32_t FirstFiledEndingAfter(const GuideServiceTable& t, int64_t start) {
    int32_t low = 0;
    int32_t high = t.listCount;
    while (low < high) {
        const int32_t middle = low + (high - low) / 2;
        const ScheduleEventRef& r = AtRow(t, middle);
        if (r.startDetermined && EndOf(r) <= start) {
            low = middle + 1;
        } else {
            high = middle;
        }
    }
    return low;
}

}  // namespace

bool RowEnd(const GuideServiceTable& t, int32_t row, int64_t& end) {
    end = 0;
    if (row < 0 || row >= t.listCount) return false;
    return ScheduleEventEnd(AtRow(t, row), row + 1 < t.listCount ? &AtRow(t, row + 1) : nullptr, end);
}

// The first row that ends after `start`. Listed programmes of determined
// start never overlap one another, and one of undetermined duration ends
// at the next one's start at the latest, so their ends are in start order
// too.
int32_t FirstEndingAfter(const GuideServiceTable& t, int64_t start) {
    int32_t low = 0;
    int32_t high = t.listCount;
    while (low < high) {
        const int32_t middle = low + (high - low) / 2;
        int64_t end = 0;
        if (RowEnd(t, middle, end) && end <= start) {
            low = middle + 1;
        } else {
            high = middle;
        }
    }
    return low;
}

namespace {

void FreeEntry(GuideServiceTable& t, uint16_t entry) {
    ClearEntryOfEvent(t, t.list[entry].eventId);
    t.freeEntries[t.freeCount++] = entry;
}

void RemoveRow(GuideServiceTable& t, int32_t row) {
    FreeEntry(t, t.rows[row]);
    std::memmove(&t.rows[row], &t.rows[row + 1], static_cast<size_t>(t.listCount - row - 1) * sizeof t.rows[0]);
    --t.listCount;
}

void InsertRow(GuideServiceTable& t, const ScheduleEventRef& ref) {
    const uint16_t entry = t.freeEntries[--t.freeCount];
    t.list[entry] = ref;
    const int32_t row = RowFor(t, ref);
    std::memmove(&t.rows[row + 1], &t.rows[row], static_cast<size_t>(t.listCount - row) * sizeof t.rows[0]);
    t.rows[row] = entry;
    ++t.listCount;
    SetEntryOfEvent(t, ref.eventId, static_cast<int16_t>(entry));
}

}  // namespace

void EmptyList(GuideServiceTable& t) {
    t.listCount = 0;
    t.freeCount = kScheduleEventsEightDays;
    for (int32_t i = 0; i < kScheduleEventsEightDays; ++i) {
        t.freeEntries[i] = static_cast<uint16_t>(kScheduleEventsEightDays - 1 - i);
    }
    for (int32_t i = 0; i < kGuideEventMapSize; ++i) t.events[i].entry = -1;
}

namespace {

// The rows overlapping `c`: [first, last). False when one of them is an
// earlier event of c's own section (which keeps its place: within a section
// the loop's order decides).
bool OverlappingRows(const GuideServiceTable& t, const ScheduleEventRef& c, int32_t& first, int32_t& last,
                     GuideTurnWork& work) {
    first = last = 0;
    if (!c.startDetermined) return true;
    first = FirstFiledEndingAfter(t, c.start);
    last = first;
    const int64_t end = EndOf(c);
    while (last < t.listCount && AtRow(t, last).startDetermined && AtRow(t, last).start < end) {
        ++work.rowsScanned;
        if (AtRow(t, last).slot == c.slot) return false;
        ++last;
    }
    return true;
}

// One event of the section filed last: it displaces what it conflicts
// with. True when the list changed.
bool Offer(GuideServiceTable& t, const ScheduleEventRef& c, GuideTurnWork& work) {
    const int16_t same = EntryOfEvent(t, c.eventId);
    if (same >= 0 && t.list[same].slot == c.slot) return false;  // twice in one section: the first stays
    int32_t first = 0;
    int32_t last = 0;
    if (!OverlappingRows(t, c, first, last, work)) return false;
    bool changed = false;
    if (same >= 0) {
        RemoveRow(t, RowFor(t, t.list[same]));
        changed = true;
        OverlappingRows(t, c, first, last, work);
    }
    for (int32_t row = last - 1; row >= first; --row) {
        RemoveRow(t, row);
        changed = true;
    }
    if (t.listCount >= kScheduleEventsEightDays) {
        // Full: the latest programme goes (the present one keeps its place),
        // when the newcomer starts before it.
        int32_t latest = -1;
        for (int32_t row = t.listCount - 1; row >= 0; --row) {
            ++work.rowsScanned;
            if (!AtRow(t, row).present) {
                latest = row;
                break;
            }
        }
        if (latest < 0 || !Earlier(c, AtRow(t, latest))) return changed;
        RemoveRow(t, latest);
    }
    InsertRow(t, c);
    return true;
}

// The list slot of a section (present, following or basic schedule), or
// kScheduleNoSlot for one whose events are not listed (extended).
int32_t ListedSlotOf(const uint8_t* section) {
    const uint8_t tableId = section[0];
    const uint8_t number = section[6];
    if (IsPresentFollowingTable(tableId)) {
        if (number > 1) return kScheduleNoSlot;
        return number == 0 ? kScheduleSlotPresent : kScheduleSlotFollowing;
    }
    if (tableId < kScheduleFirstTableId || tableId > kEitScheduleLast) return kScheduleNoSlot;
    const int32_t index = (tableId - kScheduleFirstTableId) & 0x0F;  // other stream shares the actual slots
    if (index >= kScheduleTablesPerKind) return kScheduleNoSlot;
    return index * kScheduleSectionsPerTable + number;
}

// The time a listed programme took in the list: its duration, or for an
// undetermined one as long as it may run. False for an undetermined start,
// which took no time.
bool TakenTime(const ScheduleEventRef& ref, int64_t& start, int64_t& end) {
    if (!ref.startDetermined) return false;
    start = ref.start;
    end = ref.start + (ref.durationDetermined ? (ref.duration > 0 ? ref.duration : 1) : kUndeterminedRunSeconds);
    return true;
}

// An event that fills a gap only: listed when its id is not listed and it
// conflicts with nothing listed, so it never displaces a newer section's
// programme.
bool Fill(GuideServiceTable& t, const ScheduleEventRef& c, GuideTurnWork& work) {
    if (EntryOfEvent(t, c.eventId) >= 0 || t.listCount >= kScheduleEventsEightDays) return false;
    int32_t first = 0;
    int32_t last = 0;
    if (!OverlappingRows(t, c, first, last, work) || first != last) return false;
    InsertRow(t, c);
    return true;
}

// The present or following event of an older version left the time
// [from, to): the schedule's programmes it displaced there come back.
// A present/following section changes once a programme, and its event
// displaced only programmes of its own time, so only the held basic
// schedule sections' events of that time are offered, each to fill a gap.
bool RefillFromSchedule(GuideServiceTable& t, int64_t from, int64_t to, GuideTurnWork& work) {
    const EitScheduleService& s = t.schedule;
    const int32_t firstExtended = kScheduleTablesPerKind * kScheduleSectionsPerTable;
    bool changed = false;
    for (int32_t i = 0; i < s.heldCount; ++i) {
        const int32_t slot = s.order[i];
        if (slot >= firstExtended) continue;
        int32_t size = 0;
        const uint8_t* section = ScheduleSection(s, slot, size);
        if (section == nullptr) continue;
        EitEventCursor cursor(section, size);
        EitEventEntry e;
        while (cursor.Next(e)) {
            ++work.events;
            const ScheduleEventRef ref = ScheduleEventOf(e, slot, slot == kScheduleSlotPresent);
            int64_t start = 0;
            int64_t end = 0;
            if (!TakenTime(ref, start, end) || end <= from || start >= to) continue;
            changed = Fill(t, ref, work) || changed;
        }
    }
    return changed;
}

// A section stored in (or dropped from) `slot`: its older version's events
// leave the list, its own events enter it. True when the list changed.
bool ListSection(GuideServiceTable& t, int32_t slot, GuideTurnWork& work) {
    bool changed = false;
    int32_t kept = 0;
    const bool pf = slot >= kScheduleSlotPresent;
    // The time the older present/following event took (one event).
    bool vacated = false;
    int64_t vacatedFrom = 0;
    int64_t vacatedTo = 0;
    for (int32_t row = 0; row < t.listCount; ++row) {
        const uint16_t entry = t.rows[row];
        if (t.list[entry].slot == slot) {
            if (pf) vacated = TakenTime(t.list[entry], vacatedFrom, vacatedTo);
            FreeEntry(t, entry);
            changed = true;
        } else {
            t.rows[kept++] = entry;
        }
    }
    work.rowsScanned += t.listCount;
    t.listCount = kept;
    int32_t size = 0;
    const uint8_t* section = ScheduleSection(t.schedule, slot, size);
    if (section != nullptr) {
        EitEventCursor cursor(section, size);
        EitEventEntry e;
        while (cursor.Next(e)) {
            ++work.events;
            changed = Offer(t, ScheduleEventOf(e, slot, slot == kScheduleSlotPresent), work) || changed;
            if (pf) break;  // a present or following section carries one event
        }
    }
    if (vacated) changed = RefillFromSchedule(t, vacatedFrom, vacatedTo, work) || changed;
    return changed;
}

// How far ahead a schedule slot's segment lies: table (0-7) * 32 + segment
// (three hours each from midnight of the clock's day); -1 for
// present/following, which is always the nearest.
int32_t SegmentOfSlot(int32_t slot) {
    if (slot < 0 || slot >= kScheduleSlotPresent) return -1;
    const int32_t table = (slot / kScheduleSectionsPerTable) % kScheduleTablesPerKind;
    const int32_t number = slot % kScheduleSectionsPerTable;
    return table * kScheduleSegmentsPerTable + number / kScheduleSectionsPerSegment;
}

int32_t SegmentOfSection(const uint8_t* section) {
    const uint8_t tableId = section[0];
    if (tableId < kScheduleFirstTableId || tableId > kEitScheduleLast) return -1;
    const int32_t table = ((tableId - kScheduleFirstTableId) & 0x0F) % kScheduleTablesPerKind;
    return table * kScheduleSegmentsPerTable + section[6] / kScheduleSectionsPerSegment;
}

void DropSection(GuideServiceTable& t, int32_t slot, GuideTurnWork& work) {
    DropScheduleSection(t.schedule, slot);
    ListSection(t, slot, work);
}

// The pool is full: the sections whose programmes have all ended go first
// (segments before the clock's three-hour slot), then, one by one, the
// furthest held while it lies further than `section`. The section is
// added again after each. Returns what the last add gave.
ScheduleAddResult AddMakingRoom(GuideServiceTable& t, const uint8_t* section, int32_t length, int64_t clock,
                                GuideTurnWork& work) {
    ScheduleAddResult result = AddScheduleSection(t.schedule, section, length);
    if (result != ScheduleAddResult::kNoRoom) return result;
    if (clock >= 0) {
        const int32_t current = static_cast<int32_t>((clock % kDaySeconds) / kScheduleSegmentSeconds);
        bool dropped = false;
        for (int32_t i = t.schedule.heldCount - 1; i >= 0; --i) {
            if (i >= t.schedule.heldCount) continue;
            const int32_t slot = t.schedule.order[i];
            const int32_t segment = SegmentOfSlot(slot);
            if (segment >= 0 && segment < current) {
                DropSection(t, slot, work);
                dropped = true;
            }
        }
        if (dropped) {
            result = AddScheduleSection(t.schedule, section, length);
            if (result != ScheduleAddResult::kNoRoom) return result;
        }
    }
    const int32_t own = SegmentOfSection(section);
    for (;;) {
        int32_t furthest = kScheduleNoSlot;
        int32_t furthestSegment = own;
        for (int32_t i = 0; i < t.schedule.heldCount; ++i) {
            const int32_t slot = t.schedule.order[i];
            const int32_t segment = SegmentOfSlot(slot);
            if (segment > furthestSegment) {
                furthest = slot;
                furthestSegment = segment;
            }
        }
        if (furthest == kScheduleNoSlot) return result;
        DropSection(t, furthest, work);
        result = AddScheduleSection(t.schedule, section, length);
        if (result != ScheduleAddResult::kNoRoom) return result;
    }
}

}  // namespace

// Verifies and files one whole section into a started table.
ScheduleAddResult FileSection(GuideStore& g, GuideServiceTable& t, const uint8_t* section, int32_t length) {
    if (length < kScheduleHeaderSize || length > kMaxSectionSize) return ScheduleAddResult::kIgnored;
    if (SectionLength(section) + kSectionHeaderSize != length) return ScheduleAddResult::kIgnored;
    if (Crc32Mpeg2(section, static_cast<size_t>(length)) != 0) return ScheduleAddResult::kIgnored;
    const ScheduleAddResult result = AddMakingRoom(t, section, length, g.clockNow, g.lastTurn);
    if (result == ScheduleAddResult::kStored) {
        const int32_t slot = ListedSlotOf(section);
        if (slot != kScheduleNoSlot) ListSection(t, slot, g.lastTurn);
        // Extended items too change what the details show.
        ++t.revision;
        ++g.revision;
    }
    return result;
}

namespace {

}  // namespace
