#include "text/eit_event.h"

#include <cstring>

#include "ts/calendar.h"
#include "ts/psi_reader.h"
#include "ts/section.h"

namespace {

const uint8_t kShortEventTag = 0x4D;
const uint8_t kComponentTag = 0x50;
const uint8_t kContentTag = 0x54;
const uint8_t kAudioComponentTag = 0xC4;
const uint8_t kSeriesTag = 0xD5;
const uint8_t kEventGroupTag = 0xD6;

const int32_t kLanguageCodeSize = 3;

// An ISO 639 code of up to three bytes, as far as the descriptor holds it;
// bytes outside printable ASCII become '?'.
void ReadLanguage(PsiReader& d, char (&language)[4]) {
    int32_t n = 0;
    for (int32_t i = 0; i < kLanguageCodeSize && d.CanRead(1); ++i) {
        const uint8_t c = d.U8();
        language[n++] = (c >= 0x20 && c <= 0x7E) ? static_cast<char>(c) : '?';
    }
    language[n] = '\0';
}

void CopyRaw(uint8_t* destination, int32_t capacity, int32_t& size, const uint8_t* bytes, int32_t n) {
    size = n < capacity ? n : capacity;
    if (size > 0) std::memcpy(destination, bytes, static_cast<size_t>(size));
}

void ReadShortEvent(PsiReader d, EitEventRecord& r) {
    if (r.hasShortEvent) return;  // the first one counts
    r.hasShortEvent = true;
    d.Skip(kLanguageCodeSize);
    const uint8_t* bytes = nullptr;
    const int32_t nameCount = d.TakeUpTo(d.U8(), &bytes);
    CopyRaw(r.name, kEitNameRawSize, r.nameSize, bytes, nameCount);
    if (!d.CanRead(1)) return;
    const int32_t textCount = d.TakeUpTo(d.U8(), &bytes);
    CopyRaw(r.text, kEitTextRawSize, r.textSize, bytes, textCount);
}

void ReadComponent(PsiReader d, EitEventRecord& r) {
    if (!d.CanRead(3) || r.videoCount >= kMaxEventVideos) return;
    EitVideo& v = r.videos[r.videoCount++];
    v.streamContent = d.U8() & 0x0F;
    v.componentType = d.U8();
    v.componentTag = d.U8();
    ReadLanguage(d, v.language);
}

void ReadAudioComponent(PsiReader d, EitEventRecord& r) {
    if (!d.CanRead(6) || r.audioCount >= kMaxEventAudios) return;
    EitAudio& a = r.audios[r.audioCount++];
    a.streamContent = d.U8() & 0x0F;
    a.componentType = d.U8();
    a.componentTag = d.U8();
    a.streamType = d.U8();
    a.simulcastGroupTag = d.U8();
    const uint8_t flags = d.U8();
    a.multiLingual = (flags & 0x80) != 0;
    a.mainComponent = (flags & 0x40) != 0;
    a.quality = (flags >> 4) & 0x03;
    a.samplingRate = (flags >> 1) & 0x07;
    ReadLanguage(d, a.language);
    if (a.multiLingual) ReadLanguage(d, a.language2);
}

void ReadContent(PsiReader d, EitEventRecord& r) {
    while (d.CanRead(2) && r.genreCount < kMaxEventGenres) {
        const uint8_t nibbles = d.U8();
        const uint8_t user = d.U8();
        r.genres[r.genreCount++] = {static_cast<uint8_t>(nibbles >> 4), static_cast<uint8_t>(nibbles & 0x0F),
                                    static_cast<uint8_t>(user >> 4), static_cast<uint8_t>(user & 0x0F)};
    }
}

void ReadSeries(PsiReader d, EitEventRecord& r) {
    if (r.hasSeries || !d.CanRead(8)) return;
    r.hasSeries = true;
    EitSeries& s = r.series;
    s.seriesId = d.U16();
    const uint8_t flags = d.U8();
    s.repeatLabel = flags >> 4;
    s.programPattern = (flags >> 1) & 0x07;
    s.expireDateValid = (flags & 0x01) != 0;
    s.expireDate = d.U16();
    const uint32_t episodes = d.U24();
    s.episodeNumber = static_cast<uint16_t>(episodes >> 12);
    s.lastEpisodeNumber = static_cast<uint16_t>(episodes & 0x0FFF);
    const uint8_t* name = nullptr;
    const int32_t n = d.TakeUpTo(d.Remaining(), &name);
    CopyRaw(s.name, kEitSeriesNameRawSize, s.nameSize, name, n);
}

void ReadEventGroup(PsiReader d, EitEventRecord& r) {
    if (!d.CanRead(1)) return;
    const uint8_t head = d.U8();
    const uint8_t groupType = head >> 4;
    const int32_t count = head & 0x0F;
    for (int32_t i = 0; i < count && d.CanRead(4); ++i) {
        const uint16_t serviceId = d.U16();
        const uint16_t eventId = d.U16();
        if (r.relatedCount < kMaxRelatedEvents) {
            r.related[r.relatedCount++] = {groupType, false, 0, 0, serviceId, eventId};
        }
    }
    if (groupType != kEventGroupRelayOtherNetwork && groupType != kEventGroupMovementOtherNetwork) return;
    while (d.CanRead(8)) {
        EitRelatedEvent e = {groupType, true, 0, 0, 0, 0};
        e.originalNetworkId = d.U16();
        e.transportStreamId = d.U16();
        e.serviceId = d.U16();
        e.eventId = d.U16();
        if (r.relatedCount < kMaxRelatedEvents) r.related[r.relatedCount++] = e;
    }
}

}  // namespace

