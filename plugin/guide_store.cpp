#include "plugin/guide_store.h"

#include <cstring>
#include <mutex>

#include "plugin/messages.h"
#include "plugin/plugin_state.h"
#include "plugin/section_handover.h"
#include "plugin/section_mailbox.h"
#include "ts/crc32.h"
#include "ts/psi_reader.h"

namespace {

const int64_t kSecondsPerDay = 86400;

int32_t Bcd(uint8_t b) { return (b >> 4) * 10 + (b & 0x0F); }
bool BcdValid(uint8_t b, int32_t limit) { return (b >> 4) <= 9 && (b & 0x0F) <= 9 && Bcd(b) < limit; }

// The packet path asks this before it copies a section: false for one held
// in the same version.
bool SectionWanted(const void* context, uint8_t tableId, uint8_t sectionNumber, uint8_t version) {
    const GuideStore& store = *static_cast<const GuideStore*>(context);
    return store.heldVersion[tableId - kScheduleFirstTableId][sectionNumber] != version;
}

struct SinkContext {
    PluginState& state;
};

void HandOverSection(void* context, const uint8_t* section, int32_t length) {
    PluginState& s = static_cast<SinkContext*>(context)->state;
    GuideStore& g = s.guide;
    if (g.slotCount == kGuideHandOverSlots) {
        ++g.droppedSections;
        return;
    }
    const int32_t slot = (g.firstSlot + g.slotCount) % kGuideHandOverSlots;
    std::memcpy(g.slots[slot], section, static_cast<size_t>(length));
    g.slotLengths[slot] = length;
    ++g.slotCount;
    // One message for a run of sections: the handler takes them all.
    if (g.slotCount == 1) s.platform->PostToWindow(WM_GUIDE_READY);
}

bool IsExtended(uint8_t tableId) { return tableId >= kScheduleFirstExtendedTableId; }

void ClearEvents(GuideStore& g) {
    g.eventCount = 0;
    g.poolUsed = 0;
    ++g.revision;
}

bool Overlaps(const GuideEvent& a, const GuideEvent& b) {
    if (!a.startKnown || !b.startKnown || !a.durationKnown || !b.durationKnown) return false;
    return a.start < b.start + b.duration && b.start < a.start + a.duration;
}

bool StartsBefore(const GuideEvent& a, const GuideEvent& b) {
    if (a.startKnown != b.startKnown) return a.startKnown;
    return a.startKnown && a.start < b.start;
}

void RemoveAt(GuideStore& g, int32_t i) {
    std::memmove(&g.events[i], &g.events[i + 1], sizeof(GuideEvent) * static_cast<size_t>(g.eventCount - i - 1));
    --g.eventCount;
}

// Moves the event at i to its place by start.
int32_t Resort(GuideStore& g, int32_t i) {
    const GuideEvent e = g.events[i];
    RemoveAt(g, i);
    int32_t at = g.eventCount;
    while (at > 0 && StartsBefore(e, g.events[at - 1])) --at;
    std::memmove(&g.events[at + 1], &g.events[at], sizeof(GuideEvent) * static_cast<size_t>(g.eventCount - at));
    g.events[at] = e;
    ++g.eventCount;
    return at;
}

// Rewrites the pool with only the loops still referred to.
void CompactPool(GuideStore& g) {
    // Loops are moved down in pool order, so walk them by offset.
    int32_t used = 0;
    for (;;) {
        int32_t* nextOffset = nullptr;
        int32_t nextLength = 0;
        for (int32_t i = 0; i < g.eventCount; ++i) {
            GuideEvent& e = g.events[i];
            if (e.basicLength > 0 && e.basicOffset >= used && (nextOffset == nullptr || e.basicOffset < *nextOffset)) {
                nextOffset = &e.basicOffset;
                nextLength = e.basicLength;
            }
            if (e.extendedLength > 0 && e.extendedOffset >= used &&
                (nextOffset == nullptr || e.extendedOffset < *nextOffset)) {
                nextOffset = &e.extendedOffset;
                nextLength = e.extendedLength;
            }
        }
        if (nextOffset == nullptr) break;
        std::memmove(g.pool + used, g.pool + *nextOffset, static_cast<size_t>(nextLength));
        *nextOffset = used;
        used += nextLength;
    }
    g.poolUsed = used;
}

// Makes room for one more event, or returns false when `incoming` would be
// the one to go (it starts after every stored one).
bool RoomForEvent(GuideStore& g, const GuideEvent& incoming, int64_t now) {
    if (g.eventCount < kGuideEventCapacity) return true;
    for (int32_t i = 0; i < g.eventCount; ++i) {
        const GuideEvent& e = g.events[i];
        if (now >= 0 && e.startKnown && e.durationKnown && e.start + e.duration <= now) {
            RemoveAt(g, i);
            ++g.droppedEvents;
            return true;
        }
    }
    if (!StartsBefore(incoming, g.events[g.eventCount - 1])) {
        ++g.droppedEvents;
        return false;
    }
    RemoveAt(g, g.eventCount - 1);
    ++g.droppedEvents;
    return true;
}

// Copies a descriptor loop into the pool; -1 when it does not fit even
// after compaction and dropping the latest events. `keep` (the event being
// filled) stays, and follows when an event before it goes.
int32_t StoreLoop(GuideStore& g, const uint8_t* loop, int32_t length, int32_t& keep) {
    if (length > kGuidePoolBytes) return -1;
    if (kGuidePoolBytes - g.poolUsed < length) CompactPool(g);
    while (kGuidePoolBytes - g.poolUsed < length && g.eventCount > 1) {
        const int32_t last = g.eventCount - 1 == keep ? g.eventCount - 2 : g.eventCount - 1;
        RemoveAt(g, last);
        if (last < keep) --keep;
        ++g.droppedEvents;
        CompactPool(g);
    }
    if (kGuidePoolBytes - g.poolUsed < length) return -1;
    std::memcpy(g.pool + g.poolUsed, loop, static_cast<size_t>(length));
    g.poolUsed += length;
    return g.poolUsed - length;
}

// Forgets what an earlier version of this section filed: the part it gave
// each event; an event left with no part goes.
void ForgetSectionPart(GuideStore& g, uint8_t tableId, uint8_t sectionNumber) {
    const bool extended = IsExtended(tableId);
    for (int32_t i = g.eventCount - 1; i >= 0; --i) {
        GuideEvent& e = g.events[i];
        if (extended && e.extendedTable == tableId && e.extendedSection == sectionNumber) {
            e.extendedTable = 0;
            e.extendedLength = 0;
        } else if (!extended && e.basicTable == tableId && e.basicSection == sectionNumber) {
            e.basicTable = 0;
            e.basicLength = 0;
        } else {
            continue;
        }
        if (e.basicTable == 0 && e.extendedTable == 0) RemoveAt(g, i);
    }
}

}  // namespace

