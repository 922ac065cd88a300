#include "plugin/guide_cache.h"

#include <cstdio>
#include <cstring>

#include "ts/crc32.h"

namespace {

const char kFileName[] = "Kestrin.epg";
const char kFolderName[] = "Kestrin\\";
const char kTemporarySuffix[] = ".tmp";

// `a` then `b` into out; false (out empty) when they do not fit.
bool Join(char* out, const char* a, const char* b) {
    const int written = std::snprintf(out, kGuideCachePathSize, "%s%s", a, b);
    if (written < 0 || written >= kGuideCachePathSize) {
        out[0] = '\0';
        return false;
    }
    return true;
}

// --- Save ------------------------------------------------------------------

// Records gathered in the buffer and written a whole buffer at a time; the
// checksum runs over every byte before the end record's value.
struct Writer {
    Platform* platform;
    FileHandle file;
    uint8_t* bytes;
    int32_t filled;
    int32_t summed;  // bytes of the buffer already in the checksum
    uint32_t crc;
    int64_t written;
    bool ok;
};

void Flush(Writer& w) {
    w.crc = Crc32Mpeg2Update(w.crc, w.bytes + w.summed, static_cast<size_t>(w.filled - w.summed));
    if (w.ok && w.filled > 0) {
        w.ok = w.platform->WriteFile(w.file, w.bytes, static_cast<uint32_t>(w.filled));
        if (w.ok) w.written += w.filled;
    }
    w.filled = 0;
    w.summed = 0;
}

// Room for `size` more bytes, writing out what is gathered when needed.
uint8_t* Reserve(Writer& w, int32_t size) {
    if (w.filled + size > kGuideCacheChunk) Flush(w);
    uint8_t* p = w.bytes + w.filled;
    w.filled += size;
    return p;
}

// Writes the whole file at `target` through a temporary file beside it.
// kNowhereToSave when the temporary file cannot be created there.
GuideCacheStatus WriteWhole(Platform& platform, const char* target, GuideCacheSource& source,
                            GuideCacheBuffer& buffer, GuideCacheSaveResult& result) {
    char temporary[kGuideCachePathSize];
    if (!Join(temporary, target, kTemporarySuffix)) return GuideCacheStatus::kNowhereToSave;
    const FileHandle file = platform.CreateReplacementFile(temporary);
    if (file == kInvalidFileHandle) return GuideCacheStatus::kNowhereToSave;

    Writer w = {&platform, file, buffer.bytes, 0, 0, kCrc32Mpeg2Preset, 0, true};
    uint8_t* header = Reserve(w, kGuideCacheHeaderSize);
    std::memcpy(header, kGuideCacheMagic, sizeof kGuideCacheMagic);
    PutGuideCache32(header + 8, kGuideCacheVersion);

    int32_t services = 0, sections = 0;
    const int32_t serviceCount = source.ServiceCount();
    for (int32_t i = 0; i < serviceCount && w.ok; ++i) {
        GuideCacheService service;
        std::memset(&service, 0, sizeof service);
        source.ServiceAt(i, &service);
        uint8_t* record = Reserve(w, kGuideCacheMaxRecord);
        // Only what the record took stays reserved.
        w.filled -= kGuideCacheMaxRecord - EncodeGuideCacheService(service, record);
        ++services;
        const int32_t sectionCount = source.SectionCount(i);
        for (int32_t j = 0; j < sectionCount && w.ok; ++j) {
            int32_t length = 0;
            const uint8_t* section = source.SectionAt(i, j, &length);
            // A section the reader would refuse is not written: one bad
            // section must not cost the whole file at the next start.
            if (section == nullptr || !IsGuideCacheSection(section, length)) continue;
            uint8_t* p = Reserve(w, kGuideCacheRecordHeaderSize + length);
            p[0] = kGuideCacheSectionRecord;
            PutGuideCache16(p + 1, static_cast<uint32_t>(length));
            std::memcpy(p + kGuideCacheRecordHeaderSize, section, static_cast<size_t>(length));
            ++sections;
        }
    }
    uint8_t* end = Reserve(w, kGuideCacheRecordHeaderSize + 4);
    end[0] = kGuideCacheEndRecord;
    PutGuideCache16(end + 1, 4);
    // The checksum covers the end record's type and length, not its value.
    w.crc = Crc32Mpeg2Update(w.crc, w.bytes + w.summed,
                             static_cast<size_t>(w.filled - 4 - w.summed));
    w.summed = w.filled;
    PutGuideCache32(end + kGuideCacheRecordHeaderSize, w.crc);
    Flush(w);

    const bool flushed = w.ok && platform.FlushFile(file);
    platform.CloseFile(file);
    if (!flushed) {
        platform.RemoveFile(temporary);
        return GuideCacheStatus::kWriteFailed;
    }
    if (!platform.RenameFileOver(temporary, target)) {
        platform.RemoveFile(temporary);
        return GuideCacheStatus::kRenameFailed;
    }
    result.services = services;
    result.sections = sections;
    result.bytes = w.written;
    return GuideCacheStatus::kSaved;
}

// --- Load ------------------------------------------------------------------

GuideCacheStatus StatusOf(GuideCacheFault fault) {
    switch (fault) {
    case GuideCacheFault::kNone:
        return GuideCacheStatus::kLoaded;
    case GuideCacheFault::kEmpty:
        return GuideCacheStatus::kEmpty;
    case GuideCacheFault::kNotOurs:
        return GuideCacheStatus::kNotOurs;
    case GuideCacheFault::kOtherVersion:
        return GuideCacheStatus::kOtherVersion;
    case GuideCacheFault::kTruncated:
        return GuideCacheStatus::kTruncated;
    case GuideCacheFault::kCorrupt:
        break;
    }
    return GuideCacheStatus::kCorrupt;
}

GuideCacheStatus Finish(GuideCacheLoad& load, GuideCacheStatus status) {
    if (load.file != kInvalidFileHandle) load.platform->CloseFile(load.file);
    load.file = kInvalidFileHandle;
    load.pass = 0;
    load.status = status;
    return status;
}

// --- Which services a smaller store takes ---------------------------------

// The candidates are a heap: the one the store would give up first on top,
// so that a better one replaces it in a few steps.
void SiftDown(GuideCacheCandidate* heap, int32_t count, int32_t i) {
    for (;;) {
        int32_t worst = i;
        const int32_t left = 2 * i + 1;
        const int32_t right = left + 1;
        if (left < count && GuideCacheKeptBefore(heap[worst], heap[left])) worst = left;
        if (right < count && GuideCacheKeptBefore(heap[worst], heap[right])) worst = right;
        if (worst == i) return;
        const GuideCacheCandidate held = heap[i];
        heap[i] = heap[worst];
        heap[worst] = held;
        i = worst;
    }
}

void SiftUp(GuideCacheCandidate* heap, int32_t i) {
    while (i > 0) {
        const int32_t parent = (i - 1) / 2;
        if (!GuideCacheKeptBefore(heap[parent], heap[i])) return;
        const GuideCacheCandidate held = heap[i];
        heap[i] = heap[parent];
        heap[parent] = held;
        i = parent;
    }
}

// The service whose sections the first pass has read is done: among the
// best so far, or not.
void ConsiderCurrent(GuideCacheLoad& load) {
    if (load.current.index < 0) return;
    GuideCacheCandidate* heap = load.candidates;
    if (load.candidateCount < kGuideCacheMostChosen) {
        heap[load.candidateCount] = load.current;
        SiftUp(heap, load.candidateCount++);
    } else if (GuideCacheKeptBefore(load.current, heap[0])) {
        heap[0] = load.current;
        SiftDown(heap, load.candidateCount, 0);
    }
    load.current.index = -1;
}

// The first pass's look at one record, the file not yet known sound.
void Consider(GuideCacheLoad& load, const GuideCacheRecord& record) {
    if (record.type == kGuideCacheServiceRecord) {
        ConsiderCurrent(load);
        GuideCacheService service;
        if (!DecodeGuideCacheService(record.payload, record.length, &service)) return;
        GuideCacheCandidate& c = load.current;
        // The one watched when the file was saved was watched until then:
        // later than any stamp.
        c.lastWatched = service.watched ? INT64_MAX : service.lastWatched > 0 ? service.lastWatched : 0;
        c.index = load.fileServices++;
        c.networkId = service.networkId;
        c.transportStreamId = service.transportStreamId;
        c.serviceId = service.serviceId;
        c.programmes = false;
        return;
    }
    if (load.current.index >= 0 && !load.current.programmes &&
        !GuideSectionHasEnded(record.payload, record.length, load.now)) {
        load.current.programmes = true;
    }
}

// Between the passes: every service when the store has room for all,
// else the best ones that fit besides those it holds already.
void Choose(GuideCacheLoad& load, GuideCacheSink& sink) {
    ConsiderCurrent(load);
    load.chosenCount = 0;
    load.nextChosen = 0;
    int32_t room = sink.ServiceRoom();
    load.everyService = room >= load.fileServices;
    if (load.everyService) return;
    // Best first: the heap's order taken apart from its end.
    GuideCacheCandidate* heap = load.candidates;
    for (int32_t count = load.candidateCount; count > 1; --count) {
        const GuideCacheCandidate worst = heap[0];
        heap[0] = heap[count - 1];
        heap[count - 1] = worst;
        SiftDown(heap, count - 1, 0);
    }
    for (int32_t i = 0; i < load.candidateCount; ++i) {
        const GuideCacheCandidate& c = heap[i];
        GuideCacheService service;
        std::memset(&service, 0, sizeof service);
        service.networkId = c.networkId;
        service.transportStreamId = c.transportStreamId;
        service.serviceId = c.serviceId;
        if (!sink.HoldsService(service)) {
            if (room <= 0) continue;
            --room;
        }
        load.chosen[load.chosenCount++] = c.index;
    }
    // In the file's order, as the second pass meets them.
    for (int32_t i = 1; i < load.chosenCount; ++i) {
        const int32_t index = load.chosen[i];
        int32_t j = i;
        for (; j > 0 && load.chosen[j - 1] > index; --j) load.chosen[j] = load.chosen[j - 1];
        load.chosen[j] = index;
    }
}

// Whether the second pass hands over the service at `index`.
bool Chosen(GuideCacheLoad& load, GuideCacheSink& sink, const GuideCacheService& service, int32_t index) {
    if (load.everyService) return true;
    if (load.nextChosen < load.chosenCount && load.chosen[load.nextChosen] == index) {
        ++load.nextChosen;
        return true;
    }
    // One the store took meanwhile (the stream gave it) has its own entry.
    return sink.HoldsService(service);
}

// Opens the file from its start for the given pass.
bool StartPass(GuideCacheLoad& load, int32_t pass) {
    if (load.file != kInvalidFileHandle) load.platform->CloseFile(load.file);
    FileOpenError error = FileOpenError::kNone;
    load.file = load.platform->OpenReadFile(load.path, &error);
    if (load.file == kInvalidFileHandle) return false;
    load.pass = pass;
    load.filled = 0;
    load.fileEnded = false;
    load.service = -1;
    load.serviceIndex = 0;
    // The first pass found the checksum right; the second reads the same
    // file and checks its structure again, record by record, as it hands
    // them over.
    BeginGuideCacheScan(load.scanner, pass == 1);
    return true;
}

// The second pass's hand-over of one record, checked whole by the first.
void HandOver(GuideCacheLoad& load, GuideCacheSink& sink, const GuideCacheRecord& record) {
    if (record.type == kGuideCacheServiceRecord) {
        load.service = -1;
        GuideCacheService service;
        if (!DecodeGuideCacheService(record.payload, record.length, &service)) return;
        if (!Chosen(load, sink, service, load.serviceIndex++)) {
            ++load.servicesLeft;
            return;
        }
        load.service = sink.RestoreService(service);
        ++load.services;
        return;
    }
    if (load.service < 0) return;
    if (GuideSectionHasEnded(record.payload, record.length, load.now)) {
        ++load.sectionsEnded;
        return;
    }
    sink.RestoreSection(load.service, record.payload, record.length);
    ++load.sections;
}

}  // namespace

