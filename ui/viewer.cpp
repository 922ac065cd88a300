#include "ui/viewer.h"

#include "plugin/plugin_state.h"

void ViewerInitialised(PluginState&) {}
void ViewerMoved(PluginState&) {}
void ViewerCommand(PluginState&, int32_t) {}
bool ViewerPrivateMessage(PluginState&, uint32_t) { return false; }
