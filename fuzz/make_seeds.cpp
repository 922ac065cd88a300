// Writes the seed corpora of the fuzz targets into fuzz/corpus/<target>/:
// excerpts of the generated multiplex, single sections from the stream
// builder, the real PSI packets of tests/data/real, settings values, and
// ARIB strings of the shifts and designations the text decoder must follow.
// Run by `scripts/fuzz.sh --make-seeds`; the seeds are committed, so this
// is needed only when the input layouts of the targets change.
//
// Usage: make_seeds CORPUS_DIR [REALDATA_DIR [SAMPLE_TS]]
// SAMPLE_TS is kestrin-gen's sample stream; excerpts of it become seeds.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tools/streamkit/arib_encoder.h"
#include "tools/streamkit/stream_builder.h"
#include "tools/streamkit/test_multiplex.h"
#include "ts/calendar.h"
#include "ts/crc32.h"

using build::Bytes;

namespace {

std::string gCorpus;

void Write(const char* target, const std::string& name, const Bytes& bytes) {
    const std::string path = gCorpus + "/" + target + "/" + name;
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        return;
    }
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

Bytes ReadFile(const std::string& path) {
    Bytes b;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return b;
    uint8_t buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) b.insert(b.end(), buf, buf + n);
    std::fclose(f);
    return b;
}

Bytes Arib(const char* utf8) { return EncodeAribFromUtf8(utf8); }

// --- Packet path --------------------------------------------------------------
// Script bytes of fuzz_packet_path (see its header comment).
namespace op {
// One feed carries at most 4095 bytes; longer ones become several.
Bytes Feed(size_t n, bool lag = false) {
    Bytes b;
    do {
        const size_t part = n > 4095 ? 4095 : n;
        b.push_back(static_cast<uint8_t>(((part >> 8) << 4) | (lag ? 4 : 0)));
        b.push_back(static_cast<uint8_t>(part & 0xFF));
        n -= part;
    } while (n > 0);
    return b;
}
// Index into the target's service table: 2 is 0x0408, 3 is 0x5DB8.
Bytes Service(uint8_t channel, uint8_t pick) { return {0x08, channel, pick}; }
const Bytes kView = {0x09};
const Bytes kRecord = {0x0A};
const Bytes kRequest = {0x0B};
Bytes FailWrite(uint8_t b) { return {0x0C, b}; }
Bytes Button(uint8_t i) { return {0x0D, i}; }
const Bytes kPump = {0x0E};
const Bytes kClose = {0x0F, 0x01};
const Bytes kMoved = {0x0F, 0x00};
}  // namespace op

Bytes PacketPathInput(const Bytes& script, const Bytes& stream) {
    if (script.size() > 255) std::fprintf(stderr, "script of %zu bytes cut\n", script.size());
    Bytes in;
    in.push_back(static_cast<uint8_t>(script.size()));
    in.insert(in.end(), script.begin(), script.end());
    in.insert(in.end(), stream.begin(), stream.end());
    return in;
}

Bytes SmallMultiplex(int cycles, bool change) {
    build::MultiplexOptions o;
    o.cycles = cycles;
    o.packetsPerCycle = 0;
    o.oneSegVideoPackets = 2;
    o.oneSegAudioPackets = 1;
    o.sectionsChange = change;
    return build::BuildTestMultiplex(o);
}

// The first `count` packets of the sample that the plug-in looks at or
// records (service information and the one-segment service 0x0588), with
// every 50th of the others, in their original order and counters.
Bytes SampleExcerpt(const Bytes& sample, size_t skip, size_t count) {
    Bytes out;
    size_t taken = 0;
    size_t others = 0;
    for (size_t o = skip * 188; o + 188 <= sample.size() && taken < count; o += 188) {
        const uint16_t pid = static_cast<uint16_t>(((sample[o + 1] & 0x1F) << 8) | sample[o + 2]);
        const bool wanted = pid <= 0x0014 || pid == 0x0024 || pid == 0x0027 || pid == 0x0028 ||
                            pid == 0x1FC8 || pid == 0x0181 || pid == 0x0183 || pid == 0x01FF;
        if (wanted || ++others % 50 == 0) {
            out.insert(out.end(), sample.begin() + static_cast<std::ptrdiff_t>(o),
                       sample.begin() + static_cast<std::ptrdiff_t>(o + 188));
            ++taken;
        }
    }
    return out;
}

