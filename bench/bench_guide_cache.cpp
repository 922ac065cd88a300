// The programme table's cache file at the guide's full budget: 32 MB of
// EIT sections. Measured, never asserted (docs/performance.md).
//
//   BM_GuideCacheSave/<section bytes>  one whole save: every record through
//       the fixed buffer, the checksum, the writes in chunks, the flush and
//       the rename; to memory (the cache's own cost) and, in
//       BM_GuideCacheSaveToDisk, to a real file with fsync (what the window's
//       thread waits for on a local disk)
//   BM_GuideCacheLoad/<section bytes>  one whole load: both passes (check
//       the file whole, then hand each record over), each section's events
//       timed against the clock; the sink counts and checks each section's
//       CRC_32 as the store does before filing it
//
// Sections of 4096 bytes (the longest) and of 1024 bytes (nearer what
// broadcasters send, so four times the records) fill the same 32 MB.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench_memory_disk.h"
#include "plugin/guide_cache.h"
#include "tests/support/quiet_platform.h"
#include "tools/streamkit/stream_builder.h"
#include "ts/calendar.h"
#include "ts/crc32.h"

namespace {

using build::Bytes;

const int64_t kBudget = 32 * 1024 * 1024;
const int32_t kServices = 64;
const uint16_t kMjd = 61382;  // 2026-12-08

// An EIT schedule section of `length` bytes: one programme whose
// descriptors fill it.
Bytes Section(uint16_t serviceId, uint8_t tableId, uint8_t sectionNumber, int32_t length, int hour) {
    const int32_t body = length - 14 - 4 - 12;
    Bytes descriptors;
    for (int32_t left = body; left > 0;) {
        const int32_t part = left > 257 ? 257 : left;
        Bytes d = build::Descriptor(0x4E, Bytes(static_cast<size_t>(part - 2), 0x41));
        descriptors.insert(descriptors.end(), d.begin(), d.end());
        left -= part;
    }
    build::EitHeader h = build::ScheduleHeader(serviceId, sectionNumber, 1, tableId);
    return build::EitSection(h, {build::Event(kMjd + 1, hour, 0, 0, 1, 0, 0, descriptors)});
}

// kServices services sharing the budget evenly.
struct Table {
    std::vector<GuideCacheService> services;
    std::vector<std::vector<Bytes>> sections;
};

const Table& FullTable(int32_t sectionBytes) {
    static std::map<int32_t, Table> tables;
    Table& t = tables[sectionBytes];
    if (!t.services.empty()) return t;
    const int64_t perService = kBudget / kServices / sectionBytes;
    for (int32_t i = 0; i < kServices; ++i) {
        GuideCacheService s;
        std::memset(&s, 0, sizeof s);
        s.networkId = 4;
        s.transportStreamId = static_cast<uint16_t>(0x4000 + i);
        s.serviceId = static_cast<uint16_t>(0x0100 + i);
        std::snprintf(s.name, sizeof s.name, "BS%d", static_cast<int>(i));
        s.listCount = static_cast<int32_t>(perService);
        t.services.push_back(s);
        std::vector<Bytes> sections;
        for (int64_t j = 0; j < perService; ++j) {
            sections.push_back(Section(s.serviceId, static_cast<uint8_t>(0x50 + (j / 256) % 16),
                                       static_cast<uint8_t>(j % 256), sectionBytes, static_cast<int>(j % 24)));
        }
        t.sections.push_back(sections);
    }
    return t;
}

class TableSource : public GuideCacheSource {
public:
    explicit TableSource(const Table& t) : t_(t) {}
    int32_t ServiceCount() override { return static_cast<int32_t>(t_.services.size()); }
    void ServiceAt(int32_t i, GuideCacheService* out) override { *out = t_.services[i]; }
    int32_t SectionCount(int32_t i) override { return static_cast<int32_t>(t_.sections[i].size()); }
    const uint8_t* SectionAt(int32_t i, int32_t j, int32_t* length) override {
        *length = static_cast<int32_t>(t_.sections[i][j].size());
        return t_.sections[i][j].data();
    }

private:
    const Table& t_;
};

class CountingSink : public GuideCacheSink {
public:
    int32_t RestoreService(const GuideCacheService&) override { return services++; }
    void RestoreSection(int32_t, const uint8_t* section, int32_t length) override {
        if (Crc32Mpeg2(section, static_cast<size_t>(length)) == 0) ++sections;
    }
    int32_t services = 0;
    int64_t sections = 0;
};

// One file in memory, its room reserved once: writes and reads are copies.
class MemoryDisk : public bench::MemoryDisk {
public:
    MemoryDisk() : bench::MemoryDisk(static_cast<size_t>(kBudget + kBudget / 8)) {}
};

// The same calls on a real file system (POSIX), with fsync as the flush.
class RealDisk : public QuietPlatform {
public:
    FileHandle CreateReplacementFile(const char* path) override {
        return ::open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    }
    bool WriteFile(FileHandle file, const uint8_t* data, uint32_t size) override {
        return ::write(static_cast<int>(file), data, size) == static_cast<ssize_t>(size);
    }
    void CloseFile(FileHandle file) override { ::close(static_cast<int>(file)); }
    bool FlushFile(FileHandle file) override { return ::fsync(static_cast<int>(file)) == 0; }
    bool RenameFileOver(const char* from, const char* to) override { return ::rename(from, to) == 0; }
    bool RemoveFile(const char* path) override { return ::unlink(path) == 0; }
};

GuideCachePaths PathsIn(Platform& platform, const std::string& folder) {
    GuideCachePaths paths;
    MakeGuideCachePaths(platform, "", &paths);
    std::snprintf(paths.besideSettings, sizeof paths.besideSettings, "%s/Kestrin.epg", folder.c_str());
    paths.local[0] = '\0';
    return paths;
}

void BM_GuideCacheSave(benchmark::State& st) {
    const Table& table = FullTable(static_cast<int32_t>(st.range(0)));
    std::unique_ptr<GuideCacheBuffer> buffer(new GuideCacheBuffer);
    MemoryDisk disk;
    const GuideCachePaths paths = PathsIn(disk, "C:");
    TableSource source(table);
    int64_t bytes = 0;
    for (auto _ : st) {
        const GuideCacheSaveResult r = SaveGuideCache(disk, paths, source, *buffer);
        if (r.status != GuideCacheStatus::kSaved) st.SkipWithError("save failed");
        bytes = r.bytes;
    }
    st.SetBytesProcessed(st.iterations() * bytes);
    st.counters["file_MB"] = static_cast<double>(bytes) / (1024 * 1024);
}
BENCHMARK(BM_GuideCacheSave)->Arg(4096)->Arg(1024)->Unit(benchmark::kMillisecond);

void BM_GuideCacheSaveToDisk(benchmark::State& st) {
    const Table& table = FullTable(static_cast<int32_t>(st.range(0)));
    std::unique_ptr<GuideCacheBuffer> buffer(new GuideCacheBuffer);
    RealDisk disk;
    char folder[] = "/tmp/kestrin-bench-cache-XXXXXX";
    if (mkdtemp(folder) == nullptr) {
        st.SkipWithError("no temporary folder");
        return;
    }
    const GuideCachePaths paths = PathsIn(disk, folder);
    TableSource source(table);
    int64_t bytes = 0;
    for (auto _ : st) {
        const GuideCacheSaveResult r = SaveGuideCache(disk, paths, source, *buffer);
        if (r.status != GuideCacheStatus::kSaved) st.SkipWithError("save failed");
        bytes = r.bytes;
    }
    unlink(paths.besideSettings);
    rmdir(folder);
    st.SetBytesProcessed(st.iterations() * bytes);
}
BENCHMARK(BM_GuideCacheSaveToDisk)->Arg(4096)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_GuideCacheLoad(benchmark::State& st) {
    const Table& table = FullTable(static_cast<int32_t>(st.range(0)));
    std::unique_ptr<GuideCacheBuffer> buffer(new GuideCacheBuffer);
    MemoryDisk disk;
    const GuideCachePaths paths = PathsIn(disk, "C:");
    TableSource source(table);
    if (SaveGuideCache(disk, paths, source, *buffer).status != GuideCacheStatus::kSaved) {
        st.SkipWithError("save failed");
        return;
    }
    // 22:15 the day before the programmes: none has ended.
    const int64_t now = JapanSecondsOf(kMjd, 22 * 3600 + 15 * 60);
    GuideCacheLoad load;
    int64_t sections = 0;
    for (auto _ : st) {
        CountingSink sink;
        if (LoadGuideCache(load, disk, paths, now, sink, *buffer) != GuideCacheStatus::kLoaded) {
            st.SkipWithError("load failed");
        }
        sections = sink.sections;
    }
    st.SetBytesProcessed(st.iterations() * static_cast<int64_t>(disk.Size()));
    st.counters["sections"] = static_cast<double>(sections);
}
BENCHMARK(BM_GuideCacheLoad)->Arg(4096)->Arg(1024)->Unit(benchmark::kMillisecond);

}  // namespace
