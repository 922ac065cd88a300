// The NIT of the sample multiplex (table_id 0x40 on PID 0x0010), in the
// form ISDB-T networks send it.
#ifndef KESTRIN_TOOLS_GEN_NETWORK_SECTIONS_H
#define KESTRIN_TOOLS_GEN_NETWORK_SECTIONS_H

#include <cstdint>
#include <vector>

#include "tools/streamkit/stream_builder.h"

namespace gen {

struct NitService {
    uint16_t serviceId;
    uint8_t serviceType;
    bool partialReception;  // carried in the one-segment layer
};

// Network name descriptor in the network loop; for the one transport
// stream: service list, terrestrial delivery system, partial reception (when
// a service is one-segment) and TS information descriptors.
build::Bytes NitSection(uint16_t networkId, const build::Bytes& networkName, uint16_t transportStreamId,
                        uint16_t originalNetworkId, const std::vector<NitService>& services,
                        const build::Bytes& transportStreamName, uint8_t version = 0);

}  // namespace gen

#endif