void ForgetServiceGuide(PluginState& s) {
    ResetLowerLayerEit(s.mediumEit);
    ResetLowerLayerEit(s.lowEit);
    GuideStore& g = s.guide;
    ResetScheduleAssembler(g.assembler);
    g.firstSlot = 0;
    g.slotCount = 0;
    std::memset(g.heldVersion, kNoVersion, sizeof g.heldVersion);
    ++g.generation;
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

int64_t BroadcastNow(const PluginState& s) {
    if (s.tickCount < 0 || s.clockMjd < 0) return -1;
    return static_cast<int64_t>(s.clockMjd) * kSecondsPerDay + s.clockHour * 3600 + s.clockMinute * 60 +
           s.clockSecond + s.tickCount;
}

bool TakeGuideSections(PluginState& s) {
    GuideStore& g = s.guide;
    bool changed = false;
    for (;;) {
        SectionCopy copy;
        uint32_t generation;
        int64_t now;
        {
            std::lock_guard<std::mutex> guard(s.lock);
            generation = g.generation;
            now = BroadcastNow(s);
            if (g.slotCount == 0) copy.length = 0;
            else {
                const int32_t length = g.slotLengths[g.firstSlot];
                copy.length = length > 0 && length <= kMaxSectionSize ? length : 0;
                std::memcpy(copy.data, g.slots[g.firstSlot], static_cast<size_t>(copy.length));
                g.firstSlot = (g.firstSlot + 1) % kGuideHandOverSlots;
                --g.slotCount;
            }
        }
        if (g.filedGeneration != generation) {
            ClearEvents(g);
            g.filedGeneration = generation;
            changed = true;
        }
        if (copy.length == 0) break;
        if (!FileScheduleSection(g, copy.data, copy.length, now)) continue;
        changed = true;
        // Held from now on, unless the service changed meanwhile (the map
        // was cleared for the new one then).
        std::lock_guard<std::mutex> guard(s.lock);
        if (g.generation == generation) {
            const uint8_t version = static_cast<uint8_t>((copy.data[5] >> 1) & 0x1F);
            g.heldVersion[copy.data[0] - kScheduleFirstTableId][copy.data[6]] = version;
        }
    }
    return changed;
}

bool FileScheduleSection(GuideStore& g, const uint8_t* section, int32_t length, int64_t now) {
    if (length < kSectionHeaderSize + kScheduleMinimumLength || length > kMaxSectionSize) return false;
    if (SectionLength(section) + kSectionHeaderSize != length) return false;
    if (Crc32Mpeg2(section, static_cast<size_t>(length)) != 0) return false;
    const uint8_t tableId = section[0];
    if (tableId < kScheduleFirstTableId || tableId > kScheduleLastTableId) return false;
    const uint8_t sectionNumber = section[6];
    const bool extended = IsExtended(tableId);

    ForgetSectionPart(g, tableId, sectionNumber);
    PsiReader r(section, length - kCrcSize);
    r.Skip(14);  // through last_table_id
    while (!r.AtEnd()) {
        GuideEvent e;
        std::memset(&e, 0, sizeof e);
        e.eventId = r.U16();
        const uint16_t mjd = r.U16();
        const uint8_t h = r.U8(), m = r.U8(), sec = r.U8();
        const uint8_t dh = r.U8(), dm = r.U8(), ds = r.U8();
        PsiReader loop = r.Enter(r.Length12());
        if (r.Error()) break;
        e.startKnown = !(mjd == 0xFFFF && h == 0xFF && m == 0xFF && sec == 0xFF) && BcdValid(h, 24) &&
                       BcdValid(m, 60) && BcdValid(sec, 60);
        e.start = e.startKnown ? static_cast<int64_t>(mjd) * kSecondsPerDay + Bcd(h) * 3600 + Bcd(m) * 60 + Bcd(sec) : 0;
        e.durationKnown = BcdValid(dh, 100) && BcdValid(dm, 60) && BcdValid(ds, 60);
        e.duration = e.durationKnown ? Bcd(dh) * 3600 + Bcd(dm) * 60 + Bcd(ds) : 0;

        int32_t at = -1;
        for (int32_t i = 0; i < g.eventCount; ++i) {
            if (g.events[i].eventId == e.eventId) at = i;
        }
        if (at < 0) {
            // A new event: those it overlaps were moved or cancelled.
            for (int32_t i = g.eventCount - 1; i >= 0; --i) {
                if (Overlaps(g.events[i], e)) {
                    RemoveAt(g, i);
                }
            }
            if (!RoomForEvent(g, e, now)) continue;
            g.events[g.eventCount] = e;
            at = g.eventCount++;
        } else {
            GuideEvent& old = g.events[at];
            old.startKnown = e.startKnown;
            old.start = e.start;
            old.durationKnown = e.durationKnown;
            old.duration = e.duration;
            // The updated times may now overlap other events: they go.
            for (int32_t i = g.eventCount - 1; i >= 0; --i) {
                if (i != at && Overlaps(g.events[i], g.events[at])) {
                    RemoveAt(g, i);
                    if (i < at) --at;
                }
            }
        }
        at = Resort(g, at);
        const int32_t offset = StoreLoop(g, loop.Current(), loop.Remaining(), at);
        // StoreLoop may have dropped events after `at`; `at` stays valid.
        GuideEvent& target = g.events[at];
        if (offset < 0) continue;
        if (extended) {
            target.extendedOffset = offset;
            target.extendedLength = loop.Remaining();
            target.extendedTable = tableId;
            target.extendedSection = sectionNumber;
        } else {
            target.basicOffset = offset;
            target.basicLength = loop.Remaining();
            target.basicTable = tableId;
            target.basicSection = sectionNumber;
        }
    }
    // An event that got no part (no room for its loop) goes again.
    for (int32_t i = g.eventCount - 1; i >= 0; --i) {
        if (g.events[i].basicTable == 0 && g.events[i].extendedTable == 0) RemoveAt(g, i);
    }
    ++g.revision;
    return true;
}

int32_t GuideEventDescriptors(const GuideStore& g, const GuideEvent& e, uint8_t* out, int32_t capacity) {
    int32_t n = 0;
    const int32_t parts[2][2] = {{e.basicOffset, e.basicLength}, {e.extendedOffset, e.extendedLength}};
    for (const auto& part : parts) {
        if (part[1] <= 0 || part[0] < 0 || part[1] > kGuidePoolBytes - part[0]) continue;
        const int32_t take = part[1] < capacity - n ? part[1] : capacity - n;
        if (take <= 0) break;
        std::memcpy(out + n, g.pool + part[0], static_cast<size_t>(take));
        n += take;
    }
    return n;
}
