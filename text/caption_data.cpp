#include "text/caption_data.h"

#include "ts/crc16.h"
#include "ts/psi_reader.h"

namespace {

const int32_t kDataGroupHeaderSize = 5;
const int32_t kCrc16Size = 2;
const uint8_t kLastGroupIndex = 0x08;

// Display modes that carry a display condition byte.
bool HasDisplayCondition(uint8_t dmf) { return dmf == 0x0C || dmf == 0x0D || dmf == 0x0E; }

// Nine BCD digits and four reserved bits: the digits as read, packed.
uint64_t ReadTime(PsiReader& r) {
    const uint8_t* t = r.Bytes(5);
    if (t == nullptr) return 0;
    return (static_cast<uint64_t>(t[0]) << 28) | (static_cast<uint64_t>(t[1]) << 20) |
           (static_cast<uint64_t>(t[2]) << 12) | (static_cast<uint64_t>(t[3]) << 4) |
           static_cast<uint64_t>(t[4] >> 4);
}

// data_unit_loop_length and the loop, cut to what is there.
bool ReadDataUnitLoop(PsiReader& r, const uint8_t** units, int32_t* size) {
    const int32_t length = static_cast<int32_t>(r.U24());
    if (r.Error()) return false;
    *size = r.TakeUpTo(length, units);
    return *size == length;
}

}  // namespace

DataGroupStatus ParseDataGroup(const uint8_t* bytes, int32_t size, DataGroup* out) {
    *out = DataGroup{0, 0, 0, 0, CaptionGroup::kNone, 0, nullptr, 0};
    PsiReader r(bytes, size);
    if (!r.CanRead(kDataGroupHeaderSize + kCrc16Size)) return DataGroupStatus::kTooShort;
    const uint8_t idVersion = r.U8();
    DataGroup g = {};
    g.dataGroupId = static_cast<uint8_t>(idVersion >> 2);
    g.version = static_cast<uint8_t>(idVersion & 0x03);
    g.linkNumber = r.U8();
    g.lastLinkNumber = r.U8();
    g.size = r.U16();
    g.data = r.Bytes(g.size);
    if (g.data == nullptr || !r.CanRead(kCrc16Size)) return DataGroupStatus::kLengthPastEnd;
    if (Crc16Ccitt(bytes, kDataGroupHeaderSize + g.size + kCrc16Size) != 0) return DataGroupStatus::kBadCrc;
    const uint8_t index = static_cast<uint8_t>(g.dataGroupId & ~kDataGroupB);
    if (index <= kLastGroupIndex) {
        g.group = (g.dataGroupId & kDataGroupB) != 0 ? CaptionGroup::kB : CaptionGroup::kA;
        g.language = index;
    }
    *out = g;
    return DataGroupStatus::kOk;
}

bool ParseCaptionManagement(const uint8_t* data, int32_t size, CaptionManagement* out) {
    *out = CaptionManagement{};
    PsiReader r(data, size);
    CaptionManagement m = {};
    m.timeControlMode = static_cast<uint8_t>(r.U8() >> 6);
    if (m.timeControlMode == 2) m.offsetTime = ReadTime(r);
    const int32_t languages = r.U8();
    for (int32_t i = 0; i < languages && !r.Error(); ++i) {
        const uint8_t tagMode = r.U8();
        CaptionLanguage l = {};
        l.languageTag = static_cast<uint8_t>(tagMode >> 5);
        l.displayMode = static_cast<uint8_t>(tagMode & 0x0F);
        if (HasDisplayCondition(l.displayMode)) l.displayCondition = r.U8();
        const uint8_t* code = r.Bytes(3);
        if (code != nullptr) {
            for (int k = 0; k < 3; ++k) l.iso639[k] = static_cast<char>(code[k]);
        }
        const uint8_t format = r.U8();
        l.format = static_cast<uint8_t>(format >> 4);
        l.characterCoding = static_cast<uint8_t>((format >> 2) & 0x03);
        l.rollupMode = static_cast<uint8_t>(format & 0x03);
        if (m.languageCount < kCaptionMaxLanguages) m.languages[m.languageCount++] = l;
    }
    if (r.Error()) return false;
    if (!ReadDataUnitLoop(r, &m.dataUnits, &m.dataUnitsSize)) return false;
    *out = m;
    return true;
}

bool ParseCaptionStatement(const uint8_t* data, int32_t size, CaptionStatement* out) {
    *out = CaptionStatement{};
    PsiReader r(data, size);
    CaptionStatement s = {};
    s.timeControlMode = static_cast<uint8_t>(r.U8() >> 6);
    if (s.timeControlMode == 1 || s.timeControlMode == 2) s.presentationTime = ReadTime(r);
    if (r.Error()) return false;
    if (!ReadDataUnitLoop(r, &s.dataUnits, &s.dataUnitsSize)) return false;
    *out = s;
    return true;
}

bool NextDataUnit(const uint8_t* loop, int32_t loopSize, int32_t* offset, DataUnit* out) {
    *out = DataUnit{0, nullptr, 0, false};
    if (*offset < 0 || *offset >= loopSize) return false;
    PsiReader r(loop + *offset, loopSize - *offset);
    const uint8_t separator = r.U8();
    const uint8_t parameter = r.U8();
    const int32_t size = static_cast<int32_t>(r.U24());
    if (r.Error() || separator != kDataUnitSeparator) {
        *offset = loopSize;
        return false;
    }
    const uint8_t* bytes = nullptr;
    const int32_t n = r.TakeUpTo(size, &bytes);
    *out = DataUnit{parameter, bytes, n, n != size};
    *offset += r.Position();
    return true;
}
