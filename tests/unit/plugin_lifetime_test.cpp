// The plug-in state's lifetime: the owner (the plug-in object) lets it go
// on any thread, never waiting, and a window handler that started before
// keeps it until it ends. Run under AddressSanitizer or ThreadSanitizer, a
// state freed under a running handler shows as a use after free or a race.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <ostream>
#include <thread>
#include <vector>

#include "plugin/messages.h"
#include "plugin/plugin_lifetime.h"
#include "plugin/plugin_state.h"
#include "tests/support/fake_platform.h"
#include "tools/streamkit/arib_encoder.h"
#include "tools/streamkit/caption_builder.h"
#include "tools/streamkit/stream_builder.h"
#include "tools/streamkit/test_multiplex.h"
#include "ts/caption_stream.h"
#include "ui/channel_buttons.h"
#include "ui/guide_view.h"
#include "ui/resource.h"
#include "ui/viewer.h"
#include "ui/viewer_menu.h"

namespace {

using build::Bytes;

// What the shell allocates once per plug-in object: the state and its
// platform, freed together.
struct Instance {
    FakePlatform platform;
    PluginState state;
    Instance() {
        InitPluginState(state, &platform);
        state.hasWindow = true;
    }
};

// Which thread freed an instance, and how often instances were freed.
std::mutex g_freedMutex;
int g_frees = 0;
std::thread::id g_freedOn;

void FreeInstance(void* owner) {
    delete static_cast<Instance*>(owner);
    std::lock_guard<std::mutex> guard(g_freedMutex);
    ++g_frees;
    g_freedOn = std::this_thread::get_id();
}

int Frees() {
    std::lock_guard<std::mutex> guard(g_freedMutex);
    return g_frees;
}

struct Listed {
    Instance* instance;
    PluginHandle handle;
};

Listed NewListed() {
    Instance* instance = new Instance;
    const PluginHandle handle = ListPlugin(instance->state, FreeInstance, instance);
    return Listed{instance, handle};
}

TEST(PluginLifetime, HandlesNameTheirStateUntilItsOwnerLetsGo) {
    const int freesBefore = Frees();
    const Listed a = NewListed();
    const Listed b = NewListed();
    ASSERT_NE(a.handle, 0u);
    ASSERT_NE(b.handle, 0u);
    EXPECT_NE(a.handle, b.handle);
    {
        PluginHold holdA(a.handle);
        PluginHold holdB(b.handle);
        EXPECT_EQ(holdA.State(), &a.instance->state);
        EXPECT_EQ(holdB.State(), &b.instance->state);
    }
    EXPECT_EQ(PluginHold(0).State(), nullptr);
    // Nothing holds it: freed on the spot, on this thread.
    EXPECT_FALSE(ReleasePlugin(a.instance->state));
    EXPECT_EQ(Frees(), freesBefore + 1);
    EXPECT_EQ(PluginHold(a.handle).State(), nullptr) << "a released handle names nothing";
    // A state listed later never takes an old handle.
    const Listed c = NewListed();
    EXPECT_NE(c.handle, a.handle);
    EXPECT_EQ(PluginHold(c.handle).State(), &c.instance->state);
    EXPECT_EQ(PluginHold(b.handle).State(), &b.instance->state);
    EXPECT_FALSE(ReleasePlugin(b.instance->state));
    EXPECT_FALSE(ReleasePlugin(c.instance->state));
    EXPECT_EQ(Frees(), freesBefore + 3);
}

// Holds nest (a handler inside another); the owner lets go between them; the
// last one out frees.
TEST(PluginLifetime, TheLastHoldFreesTheState) {
    const int freesBefore = Frees();
    const Listed a = NewListed();
    {
        PluginHold outer(a.handle);
        ASSERT_NE(outer.State(), nullptr);
        {
            PluginHold inner(a.handle);
            ASSERT_NE(inner.State(), nullptr);
            EXPECT_TRUE(ReleasePlugin(a.instance->state)) << "handlers still hold it";
            EXPECT_EQ(PluginHold(a.handle).State(), nullptr) << "no new hold once released";
        }
        EXPECT_EQ(Frees(), freesBefore);
        // Still whole for the outer handler.
        EXPECT_EQ(outer.State()->platform, &a.instance->platform);
    }
    EXPECT_EQ(Frees(), freesBefore + 1);
}

// A free function that itself takes a hold (a shell whose teardown asks
// whether another window's state is still there) runs after the list's
// lock is let go, whoever frees: the owner's release or the last handler's
// end. Run on a thread of its own with a bounded wait: were the lock still
// held, the thread would wait on itself for good.
struct HoldingFree {
    Instance* instance;
    PluginHandle other;
    PluginState* found;
};

void FreeTakingAHold(void* owner) {
    HoldingFree* f = static_cast<HoldingFree*>(owner);
    {
        PluginHold hold(f->other);
        f->found = hold.State();
    }
    FreeInstance(f->instance);
}

TEST(PluginLifetime, AFreeFunctionMayTakeAHold) {
    const struct {
        const char* name;
        bool byHandler;  // the last handler's end frees, not the release
    } cases[] = {{"freed by the owner's release", false}, {"freed by the last handler's end", true}};
    for (const auto& c : cases) {
        const int freesBefore = Frees();
        const Listed other = NewListed();
        HoldingFree f = {new Instance, other.handle, nullptr};
        const PluginHandle handle = ListPlugin(f.instance->state, FreeTakingAHold, &f);
        const auto done = std::make_shared<std::promise<void>>();
        std::future<void> finished = done->get_future();
        std::thread([done, &f, handle, byHandler = c.byHandler] {
            if (byHandler) {
                PluginHold hold(handle);
                ReleasePlugin(f.instance->state);
            } else {
                ReleasePlugin(f.instance->state);
            }
            done->set_value();
        }).detach();
        if (finished.wait_for(FakeGate::kStuck) != std::future_status::ready) {
            // The stuck thread holds the list's lock: every later test would
            // hang on it.
            std::fprintf(stderr, "%s: the free function waited for the list's lock it was run under\n", c.name);
            std::fflush(stderr);
            std::_Exit(1);
        }
        EXPECT_EQ(f.found, &other.instance->state) << c.name;
        EXPECT_EQ(Frees(), freesBefore + 1) << c.name;
        EXPECT_FALSE(ReleasePlugin(other.instance->state)) << c.name;
    }
}

// --- The owner lets go on another thread while a handler is inside ---------

const uint16_t kService = 0x0400;
const uint16_t kMjd = 0xEFC6;  // 2026-12-08

void Route(PluginState& s, const Bytes& packets) {
    ViewerStreamData(s, packets.data(), static_cast<uint32_t>(packets.size()));
}

// A handler's work waiting for the window: what `prepare` leaves posted;
// the handler is the window thread's pump of it, where `start` (if any) is
// what the window does first.
struct HandlerCase {
    const char* name;
    std::function<void(PluginState&, FakePlatform&)> prepare;
    std::function<void(PluginState&)> start;
};

void PrintTo(const HandlerCase& c, std::ostream* os) { *os << c.name; }

// The present event's text: formatting the section, then the controls.
void PrepareEventText(PluginState& s, FakePlatform&) {
    LoadSettingsBeforeWindow(s);
    ViewerInitialised(s);
    PluginOnChannelChange(s, 27, build::kMuxOneSegService);
    build::MultiplexOptions options;
    options.cycles = 1;
    options.packetsPerCycle = 0;
    options.eventDetails = true;
    Route(s, build::BuildTestMultiplex(options));
}

// Filing schedule sections while the guide is open: its rows, then the
// selection's details.
void PrepareGuideFiling(PluginState& s, FakePlatform& platform) {
    LoadSettingsBeforeWindow(s);
    ViewerInitialised(s);
    PluginOnChannelChange(s, 27, kService);
    platform.Pump(s);
    ViewerCommand(s, IDC_GUIDE_OPEN);
    GuideInitialised(s);
    std::vector<build::EitEvent> events;
    for (int i = 0; i < 8; ++i) {
        const Bytes title = EncodeAribFromUtf8("番組");
        build::EitEvent e = build::Event(kMjd, 20 + i / 4, (i % 4) * 15, 0, 0, 15, 0,
                                         build::Cat({build::ShortEventDescriptor(title, title),
                                                     build::Descriptor(0x54, {0x30, 0xFF})}));
        e.eventId = static_cast<uint16_t>(0x1000 + i);
        events.push_back(e);
    }
    build::StreamBuilder sb;
    Route(s, sb.Stream(0x0012, {build::EitSection(build::ScheduleHeader(kService, 0), events)}));
}

// The selection of a guide row: its details and the request button.
void PrepareGuideSelection(PluginState& s, FakePlatform& platform) {
    PrepareGuideFiling(s, platform);
    platform.Pump(s);
}

// Decoding a caption statement with the caption view open.
void PrepareCaptions(PluginState& s, FakePlatform& platform) {
    LoadSettingsBeforeWindow(s);
    ViewerInitialised(s);
    ViewerCommand(s, IDM_VIEWER_CAPTIONS);
    build::StreamBuilder sb;
    const Bytes tag = build::Descriptor(kStreamIdentifierDescriptorTag, {0x87});
    Route(s, sb.Stream(kOneSegPmtPid, {build::PmtSection(0x0408, 0x01FF, Bytes(), {{0x06, 0x0187, tag}})}));
    platform.Pump(s);
    uint64_t pts = 0;
    for (const Bytes& payload :
         {build::CaptionPesPayload(build::DataGroup(0x00, 0, build::ManagementData({"jpn"}))),
          build::CaptionPesPayload(build::DataGroup(
              0x01, 0, build::StatementData({build::StatementBody(EncodeAribFromUtf8("字幕の試験"))})))}) {
        pts += 45000;
        Route(s, build::Join(build::PesPackets(sb, 0x0187, build::PesPacketWithPts(pts, payload))));
    }
}

class ReleasedDuringAHandler : public ::testing::TestWithParam<HandlerCase> {};

// The window's thread is inside the handler (held at its first control
// change); the object goes on another thread. The release returns without
// waiting for the window, the state stays whole for the rest of the
// handler, and the handler frees it as it ends.
TEST_P(ReleasedDuringAHandler, TheStateOutlivesTheHandlerAndTheReleaseDoesNotWait) {
    const HandlerCase& c = GetParam();
    const int freesBefore = Frees();
    const Listed listed = NewListed();
    Instance* instance = listed.instance;
    c.prepare(instance->state, instance->platform);
    FakeGate& gate = instance->platform.handlerGate;
    gate.Close();

    std::thread window([&c, handle = listed.handle] {
        PluginHold hold(handle);
        if (hold.State() == nullptr) return;
        if (c.start) c.start(*hold.State());
        FakePlatform& platform = static_cast<FakePlatform&>(*hold.State()->platform);
        platform.Pump(*hold.State());
    });
    const std::thread::id windowId = window.get_id();
    if (!gate.WaitForArrivals(1)) {
        gate.Open();
        window.join();
        FAIL() << "the handler changed no control";
    }

    std::promise<bool> released;
    std::future<bool> releasedResult = released.get_future();
    std::thread owner([instance, &released] { released.set_value(ReleasePlugin(instance->state)); });
    const bool returned = releasedResult.wait_for(FakeGate::kStuck) == std::future_status::ready;
    EXPECT_TRUE(returned) << "the release waited for the window's thread";
    if (!returned) gate.Open();
    owner.join();
    EXPECT_TRUE(releasedResult.get()) << "a handler holds the state";
    EXPECT_EQ(Frees(), freesBefore) << "freed under the handler";
    EXPECT_EQ(PluginHold(listed.handle).State(), nullptr);

    // The handler goes on with the state; `instance` is not touched after.
    gate.Open();
    window.join();
    EXPECT_EQ(Frees(), freesBefore + 1);
    std::lock_guard<std::mutex> guard(g_freedMutex);
    EXPECT_EQ(g_freedOn, windowId) << "the last holder frees it";
}

INSTANTIATE_TEST_SUITE_P(
    Handlers, ReleasedDuringAHandler,
    ::testing::Values(HandlerCase{"PresentEventText", PrepareEventText, nullptr},
                      HandlerCase{"GuideFiling", PrepareGuideFiling, nullptr},
                      HandlerCase{"GuideSelection", PrepareGuideSelection,
                                  [](PluginState& s) { GuideSelectProgramme(s, 0, 3); }},
                      HandlerCase{"CaptionDecoding", PrepareCaptions, nullptr}),
    [](const ::testing::TestParamInfo<HandlerCase>& param) { return std::string(param.param.name); });

}  // namespace
