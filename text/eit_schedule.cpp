#include "text/eit_schedule.h"

#include <cstring>

#include "ts/calendar.h"
#include "ts/section.h"

namespace {

// Kind and table index of a schedule table id; false for p/f.
bool ScheduleTableOf(uint8_t tableId, int32_t& kind, int32_t& table) {
    if (tableId < kEitScheduleActualFirst || tableId > kEitLastTableId) return false;
    const int32_t index = (tableId - kEitScheduleActualFirst) & 0x0F;  // other stream shares the actual slots
    kind = index / kScheduleTablesPerKind;
    table = index % kScheduleTablesPerKind;
    return true;
}

int32_t SlotOf(int32_t kind, int32_t table, int32_t section) {
    return (kind * kScheduleTablesPerKind + table) * kScheduleSectionsPerTable + section;
}

void ReleaseSlot(EitScheduleService& s, int32_t slot) {
    if (s.slots[slot].size == 0) return;
    s.slots[slot].size = 0;
    for (int32_t i = 0; i < s.heldCount; ++i) {
        if (s.order[i] == slot) {
            std::memmove(&s.order[i], &s.order[i + 1], static_cast<size_t>(s.heldCount - i - 1) * sizeof s.order[0]);
            --s.heldCount;
            break;
        }
    }
    if (s.heldCount == 0) {
        s.poolUsed = 0;
    } else {
        const ScheduleSectionSlot& last = s.slots[s.order[s.heldCount - 1]];
        s.poolUsed = static_cast<int32_t>(last.offset) + last.size;
    }
}

// Moves the held sections down to close the gaps (pool order is kept).
void Compact(EitScheduleService& s) {
    uint32_t at = 0;
    for (int32_t i = 0; i < s.heldCount; ++i) {
        ScheduleSectionSlot& slot = s.slots[s.order[i]];
        if (slot.offset != at) std::memmove(s.pool + at, s.pool + slot.offset, slot.size);
        slot.offset = at;
        at += slot.size;
    }
    s.poolUsed = static_cast<int32_t>(at);
}

// Stores the bytes in `slot`, replacing what it held. False when they do not
// fit (the held copy then stays).
bool Store(EitScheduleService& s, int32_t slot, const uint8_t* section, int32_t size, uint8_t version) {
    const int32_t heldSize = s.slots[slot].size;
    if (s.poolCapacity - s.poolUsed < size) {
        // Everything else held, compacted, plus this one: does it fit?
        int32_t live = 0;
        for (int32_t i = 0; i < s.heldCount; ++i) live += s.slots[s.order[i]].size;
        if (s.poolCapacity - (live - heldSize) < size) return false;
        ReleaseSlot(s, slot);
        Compact(s);
    } else {
        ReleaseSlot(s, slot);
    }
    ScheduleSectionSlot& target = s.slots[slot];
    target.offset = static_cast<uint32_t>(s.poolUsed);
    target.size = static_cast<uint16_t>(size);
    target.version = version;
    target.sequence = ++s.sequence;
    std::memcpy(s.pool + s.poolUsed, section, static_cast<size_t>(size));
    s.poolUsed += size;
    s.order[s.heldCount++] = static_cast<uint16_t>(slot);
    return true;
}

bool SameBytes(const EitScheduleService& s, int32_t slot, const uint8_t* section, int32_t size) {
    const ScheduleSectionSlot& held = s.slots[slot];
    return held.size == size && std::memcmp(s.pool + held.offset, section, static_cast<size_t>(size)) == 0;
}

// The clock's three-hour slot counted from midnight of its day, as a
// segment index within a kind (table * 32 + segment); -1 without a clock.
int32_t CurrentSegment(int64_t clock) {
    if (clock < 0) return -1;
    return SecondOfDay(clock) / kScheduleSegmentSeconds;
}

// Sections of one segment waited for and held; `skip` counts none.
void SegmentCounts(const EitScheduleService& s, int32_t kind, int32_t table, int32_t segment, int32_t& expected,
                   int32_t& held) {
    expected = 0;
    held = 0;
    const ScheduleTableState& t = s.tables[kind][table];
    const int32_t first = segment * kScheduleSectionsPerSegment;
    int32_t last = first;  // nothing known of it: its first section at least
    if (t.segmentSeen[segment]) {
        last = t.segmentLast[segment];
        if (last < first || last >= first + kScheduleSectionsPerSegment) last = first + kScheduleSectionsPerSegment - 1;
    }
    if (t.seen && last > t.lastSectionNumber) last = t.lastSectionNumber;
    for (int32_t n = first; n <= last; ++n) {
        ++expected;
        if (s.slots[SlotOf(kind, table, n)].size != 0) ++held;
    }
}

// Whether the segment is waited for at all.
bool SegmentWaited(const EitScheduleService& s, int32_t kind, int32_t table, int32_t segment, int64_t clock) {
    if (!s.lastTableKnown[kind] || table > s.lastTableId[kind]) return false;
    const ScheduleTableState& t = s.tables[kind][table];
    if (t.seen && segment * kScheduleSectionsPerSegment > t.lastSectionNumber) return false;
    const int32_t now = CurrentSegment(clock);
    return !(now >= 0 && table * kScheduleSegmentsPerTable + segment < now);
}

// Events of one section into the list, as the priorities allow.
struct ListBuilder {
    ScheduleEventRef* refs;
    int32_t capacity;
    int32_t count;
};

bool Overlaps(const ScheduleEventRef& a, const ScheduleEventRef& b) {
    if (!a.startDetermined || !b.startDetermined) return false;
    const int64_t aEnd = a.start + (a.durationDetermined && a.duration > 0 ? a.duration : 1);
    const int64_t bEnd = b.start + (b.durationDetermined && b.duration > 0 ? b.duration : 1);
    return a.start < bEnd && b.start < aEnd;
}

bool Earlier(const ScheduleEventRef& a, const ScheduleEventRef& b) {
    if (a.startDetermined != b.startDetermined) return a.startDetermined;
    if (a.startDetermined && a.start != b.start) return a.start < b.start;
    return a.eventId < b.eventId;
}

void Offer(ListBuilder& list, const ScheduleEventRef& candidate) {
    for (int32_t i = 0; i < list.count; ++i) {
        if (list.refs[i].eventId == candidate.eventId) return;  // an earlier source has it
        if (Overlaps(list.refs[i], candidate)) return;          // the newer one stays
    }
    if (list.count < list.capacity) {
        list.refs[list.count++] = candidate;
        return;
    }
    // Full: the candidate takes the place of the latest one kept when it
    // starts earlier (the present event keeps its place).
    int32_t latest = -1;
    for (int32_t i = 0; i < list.count; ++i) {
        if (list.refs[i].present) continue;
        if (latest < 0 || Earlier(list.refs[latest], list.refs[i])) latest = i;
    }
    if (latest >= 0 && Earlier(candidate, list.refs[latest])) list.refs[latest] = candidate;
}

void OfferSection(const EitScheduleService& s, int32_t slot, bool present, ListBuilder& list) {
    int32_t size = 0;
    const uint8_t* section = ScheduleSection(s, slot, size);
    if (section == nullptr) return;
    EitEventCursor cursor(section, size);
    EitEventEntry e;
    while (cursor.Next(e)) {
        Offer(list, ScheduleEventOf(e, slot, present));
        if (present) break;  // the present section carries one event
    }
}


}  // namespace