void MakeGuideCachePaths(Platform& platform, const char* settingsPath, GuideCachePaths* paths) {
    paths->besideSettings[0] = '\0';
    paths->localFolder[0] = '\0';
    paths->local[0] = '\0';

    // The settings path is the host's folder and "Kestrin.ini": the cache
    // takes the same folder, so it lands wherever the settings do.
    const char kSettingsName[] = "Kestrin.ini";
    const size_t nameLength = sizeof kSettingsName - 1;
    const size_t length = settingsPath != nullptr ? std::strlen(settingsPath) : 0;
    if (length >= nameLength && length < static_cast<size_t>(kGuideCachePathSize) &&
        std::strcmp(settingsPath + length - nameLength, kSettingsName) == 0) {
        char folder[kGuideCachePathSize];
        std::memcpy(folder, settingsPath, length - nameLength);
        folder[length - nameLength] = '\0';
        Join(paths->besideSettings, folder, kFileName);
    }

    char appData[kGuideCachePathSize];
    const uint32_t appDataLength = platform.GetLocalAppDataFolder(appData, sizeof appData);
    if (appDataLength == 0 || appDataLength >= sizeof appData || appData[appDataLength - 1] != '\\') {
        return;
    }
    if (Join(paths->localFolder, appData, kFolderName) &&
        !Join(paths->local, paths->localFolder, kFileName)) {
        paths->localFolder[0] = '\0';
    }
}

