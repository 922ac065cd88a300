// What the viewer shows of the programme: the event text and its tooltip,
// the caption with the service name, the view button's label and the
// broadcast clock. Each operation takes PluginState::lock only inside the
// plug-in's handlers and changes the controls after it is released.
//
// The tooltip of IDC_INFO_TEXT follows the event text: whenever the text of
// an event is put there, the tooltip gets that event's details (genres,
// extended event items and text) and, when the event text shows the short
// description cut (EventOutcome::textCut), the whole description. An event
// with neither gets an empty tooltip, which the window does not show.
#ifndef KESTRIN_UI_PROGRAMME_DISPLAY_H
#define KESTRIN_UI_PROGRAMME_DISPLAY_H

#include <cstdint>

struct PluginState;

// The tooltip of the event text, terminator included: about fifty lines of
// kTooltipLineWidth bytes. A longer text ends at a whole character.
const int32_t kTooltipTextSize = 4096;

// WM_EIT_PRESENT_READY: the present event, then one tick of the clock
// (every present message moves the clock on, whether or not the event
// changed).
void HandlePresentEvent(PluginState& state);
// WM_EIT_FOLLOWING_READY.
void HandleFollowingEvent(PluginState& state);
// WM_SDT_READY: the service name, then the caption.
void HandleServiceName(PluginState& state);

// Writes the caption and the view button's label for the view on screen
// (and keeps that view as PluginState::shownView); in the following view
// the following event is collected afresh.
void UpdateCaption(PluginState& state);

// IDC_PRESENT_FOLLOWING: the other view's text and tooltip, then the
// caption. The other view is the one the window's button does not name,
// also while a service change waits for WM_SERVICE_VIEW. The following view
// before its first following section shows the guide's programme after the
// one on air (FollowingFromGuide) until that section comes.
void ShowOtherView(PluginState& state);

// WM_SERVICE_VIEW, posted after a service change emptied the stored events
// while the window still showed the old service's: the event text and
// tooltip of the view in the state (after the change the present view,
// empty until the new service's event arrives), then the caption and the
// view button's label.
void ShowServiceView(PluginState& state);

// Advances the clock and shows it on IDC_CLOCK.
void TickBroadcastClock(PluginState& state);

#endif