void InitScheduleService(EitScheduleService& service, uint8_t* pool, int32_t capacity) {
    std::memset(&service, 0, sizeof service);
    service.pool = pool;
    service.poolCapacity = pool != nullptr && capacity > 0 ? capacity : 0;
}

ScheduleAddResult AddScheduleSection(EitScheduleService& s, const uint8_t* section, int32_t size) {
    EitSectionHeader h;
    if (!ReadEitSectionHeader(section, size, h) || !h.currentNext) return ScheduleAddResult::kIgnored;
    size = SectionLength(section) + kSectionHeaderSize;
    if (s.bound && (h.originalNetworkId != s.originalNetworkId || h.transportStreamId != s.transportStreamId ||
                    h.serviceId != s.serviceId)) {
        return ScheduleAddResult::kIgnored;
    }
    int32_t slot = kScheduleNoSlot;
    int32_t kind = 0;
    int32_t table = 0;
    const bool schedule = ScheduleTableOf(h.tableId, kind, table);
    if (schedule) {
        slot = SlotOf(kind, table, h.sectionNumber);
    } else if (h.sectionNumber <= 1) {
        slot = h.sectionNumber == 0 ? kScheduleSlotPresent : kScheduleSlotFollowing;
    } else {
        return ScheduleAddResult::kIgnored;
    }
    if (!s.bound) {
        s.bound = true;
        s.originalNetworkId = h.originalNetworkId;
        s.transportStreamId = h.transportStreamId;
        s.serviceId = h.serviceId;
    }
    if (schedule) {
        // The map follows the section received last, whatever its version.
        const int32_t lastTable = (h.lastTableId - kEitScheduleActualFirst) & 0x0F;
        if (h.lastTableId >= kEitScheduleActualFirst && lastTable / kScheduleTablesPerKind == kind) {
            s.lastTableKnown[kind] = true;
            s.lastTableId[kind] = static_cast<uint8_t>(lastTable % kScheduleTablesPerKind);
        }
        ScheduleTableState& t = s.tables[kind][table];
        t.seen = true;
        t.lastSectionNumber = h.lastSectionNumber;
        const int32_t segment = h.sectionNumber / kScheduleSectionsPerSegment;
        t.segmentSeen[segment] = true;
        t.segmentLast[segment] = h.segmentLastSectionNumber;
    }
    if (SameBytes(s, slot, section, size)) return ScheduleAddResult::kUnchanged;
    if (!Store(s, slot, section, size, h.version)) {
        ++s.refusedSections;
        return ScheduleAddResult::kNoRoom;
    }
    return ScheduleAddResult::kStored;
}

