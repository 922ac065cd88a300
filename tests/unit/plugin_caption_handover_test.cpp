// The caption stream's selection for the watched service and the hand-over
// of its packets to the window's thread.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include "plugin/caption_handover.h"
#include "plugin/messages.h"
#include "plugin/plugin_core.h"
#include "plugin/plugin_state.h"
#include "plugin/router.h"
#include "tests/support/real_data.h"
#include "tests/support/test_plugin.h"
#include "tools/streamkit/caption_builder.h"
#include "tools/streamkit/stream_builder.h"
#include "ui/caption_view.h"
#include "ui/viewer.h"
#include "ts/caption_stream.h"

namespace {

using build::Bytes;

const uint16_t kOneSeg = 0x0408;
const uint16_t kFullSeg = 0x0400;
const uint16_t kOther = 0x0401;
const uint16_t kFullSegPmtPid = 0x0101;
const uint16_t kOtherPmtPid = 0x0102;

Bytes Tag(uint8_t tag) { return build::Descriptor(kStreamIdentifierDescriptorTag, {tag}); }

Bytes Pat(uint8_t version = 0) {
    return build::PatSection(0x7FE0, {{0x0000, 0x0010}, {kFullSeg, kFullSegPmtPid}, {kOther, kOtherPmtPid},
                                      {kOneSeg, kOneSegPmtPid}},
                             version);
}

Bytes OneSegPmt(uint16_t captionPid, uint8_t version = 0) {
    return build::PmtSection(kOneSeg, 0x01FF, Bytes(),
                             {{0x1B, 0x0181, Tag(0x81)}, {0x0F, 0x0183, Tag(0x83)}, {0x06, captionPid, Tag(0x87)}},
                             version);
}

Bytes ServicePmt(uint16_t service, uint16_t captionPid, uint8_t version = 0, uint8_t tag = 0x30) {
    return build::PmtSection(service, 0x0111, Bytes(),
                             {{0x02, 0x0111, Tag(0x00)}, {0x0F, 0x0112, Tag(0x10)}, {0x06, captionPid, Tag(tag)}},
                             version);
}

struct CaptionFixture {
    TestPlugin t;
    build::StreamBuilder sb;

