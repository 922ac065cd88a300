#include "plugin/event_handlers.h"

#include <cstring>
#include <mutex>

#include "plugin/section_mailbox.h"
#include "text/event_formatter.h"
#include "text/service_name.h"
#include "ts/section.h"

bool HandleEventSection(PluginState& state, View kind, char* shown) {
    const bool following = kind == View::kFollowing;
    SectionCopy section;
    uint32_t lastKey = 0;
    bool haveSection = false;
    SymbolStyle style = SymbolStyle::kUserDefined;
    {
        std::lock_guard<std::mutex> guard(state.lock);
        style = state.symbolStyle;
        haveSection = CopySectionFromMailbox(following ? state.followingMailbox : state.presentMailbox, section);
        lastKey = following ? state.lastFollowingKey : state.lastPresentKey;
    }
    // A mailbox without a whole section (nothing handed over, or a length
    // that does not match what was copied) is ignored, like a repeated one.
    if (!haveSection) return false;
    const uint32_t key = SectionChangeKey(section.data);
    if (key == lastKey) return false;

    // Large (the details): one per handler call on the window thread's
    // stack, never on the heap.
    EventOutcome out;
    FormatEvent(section.data, section.length, following, style, out);

    std::lock_guard<std::mutex> guard(state.lock);
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

bool HandleServiceSection(PluginState& state) {
    SectionCopy section;
    uint32_t lastKey = 0;
    int32_t serviceId = 0;
    bool haveSection = false;
    SymbolStyle style = SymbolStyle::kUserDefined;
    {
        std::lock_guard<std::mutex> guard(state.lock);
        style = state.symbolStyle;
        haveSection = CopySectionFromMailbox(state.sdtMailbox, section);
        lastKey = state.lastSdtKey;
        serviceId = state.currentService;
    }
    if (!haveSection) return false;
    const uint32_t key = SectionChangeKey(section.data);
    if (key == lastKey) return false;

    char name[kServiceNameSize];
    std::memset(name, 0, sizeof name);
    FindServiceName(section.data, section.length, serviceId, style, name);
    std::lock_guard<std::mutex> guard(state.lock);
    std::memcpy(state.serviceName, name, sizeof name);
    state.lastSdtKey = key;
    return true;
}

View PrepareCaption(PluginState& state, char* serviceName) {
    std::lock_guard<std::mutex> guard(state.lock);
    std::memcpy(serviceName, state.serviceName, kServiceNameSize);
    if (state.view == View::kFollowing) {
        state.followingAssembler.inProgress = false;
        state.lastFollowingKey = 0;
    }
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