void DropScheduleSection(EitScheduleService& s, int32_t slot) {
    if (slot < 0 || slot >= kScheduleSlots) return;
    ReleaseSlot(s, slot);
}

const uint8_t* ScheduleSection(const EitScheduleService& service, int32_t slot, int32_t& size) {
    size = 0;
    if (slot < 0 || slot >= kScheduleSlots || service.slots[slot].size == 0) return nullptr;
    size = service.slots[slot].size;
    return service.pool + service.slots[slot].offset;
}

bool ScheduleSegmentComplete(const EitScheduleService& s, int32_t kind, int32_t table, int32_t segment,
                             int64_t clock) {
    if (kind < 0 || kind >= kScheduleKinds || table < 0 || table >= kScheduleTablesPerKind || segment < 0 ||
        segment >= kScheduleSegmentsPerTable) {
        return false;
    }
    if (!SegmentWaited(s, kind, table, segment, clock)) return s.lastTableKnown[kind];
    int32_t expected = 0;
    int32_t held = 0;
    SegmentCounts(s, kind, table, segment, expected, held);
    return held == expected;
}

ScheduleProgress ScheduleKindProgress(const EitScheduleService& s, int32_t kind, int64_t clock) {
    ScheduleProgress p = {0, 0, false};
    if (kind < 0 || kind >= kScheduleKinds || !s.lastTableKnown[kind]) return p;
    for (int32_t table = 0; table <= s.lastTableId[kind]; ++table) {
        for (int32_t segment = 0; segment < kScheduleSegmentsPerTable; ++segment) {
            if (!SegmentWaited(s, kind, table, segment, clock)) continue;
            int32_t expected = 0;
            int32_t held = 0;
            SegmentCounts(s, kind, table, segment, expected, held);
            p.expectedSections += expected;
            p.heldSections += held;
        }
    }
    p.complete = p.heldSections == p.expectedSections;
    return p;
}

bool ScheduleComplete(const EitScheduleService& s, int64_t clock) {
    if (!ScheduleKindProgress(s, 0, clock).complete) return false;
    return !s.lastTableKnown[1] || ScheduleKindProgress(s, 1, clock).complete;
}

bool ScheduleEventEnd(const ScheduleEventRef& ref, const ScheduleEventRef* next, int64_t& end) {
    end = 0;
    if (!ref.startDetermined) return false;
    const bool hasNext = next != nullptr && next->startDetermined;
    end = EitProgrammeEnd(ref.start, ref.durationDetermined, ref.duration, hasNext, hasNext ? next->start : 0);
    return true;
}

