#include "tools/streamkit/caption_builder.h"

#include "ts/crc16.h"

namespace build {

namespace {

void Put24(Bytes& b, size_t v) {
    b.push_back(static_cast<uint8_t>(v >> 16));
    b.push_back(static_cast<uint8_t>(v >> 8));
    b.push_back(static_cast<uint8_t>(v));
}

Bytes UnitLoop(const std::vector<Bytes>& units) {
    Bytes loop;
    for (const Bytes& u : units) loop.insert(loop.end(), u.begin(), u.end());
    Bytes out;
    Put24(out, loop.size());
    out.insert(out.end(), loop.begin(), loop.end());
    return out;
}

}  // namespace

Bytes CaptionDataUnit(uint8_t parameter, const Bytes& bytes) {
    Bytes u = {0x1F, parameter};
    Put24(u, bytes.size());
    u.insert(u.end(), bytes.begin(), bytes.end());
    return u;
}

Bytes StatementBody(const Bytes& text) { return CaptionDataUnit(0x20, text); }

Bytes StatementData(const std::vector<Bytes>& units) {
    Bytes d = {0x3F};  // TMD 0, reserved bits set
    const Bytes loop = UnitLoop(units);
    d.insert(d.end(), loop.begin(), loop.end());
    return d;
}

Bytes ManagementData(const std::vector<const char*>& languages, const std::vector<Bytes>& units) {
    Bytes d = {0x3F, static_cast<uint8_t>(languages.size())};
    uint8_t tag = 0;
    for (const char* code : languages) {
        d.push_back(static_cast<uint8_t>((tag++ << 5) | 0x10 | 0x0A));
        for (int i = 0; i < 3; ++i) d.push_back(static_cast<uint8_t>(code[i]));
        d.push_back(0x80);  // format 0b1000, TCS 0, rollup 0
    }
    const Bytes loop = UnitLoop(units);
    d.insert(d.end(), loop.begin(), loop.end());
    return d;
}

Bytes DataGroup(uint8_t dataGroupId, uint8_t version, const Bytes& data) {
    Bytes g = {static_cast<uint8_t>((dataGroupId << 2) | (version & 0x03)), 0x00, 0x00,
               static_cast<uint8_t>(data.size() >> 8), static_cast<uint8_t>(data.size())};
    g.insert(g.end(), data.begin(), data.end());
    const uint16_t crc = Crc16Ccitt(g.data(), static_cast<int32_t>(g.size()));
    g.push_back(static_cast<uint8_t>(crc >> 8));
    g.push_back(static_cast<uint8_t>(crc));
    return g;
}

Bytes CaptionPesPayload(const Bytes& dataGroup) {
    Bytes p = {0x80, 0xFF, 0xF0};
    p.insert(p.end(), dataGroup.begin(), dataGroup.end());
    return p;
}

Bytes PesPacketWithPts(uint64_t pts, const Bytes& payload) {
    const size_t length = 3 + 5 + payload.size();
    Bytes p = {0x00, 0x00, 0x01, 0xBD, static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length),
               0x80, 0x80, 0x05};
    p.push_back(static_cast<uint8_t>(0x21 | ((pts >> 29) & 0x0E)));
    p.push_back(static_cast<uint8_t>(pts >> 22));
    p.push_back(static_cast<uint8_t>(((pts >> 14) & 0xFE) | 0x01));
    p.push_back(static_cast<uint8_t>(pts >> 7));
    p.push_back(static_cast<uint8_t>(((pts << 1) & 0xFE) | 0x01));
    p.insert(p.end(), payload.begin(), payload.end());
    return p;
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

Bytes DrcsCharacter(uint16_t code, uint8_t width, uint8_t height, uint8_t fill) {
    Bytes c = {static_cast<uint8_t>(code >> 8), static_cast<uint8_t>(code), 0x01, 0x01, 0x02, width, height};
    const size_t size = (static_cast<size_t>(width) * height * 2 + 7) / 8;
    c.insert(c.end(), size, fill);
    return c;
}

Bytes DrcsUnit(uint8_t parameter, const std::vector<Bytes>& characters) {
    Bytes body = {static_cast<uint8_t>(characters.size())};
    for (const Bytes& c : characters) body.insert(body.end(), c.begin(), c.end());
    return CaptionDataUnit(parameter, body);
}

}  // namespace build
