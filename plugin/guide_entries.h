// The guide's service entries as the packet path sees them (lock held):
// a section's ids found among the entries through a hashed index, a new
// service given a free entry or the one to reuse, the watched entry and its
// stamps. Shared by the store's files; the window thread's tables follow
// the entries through their generations (guide_store.cpp).
#ifndef KESTRIN_PLUGIN_GUIDE_ENTRIES_H
#define KESTRIN_PLUGIN_GUIDE_ENTRIES_H

#include <cstdint>

#include "plugin/guide_state.h"
#include "text/eit_event.h"
#include "ts/section.h"

struct PluginState;

// Present/following, actual (0x4E) or other (0x4F) transport stream.
inline bool IsPresentFollowingTable(uint8_t tableId) {
    return tableId == kEitPfActualTableId || tableId == kEitPfOtherTableId;
}

inline bool SameServiceKey(const GuideServiceKey& a, const GuideServiceKey& b) {
    return a.serviceId == b.serviceId && a.transportStreamId == b.transportStreamId && a.networkId == b.networkId;
}

// The ids of an EIT section's header (at least kFollowHeaderSize bytes).
inline GuideServiceKey EitServiceKey(const uint8_t* h) {
    GuideServiceKey k;
    k.serviceId = static_cast<uint16_t>(h[3] << 8 | h[4]);
    k.transportStreamId = static_cast<uint16_t>(h[8] << 8 | h[9]);
    k.networkId = static_cast<uint16_t>(h[10] << 8 | h[11]);
    return k;
}

inline uint8_t SectionVersionOf(const uint8_t* h) { return static_cast<uint8_t>((h[5] >> 1) & 0x1F); }

inline bool IsGuideTable(uint8_t tableId) { return tableId >= kGuideFirstTableId && tableId <= kGuideLastTableId; }

// Broadcast time now in Japan seconds since 1970 (the TOT plus the ticks
// since, as the clock shows it), or -1 before the first TOT. Lock held.
int64_t BroadcastNow(const PluginState& state);

// The index emptied: no entry in use (with ResetGuideEntries).
void ClearGuideServiceIndex(GuideStore& store);

// The entry of `key`, -1 when it has none. Each place looked at counts in
// pathWork.serviceCompares.
int32_t FindGuideService(GuideStore& store, const GuideServiceKey& key);

// A new entry for `key`: a free one, or with `evict` the one to reuse when
// every one is taken (one of a service seen only in EIT before a named one;
// then one with nothing filed, then never watched, then watched longest
// ago; never the watched one). A service no SDT named takes only the entry
// of another such service, and one of its own transport stream once that
// stream holds kGuideUnnamedPerStream entries. -1 when there is none.
int32_t AddGuideService(GuideStore& store, const GuideServiceKey& key, bool evict);

// An SDT section that passed its CRC_32 lists `key`: its entry is named
// from now on, and so is any entry given to it later. Lock held.
void NameGuideService(GuideStore& store, const GuideServiceKey& key);

// The entry of an EIT section's service (its header), made when new and
// `add` (only for a section whose CRC_32 passed: a damaged header must not
// take an entry). An actual stream's section names the actual stream's ids
// and channel, and the watched entry. -1 when there is no entry.
int32_t GuideServiceOfSection(PluginState& state, const uint8_t* header, bool add = true);

// `entry` (-1 none) is watched from now: the stamps of it and of the one
// watched before, and an open guide window told.
void MarkGuideWatched(PluginState& state, int32_t entry);

#endif