bool IsEitPresentFollowing(uint8_t tableId) { return tableId == kEitFirstTableId || tableId == kEitPfOtherTableId; }

bool IsEitExtendedSchedule(uint8_t tableId) {
    return (tableId >= 0x58 && tableId <= 0x5F) || (tableId >= 0x68 && tableId <= kEitLastTableId);
}

bool ReadEitSectionHeader(const uint8_t* section, int32_t size, EitSectionHeader& header) {
    if (section == nullptr || size < kEitSectionHeaderSize + kCrcSize) return false;
    if (section[0] < kEitFirstTableId || section[0] > kEitLastTableId) return false;
    if (SectionLength(section) + kSectionHeaderSize > size ||
        SectionLength(section) + kSectionHeaderSize < kEitSectionHeaderSize + kCrcSize) {
        return false;
    }
    PsiReader r(section, kEitSectionHeaderSize);
    header.tableId = r.U8();
    r.Skip(2);
    header.serviceId = r.U16();
    const uint8_t versionByte = r.U8();
    header.version = (versionByte >> 1) & 0x1F;
    header.currentNext = (versionByte & 0x01) != 0;
    header.sectionNumber = r.U8();
    header.lastSectionNumber = r.U8();
    header.transportStreamId = r.U16();
    header.originalNetworkId = r.U16();
    header.segmentLastSectionNumber = r.U8();
    header.lastTableId = r.U8();
    return !r.Error();
}

EitEventCursor::EitEventCursor(const uint8_t* section, int32_t size)
    : section_(section), end_(0), position_(kEitSectionHeaderSize) {
    if (section != nullptr && size >= kEitSectionHeaderSize + kCrcSize) {
        const int32_t declared = SectionLength(section) + kSectionHeaderSize;
        end_ = (declared < size ? declared : size) - kCrcSize;
    }
}

bool EitEventCursor::Next(EitEventEntry& entry) {
    if (position_ >= end_) return false;
    if (!ReadEitEventAt(section_, end_ + kCrcSize, position_, entry)) {
        position_ = end_;
        return false;
    }
    position_ = entry.offset + kEitEventHeaderSize + entry.descriptorsLength;
    return true;
}

bool ReadEitEventAt(const uint8_t* section, int32_t size, int32_t offset, EitEventEntry& entry) {
    if (section == nullptr || size < kEitSectionHeaderSize + kCrcSize || offset < kEitSectionHeaderSize) return false;
    const int32_t declared = SectionLength(section) + kSectionHeaderSize;
    const int32_t end = (declared < size ? declared : size) - kCrcSize;
    PsiReader all(section, end);
    all.Skip(offset);
    PsiReader r = all.Enter(all.Remaining());
    if (!r.CanRead(kEitEventHeaderSize)) return false;
    entry.offset = offset;
    entry.eventId = r.U16();
    for (uint8_t& b : entry.startTime) b = r.U8();
    for (uint8_t& b : entry.duration) b = r.U8();
    const uint16_t flags = r.U16();
    entry.runningStatus = static_cast<uint8_t>(flags >> 13);
    entry.freeCaMode = (flags & 0x1000) != 0;
    const int32_t loopLength = flags & 0x0FFF;
    const PsiReader loop = r.Enter(loopLength);
    entry.descriptors = loop.Current();
    entry.descriptorsLength = loop.Size();
    return true;
}

bool DecodeEitStart(const uint8_t startTime[5], int64_t& japanSeconds) {
    japanSeconds = 0;
    bool allOnes = true;
    for (int32_t i = 0; i < 5; ++i) allOnes = allOnes && startTime[i] == 0xFF;
    if (allOnes) return false;
    if (!IsBcd(startTime[2]) || !IsBcd(startTime[3]) || !IsBcd(startTime[4])) return false;
    const int32_t h = FromBcd(startTime[2]);
    const int32_t m = FromBcd(startTime[3]);
    const int32_t s = FromBcd(startTime[4]);
    if (h > 23 || m > 59 || s > 59) return false;
    const int32_t mjd = (startTime[0] << 8) | startTime[1];
    japanSeconds = JapanSecondsOf(mjd, h * 3600 + m * 60 + s);
    return true;
}

