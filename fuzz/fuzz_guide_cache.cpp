// The programme table's cache file as it may be found on the disk: any
// bytes, read back in pieces of any size. The load must never read or
// write outside its buffer, must hand the sink only records that can be
// (a service with a terminated name, a section of the guide's tables whose
// length agrees), and must hand it nothing unless it reports the file
// loaded. A file that loads is the writer's own: saving what it handed over
// gives the same bytes again.
//
// Input: one option byte, then the file. Option bit 0: the last four bytes
// are replaced by the right checksum, so that the fuzzer reaches the
// records behind it; bits 1-3 choose how many bytes each read returns.
// The seeds (fuzz/corpus/guide_cache/) are files SaveGuideCache wrote
// through the in-memory platform: three services with present/following
// and schedule sections of both transport streams, no service at all, one
// cut in half (checksum fixed), one of another version, and nothing.
#include <cstddef>
#include <cstdint>
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
    std::vector<Service> services;
};

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
    return 0;
}
