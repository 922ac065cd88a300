#include "tools/streamkit/test_multiplex.h"

#include <string>

#include "tools/streamkit/arib_encoder.h"
#include "tools/streamkit/stream_builder.h"

namespace build {

namespace {

const uint16_t kMjd = 61384;  // 2026-12-10

// Deterministic filler for elementary-stream payloads.
uint32_t NextRandom(uint32_t& state) {
    state = state * 1664525u + 1013904223u;
    return state >> 8;
}

Bytes EsPayload(uint32_t& random, bool pesStart) {
    Bytes b(184);
    for (uint8_t& x : b) x = static_cast<uint8_t>(NextRandom(random));
    if (pesStart) {
        b[0] = 0x00;
        b[1] = 0x00;
        b[2] = 0x01;
        b[3] = 0xE0;
    }
    return b;
}

Bytes Arib(const char* utf8) { return EncodeAribFromUtf8(utf8); }

// The boxed 字 of the additional symbols as the user-defined character of
// code page 932, which the encoder turns back into the symbol.
const char kBoxedJi[] = "\xF1\x83";

// Extended event descriptor 0 of 0 with the items of the tooltip, and a
// content descriptor with one genre (user nibbles 0xFF).
Bytes DetailDescriptors(uint8_t sectionNumber) {
    const Bytes items[4] = {
        Arib("出演者"),
        Arib(sectionNumber == 0 ? "山田太郎、鈴木花子" : "港野灯、海原一郎"),
        Arib("番組内容"),
        EncodeAribFromShiftJis(Utf8ToShiftJis(sectionNumber == 0 ? "全国と各地のニュース、気象情報。"
                                                                  : "港町を舞台にした連続ドラマ。") +
                               kBoxedJi),
    };
    Bytes loop;
    for (const Bytes& item : items) {
        loop.push_back(static_cast<uint8_t>(item.size()));
        loop.insert(loop.end(), item.begin(), item.end());
    }
    // descriptor_number 0, last 0, "jpn", the items, no text_char.
    const Bytes extended = Cat({Bytes{0x00, 'j', 'p', 'n', static_cast<uint8_t>(loop.size())}, loop, Bytes{0}});
    const uint8_t genre = sectionNumber == 0 ? 0x00 : 0x30;  // news / drama
    return Cat({Descriptor(0x54, {genre, 0xFF}), Descriptor(0x4E, extended)});
}

// The present or following event of a service, with the descriptors the
// viewer reads: short event (title and a description long enough to span
// two packets), video component, main and sub audio; with `details` also
// the genre and the extended event items.
Bytes EventSection(uint16_t service, uint8_t sectionNumber, uint8_t version, int cycle, bool details) {
    const int hour = 20 + sectionNumber;
    std::string title = sectionNumber == 0 ? "ニュース・気象情報　第" : "ドラマ「港の灯」第";
    title += std::to_string(cycle % 100);
    title += "回";
    const char* text =
        "全国と各地のニュース、気象情報をお伝えします。"
        "出演：山田太郎、鈴木花子。ワンセグ放送では字幕とデータ放送もご覧いただけます。"
        "番組の内容は変更になる場合があります。";
    AudioComponent main;
    AudioComponent sub;
    sub.componentType = 0x02;  // dual mono
    sub.flags = 0xBF;          // sub component, quality 3
    sub.language2 = "eng";
    const Bytes descriptors =
        Cat({ShortEventDescriptor(Arib(title.c_str()), Arib(text)),
             ComponentDescriptor(1, 0xB3, 0x00), AudioComponentDescriptor(main),
             AudioComponentDescriptor(sub), details ? DetailDescriptors(sectionNumber) : Bytes()});
    return EitPfSection(service, sectionNumber,
                        {Event(kMjd, hour, 54, 0, 1, 0, 0, descriptors)}, version);
}

Bytes ServiceSection(uint8_t version) {
    return SdtSection(kDefaultTransportStreamId, kDefaultNetworkId,
                      {NamedService(kMuxFullSegService, Arib("ケストリン総合"), Arib("ケストリン")),
                       NamedService(kMuxOtherService, Arib("ケストリン２"), Arib("ケストリン")),
                       NamedService(kMuxOneSegService, Arib("ケストリン　ワンセグ"),
                                    Arib("ケストリン"), 0xC0)},
                      version);
}

}  // namespace

std::vector<uint8_t> BuildTestMultiplex(const MultiplexOptions& options) {
    StreamBuilder sb;
    uint32_t random = 12345;
    const Bytes pat = PatSection(kDefaultTransportStreamId, {{0x0000, 0x0010},
                                                             {kMuxFullSegService, 0x0101},
                                                             {kMuxOtherService, 0x0102},
                                                             {kMuxOneSegService, 0x1FC8}});
    const Bytes oneSegPmt =
        PmtSection(kMuxOneSegService, kMuxOneSegPcrPid, Bytes(),
                   {{0x1B, kMuxOneSegVideoPid, Bytes()}, {0x0F, kMuxOneSegAudioPid, Bytes()}});
    const Bytes fullSegPmt =
        PmtSection(kMuxFullSegService, kMuxFullSegVideoPid, Bytes(),
                   {{0x02, kMuxFullSegVideoPid, Bytes()}, {0x0F, kMuxFullSegAudioPid, Bytes()}});
    const PacketOptions oneSection;  // each table on its own packets
    Bytes out;
    for (int cycle = 0; cycle < options.cycles; ++cycle) {
        const uint8_t version = static_cast<uint8_t>(options.sectionsChange ? cycle & 0x1F : 0);
        const int label = options.sectionsChange ? cycle : 0;
        // Service information and one-segment packets, spread over the cycle.
        std::vector<Bytes> special;
        auto add = [&special](const std::vector<Bytes>& packets) {
            special.insert(special.end(), packets.begin(), packets.end());
        };
        add(sb.Packets(0x0000, {pat}, oneSection));
        add(sb.Packets(0x1FC8, {oneSegPmt}, oneSection));
        add(sb.Packets(0x0101, {fullSegPmt}, oneSection));
        const uint16_t services[3] = {kMuxOneSegService, kMuxFullSegService, kMuxOtherService};
        for (uint16_t service : services) {
            PacketOptions separate;
            separate.packSections = false;
            Bytes present = EventSection(service, 0, version, label, options.eventDetails);
            Bytes following = EventSection(service, 1, version, label + 1, options.eventDetails);
            if (options.followingFirst) present.swap(following);
            add(sb.Packets(0x0012, {present, following}, separate));
        }
        add(sb.Packets(0x0011, {ServiceSection(version)}, oneSection));
        const int second = (cycle / 10) % 60;
        add(sb.Packets(0x0014, {TotSection(kMjd, 0x21, 0x30, Bcd(second))}, oneSection));
        const uint16_t siPids[4] = {0x0010, 0x0024, 0x0027, 0x0028};
        for (uint16_t pid : siPids) add({sb.Packet(pid, true, Bytes(184, 0xFF))});
        add({sb.Packet(kMuxOneSegPcrPid, false, Bytes(), 183)});
        for (int i = 0; i < options.oneSegVideoPackets; ++i) {
            add({sb.Packet(kMuxOneSegVideoPid, i == 0, EsPayload(random, i == 0))});
        }
        for (int i = 0; i < options.oneSegAudioPackets; ++i) {
            add({sb.Packet(kMuxOneSegAudioPid, i == 0, EsPayload(random, i == 0))});
        }

        // Fill the cycle with full-segment packets around them.
        const int total = options.packetsPerCycle > static_cast<int>(special.size())
                              ? options.packetsPerCycle
                              : static_cast<int>(special.size());
        const int fill = total - static_cast<int>(special.size());
        size_t next = 0;
        for (int i = 0; i < total; ++i) {
            const bool takeSpecial =
                next < special.size() &&
                (fill == 0 || static_cast<size_t>(i) * special.size() >= next * static_cast<size_t>(total));
            if (takeSpecial) {
                out.insert(out.end(), special[next].begin(), special[next].end());
                ++next;
                continue;
            }
            Bytes p;
            const uint32_t r = NextRandom(random) % 100;
            if (r < 90) {
                p = sb.Packet(kMuxFullSegVideoPid, r == 0, EsPayload(random, r == 0));
            } else if (r < 97) {
                p = sb.Packet(kMuxFullSegAudioPid, r == 90, EsPayload(random, r == 90));
            } else {
                p = MakePacket(0x1FFF, false, 0, Bytes(184, 0xFF));
            }
            out.insert(out.end(), p.begin(), p.end());
        }
    }
    return out;
}

}  // namespace build
