// The programme guide as a grid: one column per service, time running down,
// one band per hour. Pure functions: programmes (read lazily through a
// GridSource, only for the time shown) and a viewport go in, cells with
// rectangles, cut texts and colours come out; keyboard moves and hit tests
// work on the same. No plug-in state, no platform: the window draws what
// this decides.
//
// Times are Japan seconds since 1970 (the broadcast's own time, as the EIT
// carries it). A day runs from midnight to midnight; the grid shows one day
// at a time and scrolls within it.
#ifndef KESTRIN_UI_GUIDE_GRID_H
#define KESTRIN_UI_GUIDE_GRID_H

#include <cstdint>

#include "ui/grid_text.h"

// Fixed sizes of the layout: what does not fit is left out, never written
// past an array. A source has at most kGridMaxColumns columns: every service
// the guide's largest budget holds has one (ui/guide_source.cpp checks).
// The cells come in passes of at most kGridMaxCells (NextGridCells), so a
// view with more of them is drawn whole all the same.
const int32_t kGridMaxColumns = 512;
const int32_t kGridMaxCells = 512;
const int32_t kGridMaxDays = 10;
const int32_t kGridCellTextSize = 96;   // a cell's cut text, lines joined by '\n'
const int32_t kGridNameSize = 64;       // a column's service name
const int32_t kGridLabelSize = 16;      // "12/08(火)", "21"
const int32_t kGridHourBands = 26;      // a day's hours, cut at both ends
// Genres: the content descriptor's level-1 nibble 0-15, or none.
const int32_t kGridNoGenre = 16;
const int32_t kGridGenreColours = 17;
// A programme whose duration is unknown is drawn up to the next one's start,
// at most this long.
const int32_t kGridUnknownDuration = 3600;
// Programmes looked at in one column for one question, however many the
// source claims: a bound on the window thread's work.
const int32_t kGridScanLimit = 4096;

// A programme as the source gives it.
struct GridProgramme {
    int32_t id;            // the caller's, given back in cells, hits and moves
    bool startDetermined;  // an undetermined start is never placed
    int64_t start;         // Japan seconds
    int32_t duration;      // seconds, 0 unknown
    int32_t genre;         // level-1 nibble 0-15, or kGridNoGenre
    bool onAir;            // the broadcaster says so (present section)
};

struct GridColumnInfo {
    char name[kGridNameSize];  // Shift_JIS, terminated
    bool tunable;              // a header double-click can tune it
};

// The programmes of each column in start order, read on demand. `context`
// is handed to each function. firstEndingAfter may be null (then the
// column is scanned from its start).
struct GridSource {
    void* context;
    int32_t columns;
    bool (*column)(void* context, int32_t column, GridColumnInfo& out);
    int32_t (*count)(void* context, int32_t column);
    // The first index whose programme ends after `time` (count when none).
    int32_t (*firstEndingAfter)(void* context, int32_t column, int64_t time);
    bool (*programme)(void* context, int32_t column, int32_t index, GridProgramme& out);
    // The title, Shift_JIS, additional symbols as readable text; returns its length.
    int32_t (*title)(void* context, int32_t column, int32_t index, char* out, int32_t capacity);
};

// What is shown and how large, in pixels.
struct GridViewport {
    int64_t dayStart;      // Japan seconds of the midnight of the day shown
    int32_t firstMinute;   // minute of that day at the top of the grid
    int32_t firstColumn;   // first column shown
    int32_t width;         // client area
    int32_t height;
    int32_t pixelsPerHour;
    int32_t columnWidth;
    int32_t headerHeight;  // the service names' row
    int32_t axisWidth;     // the hours' column
    int32_t charWidth;     // a single-byte character; a double-byte one is twice
    int32_t lineHeight;
};

// A sensible viewport for a client area of this size.
GridViewport DefaultGridViewport(int32_t width, int32_t height);

struct GridSelection {
    int32_t column;  // -1 none
    int32_t index;
    int32_t id;
};
const GridSelection kNoGridSelection = {-1, -1, -1};

struct GridRect {
    int32_t left;
    int32_t top;
    int32_t right;   // just outside, as Win32
    int32_t bottom;
};

struct GridCell {
    GridRect rect;       // clipped to the grid's area
    int32_t column;
    int32_t index;
    int32_t id;
    int32_t genre;       // 0-15 or kGridNoGenre
    uint32_t fill;       // 0x00BBGGRR
    bool onAir;
    bool selected;
    char text[kGridCellTextSize];  // "HH:MM title", cut to the cell, lines joined by '\n'
};

struct GridHeader {
    GridRect rect;
    int32_t column;
    bool tunable;
    char name[kGridNameSize];  // cut to the header's width
};

struct GridHourBand {
    int32_t top;
    int32_t bottom;
    int32_t hour;  // 0-23
    char label[kGridLabelSize];
};

