// The settings file "Kestrin.ini" beside the host's executable.
#ifndef KESTRIN_PLUGIN_SETTINGS_H
#define KESTRIN_PLUGIN_SETTINGS_H

#include <cstdint>

struct PluginState;

// Steps before the window is created: settings path, "Left"/"Top" with their
// clamps, "Font" (kept as read in templateChoice), "Symbols" (1: the ARIB
// additional symbols as bracketed text), "[GUIDE] MemoryMB" (the guide's
// budget, 4..256, default 32: see guide_store.h). When the platform reports the
// executable's path cut short by its 260-byte buffer, or the settings path
// would not fit 260 bytes, the settings path stays empty: every read then
// gives its default and nothing is written.
void LoadWindowSettings(PluginState& state);

// "CH1".."CH12" into `table` (kChannelButtonCount entries); the caller
// publishes it as the channel table.
void ReadChannelTable(PluginState& state, int32_t* table);

// True for a channel a button can tune (13..62).
bool IsTunableChannel(int32_t channel);

// Keeps the window's left/top and writes "Left" and "Top": the normal
// position only (the restored one of a maximised window); nothing while the
// window is minimised, so that Win32's parking position (-32000, -32000)
// never reaches the file.
void SaveWindowPosition(PluginState& state);

// Whether GetModuleFileNameA's result of `length` characters in a buffer of
// `size` bytes is the whole path. Truncation returns size (older systems
// leave the error unset and the buffer unterminated) or, on some systems,
// size - 1 with ERROR_INSUFFICIENT_BUFFER; size - 1 without that error is a
// whole path that exactly fills the buffer. 0 is a failure.
bool ModuleFileNameIsWhole(uint32_t length, uint32_t size, bool insufficientBuffer);

// Writes "Font" with the template choice as read.
void SaveTemplateChoice(PluginState& state);

// "Directory" (default "C:\", 260 bytes) and "Filename" (default empty,
// 100 bytes) from section "1Seg".
void ReadRecordingSettings(PluginState& state, char* directory, uint32_t directorySize,
                           char* fileName, uint32_t fileNameSize);

// "Captions" (1: the caption view opens with the viewer, default 0) into
// captionViewWanted, and "CaptionLines" (recent lines the caption view
// keeps, 1..200, default 200; anything else gives the default) as the return
// value. Both from section "DISPLAY".
int32_t ReadCaptionSettings(PluginState& state);

// Writes "Captions": 1 when the caption view was opened, 0 when the user
// closed it, so that the next viewer opens as this one was left.
void SaveCaptionViewShown(PluginState& state, bool shown);

#endif
