#include "plugin/guide_store.h"

#include <cstring>
#include <mutex>
#include <new>

#include "plugin/guide_budget.h"
#include "plugin/guide_entries.h"
#include "plugin/guide_list.h"
#include "plugin/messages.h"
#include "plugin/plugin_state.h"
#include "text/service_name.h"
#include "ts/calendar.h"
#include "ts/crc32.h"
#include "ts/psi_reader.h"
#include "ts/schedule_assembler.h"
#include "ts/section_follower.h"

namespace {

const uint8_t kSdtOther = 0x46;
// SDT: table_id through original_network_id and the reserved byte.
const int32_t kSdtHeaderSize = 11;
// Shortest SDT section_length: its fixed fields and the CRC_32.
const int32_t kSdtMinimumLength = 12;

// A section that finds the hand-over full is dropped (it comes again). The
// window thread has not emptied it: perhaps the message that should have
// made it was lost (posted before the window existed). Ask again at the
// first drop and every kGuideDropRepost-th after, never for each.
void DropSection(PluginState& s) {
    GuideStore& g = s.guide;
    ++g.droppedSections;
    if (g.dropsSinceTake++ % kGuideDropRepost == 0) s.platform->PostToWindow(WM_GUIDE_READY);
}

}  // namespace

// An EIT of the guide's tables, current, at least as long as the shortest
// schedule section, not held by its service in that version. A section
// wanted while the hand-over has no room for it is dropped here, before its
// bytes are copied: only the window thread empties the hand-over, so it
// would find no room at its end either, unless the window takes a turn
// while it is still coming. A service without an entry is kept as well,
// but gets its entry only at the hand-over, once the whole section passed
// its CRC_32: a damaged header must not push a real service out. No memory
// block: nothing is kept.
bool KeepGuideSection(PluginState& s, const uint8_t* header, int32_t size) {
    GuideStore& g = s.guide;
    ++g.pathWork.headers;
    if (size < kFollowHeaderSize || g.services == nullptr) return false;
    const int32_t length = SectionLength(header);
    if (length < kScheduleMinimumLength) return false;
    const uint8_t tableId = header[0];
    if (!IsGuideTable(tableId) || (header[5] & 0x01) == 0) return false;
    const uint8_t number = header[6];
    if (IsPresentFollowingTable(tableId) && number > 1) return false;
    const int32_t i = GuideServiceOfSection(s, header, false);
    if (i >= 0 && g.services[i].heldVersion[tableId - kGuideFirstTableId][number] == SectionVersionOf(header)) {
        return false;
    }
    if (!SectionQueueHasRoom(g.queue, length + kSectionHeaderSize)) {
        DropSection(s);
        return false;
    }
    g.pendingService = i;
    g.pendingGeneration = i >= 0 ? g.services[i].generation : 0;
    ++g.pathWork.copies;
    return true;
}

void HandOverGuideSection(PluginState& s, const uint8_t* section, int32_t length) {
    GuideStore& g = s.guide;
    int32_t service = g.pendingService;
    if (service < 0) {
        // A new service: an entry only for a whole section whose CRC_32
        // passed (a header that bit errors made up names no service).
        if (length < kFollowHeaderSize || SectionLength(section) + kSectionHeaderSize != length ||
            Crc32Mpeg2(section, static_cast<size_t>(length)) != 0) {
            return;
        }
        service = GuideServiceOfSection(s, section, true);
        if (service < 0) return;
        // Held already by the entry it was given (a cached service).
        if (g.services[service].heldVersion[section[0] - kGuideFirstTableId][section[6]] == SectionVersionOf(section)) {
            return;
        }
    }
    const bool first = !GuideSectionsWaiting(g);
    // The generation at the keep test, or that of the entry just given.
    const uint32_t generation = service == g.pendingService ? g.pendingGeneration : g.services[service].generation;
    const SectionQueueTag tag = {length, service, generation, g.nextStamp};
    if (!PushSection(g.queue, tag, section)) {
        DropSection(s);
        return;
    }
    ++g.nextStamp;
    // One message for a run of sections: the handler takes them all.
    // Present/following while the guide window is closed rides along with
    // the next schedule section's message (or the full hand-over's one), so
    // that the viewer's message traffic stays what its own sections cause.
    // A schedule section behind present/following sections that were not
    // announced is announced itself: otherwise nothing would be posted until
    // the hand-over was full and sections were lost.
    const bool pf = IsPresentFollowingTable(section[0]);
    if ((first || !g.readyPosted) && (g.windowShown || !pf)) {
        g.readyPosted = true;
        s.platform->PostToWindow(WM_GUIDE_READY);
    }
}

