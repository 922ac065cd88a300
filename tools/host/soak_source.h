// Buffers for the soak: the sample stream's packets in order, mixed with
// damaged data of every kind a broken tuner or a bad reception delivers.
// Deterministic for a seed, so that a failing run can be repeated.
#ifndef KESTRIN_TOOLS_HOST_SOAK_SOURCE_H
#define KESTRIN_TOOLS_HOST_SOAK_SOURCE_H

#include <cstdint>
#include <vector>

// splitmix64: small, fast and good enough to pick damage.
class SoakRandom {
public:
    explicit SoakRandom(uint64_t seed) : state_(seed) {}
    uint32_t Next();
    // 0..n-1 (0 when n is 0).
    uint32_t Below(uint32_t n);
    bool Chance(uint32_t percent) { return Below(100) < percent; }

private:
    uint64_t state_;
};

enum SoakDamage {
    kDamageNone,          // whole packets in stream order
    kDamageFlippedBytes,  // a few bytes anywhere set to random values
    kDamageCutSections,   // packets dropped, so sections lose their middles
    kDamageRepeatedCc,    // packets sent twice with the same continuity counter
    kDamageWrongLength,   // a byte count that is not a multiple of 188
    kDamageMisaligned,    // packets cut at a wrong offset: no packet starts at 0x47
    kDamageRandomBytes,   // noise, some of it with sync bytes and PSI PIDs
    kDamageMutatedSi,     // PSI/SI packets with their length and header bytes changed
    kDamageKindCount
};

const char* SoakDamageName(SoakDamage damage);

// The largest buffer Next writes.
const uint32_t kSoakBufferCapacity = 188 * 260;

class SoakSource {
public:
    // `stream`: whole 188-byte packets (a partial packet at the end is
    // ignored); must hold at least one packet.
    SoakSource(const std::vector<uint8_t>& stream, uint64_t seed);

    // Writes the next buffer into `out` (kSoakBufferCapacity bytes) and
    // returns its length in bytes (may be 0).
    uint32_t Next(uint8_t* out, SoakDamage* damage);

    SoakRandom& Random() { return random_; }

private:
    const uint8_t* Packet(size_t index) const;
    uint32_t CopyRun(uint8_t* out, uint32_t packets);

    const std::vector<uint8_t>& stream_;
    size_t packetCount_;
    size_t cursor_;
    // Packets of the PSI/SI PIDs the plug-in parses (PAT, NIT, SDT, EIT,
    // TOT, one-segment PMT).
    std::vector<uint32_t> siPackets_;
    SoakRandom random_;
};

#endif
