#include "ui/viewer_menu.h"

#include "plugin/plugin_state.h"
#include "ui/caption_view.h"
#include "ui/guide_view.h"
#include "ui/resource.h"

namespace {

const char kCaptionsLabel[] = "\x8E\x9A\x96\x8B";  // 字幕
const char kGuideLabel[] = "\x94\xD4\x91\x67\x95\x5C(&G)";  // 番組表(&G)

}  // namespace

int32_t ViewerMenuItems(const PluginState& s, ViewerMenuItem* items, int32_t capacity) {
    int32_t n = 0;
    if (n < capacity) items[n++] = ViewerMenuItem{IDM_VIEWER_CAPTIONS, kCaptionsLabel, s.captionViewOpen};
    // Opens the guide, or brings it to the front: never a switch, so never checked.
    if (n < capacity) items[n++] = ViewerMenuItem{IDC_GUIDE_OPEN, kGuideLabel, false};
    return n;
}

bool ViewerMenuCommand(PluginState& s, int32_t id) {
    switch (id) {
        case IDM_VIEWER_CAPTIONS:
            ToggleCaptionView(s);
            return true;
        case IDC_GUIDE_OPEN:
            OpenGuide(s);
            return true;
        default:
            return false;
    }
}
