#include "ui/record_request.h"

#include "plugin/plugin_state.h"

bool ComputeRecordingRequest(const PluginState&, uint32_t&) { return false; }
void SendRecordingRequest(PluginState&) {}
