// kestrin-info --list-services: the services of a stream, from its PAT
// (program_number and PMT PID) and its SDT (service_type and name), with
// the one-segment service marked: the one whose PMT is on PID 0x1FC8, the
// service kestrin-info shows without --service.
#ifndef KESTRIN_TOOLS_INFO_LIST_SERVICES_H
#define KESTRIN_TOOLS_INFO_LIST_SERVICES_H

#include <bitset>
#include <cstdint>
#include <map>
#include <string>

#include "ts/section_assembler.h"

struct ServiceEntry {
    int32_t pmtPid = -1;       // -1: not in the PAT
    int32_t serviceType = -1;  // -1: not in the SDT, or no service descriptor
    bool inSdt = false;
    std::string name;          // Shift_JIS
};

// Collects the first whole PAT and the first whole SDT (actual) of the
// stream, every section of their version, CRC_32 verified, with the core's
// table assembler and PsiReader.
class ServiceCollector {
public:
    ServiceCollector();
    void Feed(const uint8_t* packet);

    bool SawPat() const { return pat_.Whole(); }
    bool SawSdt() const { return sdt_.Whole(); }
    bool Complete() const { return SawPat() && SawSdt(); }
    // By service_id.
    const std::map<int32_t, ServiceEntry>& Services() const { return services_; }

private:
    // The sections of one table version seen so far.
    struct SectionSet {
        int32_t version = -1;
        int32_t last = 0;
        std::bitset<256> seen;
        bool whole = false;
        bool Whole() const { return whole; }
        // True when the section is new for the table being collected.
        bool Take(int32_t sectionVersion, int32_t number, int32_t lastNumber);
    };

    void ReadPat(const uint8_t* section, int32_t size);
    void ReadSdt(const uint8_t* section, int32_t size);

    SectionAssembler patAssembler_;
    SectionAssembler sdtAssembler_;
    SectionSet pat_;
    SectionSet sdt_;
    std::map<int32_t, ServiceEntry> services_;
};

// The list as text: a header line, then one line per service:
//   service_id     pmt_pid  type                  name
//   1416 (0x0588)  0x1FC8   0xC0 data             ケストリンワンセグ (one-segment)
// with "-" for what the PAT or the SDT does not give.
std::string ServiceListText(const ServiceCollector& services, bool symbols);
// One JSON object per line and service: service_id, pmt_pid, service_type,
// service_type_name, name (null when not given), one_segment.
std::string ServiceListJson(const ServiceCollector& services, bool symbols);

#endif
