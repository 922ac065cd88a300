// The programme table's cache file: what a save writes comes back whole;
// a damaged file (cut short anywhere, a byte changed anywhere, another
// version, empty, not ours, a folder) hands over nothing and says why; a
// save that fails (full disk, flush, rename) leaves the old file byte for
// byte; an unwritable host folder sends the cache to the local application
// data folder; programmes that have ended are not loaded.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "plugin/guide_cache.h"
#include "tests/support/fake_platform.h"
#include "tools/streamkit/stream_builder.h"
#include "ts/calendar.h"
#include "ts/crc32.h"

namespace {

using build::Bytes;

const char kSettingsPath[] = "C:\\Host\\Kestrin.ini";
const char kBeside[] = "C:\\Host\\Kestrin.epg";
const char kBesideTemporary[] = "C:\\Host\\Kestrin.epg.tmp";
const char kLocalFolder[] = "C:\\Users\\viewer\\AppData\\Local\\Kestrin\\";
const char kLocal[] = "C:\\Users\\viewer\\AppData\\Local\\Kestrin\\Kestrin.epg";

// 2026-12-08, the broadcast day the tests live in; "now" is 22:15 on it.
const uint16_t kMjd = 61382;
const int64_t kNow = JapanSecondsOf(kMjd, 22 * 3600 + 15 * 60);

struct Service {
    GuideCacheService info;
    std::vector<Bytes> sections;
};

GuideCacheService Info(uint16_t serviceId, const char* name, int32_t channel) {
    GuideCacheService s;
    std::memset(&s, 0, sizeof s);
    s.networkId = 0x7FE0;
    s.transportStreamId = 0x7FE0;
    s.serviceId = serviceId;
    s.channel = channel;
    s.lastWatched = kNow - 3600;
    std::snprintf(s.name, sizeof s.name, "%s", name);
    s.listCount = 12;
    s.revision = 0x01020304u;
    s.watched = true;
    return s;
}

// A schedule section of one programme from hh:mm for `minutes`.
Bytes Schedule(uint16_t serviceId, uint8_t tableId, uint8_t section, int hour, int minute, int minutes,
               uint16_t mjd = kMjd) {
    build::EitHeader h = build::ScheduleHeader(serviceId, section, 1, tableId);
    return build::EitSection(h, {build::Event(mjd, hour, minute, 0, minutes / 60, minutes % 60, 0)});
}

// The longest section a record holds: 4096 bytes.
Bytes LongestSection(uint16_t serviceId) {
    Bytes descriptors;
    for (int i = 0; i < 15; ++i) {
        Bytes d = build::Descriptor(0x4E, Bytes(255, static_cast<uint8_t>(i)));
        descriptors.insert(descriptors.end(), d.begin(), d.end());
    }
    Bytes last = build::Descriptor(0x4E, Bytes(209, 0xEE));
    descriptors.insert(descriptors.end(), last.begin(), last.end());
    build::EitHeader h = build::ScheduleHeader(serviceId, 8, 1, 0x51);
    return build::EitSection(h, {build::Event(kMjd + 1, 6, 0, 0, 1, 0, 0, descriptors)});
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
        const Bytes& b = services_[i].sections[j];
        *length = static_cast<int32_t>(b.size());
        return b.empty() ? nullptr : b.data();
    }

private:
    const std::vector<Service>& services_;
};

class RecordingSink : public GuideCacheSink {
public:
    int32_t RestoreService(const GuideCacheService& service) override {
        Service s;
        s.info = service;
        services.push_back(s);
        const int32_t index = static_cast<int32_t>(services.size()) - 1;
        return refuse == service.serviceId ? -1 : index;
    }
    void RestoreSection(int32_t service, const uint8_t* section, int32_t length) override {
        ASSERT_GE(service, 0);
        ASSERT_LT(service, static_cast<int32_t>(services.size()));
        services[service].sections.emplace_back(section, section + length);
    }
    int32_t ServiceRoom() override { return room; }
    bool HoldsService(const GuideCacheService& service) override {
        for (uint16_t id : held) {
            if (id == service.serviceId) return true;
        }
        return false;
    }
    bool Empty() const { return services.empty(); }

    std::vector<Service> services;
    uint16_t refuse = 0;  // a service id the store will not take
    int32_t room = INT32_MAX;    // services the store can take besides those it holds
    std::vector<uint16_t> held;  // service ids the store holds already
};

bool SameInfo(const GuideCacheService& a, const GuideCacheService& b) {
    return a.networkId == b.networkId && a.transportStreamId == b.transportStreamId &&
           a.serviceId == b.serviceId && a.channel == b.channel && a.lastWatched == b.lastWatched &&
           std::strcmp(a.name, b.name) == 0 && a.listCount == b.listCount &&
           a.revision == b.revision && a.watched == b.watched;
}