GuideCacheSaveResult SaveGuideCache(Platform& platform, const GuideCachePaths& paths,
                                    GuideCacheSource& source, GuideCacheBuffer& buffer) {
    GuideCacheSaveResult result = {GuideCacheStatus::kNowhereToSave, false, 0, 0, 0};
    if (paths.besideSettings[0] != '\0') {
        result.status = WriteWhole(platform, paths.besideSettings, source, buffer, result);
        if (result.status != GuideCacheStatus::kNowhereToSave) {
            // The local folder's copy is older now; left there, the next
            // load would take it.
            if (result.status == GuideCacheStatus::kSaved && paths.local[0] != '\0') {
                platform.RemoveFile(paths.local);
            }
            return result;
        }
    }
    if (paths.local[0] != '\0') {
        platform.MakeFolder(paths.localFolder);
        result.local = true;
        result.status = WriteWhole(platform, paths.local, source, buffer, result);
    }
    return result;
}

GuideCacheStatus BeginGuideCacheLoad(GuideCacheLoad& load, Platform& platform,
                                     const GuideCachePaths& paths, int64_t now,
                                     GuideCacheBuffer& buffer) {
    load.platform = &platform;
    load.buffer = &buffer;
    load.path[0] = '\0';
    load.file = kInvalidFileHandle;
    load.pass = 0;
    load.filled = 0;
    load.fileEnded = false;
    load.now = now;
    BeginGuideCacheScan(load.scanner);
    load.service = -1;
    load.local = false;
    load.services = 0;
    load.sections = 0;
    load.sectionsEnded = 0;
    load.servicesLeft = 0;
    load.fileServices = 0;
    load.candidateCount = 0;
    load.current.index = -1;
    load.everyService = true;
    load.chosenCount = 0;
    load.nextChosen = 0;
    load.serviceIndex = 0;

    const char* const candidates[2] = {paths.local, paths.besideSettings};
    for (int32_t i = 0; i < 2; ++i) {
        if (candidates[i][0] == '\0') continue;
        FileOpenError error = FileOpenError::kNone;
        const FileHandle file = platform.OpenReadFile(candidates[i], &error);
        if (file == kInvalidFileHandle && error == FileOpenError::kNotFound) continue;
        std::snprintf(load.path, sizeof load.path, "%s", candidates[i]);
        load.local = i == 0;
        if (file == kInvalidFileHandle) {
            return Finish(load, error == FileOpenError::kIsDirectory ? GuideCacheStatus::kIsDirectory
                                                                      : GuideCacheStatus::kUnreadable);
        }
        load.file = file;
        load.pass = 1;
        load.status = GuideCacheStatus::kLoading;
        return load.status;
    }
    return Finish(load, GuideCacheStatus::kNoFile);
}

