// The programme table's cache file as it may be found on the disk: any
// bytes, read back in pieces of any size. The load must never read or
// write outside its buffer, must hand the sink only records that can be
// (a service with a terminated name, a section of the guide's tables whose
// length agrees), and must hand it nothing unless it reports the file
// loaded. A file that loads is the writer's own: saving what it handed over
// gives the same bytes again.
//
// A store with room for fewer services than the file (and holding some of
// them already) gets exactly the ones it keeps itself: those held, then the
// best of the others by the store's rule (sections first, then the one
// watched at the save, then the latest watched, then the later in the
// file), each with all its sections.
//
// Input: one option byte, then the file. Option bit 0: the last four bytes
// are replaced by the right checksum, so that the fuzzer reaches the
// records behind it; bits 1-3 choose how many bytes each read returns;
// bits 4-6, when not 0, give the store room for that many services less
// one; bit 7 has the store hold the file's first service already.
// The seeds (fuzz/corpus/guide_cache/) are files SaveGuideCache wrote
// through the in-memory platform: three services with present/following
// and schedule sections of both transport streams, no service at all, one
// cut in half (checksum fixed), one of another version, and nothing; and,
// from fuzz/make_seeds.cpp, files of many services watched at different
// times (some without sections, some never watched) loaded into stores of
// little room, one holding a service already, and a service of the longest
// name.
#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "fuzz/fuzz_require.h"
#include "plugin/guide_cache.h"
#include "tests/support/fake_platform.h"
#include "ts/crc32.h"

namespace {

const char kSettingsPath[] = "C:\\Host\\Kestrin.ini";
const char kFile[] = "C:\\Host\\Kestrin.epg";

struct Service {
    GuideCacheService info;
    std::vector<std::vector<uint8_t>> sections;
};

bool SameIds(const GuideCacheService& a, const GuideCacheService& b) {
    return a.networkId == b.networkId && a.transportStreamId == b.transportStreamId && a.serviceId == b.serviceId;
}

bool SameService(const GuideCacheService& a, const GuideCacheService& b) {
    return SameIds(a, b) && a.channel == b.channel && a.lastWatched == b.lastWatched &&
           std::strcmp(a.name, b.name) == 0 && a.listCount == b.listCount && a.revision == b.revision &&
           a.watched == b.watched;
}

class CheckingSink : public GuideCacheSink {
public:
    int32_t RestoreService(const GuideCacheService& service) override {
        FUZZ_REQUIRE(std::memchr(service.name, 0, sizeof service.name) != nullptr);
        FUZZ_REQUIRE(service.listCount >= 0);
        services.push_back(Service{service, {}});
        return static_cast<int32_t>(services.size()) - 1;
    }
    void RestoreSection(int32_t service, const uint8_t* section, int32_t length) override {
        FUZZ_REQUIRE(service >= 0 && service < static_cast<int32_t>(services.size()));
        FUZZ_REQUIRE(IsGuideCacheSection(section, length));
        services[service].sections.emplace_back(section, section + length);
    }
    int32_t ServiceRoom() override { return room; }
    bool HoldsService(const GuideCacheService& service) override { return holds && SameIds(service, held); }