// Three services: a named one with present/following and schedule (the
// longest section among them), one never watched without sections, one
// with schedules of another transport stream (0x60-0x6F).
std::vector<Service> Table() {
    std::vector<Service> t(3);
    t[0].info = Info(0x0400, "\x82\x6D\x82\x67\x82\x6A\x91\x8D\x8D\x87", 27);  // NHK総合
    t[0].sections.push_back(build::EitPfSection(0x0400, 0, {build::Event(kMjd, 22, 0, 0, 0, 45, 0)}));
    t[0].sections.push_back(Schedule(0x0400, 0x50, 0, 22, 0, 45));
    t[0].sections.push_back(Schedule(0x0400, 0x50, 8, 23, 0, 60));
    t[0].sections.push_back(LongestSection(0x0400));
    t[1].info = Info(0x0408, "", 0);
    t[1].info.watched = false;
    t[1].info.lastWatched = 0;
    t[1].info.channel = -5;
    t[1].info.listCount = 0;
    t[2].info = Info(0x0101, "BS\x82\xA0\x82\xA2\x82\xA4", 0);  // BSあいう
    t[2].info.networkId = 4;
    t[2].info.lastWatched = -1;  // before 1970: kept as it was
    t[2].sections.push_back(Schedule(0x0101, 0x60, 0, 23, 30, 30));
    t[2].sections.push_back(Schedule(0x0101, 0x6F, 0xF8, 1, 0, 60, kMjd + 7));
    return t;
}

class GuideCacheTest : public ::testing::Test {
protected:
    GuideCacheTest() : buffer_(new GuideCacheBuffer) {
        MakeGuideCachePaths(platform, kSettingsPath, &paths);
    }

    GuideCacheSaveResult Save(const std::vector<Service>& table) {
        VectorSource source(table);
        return SaveGuideCache(platform, paths, source, *buffer_);
    }
    GuideCacheStatus Load(RecordingSink& sink, int64_t now = kNow) {
        return LoadGuideCache(load, platform, paths, now, sink, *buffer_);
    }
    // The file beside the settings as a table saves it.
    Bytes SavedBytes(const std::vector<Service>& table) {
        EXPECT_EQ(Save(table).status, GuideCacheStatus::kSaved);
        return platform.files[kBeside];
    }
    bool NoTemporaryFile() {
        for (const auto& f : platform.files) {
            if (f.first.size() >= 4 && f.first.compare(f.first.size() - 4, 4, ".tmp") == 0) return false;
        }
        return true;
    }

    FakePlatform platform;
    GuideCachePaths paths;
    GuideCacheLoad load;
    std::unique_ptr<GuideCacheBuffer> buffer_;
};

void ExpectSameTable(const std::vector<Service>& expected, const std::vector<Service>& got) {
    ASSERT_EQ(got.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_TRUE(SameInfo(got[i].info, expected[i].info)) << "service " << i;
        EXPECT_EQ(got[i].sections, expected[i].sections) << "service " << i;
    }
}

TEST_F(GuideCacheTest, PathsBesideTheSettingsAndInTheLocalFolder) {
    EXPECT_STREQ(paths.besideSettings, kBeside);
    EXPECT_STREQ(paths.localFolder, kLocalFolder);
    EXPECT_STREQ(paths.local, kLocal);

    struct Case {
        const char* settings;
        std::string appData;
        const char* beside;
        const char* local;
    } cases[] = {
        // No settings path (the host's path was cut short): the local folder only.
        {"", "D:\\Data\\", "", "D:\\Data\\Kestrin\\Kestrin.epg"},
        // The settings beside an executable path without a folder.
        {"Kestrin.ini", "D:\\Data\\", "Kestrin.epg", "D:\\Data\\Kestrin\\Kestrin.epg"},
        // No local application data folder, or one without its backslash.
        {kSettingsPath, "", kBeside, ""},
        {kSettingsPath, "D:\\Data", kBeside, ""},
        // A local folder so long that the file's path would not fit 260 bytes.
        {kSettingsPath, "D:\\" + std::string(240, 'a') + "\\", kBeside, ""},
    };
    for (const Case& c : cases) {
        platform.localAppData = c.appData;
        GuideCachePaths p;
        MakeGuideCachePaths(platform, c.settings, &p);
        EXPECT_STREQ(p.besideSettings, c.beside) << c.settings << " " << c.appData;
        EXPECT_STREQ(p.local, c.local) << c.settings << " " << c.appData;
    }
}

TEST_F(GuideCacheTest, WhatIsSavedComesBackWholeWhateverTheReadSizes) {
    const std::vector<Service> table = Table();
    const GuideCacheSaveResult saved = Save(table);
    ASSERT_EQ(saved.status, GuideCacheStatus::kSaved);
    EXPECT_FALSE(saved.local);
    EXPECT_EQ(saved.services, 3);
    EXPECT_EQ(saved.sections, 6);
    EXPECT_EQ(saved.bytes, static_cast<int64_t>(platform.files[kBeside].size()));
    EXPECT_EQ(platform.flushCalls, 1);
    EXPECT_TRUE(NoTemporaryFile());
    ASSERT_EQ(platform.renames.size(), 1u);
    EXPECT_EQ(platform.renames[0].first, kBesideTemporary);

    // The platform may return fewer bytes than asked at every read.
    for (uint32_t chunk : {0u, 1u, 3u, 4098u, 4100u}) {
        platform.readChunk = chunk;
        RecordingSink sink;
        ASSERT_EQ(Load(sink), GuideCacheStatus::kLoaded) << chunk;
        ExpectSameTable(table, sink.services);
        EXPECT_EQ(load.services, 3);
        EXPECT_EQ(load.sections, 6);
        EXPECT_STREQ(GuideCacheStatusText(GuideCacheStatus::kLoaded), "");
    }
    EXPECT_TRUE(platform.openFiles.empty());
}

