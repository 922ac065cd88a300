#include "plugin/guide_entries.h"

#include <cstring>

#include "plugin/messages.h"
#include "plugin/plugin_state.h"
#include "ts/calendar.h"

namespace {

static_assert((kGuideServiceIndexSize & (kGuideServiceIndexSize - 1)) == 0, "the index size is a power of two");
static_assert((kGuideNamedPlaces & (kGuideNamedPlaces - 1)) == 0, "the named set's size is a power of two");
static_assert(kGuideNamedMost < kGuideNamedPlaces, "the named set always has an empty place");
// At most half the places taken at the largest budget: probes stay short.
static_assert(static_cast<size_t>(kGuideMostMemoryMB) * 1024 * 1024 / kGuideServiceShare * 2 <=
                  static_cast<size_t>(kGuideServiceIndexSize),
              "the index holds every entry of the largest budget at half load");

// Tables of the actual transport stream: present/following and schedule.
bool IsActualTable(uint8_t tableId) {
    return tableId == kEitPfActualTableId || (tableId >= kScheduleFirstTableId && tableId <= kScheduleLastTableId);
}

// The home place of a key: the three ids as one number, multiplied by 2^64
// over the golden ratio, the top bits taken (Fibonacci hashing): one
// multiplication, and neighbouring service ids (every multiplex numbers its
// services closely) land far apart.
int32_t HomeOf(const GuideServiceKey& key, int32_t mask) {
    const uint64_t ids = static_cast<uint64_t>(key.networkId) << 32 |
                         static_cast<uint64_t>(key.transportStreamId) << 16 | key.serviceId;
    return static_cast<int32_t>((ids * 0x9E3779B97F4A7C15ull) >> 32) & mask;
}

void IndexInsert(GuideStore& g, const GuideServiceKey& key, int32_t entry) {
    const int32_t mask = g.serviceIndexMask;
    int32_t i = HomeOf(key, mask);
    while (g.serviceIndex[i].entry >= 0) i = (i + 1) & mask;
    g.serviceIndex[i].key = key;
    g.serviceIndex[i].entry = static_cast<int16_t>(entry);
}

// Linear probing's removal: the places after the freed one that would no
// longer be found from their home move back into it.
void IndexErase(GuideStore& g, const GuideServiceKey& key) {
    const int32_t mask = g.serviceIndexMask;
    int32_t hole = HomeOf(key, mask);
    while (g.serviceIndex[hole].entry >= 0 && !SameServiceKey(g.serviceIndex[hole].key, key)) {
        hole = (hole + 1) & mask;
    }
    if (g.serviceIndex[hole].entry < 0) return;  // not indexed
    g.serviceIndex[hole].entry = -1;
    for (int32_t next = (hole + 1) & mask; g.serviceIndex[next].entry >= 0; next = (next + 1) & mask) {
        const int32_t home = HomeOf(g.serviceIndex[next].key, mask);
        // It stays when its home lies cyclically after the hole, up to it.
        const bool stays = hole <= next ? (hole < home && home <= next) : (hole < home || home <= next);
        if (stays) continue;
        g.serviceIndex[hole] = g.serviceIndex[next];
        g.serviceIndex[next].entry = -1;
        hole = next;
    }
}

// The entry of `key` through the index, -1 when it has none; each place
// looked at counts in `compares`.
int32_t EntryOf(const GuideStore& g, const GuideServiceKey& key, uint32_t& compares) {
    const int32_t mask = g.serviceIndexMask;
    for (int32_t i = HomeOf(key, mask);; i = (i + 1) & mask) {
        ++compares;
        const GuideServiceIndexPlace& place = g.serviceIndex[i];
        if (place.entry < 0) return -1;
        if (SameServiceKey(place.key, key)) return place.entry;
    }
}

// Japan seconds of the broadcast clock, never older than a stamp given
// before; a count on from the last stamp before the first TOT.
int64_t WatchStamp(PluginState& s) {
    GuideStore& g = s.guide;
    const int64_t now = BroadcastNow(s);
    g.lastStamp = now > g.lastStamp ? now : g.lastStamp + 1;
    return g.lastStamp;
}

// The order entries are reused in: a service seen only in EIT sections
// before a named one (an SDT lists it, or it was tuned to), then one with
// nothing filed (its only sections were damaged: a header that bit errors
// made up must not push out a real service), then never watched, then the
// oldest watch, the one given first among equals.
bool ReusedBefore(const GuideServiceSlot& a, const GuideServiceSlot& b) {
    if (a.named != b.named) return !a.named;
    if (a.filed != b.filed) return !a.filed;
    if (a.lastWatched != b.lastWatched) return a.lastWatched < b.lastWatched;
    return static_cast<int32_t>(a.added - b.added) < 0;
}

bool SameStream(const GuideServiceKey& a, const GuideServiceKey& b) {
    return a.transportStreamId == b.transportStreamId && a.networkId == b.networkId;
}

// Which entries a new service may take the place of.
enum class Reuse {
    kAny,         // a named service: any entry
    kUnnamed,     // a service seen only in EIT: an unnamed entry
    kOwnStream,   // ... of its own transport stream, which holds its share
};

// The entry to reuse for `key`, never the one watched now; -1 when there is
// none.
int32_t Evictee(const GuideStore& g, const GuideServiceKey& key, Reuse reuse) {
    int32_t found = -1;
    for (int32_t i = 0; i < g.serviceCount; ++i) {
        const GuideServiceSlot& slot = g.services[i];
        if (i == g.watched || (reuse != Reuse::kAny && slot.named)) continue;
        if (reuse == Reuse::kOwnStream && !SameStream(slot.key, key)) continue;
        if (found < 0 || ReusedBefore(slot, g.services[found])) found = i;
    }
    return found;
}

// Entries of services of `key`'s transport stream that no SDT named.
int32_t UnnamedOfStream(const GuideStore& g, const GuideServiceKey& key) {
    int32_t count = 0;
    for (int32_t i = 0; i < g.serviceCount; ++i) {
        if (!g.services[i].named && SameStream(g.services[i].key, key)) ++count;
    }
    return count;
}

// The place of `key` in the set of named services: its own, or the empty
// one where it would go.
int32_t NamedPlace(const GuideStore& g, const GuideServiceKey& key) {
    const int32_t mask = kGuideNamedPlaces - 1;
    int32_t i = HomeOf(key, mask);
    while (g.named[i].used && !SameServiceKey(g.named[i].key, key)) i = (i + 1) & mask;
    return i;
}

bool IsNamedService(const GuideStore& g, const GuideServiceKey& key) { return g.named[NamedPlace(g, key)].used; }

}  // namespace