// The carousel with, from packet `from` on, the first PUSI packet of each
// table PID damaged: its first section's section_length raised past what
// was sent, so that the section can only end at the PID's next PUSI packet
// (the next version, with a changing multiplex). The counters stay.
Bytes DamagedCarousel(const Bytes& stream, size_t from) {
    static const uint16_t kTablePids[] = {0x0000, 0x0011, 0x0012, 0x0014, 0x0101, 0x0102, 0x1FC8};
    Bytes out = stream;
    bool done[sizeof kTablePids / sizeof kTablePids[0]] = {};
    for (size_t o = from * 188; o + 188 <= out.size(); o += 188) {
        uint8_t* p = &out[o];
        if ((p[1] & 0x40) == 0 || (p[3] & 0x20) != 0) continue;
        const uint16_t pid = static_cast<uint16_t>(((p[1] & 0x1F) << 8) | p[2]);
        const size_t s = 5 + p[4];
        if (s + 2 >= 188) continue;
        for (size_t i = 0; i < sizeof kTablePids / sizeof kTablePids[0]; ++i) {
            if (kTablePids[i] != pid || done[i]) continue;
            p[s + 1] = static_cast<uint8_t>(p[s + 1] | 0x03);
            done[i] = true;
        }
    }
    return out;
}

