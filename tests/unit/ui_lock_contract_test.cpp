// Every path that changes a control of the viewer, under the fake platform's
// lock contract probe: the control is changed on the window's own thread and
// never while PluginState::lock is held (SetDlgItemTextA and SetWindowTextA
// send to the window's thread and wait for it; under the lock that stalls the
// packet path, from another thread it can deadlock a host whose window's
// thread waits for that thread).
#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "plugin/plugin_state.h"
#include "plugin/recorder.h"
#include "plugin/router.h"
#include "plugin/settings.h"
#include "tests/support/test_plugin.h"
#include "tools/streamkit/stream_builder.h"
#include "ui/channel_buttons.h"
#include "ui/guide_view.h"
#include "ui/programme_display.h"
#include "ui/resource.h"
#include "ui/viewer.h"

namespace {

using build::Bytes;

const uint16_t kService = 0x5DB8;

struct Probed {
    TestPlugin t;
    build::StreamBuilder sb;

    Probed() {
        t.platform.settings["SERVICE/CH1"] = "27";
        LoadSettingsBeforeWindow(t.s());
        t.s().currentService = kService;
        t.s().currentChannel = 26;
        t.s().channelTable[0] = 27;
        t.s().channelTable[1] = 26;
    }
    // Routes on this thread without handling the posted messages.
    void Route(uint16_t pid, const Bytes& section) {
        const Bytes stream = sb.Stream(pid, {section});
        RoutePackets(t.s(), stream.data(), static_cast<uint32_t>(stream.size()));
    }
    void RouteEvent(uint8_t sectionNumber) {
        Route(0x0012, build::EitPfSection(kService, sectionNumber,
                                          {build::Event(0xE4C1, 21, 0, 0, 0, 30, 0,
                                                        build::ShortEventDescriptor(build::Text("TITLE"),
                                                                                    build::Text("TEXT")))}));
    }
    void RouteClock() { Route(0x0014, build::TotSection(0xE4C1, 0x21, 0x00, 0x00)); }
    // As the host's stream thread: on a thread of its own.
    void OnHostThread(const std::function<void()>& work) {
        std::thread host(work);
        host.join();
    }
    size_t Changes() {
        std::lock_guard<std::mutex> g(t.platform.mutex);
        return t.platform.controlHistory.size() + t.platform.titleHistory.size() +
               t.platform.captionHistory.size() + static_cast<size_t>(t.platform.guideRedraws);
    }
    void OpenGuide() {
        ViewerCommand(t.s(), IDC_GUIDE_OPEN);
        GuideInitialised(t.s());  // the shell's WM_INITDIALOG
    }
    void RouteSchedule() {
        build::EitHeader h = build::ScheduleHeader(kService, 0, 1, 0x50);
        h.lastTableId = 0x50;
        Route(0x0012, build::EitSection(h, {build::Event(0xE4C1, 22, 0, 0, 0, 45, 0,
                                                         build::ShortEventDescriptor(build::Text("TITLE"),
                                                                                     build::Text("TEXT")))}));
    }
};

struct PathCase {
    const char* name;
    std::function<void(Probed&)> prepare;  // not probed
    std::function<void(Probed&)> run;      // probed; changes at least one control
};

void PrintTo(const PathCase& c, std::ostream* os) { *os << c.name; }

class LockContract : public ::testing::TestWithParam<PathCase> {};

TEST_P(LockContract, ControlsChangeOnTheWindowsThreadWithoutTheLock) {
    const PathCase& c = GetParam();
    Probed p;
    if (c.prepare) c.prepare(p);
    const size_t before = p.Changes();
    p.t.platform.probeState = &p.t.s();
    c.run(p);
    p.t.platform.probeState = nullptr;
    EXPECT_GT(p.Changes(), before) << "the path changed no control: the probe saw nothing";
    EXPECT_EQ(p.t.platform.violations, std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(
    EveryPath, LockContract,
    ::testing::Values(
        PathCase{"PresentEventAndClock",
                 [](Probed& p) {
                     p.RouteClock();
                     p.RouteEvent(0);
                 },
                 [](Probed& p) { p.t.platform.Pump(p.t.s()); }},
        PathCase{"FollowingEvent",
                 [](Probed& p) {
                     p.t.s().view = View::kFollowing;
                     p.RouteEvent(1);
                 },
                 [](Probed& p) { p.t.platform.Pump(p.t.s()); }},
        PathCase{"ServiceNameAndCaption",
                 [](Probed& p) {
                     p.Route(0x0011, build::SdtSection(build::kDefaultTransportStreamId, build::kDefaultNetworkId,
                                                       {build::NamedService(kService, build::Text("NAME"))}));
                 },
                 [](Probed& p) { p.t.platform.Pump(p.t.s()); }},
        PathCase{"ViewToggle", nullptr,
                 [](Probed& p) {
                     ViewerCommand(p.t.s(), IDC_PRESENT_FOLLOWING);
                     ViewerCommand(p.t.s(), IDC_PRESENT_FOLLOWING);
                 }},
        PathCase{"ClockTick", [](Probed& p) { p.RouteClock(); },
                 [](Probed& p) { TickBroadcastClock(p.t.s()); }},
        PathCase{"RecordButton", nullptr,
                 [](Probed& p) {
                     ViewerCommand(p.t.s(), IDC_ONESEG_RECORD);
                     ViewerCommand(p.t.s(), IDC_ONESEG_RECORD);
                 }},
        // A write fails on the host's stream thread: the label changes when
        // the window's thread handles what the stream thread left for it.
        PathCase{"RecordLabelAfterAFailedWrite",
                 [](Probed& p) {
                     ViewerCommand(p.t.s(), IDC_ONESEG_RECORD);
                     p.t.s().esPidTable.entries[0].pid = 0x0181;
                     p.t.s().esPidTable.count = 1;
                     p.t.platform.failWriteAt = 1;
                 },
                 [](Probed& p) {
                     p.OnHostThread([&p] {
                         const Bytes packet = p.sb.Packet(0x0181, false, Bytes(184, 0x00));
                         ViewerStreamData(p.t.s(), packet.data(), static_cast<uint32_t>(packet.size()));
                     });
                     p.t.platform.Pump(p.t.s());
                 }},
        // The host reports the channel change from a thread of its own.
        PathCase{"ChannelLabels", nullptr,
                 [](Probed& p) {
                     p.OnHostThread([&p] { PluginOnChannelChange(p.t.s(), 27, kService); });
                     p.t.platform.Pump(p.t.s());
                 }},
        PathCase{"ChannelTableAfterCreation", nullptr, [](Probed& p) { LoadChannelTable(p.t.s()); }},
        // Schedule sections from the host's stream thread, filed when the
        // window's thread takes them; the user selects and requests a row.
        PathCase{"GuideWindow",
                 [](Probed& p) {
                     p.RouteClock();
                     p.OpenGuide();
                 },
                 [](Probed& p) {
                     p.OnHostThread([&p] { p.RouteSchedule(); });
                     p.t.platform.Pump(p.t.s());
                     GuideSelectProgramme(p.t.s(), 0, 0);
                     GuideRequestPressed(p.t.s());
                 }},
        PathCase{"CaptionView", nullptr,
                 [](Probed& p) {
                     ViewerCommand(p.t.s(), IDM_VIEWER_CAPTIONS);
                     ViewerCommand(p.t.s(), IDM_VIEWER_CAPTIONS);
                 }}),
    [](const ::testing::TestParamInfo<PathCase>& param) { return std::string(param.param.name); });

// Every path that creates, writes or closes the recording file, under the
// same probe: CreateFileA on a sleeping disk, WriteFile to a disk spinning up
// and CloseHandle flushing a network file all take seconds, and the lock
// held across them stalls the packet path or the window's thread.
struct FileCounts {
    size_t creates;
    int writes;
    int closes;
};

FileCounts Count(FakePlatform& f) {
    std::lock_guard<std::mutex> g(f.mutex);
    return FileCounts{f.createdPaths.size(), f.writeCalls, f.closeCalls};
}

struct FilePathCase {
    const char* name;
    std::function<void(Probed&)> prepare;  // not probed
    std::function<void(Probed&)> run;      // probed
    FileCounts calls;                       // at least these calls during run
};

void PrintTo(const FilePathCase& c, std::ostream* os) { *os << c.name; }

class FileLockContract : public ::testing::TestWithParam<FilePathCase> {};

void StartRecording(Probed& p) {
    ViewerCommand(p.t.s(), IDC_ONESEG_RECORD);
    p.t.s().esPidTable.entries[0].pid = 0x0181;
    p.t.s().esPidTable.count = 1;
}

// `count` packets of the recorded PID in one buffer, routed as the host's
// stream thread.
void StreamVideo(Probed& p, int count) {
    Bytes buffer;
    for (int i = 0; i < count; ++i) {
        const Bytes packet = p.sb.Packet(0x0181, false, Bytes(184, 0x00));
        buffer.insert(buffer.end(), packet.begin(), packet.end());
    }
    p.OnHostThread([&p, &buffer] {
        ViewerStreamData(p.t.s(), buffer.data(), static_cast<uint32_t>(buffer.size()));
    });
}

TEST_P(FileLockContract, FileCallsAreMadeWithoutTheLock) {
    const FilePathCase& c = GetParam();
    Probed p;
    if (c.prepare) c.prepare(p);
    const FileCounts before = Count(p.t.platform);
    p.t.platform.probeState = &p.t.s();
    c.run(p);
    p.t.platform.probeState = nullptr;
    const FileCounts after = Count(p.t.platform);
    EXPECT_GE(after.creates - before.creates, c.calls.creates);
    EXPECT_GE(after.writes - before.writes, c.calls.writes);
    EXPECT_GE(after.closes - before.closes, c.calls.closes);
    EXPECT_EQ(p.t.platform.violations, std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(
    EveryPath, FileLockContract,
    ::testing::Values(
        FilePathCase{"StartByButton", nullptr, [](Probed& p) { StartRecording(p); }, {1, 0, 0}},
        FilePathCase{"StopByButton", [](Probed& p) { StartRecording(p); },
                     [](Probed& p) { ViewerCommand(p.t.s(), IDC_ONESEG_RECORD); }, {0, 0, 1}},
        FilePathCase{"WritesOfOneBuffer", [](Probed& p) { StartRecording(p); },
                     [](Probed& p) { StreamVideo(p, 3); }, {0, 3, 0}},
        // More packets than the staging buffer holds: written out in the
        // middle of the buffer too.
        FilePathCase{"WritesOfALongBuffer", [](Probed& p) { StartRecording(p); },
                     [](Probed& p) { StreamVideo(p, kStagedPackets + 10); }, {0, kStagedPackets + 10, 0}},
        FilePathCase{"StopByAFailedWrite",
                     [](Probed& p) {
                         StartRecording(p);
                         p.t.platform.failWriteAt = 2;
                     },
                     [](Probed& p) {
                         StreamVideo(p, 3);
                         p.t.platform.Pump(p.t.s());
                     },
                     {0, 2, 1}},
        FilePathCase{"CloseCommand", [](Probed& p) { StartRecording(p); },
                     [](Probed& p) { ViewerCommand(p.t.s(), IDC_CLOSE); }, {0, 0, 1}},
        // The plug-in object goes with packets staged and the file open.
        FilePathCase{"Release", [](Probed& p) { StartRecording(p); },
                     [](Probed& p) { ReleaseRecording(p.t.s()); }, {0, 0, 1}}),
    [](const ::testing::TestParamInfo<FilePathCase>& param) { return std::string(param.param.name); });

// Every path that reads or writes Kestrin.ini once the window exists, under
// the same probe: the profile functions open the file each time, and the
// file may be on a sleeping or network disk.
struct SettingsPathCase {
    const char* name;
    std::function<void(Probed&)> run;  // probed; reads or writes the settings
};

void PrintTo(const SettingsPathCase& c, std::ostream* os) { *os << c.name; }

class SettingsLockContract : public ::testing::TestWithParam<SettingsPathCase> {};

TEST_P(SettingsLockContract, SettingsCallsAreMadeWithoutTheLock) {
    Probed p;
    const size_t before = p.t.platform.settingsPathsUsed.size();
    p.t.platform.probeState = &p.t.s();
    GetParam().run(p);
    p.t.platform.probeState = nullptr;
    EXPECT_GT(p.t.platform.settingsPathsUsed.size(), before) << "the path used no setting: the probe saw nothing";
    EXPECT_EQ(p.t.platform.violations, std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(
    EveryPath, SettingsLockContract,
    ::testing::Values(
        SettingsPathCase{"ChannelTable", [](Probed& p) { LoadChannelTable(p.t.s()); }},
        SettingsPathCase{"ViewerInitialisedAndMoved",
                         [](Probed& p) {
                             ViewerInitialised(p.t.s());
                             ViewerMoved(p.t.s());
                         }},
        SettingsPathCase{"CaptionViewShownAndClosed",
                         [](Probed& p) {
                             ViewerCommand(p.t.s(), IDM_VIEWER_CAPTIONS);
                             ViewerCommand(p.t.s(), IDM_VIEWER_CAPTIONS);
                         }},
        SettingsPathCase{"GuidePlacedAndMoved",
                         [](Probed& p) {
                             int32_t left = 0;
                             int32_t top = 0;
                             GuidePosition(p.t.s(), left, top);
                             p.OpenGuide();
                             GuideMoved(p.t.s(), WindowPlacement{WindowShow::kNormal, ScreenRect{10, 20, 610, 420},
                                                                 ScreenRect{10, 20, 610, 420}});
                         }},
        SettingsPathCase{"RecordingStart", [](Probed& p) { ViewerCommand(p.t.s(), IDC_ONESEG_RECORD); }},
        SettingsPathCase{"CloseCommand", [](Probed& p) { ViewerCommand(p.t.s(), IDC_CLOSE); }}),
    [](const ::testing::TestParamInfo<SettingsPathCase>& param) { return std::string(param.param.name); });

// The probe itself: a control changed with the lock held, or from another
// thread, is reported.
TEST(LockContractProbe, ReportsTheLockHeldAndAForeignThread) {
    TestPlugin t;
    t.platform.probeState = &t.s();
    {
        std::lock_guard<std::mutex> guard(t.s().lock);
        t.platform.SetControlText(IDC_INFO_TEXT, "x");
    }
    std::thread other([&t] { t.platform.SetWindowTitle("y"); });
    other.join();
    t.platform.SetControlText(IDC_CLOCK, "z");
    EXPECT_EQ(t.platform.violations,
              (std::vector<std::string>{"SetControlText(1003) with the lock held",
                                        "SetWindowTitle(0) off the window's thread"}));
}

// A file call with the lock held is reported, on whatever thread it runs.
TEST(LockContractProbe, ReportsAFileCallWithTheLockHeld) {
    TestPlugin t;
    t.platform.probeState = &t.s();
    FileHandle file;
    {
        std::lock_guard<std::mutex> guard(t.s().lock);
        file = t.platform.CreateRecordingFile("C:\\a.ts");
    }
    std::thread other([&t, file] {
        const uint8_t packet[188] = {0x47};
        t.platform.WriteFile(file, packet, sizeof packet);
    });
    other.join();
    {
        std::lock_guard<std::mutex> guard(t.s().lock);
        t.platform.CloseFile(file);
    }
    EXPECT_EQ(t.platform.violations, (std::vector<std::string>{"CreateRecordingFile with the lock held",
                                                               "CloseFile with the lock held"}));
}

// So is a settings call.
TEST(LockContractProbe, ReportsASettingsCallWithTheLockHeld) {
    TestPlugin t;
    t.platform.probeState = &t.s();
    char text[8];
    t.platform.WriteSettingString("GUIDE", "Left", "1", "C:\\Host\\Kestrin.ini");
    {
        std::lock_guard<std::mutex> guard(t.s().lock);
        t.platform.ReadSettingInt("GUIDE", "Left", 0, "C:\\Host\\Kestrin.ini");
        t.platform.ReadSettingString("GUIDE", "Top", "", text, sizeof text, "C:\\Host\\Kestrin.ini");
        t.platform.WriteSettingString("GUIDE", "Top", "2", "C:\\Host\\Kestrin.ini");
    }
    EXPECT_EQ(t.platform.violations,
              (std::vector<std::string>{"ReadSettingInt with the lock held", "ReadSettingString with the lock held",
                                        "WriteSettingString with the lock held"}));
}

}  // namespace
