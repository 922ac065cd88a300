#include "tools/gen/service_information.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "tools/gen/network_sections.h"
#include "tools/gen/scenario_values.h"

namespace gen {

namespace {

const int64_t kPatInterval = 100 * kTicksPerMs;
const int64_t kPmtInterval = 100 * kTicksPerMs;
const int64_t kNitInterval = 1000 * kTicksPerMs;
const int64_t kSdtInterval = 1000 * kTicksPerMs;
const int64_t kEitInterval = 1000 * kTicksPerMs;
const int64_t kTotOffset = 500 * kTicksPerMs;

const uint16_t kPatPid = 0x0000;
const uint16_t kNitPid = 0x0010;
const uint16_t kSdtPid = 0x0011;
const uint16_t kEitPid = 0x0012;
const uint16_t kTotPid = 0x0014;
const uint16_t kLowEitPid = 0x0027;  // L-EIT: the one-segment services' EIT
const uint16_t kOneSegmentPmtPid = 0x1FC8;

build::Bytes Arib(const std::string& sjis) { return AribBytes(sjis); }

void SplitTime(int64_t seconds, uint16_t& mjd, int& h, int& m, int& s) {
    mjd = static_cast<uint16_t>(seconds / 86400);
    const int64_t inDay = seconds % 86400;
    h = static_cast<int>(inDay / 3600);
    m = static_cast<int>(inDay / 60 % 60);
    s = static_cast<int>(inDay % 60);
}

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

}  // namespace

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

}  // namespace gen
