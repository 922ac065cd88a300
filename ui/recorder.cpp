#include "ui/recorder.h"

#include "plugin/plugin_state.h"

void StartStopRecording(PluginState&) {}
void ApplyRecordLabel(PluginState&) {}