struct GridLayout {
    GridViewport view;  // as clamped
    int32_t columns;    // of the source
    GridHeader headers[kGridMaxColumns];
    int32_t headerCount;
    GridHourBand hours[kGridHourBands];
    int32_t hourCount;
    GridCell cells[kGridMaxCells];  // this pass's
    int32_t cellCount;
    int32_t clockY;     // the broadcast clock's line, -1 when unknown or off screen
    // The passes: the first is laid out by LayoutGrid, each next one by
    // NextGridCells from where the last stopped.
    int32_t pass;         // 0 the first
    bool moreCells;       // cells beyond this pass: NextGridCells lays them out
    int32_t nextColumn;   // where the next pass starts
    int32_t nextIndex;
    int32_t nextScanned;  // programmes of that column looked at already
    int64_t now;          // as given to LayoutGrid
    GridSelection selection;
};

// The days the source holds programmes on (the earliest to the latest,
// from today on when that is too many), each with its tab label.
struct GridDays {
    int64_t start[kGridMaxDays];
    char label[kGridMaxDays][kGridLabelSize];
    int32_t count;
};
void GridHeldDays(const GridSource& source, int64_t now, GridDays& days);
// "12/08(火)" (Shift_JIS) for the day starting at `dayStart`.
int32_t GridDayLabel(int64_t dayStart, char* out, int32_t capacity);
// The midnight starting the day of `time`.
int64_t GridDayOf(int64_t time);

// Brings the first column and minute into range for the source and size.
void ClampGridView(const GridSource& source, GridViewport& view);

// The grid for the viewport (clamped into `layout.view`) at broadcast time
// `now` (-1 unknown), the selection marked: the headers, hours and clock
// line, and the first pass of cells.
void LayoutGrid(const GridSource& source, const GridViewport& view, int64_t now, const GridSelection& selection,
                GridLayout& layout);
// The next pass of cells in place of the last one (headers, hours and
// clock stay): false, with nothing changed, when the last pass held every
// cell left. The window draws each pass in turn until this is false.
bool NextGridCells(const GridSource& source, GridLayout& layout);

// The cell colour of a genre (kGridNoGenre and anything out of range: the
// colour for none).
uint32_t GridGenreColour(int32_t genre);

// The legend: one entry per genre that has a name, in nibble order.
struct GridLegendEntry {
    int32_t genre;
    uint32_t colour;
    const char* name;  // Shift_JIS
};
int32_t GridLegend(GridLegendEntry* entries, int32_t capacity);


// Where a point lies.
enum class GridHitKind { kNothing, kCell, kHeader };
struct GridHit {
    GridHitKind kind;
    int32_t column;
    int32_t index;  // kCell
    int32_t id;     // kCell
};
// Against the layout's headers and the cells of its current pass.
GridHit GridHitTest(const GridLayout& layout, int32_t x, int32_t y);
// Against every pass: the layout's current one first, then the cells laid
// out again from the first pass (the layout is left at the pass hit, or at
// its last).
GridHit GridHitTestAllPasses(const GridSource& source, GridLayout& layout, int32_t x, int32_t y);

// The mouse wheel turned by `delta` (a notch is kGridWheelNotch, as Win32's
// WHEEL_DELTA; fine wheels and touchpads send a fraction of one): the
// whole minutes it is worth at `minutesPerNotch` a notch, with the delta's
// sign (forward, positive, scrolls towards the morning). What does not make
// a whole minute is kept in `remainder` for the next turn, so that small
// deltas add up; a turn the other way starts afresh.
const int32_t kGridWheelNotch = 120;
int32_t GridWheelMinutes(int32_t delta, int32_t minutesPerNotch, int32_t& remainder);

enum class GridKey { kLeft, kRight, kUp, kDown, kPageUp, kPageDown, kHome };
// Moves the selection and scrolls so that it shows. Left/Right: the
// neighbouring column's programme at the selected one's start (now, when the
// selected one is on air; the middle of the view without a selection).
// Up/Down: the previous/next programme of the column. Page Up/Down: a day
// back/forward among `days`, the programme at the same time of day. Home:
// the day and programme of `now`. Returns true when the selection or the
// view changed.
bool MoveGridSelection(const GridSource& source, const GridDays& days, int64_t now, GridKey key,
                       GridViewport& view, GridSelection& selection);

// Scrolls so that the selected programme shows (day, minute, column).
void ShowGridSelection(const GridSource& source, GridViewport& view, const GridSelection& selection);

// The programme of `column` at `time`: the one on at that time, else the
// first after it, else the last before it. False when the column has none
// that can be placed.
bool GridProgrammeAt(const GridSource& source, int32_t column, int64_t time, GridSelection& out);

#endif
