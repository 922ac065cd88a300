// The programme table's cache file in PluginState (see guide_keeper.h for
// when it is read and saved). The window thread's own.
#ifndef KESTRIN_PLUGIN_GUIDE_KEEPER_STATE_H
#define KESTRIN_PLUGIN_GUIDE_KEEPER_STATE_H

#include <cstdint>

#include "plugin/guide_cache.h"

// A save at most every five minutes while the table changes.
const int64_t kGuideCacheSaveSeconds = 5 * 60;
// Chunks read a message during a load: 1 MB, a few milliseconds.
const int32_t kGuideCacheLoadChunks = 16;

struct GuideKeeper {
    bool pathsReady = false;
    GuideCachePaths paths;
    GuideCacheBuffer buffer;
    GuideCacheLoad load;
    bool loading = false;
    bool loaded = false;             // a load ran (whatever it found)
    // A file is there that this run has not read whole (it could not be
    // opened or read, or its load was given up): no save replaces it, or
    // the table it holds would be lost. A later load that reads it (or
    // finds none, or finds it damaged) clears this.
    bool fileUnread = false;
    uint32_t savedRevision = 0;      // the store's revision when last saved or read
    int64_t lastSave = -1;           // local seconds of the last save (or load's end)
    GuideCacheStatus lastStatus = GuideCacheStatus::kNoFile;
};

#endif
