// SDT: the name of the current service, shown in the viewer's caption with
// the view (present or following) that is on screen.
#include "text/service_name.h"

#include <cstdio>
#include <cstring>
#include <mutex>

#include "plugin/plugin_state.h"
#include "text/arib_decoder.h"
#include "text/section_copy.h"
#include "ui/resource.h"

namespace {

// SDT section offsets (from table_id).
const int32_t kServiceLoopOffset = 11;
// A section shorter than this has no room for a service entry.
const int32_t kMinimumServiceSectionLength = 13;
// Service loop entry: service_id, flags, descriptors_loop_length.
const int32_t kServiceEntryHeaderSize = 5;
const uint8_t kServiceDescriptorTag = 0x48;

// The caption: "番組情報（次番組）- " is 20 bytes and "番組情報（現在）- " 18,
// so any name of up to 31 bytes fits.
const int32_t kCaptionSize = 64;

// Service descriptor: the name after the provider name, decoded only from the
// bytes inside the descriptor (a provider or name length that runs past it
// cuts the name there). A descriptor too short to hold the name length is
// skipped.
void ReadServiceDescriptor(const uint8_t* d, int32_t at, int32_t end, char* name) {
    const int32_t providerLengthAt = at + 3;
    if (providerLengthAt >= end) return;
    const int32_t nameLengthAt = providerLengthAt + 1 + d[providerLengthAt];
    if (nameLengthAt >= end) return;
    const int32_t nameLength = d[nameLengthAt];
    const int32_t nameAt = nameLengthAt + 1;
    const int32_t nameCount = nameLength < end - nameAt ? nameLength : end - nameAt;
    DecodeAribText(name, d + nameAt, nameCount, kServiceNameSize);
}

// Searches the service loop for `serviceId` and decodes the name of the last
// service descriptor of its entry into `name` (left empty when the service is
// not listed or has no service descriptor). Entries and descriptors resume at
// their declared end; everything is bounded by the CRC_32, so a loop length
// that overruns the section reads only what lies inside it.
void FindServiceName(const SectionCopy& s, int32_t serviceId, char* name) {
    if (s.sectionLength < kMinimumServiceSectionLength) return;
    const uint8_t* d = s.data;
    const int32_t dataEnd = SectionDataEnd(s);
    int32_t entry = kServiceLoopOffset;
    while (entry < dataEnd) {
        // An entry whose header runs into the CRC_32 is not an entry.
        if (entry + kServiceEntryHeaderSize > dataEnd) return;
        const int32_t entryServiceId = (d[entry] << 8) | d[entry + 1];
        const int32_t loopLength = ((d[entry + 3] & 0x0F) << 8) | d[entry + 4];
        const int32_t descriptorsAt = entry + kServiceEntryHeaderSize;
        if (entryServiceId != serviceId) {
            entry = descriptorsAt + loopLength;
            continue;
        }
        int32_t loopEnd = descriptorsAt + loopLength;
        if (loopEnd > dataEnd) loopEnd = dataEnd;
        int32_t at = descriptorsAt;
        while (at + 2 <= loopEnd) {
            int32_t end = at + 2 + d[at + 1];
            if (end > loopEnd) end = loopEnd;
            if (d[at] == kServiceDescriptorTag) ReadServiceDescriptor(d, at, end, name);
            at += 2 + d[at + 1];
        }
        // Entries after the matching one are not looked at.
        return;
    }
}

}  // namespace

void HandleServiceName(PluginState& state) {
    SectionCopy section;
    uint32_t lastKey = 0;
    int32_t serviceId = 0;
    bool haveSection = false;
    {
        std::lock_guard<std::mutex> guard(state.lock);
        haveSection = CopySectionFromMailbox(state.sdtMailbox, section);
        lastKey = state.lastSdtKey;
        serviceId = state.currentService;
    }
    // A mailbox without a whole section is ignored, like a repeated one.
    if (!haveSection) return;
    const uint32_t key = SectionChangeKey(section);
    if (key == lastKey) return;

    char name[kServiceNameSize];
    std::memset(name, 0, sizeof name);
    FindServiceName(section, serviceId, name);
    {
        std::lock_guard<std::mutex> guard(state.lock);
        std::memcpy(state.serviceName, name, sizeof name);
        state.lastSdtKey = key;
    }
    UpdateCaption(state);
}

void UpdateCaption(PluginState& state) {
    char caption[kCaptionSize];
    const char* label = nullptr;
    {
        std::lock_guard<std::mutex> guard(state.lock);
        // The stored name is NUL-terminated within its 32 bytes; %.31s keeps
        // the print inside it whatever the field holds.
        if (state.viewSelector == 1) {
            std::snprintf(caption, sizeof caption,
                          "\x94\xD4\x91\x67\x8F\xEE\x95\xF1\x81\x69\x8E\x9F\x94\xD4\x91\x67\x81\x6A- %.31s",
                          state.serviceName);
            label = "\x8E\x9F";
            // Collect the following section from its next start and show it
            // even if it is unchanged since the last time.
            state.followingAssembler.inProgress = 0;
            state.lastFollowingKey = 0;
        } else {
            std::snprintf(caption, sizeof caption,
                          "\x94\xD4\x91\x67\x8F\xEE\x95\xF1\x81\x69\x8C\xBB\x8D\xDD\x81\x6A- %.31s",
                          state.serviceName);
            label = "\x8C\xBB";
        }
    }
    state.platform->SetControlText(IDC_PRESENT_FOLLOWING, label);
    state.platform->SetWindowTitle(caption);
}
