// The recording request to the host (WM_RECORD_REQUEST).
#ifndef KESTRIN_UI_RECORD_REQUEST_H
#define KESTRIN_UI_RECORD_REQUEST_H

#include <cstdint>

struct PluginState;

// Computes the request word for the view the window shows (the state's
// view, or the view button's while a service change waits for
// WM_SERVICE_VIEW); false when nothing is to be posted (following view,
// undetermined start). Lock held by the caller, on the window's thread.
bool ComputeRecordingRequest(const PluginState& state, uint32_t& word);

// IDC_RECORD_REQUEST: computes the word and posts it to the owner window.
void SendRecordingRequest(PluginState& state);

#endif
