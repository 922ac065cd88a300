// No heap allocation after construction: the packet path and the window
// handlers run inside the host's process on its threads, at up to 15,000
// packets per second, and must never call the allocator.
//
// This file replaces the global operator new and delete for the whole unit
// test binary. They only forward to malloc and free; counting happens only
// on a thread that has switched it on, so every other test is unaffected.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>
#ifdef _WIN32
#include <malloc.h>
#endif

#include "plugin/guide_cache.h"
#include "plugin/guide_keeper.h"
#include "plugin/guide_store.h"
#include "plugin/messages.h"
#include "plugin/plugin_core.h"
#include "plugin/plugin_state.h"
#include "plugin/router.h"
#include "plugin/settings.h"
#include "tests/support/quiet_platform.h"
#include "tests/support/real_data.h"
#include "tools/streamkit/caption_builder.h"
#include "tools/streamkit/stream_builder.h"
#include "tools/streamkit/test_multiplex.h"
#include "ts/caption_stream.h"
#include "ui/caption_view.h"
#include "ui/channel_buttons.h"
#include "ui/guide_view.h"
#include "ui/resource.h"
#include "ui/viewer.h"
#include "ui/viewer_menu.h"

namespace {

thread_local bool tCounting = false;
thread_local long tAllocations = 0;

void* Allocate(std::size_t size) {
    if (tCounting) ++tAllocations;
    void* p = std::malloc(size == 0 ? 1 : size);
    if (!p) throw std::bad_alloc();
    return p;
}

void* AllocateNoThrow(std::size_t size) noexcept {
    if (tCounting) ++tAllocations;
    return std::malloc(size == 0 ? 1 : size);
}

void* AllocateAligned(std::size_t size, std::align_val_t alignment) {
    if (tCounting) ++tAllocations;
    const std::size_t a = static_cast<std::size_t>(alignment);
    void* p = nullptr;
#ifdef _WIN32
    p = _aligned_malloc(size == 0 ? 1 : size, a);
#else
    if (posix_memalign(&p, a < sizeof(void*) ? sizeof(void*) : a, size == 0 ? 1 : size) != 0) p = nullptr;
#endif
    if (!p) throw std::bad_alloc();
    return p;
}

void FreeAligned(void* p) noexcept {
#ifdef _WIN32
    _aligned_free(p);
#else
    std::free(p);
#endif
}

// Counts operator new calls made on this thread while alive.
class AllocationCounter {
public:
    AllocationCounter() {
        tAllocations = 0;
        tCounting = true;
    }
    ~AllocationCounter() { tCounting = false; }
    long Stop() {
        tCounting = false;
        return tAllocations;
    }
};

// Feeds the buffer in host-sized pieces and handles the messages after each.
void RouteAndPump(PluginState& state, QuietPlatform& platform, const uint8_t* data, size_t size) {
    const size_t piece = 188 * 64;
    for (size_t o = 0; o < size; o += piece) {
        const size_t n = size - o < piece ? size - o : piece;
        ViewerStreamData(state, data + o, static_cast<uint32_t>(n));
        platform.Pump(state);
    }
}

TEST(Allocation, CounterSeesOperatorNew) {
    // Guards the test below: if the replacement were not in effect, a count
    // of zero would prove nothing.
    AllocationCounter counter;
    std::unique_ptr<int> p(new int(1));
    std::vector<int> v(10);
    EXPECT_EQ(counter.Stop(), 2);
}

// The state on the heap, as the DLL's object holds it, with its window.
struct WindowedPlugin {
    QuietPlatform platform;
    std::unique_ptr<PluginState> state;
    WindowedPlugin() : state(new PluginState) {
        InitPluginState(*state, &platform);
        state->hasWindow = true;
    }
};

TEST(Allocation, PacketPathAndWindowHandlersAllocateNothingAfterConstruction) {
    build::MultiplexOptions options;
    options.cycles = 6;
    options.eventDetails = true;  // genres and extended items: the tooltip's work too
    const std::vector<uint8_t> stream = build::BuildTestMultiplex(options);
    const size_t half = (stream.size() / 2) / 188 * 188;

    WindowedPlugin plugin;
    QuietPlatform& platform = plugin.platform;
    PluginState& state = *plugin.state;

    AllocationCounter counter;
    LoadSettingsBeforeWindow(state);
    LoadChannelTable(state);
    ViewerInitialised(state);
    PluginOnChannelChange(state, 27, build::kMuxOneSegService);
    ViewerCommand(state, IDC_ONESEG_RECORD);
    RouteAndPump(state, platform, stream.data(), half);
    ViewerCommand(state, IDC_PRESENT_FOLLOWING);
    RouteAndPump(state, platform, stream.data() + half, stream.size() - half);
    ViewerCommand(state, IDC_RECORD_REQUEST);
    ViewerCommand(state, IDC_PRESENT_FOLLOWING);
    ViewerCommand(state, IDC_RECORD_REQUEST);
    ViewerMoved(state);
    ViewerCommand(state, IDC_CH1);
    ViewerCommand(state, IDC_ONESEG_RECORD);
    PluginOnChannelChange(state, 28, build::kMuxFullSegService);
    RouteAndPump(state, platform, stream.data(), half);
    ViewerCommand(state, IDC_CLOSE);
    const long allocations = counter.Stop();

    EXPECT_EQ(allocations, 0);
    // The run did the work it claims to: every handler ran, texts were set,
    // the recording was written.
    EXPECT_EQ(platform.dropped, 0);
    EXPECT_GT(platform.presentHandled, 0);
    EXPECT_GT(platform.followingHandled, 0);
    EXPECT_GT(platform.sdtHandled, 0);
    EXPECT_GT(platform.controlTexts, 0);
    EXPECT_GT(platform.titles, 0);
    EXPECT_GT(platform.toolTips - platform.emptyToolTips, 0);
    EXPECT_GT(platform.ownerPosts, 0);
    EXPECT_EQ(platform.tunes, 1);
    EXPECT_EQ(platform.creates, 1);
    EXPECT_GT(platform.bytesWritten, 0u);
    EXPECT_EQ(platform.bytesWritten % 188, 0u);
}

// The guide: schedule sections of the watched service, basic and extended,
// several versions, filed while the guide window is open, its rows and
// details read, a request sent and the service changed.
TEST(Allocation, GuideStoreAndWindowAllocateNothingAfterConstruction) {
    std::vector<uint8_t> stream;
    build::StreamBuilder sb;
    const auto append = [&stream](const std::vector<uint8_t>& b) { stream.insert(stream.end(), b.begin(), b.end()); };
    append(sb.Stream(0x0014, {build::TotSection(0xEFC6, 0x21, 0x30, 0x00)}));
    for (uint8_t version = 0; version < 3; ++version) {
        std::vector<std::vector<uint8_t>> sections;
        for (uint8_t segment = 0; segment < 8; ++segment) {
            for (uint8_t table : {0x50, 0x58}) {
                build::EitHeader h = build::ScheduleHeader(build::kMuxOneSegService,
                                                           static_cast<uint8_t>(segment * 8), version, table);
                h.segmentLastSectionNumber = h.sectionNumber;
                h.lastTableId = 0x58;
                std::vector<build::EitEvent> events;
                for (int i = 0; i < 3; ++i) {
                    const std::vector<uint8_t> title(40, static_cast<uint8_t>(0x30 + i));
                    const std::vector<uint8_t> descriptors =
                        table == 0x50 ? build::Cat({build::ShortEventDescriptor(title, title),
                                                    build::Descriptor(0x54, {0x30, 0xFF})})
                                      : build::ExtendedEventDescriptor(0, 0, {{title, title}}, std::vector<uint8_t>());
                    build::EitEvent e = build::Event(0xEFC6, segment * 3 + i, 0, 0, 1, 0, 0, descriptors);
                    e.eventId = static_cast<uint16_t>(0x100 + segment * 8 + i);
                    events.push_back(e);
                }
                sections.push_back(build::EitSection(h, events));
            }
        }
        append(sb.Stream(0x0012, sections));
    }

    WindowedPlugin plugin;
    QuietPlatform& platform = plugin.platform;
    PluginState& state = *plugin.state;

    AllocationCounter counter;
    LoadSettingsBeforeWindow(state);
    PluginOnChannelChange(state, 27, build::kMuxOneSegService);
    ViewerCommand(state, IDC_GUIDE_OPEN);
    GuideInitialised(state);
    RouteAndPump(state, platform, stream.data(), stream.size());
    // The grid of the whole day, a pixel a minute: every programme's cell
    // with its title.
    GridViewport& viewport = platform.guideView->viewport;
    viewport = DefaultGridViewport(28 + 160, 20 + 24 * 60);
    viewport.pixelsPerHour = 60;
    const GridLayout* layout = GuideLayout(state);
    int32_t filled = 0;
    for (int32_t i = 0; layout != nullptr && i < layout->cellCount; ++i) {
        filled += layout->cells[i].text[0] != '\0' ? 1 : 0;
    }
    GuideSelectProgramme(state, 0, 22);  // 22:00, half an hour after the clock
    GuideKeyPressed(state, GridKey::kUp);
    GuideKeyPressed(state, GridKey::kDown);
    GuideRequestPressed(state);
    GuideMoved(state, WindowPlacement{WindowShow::kNormal, ScreenRect{10, 20, 610, 420}, ScreenRect{10, 20, 610, 420}});
    GuideResized(state, WindowPlacement{WindowShow::kNormal, ScreenRect{10, 20, 610, 420}, ScreenRect{10, 20, 610, 420}});
    PluginOnChannelChange(state, 28, build::kMuxFullSegService);
    RouteAndPump(state, platform, stream.data(), stream.size());
    layout = GuideLayout(state);
    const int32_t cellsAfter = layout != nullptr ? layout->cellCount : -1;
    GuideClosed(state);
    const long allocations = counter.Stop();

    EXPECT_EQ(allocations, 0);
    EXPECT_EQ(platform.dropped, 0);
    EXPECT_GT(platform.guideHandled, 0);
    EXPECT_EQ(filled, 24);
    EXPECT_EQ(platform.ownerPosts, 1);
    // The service left keeps its column and its programmes; the new one has
    // no schedule here.
    EXPECT_EQ(cellsAfter, 24);
}

// Every service's guide: schedule sections of more services than the
// smallest budget holds (actual and other transport streams), their SDT
// names, a service change and a channel change: entries given and reused on
// the packet path, tables started again on the window thread, nothing
// allocated.
TEST(Allocation, MultiServiceGuideAllocatesNothingAfterConstruction) {
    build::StreamBuilder sb;
    std::vector<uint8_t> stream;
    const auto append = [&stream](const std::vector<uint8_t>& b) { stream.insert(stream.end(), b.begin(), b.end()); };
    append(sb.Stream(0x0014, {build::TotSection(0xEFC6, 0x21, 0x30, 0x00)}));
    for (int round = 0; round < 2; ++round) {
        for (uint16_t service = 0; service < 12; ++service) {
            const uint8_t table = service % 2 == 0 ? 0x50 : 0x60;
            build::EitHeader h = build::ScheduleHeader(static_cast<uint16_t>(0x0400 + service), 0,
                                                       static_cast<uint8_t>(round), table);
            h.lastTableId = table;
            if (table == 0x60) h.transportStreamId = 0x4010;
            build::EitEvent e = build::Event(0xEFC6, 22, 0, 0, 1, 0, 0,
                                             build::ShortEventDescriptor({0x41, 0x42}, {0x43}));
            append(sb.Stream(0x0012, {build::EitSection(h, {e})}));
        }
        append(sb.Stream(0x0011, {build::SdtSection(build::kDefaultTransportStreamId, build::kDefaultNetworkId,
                                                    {build::NamedService(0x0400, {0x41, 0x42})},
                                                    static_cast<uint8_t>(round))}));
    }

    WindowedPlugin plugin;
    QuietPlatform& platform = plugin.platform;
    PluginState& state = *plugin.state;
    // The budget as "[GUIDE] MemoryMB" would set it, before the window.
    LoadSettingsBeforeWindow(state);
    ApplyGuideBudget(state, kGuideLeastMemoryMB);

    AllocationCounter counter;
    PluginOnChannelChange(state, 27, 0x0400);
    ViewerCommand(state, IDC_GUIDE_OPEN);
    GuideInitialised(state);
    RouteAndPump(state, platform, stream.data(), stream.size());
    PluginOnChannelChange(state, 27, 0x0402);
    RouteAndPump(state, platform, stream.data(), stream.size());
    PluginOnChannelChange(state, 28, 0x0405);
    RouteAndPump(state, platform, stream.data(), stream.size());
    GuideServiceInfo info;
    int32_t listed = 0;
    for (int32_t i = 0; i < GuideServiceCount(state.guide); ++i) {
        if (GuideServiceAt(state.guide, i, info)) listed += info.listCount;
    }
    GuideClosed(state);
    const long allocations = counter.Stop();

    EXPECT_EQ(allocations, 0);
    EXPECT_EQ(GuideServiceCount(state.guide), GuideServicesForBudget(kGuideLeastMemoryMB));
    EXPECT_GT(listed, 0);
    EXPECT_GT(state.guide.pathWork.copies, 0u);
}

TEST(Allocation, CaptionSelectionHandOverAndViewAllocateNothingAfterConstruction) {
    // The one-segment PMT names the caption stream; a real caption stream
    // (DRCS, ruby, group A and B) follows as PES and TS packets.
    build::StreamBuilder sb;
    std::vector<uint8_t> stream = sb.Stream(
        kOneSegPmtPid, {build::PmtSection(build::kMuxOneSegService, build::kMuxOneSegPcrPid, build::Bytes(),
                                          {{0x1B, build::kMuxOneSegVideoPid, build::Bytes()},
                                           {0x06, 0x0187, build::Descriptor(kStreamIdentifierDescriptorTag, {0x87})}})});
    const std::vector<build::Bytes> payloads =
        build::SplitCaptionPayloads(ReadRealData("captions/samurai_flamenco_13.es"));
    uint64_t pts = 0;
    for (size_t i = 0; i < payloads.size() && i < 400; ++i) {
        pts += 45000;
        for (const build::Bytes& p : build::PesPackets(sb, 0x0187, build::PesPacketWithPts(pts, payloads[i]))) {
            stream.insert(stream.end(), p.begin(), p.end());
        }
    }

    WindowedPlugin plugin;
    QuietPlatform& platform = plugin.platform;
    PluginState& state = *plugin.state;

    AllocationCounter counter;
    LoadSettingsBeforeWindow(state);
    ViewerInitialised(state);
    PluginOnChannelChange(state, 27, build::kMuxOneSegService);
    ViewerCommand(state, IDM_VIEWER_CAPTIONS);
    const size_t half = (stream.size() / 2) / 188 * 188;
    RouteAndPump(state, platform, stream.data(), half);
    CaptionViewCommand(state, IDC_CAPTION_HOLD);
    RouteAndPump(state, platform, stream.data() + half, stream.size() - half);
    CaptionViewCommand(state, IDC_CAPTION_HOLD);
    const int32_t statements = state.captionReader.decoder.counts.statements;
    PluginOnChannelChange(state, 28, build::kMuxFullSegService);
    platform.Pump(state);
    ViewerCommand(state, IDM_VIEWER_CAPTIONS);
    const long allocations = counter.Stop();

    EXPECT_EQ(allocations, 0);
    EXPECT_EQ(platform.dropped, 0);
    EXPECT_GT(platform.captionsHandled, 5);
    EXPECT_GT(platform.captionTexts, 10);
    EXPECT_GT(platform.captionTextBytes, 1000u);
    EXPECT_GT(statements, 10);
    EXPECT_FALSE(platform.captionWindow);
}

// The programme table's cache: a save and a load go through the caller's
// buffer alone.
class FixedDisk : public QuietPlatform {
public:
    static const size_t kSize = 256 * 1024;
    FileHandle OpenReadFile(const char*, FileOpenError* error) override {
        *error = size_ == 0 ? FileOpenError::kNotFound : FileOpenError::kNone;
        position_ = 0;
        return size_ == 0 ? kInvalidFileHandle : 1;
    }
    int32_t ReadFile(FileHandle, uint8_t* data, uint32_t size) override {
        size_t n = size_ - position_ < size ? size_ - position_ : size;
        if (n > 1000) n = 1000;  // short reads: the buffer's carry-over too
        std::memcpy(data, file_ + position_, n);
        position_ += n;
        return static_cast<int32_t>(n);
    }
    FileHandle CreateReplacementFile(const char*) override {
        written_ = 0;
        return 2;
    }
    bool WriteFile(FileHandle, const uint8_t* data, uint32_t size) override {
        if (written_ + size > kSize) return false;
        std::memcpy(temporary_ + written_, data, size);
        written_ += size;
        return true;
    }
    void CloseFile(FileHandle) override {}
    bool FlushFile(FileHandle) override { return true; }
    bool RenameFileOver(const char*, const char*) override {
        std::memcpy(file_, temporary_, written_);
        size_ = written_;
        return true;
    }

private:
    uint8_t file_[kSize];
    uint8_t temporary_[kSize];
    size_t size_ = 0, written_ = 0, position_ = 0;
};

class CacheTable : public GuideCacheSource, public GuideCacheSink {
public:
    std::vector<std::vector<uint8_t>> sections;
    int32_t restoredSections = 0;
    int32_t ServiceCount() override { return 2; }
    void ServiceAt(int32_t i, GuideCacheService* out) override {
        std::memset(out, 0, sizeof *out);
        out->serviceId = static_cast<uint16_t>(0x0400 + i);
    }
    int32_t SectionCount(int32_t) override { return static_cast<int32_t>(sections.size()); }
    const uint8_t* SectionAt(int32_t, int32_t j, int32_t* length) override {
        *length = static_cast<int32_t>(sections[j].size());
        return sections[j].data();
    }
    int32_t RestoreService(const GuideCacheService&) override { return 0; }
    void RestoreSection(int32_t, const uint8_t*, int32_t) override { ++restoredSections; }
};

TEST(Allocation, GuideCacheSaveAndLoadAllocateNothing) {
    std::unique_ptr<FixedDisk> disk(new FixedDisk);
    std::unique_ptr<GuideCacheBuffer> buffer(new GuideCacheBuffer);
    std::unique_ptr<GuideCacheLoad> load(new GuideCacheLoad);
    CacheTable table;
    for (int i = 0; i < 40; ++i) {
        table.sections.push_back(build::EitSection(build::ScheduleHeader(0x0400, static_cast<uint8_t>(i)),
                                                   {build::Event(61383, 6, 0, 0, 1, 0, 0, build::Descriptor(0x4E, std::vector<uint8_t>(200, 0x41)))}));
    }
    GuideCachePaths paths;
    MakeGuideCachePaths(*disk, "C:\\Host\\Kestrin.ini", &paths);

    AllocationCounter counter;
    const GuideCacheSaveResult saved = SaveGuideCache(*disk, paths, table, *buffer);
    const GuideCacheStatus loaded = LoadGuideCache(*load, *disk, paths, 0, table, *buffer);
    const long allocations = counter.Stop();

    EXPECT_EQ(allocations, 0);
    EXPECT_EQ(saved.status, GuideCacheStatus::kSaved);
    EXPECT_EQ(loaded, GuideCacheStatus::kLoaded);
    EXPECT_EQ(table.restoredSections, 80);
}


// The programme table kept across restarts, through the store: a viewer
// reads the cache file a previous viewer saved (each section filed into its
// store), receives new versions of the schedule and saves the table again.
TEST(Allocation, GuideTableLoadFilingAndSaveThroughTheStoreAllocateNothing) {
    // Four services (the least budget holds six), programmes on 2026-12-10
    // at 23:00 (after the viewers' clock, 21:30 that day, so the load keeps
    // them), in versions 0 and 1.
    build::StreamBuilder sb;
    std::vector<uint8_t> streams[2];
    for (int version = 0; version < 2; ++version) {
        std::vector<uint8_t>& stream = streams[version];
        const auto append = [&stream](const std::vector<uint8_t>& b) {
            stream.insert(stream.end(), b.begin(), b.end());
        };
        append(sb.Stream(0x0014, {build::TotSection(0xEFC8, 0x21, 0x30, 0x00)}));
        for (uint16_t service = 0; service < 4; ++service) {
            const uint8_t table = service % 2 == 0 ? 0x50 : 0x60;
            build::EitHeader h = build::ScheduleHeader(static_cast<uint16_t>(0x0400 + service), 0,
                                                       static_cast<uint8_t>(version), table);
            h.lastTableId = table;
            if (table == 0x60) h.transportStreamId = 0x4010;
            build::EitEvent e = build::Event(0xEFC8, 23, 0, 0, 1, 0, 0,
                                             build::ShortEventDescriptor({0x41, static_cast<uint8_t>(0x42 + version)}, {0x43}));
            append(sb.Stream(0x0012, {build::EitSection(h, {e})}));
        }
    }
    std::unique_ptr<FixedDisk> disk(new FixedDisk);
    const auto viewer = [&disk]() {
        std::unique_ptr<PluginState> state(new PluginState);
        InitPluginState(*state, disk.get());
        state->hasWindow = true;
        LoadSettingsBeforeWindow(*state);
        ApplyGuideBudget(*state, kGuideLeastMemoryMB);
        return state;
    };
    const auto listed = [](const PluginState& state) {
        int32_t count = 0;
        GuideServiceInfo info;
        for (int32_t i = 0; i < GuideServiceCount(state.guide); ++i) {
            if (GuideServiceAt(state.guide, i, info)) count += info.listCount;
        }
        return count;
    };
    {
        std::unique_ptr<PluginState> first = viewer();
        PluginOnChannelChange(*first, 27, 0x0400);
        RouteAndPump(*first, *disk, streams[0].data(), streams[0].size());
        ASSERT_EQ(listed(*first), 4);
        ASSERT_EQ(SaveGuideTable(*first), GuideCacheStatus::kSaved);
    }
    std::unique_ptr<PluginState> next = viewer();
    PluginState& state = *next;

    AllocationCounter counter;
    const bool reading = BeginGuideTableLoad(state);
    GuideCacheStatus loaded = GuideCacheStatus::kLoading;
    while (reading && loaded == GuideCacheStatus::kLoading) loaded = ContinueGuideTableLoad(state);
    const int32_t listedAfterLoad = listed(state);
    PluginOnChannelChange(state, 27, 0x0400);
    RouteAndPump(state, *disk, streams[1].data(), streams[1].size());
    const uint32_t revision = GuideRevision(state.guide);
    const GuideCacheStatus saved = SaveGuideTable(state);
    const long allocations = counter.Stop();

    EXPECT_EQ(allocations, 0);
    EXPECT_TRUE(reading);
    EXPECT_EQ(loaded, GuideCacheStatus::kLoaded);
    EXPECT_EQ(listedAfterLoad, 4);
    EXPECT_GT(revision, 0u);
    EXPECT_EQ(saved, GuideCacheStatus::kSaved);
    EXPECT_EQ(state.keeper.savedRevision, revision);
}

}  // namespace

void* operator new(std::size_t size) { return Allocate(size); }
void* operator new[](std::size_t size) { return Allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return AllocateNoThrow(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return AllocateNoThrow(size); }
void* operator new(std::size_t size, std::align_val_t a) { return AllocateAligned(size, a); }
void* operator new[](std::size_t size, std::align_val_t a) { return AllocateAligned(size, a); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { FreeAligned(p); }
void operator delete[](void* p, std::align_val_t) noexcept { FreeAligned(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { FreeAligned(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { FreeAligned(p); }
