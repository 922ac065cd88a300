// The packet path and the window thread at once, as the host drives them:
// one thread pushes EIT, SDT, PMT and TOT packets through RoutePackets
// (whole sections and broken ones), another reports service changes, and the
// window thread takes the posted messages, reads the mailboxes, switches the
// view and ticks the clock. Built with -DKESTRIN_SANITIZE=thread it checks
// the locking; in every build it checks that each section a handler reads
// was completed whole: every section carries a correct CRC_32 and filler
// bytes derived from its sequence number.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

#include "plugin/broadcast_clock.h"
#include "plugin/messages.h"
#include "plugin/plugin_core.h"
#include "plugin/plugin_state.h"
#include "plugin/recorder.h"
#include "plugin/router.h"
#include "plugin/section_handover.h"
#include "tests/support/test_plugin.h"
#include "text/clock_text.h"
#include "tools/streamkit/stream_builder.h"
#include "ts/crc32.h"
#include "ts/packet.h"
#include "ts/programme_map.h"
#include "ts/section.h"
#include "ui/channel_buttons.h"
#include "ui/programme_display.h"
#include "ui/resource.h"
#include "ui/viewer.h"

namespace {

using build::Bytes;

const uint16_t kServices[2] = {0x5DB8, 0x5DB9};
const uint8_t kFillerTag = 0x80;
const int kSections = 3000;
const int kServiceChanges = 60;

uint8_t Fill(uint16_t sequence) { return static_cast<uint8_t>(sequence * 37 + 11); }

// Filler descriptors of `total` bytes, bodies all Fill(sequence).
Bytes Filler(uint16_t sequence, size_t total) {
    Bytes out;
    while (total >= 2) {
        const size_t body = total - 2 > 200 ? 200 : total - 2;
        out.push_back(kFillerTag);
        out.push_back(static_cast<uint8_t>(body));
        out.insert(out.end(), body, Fill(sequence));
        total -= body + 2;
    }
    return out;
}

Bytes EventSection(uint16_t service, uint8_t number, uint16_t sequence, size_t fillerSize) {
    build::EitEvent e = build::Event(0xE4C1, 21, 0, 0, 0, 30, 0);
    e.eventId = sequence;
    e.descriptors = build::Cat({build::ShortEventDescriptor(build::Text("TITLE"), build::Text("TEXT")),
                                Filler(sequence, fillerSize)});
    return build::EitPfSection(service, number, {e}, static_cast<uint8_t>(sequence & 0x1F));
}

Bytes ServiceSection(uint16_t service, uint16_t sequence, size_t fillerSize) {
    build::SdtService s = build::NamedService(service, build::Text("SERVICE"));
    s.descriptors = build::Cat({s.descriptors, Filler(sequence, fillerSize)});
    return build::SdtSection(sequence, 0x7FE8, {s}, static_cast<uint8_t>(sequence & 0x1F));
}

// Every filler descriptor in [begin, end) holds the fill byte.
bool FillerHolds(const uint8_t* d, int32_t begin, int32_t end, uint8_t fill) {
    int32_t o = begin;
    while (o + 2 <= end) {
        const int32_t next = o + 2 + d[o + 1];
        if (next > end) return false;
        if (d[o] == kFillerTag) {
            for (int32_t i = o + 2; i < next; ++i) {
                if (d[i] != fill) return false;
            }
        }
        o = next;
    }
    return o == end;
}

// Checks a mailbox against the message that announced it; called with the
// lock held, as a handler would read it.
bool MailboxHolds(const SectionMailbox& m, uint32_t message) {
    if (m.length < 30 || m.length > kMaxSectionSize) return false;
    const uint8_t* d = m.data;
    if (SectionLength(d) + 3 != m.length || Crc32Mpeg2(d, static_cast<size_t>(m.length)) != 0) return false;
    if (message == WM_SDT_READY) {
        const int32_t loop = ((d[14] & 0x0F) << 8) | d[15];
        return d[0] == 0x42 && 16 + loop == m.length - 4 &&
               FillerHolds(d, 16, 16 + loop, Fill(static_cast<uint16_t>((d[3] << 8) | d[4])));
    }
    const int32_t loop = ((d[24] & 0x0F) << 8) | d[25];
    const uint8_t number = message == WM_EIT_PRESENT_READY ? 0 : 1;
    return d[0] == 0x4E && d[6] == number && 26 + loop == m.length - 4 &&
           FillerHolds(d, 26, 26 + loop, Fill(static_cast<uint16_t>((d[14] << 8) | d[15])));
}

struct Counters {
    std::atomic<int> verified{0};
    std::atomic<int> emptied{0};
    std::atomic<int> bad{0};
    std::atomic<int> present{0};
    std::atomic<int> following{0};
    std::atomic<int> sdt{0};
};

// The host's stream thread: sections of both services, some broken by a
// lost or repeated packet, in buffers of varying size.
void FeedPackets(PluginState& state, uint32_t seed, std::atomic<bool>& done) {
    std::mt19937 rng(seed);
    build::StreamBuilder sb;
    Bytes buffer;
    for (int i = 0; i < kSections; ++i) {
        const uint16_t sequence = static_cast<uint16_t>(i);
        const uint16_t service = kServices[rng() % 4 == 0 ? 1 : 0];
        const size_t filler = 2 + rng() % 700;
        const uint32_t kind = rng() % 10;
        uint16_t pid;
        std::vector<Bytes> sections;
        if (kind < 5) {
            pid = 0x0012;
            sections.push_back(EventSection(service, 0, sequence, filler));
        } else if (kind < 7) {
            pid = 0x0012;
            sections.push_back(EventSection(service, 1, sequence, filler));
        } else if (kind < 8) {
            // Present and following packed behind each other.
            pid = 0x0012;
            sections.push_back(EventSection(service, rng() % 2, sequence, filler / 4));
            sections.push_back(EventSection(service, rng() % 2, sequence, filler / 3));
        } else if (kind < 9) {
            pid = 0x0011;
            sections.push_back(ServiceSection(service, sequence, filler));
        } else if (rng() % 2) {
            pid = 0x1FC8;
            sections.push_back(build::PmtSection(service, 0x01FF, Bytes(),
                                                 {{0x1B, 0x0181, Bytes()}, {0x0F, static_cast<uint16_t>(0x0183 + i % 3), Bytes()}},
                                                 static_cast<uint8_t>(i & 0x1F)));
        } else {
            pid = 0x0014;
            sections.push_back(build::TotSection(0xE4C1, build::Bcd(i % 24), build::Bcd(i % 60), build::Bcd(i % 60)));
        }
        build::PacketOptions options;
        if (rng() % 3 == 0) options.adaptationLengths = {static_cast<int>(rng() % 60), static_cast<int>(rng() % 60)};
        std::vector<Bytes> packets = sb.Packets(pid, sections, options);
        if (packets.size() > 1 && rng() % 6 == 0) {
            const size_t at = 1 + rng() % (packets.size() - 1);
            if (rng() % 2) {
                packets.erase(packets.begin() + static_cast<std::ptrdiff_t>(at));
            } else {
                packets.insert(packets.begin() + static_cast<std::ptrdiff_t>(at), packets[at]);
            }
        }
        for (const Bytes& p : packets) buffer.insert(buffer.end(), p.begin(), p.end());
        if (buffer.size() >= 188 * (1 + rng() % 12)) {
            RoutePackets(state, buffer.data(), static_cast<uint32_t>(buffer.size()));
            buffer.clear();
        }
    }
    RoutePackets(state, buffer.data(), static_cast<uint32_t>(buffer.size()));
    done = true;
}

// The thread that reports channel and service changes.
void ChangeServices(PluginState& state, const std::atomic<bool>& done) {
    for (int i = 0; i < kServiceChanges && !done; ++i) {
        PluginOnChannelChange(state, 20 + i % 3, kServices[i % 5 == 4 ? 1 : 0]);
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
}

// The window thread. `realHandlers` also runs the dialog's own handlers and
// the view toggle command on each message.
void HandleMessages(TestPlugin& t, const std::atomic<bool>& done, bool realHandlers, Counters& c) {
    PluginState& state = t.s();
    int handled = 0;
    for (;;) {
        uint32_t message;
        if (!t.platform.PopMessage(message)) {
            if (done) {
                if (!t.platform.PopMessage(message)) break;
            } else {
                std::this_thread::yield();
                continue;
            }
        }
        if (message == WM_CHANNEL_LABELS || message == WM_SERVICE_VIEW || message == WM_GUIDE_READY) {
            // Not a hand-over of these mailboxes: the channel buttons'
            // labels, the view after a service change, the guide's sections.
            if (realHandlers) ViewerPrivateMessage(state, message);
            continue;
        }
        {
            std::lock_guard<std::mutex> guard(state.lock);
            const SectionMailbox& m = message == WM_SDT_READY           ? state.sdtMailbox
                                      : message == WM_EIT_PRESENT_READY ? state.presentMailbox
                                                                        : state.followingMailbox;
            if (m.length == 0) {
                // A service change since the message was posted emptied it.
                ++c.emptied;
            } else if (MailboxHolds(m, message)) {
                ++c.verified;
            } else {
                ++c.bad;
            }
        }
        if (message == WM_EIT_PRESENT_READY) ++c.present;
        if (message == WM_EIT_FOLLOWING_READY) ++c.following;
        if (message == WM_SDT_READY) ++c.sdt;
        if (realHandlers) {
            ViewerPrivateMessage(state, message);
        } else if (message == WM_EIT_PRESENT_READY) {
            TickBroadcastClock(state);
        }
        if (++handled % 7 == 0) {
            if (realHandlers) {
                ViewerCommand(state, IDC_PRESENT_FOLLOWING);
            } else {
                std::lock_guard<std::mutex> guard(state.lock);
                state.view = state.view == View::kFollowing ? View::kPresent : View::kFollowing;
            }
        }
    }
}

void RunThreads(bool realHandlers) {
    TestPlugin t;
    PluginOnChannelChange(t.s(), 20, kServices[0]);
    for (int32_t i = 0; i < kChannelButtonCount; ++i) t.s().channelTable[i] = 13 + i;
    std::atomic<bool> done{false};
    Counters c;
    std::thread window(HandleMessages, std::ref(t), std::cref(done), realHandlers, std::ref(c));
    std::thread changes(ChangeServices, std::ref(t.s()), std::cref(done));
    std::thread packets(FeedPackets, std::ref(t.s()), 12345u, std::ref(done));
    packets.join();
    changes.join();
    window.join();
    EXPECT_EQ(c.bad.load(), 0);
    // The run exercised every hand-over.
    EXPECT_GT(c.present.load(), 100);
    EXPECT_GT(c.following.load(), 10);
    EXPECT_GT(c.sdt.load(), 10);
    EXPECT_EQ(c.verified.load() + c.emptied.load(), c.present.load() + c.following.load() + c.sdt.load());
    // Whole sections were checked, not only mailboxes a service change had
    // emptied. How the two split depends on the scheduler (on a loaded
    // machine the changes can empty more than half), so only a floor.
    EXPECT_GT(c.verified.load(), 10);
}

TEST(SectionHandoverStress, MailboxesHoldWholeSections) { RunThreads(false); }

TEST(SectionHandoverStress, WithTheDialogHandlers) { RunThreads(true); }

}  // namespace
