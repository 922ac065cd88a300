#include "tools/gen/multiplexer.h"

#include <algorithm>
#include <cstdint>
#include <utility>
#include <deque>
#include <map>
#include <memory>
#include <vector>

#include "tools/streamkit/arib_encoder.h"
#include "tools/streamkit/caption_builder.h"
#include "tools/streamkit/stream_builder.h"
#include "tools/gen/elementary_streams.h"
#include "tools/gen/network_sections.h"
#include "tools/gen/partial_reception.h"
#include "tools/gen/scenario_values.h"

namespace gen {

namespace {

const int64_t kClock = 27000000;      // system clock, Hz
const int64_t kTicksPerMs = kClock / 1000;
const int64_t kPacketBits = 188 * 8;
const int kPayloadSize = 184;

const int64_t kPatInterval = 100 * kTicksPerMs;
const int64_t kPmtInterval = 100 * kTicksPerMs;
const int64_t kNitInterval = 1000 * kTicksPerMs;
const int64_t kSdtInterval = 1000 * kTicksPerMs;
const int64_t kEitInterval = 1000 * kTicksPerMs;
const int64_t kTotOffset = 500 * kTicksPerMs;
const int64_t kPcrInterval = 40 * kTicksPerMs;

const int64_t kPcrOrigin = 10 * kClock;    // PCR of the first packet
const int64_t kPtsDelay = 700 * kTicksPerMs;  // decoding delay after arrival

const uint16_t kPatPid = 0x0000;
const uint16_t kNitPid = 0x0010;
const uint16_t kSdtPid = 0x0011;
const uint16_t kEitPid = 0x0012;
const uint16_t kTotPid = 0x0014;
const uint16_t kLowEitPid = 0x0027;  // L-EIT: the one-segment services' EIT
const uint16_t kNullPid = 0x1FFF;
const uint16_t kOneSegmentPmtPid = 0x1FC8;

typedef std::vector<uint8_t> Packet;

// Time of the first byte of packet i.
int64_t PacketTime(uint64_t i, uint64_t bitrate) {
    return static_cast<int64_t>(i * static_cast<uint64_t>(kPacketBits * kClock) / bitrate);
}

// PCR of packet i: the time of its byte 10, which ends program_clock_reference_base.
int64_t PacketPcr(uint64_t i, uint64_t bitrate) {
    return kPcrOrigin + static_cast<int64_t>((i * 188 + 10) * 8 * static_cast<uint64_t>(kClock) / bitrate);
}

void WritePcr(uint8_t* at, int64_t pcr) {
    const uint64_t base = static_cast<uint64_t>(pcr / 300) & 0x1FFFFFFFFull;
    const uint32_t extension = static_cast<uint32_t>(pcr % 300);
    at[0] = static_cast<uint8_t>(base >> 25);
    at[1] = static_cast<uint8_t>(base >> 17);
    at[2] = static_cast<uint8_t>(base >> 9);
    at[3] = static_cast<uint8_t>(base >> 1);
    at[4] = static_cast<uint8_t>(((base & 1) << 7) | 0x7E | (extension >> 8));
    at[5] = static_cast<uint8_t>(extension);
}

void WriteHeader(uint8_t* p, uint16_t pid, bool pusi, uint8_t adaptationFieldControl, uint8_t counter) {
    p[0] = 0x47;
    p[1] = static_cast<uint8_t>((pusi ? 0x40 : 0x00) | ((pid >> 8) & 0x1F));
    p[2] = static_cast<uint8_t>(pid);
    p[3] = static_cast<uint8_t>((adaptationFieldControl << 4) | (counter & 0x0F));
}

build::Bytes Arib(const std::string& sjis) { return AribBytes(sjis); }

void SplitTime(int64_t seconds, uint16_t& mjd, int& h, int& m, int& s) {
    mjd = static_cast<uint16_t>(seconds / 86400);
    const int64_t inDay = seconds % 86400;
    h = static_cast<int>(inDay / 3600);
    m = static_cast<int>(inDay / 60 % 60);
    s = static_cast<int>(inDay % 60);
}

// --- Service information ---------------------------------------------------------

struct PsiJob {
    uint16_t pid;
    int64_t interval;
    int64_t nextDue;
    std::function<std::vector<build::Bytes>(int64_t due)> build;
};

// Which descriptors an event entry carries: p/f all of them, the basic
// schedule all but the items, the extended schedule the items alone.
enum class EntryParts { kAll, kBasic, kExtended };

build::EitEvent EventEntry(const Event& e, uint8_t runningStatus, EntryParts parts = EntryParts::kAll) {
    build::Bytes descriptors;
    if (parts != EntryParts::kExtended) {
        descriptors = build::ShortEventDescriptor(Arib(e.title), Arib(e.text));
        if (e.videoType >= 0) {
            descriptors = build::Cat({descriptors, build::ComponentDescriptor(0x01, static_cast<uint8_t>(e.videoType),
                                                                              e.videoTag, "jpn")});
        }
        uint8_t tag = 0x10;
        for (const AudioComponent& a : e.audio) {
            build::AudioComponent c;
            c.componentType = a.componentType;
            c.componentTag = tag++;
            const bool dual = !a.language2.empty();
            // ES_multi_lingual_flag for two languages, main_component_flag,
            // quality_indicator, sampling_rate 48 kHz (7) and the reserved bit.
            c.flags =
                static_cast<uint8_t>((dual ? 0x80 : 0x00) | (a.main ? 0x40 : 0x00) | ((a.quality & 3) << 4) | 0x0F);
            c.language = a.language.c_str();
            c.language2 = dual ? a.language2.c_str() : nullptr;
            descriptors = build::Cat({descriptors, build::AudioComponentDescriptor(c)});
        }
    }
    // Validated with the scenario: the details always build here. The
    // content descriptor, when there is one, comes last.
    std::vector<build::Bytes> details;
    std::string error;
    if (EventDetailDescriptors(e, details, error)) {
        for (size_t i = 0; i < details.size(); ++i) {
            const bool content = !e.genres.empty() && i + 1 == details.size();
            if (parts == EntryParts::kAll || (parts == EntryParts::kBasic) == content) {
                descriptors = build::Cat({descriptors, details[i]});
            }
        }
    }
    if (parts != EntryParts::kExtended) {
        if (e.hasSeries) {
            build::Series series;
            series.seriesId = e.seriesId;
            series.repeatLabel = e.repeatLabel;
            series.programPattern = e.programPattern;
            series.expireDateValid = e.seriesExpire >= 0;
            series.expireDate = static_cast<uint16_t>(e.seriesExpire >= 0 ? e.seriesExpire / 86400 : 0);
            series.episodeNumber = e.episode;
            series.lastEpisodeNumber = e.lastEpisode;
            series.name = Arib(e.seriesName);
            descriptors = build::Cat({descriptors, build::SeriesDescriptor(series)});
        }
        for (const Event::Group& g : e.groups) {
            std::vector<build::GroupEvent> events;
            std::vector<build::GroupEvent> others;
            for (uint32_t v : g.events) {
                build::GroupEvent ge;
                ge.serviceId = static_cast<uint16_t>(v >> 16);
                ge.eventId = static_cast<uint16_t>(v);
                events.push_back(ge);
            }
            for (uint64_t v : g.otherNetworkEvents) {
                build::GroupEvent ge;
                ge.originalNetworkId = static_cast<uint16_t>(v >> 48);
                ge.transportStreamId = static_cast<uint16_t>(v >> 32);
                ge.serviceId = static_cast<uint16_t>(v >> 16);
                ge.eventId = static_cast<uint16_t>(v);
                others.push_back(ge);
            }
            descriptors = build::Cat({descriptors, build::EventGroupDescriptor(g.type, events, others)});
        }
    }
    uint16_t mjd;
    int h, m, s;
    SplitTime(e.start, mjd, h, m, s);
    const int64_t d = e.duration < 0 ? 0 : e.duration;
    build::EitEvent entry = build::Event(mjd, h, m, s, static_cast<int>(d / 3600 % 100),
                                         static_cast<int>(d / 60 % 60), static_cast<int>(d % 60), descriptors);
    if (e.duration < 0) entry.duration[0] = entry.duration[1] = entry.duration[2] = 0xFF;
    entry.eventId = e.eventId;
    entry.runningStatus = runningStatus;
    entry.freeCaMode = e.freeCa;
    return entry;
}

// The EIT carries the event at broadcast time `now`.
bool Live(const Event& e, int64_t now) { return e.from <= now && now < e.until; }

// Sections of the EIT schedule of one service at broadcast time `now`:
// the events the EIT carries then, by three-hour segment from midnight of
// the stream's first day, eight days, one section per segment (more when
// its events need them, up to eight), every segment up to the last one
// with events sent, empty ones too.
const int64_t kSegmentSeconds = 3 * 3600;
const int kSegmentsPerTable = 32;
const int kScheduleSegments = 64;  // eight days
const size_t kScheduleSectionBudget = 4000;

std::vector<build::Bytes> EitSchedule(const Scenario& sc, const Service& service, int64_t now) {
    const int64_t day0 = sc.start - sc.start % 86400;
    std::vector<build::Bytes> out;
    for (const EntryParts parts : {EntryParts::kBasic, EntryParts::kExtended}) {
        const bool extended = parts == EntryParts::kExtended;
        std::vector<std::vector<const Event*>> segments(kScheduleSegments);
        std::vector<int> changes(kScheduleSegments, 0);
        int last = -1;
        for (const Event& e : sc.events) {
            if (e.serviceId != service.id || e.start < day0) continue;
            const int64_t g = (e.start - day0) / kSegmentSeconds;
            if (g >= kScheduleSegments) continue;
            if (extended && e.items.empty()) continue;
            const int segment = static_cast<int>(g);
            // Each from or until already passed changes the section.
            if (e.from > 0 && e.from <= now) ++changes[static_cast<size_t>(segment)];
            if (e.until != INT64_MAX && e.until <= now) ++changes[static_cast<size_t>(segment)];
            if (!Live(e, now)) continue;
            segments[static_cast<size_t>(segment)].push_back(&e);
            if (segment > last) last = segment;
        }
        if (last < 0) continue;
        const int lastTable = last / kSegmentsPerTable;
        // Another transport stream's schedule goes in the "other" tables.
        const bool other = IsOtherTransportStream(sc, service);
        const uint8_t firstTableId = static_cast<uint8_t>((other ? 0x60 : 0x50) + (extended ? 0x08 : 0x00));
        for (int table = 0; table <= lastTable; ++table) {
            const int lastSegment = table < lastTable ? kSegmentsPerTable - 1 : last % kSegmentsPerTable;
            // Sections of each segment, then the numbers.
            std::vector<std::vector<std::vector<build::EitEvent>>> bySegment(static_cast<size_t>(lastSegment + 1));
            std::vector<uint8_t> versions(static_cast<size_t>(lastSegment + 1), 0);
            for (int segment = 0; segment <= lastSegment; ++segment) {
                const size_t g = static_cast<size_t>(table * kSegmentsPerTable + segment);
                std::vector<std::vector<build::EitEvent>>& sections = bySegment[static_cast<size_t>(segment)];
                sections.emplace_back();
                size_t bytes = 0;
                uint8_t version = 0;
                for (const Event* e : segments[g]) {
                    build::EitEvent entry = EventEntry(*e, 0, parts);
                    const size_t size = 12 + entry.descriptors.size();
                    if (bytes + size > kScheduleSectionBudget && !sections.back().empty() && sections.size() < 8) {
                        sections.emplace_back();
                        bytes = 0;
                    }
                    sections.back().push_back(entry);
                    bytes += size;
                    if (e->version > version) version = e->version;
                }
                versions[static_cast<size_t>(segment)] = static_cast<uint8_t>((version + changes[g]) & 0x1F);
            }
            const int lastSectionNumber =
                lastSegment * 8 + static_cast<int>(bySegment[static_cast<size_t>(lastSegment)].size()) - 1;
            for (int segment = 0; segment <= lastSegment; ++segment) {
                const auto& sections = bySegment[static_cast<size_t>(segment)];
                for (size_t k = 0; k < sections.size(); ++k) {
                    build::EitHeader h;
                    h.tableId = static_cast<uint8_t>(firstTableId + table);
                    h.serviceId = service.id;
                    h.version = versions[static_cast<size_t>(segment)];
                    h.sectionNumber = static_cast<uint8_t>(segment * 8 + static_cast<int>(k));
                    h.lastSectionNumber = static_cast<uint8_t>(lastSectionNumber);
                    h.transportStreamId = ServiceTransportStreamId(sc, service);
                    h.originalNetworkId = ServiceOriginalNetworkId(sc, service);
                    h.segmentLastSectionNumber = static_cast<uint8_t>(segment * 8 + static_cast<int>(sections.size()) - 1);
                    h.lastTableId = static_cast<uint8_t>(firstTableId + lastTable);
                    out.push_back(build::EitSection(h, sections[k]));
                }
            }
        }
    }
    return out;
}

// The present and following sections of one service at broadcast time `now`.
std::vector<build::Bytes> EitPresentFollowing(const Scenario& sc, const Service& service, int64_t now) {
    std::vector<const Event*> events;
    for (const Event& e : sc.events) {
        if (e.serviceId == service.id && Live(e, now)) events.push_back(&e);
    }
    int present = -1;
    for (size_t i = 0; i < events.size(); ++i) {
        const Event& e = *events[i];
        if (e.start <= now && (e.duration < 0 || now < e.start + e.duration)) present = static_cast<int>(i);
    }
    int following = -1;
    if (present >= 0) {
        if (present + 1 < static_cast<int>(events.size())) following = present + 1;
    } else {
        for (size_t i = 0; i < events.size() && following < 0; ++i) {
            if (events[i]->start > now) following = static_cast<int>(i);
        }
    }
    std::vector<build::EitEvent> p, f;
    if (present >= 0) p.push_back(EventEntry(*events[present], 4));      // running
    if (following >= 0) f.push_back(EventEntry(*events[following], 1));  // not yet running
    // A new event in a section is a new version of it.
    const uint8_t pVersion = static_cast<uint8_t>((present + 1) & 0x1F);
    const uint8_t fVersion = static_cast<uint8_t>((following + 1) & 0x1F);
    const uint16_t tsid = ServiceTransportStreamId(sc, service);
    const uint16_t onid = ServiceOriginalNetworkId(sc, service);
    const uint8_t tableId = IsOtherTransportStream(sc, service) ? 0x4F : 0x4E;  // p/f other : actual
    return {build::EitPfSection(service.id, 0, p, pVersion, tsid, onid, tableId),
            build::EitPfSection(service.id, 1, f, fVersion, tsid, onid, tableId)};
}

std::vector<PsiJob> ServiceInformationJobs(const Scenario& sc) {
    std::vector<PsiJob> jobs;
    const Scenario* s = &sc;

    std::vector<build::PatProgram> programs = {{0, kNitPid}};
    for (const Service& service : sc.services) {
        if (!IsOtherTransportStream(sc, service)) programs.push_back({service.id, service.pmtPid});
    }
    const build::Bytes pat = build::PatSection(sc.transportStreamId, programs);
    jobs.push_back({kPatPid, kPatInterval, 0, [pat](int64_t) { return std::vector<build::Bytes>{pat}; }});

    for (const Service& service : sc.services) {
        if (IsOtherTransportStream(sc, service)) continue;
        std::vector<build::PmtStream> streams;
        for (const ElementaryStream& es : service.streams) {
            // stream_identifier_descriptor: the component_tag the EIT refers to.
            streams.push_back({es.streamType, es.pid, build::Descriptor(0x52, build::Bytes{es.componentTag})});
        }
        const build::Bytes pmt = build::PmtSection(service.id, service.pcrPid, build::Bytes(), streams);
        jobs.push_back({service.pmtPid, kPmtInterval, 0, [pmt](int64_t) { return std::vector<build::Bytes>{pmt}; }});
    }

    std::vector<NitService> nitServices;
    std::vector<build::SdtService> sdtServices;
    // The services of other transport streams, by original network and
    // transport stream id, for the SDT other.
    std::map<uint32_t, std::vector<build::SdtService>> otherSdt;
    for (const Service& service : sc.services) {
        if (IsOtherTransportStream(sc, service)) {
            const uint32_t key = static_cast<uint32_t>(ServiceOriginalNetworkId(sc, service)) << 16 |
                                 ServiceTransportStreamId(sc, service);
            build::SdtService entry =
                build::NamedService(service.id, Arib(service.name), Arib(service.provider), service.type);
            entry.eitFlags = 0x03;  // EIT_schedule_flag and EIT_present_following_flag
            otherSdt[key].push_back(entry);
            continue;
        }
        const bool oneSegment = service.pmtPid == kOneSegmentPmtPid || service.type == 0xC0;
        nitServices.push_back({service.id, service.type, oneSegment});
        sdtServices.push_back(build::NamedService(service.id, Arib(service.name), Arib(service.provider), service.type));
    }
    const build::Bytes nit = NitSection(sc.originalNetworkId, Arib(sc.networkName), sc.transportStreamId,
                                        sc.originalNetworkId, nitServices, Arib(sc.networkName));
    jobs.push_back({kNitPid, kNitInterval, 0, [nit](int64_t) { return std::vector<build::Bytes>{nit}; }});
    const build::Bytes sdt = build::SdtSection(sc.transportStreamId, sc.originalNetworkId, sdtServices);
    jobs.push_back({kSdtPid, kSdtInterval, 0, [sdt](int64_t) { return std::vector<build::Bytes>{sdt}; }});
    if (!otherSdt.empty()) {
        // SDT other (table_id 0x46): one section per transport stream, every
        // second after the SDT actual.
        std::vector<build::Bytes> others;
        for (const auto& ts : otherSdt) {
            build::Bytes section = build::SdtSection(static_cast<uint16_t>(ts.first), static_cast<uint16_t>(ts.first >> 16),
                                                     ts.second);
            section[0] = 0x46;
            build::Reseal(section);
            others.push_back(section);
        }
        jobs.push_back({kSdtPid, kSdtInterval, kSdtInterval / 8, [others](int64_t) { return others; }});
    }

    for (const Service& service : sc.services) {
        const Service* sv = &service;
        jobs.push_back({kEitPid, kEitInterval, 0, [s, sv](int64_t due) {
                            return EitPresentFollowing(*s, *sv, s->start + due / kClock);
                        }});
    }

    if (sc.schedule) {
        const int64_t interval = sc.scheduleIntervalMs * kTicksPerMs;
        const int64_t count = static_cast<int64_t>(sc.services.size());
        int64_t k = 0;
        for (const Service& service : sc.services) {
            const Service* sv = &service;
            // Spread: service k of n begins its round k/n of the interval later.
            const int64_t first = kEitInterval / 4 + (sc.scheduleSpread ? interval * k++ / count : 0);
            jobs.push_back({kEitPid, interval, first, [s, sv](int64_t due) {
                                return EitSchedule(*s, *sv, s->start + due / kClock);
                            }});
        }
    }

    // The one-segment services' present/following again on the L-EIT PID,
    // half a second after the EIT, as receivers of the one-segment layer
    // alone read it there.
    for (const Service& service : sc.services) {
        if (IsOtherTransportStream(sc, service)) continue;
        if (service.pmtPid != kOneSegmentPmtPid && service.type != 0xC0) continue;
        const Service* sv = &service;
        jobs.push_back({kLowEitPid, kEitInterval, kEitInterval / 2, [s, sv](int64_t due) {
                            return EitPresentFollowing(*s, *sv, s->start + due / kClock);
                        }});
    }

    jobs.push_back({kTotPid, sc.totIntervalMs * kTicksPerMs, kTotOffset, [s](int64_t due) {
                        uint16_t mjd;
                        int h, m, sec;
                        SplitTime(s->start + due / kClock, mjd, h, m, sec);
                        return std::vector<build::Bytes>{
                            build::TotSection(mjd, build::Bcd(h), build::Bcd(m), build::Bcd(sec))};
                    }});
    return jobs;
}

// --- Elementary streams -------------------------------------------------------------

struct EsSource {
    ElementaryStream es;
    bool carriesPcr = false;
    uint8_t streamId = 0;
    int64_t framePeriod = 0;
    uint32_t framesPerKey = 1;
    uint32_t frameBytes = 0;
    int64_t nextFrameDue = 0;
    uint32_t frameNumber = 0;
    int64_t packetInterval = 0;
    int64_t nextPacketDue = 0;
    std::deque<Packet> pes;       // PES packets not yet fully sent
    std::deque<std::pair<int64_t, Packet>> scheduled;  // captions: PES packets and when they are due
    std::deque<bool> pesIsKey;
    size_t offset = 0;            // bytes of pes.front() already sent
    uint8_t counter = 0;
    int64_t lastPcr = -kClock;

