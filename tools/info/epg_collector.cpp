#include "tools/info/epg_collector.h"

#include <algorithm>
#include <string>

#include "text/arib_decoder.h"
#include "tools/info/cp932_utf8.h"
#include "ts/crc32.h"
#include "ts/packet.h"
#include "ts/psi_reader.h"
#include "ts/section.h"

namespace {

// The PIDs that carry EIT: the multiplex's own, and the one-segment
// layer's (L-EIT) two.
const uint16_t kEitPids[] = {0x0012, 0x0026, 0x0027};
const int32_t kEitPidCount = 3;
// A decoded text: 255 ARIB bytes, or 1 KiB joined, at most 5 Shift_JIS
// bytes a character.
const int32_t kDecodeCapacity = 8 * 1024;
const size_t kPacket = static_cast<size_t>(kTsPacketSize);

// SDT other (the services of other transport streams, sent on BS and CS).
const uint8_t kSdtOtherTableId = 0x46;
// After section_length: transport_stream_id, version, section numbers,
// original_network_id and a reserved byte.
const int32_t kSdtHeaderAfterLength = 8;
const int32_t kServiceEntryHeaderSize = 5;
const uint8_t kServiceDescriptorTag = 0x48;

std::string Number(int64_t value) { return std::to_string(value); }

}  // namespace

std::string EpgUtf8(const uint8_t* bytes, int32_t size) {
    static char buffer[kDecodeCapacity];
    DecodeAribText(buffer, bytes, size, kDecodeCapacity, SymbolStyle::kUserDefined);
    return Cp932ToUtf8WithSymbols(buffer);
}

std::vector<std::pair<std::string, std::string>> EpgExtendedItems(const EitEventRecord& r) {
    std::vector<std::string> keys;
    std::map<std::string, std::vector<uint8_t>> texts;
    for (int32_t i = 0; i < r.extended.itemCount && i < kMaxDetailItems; ++i) {
        const ExtendedItemRaw& item = r.extended.items[i];
        const std::string key = EpgUtf8(item.description, item.descriptionSize);
        if (texts.find(key) == texts.end()) keys.push_back(key);
        std::vector<uint8_t>& joined = texts[key];
        joined.insert(joined.end(), item.text, item.text + item.textSize);
    }
    std::vector<std::pair<std::string, std::string>> items;
    for (const std::string& key : keys) {
        const std::vector<uint8_t>& joined = texts[key];
        items.emplace_back(key, EpgUtf8(joined.data(), static_cast<int32_t>(joined.size())));
    }
    return items;
}

EpgCollector::EpgCollector()
    : record_(new EitEventRecord),
      services_(new EitScheduleService[kEpgDumpServices]),
      pools_(new uint8_t[static_cast<size_t>(kEpgDumpServices) * kEpgDumpPoolSize]),
      streams_(new SectionStream[kEitPidCount]),
      sdtStream_(new SectionStream) {
    InitScheduleSet(set_, services_.get(), kEpgDumpServices, pools_.get(), kEpgDumpPoolSize);
    for (int32_t i = 0; i < kEitPidCount; ++i) ResetSectionStream(streams_[i]);
    ResetSectionStream(*sdtStream_);
}

EpgCollector::~EpgCollector() = default;

void EpgCollector::Packet(const uint8_t* packet) {
    const uint16_t pid = PacketPid(packet);
    if (pid == kSdtPid) {
        FeedSectionStream(*sdtStream_, packet, &EpgCollector::SdtSink, this);
        return;
    }
    for (int32_t i = 0; i < kEitPidCount; ++i) {
        if (pid == kEitPids[i]) FeedSectionStream(streams_[i], packet, &EpgCollector::EitSink, this);
    }
}

std::vector<uint32_t> EpgCollector::EitServices() const {
    std::vector<uint32_t> keys;
    for (int32_t i = 0; i < set_.count; ++i) {
        keys.push_back(EpgServiceKey(services_[i].originalNetworkId, services_[i].serviceId));
    }
    return keys;
}

