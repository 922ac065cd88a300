#include "tools/gen/network_sections.h"

#include <algorithm>

namespace gen {

namespace {

void PutUint16(build::Bytes& b, uint16_t v) {
    b.push_back(static_cast<uint8_t>(v >> 8));
    b.push_back(static_cast<uint8_t>(v));
}

// 4 reserved bits and a 12-bit loop length, then the loop.
void PutLoop(build::Bytes& b, const build::Bytes& loop) {
    PutUint16(b, static_cast<uint16_t>(0xF000 | (loop.size() & 0x0FFF)));
    b.insert(b.end(), loop.begin(), loop.end());
}

}  // namespace

build::Bytes NitSection(uint16_t networkId, const build::Bytes& networkName, uint16_t transportStreamId,
                        uint16_t originalNetworkId, const std::vector<NitService>& services,
                        const build::Bytes& transportStreamName, uint8_t version) {
    const build::Bytes networkDescriptors = build::Descriptor(0x40, networkName);

    build::Bytes serviceList;
    build::Bytes partial;
    for (const NitService& s : services) {
        PutUint16(serviceList, s.serviceId);
        serviceList.push_back(s.serviceType);
        if (s.partialReception) PutUint16(partial, s.serviceId);
    }
    // Terrestrial delivery system: area code 0x0CD (Kanto), guard interval
    // 1/8, mode 3; one frequency in units of 1/7 MHz (557.142857 MHz).
    build::Bytes delivery;
    PutUint16(delivery, static_cast<uint16_t>((0x0CD << 4) | (2 << 2) | 2));
    PutUint16(delivery, 3900);
    // TS information: remote control key 1, the name, no transmission types.
    const size_t nameLength = transportStreamName.size() & 0x3F;
    build::Bytes tsInformation(2 + nameLength);
    tsInformation[0] = 0x01;
    tsInformation[1] = static_cast<uint8_t>(nameLength << 2);
    std::copy(transportStreamName.begin(), transportStreamName.begin() + static_cast<long>(nameLength),
              tsInformation.begin() + 2);

    build::Bytes transportDescriptors =
        build::Cat({build::Descriptor(0x41, serviceList), build::Descriptor(0xFA, delivery),
                    partial.empty() ? build::Bytes() : build::Descriptor(0xFB, partial),
                    build::Descriptor(0xCD, tsInformation)});

    build::Bytes entry;
    PutUint16(entry, transportStreamId);
    PutUint16(entry, originalNetworkId);
    PutLoop(entry, transportDescriptors);

    build::Bytes body;
    PutLoop(body, networkDescriptors);
    PutLoop(body, entry);
    return build::LongSection(0x40, 0xF0, networkId, version, 0, 0, body);
}

}  // namespace gen
