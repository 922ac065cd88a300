// EIT present/following: the event text of the viewer window.
#ifndef KESTRIN_TEXT_EVENT_FORMATTER_H
#define KESTRIN_TEXT_EVENT_FORMATTER_H

#include <cstdint>

struct PluginState;

// Modified Julian Date to year, month, day (ARIB STD-B10 / EN 300 468 Annex C).
void MjdToDate(uint16_t mjd, int32_t& year, int32_t& month, int32_t& day);

// Window-thread handlers of WM_EIT_PRESENT_READY and WM_EIT_FOLLOWING_READY.
// They take PluginState::lock themselves and read the section from the
// present or following mailbox. The present handler ends with
// TickBroadcastClock.
void HandlePresentEvent(PluginState& state);
void HandleFollowingEvent(PluginState& state);

#endif