void EpgCollector::ForEachProgramme(const std::function<void(const EitEventRecord&)>& visit, std::string& warnings) {
    ForEachTimedProgramme([&visit](const EitEventRecord& record, int64_t) { visit(record); }, warnings);
}

void EpgCollector::ForEachTimedProgramme(const std::function<void(const EitEventRecord&, int64_t)>& visit,
                                         std::string& warnings) {
    std::vector<ScheduleEventRef> refs(kScheduleEventsEightDays * 8);
    std::unique_ptr<EitEventRecord> record(new EitEventRecord);
    for (int32_t i = 0; i < set_.count; ++i) {
        const EitScheduleService& s = services_[i];
        const int32_t n = ListScheduleEvents(s, refs.data(), static_cast<int32_t>(refs.size()));
        // The present and following events the list does not hold: neither
        // by id nor by an overlapping event (an undetermined duration taking
        // its first second only, as the list's own filing does).
        std::vector<const Seen*> extras;
        for (const auto& kept : seen_) {
            const Seen& e = kept.second;
            if (e.networkId != s.originalNetworkId || e.transportStreamId != s.transportStreamId ||
                e.serviceId != s.serviceId) {
                continue;
            }
            bool listed = false;
            for (int32_t k = 0; k < n && !listed; ++k) {
                const ScheduleEventRef& ref = refs[static_cast<size_t>(k)];
                const int64_t end = ref.start + (ref.durationDetermined ? ref.duration : 1);
                listed = ref.eventId == e.eventId ||
                         (e.startDetermined && ref.startDetermined && ref.start < e.end && e.start < end);
            }
            if (!listed) extras.push_back(&e);
        }
        // Every programme's start, for the end of one whose duration is
        // undetermined: the next programme of the service, listed or not.
        std::vector<int64_t> starts;
        for (int32_t k = 0; k < n; ++k) {
            if (refs[static_cast<size_t>(k)].startDetermined) starts.push_back(refs[static_cast<size_t>(k)].start);
        }
        for (const Seen* e : extras) {
            if (e->startDetermined) starts.push_back(e->start);
        }
        std::sort(starts.begin(), starts.end());
        const auto timed = [&starts, &visit](const EitEventRecord& r) {
            int64_t end = 0;
            if (r.startDetermined) {
                const auto next = std::upper_bound(starts.begin(), starts.end(), r.start);
                end = EitProgrammeEnd(r.start, r.durationDetermined, r.duration, next != starts.end(),
                                      next != starts.end() ? *next : 0);
            }
            visit(r, end);
        };
        for (int32_t k = 0; k < n; ++k) {
            if (!ReadScheduleEvent(s, refs[static_cast<size_t>(k)], *record)) continue;
            timed(*record);
        }
        for (const Seen* e : extras) {
            const uint8_t* bytes = e->section->data();
            const int32_t size = static_cast<int32_t>(e->section->size());
            EitSectionHeader h;
            EitEventEntry entry;
            if (!ReadEitSectionHeader(bytes, size, h) || !ReadEitEventAt(bytes, size, e->offset, entry)) continue;
            ReadEitEvent(h, entry, *record);
            timed(*record);
        }
        if (s.refusedSections > 0) {
            warnings += "service " + Number(s.serviceId) + ": " + Number(s.refusedSections) +
                        " EIT sections did not fit its " + Number(kEpgDumpPoolSize) + "-byte pool\n";
        }
    }
    if (set_.refusedServices > 0) {
        warnings += Number(set_.refusedServices) + " EIT sections of services past the first " +
                    Number(kEpgDumpServices) + " were left out\n";
    }
}

void EpgCollector::EitSink(void* context, const uint8_t* section, int32_t size) {
    // A long-form section whose CRC_32 over all its bytes is 0.
    if (size < kEitSectionHeaderSize + 4 || Crc32Mpeg2(section, static_cast<size_t>(size)) != 0) return;
    EpgCollector* self = static_cast<EpgCollector*>(context);
    if (AddScheduleSetSection(self->set_, section, size) == ScheduleAddResult::kStored &&
        IsEitPresentFollowing(section[0])) {
        self->KeepPresentFollowing(section, size);
    }
}