int32_t ListScheduleEvents(const EitScheduleService& s, ScheduleEventRef* refs, int32_t capacity) {
    if (refs == nullptr || capacity <= 0) return 0;
    // Sources by priority: present, following, then the basic schedule
    // sections newest first. The list holds up to `capacity` entries while
    // it is built, so an event beyond it is judged against what was kept.
    ListBuilder list = {refs, capacity, 0};
    OfferSection(s, kScheduleSlotPresent, true, list);
    OfferSection(s, kScheduleSlotFollowing, false, list);
    uint32_t below = 0xFFFFFFFFu;
    for (;;) {
        // The next newest basic section (held sections are few: a linear
        // pick per section keeps this free of any sort buffer).
        int32_t best = kScheduleNoSlot;
        uint32_t bestSequence = 0;
        for (int32_t i = 0; i < s.heldCount; ++i) {
            const int32_t slot = s.order[i];
            if (slot >= kScheduleTablesPerKind * kScheduleSectionsPerTable) continue;  // extended or p/f
            const uint32_t q = s.slots[slot].sequence;
            if (q < below && q > bestSequence) {
                best = slot;
                bestSequence = q;
            }
        }
        if (best == kScheduleNoSlot) break;
        OfferSection(s, best, false, list);
        below = bestSequence;
    }
    // Extended items: the newest extended section holding the event.
    for (int32_t i = 0; i < s.heldCount; ++i) {
        const int32_t slot = s.order[i];
        if (slot < kScheduleTablesPerKind * kScheduleSectionsPerTable || slot >= kScheduleSlotPresent) continue;
        int32_t size = 0;
        const uint8_t* section = ScheduleSection(s, slot, size);
        EitEventCursor cursor(section, size);
        EitEventEntry e;
        while (cursor.Next(e)) {
            for (int32_t k = 0; k < list.count; ++k) {
                ScheduleEventRef& ref = refs[k];
                if (ref.eventId != e.eventId) continue;
                if (ref.extendedSlot == kScheduleNoSlot ||
                    s.slots[ref.extendedSlot].sequence < s.slots[slot].sequence) {
                    ref.extendedSlot = slot;
                    ref.extendedOffset = e.offset;
                }
            }
        }
    }
    // Start order: an insertion sort, the list being nearly sorted already.
    for (int32_t i = 1; i < list.count; ++i) {
        const ScheduleEventRef moving = refs[i];
        int32_t j = i;
        while (j > 0 && Earlier(moving, refs[j - 1])) {
            refs[j] = refs[j - 1];
            --j;
        }
        refs[j] = moving;
    }
    return list.count;
}

bool ReadScheduleEvent(const EitScheduleService& s, const ScheduleEventRef& ref, EitEventRecord& record) {
    int32_t size = 0;
    const uint8_t* section = ScheduleSection(s, ref.slot, size);
    EitSectionHeader h;
    EitEventEntry e;
    if (section == nullptr || !ReadEitSectionHeader(section, size, h) ||
        !ReadEitEventAt(section, size, ref.offset, e) || e.eventId != ref.eventId) {
        return false;
    }
    ReadEitEvent(h, e, record);
    const uint8_t* extended = ScheduleSection(s, ref.extendedSlot, size);
    if (extended != nullptr && ReadEitEventAt(extended, size, ref.extendedOffset, e) && e.eventId == ref.eventId) {
        AddEitExtendedEvent(e.descriptors, e.descriptorsLength, record);
    }
    return true;
}

void InitScheduleSet(EitScheduleSet& set, EitScheduleService* services, int32_t capacity, uint8_t* pools,
                     int32_t poolSize) {
    set.services = services;
    set.pools = pools;
    set.poolSize = poolSize;
    set.capacity = services != nullptr && pools != nullptr && capacity > 0 ? capacity : 0;
    set.count = 0;
    set.refusedServices = 0;
}

ScheduleAddResult AddScheduleSetSection(EitScheduleSet& set, const uint8_t* section, int32_t size) {
    EitSectionHeader h;
    if (!ReadEitSectionHeader(section, size, h)) return ScheduleAddResult::kIgnored;
    for (int32_t i = 0; i < set.count; ++i) {
        const EitScheduleService& s = set.services[i];
        if (s.originalNetworkId == h.originalNetworkId && s.transportStreamId == h.transportStreamId &&
            s.serviceId == h.serviceId) {
            return AddScheduleSection(set.services[i], section, size);
        }
    }
    if (set.count >= set.capacity) {
        ++set.refusedServices;
        return ScheduleAddResult::kNoRoom;
    }
    EitScheduleService& fresh = set.services[set.count];
    InitScheduleService(fresh, set.pools + static_cast<size_t>(set.count) * static_cast<size_t>(set.poolSize),
                        set.poolSize);
    const ScheduleAddResult result = AddScheduleSection(fresh, section, size);
    if (fresh.bound) ++set.count;
    return result;
}

ScheduleEventRef ScheduleEventOf(const EitEventEntry& e, int32_t slot, bool present) {
    ScheduleEventRef ref;
    ref.eventId = e.eventId;
    ref.startDetermined = DecodeEitStart(e.startTime, ref.start);
    ref.durationDetermined = DecodeEitDuration(e.duration, ref.duration);
    ref.slot = slot;
    ref.offset = e.offset;
    ref.extendedSlot = kScheduleNoSlot;
    ref.extendedOffset = 0;
    ref.present = present;
    return ref;
}
