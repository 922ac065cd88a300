#include "tools/streamkit/stream_builder.h"

#include <cstring>

#include "ts/crc32.h"

namespace build {

namespace {

void Put16(Bytes& out, uint32_t value) {
    out.push_back(static_cast<uint8_t>(value >> 8));
    out.push_back(static_cast<uint8_t>(value));
}

// Three bytes of an ISO 639 code; a shorter string is padded with spaces.
void PutLanguage(Bytes& out, const char* language) {
    size_t n = language ? std::strlen(language) : 0;
    for (size_t i = 0; i < 3; ++i) out.push_back(i < n ? static_cast<uint8_t>(language[i]) : 0x20);
}

void PutLength12(Bytes& out, uint8_t highBits, size_t length) {
    out.push_back(static_cast<uint8_t>(highBits | ((length >> 8) & 0x0F)));
    out.push_back(static_cast<uint8_t>(length));
}

}  // namespace

uint8_t Bcd(int value) { return static_cast<uint8_t>(((value / 10) % 10) << 4 | (value % 10)); }

Bytes Cat(const std::vector<Bytes>& parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes Text(const char* text) { return Bytes(text, text + std::strlen(text)); }

Bytes Seal(Bytes section) {
    if (section.size() < 3) section.resize(3, 0);
    const size_t length = section.size() + 4 - 3;
    section[1] = static_cast<uint8_t>((section[1] & 0xF0) | ((length >> 8) & 0x0F));
    section[2] = static_cast<uint8_t>(length);
    const uint32_t crc = Crc32Mpeg2(section.data(), section.size());
    for (int shift = 24; shift >= 0; shift -= 8) section.push_back(static_cast<uint8_t>(crc >> shift));
    return section;
}

void Reseal(Bytes& section) {
    if (section.size() < 4) return;
    const size_t body = section.size() - 4;
    const uint32_t crc = Crc32Mpeg2(section.data(), body);
    for (int i = 0; i < 4; ++i) section[body + i] = static_cast<uint8_t>(crc >> (24 - 8 * i));
}

bool CrcIsCorrect(const Bytes& section) { return Crc32Mpeg2(section.data(), section.size()) == 0; }

Bytes LongSection(uint8_t tableId, uint8_t flags, uint16_t tableIdExtension, uint8_t version,
                  uint8_t sectionNumber, uint8_t lastSectionNumber, const Bytes& body) {
    Bytes s;
    s.push_back(tableId);
    s.push_back(static_cast<uint8_t>(flags & 0xF0));
    s.push_back(0);
    Put16(s, tableIdExtension);
    s.push_back(static_cast<uint8_t>(0xC0 | ((version & 0x1F) << 1) | 0x01));
    s.push_back(sectionNumber);
    s.push_back(lastSectionNumber);
    s.insert(s.end(), body.begin(), body.end());
    return Seal(s);
}

Bytes PatSection(uint16_t transportStreamId, const std::vector<PatProgram>& programs, uint8_t version) {
    Bytes body;
    for (const PatProgram& p : programs) {
        Put16(body, p.programNumber);
        Put16(body, 0xE000u | (p.pid & 0x1FFF));
    }
    return LongSection(0x00, 0xB0, transportStreamId, version, 0, 0, body);
}

Bytes PmtSection(uint16_t programNumber, uint16_t pcrPid, const Bytes& programInfo,
                 const std::vector<PmtStream>& streams, uint8_t version) {
    Bytes body;
    Put16(body, 0xE000u | (pcrPid & 0x1FFF));
    PutLength12(body, 0xF0, programInfo.size());
    body.insert(body.end(), programInfo.begin(), programInfo.end());
    for (const PmtStream& es : streams) {
        body.push_back(es.streamType);
        Put16(body, 0xE000u | (es.pid & 0x1FFF));
        PutLength12(body, 0xF0, es.esInfo.size());
        body.insert(body.end(), es.esInfo.begin(), es.esInfo.end());
    }
    return LongSection(0x02, 0xB0, programNumber, version, 0, 0, body);
}

Bytes Descriptor(uint8_t tag, const Bytes& body) {
    Bytes d;
    d.push_back(tag);
    const size_t n = body.size() < 255 ? body.size() : 255;
    d.push_back(static_cast<uint8_t>(n));
    d.insert(d.end(), body.begin(), body.begin() + static_cast<std::ptrdiff_t>(n));
    return d;
}

Bytes ServiceDescriptor(uint8_t serviceType, const Bytes& providerName, const Bytes& serviceName) {
    Bytes b;
    b.push_back(serviceType);
    b.push_back(static_cast<uint8_t>(providerName.size()));
    b.insert(b.end(), providerName.begin(), providerName.end());
    b.push_back(static_cast<uint8_t>(serviceName.size()));
    b.insert(b.end(), serviceName.begin(), serviceName.end());
    return Descriptor(0x48, b);
}

Bytes ShortEventDescriptor(const Bytes& eventName, const Bytes& text, const char* language) {
    Bytes b;
    PutLanguage(b, language);
    b.push_back(static_cast<uint8_t>(eventName.size()));
    b.insert(b.end(), eventName.begin(), eventName.end());
    b.push_back(static_cast<uint8_t>(text.size()));
    b.insert(b.end(), text.begin(), text.end());
    return Descriptor(0x4D, b);
}

Bytes ComponentDescriptor(uint8_t streamContent, uint8_t componentType, uint8_t componentTag,
                          const char* language, const Bytes& text) {
    Bytes b;
    b.push_back(static_cast<uint8_t>(0xF0 | (streamContent & 0x0F)));
    b.push_back(componentType);
    b.push_back(componentTag);
    PutLanguage(b, language);
    b.insert(b.end(), text.begin(), text.end());
    return Descriptor(0x50, b);
}

Bytes AudioComponentDescriptor(const AudioComponent& audio) {
    Bytes b;
    b.push_back(static_cast<uint8_t>(0xF0 | (audio.streamContent & 0x0F)));
    b.push_back(audio.componentType);
    b.push_back(audio.componentTag);
    b.push_back(audio.streamType);
    b.push_back(audio.simulcastGroupTag);
    b.push_back(audio.flags);
    PutLanguage(b, audio.language);
    if (audio.language2) PutLanguage(b, audio.language2);
    b.insert(b.end(), audio.text.begin(), audio.text.end());
    return Descriptor(0xC4, b);
}

Bytes LocalTimeOffsetDescriptor() {
    Bytes b = Text("JPN");
    b.push_back(0x02);  // country_region_id 0, reserved, polarity 0 (ahead of UTC)
    Put16(b, 0x0000);   // local_time_offset: JST_time is already local
    for (int i = 0; i < 5; ++i) b.push_back(0x00);  // time_of_change
    Put16(b, 0x0000);   // next_time_offset
    return Descriptor(0x58, b);
}

SdtService NamedService(uint16_t serviceId, const Bytes& serviceName, const Bytes& providerName,
                        uint8_t serviceType) {
    SdtService s;
    s.serviceId = serviceId;
    s.descriptors = ServiceDescriptor(serviceType, providerName, serviceName);
    return s;
}

Bytes SdtSection(uint16_t transportStreamId, uint16_t originalNetworkId, const std::vector<SdtService>& services,
                 uint8_t version, uint8_t sectionNumber, uint8_t lastSectionNumber) {
    Bytes body;
    Put16(body, originalNetworkId);
    body.push_back(0xFF);  // reserved_future_use
    for (const SdtService& s : services) {
        Put16(body, s.serviceId);
        body.push_back(static_cast<uint8_t>(0xE0 | (s.eitFlags & 0x1F)));
        const size_t loop = s.descriptorsLoopLength >= 0 ? static_cast<size_t>(s.descriptorsLoopLength)
                                                         : s.descriptors.size();
        PutLength12(body, static_cast<uint8_t>((s.runningStatus & 0x07) << 5), loop);
        body.insert(body.end(), s.descriptors.begin(), s.descriptors.end());
    }
    return LongSection(0x42, 0xF0, transportStreamId, version, sectionNumber, lastSectionNumber, body);
}

EitEvent Event(uint16_t startMjd, int hour, int minute, int second, int durationHours, int durationMinutes,
               int durationSeconds, const Bytes& descriptors) {
    EitEvent e;
    e.startMjd = startMjd;
    e.start[0] = Bcd(hour);
    e.start[1] = Bcd(minute);
    e.start[2] = Bcd(second);
    e.duration[0] = Bcd(durationHours);
    e.duration[1] = Bcd(durationMinutes);
    e.duration[2] = Bcd(durationSeconds);
    e.descriptors = descriptors;
    return e;
}

Bytes EitPfSection(uint16_t serviceId, uint8_t sectionNumber, const std::vector<EitEvent>& events,
                   uint8_t version, uint16_t transportStreamId, uint16_t originalNetworkId, uint8_t tableId) {
    EitHeader h;
    h.tableId = tableId;
    h.serviceId = serviceId;
    h.version = version;
    h.sectionNumber = sectionNumber;
    h.lastSectionNumber = 1;
    h.transportStreamId = transportStreamId;
    h.originalNetworkId = originalNetworkId;
    h.segmentLastSectionNumber = 0x01;
    h.lastTableId = tableId;
    return EitSection(h, events);
}

EitHeader ScheduleHeader(uint16_t serviceId, uint8_t sectionNumber, uint8_t version, uint8_t tableId) {
    EitHeader h;
    h.tableId = tableId;
    h.serviceId = serviceId;
    h.version = version;
    h.sectionNumber = sectionNumber;
    h.lastSectionNumber = 0xF8;
    h.segmentLastSectionNumber = static_cast<uint8_t>(sectionNumber | 7);
    h.lastTableId = tableId;
    return h;
}

Bytes EitSection(const EitHeader& h, const std::vector<EitEvent>& events) {
    Bytes body;
    Put16(body, h.transportStreamId);
    Put16(body, h.originalNetworkId);
    body.push_back(h.segmentLastSectionNumber);
    body.push_back(h.lastTableId);
    for (const EitEvent& e : events) {
        Put16(body, e.eventId);
        Put16(body, e.startMjd);
        body.insert(body.end(), e.start, e.start + 3);
        body.insert(body.end(), e.duration, e.duration + 3);
        const size_t loop = e.descriptorsLoopLength >= 0 ? static_cast<size_t>(e.descriptorsLoopLength)
                                                         : e.descriptors.size();
        PutLength12(body, static_cast<uint8_t>((e.runningStatus & 0x07) << 5 | (e.freeCaMode ? 0x10 : 0)), loop);
        body.insert(body.end(), e.descriptors.begin(), e.descriptors.end());
    }
    return LongSection(h.tableId, 0xF0, h.serviceId, h.version, h.sectionNumber, h.lastSectionNumber, body);
}

Bytes ExtendedEventDescriptor(uint8_t number, uint8_t lastNumber, const std::vector<ExtendedItem>& items,
                              const Bytes& text, const char* language) {
    Bytes body;
    body.push_back(static_cast<uint8_t>((number & 0x0F) << 4 | (lastNumber & 0x0F)));
    PutLanguage(body, language);
    Bytes loop;
    for (const ExtendedItem& item : items) {
        loop.push_back(static_cast<uint8_t>(item.description.size()));
        loop.insert(loop.end(), item.description.begin(), item.description.end());
        loop.push_back(static_cast<uint8_t>(item.text.size()));
        loop.insert(loop.end(), item.text.begin(), item.text.end());
    }
    body.push_back(static_cast<uint8_t>(loop.size()));
    body.insert(body.end(), loop.begin(), loop.end());
    body.push_back(static_cast<uint8_t>(text.size()));
    body.insert(body.end(), text.begin(), text.end());
    return Descriptor(0x4E, body);
}

Bytes ContentDescriptorOf(const std::vector<uint16_t>& entries) {
    Bytes body;
    for (uint16_t e : entries) Put16(body, e);
    return Descriptor(0x54, body);
}

Bytes SeriesDescriptor(const Series& s) {
    Bytes body;
    Put16(body, s.seriesId);
    body.push_back(static_cast<uint8_t>((s.repeatLabel & 0x0F) << 4 | (s.programPattern & 0x07) << 1 |
                                        (s.expireDateValid ? 1 : 0)));
    Put16(body, s.expireDate);
    const uint32_t episodes = static_cast<uint32_t>(s.episodeNumber & 0x0FFF) << 12 | (s.lastEpisodeNumber & 0x0FFF);
    body.push_back(static_cast<uint8_t>(episodes >> 16));
    body.push_back(static_cast<uint8_t>(episodes >> 8));
    body.push_back(static_cast<uint8_t>(episodes));
    body.insert(body.end(), s.name.begin(), s.name.end());
    return Descriptor(0xD5, body);
}

Bytes EventGroupDescriptor(uint8_t groupType, const std::vector<GroupEvent>& events,
                           const std::vector<GroupEvent>& otherNetworkEvents) {
    Bytes body;
    body.push_back(static_cast<uint8_t>((groupType & 0x0F) << 4 | (events.size() & 0x0F)));
    for (const GroupEvent& e : events) {
        Put16(body, e.serviceId);
        Put16(body, e.eventId);
    }
    for (const GroupEvent& e : otherNetworkEvents) {
        Put16(body, e.originalNetworkId);
        Put16(body, e.transportStreamId);
        Put16(body, e.serviceId);
        Put16(body, e.eventId);
    }
    return Descriptor(0xD6, body);
}

Bytes TotSection(uint16_t mjd, uint8_t hourBcd, uint8_t minuteBcd, uint8_t secondBcd, const Bytes& descriptors) {
    Bytes s;
    s.push_back(0x73);
    s.push_back(0x70);  // section_syntax_indicator 0, reserved bits 1
    s.push_back(0);
    Put16(s, mjd);
    s.push_back(hourBcd);
    s.push_back(minuteBcd);
    s.push_back(secondBcd);
    PutLength12(s, 0xF0, descriptors.size());
    s.insert(s.end(), descriptors.begin(), descriptors.end());
    return Seal(s);
}

Bytes TdtSection(uint16_t mjd, uint8_t hourBcd, uint8_t minuteBcd, uint8_t secondBcd) {
    Bytes s = {0x70, 0x70, 0x05};
    Put16(s, mjd);
    s.push_back(hourBcd);
    s.push_back(minuteBcd);
    s.push_back(secondBcd);
    return s;
}

Bytes MakePacket(uint16_t pid, bool pusi, uint8_t counter, const Bytes& payload, int adaptationLength) {
    Bytes p(188, 0xFF);
    p[0] = 0x47;
    p[1] = static_cast<uint8_t>((pusi ? 0x40 : 0x00) | ((pid >> 8) & 0x1F));
    p[2] = static_cast<uint8_t>(pid);
    size_t at = 4;
    uint8_t control = 0x10;
    if (adaptationLength >= 0) {
        const int l = adaptationLength > 255 ? 255 : adaptationLength;
        p[4] = static_cast<uint8_t>(l);
        if (l >= 1) p[5] = 0x00;  // no flags; the rest of the field is 0xFF stuffing
        // A field of 183 bytes fills the packet: adaptation field only. A
        // longer (invalid) length is kept with '11' so that a receiver must
        // guard against it.
        control = l == 183 ? 0x20 : 0x30;
        at = 5 + static_cast<size_t>(l);
    }
    p[3] = static_cast<uint8_t>(control | (counter & 0x0F));
    for (size_t i = 0; i < payload.size() && at < 188; ++i, ++at) p[at] = payload[i];
    return p;
}

uint8_t StreamBuilder::Counter(uint16_t pid) const {
    auto it = counters_.find(pid);
    return it == counters_.end() ? 0 : it->second;
}

void StreamBuilder::SetCounter(uint16_t pid, uint8_t counter) { counters_[pid] = counter & 0x0F; }

Bytes StreamBuilder::Packet(uint16_t pid, bool pusi, const Bytes& payload, int adaptationLength) {
    const uint8_t counter = Counter(pid);
    // A packet without payload repeats the previous counter and does not
    // advance it (ISO/IEC 13818-1).
    if (adaptationLength == 183) return MakePacket(pid, pusi, static_cast<uint8_t>((counter + 15) & 0x0F), payload, 183);
    counters_[pid] = static_cast<uint8_t>((counter + 1) & 0x0F);
    return MakePacket(pid, pusi, counter, payload, adaptationLength);
}

std::vector<Bytes> StreamBuilder::Packets(uint16_t pid, const std::vector<Bytes>& sections,
                                          const PacketOptions& options) {
    // The data to carry and the offsets in it where sections begin. Without
    // packing, each section is padded with 0xFF to the end of its packet by
    // ending the data after it and starting afresh.
    std::vector<Bytes> packets;
    size_t packetIndex = 0;
    auto adaptationFor = [&](size_t index) {
        int l = index < options.adaptationLengths.size() ? options.adaptationLengths[index] : options.adaptationLength;
        // An adaptation field that leaves no payload is allowed for listed
        // packets only; as the default it would never end.
        if (index >= options.adaptationLengths.size() && l > 182) l = 182;
        return l;
    };
    // Broadcasters set transport_priority on the packets that carry PSI/SI
    // sections (as in the real packets under realdata); so do these.
    auto sectionPacket = [&](bool pusi, const Bytes& payload, int l) {
        Bytes p = Packet(pid, pusi, payload, l);
        p[1] = static_cast<uint8_t>(p[1] | 0x20);
        return p;
    };
    auto carry = [&](const Bytes& data, const std::vector<size_t>& starts) {
        size_t pos = 0;
        while (pos < data.size()) {
            const int l = adaptationFor(packetIndex);
            const int space = 184 - (l >= 0 ? 1 + l : 0);
            if (space <= 0) {
                packets.push_back(sectionPacket(false, Bytes(), l));
                ++packetIndex;
                continue;
            }
            const size_t end = pos + static_cast<size_t>(space);
            size_t start = data.size();
            for (size_t st : starts) {
                if (st >= pos && st + 1 < end) {
                    start = st;
                    break;
                }
            }
            Bytes payload;
            bool pusi = false;
            size_t n;
            if (start < data.size()) {
                pusi = true;
                payload.push_back(static_cast<uint8_t>(start - pos));
                n = static_cast<size_t>(space - 1);
            } else {
                n = static_cast<size_t>(space);
                // A section must not begin in the last byte of a packet
                // without PUSI: stuff that byte and begin it in the next.
                for (size_t st : starts) {
                    if (st == end - 1) n = static_cast<size_t>(space - 1);
                }
            }
            if (n > data.size() - pos) n = data.size() - pos;
            payload.insert(payload.end(), data.begin() + static_cast<std::ptrdiff_t>(pos),
                           data.begin() + static_cast<std::ptrdiff_t>(pos + n));
            packets.push_back(sectionPacket(pusi, payload, l));
            ++packetIndex;
            pos += n;
        }
    };
    if (options.packSections) {
        Bytes data = options.leading;
        std::vector<size_t> starts;
        for (const Bytes& s : sections) {
            starts.push_back(data.size());
            data.insert(data.end(), s.begin(), s.end());
        }
        carry(data, starts);
    } else {
        for (size_t i = 0; i < sections.size(); ++i) {
            Bytes data = i == 0 ? options.leading : Bytes();
            const size_t start = data.size();
            data.insert(data.end(), sections[i].begin(), sections[i].end());
            carry(data, std::vector<size_t>(1, start));
        }
    }
    return packets;
}

Bytes StreamBuilder::Stream(uint16_t pid, const std::vector<Bytes>& sections, const PacketOptions& options) {
    return Join(Packets(pid, sections, options));
}

Bytes Join(const std::vector<Bytes>& packets) { return Cat(packets); }

}  // namespace build
