#include "plugin/event_handlers.h"

#include <cstring>
#include <mutex>

#include "plugin/guide_entries.h"
#include "plugin/guide_store.h"
#include "plugin/section_mailbox.h"
#include "text/eit_event.h"
#include "text/eit_schedule.h"
#include "text/event_formatter.h"
#include "text/service_name.h"
#include "ts/section.h"

namespace {
void StoreEvent(PluginState& state, bool following, const EventOutcome& out);
}  // namespace

bool TakeEventSection(PluginState& state, View kind, HandedSection& taken) {
    const bool following = kind == View::kFollowing;
    std::lock_guard<std::mutex> guard(state.lock);
    taken.style = state.symbolStyle;
    taken.lastKey = following ? state.lastFollowingKey : state.lastPresentKey;
    taken.serviceId = state.currentService;
    taken.generation = state.serviceGeneration;
    return CopySectionFromMailbox(following ? state.followingMailbox : state.presentMailbox, taken.section);
}

bool HandleEventSection(PluginState& state, View kind, char* shown) {
    HandedSection taken;
    // A mailbox without a whole section (nothing handed over, or a length
    // that does not match what was copied) is ignored, like a repeated one.
    if (!TakeEventSection(state, kind, taken)) return false;
    return CommitEventSection(state, kind, taken, shown);
}

bool CommitEventSection(PluginState& state, View kind, const HandedSection& taken, char* shown) {
    const bool following = kind == View::kFollowing;
    const SectionCopy& section = taken.section;
    const uint32_t key = SectionChangeKey(section.data);
    if (key == taken.lastKey) return false;

    // Large (the details): one per handler call on the window thread's
    // stack, never on the heap.
    EventOutcome out;
    FormatEvent(section.data, section.length, following, taken.style, out);

    std::lock_guard<std::mutex> guard(state.lock);
    // The service changed since the copy: the event is the old service's.
    if (state.serviceGeneration != taken.generation) return false;
    StoreEvent(state, following, out);
    if (following) {
        state.lastFollowingKey = key;
    } else {
        state.lastPresentKey = key;
    }
    if (state.view != kind) return false;
    std::memcpy(shown, out.text, sizeof out.text);
    return true;
}

namespace {

// Lock held: the formatted event becomes the stored event of its view.
void StoreEvent(PluginState& state, bool following, const EventOutcome& out) {
    if (out.hasEvent) {
        state.eventYear = out.year;
        state.eventMonth = out.month;
        state.eventDay = out.day;
        if (following) {
            state.followingStartHour = out.startHour;
            state.followingStartMinute = out.startMinute;
            state.followingStartSecond = out.startSecond;
            state.followingDurationHours = out.durationHours;
            state.followingDurationMinutes = out.durationMinutes;
        } else {
            state.presentEndHour = out.endHour;
            state.presentEndMinute = out.endMinute;
            state.presentEndSecond = out.endSecond;
        }
    }
    char* stored = following ? state.followingText : state.presentText;
    std::memcpy(stored, out.text, sizeof out.text);
    std::memcpy(following ? &state.followingDetails : &state.presentDetails, &out.details, sizeof out.details);
    std::memcpy(following ? state.followingDescription : state.presentDescription, out.fullDescription,
                sizeof out.fullDescription);
    (following ? state.followingTextCut : state.presentTextCut) = out.textCut;
}

}  // namespace

bool TakeServiceSection(PluginState& state, HandedSection& taken) {
    std::lock_guard<std::mutex> guard(state.lock);
    taken.style = state.symbolStyle;
    taken.lastKey = state.lastSdtKey;
    taken.serviceId = state.currentService;
    taken.generation = state.serviceGeneration;
    return CopySectionFromMailbox(state.sdtMailbox, taken.section);
}

bool HandleServiceSection(PluginState& state) {
    HandedSection taken;
    if (!TakeServiceSection(state, taken)) return false;
    return CommitServiceSection(state, taken);
}

bool CommitServiceSection(PluginState& state, const HandedSection& taken) {
    const SectionCopy& section = taken.section;
    const uint32_t key = SectionChangeKey(section.data);
    if (key == taken.lastKey) return false;

    char name[kServiceNameSize];
    std::memset(name, 0, sizeof name);
    FindServiceName(section.data, section.length, taken.serviceId, taken.style, name);
    std::lock_guard<std::mutex> guard(state.lock);
    // The service changed since the copy: the name and above all the key
    // (which would skip every repeat of this SDT) are not the new service's.
    if (state.serviceGeneration != taken.generation) return false;
    std::memcpy(state.serviceName, name, sizeof name);
    state.lastSdtKey = key;
    return true;
}

View PrepareCaption(PluginState& state, char* serviceName) {
    std::lock_guard<std::mutex> guard(state.lock);
    std::memcpy(serviceName, state.serviceName, kServiceNameSize);
    // The following event is shown again from its next section.
    if (state.view == View::kFollowing) state.lastFollowingKey = 0;
    return state.view;
}

View ToggleView(PluginState& state, char* shown) {
    std::lock_guard<std::mutex> guard(state.lock);
    state.view = state.view == View::kFollowing ? View::kPresent : View::kFollowing;
    const char* text = state.view == View::kFollowing ? state.followingText : state.presentText;
    std::memcpy(shown, text, kEventTextSize);
    shown[kEventTextSize - 1] = '\0';
    return state.view;
}