void PacketPathSeeds(const std::string& realdata, const std::string& samplePath) {
    const char* t = "packet_path";
    const Bytes mux = SmallMultiplex(2, true);
    const size_t packet = 188;

    // Recording the one-segment service, fed packet-aligned.
    Write(t, "record_aligned",
          PacketPathInput(build::Cat({op::Service(27, 2), op::kRecord, op::Feed(packet * 10),
                                      op::Feed(packet * 10), op::kView, op::Feed(packet * 10),
                                      op::kRequest, op::Feed(packet * 20), op::kRecord}),
                          mux));
    // The same stream in odd buffer sizes: partial packets at every end.
    Write(t, "record_ragged",
          PacketPathInput(build::Cat({op::Service(27, 2), op::kRecord, op::Feed(7), op::Feed(1000),
                                      op::Feed(188 * 3 + 100), op::Feed(1), op::Feed(3000, true),
                                      op::kView, op::Feed(377), op::kPump, op::Feed(2500)}),
                          mux));
    // A write fails on the fourth packet; then the user starts again.
    Write(t, "write_fails",
          PacketPathInput(build::Cat({op::Service(27, 2), op::kRecord, op::FailWrite(3),
                                      op::Feed(packet * 20), op::kRecord, op::Feed(packet * 20)}),
                          mux));
    // A service change in the middle of a recording, then the close command.
    Write(t, "service_change_close",
          PacketPathInput(build::Cat({op::Service(27, 2), op::kRecord, op::Feed(packet * 15),
                                      op::Service(28, 1), op::Feed(packet * 10), op::kView,
                                      op::Service(28, 2), op::Feed(packet * 10), op::kClose,
                                      op::Feed(packet * 5), op::kRecord, op::Button(0), op::kMoved}),
                          mux));
    // Following view from the start, messages left waiting.
    Write(t, "following_lagging",
          PacketPathInput(build::Cat({op::Service(13, 2), op::kView, op::Feed(packet * 30, true),
                                      op::kRequest, op::kView, op::Feed(packet * 30, true)}),
                          mux));
    // Repeated sections: the change keys stop the work.
    Write(t, "repeated_sections",
          PacketPathInput(build::Cat({op::Service(27, 2), op::kRecord}), SmallMultiplex(2, false)));

    // One damaged PUSI packet on every table PID in the middle of the
    // carousel, then new versions: the tables must go on (caption view open,
    // recording, both views).
    const Bytes changing = SmallMultiplex(4, true);
    Write(t, "damaged_length_carousel",
          PacketPathInput(build::Cat({op::Service(27, 2), op::kRecord, op::Feed(packet * 40), op::kView,
                                      op::Feed(packet * 40)}),
                          DamagedCarousel(changing, changing.size() / 188 / 4)));
    Write(t, "damaged_length_fullseg",
          PacketPathInput(build::Cat({op::Service(27, 1), op::Feed(packet * 7), op::Feed(packet * 50, true),
                                      op::kPump}),
                          DamagedCarousel(changing, changing.size() / 188 / 2)));

    // Sections behind adaptation fields and packed several to a packet.
    build::StreamBuilder sb;
    build::PacketOptions packed;
    packed.adaptationLengths = {7, 0, 20, 100};
    const Bytes title = Arib("天気予報");
    const Bytes eitP = build::EitPfSection(
        build::kMuxOneSegService, 0,
        {build::Event(61384, 12, 0, 0, 0, 30, 0,
                      build::ShortEventDescriptor(title, Arib("全国の天気")))});
    build::EitEvent following = build::Event(61384, 12, 30, 0, 0, 0, 0);
    following.duration[0] = following.duration[1] = following.duration[2] = 0xFF;
    const Bytes eitF = build::EitPfSection(build::kMuxOneSegService, 1, {following});
    const Bytes eitOther = build::EitPfSection(0x0400, 1, {build::Event(61384, 12, 0, 0, 1, 0, 0)});
    Bytes stream = build::Cat({sb.Stream(0x0012, {eitOther, eitP, eitF}, packed),
                               sb.Stream(0x0014, {build::TotSection(61384, 0x23, 0x59, 0x59)}),
                               sb.Stream(0x0014, {build::TdtSection(61384, 0x12, 0x00, 0x00)})});
    Write(t, "packed_adaptation",
          PacketPathInput(build::Cat({op::Service(27, 2), op::kView, op::Feed(packet * 2),
                                      op::kView}),
                          stream));

    // The guide keeps every service: schedule sections of services of the
    // actual stream and of two other streams (0x60), their SDT actual and
    // other, present/following of them all, two rounds with new versions;
    // service changes between them.
    {
        std::vector<Bytes> eit;
        std::vector<Bytes> sdt;
        for (uint8_t version = 0; version < 2; ++version) {
            for (uint16_t n = 0; n < 8; ++n) {
                const uint16_t service = static_cast<uint16_t>(0x0400 + n);
                const uint8_t table = n < 3 ? 0x50 : 0x60;
                build::EitHeader h = build::ScheduleHeader(service, static_cast<uint8_t>(version * 8), version, table);
                h.lastTableId = table;
                if (table == 0x60) h.transportStreamId = static_cast<uint16_t>(0x4010 + n % 2);
                eit.push_back(build::EitSection(
                    h, {build::Event(61384, 12 + n, 0, 0, 1, 0, 0,
                                     build::ShortEventDescriptor(Arib("番組"), Arib("内容")))}));
                eit.push_back(build::EitPfSection(service, 0, {build::Event(61384, 12, 0, 0, 1, 0, 0)}, version,
                                                  h.transportStreamId, h.originalNetworkId,
                                                  table == 0x50 ? 0x4E : 0x4F));
            }
            Bytes other = build::SdtSection(0x4010, build::kDefaultNetworkId,
                                            {build::NamedService(0x0403, Arib("衛星"))}, version);
            other[0] = 0x46;  // SDT other
            const uint32_t crc = Crc32Mpeg2(other.data(), other.size() - 4);
            for (int i = 0; i < 4; ++i) other[other.size() - 4 + i] = static_cast<uint8_t>(crc >> (24 - 8 * i));
            sdt.push_back(build::SdtSection(build::kDefaultTransportStreamId, build::kDefaultNetworkId,
                                            {build::NamedService(0x0400, Arib("総合")),
                                             build::NamedService(0x0401, Arib("教育"))},
                                            version));
            sdt.push_back(other);
        }
        const Bytes guide = build::Cat({sb.Stream(0x0014, {build::TotSection(61384, 0x12, 0x10, 0x00)}),
                                        sb.Stream(0x0011, sdt), sb.Stream(0x0012, eit)});
        Write(t, "guide_many_services",
              PacketPathInput(build::Cat({op::Service(27, 1), op::Feed(packet * 10), op::kPump,
                                          op::Service(27, 2), op::Feed(packet * 10), op::Service(28, 1),
                                          op::kPump}),
                              guide));
        Write(t, "guide_many_services_lagging",
              PacketPathInput(build::Cat({op::Service(27, 1), op::Feed(packet * 40, true), op::kPump}), guide));
    }

    // kestrin-gen's sample: its one-segment service 0x0588 (pick 5).
    const Bytes sample = samplePath.empty() ? Bytes() : ReadFile(samplePath);
    if (!sample.empty()) {
        Write(t, "gen_sample_start",
              PacketPathInput(build::Cat({op::Service(27, 5), op::kRecord, op::Feed(packet * 20),
                                          op::kView, op::Feed(packet * 20), op::kRequest}),
                              SampleExcerpt(sample, 0, 60)));
        // A second later: the L-EIT and the next TOT.
        Write(t, "gen_sample_later",
              PacketPathInput(build::Cat({op::Service(27, 5), op::kView, op::kRecord,
                                          op::Feed(1000), op::Feed(188 * 7 + 3)}),
                              SampleExcerpt(sample, 16000000 / 8 / 188 / 2, 60)));
    }

    // Real PSI packets of a Tokyo multiplex, one-segment service 0x5DB8.
    const Bytes real = ReadFile(realdata + "/tokyo-mx-psi.ts");
    if (!real.empty()) {
        Write(t, "real_tokyo_mx",
              PacketPathInput(build::Cat({op::Service(20, 3), op::kRecord, op::Feed(packet),
                                          op::Feed(packet * 2 + 50), op::kView}),
                              real));
    }
}

