#include "plugin/guide_store.h"

#include <cstring>
#include <mutex>

#include "plugin/messages.h"
#include "plugin/plugin_state.h"
#include "plugin/section_mailbox.h"
#include "ts/calendar.h"
#include "ts/crc32.h"

namespace {

// The packet path asks this before it copies a section: false for one held
// in the same version.
bool SectionWanted(const void* context, uint8_t tableId, uint8_t sectionNumber, uint8_t version) {
    const GuideStore& store = *static_cast<const GuideStore*>(context);
    return store.heldVersion[tableId - kScheduleFirstTableId][sectionNumber] != version;
}

struct SinkContext {
    PluginState& state;
};

void HandOverSection(void* context, const uint8_t* section, int32_t length) {
    PluginState& s = static_cast<SinkContext*>(context)->state;
    GuideStore& g = s.guide;
    if (g.slotCount == kGuideHandOverSlots) {
        ++g.droppedSections;
        return;
    }
    const int32_t slot = (g.firstSlot + g.slotCount) % kGuideHandOverSlots;
    std::memcpy(g.slots[slot], section, static_cast<size_t>(length));
    g.slotLengths[slot] = length;
    ++g.slotCount;
    // One message for a run of sections: the handler takes them all.
    if (g.slotCount == 1) s.platform->PostToWindow(WM_GUIDE_READY);
}

// Window thread: the schedule as that of `generation`'s service, started
// again (empty, unbound) when it belonged to another. True when started.
bool StartSchedule(GuideStore& g, uint32_t generation) {
    if (g.scheduleReady && g.filedGeneration == generation) return false;
    InitScheduleService(g.schedule, g.pool, kSchedulePoolSizeEightDays);
    g.scheduleReady = true;
    g.filedGeneration = generation;
    g.listCount = 0;
    ++g.revision;
    return true;
}

}  // namespace

void ForgetServiceGuide(PluginState& s) {
    GuideStore& g = s.guide;
    ResetScheduleAssembler(g.assembler);
    g.firstSlot = 0;
    g.slotCount = 0;
    std::memset(g.heldVersion, kNoVersion, sizeof g.heldVersion);
    g.lastPfKey[0] = g.lastPfKey[1] = 0;
    ++g.generation;
    if (g.windowShown) s.platform->PostToWindow(WM_GUIDE_READY);
}

void AssembleGuide(PluginState& s, const uint8_t* packet) {
    ScheduleFilter filter;
    filter.firstTableId = kScheduleFirstTableId;
    filter.lastTableId = kScheduleLastTableId;
    filter.serviceId = static_cast<uint16_t>(s.currentService);
    filter.wanted = SectionWanted;
    filter.context = &s.guide;
    SinkContext sink = {s};
    AssembleScheduleSections(s.guide.assembler, filter, packet, HandOverSection, &sink);
}

void GuidePresentFollowing(PluginState& s, const uint8_t* section, int32_t length) {
    GuideStore& g = s.guide;
    if (!g.windowShown || length < kScheduleHeaderSize || length > kMaxSectionSize) return;
    if (section[6] > 1 || SectionLength(section) < 1) return;
    const uint32_t key = SectionChangeKey(section);
    if (key == g.lastPfKey[section[6]]) return;
    g.lastPfKey[section[6]] = key;
    SinkContext sink = {s};
    HandOverSection(&sink, section, length);
}

int64_t BroadcastNow(const PluginState& s) {
    if (s.tickCount < 0 || s.clockMjd < 0) return -1;
    return JapanSecondsOf(s.clockMjd, static_cast<int64_t>(s.clockHour) * 3600 + s.clockMinute * 60 + s.clockSecond +
                                          s.tickCount);
}

bool SyncGuide(PluginState& s) {
    uint32_t generation;
    {
        std::lock_guard<std::mutex> guard(s.lock);
        generation = s.guide.generation;
    }
    return StartSchedule(s.guide, generation);
}

bool TakeGuideSections(PluginState& s) {
    GuideStore& g = s.guide;
    bool changed = SyncGuide(s);
    for (;;) {
        SectionCopy copy;
        uint32_t generation;
        {
            std::lock_guard<std::mutex> guard(s.lock);
            generation = g.generation;
            if (g.slotCount == 0) break;
            const int32_t length = g.slotLengths[g.firstSlot];
            copy.length = length > 0 && length <= kMaxSectionSize ? length : 0;
            std::memcpy(copy.data, g.slots[g.firstSlot], static_cast<size_t>(copy.length));
            g.firstSlot = (g.firstSlot + 1) % kGuideHandOverSlots;
            --g.slotCount;
        }
        // A service change since the last section: the schedule starts again
        // for the generation this section was copied under. Not for the one
        // the state holds by now: a later change may have come meanwhile,
        // and the first section filed binds the schedule to its service, so
        // this one would shut the next service's sections out.
        changed = StartSchedule(g, generation) || changed;
        if (copy.length < kScheduleHeaderSize) continue;
        const ScheduleAddResult result = FileScheduleSection(g, copy.data, copy.length);
        changed = changed || result == ScheduleAddResult::kStored;
        // Taken (stored or held already): not copied again in this version,
        // unless the service changed meanwhile (the map was cleared for the
        // new one then). A section that found no room, or was damaged, is
        // not marked, so it is tried again when it comes round.
        if (result != ScheduleAddResult::kStored && result != ScheduleAddResult::kUnchanged) continue;
        std::lock_guard<std::mutex> guard(s.lock);
        if (g.generation == generation && copy.data[0] >= kScheduleFirstTableId &&
            copy.data[0] <= kScheduleLastTableId) {
            g.heldVersion[copy.data[0] - kScheduleFirstTableId][copy.data[6]] =
                static_cast<uint8_t>((copy.data[5] >> 1) & 0x1F);
        }
    }
    return changed;
}

ScheduleAddResult FileScheduleSection(GuideStore& g, const uint8_t* section, int32_t length) {
    if (length < kScheduleHeaderSize || length > kMaxSectionSize) return ScheduleAddResult::kIgnored;
    if (SectionLength(section) + kSectionHeaderSize != length) return ScheduleAddResult::kIgnored;
    if (Crc32Mpeg2(section, static_cast<size_t>(length)) != 0) return ScheduleAddResult::kIgnored;
    const ScheduleAddResult result = AddScheduleSection(g.schedule, section, length);
    if (result == ScheduleAddResult::kStored) {
        g.listCount = ListScheduleEvents(g.schedule, g.list, kScheduleEventsEightDays);
        ++g.revision;
    }
    return result;
}
