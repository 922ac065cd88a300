// PacketSync: the packets of 188-, 192- and 204-byte recordings, past junk
// and lost sync bytes, whatever the sizes in which the input arrives.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "tools/info/packet_sync.h"

namespace {

typedef std::vector<uint8_t> Bytes;

// Packet `k`: the sync byte, PID k, and a payload that holds no 0x47.
Bytes Packet(int k) {
    Bytes p(188, static_cast<uint8_t>(k % 0x40));
    p[0] = 0x47;
    p[1] = 0x01;
    p[2] = static_cast<uint8_t>(k);
    p[3] = 0x10;
    return p;
}

Bytes Packets(int first, int count) {
    Bytes out;
    for (int k = first; k < first + count; ++k) {
        const Bytes p = Packet(k);
        out.insert(out.end(), p.begin(), p.end());
    }
    return out;
}

// The same packets as 192-byte units (a timestamp before each) or 204-byte
// units (parity after each).
Bytes Units(const Bytes& packets, size_t unit) {
    Bytes out;
    for (size_t o = 0; o + 188 <= packets.size(); o += 188) {
        if (unit == 192) out.insert(out.end(), {0x0A, 0x0B, 0x0C, 0x0D});
        out.insert(out.end(), packets.begin() + static_cast<long>(o), packets.begin() + static_cast<long>(o + 188));
        if (unit == 204) out.insert(out.end(), 16, 0xEE);
    }
    return out;
}

Bytes Junk(size_t n, uint8_t value = 0x55) { return Bytes(n, value); }

Bytes Join(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

struct SyncResult {
    Bytes packets;
    size_t unit = 0;
    uint64_t skipped = 0;
    uint64_t lost = 0;
    uint64_t trailing = 0;
    bool notTransportStream = false;
};

// Feeds `input` in pieces of `piece` bytes, as a reader of files or pipes
// does, and collects every buffer of up to `bufferPackets` packets.
SyncResult RunSync(const Bytes& input, size_t piece, size_t bufferPackets, uint64_t leadingLimit = 1u << 20) {
    Bytes buffer(PacketSync::CapacityFor(bufferPackets));
    PacketSync sync(buffer.data(), buffer.size(), leadingLimit);
    SyncResult r;
    size_t at = 0;
    // Far more steps than any input here needs: a hang fails instead.
    for (size_t step = 0; step < 10 * input.size() + 1000; ++step) {
        const size_t n = sync.Gather(bufferPackets);
        EXPECT_LE(n, bufferPackets);
        if (n == bufferPackets || (n > 0 && sync.Finished())) {
            r.packets.insert(r.packets.end(), sync.Packets(), sync.Packets() + n * 188);
            sync.Release();
            continue;
        }
        if (sync.Finished()) break;
        const size_t room = sync.FreeSize();
        EXPECT_GT(room, 0u);
        const size_t take = std::min({room, piece, input.size() - at});
        if (take > 0) std::memcpy(sync.FreeSpace(), input.data() + at, take);
        sync.Commit(take);
        at += take;
        if (at == input.size()) sync.SetEnd();
    }
    EXPECT_TRUE(sync.Finished());
    EXPECT_EQ(sync.BytesIn(), at);
    r.unit = sync.UnitSize();
    r.skipped = sync.SkippedBytes();
    r.lost = sync.LostSyncs();
    r.trailing = sync.TrailingBytes();
    r.notTransportStream = sync.NotTransportStream();
    return r;
}

TEST(PacketSync, FindsThePacketsOfRecordingsAsTheyCome) {
    struct Case {
        const char* name;
        Bytes input;
        Bytes packets;  // expected, 188-byte packets
        size_t unit;
        uint64_t skipped;
        uint64_t lost;
        uint64_t trailing;
    };
    const Bytes twenty = Packets(0, 20);
    const Bytes units204 = Units(twenty, 204);
    // Packet 6 with its last 98 bytes lost, then packet 7 whole.
    const Bytes cut = Join({Bytes(twenty.begin() + 6 * 188, twenty.begin() + 6 * 188 + 90), Packets(7, 1)});
    // Sync bytes every 50 bytes, never at a 188-byte step from one another.
    Bytes scattered = Junk(377);
    for (size_t i = 25; i < scattered.size(); i += 50) scattered[i] = 0x47;
    Bytes badSync = twenty;
    badSync[10 * 188] = 0x46;  // one bit of packet 10's sync byte flipped
    const Case cases[] = {
        {"188-byte packets", twenty, twenty, 188, 0, 0, 0},
        {"192-byte units", Units(twenty, 192), twenty, 192, 0, 0, 0},
        {"204-byte units", Units(twenty, 204), twenty, 204, 0, 0, 0},
        {"a stray byte first", Join({Junk(1), twenty}), twenty, 188, 1, 0, 0},
        {"a stray 0x47 first", Join({Junk(1, 0x47), twenty}), twenty, 188, 1, 0, 0},
        {"a packet's tail first", Join({Bytes(twenty.end() - 100, twenty.end()), twenty}), twenty, 188, 100, 0, 0},
        {"junk in the middle", Join({Packets(0, 7), Junk(1001), Packets(7, 13)}), twenty, 188, 1001, 1, 0},
        {"junk holding sync bytes", Join({Packets(0, 7), scattered, Packets(7, 13)}), twenty, 188, 377, 1, 0},
        {"junk in 192-byte units", Join({Units(Packets(0, 5), 192), Junk(50), Units(Packets(5, 15), 192)}), twenty,
         192, 50, 1, 0},
        {"junk in 204-byte units", Join({Units(Packets(0, 5), 204), Junk(3), Units(Packets(5, 15), 204)}), twenty,
         204, 3, 1, 0},
        {"a lost sync byte drops its packet", badSync,
         Join({Packets(0, 10), Packets(11, 9)}), 188, 188, 1, 0},
        // The sync byte of the cut packet stands where it should: it goes
        // on with the next one's head; the next one's tail is passed over.
        {"bytes lost inside a packet", Join({Packets(0, 6), cut, Packets(8, 12)}),
         Join({Packets(0, 6), Bytes(cut.begin(), cut.begin() + 188), Packets(8, 12)}), 188, 90, 1, 0},
        {"a partial packet at the end", Join({twenty, Bytes(100, 0x47)}), twenty, 188, 0, 0, 100},
        {"204-byte units, the last parity cut", Bytes(units204.begin(), units204.end() - 10),
         twenty, 204, 0, 0, 0},
        {"two packets only", Packets(0, 2), Packets(0, 2), 188, 0, 0, 0},
        {"junk to the end", Join({twenty, Junk(500)}), twenty, 188, 500, 1, 0},
        {"junk and a short run at the end", Join({twenty, Junk(10), Packets(20, 2)}), Packets(0, 22), 188, 10, 1, 0},
    };
    for (const Case& c : cases) {
        for (const size_t piece : {size_t(1), size_t(7), size_t(188), size_t(4096), c.input.size()}) {
            for (const size_t buffer : {size_t(1), size_t(3), size_t(256)}) {
                SCOPED_TRACE(std::string(c.name) + ", pieces of " + std::to_string(piece) + ", buffers of " +
                             std::to_string(buffer));
                const SyncResult r = RunSync(c.input, piece, buffer);
                EXPECT_FALSE(r.notTransportStream);
                EXPECT_EQ(r.unit, c.unit);
                EXPECT_TRUE(r.packets == c.packets) << r.packets.size() / 188 << " packets";
                EXPECT_EQ(r.skipped, c.skipped);
                EXPECT_EQ(r.lost, c.lost);
                EXPECT_EQ(r.trailing, c.trailing);
            }
        }
    }
}

TEST(PacketSync, TellsWhatIsNoTransportStream) {
    std::mt19937 random(18);
    Bytes noise(100000);
    for (uint8_t& b : noise) b = static_cast<uint8_t>(random());
    struct Case {
        const char* name;
        Bytes input;
        uint64_t leadingLimit;
    };
    const Case cases[] = {
        {"empty", Bytes(), 1u << 20},
        {"text", Bytes(1000, 'a'), 1u << 20},
        {"noise", noise, 1u << 20},
        {"fewer bytes than a packet", Bytes(100, 0x47), 1u << 20},
        // A run shorter than five counts only from the first byte.
        {"two packets after a stray byte", Join({Junk(1), Packets(0, 2)}), 1u << 20},
        {"packets beyond the leading limit", Join({Junk(5000), Packets(0, 20)}), 4096},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (const size_t piece : {size_t(1), size_t(999), size_t(1) << 20}) {
            const SyncResult r = RunSync(c.input, piece, 4, c.leadingLimit);
            EXPECT_TRUE(r.notTransportStream);
            EXPECT_EQ(r.unit, 0u);
            EXPECT_TRUE(r.packets.empty());
        }
    }
    // Within the limit the same junk is skipped.
    EXPECT_EQ(RunSync(Join({Junk(5000), Packets(0, 20)}), 4096, 4, 8192).packets, Packets(0, 20));
}

// Whatever the bytes and the pieces: every gathered packet starts with the
// sync byte, and the run ends (under the sanitizers, without a stray access).
TEST(PacketSync, AnyBytesGiveWholePacketsAndAnEnd) {
    std::mt19937 random(2026);
    for (int round = 0; round < 300; ++round) {
        Bytes input;
        const int parts = static_cast<int>(random() % 12);
        for (int p = 0; p < parts; ++p) {
            switch (random() % 4) {
                case 0: {
                    const Bytes packets = Packets(p, static_cast<int>(random() % 8));
                    input.insert(input.end(), packets.begin(), packets.end());
                    break;
                }
                case 1: {
                    const Bytes units = Units(Packets(p, static_cast<int>(random() % 8)), random() % 2 ? 192 : 204);
                    input.insert(input.end(), units.begin(), units.end());
                    break;
                }
                case 2:
                    input.insert(input.end(), random() % 700, 0x47);
                    break;
                default:
                    for (size_t n = random() % 700; n > 0; --n) input.push_back(static_cast<uint8_t>(random()));
                    break;
            }
        }
        const size_t piece = 1 + random() % 600;
        const size_t buffer = 1 + random() % 5;
        SCOPED_TRACE("round " + std::to_string(round));
        const SyncResult r = RunSync(input, piece, buffer);
        ASSERT_EQ(r.packets.size() % 188, 0u);
        for (size_t o = 0; o < r.packets.size(); o += 188) ASSERT_EQ(r.packets[o], 0x47);
        EXPECT_LE(r.packets.size(), input.size());
    }
}

}  // namespace