TEST_F(GuideCacheTest, NothingIsHandedOverBeforeTheWholeFileWasChecked) {
    std::vector<Service> table = Table();
    // Enough sections for a file of several buffers.
    for (int i = 0; i < 60; ++i) table[0].sections.push_back(LongestSection(0x0400));
    ASSERT_EQ(Save(table).status, GuideCacheStatus::kSaved);
    ASSERT_GT(platform.files[kBeside].size(), 3u * kGuideCacheChunk);

    RecordingSink sink;
    ASSERT_EQ(BeginGuideCacheLoad(load, platform, paths, kNow, *buffer_), GuideCacheStatus::kLoading);
    int steps = 0;
    GuideCacheStatus status = GuideCacheStatus::kLoading;
    while (status == GuideCacheStatus::kLoading && load.pass == 1) {
        EXPECT_TRUE(sink.Empty());
        status = ContinueGuideCacheLoad(load, sink, 1);
        ++steps;
    }
    EXPECT_GE(steps, 4);
    while (status == GuideCacheStatus::kLoading) status = ContinueGuideCacheLoad(load, sink, 1);
    ASSERT_EQ(status, GuideCacheStatus::kLoaded);
    ExpectSameTable(table, sink.services);
}

TEST_F(GuideCacheTest, ASaveWritesLargeChunks) {
    std::vector<Service> table = Table();
    for (int i = 0; i < 200; ++i) table[0].sections.push_back(LongestSection(0x0400));
    const GuideCacheSaveResult saved = Save(table);
    ASSERT_EQ(saved.status, GuideCacheStatus::kSaved);
    // Every write but the last fills the buffer to within one record.
    const int64_t fullWrites = saved.bytes / (kGuideCacheChunk - kGuideCacheMaxRecord);
    EXPECT_LE(platform.writeCalls, fullWrites + 1);
}

TEST_F(GuideCacheTest, SectionsTheReaderWouldRefuseAreNotWritten) {
    std::vector<Service> table = Table();
    Bytes sdt = table[0].sections[1];
    sdt[0] = 0x42;  // not a table of the guide
    Bytes cut = table[0].sections[1];
    cut.pop_back();  // section_length disagrees
    table[1].sections = {Bytes(), sdt, cut, Bytes(kGuideCacheMaxSection + 1, 0x50)};
    const GuideCacheSaveResult saved = Save(table);
    ASSERT_EQ(saved.status, GuideCacheStatus::kSaved);
    EXPECT_EQ(saved.sections, 6);
    RecordingSink sink;
    ASSERT_EQ(Load(sink), GuideCacheStatus::kLoaded);
    table[1].sections.clear();
    ExpectSameTable(table, sink.services);
}

TEST_F(GuideCacheTest, ARefusedServiceGetsNoSections) {
    const std::vector<Service> table = Table();
    ASSERT_EQ(Save(table).status, GuideCacheStatus::kSaved);
    RecordingSink sink;
    sink.refuse = 0x0400;
    ASSERT_EQ(Load(sink), GuideCacheStatus::kLoaded);
    ASSERT_EQ(sink.services.size(), 3u);
    EXPECT_TRUE(sink.services[0].sections.empty());
    EXPECT_EQ(sink.services[2].sections, table[2].sections);
}

// --- A damaged file ----------------------------------------------------------

// The offsets at which records begin in a file the writer made.
std::vector<size_t> RecordStarts(const Bytes& file) {
    std::vector<size_t> starts;
    size_t at = kGuideCacheHeaderSize;
    while (at + 3 <= file.size()) {
        starts.push_back(at);
        at += 3 + ((file[at + 1] << 8) | file[at + 2]);
    }
    return starts;
}

TEST_F(GuideCacheTest, AFileCutShortAnywhereGivesNothing) {
    const Bytes whole = SavedBytes(Table());
    const std::vector<size_t> starts = RecordStarts(whole);
    ASSERT_EQ(starts.size(), 10u);  // 3 services, 6 sections, the end record

    // Every length short of the whole: every record boundary, inside the
    // header, inside each record's header and its payload, inside the checksum.
    for (size_t length = 0; length < whole.size(); ++length) {
        platform.files[kBeside].assign(whole.begin(), whole.begin() + length);
        RecordingSink sink;
        const GuideCacheStatus status = Load(sink);
        EXPECT_EQ(status, length == 0 ? GuideCacheStatus::kEmpty : GuideCacheStatus::kTruncated)
            << "cut at " << length;
        EXPECT_TRUE(sink.Empty()) << "cut at " << length;
        EXPECT_STRNE(GuideCacheStatusText(status), "");
    }
    EXPECT_TRUE(platform.openFiles.empty());
}

