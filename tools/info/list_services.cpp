#include "tools/info/list_services.h"

#include <cstdio>

#include <nlohmann/json.hpp>

#include "text/arib_decoder.h"
#include "tools/info/cp932_utf8.h"
#include "ts/crc32.h"
#include "ts/packet.h"
#include "ts/psi_reader.h"
#include "ts/section.h"

namespace {

const uint16_t kOneSegmentPmtPid = 0x1FC8;
// table_id, then section_length 9 at least: the PAT header after it and the
// CRC_32; 12 for the SDT, whose header also holds original_network_id.
const SectionFilter kPatFilter = TableSectionFilter(kPatTableId, 9);
const SectionFilter kSdtFilter = TableSectionFilter(kSdtActualTableId, 12);
// The SDT's original_network_id and reserved byte after that header.
const int32_t kSdtHeaderRest = 3;
const int32_t kProgramEntrySize = 4;
const int32_t kServiceEntryHeaderSize = 5;
const uint8_t kServiceDescriptorTag = 0x48;
// A service name of up to 255 bytes of ARIB text in Shift_JIS.
const int32_t kNameCapacity = 1024;

struct ServiceTypeName {
    int32_t type;
    const char* name;
};
// service_type of ARIB STD-B10.
const ServiceTypeName kServiceTypes[] = {
    {0x01, "digital TV"},         {0x02, "digital audio"},     {0xA1, "special video"},
    {0xA2, "special audio"},      {0xA3, "special data"},      {0xA4, "engineering"},
    {0xA5, "promotion video"},    {0xA6, "promotion audio"},   {0xA7, "promotion data"},
    {0xA8, "pre-accumulation"},   {0xA9, "accumulation data"}, {0xAA, "bookmark list"},
    {0xAB, "server-type"},        {0xAC, "independent file"},  {0xC0, "data"},
};

const char* ServiceTypeText(int32_t type) {
    for (const ServiceTypeName& t : kServiceTypes) {
        if (t.type == type) return t.name;
    }
    return "";
}

std::string Hex(int32_t value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*X", digits, static_cast<unsigned>(value));
    return text;
}

std::string Padded(const std::string& text, size_t width) {
    return text + std::string(text.size() < width ? width - text.size() : 1, ' ');
}

std::string Utf8(const std::string& sjis, bool symbols) {
    return symbols ? Cp932ToUtf8WithSymbols(sjis) : Cp932ToUtf8(sjis);
}

}  // namespace

bool ServiceCollector::SectionSet::Take(int32_t sectionVersion, int32_t number, int32_t lastNumber) {
    if (whole || number > lastNumber) return false;
    if (sectionVersion != version || lastNumber != last) {
        // A new version before the table was whole: start again with it.
        version = sectionVersion;
        last = lastNumber;
        seen.reset();
    }
    if (seen.test(static_cast<size_t>(number))) return false;
    seen.set(static_cast<size_t>(number));
    whole = static_cast<int32_t>(seen.count()) == last + 1;
    return true;
}

ServiceCollector::ServiceCollector() {
    ResetSectionAssembler(patAssembler_);
    ResetSectionAssembler(sdtAssembler_);
}

void ServiceCollector::Feed(const uint8_t* packet) {
    const uint16_t pid = PacketPid(packet);
    SectionAssembler* assembler = nullptr;
    const SectionFilter* filter = nullptr;
    if (pid == kPatPid && !pat_.Whole()) {
        assembler = &patAssembler_;
        filter = &kPatFilter;
    } else if (pid == kSdtPid && !sdt_.Whole()) {
        assembler = &sdtAssembler_;
        filter = &kSdtFilter;
    } else {
        return;
    }
    AssembleSections(*assembler, *filter, packet,
                     [](void* self, const uint8_t* section, int32_t size) {
                         ServiceCollector& c = *static_cast<ServiceCollector*>(self);
                         // Only sections that arrived whole and unharmed are listed.
                         if (Crc32Mpeg2(section, static_cast<size_t>(size)) != 0) return;
                         if (section[0] == kPatTableId) {
                             if (!c.pat_.Whole()) c.ReadPat(section, size);
                         } else if (!c.sdt_.Whole()) {
                             c.ReadSdt(section, size);
                         }
                     },
                     this);
}

