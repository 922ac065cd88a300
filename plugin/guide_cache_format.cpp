#include "plugin/guide_cache_format.h"

#include <cstring>

#include "text/eit_event.h"
#include "ts/calendar.h"
#include "ts/crc32.h"
#include "ts/psi_reader.h"

namespace {

// EIT header: table_id through last_table_id.
const int32_t kEitHeaderSize = 14;
const int32_t kCrcSize = 4;
const uint8_t kWatchedFlag = 0x01;

}  // namespace

int32_t EncodeGuideCacheService(const GuideCacheService& service, uint8_t* out) {
    int32_t nameLength = 0;
    while (nameLength < kGuideCacheNameSize - 1 && service.name[nameLength] != '\0') ++nameLength;
    const int32_t payload = kGuideCacheServiceFixedSize + nameLength;
    out[0] = kGuideCacheServiceRecord;
    PutGuideCache16(out + 1, static_cast<uint32_t>(payload));
    uint8_t* p = out + kGuideCacheRecordHeaderSize;
    PutGuideCache16(p, service.networkId);
    PutGuideCache16(p + 2, service.transportStreamId);
    PutGuideCache16(p + 4, service.serviceId);
    PutGuideCache32(p + 6, static_cast<uint32_t>(service.channel));
    const uint64_t watched = static_cast<uint64_t>(service.lastWatched);
    PutGuideCache32(p + 10, static_cast<uint32_t>(watched >> 32));
    PutGuideCache32(p + 14, static_cast<uint32_t>(watched));
    PutGuideCache32(p + 18, service.revision);
    PutGuideCache32(p + 22, static_cast<uint32_t>(service.listCount < 0 ? 0 : service.listCount));
    p[26] = service.watched ? kWatchedFlag : 0;
    p[27] = static_cast<uint8_t>(nameLength);
    std::memcpy(p + kGuideCacheServiceFixedSize, service.name, static_cast<size_t>(nameLength));
    return kGuideCacheRecordHeaderSize + payload;
}

bool DecodeGuideCacheService(const uint8_t* payload, int32_t length, GuideCacheService* out) {
    PsiReader r(payload, length);
    GuideCacheService s;
    std::memset(&s, 0, sizeof s);
    s.networkId = r.U16();
    s.transportStreamId = r.U16();
    s.serviceId = r.U16();
    s.channel = static_cast<int32_t>(r.U32());
    const uint64_t high = r.U32();
    const uint64_t low = r.U32();
    s.lastWatched = static_cast<int64_t>((high << 32) | low);
    s.revision = r.U32();
    const uint32_t listCount = r.U32();
    const uint8_t flags = r.U8();
    const int32_t nameLength = r.U8();
    if (r.Error() || listCount > 0x7FFFFFFFu || (flags & ~kWatchedFlag) != 0 ||
        nameLength > kGuideCacheNameSize - 1 || r.Remaining() != nameLength) {
        return false;
    }
    const uint8_t* name = r.Bytes(nameLength);
    if (name == nullptr || (nameLength > 0 && std::memchr(name, 0, static_cast<size_t>(nameLength)) != nullptr)) {
        return false;
    }
    s.listCount = static_cast<int32_t>(listCount);
    s.watched = (flags & kWatchedFlag) != 0;
    std::memcpy(s.name, name, static_cast<size_t>(nameLength));
    s.name[nameLength] = '\0';
    *out = s;
    return true;
}

bool IsGuideCacheSection(const uint8_t* section, int32_t length) {
    if (length < kGuideCacheMinSection || length > kGuideCacheMaxSection) return false;
    PsiReader r(section, length);
    const uint8_t tableId = r.U8();
    const int32_t sectionLength = r.Length12();
    return tableId >= 0x4E && tableId <= 0x6F && sectionLength + 3 == length;
}

bool GuideSectionHasEnded(const uint8_t* section, int32_t length, int64_t now) {
    // The event loop runs from the end of the header to the CRC_32: one that
    // does not parse whole, or an event whose start cannot be timed, leaves
    // the decision to the store.
    PsiReader r(section, length - kCrcSize);
    r.Skip(kEitHeaderSize);
    if (r.Error()) return false;
    while (!r.AtEnd()) {
        r.Skip(2);  // event_id
        const int32_t mjd = r.U16();
        const uint8_t hour = r.U8(), minute = r.U8(), second = r.U8();
        r.Skip(3);  // duration
        r.Skip(r.Length12());  // running_status, free_CA_mode, descriptors
        if (r.Error()) return false;
        if (mjd == 0xFFFF || !IsBcd(hour) || !IsBcd(minute) || !IsBcd(second)) return false;
    }
    // Timed as the guide times its programmes: one of undetermined duration
    // runs until the next one, at most kUndeterminedRunSeconds.
    return EitSectionEnded(section, length, now);
}