// --- Event handlers -------------------------------------------------------------

Bytes Record(uint8_t kind, const Bytes& section) {
    Bytes r = {kind, static_cast<uint8_t>(section.size() >> 8), static_cast<uint8_t>(section.size())};
    r.insert(r.end(), section.begin(), section.end());
    return r;
}
const Bytes kHandlerView = {0x03};
const Bytes kHandlerRequest = {0x07};
Bytes HandlerService(uint16_t service) {
    return {0x0B, static_cast<uint8_t>(service >> 8), static_cast<uint8_t>(service)};
}
Bytes HandlerClock(uint8_t h, uint8_t m, uint8_t s, uint8_t ticks) { return {0x0F, h, m, s, ticks}; }
const Bytes kHandlerAgain = {0x13};

void EventHandlerSeeds() {
    const char* t = "event_handlers";
    build::AudioComponent stereo;
    build::AudioComponent dual;
    dual.componentType = 0x02;
    dual.flags = 0xBF;
    dual.language2 = "eng";
    const Bytes worked = build::EitPfSection(
        0x0400, 0,
        {build::Event(54922, 21, 54, 0, 2, 10, 30,
                      build::Cat({build::ShortEventDescriptor(Arib("TITLE"), Arib("TEXT")),
                                  build::ComponentDescriptor(1, 0xB3, 0),
                                  build::AudioComponentDescriptor(stereo),
                                  build::AudioComponentDescriptor(dual)}))});
    Write(t, "present_worked_example",
          build::Cat({HandlerClock(0x21, 0x00, 0x00, 0), Record(0, worked), kHandlerRequest}));

    // A long title and description: the decoder output is cut at the fields.
    std::string longTitle;
    for (int i = 0; i < 60; ++i) longTitle += "漢";
    std::string longText;
    for (int i = 0; i < 120; ++i) longText += "説明";
    const Bytes longEvent = build::EitPfSection(
        0x0400, 1,
        {build::Event(61384, 23, 30, 0, 1, 0, 0,
                      build::ShortEventDescriptor(Arib(longTitle.c_str()),
                                                  Arib(longText.c_str())))});
    Write(t, "following_long_texts",
          build::Cat({kHandlerView, Record(1, longEvent), kHandlerRequest, kHandlerView}));

    // Undetermined times, a section without an event, many audio entries.
    build::EitEvent undetermined = build::Event(61384, 0, 0, 0, 0, 0, 0);
    undetermined.start[0] = undetermined.start[1] = undetermined.start[2] = 0xFF;
    undetermined.duration[0] = undetermined.duration[1] = undetermined.duration[2] = 0xFF;
    std::vector<Bytes> audios;
    for (int i = 0; i < 6; ++i) audios.push_back(build::AudioComponentDescriptor(dual));
    undetermined.descriptors = build::Cat(audios);
    const Bytes shortSection = build::LongSection(0x4E, 0xF0, 0x0400, 0, 0, 1, Bytes(5, 0));
    Write(t, "undetermined_and_empty",
          build::Cat({Record(0, build::EitPfSection(0x0400, 0, {undetermined})), kHandlerView,
                      Record(1, build::EitPfSection(0x0400, 1, {undetermined})),
                      Record(0, shortSection), kHandlerRequest, kHandlerAgain}));

    // SDT: the current service after others, a long name, then a service change.
    std::string longName;
    for (int i = 0; i < 30; ++i) longName += "局";
    const Bytes sdt = build::SdtSection(
        0x7FE0, 0x7FE0,
        {build::NamedService(0x0401, Arib("ケストリン２")),
         build::NamedService(0x0400, Arib("ケストリン総合"), Arib("ケストリン")),
         build::NamedService(0x0402, Arib(longName.c_str()))});
    Write(t, "sdt_services",
          build::Cat({Record(2, sdt), kHandlerView, HandlerService(0x0402), Record(2, sdt),
                      kHandlerView}));

    // A clock that ran for long without a TOT, then a present event.
    Write(t, "clock_overrun",
          build::Cat({HandlerClock(0x23, 0x59, 0x59, 200), Record(0, worked), kHandlerAgain}));

    // Programme details for the tooltip: genres and extended event items
    // in both views, items continued across descriptors, a description too
    // long for the event text, and the bracketed additional symbols.
    auto extended = [](uint8_t number, uint8_t last, const std::vector<std::pair<Bytes, Bytes>>& items,
                       const Bytes& text) {
        Bytes loop;
        for (const std::pair<Bytes, Bytes>& item : items) {
            loop.push_back(static_cast<uint8_t>(item.first.size()));
            loop.insert(loop.end(), item.first.begin(), item.first.end());
            loop.push_back(static_cast<uint8_t>(item.second.size()));
            loop.insert(loop.end(), item.second.begin(), item.second.end());
        }
        Bytes body = {static_cast<uint8_t>(number << 4 | last), 'j', 'p', 'n', static_cast<uint8_t>(loop.size())};
        body.insert(body.end(), loop.begin(), loop.end());
        body.push_back(static_cast<uint8_t>(text.size()));
        body.insert(body.end(), text.begin(), text.end());
        return build::Descriptor(0x4E, body);
    };
    const Bytes genres = build::Descriptor(0x54, {0x30, 0xFF, 0x00, 0xFF, 0xE0, 0x01, 0xC0, 0xFF});
    const Bytes symbols = {0x1B, 0x24, 0x3B, 0x0F, 0x7A, 0x56, 0x7A, 0x5A, 0x7A, 0x50};  // 字 二 HV
    const Bytes detailed = build::EitPfSection(
        0x0400, 0,
        {build::Event(61384, 22, 0, 0, 0, 45, 0,
                      build::Cat({build::ShortEventDescriptor(build::Cat({Arib("渡り鳥の空"), symbols}), Arib("第３話")),
                                  genres,
                                  extended(0, 1, {{Arib("出演者"), Arib("山田花子、鈴木一郎")}}, Arib("あらすじ")),
                                  extended(1, 1, {{Bytes(), Arib("佐藤次郎")}, {Arib("番組内容"), symbols}},
                                           Bytes())}))});
    std::string hiragana;
    for (int i = 0; i < 200; ++i) hiragana += "あ";
    const Bytes cut = build::EitPfSection(
        0x0400, 1,
        {build::Event(61384, 22, 45, 0, 0, 15, 0,
                      build::Cat({build::ShortEventDescriptor(Arib("天気"), Arib(hiragana.c_str())),
                                  build::Descriptor(0x54, {0x01, 0xFF}),
                                  extended(0, 0, {{Arib("番組内容"), Arib("各地の天気")}}, Bytes())}))});
    Write(t, "details_both_views",
          build::Cat({Record(0, detailed), kHandlerView, Record(1, cut), kHandlerView, kHandlerView}));
    const Bytes kHandlerBracketed = {0x23};
    Write(t, "details_bracketed",
          build::Cat({kHandlerBracketed, Record(2, build::SdtSection(0x7FE0, 0x7FE0,
                                                                    {build::NamedService(0x0400, symbols)})),
                      Record(0, detailed), kHandlerView, Record(1, cut), kHandlerView}));
}

