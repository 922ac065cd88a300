#include "tools/streamkit/caption_builder.h"

#include <initializer_list>

#include "ts/crc16.h"

namespace build {

namespace {

// The parts one after another. (Built by index into a vector of the whole
// size: GCC 12's optimiser reports impossible overflows for small vectors
// that grow by push_back and insert.)
Bytes Join(std::initializer_list<const Bytes*> parts) {
    size_t size = 0;
    for (const Bytes* p : parts) size += p->size();
    Bytes out(size);
    size_t at = 0;
    for (const Bytes* p : parts) {
        for (size_t i = 0; i < p->size(); ++i) out[at++] = (*p)[i];
    }
    return out;
}

Bytes U24(size_t v) { return Bytes{static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)}; }

Bytes UnitLoop(const std::vector<Bytes>& units) {
    Bytes loop;
    for (const Bytes& u : units) loop = Join({&loop, &u});
    const Bytes length = U24(loop.size());
    return Join({&length, &loop});
}

}  // namespace

Bytes CaptionDataUnit(uint8_t parameter, const Bytes& bytes) {
    const Bytes header = {0x1F, parameter, static_cast<uint8_t>(bytes.size() >> 16),
                          static_cast<uint8_t>(bytes.size() >> 8), static_cast<uint8_t>(bytes.size())};
    return Join({&header, &bytes});
}

Bytes StatementBody(const Bytes& text) { return CaptionDataUnit(0x20, text); }

Bytes StatementData(const std::vector<Bytes>& units) {
    const Bytes mode = {0x3F};  // TMD 0, reserved bits set
    const Bytes loop = UnitLoop(units);
    return Join({&mode, &loop});
}

Bytes ManagementData(const std::vector<const char*>& languages, const std::vector<Bytes>& units) {
    Bytes d(2 + 5 * languages.size());
    d[0] = 0x3F;
    d[1] = static_cast<uint8_t>(languages.size());
    size_t at = 2;
    uint8_t tag = 0;
    for (const char* code : languages) {
        d[at++] = static_cast<uint8_t>((tag++ << 5) | 0x10 | 0x0A);
        for (int i = 0; i < 3; ++i) d[at++] = static_cast<uint8_t>(code[i]);
        d[at++] = 0x80;  // format 0b1000, TCS 0, rollup 0
    }
    const Bytes loop = UnitLoop(units);
    return Join({&d, &loop});
}

Bytes DataGroup(uint8_t dataGroupId, uint8_t version, const Bytes& data) {
    const Bytes header = {static_cast<uint8_t>((dataGroupId << 2) | (version & 0x03)), 0x00, 0x00,
                          static_cast<uint8_t>(data.size() >> 8), static_cast<uint8_t>(data.size())};
    const Bytes crcPlace = {0x00, 0x00};
    Bytes g = Join({&header, &data, &crcPlace});
    const uint16_t crc = Crc16Ccitt(g.data(), static_cast<int32_t>(g.size() - 2));
    g[g.size() - 2] = static_cast<uint8_t>(crc >> 8);
    g[g.size() - 1] = static_cast<uint8_t>(crc);
    return g;
}

Bytes CaptionPesPayload(const Bytes& dataGroup) {
    const Bytes header = {0x80, 0xFF, 0xF0};
    return Join({&header, &dataGroup});
}

Bytes PesPacketWithPts(uint64_t pts, const Bytes& payload) {
    const size_t length = 3 + 5 + payload.size();
    const Bytes header = {0x00, 0x00, 0x01, 0xBD, static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length),
                          0x80, 0x80, 0x05,
                          static_cast<uint8_t>(0x21 | ((pts >> 29) & 0x0E)), static_cast<uint8_t>(pts >> 22),
                          static_cast<uint8_t>(((pts >> 14) & 0xFE) | 0x01), static_cast<uint8_t>(pts >> 7),
                          static_cast<uint8_t>(((pts << 1) & 0xFE) | 0x01)};
    return Join({&header, &payload});
}

std::vector<Bytes> PesPackets(StreamBuilder& builder, uint16_t pid, const Bytes& pes) {
    std::vector<Bytes> packets;
    size_t at = 0;
    bool first = true;
    while (first || at < pes.size()) {
        const size_t n = pes.size() - at < 184 ? pes.size() - at : 184;
        packets.push_back(builder.Packet(pid, first, Bytes(pes.begin() + static_cast<long>(at),
                                                         pes.begin() + static_cast<long>(at + n))));
        at += n;
        first = false;
    }
    return packets;
}

std::vector<Bytes> SplitCaptionPayloads(const Bytes& file) {
    std::vector<Bytes> out;
    size_t at = 0;
    while (at + 3 <= file.size()) {
        const size_t group = at + 3 + (file[at + 2] & 0x0F);
        if (group + 5 > file.size()) break;
        const size_t end = group + 5 + ((static_cast<size_t>(file[group + 3]) << 8) | file[group + 4]) + 2;
        if (end > file.size()) break;
        out.push_back(Bytes(file.begin() + static_cast<long>(at), file.begin() + static_cast<long>(end)));
        at = end;
    }
    return out;
}

Bytes DrcsCharacter(uint16_t code, uint8_t width, uint8_t height, uint8_t fill) {
    const Bytes header = {static_cast<uint8_t>(code >> 8), static_cast<uint8_t>(code), 0x01, 0x01, 0x02, width, height};
    const Bytes pattern((static_cast<size_t>(width) * height * 2 + 7) / 8, fill);
    return Join({&header, &pattern});
}

Bytes DrcsUnit(uint8_t parameter, const std::vector<Bytes>& characters) {
    Bytes body = {static_cast<uint8_t>(characters.size())};
    for (const Bytes& c : characters) body = Join({&body, &c});
    return CaptionDataUnit(parameter, body);
}

}  // namespace build