void BeginGuideCacheScan(GuideCacheScanner& s, bool checksum) {
    s.crc = kCrc32Mpeg2Preset;
    s.consumed = 0;
    s.headerSeen = false;
    s.endSeen = false;
    s.serviceSeen = false;
    s.checksum = checksum;
    s.fault = GuideCacheFault::kNone;
}

namespace {

GuideCacheScan Fault(GuideCacheScanner& s, GuideCacheFault fault) {
    s.fault = fault;
    return GuideCacheScan::kFault;
}

void Accept(GuideCacheScanner& s, const uint8_t* data, int32_t size) {
    if (s.checksum) s.crc = Crc32Mpeg2Update(s.crc, data, static_cast<size_t>(size));
    s.consumed += size;
}

}  // namespace

GuideCacheScan ScanGuideCacheRecord(GuideCacheScanner& s, const uint8_t* data, int32_t size,
                                    int32_t* used, GuideCacheRecord* record) {
    *used = 0;
    if (s.fault != GuideCacheFault::kNone) return GuideCacheScan::kFault;
    if (size < 0) size = 0;
    PsiReader r(data, size);

    if (!s.headerSeen) {
        // A file that does not start with our magic is said so as soon as
        // its first bytes are in, whatever its length.
        const int32_t magicBytes = size < 8 ? size : 8;
        if (std::memcmp(data, kGuideCacheMagic, static_cast<size_t>(magicBytes)) != 0) {
            return Fault(s, GuideCacheFault::kNotOurs);
        }
        if (size < kGuideCacheHeaderSize) return GuideCacheScan::kNeedMore;
        r.Skip(8);
        if (r.U32() != kGuideCacheVersion) return Fault(s, GuideCacheFault::kOtherVersion);
        Accept(s, data, kGuideCacheHeaderSize);
        s.headerSeen = true;
        *used = kGuideCacheHeaderSize;
    }

    if (s.endSeen) {
        if (r.Remaining() > 0) return Fault(s, GuideCacheFault::kCorrupt);
        return GuideCacheScan::kNeedMore;
    }
    if (!r.CanRead(kGuideCacheRecordHeaderSize)) return GuideCacheScan::kNeedMore;
    const uint8_t* head = r.Current();
    const uint8_t type = r.U8();
    const int32_t length = r.U16();
    switch (type) {
    case kGuideCacheServiceRecord:
        if (length < kGuideCacheServiceFixedSize ||
            length > kGuideCacheServiceFixedSize + kGuideCacheNameSize - 1) {
            return Fault(s, GuideCacheFault::kCorrupt);
        }
        break;
    case kGuideCacheSectionRecord:
        if (!s.serviceSeen || length < kGuideCacheMinSection || length > kGuideCacheMaxSection) {
            return Fault(s, GuideCacheFault::kCorrupt);
        }
        break;
    case kGuideCacheEndRecord:
        if (length != 4) return Fault(s, GuideCacheFault::kCorrupt);
        break;
    default:
        return Fault(s, GuideCacheFault::kCorrupt);
    }
    if (!r.CanRead(length)) return GuideCacheScan::kNeedMore;
    const uint8_t* payload = r.Bytes(length);

    if (type == kGuideCacheEndRecord) {
        Accept(s, head, kGuideCacheRecordHeaderSize);
        PsiReader sum(payload, length);
        if (s.checksum && sum.U32() != s.crc) return Fault(s, GuideCacheFault::kCorrupt);
        s.consumed += length;
        s.endSeen = true;
        *used += kGuideCacheRecordHeaderSize + length;
        return GuideCacheScan::kDone;
    }
    if (type == kGuideCacheServiceRecord) {
        GuideCacheService service;
        if (!DecodeGuideCacheService(payload, length, &service)) {
            return Fault(s, GuideCacheFault::kCorrupt);
        }
        s.serviceSeen = true;
    } else if (!IsGuideCacheSection(payload, length)) {
        return Fault(s, GuideCacheFault::kCorrupt);
    }
    Accept(s, head, kGuideCacheRecordHeaderSize + length);
    *used += kGuideCacheRecordHeaderSize + length;
    record->type = type;
    record->payload = payload;
    record->length = length;
    return GuideCacheScan::kRecord;
}

GuideCacheFault FinishGuideCacheScan(GuideCacheScanner& s, int32_t leftSize) {
    if (s.fault != GuideCacheFault::kNone) return s.fault;
    if (s.endSeen && leftSize == 0) return GuideCacheFault::kNone;
    if (s.endSeen) {
        s.fault = GuideCacheFault::kCorrupt;
    } else if (!s.headerSeen && leftSize == 0) {
        s.fault = GuideCacheFault::kEmpty;
    } else {
        // The magic's first bytes matched (the scan would have said
        // otherwise), or records began: the file was cut short.
        s.fault = GuideCacheFault::kTruncated;
    }
    return s.fault;
}
