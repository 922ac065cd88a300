// The programme guide window: what it shows and does, without Win32.
//
// Opened from the viewer's menu on the programme text (IDC_GUIDE_OPEN). A
// grid (ui/guide_grid.h) of the services the guide holds, one column each,
// ordered as the channel buttons, time running down, a tab for each day held,
// filled as schedule sections arrive; the details of the selected programme
// (the tooltip's text); "録画予約", which asks the host to record the
// selected programme (WM_RECORD_REQUEST, as the viewer's present or
// following view asks for it); a double-click on a service's name asks the
// host to tune to its channel, as the channel buttons do; and a status line.
// Its position and size are kept in Kestrin.ini, section "GUIDE", keys
// "Left", "Top", "Width" and "Height".
//
// The window's state (GuideViewState) is kept by the platform with the
// window (Platform::GuideView()); every function here is a no-op without it.
// Every function runs on the viewer's window thread; the lock is taken only
// to copy from the state.
#ifndef KESTRIN_UI_GUIDE_VIEW_H
#define KESTRIN_UI_GUIDE_VIEW_H

#include <cstdint>

#include "ui/guide_grid.h"
#include "ui/guide_source.h"

struct PluginState;
struct ScheduleEventRef;
struct WindowPlacement;

// Why a programme cannot be requested, or kRequestable.
enum class GuideRequestStatus {
    kRequestable,
    kNoSelection,
    kStartUndetermined,
    kTooFarAhead,  // starts more than 65,535 s ahead: the word holds 16 bits
    kNoClock,      // no TOT yet
    kEnded,
    kOtherService,  // the host records only the service it receives
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

const int32_t kGuideStatusSize = 128;

// The guide window's own state, kept with the window.
struct GuideViewState {
    bool open = false;
    bool placed = false;  // the first day and hour were chosen
    GridViewport viewport = DefaultGridViewport(0, 0);
    GridSelection selection = kNoGridSelection;
    // The selected programme's service: the selection follows it when the
    // columns change.
    uint16_t selectedNetwork = 0;
    uint16_t selectedStream = 0;
    uint16_t selectedService = 0;
    uint32_t shownRevision = 0;
    GuideColumns columns;
    GridDays days;
    char status[kGuideStatusSize] = {};
    // The last layout drawn; clicks are tested against it.
    GridLayout layout;
    // What the mouse wheel turned short of a whole minute.
    int32_t wheelRemainder = 0;
};

// The viewer's menu item 番組表: opens the guide window, or brings it to the
// front.
void OpenGuide(PluginState& state);
// WM_INITDIALOG of the guide window: takes the sections waiting (their
// message may have been lost) and fills it. The shell has placed it at
// GuidePosition() and given it GuideSize(), brought onto a monitor as the
// viewer is.
void GuideInitialised(PluginState& state);
// Where the guide window opens ("GUIDE" Left/Top, default 0, 0) and its
// size ("Width"/"Height"; 0 when not saved: the template's).
void GuidePosition(PluginState& state, int32_t& left, int32_t& top);
void GuideSize(PluginState& state, int32_t& width, int32_t& height);
// WM_MOVE: how the window is shown now. Its left/top are written to the
// file as the viewer's are (PositionToSave): the normal position only,
// nothing while it is minimised and parked off every monitor.
void GuideMoved(PluginState& state, const WindowPlacement& placement);
// WM_SIZE: its normal size is written ("Width", "Height"), with the same
// guards.
void GuideResized(PluginState& state, const WindowPlacement& placement);
// WM_DESTROY of the guide window.
void GuideClosed(PluginState& state);

// WM_GUIDE_READY: takes the handed-over sections; an open window follows.
// The table is saved to its cache file when the periodic save is due; a
// file that could not be read is read again then instead (WM_GUIDE_CACHE
// follows), and saved over only at a later turn, once it was read.
void HandleGuideSections(PluginState& state);

// The programme table's cache file (plugin/guide_keeper.h). When the viewer
// window is created: starts reading it (WM_GUIDE_CACHE follows).
void StartGuideTableLoad(PluginState& state);
// WM_GUIDE_CACHE: reads a step; posts itself again while there is more.
// At the end the guide shows what was read, and the status line what
// became of a file that could not be used.
void HandleGuideCacheStep(PluginState& state);
// The viewer closes or the plug-in goes: the table is saved now.
void SaveGuideTableNow(PluginState& state);

// The grid's client area changed, and the font's average character width
// and line height.
void GuideGridResized(PluginState& state, int32_t width, int32_t height, int32_t charWidth, int32_t lineHeight);
// The grid for the current viewport and broadcast clock (WM_PAINT); null
// without a window. Its cells are the first pass: GuideLayoutNextCells
// gives the next in the same layout, null after the last.
const GridLayout* GuideLayout(PluginState& state);
const GridLayout* GuideLayoutNextCells(PluginState& state);
// The user scrolled to this minute of the day and first column.
void GuideScrolled(PluginState& state, int32_t firstMinute, int32_t firstColumn);
// The mouse wheel turned by `delta` (WM_MOUSEWHEEL's, 120 a notch: an hour;
// less from fine wheels and touchpads, which add up).
void GuideWheel(PluginState& state, int32_t delta);
// The date tab `day` (an index into the days held) was chosen.
void GuideDaySelected(PluginState& state, int32_t day);

// A click at (x, y) of the grid: a programme is selected, its details and
// the button follow.
void GuideClicked(PluginState& state, int32_t x, int32_t y);
// A double-click: on a service's name, the host is asked to tune to its
// channel when it is known.
void GuideDoubleClicked(PluginState& state, int32_t x, int32_t y);
// Arrows, Page Up/Down, Home (see MoveGridSelection).
void GuideKeyPressed(PluginState& state, GridKey key);
// Selects programme `index` of `column` (-1: none).
void GuideSelectProgramme(PluginState& state, int32_t column, int32_t index);

// IDC_GUIDE_REQUEST or Enter: posts the request for the selected programme
// when it can be requested, and the status line says what was asked for
// (title, day, start and length in minutes); otherwise the status line says
// why not, as it does when such a programme is chosen by click or key.
void GuideRequestPressed(PluginState& state);

// The status line's text (Shift_JIS), e.g. what became of the saved guide.
void GuideStatusText(PluginState& state, const char* text);

#endif