// SDT actual or other, current, at least as long as the shortest SDT, not
// filed already in that version, and room for it in the hand-over (else it
// is dropped and comes again). No memory block: nothing is kept.
bool KeepGuideSdtSection(PluginState& s, const uint8_t* h, int32_t size) {
    const GuideStore& g = s.guide;
    if (size < kSdtHeaderSize || g.services == nullptr) return false;
    if ((h[0] != kSdtActualTableId && h[0] != kSdtOther) || (h[5] & 0x01) == 0) return false;
    if (SectionLength(h) < kSdtMinimumLength) return false;
    const uint16_t tsid = static_cast<uint16_t>(h[3] << 8 | h[4]);
    const uint16_t onid = static_cast<uint16_t>(h[8] << 8 | h[9]);
    for (int32_t i = 0; i < kGuideSdtHeld; ++i) {
        const GuideSdtFiled& f = g.sdtFiled[i];
        if (f.used && f.tableId == h[0] && f.transportStreamId == tsid && f.networkId == onid &&
            f.sectionNumber == h[6] && f.version == SectionVersionOf(h)) {
            return false;
        }
    }
    if (!SectionQueueHasRoom(g.queue, SectionLength(h) + kSectionHeaderSize)) {
        DropSection(s);
        return false;
    }
    return true;
}

// The SDT sections wait in the hand-over with the EIT sections, in the
// order they came, each one: a transponder's SDT other comes as several
// sections at once, and a single place would keep only the last of them.
// Like present/following, its own message only while the guide is open;
// closed, it rides along with the viewer's own next message
// (GuideSectionsUnannounced).
void HandOverGuideSdt(PluginState& s, const uint8_t* section, int32_t length) {
    GuideStore& g = s.guide;
    const bool first = !GuideSectionsWaiting(g);
    const SectionQueueTag tag = {length, kGuideSdtEntry, 0, g.nextStamp};
    if (!PushSection(g.queue, tag, section)) {
        DropSection(s);
        return;
    }
    ++g.nextStamp;
    if ((first || !g.readyPosted) && g.windowShown) {
        g.readyPosted = true;
        s.platform->PostToWindow(WM_GUIDE_READY);
    }
}

bool GuideSectionsUnannounced(PluginState& s) {
    std::lock_guard<std::mutex> guard(s.lock);
    return GuideSectionsWaiting(s.guide) && !s.guide.readyPosted;
}