GuideCacheStatus ContinueGuideCacheLoad(GuideCacheLoad& load, GuideCacheSink& sink, int32_t chunks) {
    if (load.pass == 0) return load.status;
    uint8_t* const bytes = load.buffer->bytes;
    for (;;) {
        // Every whole record in the buffer.
        int32_t position = 0;
        for (;;) {
            int32_t used = 0;
            GuideCacheRecord record;
            const GuideCacheScan scan = ScanGuideCacheRecord(load.scanner, bytes + position,
                                                             load.filled - position, &used, &record);
            position += used;
            if (scan == GuideCacheScan::kFault) return Finish(load, StatusOf(load.scanner.fault));
            if (scan == GuideCacheScan::kNeedMore) break;
            if (scan != GuideCacheScan::kRecord) continue;
            if (load.pass == 2) {
                HandOver(load, sink, record);
            } else {
                Consider(load, record);
            }
        }
        // What is left is less than one record: to the front.
        std::memmove(bytes, bytes + position, static_cast<size_t>(load.filled - position));
        load.filled -= position;

        if (load.fileEnded) {
            const GuideCacheFault fault = FinishGuideCacheScan(load.scanner, load.filled);
            if (fault != GuideCacheFault::kNone) return Finish(load, StatusOf(fault));
            if (load.pass == 2) return Finish(load, GuideCacheStatus::kLoaded);
            // Sound as a whole: now the records, from the start again.
            Choose(load, sink);
            if (!StartPass(load, 2)) return Finish(load, GuideCacheStatus::kUnreadable);
            continue;
        }
        if (chunks <= 0) return load.status;
        --chunks;
        const int32_t room = kGuideCacheChunk - load.filled;
        const int32_t got = load.platform->ReadFile(load.file, bytes + load.filled,
                                                    static_cast<uint32_t>(room));
        if (got < 0 || got > room) return Finish(load, GuideCacheStatus::kUnreadable);
        if (got == 0) load.fileEnded = true;
        load.filled += got;
    }
}