// --- PMT and PAT ---------------------------------------------------------------------

void PmtPatSeeds(const std::string& realdata) {
    const char* t = "pmt_pat";
    auto withControl = [](uint8_t control, const Bytes& b) {
        Bytes in = {control};
        in.insert(in.end(), b.begin(), b.end());
        return in;
    };
    const Bytes pmt = build::PmtSection(0x0408, 0x01FF, Bytes(6, 0xAA),
                                        {{0x1B, 0x0181, Bytes(3, 0x52)}, {0x0F, 0x0183, Bytes()}});
    Write(t, "pmt_two_streams", withControl(0x5D, pmt));
    std::vector<build::PmtStream> many;
    for (int i = 0; i < 20; ++i) many.push_back({0x06, static_cast<uint16_t>(0x0300 + i), Bytes()});
    Write(t, "pmt_twenty_streams", withControl(0x04, build::PmtSection(0x0408, 0x01FF, Bytes(), many)));

    build::StreamBuilder sb;
    const Bytes pat3 = build::PatSection(0x7FE0, {{0, 0x0010}, {0x0400, 0x0101}, {0x0408, 0x1FC8}});
    Write(t, "pat_three_programs", withControl(0x5D, sb.Stream(0x0000, {pat3})));
    const Bytes pat1 = build::PatSection(0x7FE0, {{0x0408, 0x1FC8}});
    build::PacketOptions adapted;
    adapted.adaptationLength = 30;
    Write(t, "pat_one_program_adaptation", withControl(0x01, sb.Stream(0x0000, {pat1}, adapted)));
    build::PacketOptions late;
    late.leading = Bytes(160, 0xFF);  // pointer_field 160: no room for 20 bytes
    Write(t, "pat_late_start", withControl(0x01, sb.Stream(0x0000, {pat1}, late)));

    const Bytes real = ReadFile(realdata + "/tokyo-mx-psi.ts");
    if (real.size() >= 2 * 188) {
        Write(t, "real_pat", withControl(0x5D, Bytes(real.begin(), real.begin() + 188)));
        // The PMT packet's section, from its table_id on.
        for (size_t o = 0; o + 188 <= real.size(); o += 188) {
            const uint16_t pid = static_cast<uint16_t>(((real[o + 1] & 0x1F) << 8) | real[o + 2]);
            if (pid == 0x0101) {
                const size_t s = o + 5 + real[o + 4];
                Write(t, "real_pmt", withControl(0x01, Bytes(real.begin() + static_cast<std::ptrdiff_t>(s),
                                                             real.begin() + static_cast<std::ptrdiff_t>(o + 188))));
            }
        }
    }
}