void CopyEventDetails(PluginState& state, View kind, StoredEventDetails& out) {
    const bool following = kind == View::kFollowing;
    std::lock_guard<std::mutex> guard(state.lock);
    std::memcpy(&out.details, following ? &state.followingDetails : &state.presentDetails, sizeof out.details);
    std::memcpy(out.description, following ? state.followingDescription : state.presentDescription,
                sizeof out.description);
    out.description[kFullDescriptionSize - 1] = '\0';
    out.textCut = following ? state.followingTextCut : state.presentTextCut;
}

namespace {

// The row of the watched service's list that follows the programme on air
// at `now` (Japan seconds): the one after the programme on air, or the next
// to start when none is; without a clock, the one after the present
// section's programme. -1 when the list holds none of determined start.
int32_t FollowingRow(const GuideStore& guide, int32_t service, int32_t count, int64_t now) {
    int32_t row = -1;
    ScheduleEventRef ref;
    if (now >= 0) {
        row = GuideServiceFirstRowEndingAfter(guide, service, now);
        if (GuideServiceRow(guide, service, row, ref) && ref.startDetermined && ref.start <= now) ++row;
    } else {
        for (int32_t i = 0; i < count && row < 0; ++i) {
            if (GuideServiceRow(guide, service, i, ref) && ref.present) row = i + 1;
        }
    }
    if (!GuideServiceRow(guide, service, row, ref) || !ref.startDetermined) return -1;
    return row;
}

// The event `ref` of a held section, alone in a section of its own (the
// held section's header, the event, room for the CRC_32): what a following
// section carrying that event holds for FormatEvent. Returns its size, 0
// when the event is no longer there.
int32_t EventAlone(const uint8_t* section, int32_t size, const ScheduleEventRef& ref, uint8_t* out) {
    EitEventEntry entry;
    if (size < kEitSectionHeaderSize || !ReadEitEventAt(section, size, ref.offset, entry)) return 0;
    const int32_t loop = entry.descriptorsLength;
    const int32_t total = kEitSectionHeaderSize + kEitEventHeaderSize + loop + kCrcSize;
    if (total > kMaxSectionSize) return 0;
    std::memcpy(out, section, kEitSectionHeaderSize);
    uint8_t* event = out + kEitSectionHeaderSize;
    std::memcpy(event, section + ref.offset, kEitEventHeaderSize);
    // The loop as far as the held section carries it.
    event[10] = static_cast<uint8_t>((event[10] & 0xF0) | ((loop >> 8) & 0x0F));
    event[11] = static_cast<uint8_t>(loop & 0xFF);
    std::memcpy(event + kEitEventHeaderSize, entry.descriptors, static_cast<size_t>(loop));
    std::memset(event + kEitEventHeaderSize + loop, 0, kCrcSize);
    const int32_t sectionLength = total - kSectionHeaderSize;
    out[1] = static_cast<uint8_t>((out[1] & 0xF0) | ((sectionLength >> 8) & 0x0F));
    out[2] = static_cast<uint8_t>(sectionLength & 0xFF);
    return total;
}

}  // namespace

bool FollowingFromGuide(PluginState& state, char* shown) {
    int32_t serviceId;
    uint32_t generation;
    SymbolStyle style;
    int64_t now;
    {
        std::lock_guard<std::mutex> guard(state.lock);
        if (state.view != View::kFollowing || state.followingText[0] != '\0') return false;
        serviceId = state.currentService;
        generation = state.serviceGeneration;
        style = state.symbolStyle;
        now = BroadcastNow(state);
    }
    // The store's tables are the window thread's; only its entries are
    // shared, and SyncGuide takes the lock for them.
    SyncGuide(state);
    const GuideStore& guide = state.guide;
    const int32_t service = GuideWatchedService(guide);
    GuideServiceInfo info;
    if (!GuideServiceAt(guide, service, info) || info.key.serviceId != serviceId) return false;
    const int32_t row = FollowingRow(guide, service, info.listCount, now);
    ScheduleEventRef ref;
    const EitScheduleService* schedule = GuideServiceSchedule(guide, service);
    if (row < 0 || schedule == nullptr || !GuideServiceRow(guide, service, row, ref)) return false;
    int32_t size = 0;
    const uint8_t* section = ScheduleSection(*schedule, ref.slot, size);
    if (section == nullptr) return false;
    // Large: one of each on the window thread's stack for this call.
    uint8_t alone[kMaxSectionSize];
    const int32_t length = EventAlone(section, size, ref, alone);
    if (length == 0) return false;
    EventOutcome out;
    FormatEvent(alone, length, true, style, out);
    if (!out.hasEvent) return false;
    // The details as the guide holds them: the extended schedule's items
    // when the basic section carries none.
    EitEventRecord record;
    if (ReadGuideServiceEvent(guide, service, ref, record)) EitEventDetails(record, style, out.details);

    std::lock_guard<std::mutex> guard(state.lock);
    // A service change or the following section itself came meanwhile.
    if (state.serviceGeneration != generation || state.view != View::kFollowing || state.followingText[0] != '\0') {
        return false;
    }
    // Stored as a section's event, but no change key: the following
    // section, when it comes, is formatted and replaces it.
    StoreEvent(state, true, out);
    std::memcpy(shown, out.text, sizeof out.text);
    return true;
}