    void AddFrame() {
        const bool key = frameNumber % framesPerKey == 0;
        const uint64_t pts = static_cast<uint64_t>((kPcrOrigin + nextFrameDue + kPtsDelay) / 300) & 0x1FFFFFFFFull;
        Bytes payload;
        switch (es.codec) {
            case Codec::kMpeg2Video:
                payload = Mpeg2VideoFrame(frameNumber, key, Mpeg2Picture{es.width, es.height}, es.kbps * 1000,
                                          frameBytes);
                break;
            case Codec::kH264:
                payload = H264AccessUnit(frameNumber % framesPerKey, frameNumber / framesPerKey, frameBytes);
                break;
            case Codec::kAac:
                payload = AacFrame(frameBytes);
                break;
            case Codec::kCaption:
                return;  // scheduled, not framed
        }
        pes.push_back(PesPacket(streamId, pts, payload, !es.isVideo()));
        pesIsKey.push_back(key && es.isVideo());
        ++frameNumber;
        nextFrameDue += framePeriod;
    }

    // One packet of the PES being sent, with a PCR when one is due.
    void Emit(uint8_t* p, int64_t now, uint64_t index, uint64_t bitrate) {
        const Packet& current = pes.front();
        const bool start = offset == 0;
        const bool pcr = carriesPcr && (start || now - lastPcr >= kPcrInterval);
        const bool randomAccess = start && pesIsKey.front();
        const size_t remaining = current.size() - offset;
        const size_t minimumField = pcr ? 8 : (randomAccess ? 2 : 0);
        const size_t payload = std::min(remaining, static_cast<size_t>(kPayloadSize) - minimumField);
        const size_t field = kPayloadSize - payload;  // adaptation field incl. its length byte

        WriteHeader(p, es.pid, start, field > 0 ? 3 : 1, counter);
        if (field > 0) {
            p[4] = static_cast<uint8_t>(field - 1);
            if (field > 1) {
                p[5] = static_cast<uint8_t>((randomAccess ? 0x40 : 0x00) | (pcr ? 0x10 : 0x00));
                std::fill(p + 6, p + 4 + field, 0xFF);  // stuffing
                if (pcr) {
                    WritePcr(p + 6, PacketPcr(index, bitrate));
                    lastPcr = now;
                }
            }
        }
        std::copy(current.begin() + static_cast<long>(offset), current.begin() + static_cast<long>(offset + payload),
                  p + 4 + field);
        counter = static_cast<uint8_t>((counter + 1) & 0x0F);
        offset += payload;
        if (offset == current.size()) {
            pes.pop_front();
            pesIsKey.pop_front();
            offset = 0;
        }
    }
};

// The caption PES packets of a service: management data (group A, one
// language, "jpn") at the start and every second, and a statement for each
// caption of the scenario (clear screen, then its text), each due at its
// time with a PTS that lies the decoding delay ahead, as the other streams'.
void ScheduleCaptions(const Scenario& sc, uint16_t serviceId, EsSource& src) {
    std::vector<std::pair<int64_t, Packet>> all;
    const auto pes = [](int64_t due, const build::Bytes& dataGroup) {
        const uint64_t pts = static_cast<uint64_t>((kPcrOrigin + due + kPtsDelay) / 300) & 0x1FFFFFFFFull;
        return std::make_pair(due, PesPacket(0xBD, pts, build::CaptionPesPayload(dataGroup), true));
    };
    const build::Bytes management = build::DataGroup(0x00, 0, build::ManagementData({"jpn"}));
    for (int64_t ms = 0; ms < sc.durationMs; ms += 1000) all.push_back(pes(ms * kTicksPerMs, management));
    for (const Caption& c : sc.captions) {
        if (c.serviceId != serviceId) continue;
        // CS, then the code sets of event texts (Kanji, alphanumerics,
        // hiragana, katakana in G0-G3, LS0, LS2R), in which the text is
        // coded: captions start with others (the macro set, or DRCS-1 and
        // Kanji in profile C).
        build::Bytes text = {0x0C, 0x1B, 0x24, 0x42, 0x1B, 0x29, 0x4A, 0x1B, 0x2A, 0x30, 0x1B, 0x2B, 0x31, 0x0F, 0x1B, 0x7D};
        const build::Bytes arib = Arib(c.text);
        text.insert(text.end(), arib.begin(), arib.end());
        // Just after the management data of the same moment.
        all.push_back(pes(c.atMs * kTicksPerMs + 1,
                          build::DataGroup(0x01, 0, build::StatementData({build::StatementBody(text)}))));
    }
    std::stable_sort(all.begin(), all.end(),
                     [](const std::pair<int64_t, Packet>& a, const std::pair<int64_t, Packet>& b) {
                         return a.first < b.first;
                     });
    for (auto& p : all) src.scheduled.push_back(std::move(p));
}

// A PCR PID of its own: adaptation-field-only packets, whose continuity
// counter does not advance.
struct PcrSource {
    uint16_t pid;
    int64_t nextDue;