TEST_F(GuideCacheTest, AByteChangedAnywhereGivesNothing) {
    const Bytes whole = SavedBytes(Table());
    for (size_t at = 0; at < whole.size(); ++at) {
        for (uint8_t flip : {0x01, 0x80}) {
            Bytes file = whole;
            file[at] ^= flip;
            platform.files[kBeside] = file;
            RecordingSink sink;
            const GuideCacheStatus status = Load(sink);
            EXPECT_TRUE(sink.Empty()) << "byte " << at;
            if (at < 8) {
                EXPECT_EQ(status, GuideCacheStatus::kNotOurs) << "byte " << at;
            } else if (at < 12) {
                EXPECT_EQ(status, GuideCacheStatus::kOtherVersion) << "byte " << at;
            } else {
                // A length made longer runs past the end of the file.
                EXPECT_TRUE(status == GuideCacheStatus::kCorrupt || status == GuideCacheStatus::kTruncated)
                    << "byte " << at << " status " << static_cast<int>(status);
            }
            // A load never writes.
            EXPECT_EQ(platform.files[kBeside], file);
        }
    }
}

// A file with the given records and a right checksum: the structure checks
// alone must refuse what cannot be.
Bytes Sealed(const std::vector<Bytes>& records, uint32_t version = kGuideCacheVersion) {
    Bytes f(kGuideCacheMagic, kGuideCacheMagic + 8);
    for (int shift = 24; shift >= 0; shift -= 8) f.push_back(static_cast<uint8_t>(version >> shift));
    for (const Bytes& r : records) f.insert(f.end(), r.begin(), r.end());
    f.push_back(kGuideCacheEndRecord);
    f.push_back(0);
    f.push_back(4);
    const uint32_t crc = Crc32Mpeg2(f.data(), f.size());
    for (int shift = 24; shift >= 0; shift -= 8) f.push_back(static_cast<uint8_t>(crc >> shift));
    return f;
}

Bytes Record(uint8_t type, const Bytes& payload) {
    Bytes r = {type, static_cast<uint8_t>(payload.size() >> 8), static_cast<uint8_t>(payload.size())};
    r.insert(r.end(), payload.begin(), payload.end());
    return r;
}

Bytes ServiceRecord(const GuideCacheService& s) {
    Bytes r(kGuideCacheMaxRecord);
    r.resize(static_cast<size_t>(EncodeGuideCacheService(s, r.data())));
    return r;
}

TEST_F(GuideCacheTest, DamagedFilesGiveNothingAndSayWhy) {
    const Bytes service = ServiceRecord(Info(0x0400, "A", 27));
    const Bytes section = Schedule(0x0400, 0x50, 0, 23, 0, 30);
    Bytes badTable = section;
    badTable[0] = 0x42;
    build::Reseal(badTable);
    Bytes badLength = section;
    badLength[2] += 1;  // section_length one longer than the record
    Bytes nameWithNul = service;
    nameWithNul.back() = 0;
    Bytes badFlags = service;
    badFlags[3 + 26] = 0x02;
    Bytes negativeList = service;
    negativeList[3 + 22] = 0x80;
    Bytes longName = Record(kGuideCacheServiceRecord, Bytes(kGuideCacheServiceFixedSize + 64, 'a'));
    longName[3 + 27] = 64;
    const Bytes good = Sealed({service, Record(kGuideCacheSectionRecord, section)});
    Bytes trailing = good;
    trailing.push_back(0);
    Bytes twoEnds = good;
    twoEnds.insert(twoEnds.end(), good.end() - 7, good.end());

    struct Case {
        const char* what;
        Bytes file;
        GuideCacheStatus status;
    } cases[] = {
        {"empty", Bytes(), GuideCacheStatus::kEmpty},
        {"a settings file", Bytes{'[', 'G', 'U', 'I', 'D', 'E', ']', '\r', '\n', 'L', 'e', 'f', 't'},
         GuideCacheStatus::kNotOurs},
        {"two bytes not ours", Bytes{'M', 'Z'}, GuideCacheStatus::kNotOurs},
        {"the magic alone", Bytes(kGuideCacheMagic, kGuideCacheMagic + 8), GuideCacheStatus::kTruncated},
        {"version 2", Sealed({service}, 2), GuideCacheStatus::kOtherVersion},
        {"version 0", Sealed({service}, 0), GuideCacheStatus::kOtherVersion},
        {"a section before any service", Sealed({Record(kGuideCacheSectionRecord, section), service}),
         GuideCacheStatus::kCorrupt},
        {"a record of unknown type", Sealed({service, Record(0x03, Bytes(4, 0))}), GuideCacheStatus::kCorrupt},
        {"a section of another table", Sealed({service, Record(kGuideCacheSectionRecord, badTable)}),
         GuideCacheStatus::kCorrupt},
        {"a section whose length disagrees", Sealed({service, Record(kGuideCacheSectionRecord, badLength)}),
         GuideCacheStatus::kCorrupt},
        {"a section too short", Sealed({service, Record(kGuideCacheSectionRecord, Bytes(section.begin(), section.begin() + 17))}),
         GuideCacheStatus::kCorrupt},
        {"a section longer than 4096", Sealed({service, Record(kGuideCacheSectionRecord, Bytes(4097, 0x50))}),
         GuideCacheStatus::kCorrupt},
        {"a service name with a NUL", Sealed({nameWithNul}), GuideCacheStatus::kCorrupt},
        {"a service name of 64 bytes", Sealed({longName}), GuideCacheStatus::kCorrupt},
        {"unknown service flags", Sealed({badFlags}), GuideCacheStatus::kCorrupt},
        {"a negative programme count", Sealed({negativeList}), GuideCacheStatus::kCorrupt},
        {"an end record of 5 bytes", Sealed({service, Record(kGuideCacheEndRecord, Bytes(5, 0))}),
         GuideCacheStatus::kCorrupt},
        {"a byte after the end", trailing, GuideCacheStatus::kCorrupt},
        {"a second end record", twoEnds, GuideCacheStatus::kCorrupt},
    };
    for (const Case& c : cases) {
        platform.files[kBeside] = c.file;
        RecordingSink sink;
        EXPECT_EQ(Load(sink), c.status) << c.what;
        EXPECT_TRUE(sink.Empty()) << c.what;
        EXPECT_STRNE(GuideCacheStatusText(c.status), "") << c.what;
    }

    // The same records sealed right are read.
    platform.files[kBeside] = good;
    RecordingSink sink;
    EXPECT_EQ(Load(sink), GuideCacheStatus::kLoaded);
    ASSERT_EQ(sink.services.size(), 1u);
    EXPECT_EQ(sink.services[0].sections, std::vector<Bytes>{section});
}