bool DecodeEitDuration(const uint8_t duration[3], int32_t& seconds) {
    seconds = 0;
    if (duration[0] == 0xFF && duration[1] == 0xFF && duration[2] == 0xFF) return false;
    if (!IsBcd(duration[0]) || !IsBcd(duration[1]) || !IsBcd(duration[2])) return false;
    const int32_t m = FromBcd(duration[1]);
    const int32_t s = FromBcd(duration[2]);
    if (m > 59 || s > 59) return false;
    seconds = FromBcd(duration[0]) * 3600 + m * 60 + s;
    return true;
}

int64_t EitProgrammeEnd(int64_t start, bool durationDetermined, int32_t duration, bool hasNext, int64_t nextStart) {
    if (durationDetermined) return start + duration;
    const int64_t cap = start + kUndeterminedRunSeconds;
    return hasNext && nextStart > start && nextStart < cap ? nextStart : cap;
}

bool EitSectionEnded(const uint8_t* section, int32_t size, int64_t now) {
    EitSectionHeader header;
    if (!ReadEitSectionHeader(section, size, header)) return false;
    int32_t events = 0;
    EitEventCursor cursor(section, size);
    EitEventEntry e;
    while (cursor.Next(e)) {
        int64_t start = 0;
        int32_t duration = 0;
        if (!DecodeEitStart(e.startTime, start)) return false;
        const bool durationDetermined = DecodeEitDuration(e.duration, duration);
        // The next programme: the earliest later start in the section (its
        // events are few, and need not come in start order).
        bool hasNext = false;
        int64_t nextStart = 0;
        if (!durationDetermined) {
            EitEventCursor others(section, size);
            EitEventEntry o;
            while (others.Next(o)) {
                int64_t otherStart = 0;
                if (!DecodeEitStart(o.startTime, otherStart) || otherStart <= start) continue;
                if (!hasNext || otherStart < nextStart) nextStart = otherStart;
                hasNext = true;
            }
        }
        if (EitProgrammeEnd(start, durationDetermined, duration, hasNext, nextStart) > now) return false;
        ++events;
    }
    return events > 0;
}

void ReadEitEvent(const EitSectionHeader& header, const EitEventEntry& entry, EitEventRecord& record) {
    std::memset(&record, 0, sizeof record);
    record.tableId = header.tableId;
    record.version = header.version;
    record.sectionNumber = header.sectionNumber;
    record.originalNetworkId = header.originalNetworkId;
    record.transportStreamId = header.transportStreamId;
    record.serviceId = header.serviceId;
    record.eventId = entry.eventId;
    std::memcpy(record.startTime, entry.startTime, sizeof record.startTime);
    std::memcpy(record.durationRaw, entry.duration, sizeof record.durationRaw);
    record.startDetermined = DecodeEitStart(entry.startTime, record.start);
    record.durationDetermined = DecodeEitDuration(entry.duration, record.duration);
    record.runningStatus = entry.runningStatus;
    record.freeCaMode = entry.freeCaMode;

    PsiReader loop(entry.descriptors, entry.descriptorsLength);
    while (loop.CanRead(2)) {
        const uint8_t tag = loop.U8();
        const PsiReader d = loop.Enter(loop.U8());
        switch (tag) {
            case kShortEventTag: ReadShortEvent(d, record); break;
            case kComponentTag: ReadComponent(d, record); break;
            case kContentTag: ReadContent(d, record); break;
            case kAudioComponentTag: ReadAudioComponent(d, record); break;
            case kSeriesTag: ReadSeries(d, record); break;
            case kEventGroupTag: ReadEventGroup(d, record); break;
            default: break;
        }
    }
    JoinExtendedEvent(entry.descriptors, entry.descriptorsLength, record.extended);
}

void AddEitExtendedEvent(const uint8_t* loop, int32_t length, EitEventRecord& record) {
    // Joined into the record only when the loop holds any: the 20 KiB join
    // writes straight into it, so a loop without one must not clear it.
    PsiReader probe(loop, length);
    bool any = false;
    while (probe.CanRead(2) && !any) {
        any = probe.U8() == 0x4E;
        probe.Enter(probe.U8());
    }
    if (any) JoinExtendedEvent(loop, length, record.extended);
}

void EitEventDetails(const EitEventRecord& record, SymbolStyle style, EventDetails& details) {
    std::memset(&details, 0, sizeof details);
    for (int32_t i = 0; i < record.genreCount && i < kMaxEventGenres; ++i) {
        const EitGenre& g = record.genres[i];
        AddGenreLine(details, static_cast<uint8_t>((g.level1 << 4) | g.level2));
    }
    if (record.hasSeries) {
        const EitSeries& s = record.series;
        SetSeriesLine(details, s.episodeNumber, s.lastEpisodeNumber, s.name, s.nameSize, style);
    }
    for (int32_t i = 0; i < record.relatedCount && i < kMaxRelatedEvents; ++i) {
        const EitRelatedEvent& e = record.related[i];
        if ((e.groupType == kEventGroupRelay && !e.otherNetwork) ||
            (e.groupType == kEventGroupRelayOtherNetwork && e.otherNetwork)) {
            SetRelayLine(details, e.otherNetwork, e.originalNetworkId, e.serviceId, e.eventId);
        }
    }
    DecodeExtendedEvent(record.extended, style, details);
}