bool GuideCacheKeptBefore(const GuideCacheCandidate& a, const GuideCacheCandidate& b) {
    if (a.programmes != b.programmes) return a.programmes;
    if (a.lastWatched != b.lastWatched) return a.lastWatched > b.lastWatched;
    return a.index > b.index;
}

void CancelGuideCacheLoad(GuideCacheLoad& load) {
    if (load.pass != 0) Finish(load, GuideCacheStatus::kUnreadable);
}

GuideCacheStatus LoadGuideCache(GuideCacheLoad& load, Platform& platform,
                                const GuideCachePaths& paths, int64_t now, GuideCacheSink& sink,
                                GuideCacheBuffer& buffer) {
    GuideCacheStatus status = BeginGuideCacheLoad(load, platform, paths, now, buffer);
    while (status == GuideCacheStatus::kLoading) status = ContinueGuideCacheLoad(load, sink, 16);
    return status;
}

const char* GuideCacheStatusText(GuideCacheStatus status) {
    switch (status) {
    case GuideCacheStatus::kEmpty:  // 番組表のキャッシュが空だったため作り直します
        return "\x94\xD4\x91\x67\x95\x5C\x82\xCC\x83\x4C\x83\x83\x83\x62\x83\x56\x83\x85\x82\xAA"
               "\x8B\xF3\x82\xBE\x82\xC1\x82\xBD\x82\xBD\x82\xDF\x8D\xEC\x82\xE8\x92\xBC\x82\xB5"
               "\x82\xDC\x82\xB7";
    case GuideCacheStatus::kNotOurs:  // 番組表のキャッシュではないファイルがあったため置き換えます
        return "\x94\xD4\x91\x67\x95\x5C\x82\xCC\x83\x4C\x83\x83\x83\x62\x83\x56\x83\x85\x82\xC5"
               "\x82\xCD\x82\xC8\x82\xA2\x83\x74\x83\x40\x83\x43\x83\x8B\x82\xAA\x82\xA0\x82\xC1"
               "\x82\xBD\x82\xBD\x82\xDF\x92\x75\x82\xAB\x8A\xB7\x82\xA6\x82\xDC\x82\xB7";
    case GuideCacheStatus::kOtherVersion:  // 番組表のキャッシュが別の版のため作り直します
        return "\x94\xD4\x91\x67\x95\x5C\x82\xCC\x83\x4C\x83\x83\x83\x62\x83\x56\x83\x85\x82\xAA"
               "\x95\xCA\x82\xCC\x94\xC5\x82\xCC\x82\xBD\x82\xDF\x8D\xEC\x82\xE8\x92\xBC\x82\xB5"
               "\x82\xDC\x82\xB7";
    case GuideCacheStatus::kTruncated:  // 番組表のキャッシュが途中で切れていたため作り直します
        return "\x94\xD4\x91\x67\x95\x5C\x82\xCC\x83\x4C\x83\x83\x83\x62\x83\x56\x83\x85\x82\xAA"
               "\x93\x72\x92\x86\x82\xC5\x90\xD8\x82\xEA\x82\xC4\x82\xA2\x82\xBD\x82\xBD\x82\xDF"
               "\x8D\xEC\x82\xE8\x92\xBC\x82\xB5\x82\xDC\x82\xB7";
    case GuideCacheStatus::kCorrupt:  // 番組表のキャッシュが壊れていたため作り直します
        return "\x94\xD4\x91\x67\x95\x5C\x82\xCC\x83\x4C\x83\x83\x83\x62\x83\x56\x83\x85\x82\xAA"
               "\x89\xF3\x82\xEA\x82\xC4\x82\xA2\x82\xBD\x82\xBD\x82\xDF\x8D\xEC\x82\xE8\x92\xBC"
               "\x82\xB5\x82\xDC\x82\xB7";
    case GuideCacheStatus::kIsDirectory:  // 番組表のキャッシュの場所にフォルダがあるため読み書きできません
        return "\x94\xD4\x91\x67\x95\x5C\x82\xCC\x83\x4C\x83\x83\x83\x62\x83\x56\x83\x85\x82\xCC"
               "\x8F\xEA\x8F\x8A\x82\xC9\x83\x74\x83\x48\x83\x8B\x83\x5F\x82\xAA\x82\xA0\x82\xE9"
               "\x82\xBD\x82\xDF\x93\xC7\x82\xDD\x8F\x91\x82\xAB\x82\xC5\x82\xAB\x82\xDC\x82\xB9"
               "\x82\xF1";
    case GuideCacheStatus::kUnreadable:  // 番組表のキャッシュを読めませんでした
        return "\x94\xD4\x91\x67\x95\x5C\x82\xCC\x83\x4C\x83\x83\x83\x62\x83\x56\x83\x85\x82\xF0"
               "\x93\xC7\x82\xDF\x82\xDC\x82\xB9\x82\xF1\x82\xC5\x82\xB5\x82\xBD";
    case GuideCacheStatus::kNowhereToSave:  // 番組表のキャッシュを保存できる場所がありません
        return "\x94\xD4\x91\x67\x95\x5C\x82\xCC\x83\x4C\x83\x83\x83\x62\x83\x56\x83\x85\x82\xF0"
               "\x95\xDB\x91\xB6\x82\xC5\x82\xAB\x82\xE9\x8F\xEA\x8F\x8A\x82\xAA\x82\xA0\x82\xE8"
               "\x82\xDC\x82\xB9\x82\xF1";
    case GuideCacheStatus::kWriteFailed:  // 番組表のキャッシュを書き込めませんでした（前回の分は残っています）
        return "\x94\xD4\x91\x67\x95\x5C\x82\xCC\x83\x4C\x83\x83\x83\x62\x83\x56\x83\x85\x82\xF0"
               "\x8F\x91\x82\xAB\x8D\x9E\x82\xDF\x82\xDC\x82\xB9\x82\xF1\x82\xC5\x82\xB5\x82\xBD"
               "\x81\x69\x91\x4F\x89\xF1\x82\xCC\x95\xAA\x82\xCD\x8E\x63\x82\xC1\x82\xC4\x82\xA2"
               "\x82\xDC\x82\xB7\x81\x6A";
    case GuideCacheStatus::kRenameFailed:  // 番組表のキャッシュを置き換えられませんでした（前回の分は残っています）
        return "\x94\xD4\x91\x67\x95\x5C\x82\xCC\x83\x4C\x83\x83\x83\x62\x83\x56\x83\x85\x82\xF0"
               "\x92\x75\x82\xAB\x8A\xB7\x82\xA6\x82\xE7\x82\xEA\x82\xDC\x82\xB9\x82\xF1\x82\xC5"
               "\x82\xB5\x82\xBD\x81\x69\x91\x4F\x89\xF1\x82\xCC\x95\xAA\x82\xCD\x8E\x63\x82\xC1"
               "\x82\xC4\x82\xA2\x82\xDC\x82\xB7\x81\x6A";
    case GuideCacheStatus::kKeptUnread:  // 番組表のキャッシュを読めなかったため保存しません
        return "\x94\xD4\x91\x67\x95\x5C\x82\xCC\x83\x4C\x83\x83\x83\x62\x83\x56\x83\x85\x82\xF0"
               "\x93\xC7\x82\xDF\x82\xC8\x82\xA9\x82\xC1\x82\xBD\x82\xBD\x82\xDF\x95\xDB\x91\xB6"
               "\x82\xB5\x82\xDC\x82\xB9\x82\xF1";
    case GuideCacheStatus::kLoaded:
    case GuideCacheStatus::kLoading:
    case GuideCacheStatus::kNoFile:
    case GuideCacheStatus::kSaved:
        break;
    }
    return "";
}