TEST_F(GuideCacheTest, AFileThatCannotBeReadGivesNothingAndSaysWhy) {
    const Bytes whole = SavedBytes(Table());
    struct Case {
        const char* what;
        void (*set)(FakePlatform&);
        GuideCacheStatus status;
    } cases[] = {
        {"no file yet", [](FakePlatform& p) { p.files.erase(kBeside); }, GuideCacheStatus::kNoFile},
        {"a folder at its place",
         [](FakePlatform& p) {
             p.files.erase(kBeside);
             p.directories.insert(kBeside);
         },
         GuideCacheStatus::kIsDirectory},
        {"cannot be opened", [](FakePlatform& p) { p.failOpen.insert(kBeside); }, GuideCacheStatus::kUnreadable},
        {"a read fails", [](FakePlatform& p) { p.failReads = true; }, GuideCacheStatus::kUnreadable},
    };
    for (const Case& c : cases) {
        FakePlatform p;
        p.files[kBeside] = whole;
        c.set(p);
        RecordingSink sink;
        EXPECT_EQ(LoadGuideCache(load, p, paths, kNow, sink, *buffer_), c.status) << c.what;
        EXPECT_TRUE(sink.Empty()) << c.what;
        EXPECT_TRUE(p.openFiles.empty()) << c.what;
        EXPECT_EQ(std::string(GuideCacheStatusText(c.status)).empty(),
                  c.status == GuideCacheStatus::kNoFile)
            << c.what;
    }
}

// A read that fails in the second pass, after the first found the file
// sound, stops the hand-over; what was handed is the sink's to drop.
TEST_F(GuideCacheTest, AReadErrorIsNeverALoad) {
    std::vector<Service> table = Table();
    for (int i = 0; i < 40; ++i) table[0].sections.push_back(LongestSection(0x0400));
    ASSERT_EQ(Save(table).status, GuideCacheStatus::kSaved);
    RecordingSink sink;
    ASSERT_EQ(BeginGuideCacheLoad(load, platform, paths, kNow, *buffer_), GuideCacheStatus::kLoading);
    GuideCacheStatus status = GuideCacheStatus::kLoading;
    while (status == GuideCacheStatus::kLoading && load.pass == 1) status = ContinueGuideCacheLoad(load, sink, 1);
    platform.failReads = true;
    while (status == GuideCacheStatus::kLoading) status = ContinueGuideCacheLoad(load, sink, 1);
    EXPECT_EQ(status, GuideCacheStatus::kUnreadable);
    EXPECT_TRUE(platform.openFiles.empty());
}

TEST_F(GuideCacheTest, ACancelledLoadClosesTheFile) {
    ASSERT_EQ(Save(Table()).status, GuideCacheStatus::kSaved);
    RecordingSink sink;
    ASSERT_EQ(BeginGuideCacheLoad(load, platform, paths, kNow, *buffer_), GuideCacheStatus::kLoading);
    EXPECT_EQ(platform.openFiles.size(), 1u);
    CancelGuideCacheLoad(load);
    EXPECT_TRUE(platform.openFiles.empty());
    EXPECT_NE(ContinueGuideCacheLoad(load, sink, 1), GuideCacheStatus::kLoading);
    EXPECT_TRUE(sink.Empty());
}

// --- A store with room for fewer services than the file ---------------------