// --- Settings ----------------------------------------------------------------------

Bytes Str(const char* s) {
    Bytes b = {static_cast<uint8_t>(std::strlen(s))};
    b.insert(b.end(), s, s + std::strlen(s));
    return b;
}
const Bytes kMissing = {0xFF};

Bytes SettingsInput(const Bytes& exePath, const std::vector<Bytes>& values, uint32_t channel) {
    Bytes in = exePath;
    for (const Bytes& v : values) in.insert(in.end(), v.begin(), v.end());
    for (size_t i = values.size(); i < 17; ++i) in.push_back(0xFF);
    for (int shift = 24; shift >= 0; shift -= 8) in.push_back(static_cast<uint8_t>(channel >> shift));
    const uint8_t time[7] = {0x01, 0x9D, 11, 7, 22, 15, 0};  // 2026-12-08 22:15:00
    in.insert(in.end(), time, time + 7);
    return in;
}

Bytes ExePath(const std::string& path) {
    // The target reads the length byte in steps of two.
    std::string p = path;
    if (p.size() % 2) p += "e";
    Bytes b = {static_cast<uint8_t>(p.size() / 2)};
    b.insert(b.end(), p.begin(), p.end());
    return b;
}

void SettingsSeeds() {
    const char* t = "settings";
    Write(t, "defaults", SettingsInput(ExePath("C:\\Host\\host.exe"), {}, 27));
    Write(t, "all_keys",
          SettingsInput(ExePath("C:\\Program Files\\Host\\host.exe"),
                        {Str("4001"), Str("3000"), Str("2"), Str("13"), Str("62"), Str("12"),
                         Str("63"), Str("27"), Str("-1"), Str("0"), Str("  20"), Str("21x"),
                         Str("99999999999"), Str("28"), Str("29"), Str("D:\\rec"), Str("")},
                        27));
    Write(t, "fixed_name", SettingsInput(ExePath("C:\\h.exe"),
                                         {Str("10"), Str("10"), Str("1"), kMissing, kMissing,
                                          kMissing, kMissing, kMissing, kMissing, kMissing, kMissing,
                                          kMissing, kMissing, kMissing, kMissing, Str("D:\\rec\\"),
                                          Str("one.ts")},
                                         5));
    std::string deep = "C:\\";
    while (deep.size() < 250) deep += "verylongdirectory\\";
    std::string longDir(250, 'd');
    longDir = "E:\\" + longDir;
    std::string longName(99, 'n');
    Write(t, "long_paths",
          SettingsInput(ExePath(deep + "host.exe"),
                        {Str("0"), Str("0"), Str("3"), kMissing, kMissing, kMissing, kMissing,
                         kMissing, kMissing, kMissing, kMissing, kMissing, kMissing, kMissing,
                         kMissing, Str(longDir.c_str()), Str(longName.c_str())},
                        0xFFFFFFFF));
    Write(t, "no_backslash", SettingsInput(ExePath("hostexe"), {Str("-5"), Str("-7")}, 0x80000000));
}

// --- ARIB text -------------------------------------------------------------------
// fuzz_arib_text: two bytes of capacity (little-endian, modulo 1100, minus 8),
// then the ARIB bytes. Single shifts of one- and two-byte sets, every form of
// designation (DRCS included) and the additional symbols in the Kanji set's
// rows, each with a roomy capacity and one that cuts inside.
Bytes AribTextInput(int32_t capacity, const Bytes& arib) {
    const uint32_t v = static_cast<uint32_t>(capacity + 8);
    Bytes b = {static_cast<uint8_t>(v & 0xFF), static_cast<uint8_t>(v >> 8)};
    b.insert(b.end(), arib.begin(), arib.end());
    return b;
}

