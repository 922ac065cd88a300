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
//   (checked on the guide's turns). Never while a load is under way, nor
//   over a file that was there but could not be read whole (a virus
//   scanner or a sync tool holding it, a load given up): the file would
//   lose what was not read. Such a file is read again when the next
//   periodic save is due, and saved over once it was read. A save when
//   nothing changed since the last one (or since the load) is skipped.
// - A load under way is given up, its file closed, when the viewer window
//   or the plug-in goes: left open, the file could not be replaced by any
//   later save of the host's process.
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
// The viewer window or the plug-in goes (on the window's thread, or by
// whoever frees the state last): a load under way is given up and its file
// closed. The file is then kept from saves, and read from its start by the
// next load (a new viewer window).
void StopGuideTableLoad(PluginState& state);
// A periodic save is due and the file could not be read before: it is read
// again instead. True when a read is under way (the caller posts
// WM_GUIDE_CACHE); false when it still cannot be (lastStatus says why).
bool RereadGuideTable(PluginState& state);

// Saves the table now unless nothing changed since the last save or a
// load is under way (then kSaved without a write); kKeptUnread without a
// write when the file there was not read whole.
GuideCacheStatus SaveGuideTable(PluginState& state);
// The periodic save is due: kGuideCacheSaveSeconds since the last one and
// the table changed.
bool GuideTableSaveDue(PluginState& state);

#endif
