#include "plugin/settings.h"

#include "plugin/plugin_state.h"

int32_t LoadSettingsBeforeWindow(PluginState&) { return 102; }
void LoadChannelTable(PluginState&) {}
int32_t TemplateForChoice(int32_t) { return 102; }
void SaveWindowPosition(PluginState&) {}
void SaveTemplateChoice(PluginState&) {}
void ReadRecordingSettings(PluginState&, char* d, uint32_t, char* f, uint32_t) { d[0] = f[0] = '\0'; }