    void Feed(uint16_t pid, const Bytes& section) { Route(sb.Stream(pid, {section})); }
    void Route(const Bytes& b) { RoutePackets(t.s(), b.data(), static_cast<uint32_t>(b.size())); }
    int32_t Selected() { return t.s().captionHandover.selection.pid; }
    void Watch(uint16_t service) { ChangeChannel(t.s(), 27, service); }
    Bytes CaptionPacket(uint16_t pid, bool pusi = true) { return sb.Packet(pid, pusi, Bytes(184, 0x80)); }
    int CaptionPosts() {
        return static_cast<int>(std::count(t.platform.windowPosted.begin(), t.platform.windowPosted.end(),
                                           WM_CAPTION_READY));
    }
};

TEST(CaptionSelection, OneSegmentServiceTakesTag87FromThePmtOn1FC8) {
    CaptionFixture f;
    f.Feed(kOneSegPmtPid, OneSegPmt(0x0187));
    EXPECT_EQ(f.Selected(), 0x0187) << "before the host reports a service";
    f.Watch(kOneSeg);
    EXPECT_EQ(f.Selected(), kNoPid) << "the service change forgets the map";
    f.Feed(kOneSegPmtPid, OneSegPmt(0x0187));
    EXPECT_EQ(f.Selected(), 0x0187);
    // A new version moves the stream; the same version again changes nothing.
    const uint32_t generation = f.t.s().captionHandover.selection.generation;
    f.Feed(kOneSegPmtPid, OneSegPmt(0x0187));
    EXPECT_EQ(f.t.s().captionHandover.selection.generation, generation);
    f.Feed(kOneSegPmtPid, OneSegPmt(0x0188, 1));
    EXPECT_EQ(f.Selected(), 0x0188);
    EXPECT_NE(f.t.s().captionHandover.selection.generation, generation);
    // A full-segment service's PMT does not select anything for it.
    f.Feed(kOneSegPmtPid, build::PmtSection(kOneSeg, 0x01FF, Bytes(), {{0x06, 0x0130, Tag(0x30)}}, 2));
    EXPECT_EQ(f.Selected(), kNoPid);
}

TEST(CaptionSelection, FullSegmentServiceTakesTag30FromItsOwnPmtFoundThroughThePat) {
    CaptionFixture f;
    f.Watch(kFullSeg);
    f.Feed(kOneSegPmtPid, OneSegPmt(0x0187));
    f.Feed(kFullSegPmtPid, ServicePmt(kFullSeg, 0x0130));
    EXPECT_EQ(f.Selected(), kNoPid) << "the PMT PID is not known before the PAT";
    f.Feed(kPatPid, Pat());
    EXPECT_EQ(f.t.s().captionHandover.selection.servicePmtPid, kFullSegPmtPid);
    EXPECT_EQ(f.Selected(), kNoPid);
    f.Feed(kOtherPmtPid, ServicePmt(kOther, 0x0230));  // another service's map
    EXPECT_EQ(f.Selected(), kNoPid);
    f.Feed(kFullSegPmtPid, ServicePmt(kOther, 0x0231));  // another programme on the same PID
    EXPECT_EQ(f.Selected(), kNoPid);
    f.Feed(kFullSegPmtPid, ServicePmt(kFullSeg, 0x0130));
    EXPECT_EQ(f.Selected(), 0x0130);
    // A new version without the caption component deselects it.
    f.Feed(kFullSegPmtPid, ServicePmt(kFullSeg, 0x0131, 1, 0x31));
    EXPECT_EQ(f.Selected(), kNoPid);
    f.Feed(kFullSegPmtPid, ServicePmt(kFullSeg, 0x0132, 2));
    EXPECT_EQ(f.Selected(), 0x0132);

    // Another full-segment service: the PAT is read again for its PMT.
    f.Watch(kOther);
    EXPECT_EQ(f.Selected(), kNoPid);
    f.Feed(kOtherPmtPid, ServicePmt(kOther, 0x0230));
    EXPECT_EQ(f.Selected(), kNoPid);
    f.Feed(kPatPid, Pat());
    f.Feed(kOtherPmtPid, ServicePmt(kOther, 0x0230));
    EXPECT_EQ(f.Selected(), 0x0230);

    // A PAT version that moves the service's PMT: the old answer goes.
    f.Feed(kPatPid, build::PatSection(0x7FE0, {{kOther, 0x0103}}, 1));
    EXPECT_EQ(f.Selected(), kNoPid);
    f.Feed(0x0103, ServicePmt(kOther, 0x0233));
    EXPECT_EQ(f.Selected(), 0x0233);
}

TEST(CaptionSelection, TheOneSegmentServiceReportedByTheHostUsesTheOneSegmentMap) {
    // Known either from the one-segment PMT's program_number or from the PAT.
    CaptionFixture f;
    f.Watch(kOneSeg);
    f.Feed(kPatPid, Pat());
    f.Feed(kOneSegPmtPid, OneSegPmt(0x0187));
    EXPECT_EQ(f.Selected(), 0x0187);
    CaptionFixture g;
    g.Watch(kOneSeg);
    g.Feed(kOneSegPmtPid, OneSegPmt(0x0187));
    EXPECT_EQ(g.Selected(), 0x0187);
}

TEST(CaptionHandover, HandsOverTheSelectedPidOnlyWhileWanted) {
    CaptionFixture f;
    f.Feed(kOneSegPmtPid, OneSegPmt(0x0187));
    f.Route(f.CaptionPacket(0x0187));
    EXPECT_EQ(f.t.s().captionHandover.mailbox.count, 0) << "the view is closed";
    EXPECT_EQ(f.CaptionPosts(), 0);

    WantCaptions(f.t.s(), true);
    const Bytes first = f.CaptionPacket(0x0187);
    f.Route(build::Join({first, f.CaptionPacket(0x0181), f.CaptionPacket(0x0187, false),
                         f.CaptionPacket(0x0188)}));
    EXPECT_EQ(f.t.s().captionHandover.mailbox.count, 2);
    EXPECT_EQ(f.CaptionPosts(), 1) << "one message until the window takes them";

    CaptionPacketBatch batch;
    TakeCaptionPackets(f.t.s(), batch);
    ASSERT_EQ(batch.count, 2);
    EXPECT_TRUE(std::equal(first.begin(), first.end(), batch.packets[0]));
    EXPECT_TRUE(batch.dropped) << "the stream was joined in the middle";
    EXPECT_EQ(batch.pid, 0x0187);
    TakeCaptionPackets(f.t.s(), batch);
    EXPECT_EQ(batch.count, 0);
    EXPECT_FALSE(batch.dropped);

    f.Route(f.CaptionPacket(0x0187));
    EXPECT_EQ(f.CaptionPosts(), 2) << "posted again after the take";
    WantCaptions(f.t.s(), false);
    EXPECT_EQ(f.t.s().captionHandover.mailbox.count, 0);
}

// 129 packets with the view open and no pump: the mailbox keeps the first
// 128, marks the loss, and writes nothing past its packets (the fields
// behind them stay as they were).
TEST(CaptionHandover, AFullMailboxKeepsTheFirstPacketsAndMarksTheLoss) {
    CaptionFixture f;
    f.Feed(kOneSegPmtPid, OneSegPmt(0x0187));
    WantCaptions(f.t.s(), true);
    CaptionPacketBatch batch;
    TakeCaptionPackets(f.t.s(), batch);
    std::vector<Bytes> packets;
    for (int i = 0; i <= kCaptionMailboxPackets; ++i) {
        packets.push_back(f.sb.Packet(0x0187, i == 0, Bytes(184, static_cast<uint8_t>(i + 1))));
    }
    f.Route(build::Join(packets));
    const CaptionMailbox& m = f.t.s().captionHandover.mailbox;
    EXPECT_EQ(m.count, kCaptionMailboxPackets);
    EXPECT_TRUE(m.dropped);
    EXPECT_TRUE(m.posted);
    for (int i = 0; i < kCaptionMailboxPackets; ++i) {
        ASSERT_TRUE(std::equal(packets[i].begin(), packets[i].end(), m.packets[i])) << i;
    }
    TakeCaptionPackets(f.t.s(), batch);
    EXPECT_EQ(batch.count, kCaptionMailboxPackets);
    EXPECT_TRUE(batch.dropped);
    EXPECT_TRUE(std::equal(packets.back().begin(), packets.back().end(),
                           batch.packets[kCaptionMailboxPackets - 1]) == false);
}

// A lost WM_CAPTION_READY (posted while no window could take it) leaves the
// `posted` flag set: the full mailbox asks again at its first drop and every
// 128th after, and opening the view again lets the next packet be announced.
TEST(CaptionHandover, ALostPostIsMadeGood) {
    CaptionFixture f;
    f.Feed(kOneSegPmtPid, OneSegPmt(0x0187));
    WantCaptions(f.t.s(), true);
    f.Route(f.CaptionPacket(0x0187));
    ASSERT_EQ(f.CaptionPosts(), 1);
    f.t.platform.windowQueue.clear();  // the message is lost
    std::vector<Bytes> packets;
    for (int i = 0; i < 2 * kCaptionMailboxPackets + 1; ++i) packets.push_back(f.CaptionPacket(0x0187, false));
    f.Route(build::Join(packets));
    // 127 more fill it; the first drop, then the 129th drop ask again.
    EXPECT_EQ(f.CaptionPosts(), 3);
    EXPECT_EQ(f.t.platform.Pump(f.t.s()), 2);
    EXPECT_EQ(f.t.s().captionHandover.mailbox.count, 0);

    // Lost again, then the view is closed and opened: announced at once.
    f.Route(f.CaptionPacket(0x0187));
    f.t.platform.windowQueue.clear();
    WantCaptions(f.t.s(), false);
    WantCaptions(f.t.s(), true);
    f.Route(f.CaptionPacket(0x0187));
    EXPECT_EQ(f.CaptionPosts(), 5);
    EXPECT_EQ(f.t.platform.Pump(f.t.s()), 1);
}

// The PAT drops the watched service in one version and brings it back in the
// next: the PMT it points at, unchanged, or the same PMT on another PID,
// selects the caption stream again.
TEST(CaptionSelection, AServiceDroppedFromThePatAndRestoredIsSelectedAgain) {
    struct Case {
        const char* name;
        uint16_t restoredPmtPid;
    } cases[] = {{"same PMT PID", kFullSegPmtPid}, {"PMT moved, unchanged", 0x0105}};
    for (const Case& c : cases) {
        CaptionFixture f;
        f.Watch(kFullSeg);
        f.Feed(kPatPid, Pat());
        f.Feed(kFullSegPmtPid, ServicePmt(kFullSeg, 0x0130));
        ASSERT_EQ(f.Selected(), 0x0130) << c.name;
        f.Feed(kPatPid, build::PatSection(0x7FE0, {{kOther, kOtherPmtPid}}, 1));
        EXPECT_EQ(f.Selected(), kNoPid) << c.name;
        f.Feed(kFullSegPmtPid, ServicePmt(kFullSeg, 0x0130));  // still sent, no longer the service's
        EXPECT_EQ(f.Selected(), kNoPid) << c.name;
        f.Feed(kPatPid, build::PatSection(0x7FE0, {{kFullSeg, c.restoredPmtPid}, {kOther, kOtherPmtPid}}, 2));
        f.Feed(c.restoredPmtPid, ServicePmt(kFullSeg, 0x0130));
        EXPECT_EQ(f.Selected(), 0x0130) << c.name;
    }
}

TEST(CaptionHandover, AServiceChangeEmptiesTheMailboxAndTellsTheWindow) {
    CaptionFixture f;
    f.Feed(kOneSegPmtPid, OneSegPmt(0x0187));
    WantCaptions(f.t.s(), true);
    f.Route(f.CaptionPacket(0x0187));
    ASSERT_EQ(f.CaptionPosts(), 1);
    const uint32_t generation = f.t.s().captionHandover.selection.generation;
    f.Watch(kFullSeg);
    EXPECT_EQ(f.t.s().captionHandover.mailbox.count, 0);
    CaptionPacketBatch batch;
    TakeCaptionPackets(f.t.s(), batch);
    EXPECT_EQ(batch.count, 0);
    EXPECT_NE(batch.generation, generation);
    f.Watch(kOther);
    EXPECT_EQ(f.CaptionPosts(), 2) << "the window learns of the change though no packet comes";
}

TEST(CaptionHandover, CaptionPacketsAreStillRecordedAndRoutedAsBefore) {
    // The caption PID of the one-segment service stays in the recording, and
    // the PAT and PMTs still reach their own handlers.
    CaptionFixture f;
    f.Feed(kOneSegPmtPid, OneSegPmt(0x0187));
    WantCaptions(f.t.s(), true);
    const FileHandle file = f.t.platform.CreateRecordingFile("C:\\rec.ts");
    f.t.s().recordingFile = file;
    f.t.s().recording = true;
    f.Route(build::Join({f.CaptionPacket(0x0187), f.CaptionPacket(0x0181)}));
    f.Feed(kPatPid, Pat());
    const Bytes& written = f.t.platform.files["C:\\rec.ts"];
    ASSERT_EQ(written.size(), 3u * 188u);
    EXPECT_EQ(((written[1] & 0x1F) << 8) | written[2], 0x0187);
    EXPECT_EQ(((written[188 + 1] & 0x1F) << 8) | written[188 + 2], 0x0181);
    EXPECT_EQ(((written[376 + 1] & 0x1F) << 8) | written[376 + 2], 0x0000);
    EXPECT_EQ(f.t.s().captionHandover.mailbox.count, 1);
}

TEST(CaptionHandover, StreamWindowAndServiceThreadsTakeTurns) {
    // The host's stream thread feeds a real caption stream, another thread
    // changes the service, and the window's thread opens and closes the view
    // and handles its messages, all at once (ThreadSanitizer watches the
    // lock's use in the tsan preset).
    TestPlugin t;
    build::StreamBuilder sb;
    Bytes stream = sb.Stream(kOneSegPmtPid, {OneSegPmt(0x0187)});
    const Bytes file = ReadRealData("captions/pokemon-2023.es");
    uint64_t pts = 0;
    for (size_t at = 0, n = 0; at + 3 <= file.size() && n < 120; ++n) {
        const size_t group = at + 3 + (file[at + 2] & 0x0F);
        if (group + 5 > file.size()) break;
        const size_t end = group + 5 + ((static_cast<size_t>(file[group + 3]) << 8) | file[group + 4]) + 2;
        if (end > file.size()) break;
        pts += 45000;
        const Bytes payload(file.begin() + static_cast<long>(at), file.begin() + static_cast<long>(end));
        const Bytes ts = build::Join(build::PesPackets(sb, 0x0187, build::PesPacketWithPts(pts, payload)));
        stream.insert(stream.end(), ts.begin(), ts.end());
        at = end;
    }
    std::atomic<bool> done(false);
    std::atomic<int> toggles(0);
    std::thread window([&] {
        for (int i = 0; !done; ++i) {
            if (i % 50 == 0) {
                ToggleCaptionView(t.s());
                ++toggles;
            }
            t.platform.Pump(t.s());
            std::this_thread::yield();
        }
        t.platform.Pump(t.s());
    });
    std::thread service([&] {
        for (int i = 0; !done; ++i) {
            ChangeChannel(t.s(), 27, i % 4 == 3 ? kFullSeg : kOneSeg);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });
    // The stream starts once the view has opened, and goes on until it has
    // been opened and closed a few times.
    while (toggles == 0) std::this_thread::yield();
    for (int round = 0; round < 6 || toggles < 4; ++round) {
        for (size_t at = 0; at < stream.size(); at += 188 * 16) {
            const size_t n = std::min(stream.size() - at, static_cast<size_t>(188 * 16));
            ViewerStreamData(t.s(), stream.data() + at, static_cast<uint32_t>(n));
            // A host's stream thread waits for its tuner between buffers;
            // one that never let go could starve the window's thread of
            // the lock on two cores (a mutex is not fair).
            std::this_thread::yield();
        }
    }
    done = true;
    service.join();
    window.join();
    EXPECT_GT(t.platform.captionOpens, 1);
    std::lock_guard<std::mutex> g(t.platform.mutex);
    EXPECT_FALSE(t.platform.captionHistory.empty());
}

}  // namespace
