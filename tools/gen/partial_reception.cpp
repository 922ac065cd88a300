#include "tools/gen/partial_reception.h"

namespace gen {

namespace {

const uint16_t kOneSegmentPmtPid = 0x1FC8;
const uint8_t kOneSegmentServiceType = 0xC0;
// PAT, NIT, TDT/TOT and L-EIT.
const uint16_t kLayerSiPids[] = {0x0000, 0x0010, 0x0014, 0x0027};

}  // namespace

bool InPartialReceptionLayer(const Scenario& sc, uint16_t pid) {
    for (uint16_t si : kLayerSiPids) {
        if (pid == si) return true;
    }
    for (const Service& service : sc.services) {
        if (IsOtherTransportStream(sc, service)) continue;
        if (service.pmtPid != kOneSegmentPmtPid && service.type != kOneSegmentServiceType) continue;
        if (pid == service.pmtPid || pid == service.pcrPid) return true;
        for (const ElementaryStream& es : service.streams) {
            if (pid == es.pid) return true;
        }
    }
    return false;
}

PacketWriter PartialReceptionWriter(const Scenario& sc, const PacketWriter& write) {
    const Scenario* scenario = &sc;
    return [scenario, write](const uint8_t* packet) {
        const uint16_t pid = static_cast<uint16_t>(((packet[1] & 0x1F) << 8) | packet[2]);
        return !InPartialReceptionLayer(*scenario, pid) || write(packet);
    };
}

}  // namespace gen