    void Emit(uint8_t* p, uint64_t index, uint64_t bitrate) {
        WriteHeader(p, pid, false, 2, 0);
        p[4] = 183;
        p[5] = 0x10;
        WritePcr(p + 6, PacketPcr(index, bitrate));
        std::fill(p + 12, p + 188, 0xFF);
        nextDue += kPcrInterval;
    }
};

}  // namespace

uint64_t PacketCount(const Scenario& sc) {
    return (static_cast<uint64_t>(sc.durationMs) * sc.bitrate / 1000 + kPacketBits / 2) / kPacketBits;
}

bool GenerateStream(const Scenario& sc, const PacketWriter& writeAll) {
    const PacketWriter write = sc.partialReceptionOnly ? PartialReceptionWriter(sc, writeAll) : writeAll;
    std::vector<PsiJob> jobs = ServiceInformationJobs(sc);
    build::StreamBuilder sections;
    std::deque<Packet> psiQueue;

    std::vector<std::unique_ptr<EsSource>> sources;
    std::vector<PcrSource> pcrSources;
    for (const Service& service : sc.services) {
        if (IsOtherTransportStream(sc, service)) continue;  // carried elsewhere
        bool pcrInStream = false;
        for (const ElementaryStream& es : service.streams) {
            std::unique_ptr<EsSource> src(new EsSource);
            src->es = es;
            src->carriesPcr = es.pid == service.pcrPid;
            pcrInStream = pcrInStream || src->carriesPcr;
            switch (es.codec) {
                case Codec::kMpeg2Video:  // 29.97 Hz, a GOP of 15
                    src->streamId = 0xE0;
                    src->framePeriod = kClock * 1001 / 30000;
                    src->framesPerKey = 15;
                    break;
                case Codec::kH264:  // 15 Hz, a key frame every second
                    src->streamId = 0xE0;
                    src->framePeriod = kClock / 15;
                    src->framesPerKey = 15;
                    break;
                case Codec::kAac:  // 1024 samples at 48 kHz
                    src->streamId = 0xC0;
                    src->framePeriod = kClock * 1024 / 48000;
                    break;
                case Codec::kCaption:  // PES packets at their own times
                    src->streamId = 0xBD;
                    src->framePeriod = kClock;
                    src->nextFrameDue = INT64_MAX / 2;
                    ScheduleCaptions(sc, service.id, *src);
                    break;
            }
            src->frameBytes = static_cast<uint32_t>(static_cast<int64_t>(es.kbps) * 1000 / 8 * src->framePeriod / kClock);
            // 5% above the payload rate, so that PES headers and adaptation
            // fields never let the queue grow.
            src->packetInterval = kPayloadSize * 8 * kClock * 100 / (static_cast<int64_t>(es.kbps) * 1000 * 105);
            sources.push_back(std::move(src));
        }
        if (!pcrInStream) pcrSources.push_back({service.pcrPid, 0});
    }

    const uint64_t count = PacketCount(sc);
    uint8_t p[188];
    for (uint64_t i = 0; i < count; ++i) {
        const int64_t now = PacketTime(i, sc.bitrate);
        for (PsiJob& job : jobs) {
            while (job.nextDue <= now) {
                for (build::Bytes& packet : sections.Packets(job.pid, job.build(job.nextDue))) {
                    psiQueue.push_back(std::move(packet));
                }
                job.nextDue += job.interval;
            }
        }
        for (auto& src : sources) {
            while (src->nextFrameDue <= now) src->AddFrame();
            while (!src->scheduled.empty() && src->scheduled.front().first <= now) {
                src->pes.push_back(std::move(src->scheduled.front().second));
                src->pesIsKey.push_back(false);
                src->scheduled.pop_front();
            }
        }

        PcrSource* pcrDue = nullptr;
        for (PcrSource& pcr : pcrSources) {
            if (pcr.nextDue <= now && (pcrDue == nullptr || pcr.nextDue < pcrDue->nextDue)) pcrDue = &pcr;
        }
        EsSource* esDue = nullptr;
        for (auto& src : sources) {
            if (!src->pes.empty() && src->nextPacketDue <= now &&
                (esDue == nullptr || src->nextPacketDue < esDue->nextPacketDue)) {
                esDue = src.get();
            }
        }

        if (!psiQueue.empty()) {
            std::copy(psiQueue.front().begin(), psiQueue.front().end(), p);
            psiQueue.pop_front();
        } else if (pcrDue != nullptr) {
            pcrDue->Emit(p, i, sc.bitrate);
        } else if (esDue != nullptr) {
            esDue->Emit(p, now, i, sc.bitrate);
            // An idle stream does not save up packets for a burst.
            esDue->nextPacketDue = std::max(esDue->nextPacketDue + esDue->packetInterval, now - esDue->packetInterval);
        } else {
            WriteHeader(p, kNullPid, false, 1, 0);
            std::fill(p + 4, p + 188, 0xFF);
        }
        if (!write(p)) return false;
    }
    return true;
}

}  // namespace gen
