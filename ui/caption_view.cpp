#include "ui/caption_view.h"

#include "plugin/caption_handover.h"
#include "plugin/caption_reader.h"
#include "plugin/plugin_state.h"
#include "plugin/settings.h"
#include "ui/resource.h"

namespace {

// IDCANCEL: the caption window's close box or the Esc key.
const int32_t kCancelCommand = 2;
// The hold button says what a press does: 固定 holds the recent lines still,
// 更新 lets them follow the captions again.
const char kHoldLabel[] = "\x8C\xC5\x92\xE8";
const char kFollowLabel[] = "\x8D\x58\x90\x56";

void ShowCurrent(PluginState& s) {
    s.platform->SetCaptionControlText(IDC_CAPTION_CURRENT, s.captionReader.store.current);
}

void ShowRecentLines(PluginState& s) {
    FormatRecentLines(s.captionReader.store, s.captionRecentText, kCaptionRecentTextSize);
    s.platform->SetCaptionControlText(IDC_CAPTION_LINES, s.captionRecentText);
}

// Opens the window and starts the hand-over; false when no window came.
bool Open(PluginState& s) {
    if (s.captionViewOpen) return true;
    if (!s.platform->OpenCaptionWindow()) return false;
    s.captionViewOpen = true;
    s.captionLinesHeld = false;
    s.platform->SetCaptionControlText(IDC_CAPTION_HOLD, kHoldLabel);
    ShowCurrent(s);
    ShowRecentLines(s);
    WantCaptions(s, true);
    return true;
}

}  // namespace

void StartCaptionView(PluginState& s) {
    const int32_t lines = ReadCaptionSettings(s);
    if (!s.captionViewOpen) ClearCaptionStore(s.captionReader.store, lines);
    if (s.captionViewWanted) Open(s);
}

void ToggleCaptionView(PluginState& s) {
    if (s.captionViewOpen) {
        CloseCaptionView(s);
    } else {
        OpenCaptionView(s);
    }
}

void OpenCaptionView(PluginState& s) {
    if (s.captionViewOpen) return;
    if (Open(s)) SaveCaptionViewShown(s, true);
}

void CloseCaptionView(PluginState& s) {
    if (!s.captionViewOpen) return;
    // Marked closed first: destroying the window reports its end again.
    s.captionViewOpen = false;
    WantCaptions(s, false);
    s.platform->CloseCaptionWindow();
    SaveCaptionViewShown(s, false);
}

void CaptionViewCommand(PluginState& s, int32_t id) {
    if (id == kCancelCommand) {
        CloseCaptionView(s);
        return;
    }
    if (id != IDC_CAPTION_HOLD || !s.captionViewOpen) return;
    s.captionLinesHeld = !s.captionLinesHeld;
    s.platform->SetCaptionControlText(IDC_CAPTION_HOLD, s.captionLinesHeld ? kFollowLabel : kHoldLabel);
    // Following again: the lines that came meanwhile appear at once.
    if (!s.captionLinesHeld) ShowRecentLines(s);
}

void CaptionViewDestroyed(PluginState& s) {
    if (!s.captionViewOpen) return;
    s.captionViewOpen = false;
    WantCaptions(s, false);
}

void HandleCaptionReady(PluginState& s) {
    if (!ReadHandedCaptions(s) || !s.captionViewOpen) return;
    ShowCurrent(s);
    if (!s.captionLinesHeld) ShowRecentLines(s);
}
