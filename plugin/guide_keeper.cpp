#include "plugin/guide_keeper.h"

#include <cstdio>
#include <cstring>
#include <mutex>

#include "plugin/guide_store.h"
#include "plugin/plugin_state.h"
#include "ts/calendar.h"

namespace {

// The load chooses among enough services to fill the largest store.
static_assert(static_cast<size_t>(kGuideMostMemoryMB) * 1024 * 1024 / kGuideServiceShare <=
                  static_cast<size_t>(kGuideCacheMostChosen),
              "a load's choice covers every service of the largest budget");

void ReadyPaths(PluginState& s) {
    GuideKeeper& k = s.keeper;
    if (k.pathsReady) return;
    MakeGuideCachePaths(*s.platform, s.settingsPath, &k.paths);
    k.pathsReady = true;
}

// The store as the cache file's writer reads it.
class StoreSource : public GuideCacheSource {
public:
    explicit StoreSource(const GuideStore& store) : store_(store) {}
    int32_t ServiceCount() override { return GuideServiceCount(store_); }
    void ServiceAt(int32_t service, GuideCacheService* out) override {
        std::memset(out, 0, sizeof *out);
        GuideServiceInfo info;
        if (!GuideServiceAt(store_, service, info)) return;
        out->networkId = info.key.networkId;
        out->transportStreamId = info.key.transportStreamId;
        out->serviceId = info.key.serviceId;
        // The file says 0 for an unknown channel and a service never watched.
        out->channel = info.channel > 0 ? info.channel : 0;
        out->lastWatched = info.lastWatched > 0 ? info.lastWatched : 0;
        std::snprintf(out->name, sizeof out->name, "%s", info.name);
        out->listCount = info.listCount;
        out->revision = info.revision;
        out->watched = info.watched;
    }
    int32_t SectionCount(int32_t service) override { return GuideServiceSectionCount(store_, service); }
    const uint8_t* SectionAt(int32_t service, int32_t section, int32_t* length) override {
        return GuideServiceSection(store_, service, section, *length);
    }

private:
    const GuideStore& store_;
};

// The records read back, into the store.
class StoreSink : public GuideCacheSink {
public:
    explicit StoreSink(PluginState& state) : state_(state) {}
    int32_t RestoreService(const GuideCacheService& service) override {
        GuideServiceInfo info;
        std::memset(&info, 0, sizeof info);
        info.key.networkId = service.networkId;
        info.key.transportStreamId = service.transportStreamId;
        info.key.serviceId = service.serviceId;
        info.channel = service.channel > 0 ? service.channel : -1;
        info.lastWatched = service.lastWatched > 0 ? service.lastWatched : -1;
        std::snprintf(info.name, sizeof info.name, "%s", service.name);
        return RestoreGuideService(state_, info);
    }
    void RestoreSection(int32_t service, const uint8_t* section, int32_t length) override {
        RestoreGuideSection(state_, service, section, length);
    }
    // The entries the packet path has not taken yet.
    int32_t ServiceRoom() override {
        std::lock_guard<std::mutex> guard(state_.lock);
        const GuideStore& g = state_.guide;
        return g.services == nullptr ? 0 : g.serviceCapacity - g.serviceCount;
    }
    bool HoldsService(const GuideCacheService& service) override {
        const GuideServiceKey key = {service.networkId, service.transportStreamId, service.serviceId};
        std::lock_guard<std::mutex> guard(state_.lock);
        const GuideStore& g = state_.guide;
        if (g.services == nullptr) return false;
        for (int32_t i = 0; i < g.serviceCount; ++i) {
            if (SameServiceKey(g.services[i].key, key)) return true;
        }
        return false;
    }

private:
    PluginState& state_;
};

// Programmes that ended before this are not read back: the broadcast clock
// when a TOT came, else the computer's.
int64_t LoadClock(PluginState& s) {
    int64_t now;
    {
        std::lock_guard<std::mutex> guard(s.lock);
        now = BroadcastNow(s);
    }
    return now >= 0 ? now : LocalSeconds(s);
}

void Finished(PluginState& s, GuideCacheStatus status) {
    GuideKeeper& k = s.keeper;
    k.loading = false;
    k.loaded = true;
    k.lastStatus = status;
    // What the first load read is what the file holds: nothing to save yet.
    // A file read again (it could not be read before) does not hold what
    // came meanwhile, which the next save writes.
    if (!k.fileUnread) k.savedRevision = GuideRevision(s.guide);
    // A file that could not be opened or read is kept; one read whole, or
    // none there, or one found damaged (it holds nothing to keep) may be
    // saved over.
    k.fileUnread = status == GuideCacheStatus::kUnreadable;
    k.lastSave = LocalSeconds(s);
}

}  // namespace