namespace {

const GuideNameEntry* NameOf(const GuideStore& g, const GuideServiceKey& key) {
    for (int32_t i = 0; i < kGuideNameTableSize; ++i) {
        if (g.names[i].used && SameServiceKey(g.names[i].key, key)) return &g.names[i];
    }
    return nullptr;
}

// A table empty for the entry's `generation` (another service, or the first).
void StartTable(GuideStore& g, GuideServiceTable& t, uint32_t generation) {
    InitScheduleService(t.schedule, t.pool, kSchedulePoolSizeEightDays);
    EmptyList(t);
    t.ready = true;
    t.filedGeneration = generation;
    const GuideNameEntry* name = NameOf(g, t.key);
    std::memcpy(t.name, name != nullptr ? name->name : "", name != nullptr ? sizeof t.name : 1);
    ++t.revision;
    ++g.revision;
}

// Lock held: the window thread's copy of the entries' ids, channels,
// stamps and generations, and of the watched entry.
void MirrorEntries(GuideStore& g) {
    g.tableCount = g.serviceCount;
    g.watchedTable = g.watched;
    g.seenGeneration = g.generation;
    for (int32_t i = 0; i < g.serviceCount; ++i) {
        GuideServiceTable& t = g.tables[i];
        const GuideServiceSlot& slot = g.services[i];
        t.key = slot.key;
        t.channel = slot.channel;
        t.lastWatched = slot.lastWatched;
        t.entryGeneration = slot.generation;
    }
}

// Window thread: the entries' tables started for their generations, and
// the watched list's count. True when a table was started.
bool StartTables(GuideStore& g) {
    bool started = false;
    for (int32_t i = 0; i < g.tableCount; ++i) {
        GuideServiceTable& t = g.tables[i];
        if (t.ready && t.filedGeneration == t.entryGeneration) continue;
        StartTable(g, t, t.entryGeneration);
        started = started || i == g.watchedTable;
    }
    g.listCount = g.watchedTable >= 0 ? g.tables[g.watchedTable].listCount : 0;
    return started;
}

// Window thread: mirror and start; true when the watched list changed hands
// or was started again.
bool SyncTables(PluginState& s) {
    GuideStore& g = s.guide;
    const int32_t watchedBefore = g.watchedTable;
    {
        std::lock_guard<std::mutex> guard(s.lock);
        MirrorEntries(g);
        g.clockNow = BroadcastNow(s);
    }
    const bool started = StartTables(g);
    if (g.watchedTable != watchedBefore) ++g.revision;
    return started || g.watchedTable != watchedBefore;
}

// The table of an entry in use, or null.
const GuideServiceTable* TableAt(const GuideStore& g, int32_t service) {
    if (service < 0 || service >= g.tableCount || g.tables == nullptr) return nullptr;
    const GuideServiceTable& t = g.tables[service];
    return t.ready ? &t : nullptr;
}

const GuideServiceTable* WatchedTable(const GuideStore& g) { return TableAt(g, g.watchedTable); }

// The names of an SDT section's services into their entries and the name
// table; every service it lists is named on the packet path's side, so that
// services seen only in EIT sections never push it out. Only a section
// whose CRC_32 passed: a name or service id that bit errors made would
// otherwise stay until the section's next version.
void FileServiceNames(PluginState& s, const uint8_t* section, int32_t length) {
    GuideStore& g = s.guide;
    if (length < kSdtHeaderSize + kCrcSize || SectionLength(section) + kSectionHeaderSize != length) return;
    if (Crc32Mpeg2(section, static_cast<size_t>(length)) != 0) return;
    const uint16_t tsid = static_cast<uint16_t>(section[3] << 8 | section[4]);
    const uint16_t onid = static_cast<uint16_t>(section[8] << 8 | section[9]);
    // Each service's loop is at least five bytes.
    uint16_t listed[kMaxSectionSize / 5];
    int32_t listedCount = 0;
    PsiReader r(section + kSdtHeaderSize, length - kSdtHeaderSize - kCrcSize);
    while (r.Remaining() >= 5) {
        const uint16_t serviceId = r.U16();
        listed[listedCount++] = serviceId;
        r.Skip(1);
        const int32_t loopLength = r.U16() & 0x0FFF;
        if (!r.CanRead(loopLength)) break;
        r.Skip(loopLength);
        char name[kServiceNameSize];
        name[0] = '\0';
        FindServiceName(section, length, serviceId, s.symbolStyle, name);
        if (name[0] == '\0') continue;
        const GuideServiceKey key = {onid, tsid, serviceId};
        GuideNameEntry* entry = const_cast<GuideNameEntry*>(NameOf(g, key));
        if (entry == nullptr) {
            entry = &g.names[g.nextName];
            g.nextName = (g.nextName + 1) % kGuideNameTableSize;
            entry->key = key;
            entry->used = true;
        }
        std::memset(entry->name, 0, sizeof entry->name);
        std::memcpy(entry->name, name, sizeof name);
        entry->name[kGuideServiceNameSize - 1] = '\0';
        for (int32_t i = 0; i < g.tableCount; ++i) {
            GuideServiceTable& t = g.tables[i];
            if (!t.ready || !SameServiceKey(t.key, key) || std::strcmp(t.name, entry->name) == 0) continue;
            std::memcpy(t.name, entry->name, sizeof t.name);
            ++t.revision;
            ++g.revision;
        }
    }
    std::lock_guard<std::mutex> guard(s.lock);
    for (int32_t i = 0; i < listedCount; ++i) NameGuideService(g, GuideServiceKey{onid, tsid, listed[i]});
    GuideSdtFiled& f = g.sdtFiled[g.sdtFiledNext];
    g.sdtFiledNext = (g.sdtFiledNext + 1) % kGuideSdtHeld;
    f.transportStreamId = tsid;
    f.networkId = onid;
    f.tableId = section[0];
    f.sectionNumber = section[6];
    f.version = SectionVersionOf(section);
    f.used = true;
}

}  // namespace

