#include "plugin/guide_store.h"

#include "plugin/plugin_state.h"
#include "plugin/section_handover.h"

void ForgetServiceGuide(PluginState& s) {
    ResetLowerLayerEit(s.mediumEit);
    ResetLowerLayerEit(s.lowEit);
}
