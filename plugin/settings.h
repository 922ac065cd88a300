// The settings file "Kestrin.ini" beside the host's executable.
#ifndef KESTRIN_PLUGIN_SETTINGS_H
#define KESTRIN_PLUGIN_SETTINGS_H

#include <cstdint>

struct PluginState;

// Steps before the window is created: settings path, "Left"/"Top" with their
// clamps, "Font" (kept as read in templateChoice), "Symbols" (1: the ARIB
// additional symbols as bracketed text). When the executable's
// path fills its 260-byte buffer (it may be truncated) or the settings path
// would not fit 260 bytes, the settings path stays empty: every read then
// gives its default and nothing is written.
void LoadWindowSettings(PluginState& state);

// "CH1".."CH12" into the channel table.
void ReadChannelTable(PluginState& state);

// True for a channel a button can tune (13..62).
bool IsTunableChannel(int32_t channel);

// Keeps the window's left/top and writes "Left" and "Top".
void SaveWindowPosition(PluginState& state);

// Writes "Font" with the template choice as read.
void SaveTemplateChoice(PluginState& state);

// "Directory" (default "C:\", 260 bytes) and "Filename" (default empty,
// 100 bytes) from section "1Seg".
void ReadRecordingSettings(PluginState& state, char* directory, uint32_t directorySize,
                           char* fileName, uint32_t fileNameSize);

#endif