void AribTextSeeds() {
    const char* t = "arib_text";
    const struct {
        const char* name;
        Bytes arib;
        int32_t smallCapacity;
    } seeds[] = {
        {"ss3_symbol_title", build::Cat({{0x1B, 0x24, 0x2B, 0x3B, 0x1D, 0x7A, 0x6A},
                                         Arib("ＶＡＮで勝ち馬さがしてみませんか #76")}), 5},
        {"ss2_kanji_pair", {0x1B, 0x24, 0x2A, 0x39, 0x0E, 0x19, 0x30, 0x21, 0x41, 0x19, 0x30}, 3},
        {"ss_mixed_sizes_locking",
         {0x1B, 0x24, 0x2B, 0x39, 0x89, 0x0E, 0x41, 0x1D, 0x23, 0x41, 0x8A, 0x1B, 0x6F, 0x22, 0x1D, 0x30, 0x21,
          0x1B, 0x7C, 0x19, 0xA2, 0x1D},
         6},
        {"ss_pending_plane2",
         {0x30, 0x1B, 0x24, 0x2A, 0x3A, 0x19, 0x30, 0x21, 0x1B, 0x24, 0x2B, 0x39, 0x1D, 0xB0, 0x21, 0x21}, 3},
        {"g0_two_byte_forms", {0x1B, 0x24, 0x3B, 0x7A, 0x56, 0x1B, 0x24, 0x28, 0x39, 0x30, 0x21, 0x1B, 0x24, 0x42}, 4},
        {"drcs_designations",
         {0x1B, 0x28, 0x20, 0x41, 0x21, 0x1B, 0x24, 0x29, 0x20, 0x40, 0x0E, 0x21, 0x21, 0x1B, 0x2B, 0x20, 0x70,
          0x1D, 0x60, 0x1B, 0x24, 0x2A, 0x20, 0x40, 0x19, 0x22, 0x22, 0x1B, 0x28, 0x20},
         4},
        {"kanji_symbol_rows", {0x7A, 0x56, 0x89, 0x7E, 0x61, 0x7E, 0x7E, 0x1B, 0x24, 0x2A, 0x39, 0xFA, 0xEA, 0x79, 0x21},
         4},
    };
    for (const auto& seed : seeds) {
        Write(t, std::string(seed.name) + "_cap992", AribTextInput(992, seed.arib));
        Write(t, std::string(seed.name) + "_cap" + std::to_string(seed.smallCapacity),
              AribTextInput(seed.smallCapacity, seed.arib));
    }
}

// fuzz_caption, mode 0 (one statement body): byte 0 the mode, byte 1 the
// language and profile (bit 1: profile C), then the body. The same shifts,
// designations and symbols as above, with the caption's own starting sets.
void CaptionTextSeeds() {
    const Bytes body = {0x1B, 0x24, 0x2B, 0x3B, 0x1D, 0x7A, 0x6A, 0x0E, 0x56, 0x0F, 0x1B, 0x24, 0x2A, 0x42,
                        0x0E, 0x19, 0x30, 0x21, 0x41, 0x0F, 0x7A, 0x56, 0x1B, 0x29, 0x20, 0x41, 0x0E, 0x21,
                        0x1B, 0x24, 0x2B, 0x20, 0x40, 0x1D, 0x21, 0x21, 0x1B, 0x24, 0x28, 0x3B, 0x7E, 0x61,
                        0x1B, 0x24, 0x2B, 0x42, 0x1D, 0x30};
    for (uint8_t profile : {0x00, 0x02}) {
        Bytes input = {0x00, profile};
        input.insert(input.end(), body.begin(), body.end());
        Write("caption", profile == 0 ? "body-single-shifts-a" : "body-single-shifts-c", input);
    }
}

// --- fuzz_guide_cache -------------------------------------------------------

// A programme table cache file written out byte for byte as the plug-in
// writes it (plugin/guide_cache_format.h): "KSTRNEPG", version 1, then per
// service its record and its sections' records, then the end record with
// the CRC-32/MPEG-2 of everything before its value.
struct CacheService {
    uint16_t serviceId;
    int64_t lastWatched;  // 0 never
    std::string name;     // Shift_JIS, at most 63 bytes
    std::vector<Bytes> sections;
};

void Put16(Bytes& b, uint32_t v) {
    b.push_back(static_cast<uint8_t>(v >> 8));
    b.push_back(static_cast<uint8_t>(v));
}
void Put32(Bytes& b, uint32_t v) {
    Put16(b, v >> 16);
    Put16(b, v & 0xFFFF);
}