    std::vector<Service> services;
    int32_t room = INT32_MAX;
    bool holds = false;
    GuideCacheService held;
};

// The services (in the file's order) a store of `room` that holds `held`
// gets of the whole file `all`: the rule written out plainly.
std::vector<Service> Expected(const std::vector<Service>& all, int32_t room, bool holds,
                              const GuideCacheService& held) {
    std::vector<int32_t> order;
    for (int32_t i = 0; i < static_cast<int32_t>(all.size()); ++i) order.push_back(i);
    auto better = [&all](int32_t a, int32_t b) {
        const bool sa = !all[a].sections.empty(), sb = !all[b].sections.empty();
        if (sa != sb) return sa;
        auto stamp = [](const GuideCacheService& s) {
            return s.watched ? INT64_MAX : s.lastWatched > 0 ? s.lastWatched : 0;
        };
        const int64_t wa = stamp(all[a].info), wb = stamp(all[b].info);
        if (wa != wb) return wa > wb;
        return a > b;
    };
    std::sort(order.begin(), order.end(), better);
    std::vector<bool> kept(all.size(), false);
    if (room >= static_cast<int32_t>(all.size())) kept.assign(all.size(), true);
    for (size_t k = 0; k < order.size() && k < static_cast<size_t>(kGuideCacheMostChosen); ++k) {
        if (holds && SameIds(all[order[k]].info, held)) continue;
        if (room <= 0) break;
        kept[order[k]] = true;
        --room;
    }
    std::vector<Service> expected;
    for (size_t i = 0; i < all.size(); ++i) {
        if (kept[i] || (holds && SameIds(all[i].info, held))) expected.push_back(all[i]);
    }
    return expected;
}

class VectorSource : public GuideCacheSource {
public:
    explicit VectorSource(const std::vector<Service>& services) : services_(services) {}
    int32_t ServiceCount() override { return static_cast<int32_t>(services_.size()); }
    void ServiceAt(int32_t i, GuideCacheService* out) override { *out = services_[i].info; }
    int32_t SectionCount(int32_t i) override {
        return static_cast<int32_t>(services_[i].sections.size());
    }
    const uint8_t* SectionAt(int32_t i, int32_t j, int32_t* length) override {
        *length = static_cast<int32_t>(services_[i].sections[j].size());
        return services_[i].sections[j].data();
    }

private:
    const std::vector<Service>& services_;
};

const uint32_t kReadSizes[8] = {0, 1, 2, 3, 13, 4099, 4100, 65535};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const uint8_t options = data[0];
    std::vector<uint8_t> file(data + 1, data + size);
    if ((options & 1) != 0 && file.size() >= 4) {
        const uint32_t crc = Crc32Mpeg2(file.data(), file.size() - 4);
        for (int i = 0; i < 4; ++i) file[file.size() - 4 + i] = static_cast<uint8_t>(crc >> (24 - 8 * i));
    }

    static std::unique_ptr<GuideCacheBuffer> buffer(new GuideCacheBuffer);
    FakePlatform platform;
    platform.localAppData.clear();
    platform.readChunk = kReadSizes[(options >> 1) & 7];
    platform.files[kFile] = file;
    GuideCachePaths paths;
    MakeGuideCachePaths(platform, kSettingsPath, &paths);

    // The earliest time there is: no programme has ended, so every section
    // of a sound file is handed over.
    CheckingSink sink;
    GuideCacheLoad load;
    const GuideCacheStatus status =
        LoadGuideCache(load, platform, paths, INT64_MIN, sink, *buffer);
    FUZZ_REQUIRE(platform.openFiles.empty());
    if (status != GuideCacheStatus::kLoaded) {
        FUZZ_REQUIRE(sink.services.empty());
        FUZZ_REQUIRE(GuideCacheStatusText(status)[0] != '\0');
        return 0;
    }

    // Whether a section has ended, at a few times: defined for any section.
    for (const Service& s : sink.services) {
        for (const std::vector<uint8_t>& section : s.sections) {
            const int32_t length = static_cast<int32_t>(section.size());
            GuideSectionHasEnded(section.data(), length, 0);
            GuideSectionHasEnded(section.data(), length, INT64_MAX);
            FUZZ_REQUIRE(!GuideSectionHasEnded(section.data(), length, INT64_MIN));
        }
    }

    VectorSource source(sink.services);
    const GuideCacheSaveResult saved = SaveGuideCache(platform, paths, source, *buffer);
    FUZZ_REQUIRE(saved.status == GuideCacheStatus::kSaved);
    FUZZ_REQUIRE(platform.files[kFile] == file);

    // The same file into a store of little room.
    const int32_t roomOption = (options >> 4) & 7;
    if (roomOption == 0 && (options & 0x80) == 0) return 0;
    platform.files[kFile] = file;
    CheckingSink small;
    small.room = roomOption == 0 ? INT32_MAX : roomOption - 1;
    small.holds = (options & 0x80) != 0 && !sink.services.empty();
    if (small.holds) small.held = sink.services[0].info;
    FUZZ_REQUIRE(LoadGuideCache(load, platform, paths, INT64_MIN, small, *buffer) == GuideCacheStatus::kLoaded);
    FUZZ_REQUIRE(platform.openFiles.empty());
    const std::vector<Service> expected = Expected(sink.services, small.room, small.holds, small.held);
    FUZZ_REQUIRE(small.services.size() == expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        FUZZ_REQUIRE(SameService(small.services[i].info, expected[i].info));
        FUZZ_REQUIRE(small.services[i].sections == expected[i].sections);
    }
    FUZZ_REQUIRE(load.services + load.servicesLeft == static_cast<int32_t>(sink.services.size()));
    return 0;
}
