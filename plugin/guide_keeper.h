// The programme table kept across restarts: the guide store saved to and
// read back from its cache file (plugin/guide_cache.h), on the window's
// thread only, never with the lock held.
//
// - Read when the viewer window is created, a few chunks a message
//   (WM_GUIDE_CACHE posted again while there is more), so neither the host
//   nor the window waits for the whole file: the table fills as it is read.
//   Programmes that ended by then (the broadcast clock, or the computer's
//   clock before the first TOT) are left out.
// - Saved when the viewer is closed or the plug-in deleted on the window's
//   thread, and every kGuideCacheSaveSeconds while the table changes
//   (checked on the guide's turns). Never while a load is under way: the
//   file would lose what was not read yet. A save when nothing changed
//   since the last one (or since the load) is skipped.
#ifndef KESTRIN_PLUGIN_GUIDE_KEEPER_H
#define KESTRIN_PLUGIN_GUIDE_KEEPER_H

#include <cstdint>

#include "plugin/guide_cache.h"
#include "plugin/guide_keeper_state.h"

struct PluginState;



// The computer's clock as Japan-style seconds since 1970 (its local time).
int64_t LocalSeconds(PluginState& state);

// Starts reading the cache. True when a read is under way (the caller
// posts WM_GUIDE_CACHE); false when there is nothing to read (lastStatus
// says why: no file, a damaged one...).
bool BeginGuideTableLoad(PluginState& state);
// One step of the read: kLoading while there is more.
GuideCacheStatus ContinueGuideTableLoad(PluginState& state);

// Saves the table now unless nothing changed since the last save or a
// load is under way (then kSaved without a write).
GuideCacheStatus SaveGuideTable(PluginState& state);
// The periodic save is due: kGuideCacheSaveSeconds since the last one and
// the table changed.
bool GuideTableSaveDue(PluginState& state);

#endif