int64_t BroadcastNow(const PluginState& s) {
    if (s.tickCount < 0 || s.clockMjd < 0) return -1;
    return JapanSecondsOf(s.clockMjd, static_cast<int64_t>(s.clockHour) * 3600 + s.clockMinute * 60 + s.clockSecond +
                                          s.tickCount);
}

void ClearGuideServiceIndex(GuideStore& g) {
    for (int32_t i = 0; i < kGuideServiceIndexSize; ++i) g.serviceIndex[i].entry = -1;
    // The places used: the least power of two that leaves at least half
    // of them free at the budget's entries (128 for the default 52), so
    // that the ones looked up stay few cache lines.
    int32_t places = 16;
    while (places < 2 * g.serviceCapacity && places < kGuideServiceIndexSize) places *= 2;
    g.serviceIndexMask = places - 1;
}

int32_t FindGuideService(GuideStore& g, const GuideServiceKey& key) {
    return EntryOf(g, key, g.pathWork.serviceCompares);
}

int32_t AddGuideService(GuideStore& g, const GuideServiceKey& key, bool evict) {
    const bool named = IsNamedService(g, key);
    const bool streamFull = !named && UnnamedOfStream(g, key) >= kGuideUnnamedPerStream;
    int32_t i;
    if (g.serviceCount < g.serviceCapacity && !streamFull) {
        i = g.serviceCount++;
    } else {
        const Reuse reuse = named ? Reuse::kAny : streamFull ? Reuse::kOwnStream : Reuse::kUnnamed;
        i = evict ? Evictee(g, key, reuse) : -1;
        if (i < 0) return -1;
        IndexErase(g, g.services[i].key);
    }
    GuideServiceSlot& slot = g.services[i];
    slot.key = key;
    ++slot.generation;
    slot.channel = -1;
    slot.lastWatched = -1;
    slot.added = g.entriesAdded++;
    slot.filed = false;
    slot.named = named;
    std::memset(slot.heldVersion, kNoVersion, sizeof slot.heldVersion);
    IndexInsert(g, key, i);
    return i;
}

void MarkGuideWatched(PluginState& s, int32_t entry) {
    GuideStore& g = s.guide;
    if (entry == g.watched) return;
    const int64_t stamp = WatchStamp(s);
    if (g.watched >= 0) g.services[g.watched].lastWatched = stamp;
    g.watched = entry;
    if (entry >= 0) {
        g.services[entry].lastWatched = stamp;
        g.services[entry].named = true;  // the host tuned to it
    }
    if (g.windowShown) s.platform->PostToWindow(WM_GUIDE_READY);
}

int32_t GuideServiceOfSection(PluginState& s, const uint8_t* header, bool add) {
    GuideStore& g = s.guide;
    const GuideServiceKey key = EitServiceKey(header);
    int32_t i = FindGuideService(g, key);
    if (i < 0 && add) i = AddGuideService(g, key, true);
    if (i < 0) return -1;
    if (IsActualTable(header[0])) {
        if (!g.actualKnown || g.actualNetworkId != key.networkId ||
            g.actualTransportStreamId != key.transportStreamId) {
            g.actualKnown = true;
            g.actualNetworkId = key.networkId;
            g.actualTransportStreamId = key.transportStreamId;
        }
        g.actualChannel = s.currentChannel;
        g.services[i].channel = s.currentChannel;
        if (key.serviceId == static_cast<uint16_t>(s.currentService)) MarkGuideWatched(s, i);
    }
    return i;
}

void NameGuideService(GuideStore& g, const GuideServiceKey& key) {
    // The window thread's filing: not the packet path's work.
    uint32_t compares = 0;
    const int32_t entry = g.services != nullptr ? EntryOf(g, key, compares) : -1;
    if (entry >= 0) g.services[entry].named = true;
    // Kept in the set as well: should its entry go to another service, the
    // service comes back named though the SDT, filed in that version, is
    // not filed again.
    const int32_t place = NamedPlace(g, key);
    if (g.named[place].used || g.namedCount >= kGuideNamedMost) return;
    g.named[place].key = key;
    g.named[place].used = true;
    ++g.namedCount;
}