void ServiceCollector::ReadPat(const uint8_t* section, int32_t size) {
    PsiReader reader(section, size);
    reader.U8();  // table_id, tested by the filter
    PsiReader body = reader.Enter(reader.Length12());
    body.U16();  // transport_stream_id
    const int32_t version = (body.U8() >> 1) & 0x1F;
    const int32_t number = body.U8();
    const int32_t last = body.U8();
    if (body.Error() || !pat_.Take(version, number, last)) return;
    // The program loop runs to the CRC_32.
    PsiReader programs = body.Enter(body.Remaining() - kCrcSize);
    while (programs.CanRead(kProgramEntrySize)) {
        const int32_t program = programs.U16();
        const uint16_t pid = programs.Pid();
        if (program != 0) services_[program].pmtPid = pid;  // 0 names the NIT
    }
}

void ServiceCollector::ReadSdt(const uint8_t* section, int32_t size) {
    PsiReader reader(section, size);
    reader.U8();
    PsiReader body = reader.Enter(reader.Length12());
    body.U16();
    const int32_t version = (body.U8() >> 1) & 0x1F;
    const int32_t number = body.U8();
    const int32_t last = body.U8();
    body.Skip(kSdtHeaderRest);
    if (body.Error() || !sdt_.Take(version, number, last)) return;
    PsiReader loop = body.Enter(body.Remaining() - kCrcSize);
    while (loop.CanRead(kServiceEntryHeaderSize)) {
        const int32_t serviceId = loop.U16();
        loop.Skip(1);  // EIT flags
        PsiReader descriptors = loop.Enter(loop.Length12());
        ServiceEntry& entry = services_[serviceId];
        entry.inSdt = true;
        while (descriptors.CanRead(2)) {
            const uint8_t tag = descriptors.U8();
            PsiReader d = descriptors.Enter(descriptors.U8());
            if (tag != kServiceDescriptorTag || !d.CanRead(1)) continue;
            entry.serviceType = d.U8();
            if (!d.CanRead(1)) continue;
            d.Skip(d.U8());  // service_provider_name
            if (!d.CanRead(1)) continue;
            const uint8_t* bytes = nullptr;
            const int32_t count = d.TakeUpTo(d.U8(), &bytes);
            char name[kNameCapacity];
            DecodeAribText(name, bytes, count, kNameCapacity, SymbolStyle::kUserDefined);
            entry.name = name;
        }
    }
}

std::string ServiceListText(const ServiceCollector& services, bool symbols) {
    const size_t kIdColumn = 15;
    const size_t kPidColumn = 9;
    const size_t kTypeColumn = 23;
    std::string out = Padded("service_id", kIdColumn) + Padded("pmt_pid", kPidColumn) +
                      Padded("type", kTypeColumn) + "name\n";
    for (const auto& item : services.Services()) {
        const ServiceEntry& s = item.second;
        std::string line = Padded(std::to_string(item.first) + " (" + Hex(item.first, 4) + ")", kIdColumn);
        line += Padded(s.pmtPid >= 0 ? Hex(s.pmtPid, 4) : "-", kPidColumn);
        std::string type = "-";
        if (s.serviceType >= 0) {
            type = Hex(s.serviceType, 2);
            const std::string name = ServiceTypeText(s.serviceType);
            if (!name.empty()) type += " " + name;
        }
        line += Padded(type, kTypeColumn);
        line += s.inSdt ? Utf8(s.name, symbols) : "-";
        if (s.pmtPid == kOneSegmentPmtPid) line += " (one-segment)";
        out += line + "\n";
    }
    return out;
}

std::string ServiceListJson(const ServiceCollector& services, bool symbols) {
    std::string out;
    for (const auto& item : services.Services()) {
        const ServiceEntry& s = item.second;
        nlohmann::ordered_json line;
        line["service_id"] = item.first;
        line["pmt_pid"] = s.pmtPid >= 0 ? nlohmann::ordered_json(s.pmtPid) : nlohmann::ordered_json();
        line["service_type"] = s.serviceType >= 0 ? nlohmann::ordered_json(s.serviceType) : nlohmann::ordered_json();
        const std::string typeName = s.serviceType >= 0 ? ServiceTypeText(s.serviceType) : "";
        line["service_type_name"] = typeName.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(typeName);
        line["name"] = s.inSdt ? nlohmann::ordered_json(Utf8(s.name, symbols)) : nlohmann::ordered_json();
        line["one_segment"] = s.pmtPid == kOneSegmentPmtPid;
        out += line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
    }
    return out;
}
