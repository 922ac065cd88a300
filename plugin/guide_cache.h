// The programme table's cache file: every service's info and raw EIT
// sections, kept across restarts of the host.
//
// Where: "Kestrin.epg" beside "Kestrin.ini", in the host's folder, so that
// the table goes with the settings it was built with (the channel buttons)
// and a viewer copied to another machine or a USB stick takes both along.
// Many hosts live under "Program Files", which a user without
// administrator rights cannot write: there, when the temporary file cannot
// be created beside the settings, the cache goes to the user's local
// application data folder, "%LOCALAPPDATA%\Kestrin\Kestrin.epg" (local, not
// roaming: a cache is rebuilt from the broadcasts and need not follow the
// user across machines). A file in that folder exists only while the host's
// folder could not be written at the last save, so a load reads it first;
// a save beside the settings removes it.
//
// A save writes a temporary file ("Kestrin.epg.tmp") beside the target in
// chunks of kGuideCacheChunk, flushes it to the disk, closes it and renames
// it over the old file in one step; any failure deletes the temporary file,
// leaves the old file as it was and is reported. A load checks the whole
// file (structure and checksum) before it hands the sink anything: a file
// cut short, corrupt, of another version, empty or not ours (or a folder at
// its place) gives nothing, and a status for the guide's status line.
//
// Everything here runs on the window's thread, never with the lock held,
// and reads and writes through one fixed buffer the caller owns.
#ifndef KESTRIN_PLUGIN_GUIDE_CACHE_H
#define KESTRIN_PLUGIN_GUIDE_CACHE_H

#include <cstdint>

#include "plugin/guide_cache_format.h"
#include "plugin/platform.h"

const int32_t kGuideCachePathSize = 260;

struct GuideCachePaths {
    // Beside the settings file; empty when the settings path is.
    char besideSettings[kGuideCachePathSize];
    // "<local application data>\Kestrin\" and the file in it; both empty
    // when the platform knows no such folder or the path is too long.
    char localFolder[kGuideCachePathSize];
    char local[kGuideCachePathSize];
};

// The two places from the settings path ("...\Kestrin.ini", or empty).
void MakeGuideCachePaths(Platform& platform, const char* settingsPath, GuideCachePaths* paths);

// What a save reads: the services held and each one's sections. Called
// during SaveGuideCache only; a section pointer is read before the next call.
class GuideCacheSource {
public:
    virtual int32_t ServiceCount() = 0;
    virtual void ServiceAt(int32_t service, GuideCacheService* out) = 0;
    virtual int32_t SectionCount(int32_t service) = 0;
    // The section's bytes and length, or null to leave it out.
    virtual const uint8_t* SectionAt(int32_t service, int32_t section, int32_t* length) = 0;

protected:
    ~GuideCacheSource() {}
};

// What a load hands the records to, only once the whole file was found
// sound. The sink re-checks each section's CRC_32 before it files it.
class GuideCacheSink {
public:
    // Returns the service's index in the store, or -1 to refuse it (its
    // sections are then not handed over).
    virtual int32_t RestoreService(const GuideCacheService& service) = 0;
    virtual void RestoreSection(int32_t service, const uint8_t* section, int32_t length) = 0;
    // Asked once the file was found sound, before the hand-over: how many
    // services the store can take besides the ones it holds already, and
    // whether it holds one (its entry takes no room). A file of more
    // services than there is room for hands over the ones the store would
    // keep itself (see GuideCacheKeptBefore).
    virtual int32_t ServiceRoom() { return INT32_MAX; }
    virtual bool HoldsService(const GuideCacheService& service) {
        (void)service;
        return false;
    }

protected:
    ~GuideCacheSink() {}
};

enum class GuideCacheStatus {
    // Load
    kLoaded,        // the file was read whole; its records were handed over
    kLoading,       // ContinueGuideCacheLoad has more to read
    kNoFile,        // none yet (the first start)
    kEmpty,
    kNotOurs,
    kOtherVersion,
    kTruncated,
    kCorrupt,
    kIsDirectory,   // a folder stands where the file belongs
    kUnreadable,    // cannot be opened or a read failed
    // Save
    kSaved,
    kNowhereToSave,  // no temporary file could be created in either place
    kWriteFailed,    // a write or the flush failed (a full disk): old file kept
    kRenameFailed,   // the finished file could not replace the old one
    kKeptUnread,     // the file there was not read whole: not replaced
};

