// The programme guide window: what it shows and does, without Win32.
//
// Opened from the viewer's menu on the programme text (IDC_GUIDE_OPEN). A
// list of the watched service's programmes (date, start-end, title with the
// ARIB additional symbols as [字]-style text, genre) that fills as schedule
// sections arrive and starts again on a service change; the details of the
// selected programme (the tooltip's text); and "録画予約", which asks the
// host to record the selected programme (WM_RECORD_REQUEST, as the
// viewer's present or following view asks for it). Its position is kept in
// Kestrin.ini, section "GUIDE", keys "Left" and "Top".
//
// Every function runs on the viewer's window thread; the lock is taken only
// to copy from the state.
#ifndef KESTRIN_UI_GUIDE_VIEW_H
#define KESTRIN_UI_GUIDE_VIEW_H

#include <cstdint>

struct PluginState;
struct ScheduleEventRef;
struct WindowPlacement;

const int32_t kGuideColumns = 4;  // date, start-end, title, genre
// Why a programme cannot be requested, or kRequestable.
enum class GuideRequestStatus {
    kRequestable,
    kNoSelection,
    kStartUndetermined,
    kTooFarAhead,  // starts more than 65,535 s ahead: the word holds 16 bits
    kNoClock,      // no TOT yet
    kEnded,
};

// The request word for a programme at broadcast time `now` (Japan seconds,
// -1 unknown). One that has not started, as the following view asks: high
// word the seconds until its start less 11 (at least 0), low word its
// duration in minutes plus 1 (180 when undetermined). One on air, as the
// present view asks: the minutes until its end, rounded up (180 when
// undetermined), high word 0.
GuideRequestStatus ComputeGuideRequest(const ScheduleEventRef& event, int64_t now, uint32_t& word);

// The button's label for a status (Shift_JIS).
const char* GuideRequestLabel(GuideRequestStatus status);

// The viewer's menu item 番組表: opens the guide window, or brings it to the
// front.
void OpenGuide(PluginState& state);
// WM_INITDIALOG of the guide window: takes the sections waiting (their
// message may have been lost) and fills it. The shell has placed it at
// GuidePosition(), brought onto a monitor as the viewer is.
void GuideInitialised(PluginState& state);
// Where the guide window opens ("GUIDE" Left/Top, default 0, 0).
void GuidePosition(PluginState& state, int32_t& left, int32_t& top);
// WM_MOVE: how the window is shown now. Its left/top are written to the
// file as the viewer's are (PositionToSave): the normal position only,
// nothing while it is minimised and parked off every monitor.
void GuideMoved(PluginState& state, const WindowPlacement& placement);
// WM_DESTROY of the guide window.
void GuideClosed(PluginState& state);

// WM_GUIDE_READY: takes the handed-over sections; an open window follows.
void HandleGuideSections(PluginState& state);

// The list view asks for a cell (LVN_GETDISPINFO): Shift_JIS into `out`
// (`capacity` bytes, always terminated). Returns the length.
int32_t GuideRowText(PluginState& state, int32_t row, int32_t column, char* out, int32_t capacity);

// The selection moved to `row` (-1 none): details and button follow.
void GuideRowSelected(PluginState& state, int32_t row);

// IDC_GUIDE_REQUEST: posts the request for the selected programme when it
// can be requested.
void GuideRequestPressed(PluginState& state);

#endif