void ForgetServiceGuide(PluginState& s) {
    GuideStore& g = s.guide;
    // The viewer's present/following of the old service: not the new one's.
    g.pfLengths[0] = g.pfLengths[1] = 0;
    g.lastPfKey[0] = g.lastPfKey[1] = 0;
    // Another physical channel: its transport stream is not known yet.
    if (g.actualChannel != s.currentChannel) g.actualKnown = false;
    int32_t watched = -1;
    if (g.actualKnown) {
        const GuideServiceKey key = {g.actualNetworkId, g.actualTransportStreamId,
                                     static_cast<uint16_t>(s.currentService)};
        watched = FindGuideService(g, key);
    }
    if (g.services != nullptr) MarkGuideWatched(s, watched);
    ++g.generation;
    if (g.windowShown) s.platform->PostToWindow(WM_GUIDE_READY);
}

void GuidePresentFollowing(PluginState& s, const uint8_t* section, int32_t length) {
    GuideStore& g = s.guide;
    if (!g.windowShown || length < kFollowHeaderSize || length > kMaxSectionSize) return;
    const uint8_t number = section[6];
    if (number > 1 || SectionLength(section) < 1 || !IsGuideTable(section[0])) return;
    const uint32_t key = SectionChangeKey(section);
    if (key == g.lastPfKey[number]) return;
    // The change key is the section's CRC_32 field, which bit errors in the
    // rest leave as it was: the key of a damaged section is its good
    // repeat's. Only a section that passes its CRC_32 is handed over and
    // has its key kept (one or two small sections a repeat, and only those
    // whose key is new).
    if (SectionLength(section) + kSectionHeaderSize != length) return;
    if (Crc32Mpeg2(section, static_cast<size_t>(length)) != 0) return;
    const int32_t service = GuideServiceOfSection(s, section);
    if (service < 0) return;
    g.lastPfKey[number] = key;
    const bool first = !GuideSectionsWaiting(g);
    std::memcpy(g.pf[number], section, static_cast<size_t>(length));
    g.pfLengths[number] = length;
    g.pfStamps[number] = g.nextStamp++;
    g.pfService[number] = service;
    g.pfGeneration[number] = g.services[service].generation;
    if (first) s.platform->PostToWindow(WM_GUIDE_READY);
}

bool SyncGuide(PluginState& s) { return SyncTables(s); }

bool TakeGuideSection(PluginState& s, GuideTakenSection& taken) {
    GuideStore& g = s.guide;
    std::lock_guard<std::mutex> guard(s.lock);
    // The one handed over first: the kept sections in their order, the
    // present and following sections by their stamps among them.
    int32_t which = -1;  // 0, 1: present, following; kGuidePfSlots: the kept sections
    uint32_t stamp = 0;
    SectionQueueTag tag = {0, -1, 0, 0};
    const uint8_t* kept = nullptr;
    if (PeekSection(g.queue, tag, kept)) {
        which = kGuidePfSlots;
        stamp = tag.stamp;
    }
    for (int32_t i = 0; i < kGuidePfSlots; ++i) {
        if (g.pfLengths[i] > 0 && (which < 0 || static_cast<int32_t>(g.pfStamps[i] - stamp) < 0)) {
            which = i;
            stamp = g.pfStamps[i];
        }
    }
    if (which < 0) return false;
    const uint8_t* from;
    int32_t length;
    if (which == kGuidePfSlots) {
        from = kept;
        length = tag.length;
        taken.service = tag.service;
        taken.generation = tag.generation;
    } else {
        from = g.pf[which];
        length = g.pfLengths[which];
        taken.service = g.pfService[which];
        taken.generation = g.pfGeneration[which];
        g.pfLengths[which] = 0;
    }
    taken.section.length = length > 0 && length <= kMaxSectionSize ? length : 0;
    std::memcpy(taken.section.data, from, static_cast<size_t>(taken.section.length));
    taken.schedule = which == kGuidePfSlots;
    if (taken.schedule) PopSection(g.queue);
    return true;
}

