#include "tools/host/soak_source.h"

#include <cstring>

namespace {

const uint32_t kPacket = 188;

uint16_t PidOf(const uint8_t* p) { return static_cast<uint16_t>(((p[1] & 0x1F) << 8) | p[2]); }

bool IsParsedSiPid(uint16_t pid) {
    return pid == 0x0000 || pid == 0x0010 || pid == 0x0011 || pid == 0x0012 || pid == 0x0014 ||
           pid == 0x1FC8;
}

// Picked at random for noise packets that look like PSI/SI.
const uint16_t kSiPids[] = {0x0000, 0x0011, 0x0012, 0x0014, 0x1FC8, 0x0024, 0x0027, 0x0028};

struct Weight {
    SoakDamage damage;
    uint32_t weight;
};
// Out of 100. Clean data keeps the assemblers finishing sections, so that
// the window has texts to show between the damage.
const Weight kWeights[] = {
    {kDamageNone, 40},        {kDamageFlippedBytes, 10}, {kDamageCutSections, 8},
    {kDamageRepeatedCc, 8},   {kDamageWrongLength, 8},   {kDamageMisaligned, 6},
    {kDamageRandomBytes, 6},  {kDamageMutatedSi, 14},
};

}  // namespace

uint32_t SoakRandom::Next() {
    state_ += 0x9E3779B97F4A7C15ull;
    uint64_t z = state_;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return static_cast<uint32_t>((z ^ (z >> 31)) >> 32);
}

uint32_t SoakRandom::Below(uint32_t n) { return n == 0 ? 0 : Next() % n; }

const char* SoakDamageName(SoakDamage damage) {
    switch (damage) {
        case kDamageNone: return "clean";
        case kDamageFlippedBytes: return "flipped bytes";
        case kDamageCutSections: return "cut sections";
        case kDamageRepeatedCc: return "repeated continuity counters";
        case kDamageWrongLength: return "lengths not a multiple of 188";
        case kDamageMisaligned: return "misaligned packets";
        case kDamageRandomBytes: return "random bytes";
        case kDamageMutatedSi: return "mutated PSI/SI headers";
        case kDamageKindCount: break;
    }
    return "?";
}

SoakSource::SoakSource(const std::vector<uint8_t>& stream, uint64_t seed)
    : stream_(stream), packetCount_(stream.size() / kPacket), cursor_(0), random_(seed) {
    for (size_t i = 0; i < packetCount_; ++i) {
        if (IsParsedSiPid(PidOf(Packet(i)))) siPackets_.push_back(static_cast<uint32_t>(i));
    }
}

const uint8_t* SoakSource::Packet(size_t index) const { return stream_.data() + (index % packetCount_) * kPacket; }

uint32_t SoakSource::CopyRun(uint8_t* out, uint32_t packets) {
    for (uint32_t i = 0; i < packets; ++i) {
        std::memcpy(out + i * kPacket, Packet(cursor_), kPacket);
        cursor_ = (cursor_ + 1) % packetCount_;
    }
    return packets * kPacket;
}

uint32_t SoakSource::Next(uint8_t* out, SoakDamage* damage) {
    uint32_t pick = random_.Below(100);
    SoakDamage kind = kDamageNone;
    for (const Weight& w : kWeights) {
        if (pick < w.weight) {
            kind = w.damage;
            break;
        }
        pick -= w.weight;
    }
    *damage = kind;

    // Up to 128 packets a buffer, as hosts hand them over.
    const uint32_t packets = 1 + random_.Below(128);
    switch (kind) {
        case kDamageNone:
            return CopyRun(out, packets);

        case kDamageFlippedBytes: {
            const uint32_t length = CopyRun(out, packets);
            const uint32_t flips = 1 + random_.Below(8);
            for (uint32_t i = 0; i < flips; ++i) out[random_.Below(length)] = static_cast<uint8_t>(random_.Next());
            return length;
        }

        case kDamageCutSections: {
            for (uint32_t i = 0; i < packets; ++i) {
                if (random_.Below(8) == 0) cursor_ = (cursor_ + 1 + random_.Below(30)) % packetCount_;
                CopyRun(out + i * kPacket, 1);
            }
            return packets * kPacket;
        }

        case kDamageRepeatedCc: {
            // Each packet possibly twice; the buffer holds at most 2 x 128.
            uint32_t length = 0;
            for (uint32_t i = 0; i < packets; ++i) {
                const uint8_t* p = Packet(cursor_);
                std::memcpy(out + length, p, kPacket);
                length += kPacket;
                if (random_.Below(4) == 0) {
                    std::memcpy(out + length, p, kPacket);
                    length += kPacket;
                }
                cursor_ = (cursor_ + 1) % packetCount_;
            }
            return length;
        }

        case kDamageWrongLength: {
            // Whole packets and then a part of the next one, or less than
            // one packet; the next buffer starts at a packet boundary again,
            // as a host's next read would.
            const uint32_t whole = random_.Below(packets);
            uint32_t length = CopyRun(out, whole + 1);
            const uint32_t cut = 1 + random_.Below(kPacket - 1);
            length = whole * kPacket + cut;
            return length;
        }

        case kDamageMisaligned: {
            const uint32_t offset = 1 + random_.Below(kPacket - 1);
            CopyRun(out, packets + 1);
            std::memmove(out, out + offset, packets * kPacket);
            return packets * kPacket;
        }

        case kDamageRandomBytes: {
            const uint32_t length = random_.Below(packets * kPacket + 1);
            for (uint32_t i = 0; i < length; ++i) out[i] = static_cast<uint8_t>(random_.Next());
            if (random_.Chance(50)) {
                // Noise that passes for packets of the parsed PIDs.
                for (uint32_t at = 0; at + 4 <= length; at += kPacket) {
                    const uint16_t pid = kSiPids[random_.Below(sizeof kSiPids / sizeof kSiPids[0])];
                    out[at] = 0x47;
                    out[at + 1] = static_cast<uint8_t>((out[at + 1] & 0xE0) | (pid >> 8));
                    out[at + 2] = static_cast<uint8_t>(pid & 0xFF);
                }
            }
            return length;
        }

        case kDamageMutatedSi: {
            if (siPackets_.empty()) return CopyRun(out, packets);
            // A run of PSI/SI packets from a random place (so that sections
            // spanning packets stay together), with the bytes that steer the
            // parsers changed: pointer_field, table_id, section_length,
            // service_id, section_number, loop and descriptor lengths.
            const uint32_t run = 1 + random_.Below(32);
            size_t si = random_.Below(static_cast<uint32_t>(siPackets_.size()));
            for (uint32_t i = 0; i < run; ++i) {
                uint8_t* p = out + i * kPacket;
                std::memcpy(p, Packet(siPackets_[(si + i) % siPackets_.size()]), kPacket);
                const uint32_t mutations = 1 + random_.Below(6);
                for (uint32_t m = 0; m < mutations; ++m) {
                    const uint32_t at = random_.Chance(75) ? 4 + random_.Below(40) : random_.Below(kPacket);
                    switch (random_.Below(4)) {
                        case 0: p[at] = 0xFF; break;
                        case 1: p[at] = 0x00; break;
                        default: p[at] = static_cast<uint8_t>(random_.Next()); break;
                    }
                }
                if (random_.Chance(20)) p[3] = static_cast<uint8_t>((p[3] & 0xF0) | random_.Below(16));
                if (random_.Chance(10)) p[1] ^= 0x40;  // payload_unit_start_indicator
            }
            return run * kPacket;
        }

        case kDamageKindCount:
            break;
    }
    return 0;
}
