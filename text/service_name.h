// SDT: the name of a service, from its service descriptor.
#ifndef KESTRIN_TEXT_SERVICE_NAME_H
#define KESTRIN_TEXT_SERVICE_NAME_H

#include <cstdint>

#include "text/arib_decoder.h"

// The service name, terminator included.
const int32_t kServiceNameSize = 32;

// Searches the service loop of the SDT section of `size` bytes
// (section_length + 3, all present) for `serviceId` and decodes the name of
// the last service descriptor of its entry into `name` (kServiceNameSize
// bytes), with the additional symbols in `style`. `name` is left as it is
// when the service is not listed or has no service descriptor.
void FindServiceName(const uint8_t* section, int32_t size, int32_t serviceId, SymbolStyle style, char* name);

#endif