bool FileGuideSection(PluginState& s, const GuideTakenSection& taken) {
    GuideStore& g = s.guide;
    bool changed = SyncTables(s);
    const SectionCopy& copy = taken.section;
    if (taken.service == kGuideSdtEntry) {
        const uint32_t revision = g.revision;
        FileServiceNames(s, copy.data, copy.length);
        return changed || g.revision != revision;
    }
    // Its entry reused for another service since the copy: not its table.
    const GuideServiceTable* known = TableAt(g, taken.service);
    if (known == nullptr || known->filedGeneration != taken.generation || copy.length < kFollowHeaderSize) {
        return changed;
    }
    GuideServiceTable& t = g.tables[taken.service];
    if (!SameServiceKey(t.key, EitServiceKey(copy.data))) return changed;
    const ScheduleAddResult result = FileSection(g, t, copy.data, copy.length);
    changed = changed || result == ScheduleAddResult::kStored;
    if (taken.service == g.watchedTable) g.listCount = t.listCount;
    // Taken (stored or held already): not copied again in this version,
    // unless its entry went to another service meanwhile. A section that
    // found no room, or was damaged, is not marked, so it is tried again
    // when it comes round.
    if (!taken.schedule || (result != ScheduleAddResult::kStored && result != ScheduleAddResult::kUnchanged)) {
        return changed;
    }
    std::lock_guard<std::mutex> guard(s.lock);
    GuideServiceSlot& slot = g.services[taken.service];
    if (slot.generation == taken.generation && IsGuideTable(copy.data[0])) {
        slot.heldVersion[copy.data[0] - kGuideFirstTableId][copy.data[6]] = SectionVersionOf(copy.data);
        slot.filed = true;
    }
    return changed;
}

bool TakeGuideSections(PluginState& s) {
    GuideStore& g = s.guide;
    g.lastTurn.sections = g.lastTurn.events = g.lastTurn.rowsScanned = 0;
    bool changed = SyncGuide(s);
    // What waits now, and no more: sections that come meanwhile wait for
    // the next turn, after the window's other messages.
    int32_t waiting;
    {
        std::lock_guard<std::mutex> guard(s.lock);
        // At most a turn's worth: the rest is asked for again below.
        waiting = g.queue.count + (g.pfLengths[0] > 0 ? 1 : 0) + (g.pfLengths[1] > 0 ? 1 : 0);
        if (waiting > kGuideTurnSections + kGuidePfSlots) waiting = kGuideTurnSections + kGuidePfSlots;
        g.dropsSinceTake = 0;
        // What comes during the turn is announced by the turn's end.
        g.readyPosted = true;
    }
    // Large: one on the window thread's stack per turn.
    GuideTakenSection taken;
    for (int32_t i = 0; i < waiting && TakeGuideSection(s, taken); ++i) {
        if (g.afterTake != nullptr) g.afterTake(g.afterTakeContext);
        ++g.lastTurn.sections;
        changed = FileGuideSection(s, taken) || changed;
    }
    bool more;
    {
        std::lock_guard<std::mutex> guard(s.lock);
        more = GuideSectionsWaiting(g);
        g.readyPosted = more;
    }
    if (more) s.platform->PostToWindow(WM_GUIDE_READY);
    return changed;
}

ScheduleAddResult FileScheduleSection(GuideStore& g, const uint8_t* section, int32_t length) {
    if (length < kFollowHeaderSize || length > kMaxSectionSize) return ScheduleAddResult::kIgnored;
    if (g.services == nullptr) return ScheduleAddResult::kNoRoom;
    const GuideServiceKey key = EitServiceKey(section);
    int32_t i = FindGuideService(g, key);
    if (i < 0) i = AddGuideService(g, key, true);
    if (i < 0) return ScheduleAddResult::kNoRoom;
    MirrorEntries(g);
    StartTables(g);
    const ScheduleAddResult result = FileSection(g, g.tables[i], section, length);
    if (i == g.watchedTable) g.listCount = g.tables[i].listCount;
    return result;
}

bool GuideRow(const GuideStore& g, int32_t row, ScheduleEventRef& ref) {
    return GuideServiceRow(g, g.watchedTable, row, ref);
}

