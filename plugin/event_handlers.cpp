#include "plugin/event_handlers.h"

#include <cstring>
#include <mutex>

#include "plugin/section_mailbox.h"
#include "text/event_formatter.h"
#include "text/service_name.h"
#include "ts/section.h"

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
    if (following) {
        state.lastFollowingKey = key;
    } else {
        state.lastPresentKey = key;
    }
    if (state.view != kind) return false;
    std::memcpy(shown, out.text, sizeof out.text);
    return true;
}

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
