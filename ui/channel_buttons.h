// The twelve channel buttons and the settings that shape the window: the
// dialog template, the button labels, the circled label of the channel on
// air.
#ifndef KESTRIN_UI_CHANNEL_BUTTONS_H
#define KESTRIN_UI_CHANNEL_BUTTONS_H

#include <cstdint>

struct PluginState;

// Control ids of channel buttons 1..12 (not contiguous: 1011 is the clock).
extern const int32_t kChannelButtonIds[12];

// Index 0..11 of a channel button, or -1.
int32_t ChannelButtonIndex(int32_t controlId);

// Template id for a "Font" value: 1 -> 101, 2 -> 103, anything else -> 102.
int32_t TemplateForChoice(int32_t choice);

// Reads the settings the window is created from; returns the dialog
// template id to create (101, 102, 103).
int32_t LoadSettingsBeforeWindow(PluginState& state);

// After the window is created, on its thread: "CH1".."CH12" into the
// channel table (published under the lock), the buttons outside 13..62 get
// the blank label " ", and the buttons of the channel the host has reported
// so far show it circled, whenever that report came.
void LoadChannelTable(PluginState& state);

// IDTVPlugin::OnChannelChange, on whatever thread the host calls it: the
// per-service resets, then WM_CHANNEL_LABELS to the window when a button
// carries the new channel (also when it is reported again) or, after a
// change, the old one, and WM_SERVICE_VIEW when the window may still show
// the old service's programme (a label set from here would wait for the
// window's thread). Returns 1.
int32_t PluginOnChannelChange(PluginState& state, int32_t channel, int32_t serviceId);

// WM_CHANNEL_LABELS, on the window's thread: the buttons of the channel
// circled so far get their number back and those of the current channel
// show it circled. However many changes came before the message, the
// labels end on the channel current when it is handled.
void RelabelChannelButtons(PluginState& state);

#endif