// The text for the guide's status line (Shift_JIS), "" where there is
// nothing to say (loaded, no file yet, saved, loading).
const char* GuideCacheStatusText(GuideCacheStatus status);

// The one buffer a load or a save works through; part of the caller's
// fixed memory.
struct GuideCacheBuffer {
    uint8_t bytes[kGuideCacheChunk];
};

struct GuideCacheSaveResult {
    GuideCacheStatus status;
    bool local;           // written to the local application data folder
    int32_t services;     // records written
    int32_t sections;
    int64_t bytes;        // size of the file written
};

// Writes the source's services and sections, whole or not at all.
GuideCacheSaveResult SaveGuideCache(Platform& platform, const GuideCachePaths& paths,
                                    GuideCacheSource& source, GuideCacheBuffer& buffer);

// The services a store with room for fewer than the file holds takes: the
// ones it would keep itself when full (plugin/guide_entries.h), that is
// first those with a programme still to come, then the latest watched (the
// one watched when the file was saved first of all), never-watched ones
// last, and among equals the later in the file. The
// first pass keeps the best kGuideCacheMostChosen of them (more than the
// largest budget's services) as it reads every service record.
const int32_t kGuideCacheMostChosen = 512;

struct GuideCacheCandidate {
    int64_t lastWatched;  // 0 never, INT64_MAX the one watched at the save
    int32_t index;        // the service's place among the file's, from 0
    uint16_t networkId;
    uint16_t transportStreamId;
    uint16_t serviceId;
    bool programmes;      // a section whose programmes have not all ended
};

// True when the store keeps `a` rather than `b`.
bool GuideCacheKeptBefore(const GuideCacheCandidate& a, const GuideCacheCandidate& b);

// A load in steps, so that the window's thread goes back to its messages
// between them: the file is read twice, first to check it whole, then to
// hand its records over; each step reads at most `chunks` buffers.
struct GuideCacheLoad {
    Platform* platform;
    GuideCacheBuffer* buffer;
    char path[kGuideCachePathSize];
    FileHandle file;
    int32_t pass;       // 1 checking, 2 handing over, 0 finished
    int32_t filled;     // bytes in the buffer
    bool fileEnded;
    int64_t now;        // Japan seconds: programmes ended by then are left out
    GuideCacheScanner scanner;
    int32_t service;    // the sink's index of the current service, -1 refused
    GuideCacheStatus status;
    bool local;         // the file read is the one in the local folder
    int32_t services;   // records handed over
    int32_t sections;
    int32_t sectionsEnded;  // left out as ended
    int32_t servicesLeft;   // left out for want of room in the store
    // The first pass: every service record seen, the best of them so far
    // (a heap, the one the store would give up first on top), and the one
    // whose sections are being read.
    int32_t fileServices;
    GuideCacheCandidate candidates[kGuideCacheMostChosen];
    int32_t candidateCount;
    GuideCacheCandidate current;
    // The second pass: all services handed over, or only the places
    // (ascending) in `chosen`; `serviceIndex` is the place of the service
    // being read, `nextChosen` the next of `chosen` to come.
    bool everyService;
    int32_t chosen[kGuideCacheMostChosen];
    int32_t chosenCount;
    int32_t nextChosen;
    int32_t serviceIndex;
};

// Opens the cache (the local folder's first, see above). Returns kLoading,
// or at once the status of a file that cannot be read at all.
GuideCacheStatus BeginGuideCacheLoad(GuideCacheLoad& load, Platform& platform,
                                     const GuideCachePaths& paths, int64_t now,
                                     GuideCacheBuffer& buffer);
// Reads up to `chunks` buffers; kLoading while there is more. The sink gets
// records only once the first pass found the whole file sound.
GuideCacheStatus ContinueGuideCacheLoad(GuideCacheLoad& load, GuideCacheSink& sink, int32_t chunks);
// Stops a load halfway (the window closed): the file is closed.
void CancelGuideCacheLoad(GuideCacheLoad& load);

// The whole load at once.
GuideCacheStatus LoadGuideCache(GuideCacheLoad& load, Platform& platform,
                                const GuideCachePaths& paths, int64_t now, GuideCacheSink& sink,
                                GuideCacheBuffer& buffer);

#endif
