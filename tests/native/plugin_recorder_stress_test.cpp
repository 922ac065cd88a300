// The recorder under threads: the host's stream thread routes the multiplex
// while the window thread starts and stops the recording, switches views,
// asks for recordings, presses channel buttons and handles the posted
// messages, a third thread reports service changes, writes fail now and
// then (the packet path then stops the recording itself), and the user
// closes the window while packets still arrive. Built with
// -DKESTRIN_SANITIZE=thread it checks the locking of the recording flag and
// file; in every build it checks what reached the files.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "plugin/plugin_core.h"
#include "plugin/plugin_state.h"
#include "plugin/recorder.h"
#include "plugin/router.h"
#include "plugin/section_handover.h"
#include "plugin/settings.h"
#include "tests/support/test_plugin.h"
#include "tools/streamkit/test_multiplex.h"
#include "ts/crc32.h"
#include "ts/packet.h"
#include "ts/programme_map.h"
#include "ts/section.h"
#include "ui/channel_buttons.h"
#include "ui/resource.h"
#include "ui/viewer.h"

namespace {

const int kPasses = 12;

// The packets a recording of the one-segment service may hold.
bool MayBeRecorded(uint16_t pid) {
    switch (pid) {
        case 0x0000: case 0x0010: case 0x0011: case 0x0014: case 0x0024: case 0x0027:
        case 0x0028: case 0x1FC8:
        case build::kMuxOneSegVideoPid: case build::kMuxOneSegAudioPid: case build::kMuxOneSegPcrPid:
            return true;
        default:
            return false;
    }
}

// Whole packets of the one-segment service only; PAT packets rewritten to
// the single programme with a correct CRC_32.
void CheckRecording(const std::string& path, const std::vector<uint8_t>& file) {
    ASSERT_EQ(file.size() % 188, 0u) << path;
    for (size_t o = 0; o < file.size(); o += 188) {
        const uint8_t* p = &file[o];
        const uint16_t pid = PacketPid(p);
        ASSERT_TRUE(MayBeRecorded(pid)) << path << " packet " << o / 188 << " PID " << pid;
        if (pid == 0x0000) {
            const int32_t s = PacketSectionStart(p);
            ASSERT_GE(s, 0);
            ASSERT_LE(s + 20, 188);
            EXPECT_EQ(SectionLength(p + s), 17);
            EXPECT_EQ(Crc32Mpeg2(p + s, 20), 0u);
        }
    }
}

struct Shared {
    std::atomic<bool> packetsDone{false};
    std::atomic<bool> closed{false};
    std::atomic<int> progress{0};     // passes routed
    std::atomic<int> acknowledged{0};  // passes the window thread has seen
    std::atomic<int> refusedAfterClose{0};
};

// Sets or clears the recording as the user would, with the button; returns
// whether a recording file is open afterwards.
std::atomic<int> gRecordingNames{0};

bool PressRecordUntil(TestPlugin& t, bool wanted) {
    PluginState& state = t.s();
    for (int tries = 0; tries < 2; ++tries) {
        bool open;
        {
            std::lock_guard<std::mutex> guard(state.lock);
            open = state.recordingFile != kInvalidFileHandle;
        }
        if (open == wanted) return open;
        {
            // Each recording gets its own generated name.
            const int name = ++gRecordingNames;
            std::lock_guard<std::mutex> guard(t.platform.mutex);
            t.platform.localTime.minute = (name / 60) % 60;
            t.platform.localTime.second = name % 60;
        }
        ViewerCommand(state, IDC_ONESEG_RECORD);
    }
    std::lock_guard<std::mutex> guard(state.lock);
    return state.recordingFile != kInvalidFileHandle;
}

void StreamThread(PluginState& state, const std::vector<uint8_t>& mux, Shared& shared) {
    std::mt19937 rng(7);
    // At least kPasses passes, and on until two passes after the close
    // command (bounded, should the window thread never get to it).
    int afterClose = 0;
    for (int pass = 0; pass < kPasses || (afterClose < 2 && pass < 100 * kPasses); ++pass) {
        if (shared.closed) ++afterClose;
        size_t o = 0;
        while (o < mux.size()) {
            // Buffers of 1 to 40 packets, sometimes with a partial tail.
            size_t n = 188 * (1 + rng() % 40) + (rng() % 4 == 0 ? rng() % 188 : 0);
            if (n > mux.size() - o) n = mux.size() - o;
            const int32_t result = ViewerStreamData(state, mux.data() + o, static_cast<uint32_t>(n));
            if (shared.closed && result == 0) ++shared.refusedAfterClose;
            o += n / 188 * 188 == 0 ? n : n / 188 * 188;
            if (rng() % 8 == 0) std::this_thread::yield();
        }
        ++shared.progress;
        // Each pass starts once the window thread has seen the last one end,
        // so that the recordings it starts there meet packets whatever the
        // scheduler does (bounded wait).
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (shared.acknowledged < pass + 1 && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::yield();
        }
    }
    shared.packetsDone = true;
}

void ServiceThread(PluginState& state, Shared& shared) {
    int i = 0;
    while (!shared.packetsDone) {
        const bool oneSeg = i % 3 != 2;
        PluginOnChannelChange(state, oneSeg ? 27 : 28,
                              oneSeg ? build::kMuxOneSegService : build::kMuxFullSegService);
        ++i;
        std::this_thread::sleep_for(std::chrono::milliseconds(3));
    }
}

struct WindowResult {
    int handled = 0;
    int writesAtClose = -1;
};

// Between passes the window thread starts a recording for the even passes,
// every other time with a write of the pass set to fail; during the passes
// it presses buttons at random, the recorder button among them in the odd
// passes.
void WindowThread(TestPlugin& t, Shared& shared, WindowResult& r) {
    PluginState& state = t.s();
    std::mt19937 rng(11);
    const int32_t commands[] = {IDC_PRESENT_FOLLOWING, IDC_RECORD_REQUEST, IDC_CH1,
                                IDC_PRESENT_FOLLOWING, IDC_ONESEG_RECORD};
    int step = 0;
    while (!shared.packetsDone) {
        ++step;
        r.handled += t.platform.Pump(state);
        const int seen = shared.progress;
        if (seen > shared.acknowledged) {
            if (!shared.closed && seen >= kPasses * 3 / 4) {
                // The user closes the window while packets still arrive, with
                // a recording open if one can be.
                PressRecordUntil(t, true);
                ViewerCommand(state, IDC_CLOSE);
                std::lock_guard<std::mutex> guard(t.platform.mutex);
                r.writesAtClose = t.platform.writeCalls;
                shared.closed = true;
            } else if (!shared.closed && seen % 2 == 0) {
                PressRecordUntil(t, true);
                if (seen % 4 == 2) {
                    // A write of this pass fails: the stream thread stops
                    // the recording itself.
                    std::lock_guard<std::mutex> guard(t.platform.mutex);
                    t.platform.failWriteAt =
                        t.platform.writeCalls + 1 + static_cast<int>(rng() % 5);
                }
            }
            shared.acknowledged = seen;
        }
        if (step % 5 == 0 && !shared.closed) {
            // The recorder button only in odd passes: the even ones record.
            const int32_t command = commands[rng() % 5];
            if (command != IDC_ONESEG_RECORD) {
                ViewerCommand(state, command);
            } else if (shared.progress % 2 == 1) {
                ViewerCommand(state, IDC_ONESEG_RECORD);
            }
        }
        std::this_thread::yield();
    }
    r.handled += t.platform.Pump(state);
}

TEST(RecordingStress, RecorderButtonPacketPathAndFailedWritesTakeTurns) {
    build::MultiplexOptions options;
    options.cycles = 4;
    options.packetsPerCycle = 300;
    const std::vector<uint8_t> mux = build::BuildTestMultiplex(options);

    TestPlugin t;
    t.platform.settings["SERVICE/CH1"] = "27";
    t.platform.executablePath = "C:\\Host\\host.exe";
    LoadSettingsBeforeWindow(t.s());
    LoadChannelTable(t.s());
    PluginOnChannelChange(t.s(), 27, build::kMuxOneSegService);
    ASSERT_TRUE(PressRecordUntil(t, true));

    Shared shared;
    WindowResult window;
    std::thread w(WindowThread, std::ref(t), std::ref(shared), std::ref(window));
    std::thread c(ServiceThread, std::ref(t.s()), std::ref(shared));
    std::thread p(StreamThread, std::ref(t.s()), std::cref(mux), std::ref(shared));
    p.join();
    c.join();
    w.join();

    FakePlatform& f = t.platform;
    EXPECT_EQ(f.writesToClosedFile, 0);
    EXPECT_EQ(f.closeOfClosedFile, 0);
    ASSERT_TRUE(shared.closed.load());
    // Once the close command has returned, nothing more is written and every
    // later buffer is refused.
    EXPECT_EQ(f.writeCalls, window.writesAtClose);
    EXPECT_GT(shared.refusedAfterClose.load(), 0);
    EXPECT_TRUE(f.openFiles.empty());
    EXPECT_EQ(t.s().recordingFile, kInvalidFileHandle);
    // Every file but the programme table's cache, which the close saves.
    for (const auto& file : f.files) {
        const std::string& path = file.first;
        if (path.size() >= 4 && path.compare(path.size() - 4, 4, ".epg") == 0) continue;
        CheckRecording(path, file.second);
    }

    // The run did what it claims: recordings started at least at the start
    // and at the close, packets written, writes that failed on the packet
    // path, messages handled.
    EXPECT_GE(f.createdPaths.size(), 2u);
    size_t recorded = 0;
    for (const auto& file : f.files) recorded += file.second.size() / 188;
    EXPECT_GT(recorded, 20u) << "writes " << f.writeCalls << ", files " << f.files.size()
                             << ", created " << f.createdPaths.size() << ", passes "
                             << shared.progress.load() << ", handled " << window.handled;
    EXPECT_GT(f.failedWrites, 0);
    EXPECT_GT(window.handled, 50);
}

}  // namespace
