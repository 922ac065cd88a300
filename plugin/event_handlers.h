// The window thread's side of the hand-over: take a section out of its
// mailbox, format it with text/, and commit the result to the state. The
// handlers take PluginState::lock themselves, only to copy in and out; they
// return what the window is to show, and the caller changes the controls
// after the lock is released.
#ifndef KESTRIN_PLUGIN_EVENT_HANDLERS_H
#define KESTRIN_PLUGIN_EVENT_HANDLERS_H

#include <cstdint>

#include "plugin/plugin_state.h"

// What a handler copies under the lock before it formats without it.
struct HandedSection {
    SectionCopy section;
    uint32_t lastKey;     // change key of the section taken last
    int32_t serviceId;    // the current service at the copy
    SymbolStyle style;
    uint32_t generation;  // PluginState::serviceGeneration at the copy
};

// The handlers below in their two halves: the copy out of the mailbox, then
// the formatting and the commit, which is dropped (false) when a service
// change came in between.
bool TakeEventSection(PluginState& state, View kind, HandedSection& taken);
bool CommitEventSection(PluginState& state, View kind, const HandedSection& taken, char* shown);
bool TakeServiceSection(PluginState& state, HandedSection& taken);
bool CommitServiceSection(PluginState& state, const HandedSection& taken);

// WM_EIT_PRESENT_READY (kind kPresent) or WM_EIT_FOLLOWING_READY
// (kFollowing): formats and stores the event of the handed-over section
// unless its change key is the one already shown. True when the text belongs
// to the view on screen; `shown` then holds it.
bool HandleEventSection(PluginState& state, View kind, char* shown);

// WM_SDT_READY: stores the name of the current service from the handed-over
// section unless its change key is the one already taken. True when the
// caption is to be written again.
bool HandleServiceSection(PluginState& state);

// The caption's inputs for the view on screen: copies the service name
// (kServiceNameSize bytes) and returns the view. In the following view the
// following event is collected from its next start and shown even if it is
// unchanged since the last time.
View PrepareCaption(PluginState& state, char* serviceName);

// Switches between the present and the following event; copies the text of
// the new view into `shown` (kEventTextSize bytes) and returns the new view.
View ToggleView(PluginState& state, char* shown);

// The following view while no following section has come for the watched
// service: its programme after the one on air, as the guide holds it,
// formatted as a following section carrying that event is (the same text),
// and stored as the following event without a change key, so that the
// section replaces it when it comes. True when stored; `shown`
// (kEventTextSize bytes) then holds the text. False in the present view,
// when the following event is there, or when the guide holds no such
// programme of this service.
bool FollowingFromGuide(PluginState& state, char* shown);

// What the tooltip of one stored event is made of.
struct StoredEventDetails {
    EventDetails details;
    char description[kFullDescriptionSize];  // the short event text, whole
    bool textCut;                            // the event text shows it cut
};

// Copies the details of the stored event of `kind` (empty before its first
// section and after a service change).
void CopyEventDetails(PluginState& state, View kind, StoredEventDetails& out);

#endif
