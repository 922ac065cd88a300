#include "text/service_name.h"

#include "plugin/plugin_state.h"

void HandleServiceName(PluginState&) {}
void UpdateCaption(PluginState&) {}