// The services handed over are the ones the store keeps itself when full:
// first those with a programme still to come, then the one watched when
// the file was saved, then the latest watched (never-watched ones last),
// among equals the later in the file; a service
// the store holds already takes no room. The sections of each service
// handed over come whole, in the file's order.
TEST_F(GuideCacheTest, AStoreWithLessRoomGetsTheServicesItWouldKeep) {
    // Stamps in hours before now (0 never watched); `ended` services hold
    // only a programme that has ended.
    const struct {
        uint16_t id;
        int hoursAgo;
        bool ended;
    } file[] = {
        {0x0501, 0, false}, {0x0502, 5, false}, {0x0503, 9, false}, {0x0504, 0, false},
        {0x0505, 1, false}, {0x0506, 2, true},  {0x0507, 3, false},
    };
    std::vector<Service> table;
    for (const auto& f : file) {
        Service s;
        s.info = Info(f.id, "", 0);
        s.info.lastWatched = f.hoursAgo == 0 ? 0 : kNow - f.hoursAgo * 3600;
        // The one watched when the file was saved: since 9 hours ago.
        s.info.watched = f.id == 0x0503;
        s.sections.push_back(Schedule(f.id, 0x50, 0, f.ended ? 10 : 23, 0, 30));
        s.sections.push_back(Schedule(f.id, 0x50, 8, f.ended ? 11 : 23, 30, 30));
        table.push_back(s);
    }
    ASSERT_EQ(Save(table).status, GuideCacheStatus::kSaved);

    const struct {
        const char* what;
        int32_t room;
        std::vector<uint16_t> held;
        std::vector<uint16_t> handed;  // in the file's order
    } cases[] = {
        {"room for all", 7, {}, {0x0501, 0x0502, 0x0503, 0x0504, 0x0505, 0x0506, 0x0507}},
        {"room for three: the one watched at the save, then the latest watched", 3, {},
         {0x0503, 0x0505, 0x0507}},
        {"nothing to come goes last", 6, {}, {0x0501, 0x0502, 0x0503, 0x0504, 0x0505, 0x0507}},
        {"never watched after every watched one, the later first", 5, {},
         {0x0502, 0x0503, 0x0504, 0x0505, 0x0507}},
        {"one held already takes no room", 1, {0x0501}, {0x0501, 0x0503}},
        {"the best held already leaves the room to the next", 1, {0x0503}, {0x0503, 0x0505}},
        {"no room: only those held", 0, {0x0503, 0x0506}, {0x0503, 0x0506}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        RecordingSink sink;
        sink.room = c.room;
        sink.held = c.held;
        ASSERT_EQ(Load(sink), GuideCacheStatus::kLoaded);
        std::vector<uint16_t> handed;
        for (const Service& s : sink.services) {
            handed.push_back(s.info.serviceId);
            const size_t i = static_cast<size_t>(s.info.serviceId - 0x0501);
            // Ended sections are left out as ever; the others come whole.
            EXPECT_EQ(s.sections.size(), file[i].ended ? 0u : 2u) << s.info.serviceId;
            EXPECT_TRUE(SameInfo(s.info, table[i].info));
        }
        EXPECT_EQ(handed, c.handed);
        EXPECT_EQ(load.servicesLeft, static_cast<int32_t>(table.size() - c.handed.size()));
    }
}

// More services than a load chooses among (a file no store wrote, or one
// of a larger budget than any): the best of them still come.
TEST_F(GuideCacheTest, TheBestServicesComeOfAFileOfVeryMany) {
    std::vector<Service> table;
    const int32_t count = kGuideCacheMostChosen + 100;
    for (int32_t i = 0; i < count; ++i) {
        Service s;
        s.info = Info(static_cast<uint16_t>(0x1000 + i), "", 0);
        // The watched ones are spread through the file, the latest last.
        s.info.lastWatched = i % 100 == 7 ? kNow - 3600 * 24 + i : 0;
        s.info.watched = false;
        s.sections.push_back(Schedule(s.info.serviceId, 0x50, 0, 23, 0, 30));
        table.push_back(s);
    }
    ASSERT_EQ(Save(table).status, GuideCacheStatus::kSaved);
    RecordingSink sink;
    sink.room = 3;
    ASSERT_EQ(Load(sink), GuideCacheStatus::kLoaded);
    std::vector<uint16_t> handed;
    for (const Service& s : sink.services) handed.push_back(s.info.serviceId);
    EXPECT_EQ(handed, (std::vector<uint16_t>{0x1000 + 407, 0x1000 + 507, 0x1000 + 607}));
}

// --- A save that fails ------------------------------------------------------

TEST_F(GuideCacheTest, AFailedSaveLeavesTheOldFileWhole) {
    std::vector<Service> older = Table();
    older.resize(1);
    const Bytes old = SavedBytes(older);
    std::vector<Service> table = Table();
    for (int i = 0; i < 40; ++i) table[0].sections.push_back(LongestSection(0x0400));
    // The size of the new file, from a save elsewhere.
    int64_t newSize = 0;
    {
        FakePlatform p;
        VectorSource source(table);
        newSize = SaveGuideCache(p, paths, source, *buffer_).bytes;
        ASSERT_GT(newSize, 2 * kGuideCacheChunk);
    }

    struct Case {
        const char* what;
        int64_t diskFree;  // -1: room enough
        bool failFlush;
        bool failRename;
        GuideCacheStatus status;
    } cases[] = {
        {"disk full at once", 0, false, false, GuideCacheStatus::kWriteFailed},
        {"disk full in the header", 5, false, false, GuideCacheStatus::kWriteFailed},
        {"disk full in the first chunk", kGuideCacheChunk - 1, false, false, GuideCacheStatus::kWriteFailed},
        {"disk full after the first chunk", kGuideCacheChunk, false, false, GuideCacheStatus::kWriteFailed},
        {"disk full in the second chunk", kGuideCacheChunk + 7000, false, false, GuideCacheStatus::kWriteFailed},
        {"disk full in the checksum", newSize - 2, false, false, GuideCacheStatus::kWriteFailed},
        {"flush fails", -1, true, false, GuideCacheStatus::kWriteFailed},
        {"rename fails", -1, false, true, GuideCacheStatus::kRenameFailed},
    };
    for (const Case& c : cases) {
        platform.diskFreeBytes = c.diskFree;
        platform.failFlush = c.failFlush;
        platform.failRename = c.failRename;
        const GuideCacheSaveResult result = Save(table);
        EXPECT_EQ(result.status, c.status) << c.what;
        EXPECT_FALSE(result.local) << c.what;
        EXPECT_STRNE(GuideCacheStatusText(result.status), "") << c.what;
        EXPECT_EQ(platform.files[kBeside], old) << c.what;
        EXPECT_TRUE(NoTemporaryFile()) << c.what;
        EXPECT_TRUE(platform.openFiles.empty()) << c.what;
        EXPECT_EQ(platform.files.count(kLocal), 0u) << c.what;
    }

    // The old file still loads.
    platform.failReads = false;
    RecordingSink sink;
    ASSERT_EQ(Load(sink), GuideCacheStatus::kLoaded);
    ExpectSameTable(older, sink.services);
}

TEST_F(GuideCacheTest, AFolderAtThePlaceOfTheFileIsLeftAlone) {
    platform.directories.insert(kBeside);
    const GuideCacheSaveResult result = Save(Table());
    EXPECT_EQ(result.status, GuideCacheStatus::kRenameFailed);
    EXPECT_TRUE(NoTemporaryFile());
    EXPECT_EQ(platform.directories.count(kBeside), 1u);
}

TEST_F(GuideCacheTest, AnUnwritableHostFolderSendsTheCacheToTheLocalFolder) {
    const std::vector<Service> table = Table();
    platform.readOnlyFolders.insert("C:\\Host\\");
    platform.directories.insert("C:\\Users\\viewer\\AppData\\Local\\");
    GuideCacheSaveResult result = Save(table);
    ASSERT_EQ(result.status, GuideCacheStatus::kSaved);
    EXPECT_TRUE(result.local);
    EXPECT_EQ(platform.directories.count(kLocalFolder), 1u);
    EXPECT_EQ(platform.files.count(kBeside), 0u);
    ASSERT_EQ(platform.files.count(kLocal), 1u);
    EXPECT_TRUE(NoTemporaryFile());

    RecordingSink fromLocal;
    ASSERT_EQ(Load(fromLocal), GuideCacheStatus::kLoaded);
    EXPECT_TRUE(load.local);
    ExpectSameTable(table, fromLocal.services);

    // An old file left in the read-only host folder is not read while the
    // local one exists: the local one is the newer.
    platform.files[kBeside] = Bytes{'o', 'l', 'd'};
    RecordingSink notOld;
    EXPECT_EQ(Load(notOld), GuideCacheStatus::kLoaded);
    EXPECT_TRUE(load.local);

    // The folder writable again: the cache goes back beside the settings
    // and the local copy is removed.
    platform.readOnlyFolders.clear();
    std::vector<Service> newer = table;
    newer.pop_back();
    result = Save(newer);
    ASSERT_EQ(result.status, GuideCacheStatus::kSaved);
    EXPECT_FALSE(result.local);
    EXPECT_EQ(platform.files.count(kLocal), 0u);
    RecordingSink fromBeside;
    ASSERT_EQ(Load(fromBeside), GuideCacheStatus::kLoaded);
    EXPECT_FALSE(load.local);
    ExpectSameTable(newer, fromBeside.services);
}

TEST_F(GuideCacheTest, NowhereToSaveIsReported) {
    struct Case {
        const char* what;
        std::string localAppData;
        bool localReadOnly;
    } cases[] = {
        {"no local folder known", "", false},
        {"the local folder read-only too", "C:\\Users\\viewer\\AppData\\Local\\", true},
    };
    for (const Case& c : cases) {
        FakePlatform p;
        p.readOnlyFolders.insert("C:\\Host\\");
        p.localAppData = c.localAppData;
        if (c.localReadOnly) {
            p.readOnlyFolders.insert("C:\\Users\\viewer\\AppData\\Local\\");
            p.readOnlyFolders.insert(kLocalFolder);
        }
        GuideCachePaths ps;
        MakeGuideCachePaths(p, kSettingsPath, &ps);
        const std::vector<Service> table = Table();
        VectorSource tableSource(table);
        const GuideCacheSaveResult result = SaveGuideCache(p, ps, tableSource, *buffer_);
        EXPECT_EQ(result.status, GuideCacheStatus::kNowhereToSave) << c.what;
        EXPECT_STRNE(GuideCacheStatusText(result.status), "") << c.what;
        EXPECT_TRUE(p.files.empty()) << c.what;
    }
}

// --- Programmes that have ended ------------------------------------------------

TEST_F(GuideCacheTest, SectionsWhoseProgrammesHaveAllEndedAreNotLoaded) {
    build::EitHeader h = build::ScheduleHeader(0x0400, 0, 1, 0x50);
    build::EitEvent undeterminedStart = build::Event(0xFFFF, 0, 0, 0, 1, 0, 0);
    undeterminedStart.start[0] = undeterminedStart.start[1] = undeterminedStart.start[2] = 0xFF;
    build::EitEvent undeterminedDuration = build::Event(kMjd, 20, 0, 0, 0, 0, 0);
    undeterminedDuration.duration[0] = undeterminedDuration.duration[1] = undeterminedDuration.duration[2] = 0xFF;
    build::EitEvent endedLongAgo = build::Event(kMjd - 3, 20, 0, 0, 1, 0, 0);
    build::EitEvent openEndedLongAgo = build::Event(kMjd, 19, 0, 0, 0, 0, 0);
    openEndedLongAgo.eventId = 2;
    openEndedLongAgo.duration[0] = openEndedLongAgo.duration[1] = openEndedLongAgo.duration[2] = 0xFF;
    Bytes malformed = build::EitSection(h, {build::Event(kMjd, 20, 0, 0, 1, 0, 0)});
    malformed[14 + 10] = 0x0F;  // descriptors_loop_length past the section
    build::Reseal(malformed);

    struct Case {
        const char* what;
        Bytes section;
        bool loaded;
    } cases[] = {
        {"ended an hour ago", Schedule(0x0400, 0x50, 0, 20, 15, 60), false},
        {"ends exactly now", Schedule(0x0400, 0x50, 0, 21, 15, 60), false},
        {"ends a second after now",
         build::EitSection(h, {build::Event(kMjd, 21, 15, 1, 1, 0, 0)}), true},
        {"on air", Schedule(0x0400, 0x50, 0, 22, 0, 45), true},
        {"tomorrow", Schedule(0x0400, 0x58, 0, 6, 0, 30, kMjd + 1), true},
        {"ended days ago", build::EitSection(h, {endedLongAgo}), false},
        {"one ended, one to come",
         build::EitSection(h, {build::Event(kMjd, 20, 0, 0, 1, 0, 0), build::Event(kMjd, 23, 0, 0, 1, 0, 0)}), true},
        {"all three ended",
         build::EitSection(h, {build::Event(kMjd, 19, 0, 0, 1, 0, 0), build::Event(kMjd, 20, 0, 0, 1, 0, 0),
                               build::Event(kMjd, 21, 0, 0, 1, 0, 0)}),
         false},
        {"start undetermined", build::EitSection(h, {undeterminedStart}), true},
        {"duration undetermined, may still run", build::EitSection(h, {undeterminedDuration}), true},
        {"duration undetermined, three hours past its start", build::EitSection(h, {openEndedLongAgo}), false},
        {"duration undetermined, the next programme ended too",
         build::EitSection(h, {openEndedLongAgo, build::Event(kMjd, 20, 0, 0, 1, 0, 0)}), false},
        {"no events", build::EitSection(h, {}), true},
        {"an event loop that does not parse", malformed, true},
        {"present, ended", build::EitPfSection(0x0400, 0, {build::Event(kMjd, 21, 0, 0, 1, 0, 0)}), false},
        {"following, ended", build::EitPfSection(0x0400, 1, {build::Event(kMjd, 21, 0, 0, 0, 30, 0)}), false},
        {"present, on air", build::EitPfSection(0x0400, 0, {build::Event(kMjd, 22, 0, 0, 0, 45, 0)}), true},
        {"present of another stream, ended",
         build::EitPfSection(0x0101, 0, {build::Event(kMjd, 21, 0, 0, 1, 0, 0)}, 0, 4, 4, 0x4F), false},
    };
    for (const Case& c : cases) {
        std::vector<Service> table(1);
        table[0].info = Info(0x0400, "A", 27);
        table[0].sections = {c.section};
        ASSERT_EQ(Save(table).status, GuideCacheStatus::kSaved) << c.what;
        RecordingSink sink;
        ASSERT_EQ(Load(sink), GuideCacheStatus::kLoaded) << c.what;
        ASSERT_EQ(sink.services.size(), 1u) << c.what;
        EXPECT_EQ(sink.services[0].sections.size(), c.loaded ? 1u : 0u) << c.what;
        EXPECT_EQ(load.sectionsEnded, c.loaded ? 0 : 1) << c.what;
    }
}

}  // namespace