int64_t LocalSeconds(PluginState& s) {
    const LocalTime t = s.platform->GetLocalTime();
    return DayOfCivilDate(t.year, t.month, t.day) * kSecondsPerDay + t.hour * 3600 + t.minute * 60 + t.second;
}

bool BeginGuideTableLoad(PluginState& s) {
    GuideKeeper& k = s.keeper;
    if (k.loading || k.loaded) return k.loading;
    ReadyPaths(s);
    const GuideCacheStatus status = BeginGuideCacheLoad(k.load, *s.platform, k.paths, LoadClock(s), k.buffer);
    if (status != GuideCacheStatus::kLoading) {
        Finished(s, status);
        return false;
    }
    k.loading = true;
    return true;
}

GuideCacheStatus ContinueGuideTableLoad(PluginState& s) {
    GuideKeeper& k = s.keeper;
    if (!k.loading) return k.lastStatus;
    SyncGuide(s);
    StoreSink sink(s);
    const GuideCacheStatus status = ContinueGuideCacheLoad(k.load, sink, kGuideCacheLoadChunks);
    if (status != GuideCacheStatus::kLoading) Finished(s, status);
    return status;
}

void StopGuideTableLoad(PluginState& s) {
    GuideKeeper& k = s.keeper;
    if (!k.loading) return;
    CancelGuideCacheLoad(k.load);
    k.loading = false;
    k.loaded = false;
    k.fileUnread = true;
}

bool RereadGuideTable(PluginState& s) {
    GuideKeeper& k = s.keeper;
    if (k.loading) return true;
    if (!k.fileUnread) return false;
    k.loaded = false;
    return BeginGuideTableLoad(s);
}

GuideCacheStatus SaveGuideTable(PluginState& s) {
    GuideKeeper& k = s.keeper;
    if (k.loading || GuideRevision(s.guide) == k.savedRevision) return GuideCacheStatus::kSaved;
    if (k.fileUnread) {
        // Said each time a save would have come; the periodic one waits
        // its time again.
        k.lastSave = LocalSeconds(s);
        k.lastStatus = GuideCacheStatus::kKeptUnread;
        return GuideCacheStatus::kKeptUnread;
    }
    ReadyPaths(s);
    SyncGuide(s);
    StoreSource source(s.guide);
    const uint32_t revision = GuideRevision(s.guide);
    const GuideCacheSaveResult result = SaveGuideCache(*s.platform, k.paths, source, k.buffer);
    k.lastSave = LocalSeconds(s);
    k.lastStatus = result.status;
    // A failed save is tried again at the next turn due, not at once.
    if (result.status == GuideCacheStatus::kSaved) k.savedRevision = revision;
    return result.status;
}

bool GuideTableSaveDue(PluginState& s) {
    GuideKeeper& k = s.keeper;
    if (k.loading || GuideRevision(s.guide) == k.savedRevision) return false;
    const int64_t now = LocalSeconds(s);
    // A clock set back restarts the wait instead of stopping saves.
    if (k.lastSave < 0 || now < k.lastSave) {
        k.lastSave = now;
        return false;
    }
    return now - k.lastSave >= kGuideCacheSaveSeconds;
}
