#include "ts/caption_stream.h"

#include "ts/psi_reader.h"
#include "ts/section.h"

namespace {

// PMT: program_number, version, section numbers, then PCR_PID at byte 8 and
// program_info_length at byte 10; the loop of streams starts at byte 12.
// PAT: the loop of 4-byte programmes starts at byte 8.
const int32_t kLongHeaderSize = 8;
const int32_t kPmtFixedSize = 12;
const int32_t kPatEntrySize = 4;

// The component tag of the first stream identifier descriptor in ES_info, or
// -1 when there is none.
int32_t ComponentTagOf(PsiReader esInfo) {
    while (esInfo.CanRead(2)) {
        const uint8_t tag = esInfo.U8();
        const uint8_t length = esInfo.U8();
        PsiReader body = esInfo.Enter(length);
        if (tag == kStreamIdentifierDescriptorTag && body.CanRead(1)) return body.U8();
    }
    return -1;
}

}  // namespace

int32_t FindCaptionPid(const uint8_t* section, int32_t size, uint8_t componentTag) {
    if (section == nullptr || size < kPmtFixedSize + kCrcSize || section[0] != kPmtTableId) return kNoPid;
    PsiReader r(section, size - kCrcSize);
    r.Skip(kLongHeaderSize + 2);  // up to program_info_length, past PCR_PID
    r.Skip(r.Length12());         // program_info
    while (r.CanRead(5)) {
        const uint8_t streamType = r.U8();
        const uint16_t pid = r.Pid();
        PsiReader esInfo = r.Enter(r.Length12());
        if (streamType == kCaptionStreamType && ComponentTagOf(esInfo) == componentTag) return pid;
    }
    return kNoPid;
}

int32_t FindProgramMapPid(const uint8_t* section, int32_t size, uint16_t programNumber) {
    if (section == nullptr || size < kLongHeaderSize + kCrcSize || section[0] != kPatTableId) return kNoPid;
    if (programNumber == 0) return kNoPid;
    PsiReader r(section, size - kCrcSize);
    r.Skip(kLongHeaderSize);
    while (r.CanRead(kPatEntrySize)) {
        const uint16_t number = r.U16();
        const uint16_t pid = r.Pid();
        if (number == programNumber) return pid;
    }
    return kNoPid;
}