int32_t GuideRowOfEvent(const GuideStore& g, int32_t eventId) {
    return GuideServiceRowOfEvent(g, g.watchedTable, eventId);
}

bool ReadGuideEvent(const GuideStore& g, const ScheduleEventRef& ref, EitEventRecord& record) {
    return ReadGuideServiceEvent(g, g.watchedTable, ref, record);
}

int32_t GuideServiceCount(const GuideStore& g) { return g.tableCount; }

bool GuideServiceAt(const GuideStore& g, int32_t service, GuideServiceInfo& out) {
    const GuideServiceTable* t = TableAt(g, service);
    if (t == nullptr) return false;
    out.key = t->key;
    out.channel = t->channel;
    out.lastWatched = t->lastWatched;
    std::memcpy(out.name, t->name, sizeof out.name);
    out.name[kGuideServiceNameSize - 1] = '\0';
    out.listCount = t->listCount;
    out.revision = t->revision;
    out.watched = service == g.watchedTable;
    return true;
}

bool GuideServiceRow(const GuideStore& g, int32_t service, int32_t row, ScheduleEventRef& ref) {
    const GuideServiceTable* t = TableAt(g, service);
    if (t == nullptr || row < 0 || row >= t->listCount) return false;
    ref = AtRow(*t, row);
    return true;
}

int32_t GuideServiceFirstRowEndingAfter(const GuideStore& g, int32_t service, int64_t time) {
    const GuideServiceTable* t = TableAt(g, service);
    return t == nullptr ? 0 : FirstEndingAfter(*t, time);
}

int32_t GuideServiceRowOfEvent(const GuideStore& g, int32_t service, int32_t eventId) {
    const GuideServiceTable* t = TableAt(g, service);
    if (t == nullptr || eventId < 0 || eventId >= kGuideEventIds) return -1;
    const int16_t entry = EntryOfEvent(*t, static_cast<uint16_t>(eventId));
    if (entry < 0) return -1;
    const int32_t row = RowFor(*t, t->list[entry]);
    return row < t->listCount && t->rows[row] == static_cast<uint16_t>(entry) ? row : -1;
}

bool ReadGuideServiceEvent(const GuideStore& g, int32_t service, const ScheduleEventRef& ref,
                           EitEventRecord& record) {
    const GuideServiceTable* t = TableAt(g, service);
    if (t == nullptr) return false;
    const EitScheduleService& s = t->schedule;
    ScheduleEventRef withItems = ref;
    withItems.extendedSlot = kScheduleNoSlot;
    withItems.extendedOffset = 0;
    uint32_t newest = 0;
    const int32_t firstExtended = kScheduleTablesPerKind * kScheduleSectionsPerTable;
    for (int32_t i = 0; i < s.heldCount; ++i) {
        const int32_t slot = s.order[i];
        if (slot < firstExtended || slot >= kScheduleSlotPresent) continue;
        if (withItems.extendedSlot != kScheduleNoSlot && s.slots[slot].sequence <= newest) continue;
        int32_t size = 0;
        const uint8_t* section = ScheduleSection(s, slot, size);
        EitEventCursor cursor(section, size);
        EitEventEntry e;
        while (cursor.Next(e)) {
            if (e.eventId != ref.eventId) continue;
            withItems.extendedSlot = slot;
            withItems.extendedOffset = e.offset;
            newest = s.slots[slot].sequence;
            break;
        }
    }
    return ReadScheduleEvent(s, withItems, record);
}

int32_t GuideWatchedService(const GuideStore& g) { return WatchedTable(g) != nullptr ? g.watchedTable : -1; }

uint32_t GuideRevision(const GuideStore& g) { return g.revision; }

const EitScheduleService* GuideServiceSchedule(const GuideStore& g, int32_t service) {
    const GuideServiceTable* t = TableAt(g, service);
    return t == nullptr ? nullptr : &t->schedule;
}

uint8_t GuideHeldVersion(const GuideStore& g, int32_t service, uint8_t tableId, uint8_t sectionNumber) {
    if (service < 0 || service >= g.serviceCount || !IsGuideTable(tableId)) return kNoVersion;
    return g.services[service].heldVersion[tableId - kGuideFirstTableId][sectionNumber];
}

