#include "ui/viewer_menu.h"

#include "plugin/plugin_state.h"
#include "ui/caption_view.h"
#include "ui/resource.h"

namespace {

const char kCaptionsLabel[] = "\x8E\x9A\x96\x8B";  // 字幕

}  // namespace

int32_t ViewerMenuItems(const PluginState& s, ViewerMenuItem* items, int32_t capacity) {
    int32_t n = 0;
    if (n < capacity) items[n++] = ViewerMenuItem{IDM_VIEWER_CAPTIONS, kCaptionsLabel, s.captionViewOpen};
    return n;
}

bool ViewerMenuCommand(PluginState& s, int32_t id) {
    switch (id) {
        case IDM_VIEWER_CAPTIONS:
            ToggleCaptionView(s);
            return true;
        default:
            return false;
    }
}
