// SDT: the name of the current service, shown in the viewer's caption.
#include "text/service_name.h"

#include "text/arib_decoder.h"
#include "ts/psi_reader.h"
#include "ts/section.h"

namespace {

// SDT section offsets (from table_id): the service loop follows
// original_network_id and reserved_future_use.
const int32_t kServiceLoopOffset = 11;
// A section shorter than this has no room for a service entry.
const int32_t kMinimumServiceSectionLength = 13;
// Service loop entry: service_id, flags, descriptors_loop_length.
const int32_t kServiceEntryHeaderSize = 5;
const uint8_t kServiceDescriptorTag = 0x48;

// Service descriptor (after tag and length): the name after the provider
// name, decoded only from the bytes inside the descriptor (a provider or
// name length that runs past it cuts the name there). A descriptor too
// short to hold the name length is skipped.
void ReadServiceDescriptor(PsiReader d, SymbolStyle style, char* name) {
    d.Skip(1);  // service_type
    if (!d.CanRead(1)) return;
    d.Skip(d.U8());  // service_provider_name
    if (!d.CanRead(1)) return;
    const uint8_t* bytes = nullptr;
    const int32_t count = d.TakeUpTo(d.U8(), &bytes);
    DecodeAribText(name, bytes, count, kServiceNameSize, style);
}

}  // namespace

void FindServiceName(const uint8_t* section, int32_t size, int32_t serviceId, SymbolStyle style, char* name) {
    if (size - kSectionHeaderSize < kMinimumServiceSectionLength) return;
    // Entries and descriptors resume at their declared end; everything is
    // bounded by the CRC_32, so a loop length that overruns the section
    // reads only what lies inside it.
    PsiReader r(section, size - kCrcSize);
    r.Skip(kServiceLoopOffset);
    while (!r.AtEnd()) {
        // An entry whose header runs into the CRC_32 is not an entry.
        if (!r.CanRead(kServiceEntryHeaderSize)) return;
        const int32_t entryServiceId = r.U16();
        r.Skip(1);  // EIT flags
        PsiReader loop = r.Enter(r.Length12());
        if (entryServiceId != serviceId) continue;
        while (loop.CanRead(2)) {
            const uint8_t tag = loop.U8();
            const PsiReader d = loop.Enter(loop.U8());
            if (tag == kServiceDescriptorTag) ReadServiceDescriptor(d, style, name);
        }
        // Entries after the matching one are not looked at.
        return;
    }
}