int32_t GuideServiceSectionCount(const GuideStore& g, int32_t service) {
    const GuideServiceTable* t = TableAt(g, service);
    return t == nullptr ? 0 : t->schedule.heldCount;
}

const uint8_t* GuideServiceSection(const GuideStore& g, int32_t service, int32_t i, int32_t& size) {
    size = 0;
    const GuideServiceTable* t = TableAt(g, service);
    // Pool order is the order the sections were stored in: compaction keeps
    // it, and a new version is appended.
    if (t == nullptr || i < 0 || i >= t->schedule.heldCount) return nullptr;
    return ScheduleSection(t->schedule, t->schedule.order[i], size);
}

int32_t RestoreGuideService(PluginState& s, const GuideServiceInfo& info) {
    GuideStore& g = s.guide;
    int32_t i;
    {
        std::lock_guard<std::mutex> guard(s.lock);
        if (g.services == nullptr) return -1;
        // A name in the file came from an SDT whose CRC_32 passed: the
        // service is as known as if that SDT came again.
        if (info.name[0] != '\0') NameGuideService(g, info.key);
        i = FindGuideService(g, info.key);
        if (i < 0) i = AddGuideService(g, info.key, false);
        if (i < 0) return -1;
        GuideServiceSlot& slot = g.services[i];
        // What the stream said of the service stands: the file's channel
        // and watch stamp only fill in what it has not said.
        if (slot.channel < 0) slot.channel = info.channel;
        if (slot.lastWatched < 0) slot.lastWatched = info.lastWatched;
        if (info.lastWatched > g.lastStamp) g.lastStamp = info.lastWatched;
    }
    SyncTables(s);
    GuideServiceTable& t = g.tables[i];
    if (t.name[0] == '\0' && info.name[0] != '\0') {
        std::memcpy(t.name, info.name, sizeof t.name);
        t.name[kGuideServiceNameSize - 1] = '\0';
        ++t.revision;
        ++g.revision;
    }
    return i;
}

ScheduleAddResult RestoreGuideSection(PluginState& s, int32_t service, const uint8_t* section, int32_t length) {
    GuideStore& g = s.guide;
    if (section == nullptr || length < kFollowHeaderSize || length > kMaxSectionSize) return ScheduleAddResult::kIgnored;
    SyncTables(s);
    const GuideServiceTable* known = TableAt(g, service);
    if (known == nullptr || !SameServiceKey(known->key, EitServiceKey(section)) || !IsGuideTable(section[0])) {
        return ScheduleAddResult::kIgnored;
    }
    GuideServiceTable& t = g.tables[service];
    const uint32_t generation = t.filedGeneration;
    // What the stream gave wins over the file: a section of this table and
    // number held already (received live, in whatever version; versions
    // come round, so an older one cannot be told from a newer) is not
    // replaced by the file's copy, and its held version is not set back.
    // The schedule's actual and other tables, and present/following of
    // either, share their places in the table, as they do when filed.
    const uint8_t tableId = section[0];
    const uint8_t number = section[6];
    int32_t place = kScheduleNoSlot;
    if (IsPresentFollowingTable(tableId)) {
        if (number <= 1) place = number == 0 ? kScheduleSlotPresent : kScheduleSlotFollowing;
    } else {
        const int32_t index = (tableId - kScheduleFirstTableId) & 0x0F;
        place = index * kScheduleSectionsPerTable + number;
    }
    if (place != kScheduleNoSlot && t.schedule.slots[place].size != 0) return ScheduleAddResult::kIgnored;
    {
        std::lock_guard<std::mutex> guard(s.lock);
        if (g.services[service].heldVersion[tableId - kGuideFirstTableId][number] != kNoVersion) {
            return ScheduleAddResult::kIgnored;
        }
    }
    const ScheduleAddResult result = FileSection(g, t, section, length);
    if (service == g.watchedTable) g.listCount = t.listCount;
    if (result != ScheduleAddResult::kStored && result != ScheduleAddResult::kUnchanged) return result;
    std::lock_guard<std::mutex> guard(s.lock);
    GuideServiceSlot& slot = g.services[service];
    if (slot.generation == generation) {
        slot.heldVersion[section[0] - kGuideFirstTableId][section[6]] = SectionVersionOf(section);
        slot.filed = true;
    }
    return result;
}