// A present or following event stays in the dump after the stream moved on
// from it (the schedule state keeps only the current pair): each p/f event
// as it last arrived, listed when the final guide has no event of that id
// and none that overlaps it.
void EpgCollector::KeepPresentFollowing(const uint8_t* section, int32_t size) {
    EitSectionHeader h;
    if (!ReadEitSectionHeader(section, size, h)) return;
    const std::shared_ptr<const std::vector<uint8_t>> bytes =
        std::make_shared<const std::vector<uint8_t>>(section, section + size);
    EitEventCursor cursor(section, size);
    EitEventEntry entry;
    while (cursor.Next(entry)) {
        ReadEitEvent(h, entry, *record_);
        Seen seen = {h.originalNetworkId, h.transportStreamId, h.serviceId, entry.eventId, record_->startDetermined,
                     record_->start, record_->start + (record_->durationDetermined ? record_->duration : 1),
                     bytes, entry.offset};
        const uint64_t key = static_cast<uint64_t>(h.originalNetworkId) << 48 |
                             static_cast<uint64_t>(h.transportStreamId) << 32 |
                             static_cast<uint64_t>(h.serviceId) << 16 | entry.eventId;
        seen_[key] = seen;
    }
}

void EpgCollector::SdtSink(void* context, const uint8_t* section, int32_t size) {
    if (size < kSectionHeaderSize + kSdtHeaderAfterLength + kCrcSize ||
        Crc32Mpeg2(section, static_cast<size_t>(size)) != 0) {
        return;
    }
    if (section[0] != kSdtActualTableId && section[0] != kSdtOtherTableId) return;
    static_cast<EpgCollector*>(context)->ReadSdt(section, size);
}

void EpgCollector::ReadSdt(const uint8_t* section, int32_t size) {
    PsiReader reader(section, size);
    const bool actual = reader.U8() == kSdtActualTableId;
    PsiReader body = reader.Enter(reader.Length12());
    body.Skip(5);  // transport_stream_id, version, section numbers
    const uint16_t networkId = body.U16();
    body.Skip(1);
    if (body.Error()) return;
    PsiReader loop = body.Enter(body.Remaining() - kCrcSize);
    while (loop.CanRead(kServiceEntryHeaderSize)) {
        const uint16_t serviceId = loop.U16();
        loop.Skip(1);  // EIT flags
        PsiReader descriptors = loop.Enter(loop.Length12());
        const uint32_t key = EpgServiceKey(networkId, serviceId);
        if (actual) actualServices_.insert(key);
        while (descriptors.CanRead(2)) {
            const uint8_t tag = descriptors.U8();
            PsiReader d = descriptors.Enter(descriptors.U8());
            if (tag != kServiceDescriptorTag || !d.CanRead(2)) continue;
            d.Skip(1);       // service_type
            d.Skip(d.U8());  // service_provider_name
            if (!d.CanRead(1)) continue;
            const uint8_t* bytes = nullptr;
            const int32_t count = d.TakeUpTo(d.U8(), &bytes);
            char name[kDecodeCapacity];
            DecodeAribText(name, bytes, count, kDecodeCapacity, SymbolStyle::kUserDefined);
            if (name[0] != '\0') {
                names_[key] = name;
            } else {
                names_.erase(key);
            }
        }
    }
}

size_t EpgSyncOffset(const uint8_t* data, size_t size) {
    for (size_t at = 0; at < kPacket && at < size; ++at) {
        bool ok = true;
        for (size_t k = at; k < size && k < at + 5 * kPacket; k += kPacket) ok = ok && data[k] == 0x47;
        if (ok) return at;
    }
    return 0;
}

void FeedEpgStream(EpgCollector& collector, const uint8_t* data, size_t size) {
    for (size_t at = EpgSyncOffset(data, size); at + kPacket <= size; at += kPacket) collector.Packet(data + at);
}
