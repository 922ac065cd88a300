// The guide store's fixed memory and its entries' reset, shared by the
// store's files: the budget ([GUIDE] MemoryMB) installed once at
// construction or while the viewer is created, and whether sections wait
// in the hand-over slots.
#ifndef KESTRIN_PLUGIN_GUIDE_BUDGET_H
#define KESTRIN_PLUGIN_GUIDE_BUDGET_H

#include <cstdint>

#include "plugin/guide_state.h"

struct PluginState;

// Sections wait in the hand-over or the present/following slots. Lock held.
inline bool GuideSectionsWaiting(const GuideStore& g) {
    return g.queue.count > 0 || g.pfLengths[0] > 0 || g.pfLengths[1] > 0;
}

// Every entry and table forgotten, as after construction.
void ResetGuideEntries(GuideStore& store);

// Construction (or before the window is created, while no section has been
// handed over yet): the budget of `megabytes` (clamped to 4..256), allocated
// in one block; the old block is freed. False when the memory could not be
// had (the guide then keeps no service) or sections are held already (the
// budget stays).
bool SetGuideBudget(GuideStore& store, int32_t megabytes);
// Before the window is created (LoadWindowSettings, with "[GUIDE] MemoryMB",
// default 32): SetGuideBudget for the state, the block allocated and the
// old one freed outside the lock, which is taken only to look and to put
// the new block in place. Nothing changes once a section was handed over.
void ApplyGuideBudget(PluginState& state, int32_t megabytes);
// Services the budget of `megabytes` holds.
int32_t GuideServicesForBudget(int32_t megabytes);

#endif