Bytes CacheFile(const std::vector<CacheService>& services) {
    Bytes f = {'K', 'S', 'T', 'R', 'N', 'E', 'P', 'G'};
    Put32(f, 1);
    for (const CacheService& s : services) {
        f.push_back(0x01);
        Put16(f, static_cast<uint32_t>(28 + s.name.size()));
        Put16(f, build::kDefaultNetworkId);
        Put16(f, build::kDefaultTransportStreamId);
        Put16(f, s.serviceId);
        Put32(f, 27);  // channel
        Put32(f, static_cast<uint32_t>(static_cast<uint64_t>(s.lastWatched) >> 32));
        Put32(f, static_cast<uint32_t>(s.lastWatched));
        Put32(f, 1);  // revision
        Put32(f, static_cast<uint32_t>(s.sections.size()));  // programmes listed
        f.push_back(0);  // not the watched one
        f.push_back(static_cast<uint8_t>(s.name.size()));
        f.insert(f.end(), s.name.begin(), s.name.end());
        for (const Bytes& section : s.sections) {
            f.push_back(0x02);
            Put16(f, static_cast<uint32_t>(section.size()));
            f.insert(f.end(), section.begin(), section.end());
        }
    }
    f.push_back(0xFF);
    Put16(f, 4);
    Put32(f, Crc32Mpeg2(f.data(), f.size()));
    return f;
}

Bytes CacheInput(uint8_t options, const Bytes& file) {
    Bytes input = {options};
    input.insert(input.end(), file.begin(), file.end());
    return input;
}

// One 30-minute programme at hh:00 on 2026-12-08 in a schedule section.
Bytes CacheSchedule(uint16_t serviceId, uint8_t number, int hour) {
    return build::EitSection(build::ScheduleHeader(serviceId, number, 1, 0x50),
                             {build::Event(61382, hour, 0, 0, 0, 30, 0)});
}

// The option byte: bits 4-6 give the store room for that many services less
// one, bit 7 has it hold the file's first service already.
void GuideCacheSeeds() {
    const int64_t day = JapanSecondsOf(61382, 0);  // 2026-12-08 00:00
    std::vector<CacheService> watched;
    const int64_t stamps[8] = {0, day + 20 * 3600, day + 9 * 3600, 0, day + 22 * 3600, day + 21 * 3600, 0,
                               day + 23 * 3600};
    for (int i = 0; i < 8; ++i) {
        CacheService s;
        s.serviceId = static_cast<uint16_t>(0x0501 + i);
        s.lastWatched = stamps[i];
        // Two of them, one watched late, hold no section.
        if (i != 3 && i != 5) {
            s.sections.push_back(CacheSchedule(s.serviceId, 0, 22));
            s.sections.push_back(CacheSchedule(s.serviceId, 8, 23));
        }
        watched.push_back(s);
    }
    const Bytes file = CacheFile(watched);
    Write("guide_cache", "watched-services-room-for-three", CacheInput(4 << 4, file));
    Write("guide_cache", "watched-services-first-held-room-for-one", CacheInput(0x80 | 2 << 4, file));
    Write("guide_cache", "watched-services-first-held-no-room", CacheInput(0x80 | 1 << 4, file));

    // More services than a load chooses among: the choice's heap full.
    std::vector<CacheService> many;
    for (int i = 0; i < 600; ++i) {
        CacheService s;
        s.serviceId = static_cast<uint16_t>(0x1000 + i);
        s.lastWatched = i % 50 == 7 ? day + i : 0;
        if (i % 3 != 0) s.sections.push_back(CacheSchedule(s.serviceId, 0, 23));
        many.push_back(s);
    }
    Write("guide_cache", "six-hundred-services-room-for-four", CacheInput(5 << 4, CacheFile(many)));

    // The longest name kept: 63 bytes of Shift_JIS, second bytes 0x5C among them.
    CacheService named;
    named.serviceId = 0x0400;
    named.lastWatched = day + 22 * 3600;
    for (int i = 0; i < 30; ++i) named.name += i % 2 == 0 ? "\x95\x5C" : "\x83\x5C";
    named.name += "ABC";
    named.sections.push_back(CacheSchedule(0x0400, 0, 22));
    Write("guide_cache", "longest-service-name", CacheInput(0, CacheFile({named})));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: make_seeds CORPUS_DIR [REALDATA_DIR]\n");
        return 2;
    }
    gCorpus = argv[1];
    const std::string realdata = argc > 2 ? argv[2] : "tests/data/real";
    const std::string sample = argc > 3 ? argv[3] : "";
    PacketPathSeeds(realdata, sample);
    EventHandlerSeeds();
    PmtPatSeeds(realdata);
    SettingsSeeds();
    AribTextSeeds();
    CaptionTextSeeds();
    GuideCacheSeeds();
    return 0;
}
