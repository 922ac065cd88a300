// The programme guide of a whole file for kestrin-info --epg: the EIT
// sections of every service (p/f and schedule, on PIDs 0x0012, 0x0026 and
// 0x0027) kept with the core's schedule assembly, and the service names of
// the SDT (actual and other, PID 0x0011). The outputs (JSON, XMLTV) read the
// programmes from here.
#ifndef KESTRIN_TOOLS_INFO_EPG_COLLECTOR_H
#define KESTRIN_TOOLS_INFO_EPG_COLLECTOR_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "text/eit_event.h"
#include "text/eit_schedule.h"
#include "ts/section_stream.h"

// Services the dump keeps apart, and the pool each one gets (memory is
// reserved, touched only as sections arrive).
const int32_t kEpgDumpServices = 64;
const int32_t kEpgDumpPoolSize = 2 * 1024 * 1024;

// A service as the guide names it: original_network_id << 16 | service_id.
inline uint32_t EpgServiceKey(uint16_t networkId, uint16_t serviceId) {
    return static_cast<uint32_t>(networkId) << 16 | serviceId;
}

class EpgCollector {
public:
    EpgCollector();
    ~EpgCollector();

    // One 188-byte packet of any PID.
    void Packet(const uint8_t* packet);

    // Every programme of the guide, per service in the order the services
    // were first seen: the schedule's events in start order, then the
    // present and following events as they last arrived that the schedule
    // does not list (neither by event id nor by an overlapping event).
    // `warnings` gets a line for each service or section that did not fit.
    void ForEachProgramme(const std::function<void(const EitEventRecord&)>& visit, std::string& warnings);
    // The same, with each programme's end (Japan seconds) as the whole guide
    // times it (EitProgrammeEnd: an undetermined duration runs until the
    // service's next programme here, listed or kept, at most
    // kUndeterminedRunSeconds); 0 when the start is undetermined.
    void ForEachTimedProgramme(const std::function<void(const EitEventRecord&, int64_t end)>& visit,
                               std::string& warnings);

    // The services whose EIT the guide holds, as EpgServiceKey, in the order
    // first seen.
    std::vector<uint32_t> EitServices() const;
    // The services the SDT actual lists (EpgServiceKey).
    const std::set<uint32_t>& ActualServices() const { return actualServices_; }
    // Service names (Shift_JIS, ARIB symbols in the user-defined area) of
    // the service descriptors of the SDT actual and other, the last one
    // received for each service. A service without a name is not listed.
    const std::map<uint32_t, std::string>& ServiceNames() const { return names_; }

private:
    struct Seen {
        uint16_t networkId;
        uint16_t transportStreamId;
        uint16_t serviceId;
        uint16_t eventId;
        bool startDetermined;
        int64_t start;
        int64_t end;
        // The section as it arrived (shared by its events) and the event's
        // offset in it: a copy of the bytes, not of the far larger record.
        std::shared_ptr<const std::vector<uint8_t>> section;
        int32_t offset;
    };

    static void EitSink(void* context, const uint8_t* section, int32_t size);
    static void SdtSink(void* context, const uint8_t* section, int32_t size);
    void KeepPresentFollowing(const uint8_t* section, int32_t size);
    void ReadSdt(const uint8_t* section, int32_t size);

    std::map<uint64_t, Seen> seen_;
    std::unique_ptr<EitEventRecord> record_;
    std::unique_ptr<EitScheduleService[]> services_;
    std::unique_ptr<uint8_t[]> pools_;
    std::unique_ptr<SectionStream[]> streams_;
    std::unique_ptr<SectionStream> sdtStream_;
    EitScheduleSet set_;
    std::map<uint32_t, std::string> names_;
    std::set<uint32_t> actualServices_;
};

// Feeds the whole 188-byte packets of `data` (from the first offset where
// sync bytes stand 188 bytes apart) to `collector`.
void FeedEpgStream(EpgCollector& collector, const uint8_t* data, size_t size);

// The first offset of `data` at which sync bytes stand 188 bytes apart (0
// when none).
size_t EpgSyncOffset(const uint8_t* data, size_t size);

// ARIB bytes to UTF-8, the additional symbols as their Unicode characters.
std::string EpgUtf8(const uint8_t* bytes, int32_t size);

// The extended event items of `record` as (heading, text) in UTF-8, in the
// order their headings first appear: items under the same heading are
// joined before decoding, as their bytes may continue one another.
std::vector<std::pair<std::string, std::string>> EpgExtendedItems(const EitEventRecord& record);

#endif
