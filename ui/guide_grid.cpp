#include "ui/guide_grid.h"

#include <cstdio>
#include <cstring>

#include "text/genre_names_table.h"
#include "text/shift_jis_text.h"
#include "ts/calendar.h"

namespace {

// 日 月 火 水 木 金 土, two bytes each (Shift_JIS).
const char kWeekdays[] = "\x93\xFA\x8C\x8E\x89\xCE\x90\x85\x96\xD8\x8B\xE0\x93\x79";

// Bounds on what a viewport may ask for, so that no product of its numbers
// overflows and no loop runs away.
const int32_t kLeastPixelsPerHour = 12;
const int32_t kMostPixelsPerHour = 1200;
const int32_t kLeastColumnWidth = 16;
const int32_t kMostSize = 1 << 16;
const int32_t kMinutesPerDay = 24 * 60;
// The cell's text keeps this many pixels from its left edge and top.
const int32_t kTextPadding = 2;
// Programmes looked ahead for the next start (undetermined starts come last).
const int32_t kLookAhead = 8;

constexpr uint32_t Rgb(uint32_t r, uint32_t g, uint32_t b) { return r | (g << 8) | (b << 16); }

// Light fills that black text reads on (contrast 9:1 or more), chosen so
// that every genre a viewer knows by name, "no genre" and the white of
// empty time differ clearly from each other, in normal vision and as
// protanopia, deuteranopia and tritanopia see them: at least 10 CIE76 units
// apart in each (tests/unit/ui_guide_grid_test.cpp checks it). A programme
// without a genre is a neutral grey, so that it does not pass for an empty
// slot. Indexed by the level-1 nibble; the last is for none.
const uint32_t kOtherColour = Rgb(147, 183, 135);
const uint32_t kGenreColours[kGridGenreColours] = {
    Rgb(135, 219, 255),  // 0 news: sky blue
    Rgb(135, 255, 135),  // 1 sports: green
    Rgb(171, 243, 255),  // 2 information: pale cyan
    Rgb(219, 171, 219),  // 3 drama: orchid
    Rgb(135, 171, 255),  // 4 music: cornflower
    Rgb(243, 231, 171),  // 5 variety: cream
    Rgb(159, 171, 231),  // 6 film: periwinkle
    Rgb(183, 207, 135),  // 7 animation: lime
    Rgb(147, 219, 171),  // 8 documentary: sea green
    Rgb(183, 171, 159),  // 9 theatre: taupe
    Rgb(195, 243, 207),  // A hobby, education: mint
    Rgb(135, 183, 183),  // B welfare: grey teal
    kOtherColour,        // C reserved
    kOtherColour,        // D reserved
    kOtherColour,        // E extension
    kOtherColour,        // F other: sage
    Rgb(216, 216, 216),  // none: grey
};
// The extension nibble: more genres in a further descriptor, no genre of
// its own.
const int32_t kExtensionGenre = 0xE;

int32_t Clamp(int32_t v, int32_t low, int32_t high) { return v < low ? low : (v > high ? high : v); }

int32_t ColumnCount(const GridSource& s) { return Clamp(s.columns, 0, kGridMaxColumns); }

int32_t CountOf(const GridSource& s, int32_t column) {
    if (s.count == nullptr) return 0;
    const int32_t n = s.count(s.context, column);
    return n < 0 ? 0 : n;
}

bool Read(const GridSource& s, int32_t column, int32_t index, GridProgramme& p) {
    if (s.programme == nullptr || index < 0) return false;
    std::memset(&p, 0, sizeof p);
    return s.programme(s.context, column, index, p);
}

// The start and drawn end of a programme: its duration (up to
// kGridUnknownDuration when unknown), cut at the next programme's start
// where they overlap. False when it cannot be placed: start undetermined,
// or nothing left of it (the next starts at the same second).
bool Span(const GridSource& s, int32_t column, int32_t index, int32_t count, GridProgramme& p, int64_t& end) {
    if (!Read(s, column, index, p) || !p.startDetermined) return false;
    end = p.start + (p.duration > 0 ? p.duration : kGridUnknownDuration);
    for (int32_t k = index + 1; k < count && k <= index + kLookAhead; ++k) {
        GridProgramme next;
        if (!Read(s, column, k, next) || !next.startDetermined) continue;
        if (next.start >= p.start && next.start < end) end = next.start;
        break;
    }
    return end > p.start;
}

int32_t FirstIndex(const GridSource& s, int32_t column, int64_t time, int32_t count) {
    if (s.firstEndingAfter == nullptr) return 0;
    // One earlier: a programme of unknown length the source took as ended.
    const int32_t first = s.firstEndingAfter(s.context, column, time) - 1;
    return Clamp(first, 0, count);
}

int64_t ViewTop(const GridViewport& v) { return v.dayStart + static_cast<int64_t>(v.firstMinute) * 60; }

int32_t VisibleSeconds(const GridViewport& v) {
    const int32_t pixels = v.height - v.headerHeight;
    return pixels <= 0 ? 0 : static_cast<int32_t>(static_cast<int64_t>(pixels) * 3600 / v.pixelsPerHour);
}

int32_t WholeColumns(const GridViewport& v) {
    const int32_t n = (v.width - v.axisWidth) / v.columnWidth;
    return n < 1 ? 1 : n;
}

// The y of a time inside [top, bottom] of the view.
int32_t YOf(const GridViewport& v, int64_t top, int64_t time) {
    return v.headerHeight + static_cast<int32_t>((time - top) * v.pixelsPerHour / 3600);
}

void Sanitise(GridViewport& v) {
    v.width = Clamp(v.width, 0, kMostSize);
    v.height = Clamp(v.height, 0, kMostSize);
    v.pixelsPerHour = Clamp(v.pixelsPerHour, kLeastPixelsPerHour, kMostPixelsPerHour);
    v.columnWidth = Clamp(v.columnWidth, kLeastColumnWidth, kMostSize);
    v.headerHeight = Clamp(v.headerHeight, 0, kMostSize);
    v.axisWidth = Clamp(v.axisWidth, 0, kMostSize);
    v.charWidth = Clamp(v.charWidth, 1, kMostSize);
    v.lineHeight = Clamp(v.lineHeight, 1, kMostSize);
    v.dayStart = GridDayOf(v.dayStart);
}

// The selection's programme, its index brought up to date by its id.
bool Resolve(const GridSource& s, const GridSelection& sel, int32_t& index) {
    if (sel.column < 0 || sel.column >= ColumnCount(s)) return false;
    const int32_t count = CountOf(s, sel.column);
    GridProgramme p;
    if (Read(s, sel.column, sel.index, p) && p.id == sel.id) {
        index = sel.index;
        return true;
    }
    for (int32_t i = 0; i < count && i < kGridScanLimit; ++i) {
        if (Read(s, sel.column, i, p) && p.id == sel.id) {
            index = i;
            return true;
        }
    }
    return false;
}

bool Select(const GridSource& s, int32_t column, int32_t index, GridSelection& sel) {
    GridProgramme p;
    if (!Read(s, column, index, p)) return false;
    sel.column = column;
    sel.index = index;
    sel.id = p.id;
    return true;
}

void CopyName(const char* from, char* to, int32_t capacity) {
    int32_t n = 0;
    while (from[n] != '\0' && n < capacity - 1) ++n;
    // Never end on the lead byte of a character cut in two.
    int32_t at = 0;
    while (at < n) {
        const int32_t size = IsShiftJisLeadByte(static_cast<uint8_t>(from[at])) ? 2 : 1;
        if (at + size > n) break;
        at += size;
    }
    std::memcpy(to, from, static_cast<size_t>(at));
    to[at] = '\0';
}

int32_t ColumnLeft(const GridViewport& v, int32_t column) {
    return v.axisWidth + (column - v.firstColumn) * v.columnWidth;
}

// One cell for programme `index` of `column` spanning [start, end) of the
// view [top, bottom), its y from y0 to y1.
void PutCell(const GridSource& s, GridLayout& out, int32_t column, int32_t index, const GridProgramme& p, int64_t end,
             int32_t y0, int32_t y1) {
    const GridViewport& v = out.view;
    const int32_t left = ColumnLeft(v, column);
    const int32_t right = left + v.columnWidth > v.width ? v.width : left + v.columnWidth;
    GridCell& cell = out.cells[out.cellCount++];
    cell.rect = GridRect{left, y0, right, y1};
    cell.column = column;
    cell.index = index;
    cell.id = p.id;
    cell.genre = p.genre >= 0 && p.genre < 16 ? p.genre : kGridNoGenre;
    cell.fill = GridGenreColour(cell.genre);
    // On air from its start up to, not including, its end second: at the
    // end second only the next programme is.
    cell.onAir = p.onAir || (out.now >= 0 && p.start <= out.now && out.now < end);
    cell.selected = out.selection.column == column && out.selection.id == p.id;
    // "HH:MM title", cut to the cell.
    char full[kGridCellTextSize * 3];
    const int32_t second = SecondOfDay(p.start);
    int n = std::snprintf(full, sizeof full, "%02d:%02d ", static_cast<int>(second / 3600),
                          static_cast<int>(second / 60 % 60));
    if (n < 0) n = 0;
    full[n] = '\0';
    if (s.title != nullptr) {
        char title[sizeof full];
        const int32_t capacity = static_cast<int32_t>(sizeof title);
        title[0] = '\0';
        const int32_t length = s.title(s.context, column, index, title, capacity);
        title[length >= 0 && length < capacity ? length : capacity - 1] = '\0';
        CopyName(title, full + n, static_cast<int32_t>(sizeof full) - n);
    }
    const int32_t textColumns = (right - left - 2 * kTextPadding) / v.charWidth;
    const int32_t textLines = (y1 - y0 - kTextPadding) / v.lineHeight;
    CutGridText(full, textColumns, textLines, cell.text, kGridCellTextSize);
}

// Lays cells out from the layout's next column and index (-1: the column's
// first in view) until every visible column is done or the pass is full;
// a full pass notes where the next one starts.
void LayCells(const GridSource& s, GridLayout& out) {
    const GridViewport& v = out.view;
    const int64_t top = ViewTop(v);
    const int64_t bottom = top + VisibleSeconds(v);
    const int32_t gridBottom = v.height;
    out.cellCount = 0;
    out.moreCells = false;
    for (int32_t c = out.nextColumn; c < out.columns; ++c) {
        if (c < v.firstColumn || ColumnLeft(v, c) >= v.width) break;
        const int32_t count = CountOf(s, c);
        const bool resumed = c == out.nextColumn && out.nextIndex >= 0;
        int32_t scanned = resumed ? out.nextScanned : 0;
        for (int32_t i = resumed ? out.nextIndex : FirstIndex(s, c, top, count); i < count && scanned < kGridScanLimit;
             ++i, ++scanned) {
            GridProgramme p;
            int64_t end = 0;
            if (!Span(s, c, i, count, p, end)) continue;
            if (p.start >= bottom) break;
            if (end <= top) continue;
            const int32_t y0 = YOf(v, top, p.start < top ? top : p.start);
            int32_t y1 = YOf(v, top, end > bottom ? bottom : end);
            if (y1 > gridBottom) y1 = gridBottom;
            if (y1 <= y0) continue;
            if (out.cellCount >= kGridMaxCells) {
                // The pass is full: this programme starts the next one.
                out.moreCells = true;
                out.nextColumn = c;
                out.nextIndex = i;
                out.nextScanned = scanned;
                return;
            }
            PutCell(s, out, c, i, p, end, y0, y1);
        }
    }
}

}  // namespace

int64_t GridDayOf(int64_t time) { return DayOfJapanSeconds(time) * kSecondsPerDay; }

int32_t GridDayLabel(int64_t dayStart, char* out, int32_t capacity) {
    if (out == nullptr || capacity <= 0) return 0;
    const CivilDate d = CivilDateOfDay(DayOfJapanSeconds(dayStart));
    const int n = std::snprintf(out, static_cast<size_t>(capacity), "%02d/%02d(%.2s)", d.month, d.day,
                                kWeekdays + 2 * Clamp(d.weekday, 0, 6));
    if (n < 0) {
        out[0] = '\0';
        return 0;
    }
    return n < capacity ? n : capacity - 1;
}

GridViewport DefaultGridViewport(int32_t width, int32_t height) {
    GridViewport v;
    v.dayStart = 0;
    v.firstMinute = 0;
    v.firstColumn = 0;
    v.width = width;
    v.height = height;
    v.pixelsPerHour = 180;
    v.columnWidth = 160;
    v.headerHeight = 20;
    v.axisWidth = 28;
    v.charWidth = 6;
    v.lineHeight = 13;
    return v;
}

uint32_t GridGenreColour(int32_t genre) {
    if (genre < 0 || genre >= kGridGenreColours) genre = kGridNoGenre;
    return kGenreColours[genre];
}

int32_t GridLegend(GridLegendEntry* entries, int32_t capacity) {
    int32_t n = 0;
    for (int32_t genre = 0; genre < 16 && n < capacity; ++genre) {
        // The extension nibble names no genre a viewer knows: its cells
        // take the colour of "other", and the legend leaves it out.
        if (kGenreNames[genre] == nullptr || genre == kExtensionGenre) continue;
        entries[n].genre = genre;
        entries[n].colour = kGenreColours[genre];
        entries[n].name = kGenreNames[genre];
        ++n;
    }
    return n;
}

void GridHeldDays(const GridSource& s, int64_t now, GridDays& days) {
    days.count = 0;
    bool any = false;
    int64_t earliest = 0;
    int64_t latest = 0;
    const int32_t columns = ColumnCount(s);
    for (int32_t c = 0; c < columns; ++c) {
        const int32_t count = CountOf(s, c);
        GridProgramme p;
        int64_t end = 0;
        for (int32_t i = 0; i < count && i < kGridScanLimit; ++i) {
            if (!Span(s, c, i, count, p, end)) continue;
            if (!any || p.start < earliest) earliest = p.start;
            if (!any || end > latest) latest = end;
            any = true;
            break;
        }
        // Undetermined starts come last: the latest placed programme is
        // among the last few.
        for (int32_t i = count - 1, looked = 0; i >= 0 && looked < kGridScanLimit; --i, ++looked) {
            if (!Span(s, c, i, count, p, end)) continue;
            if (!any || end > latest) latest = end;
            if (!any || p.start < earliest) earliest = p.start;
            any = true;
            break;
        }
    }
    if (!any) {
        if (now < 0) return;
        earliest = latest = now;
    }
    int64_t first = GridDayOf(earliest);
    const int64_t last = GridDayOf(latest > earliest ? latest - 1 : earliest);
    if (now >= 0 && (last - first) / kSecondsPerDay >= kGridMaxDays) {
        const int64_t today = GridDayOf(now);
        if (today > first) first = today < last ? today : last;
    }
    for (int64_t day = first; day <= last && days.count < kGridMaxDays; day += kSecondsPerDay) {
        days.start[days.count] = day;
        GridDayLabel(day, days.label[days.count], kGridLabelSize);
        ++days.count;
    }
}

void ClampGridView(const GridSource& s, GridViewport& v) {
    Sanitise(v);
    const int32_t visibleMinutes = VisibleSeconds(v) / 60;
    v.firstMinute = Clamp(v.firstMinute, 0, visibleMinutes >= kMinutesPerDay ? 0 : kMinutesPerDay - visibleMinutes);
    const int32_t columns = ColumnCount(s);
    const int32_t whole = WholeColumns(v);
    v.firstColumn = Clamp(v.firstColumn, 0, columns > whole ? columns - whole : 0);
}

void LayoutGrid(const GridSource& s, const GridViewport& view, int64_t now, const GridSelection& selection,
                GridLayout& out) {
    out.view = view;
    GridViewport& v = out.view;
    ClampGridView(s, v);
    out.columns = ColumnCount(s);
    out.headerCount = 0;
    out.hourCount = 0;
    out.cellCount = 0;
    out.clockY = -1;
    out.now = now;
    out.selection = selection;

    const int64_t top = ViewTop(v);
    const int64_t bottom = top + VisibleSeconds(v);

    // Hour bands of the day shown.
    for (int32_t hour = 0; hour < 24 && out.hourCount < kGridHourBands; ++hour) {
        const int64_t from = v.dayStart + hour * 3600LL;
        const int64_t to = from + 3600;
        if (to <= top || from >= bottom) continue;
        GridHourBand& band = out.hours[out.hourCount++];
        band.top = YOf(v, top, from < top ? top : from);
        band.bottom = YOf(v, top, to > bottom ? bottom : to);
        band.hour = hour;
        std::snprintf(band.label, sizeof band.label, "%d", static_cast<int>(hour));
    }
    if (now >= 0 && now >= top && now < bottom) out.clockY = YOf(v, top, now);

    for (int32_t c = v.firstColumn; c < out.columns && out.headerCount < kGridMaxColumns; ++c) {
        const int32_t left = ColumnLeft(v, c);
        if (left >= v.width) break;
        const int32_t right = left + v.columnWidth > v.width ? v.width : left + v.columnWidth;
        GridColumnInfo info;
        std::memset(&info, 0, sizeof info);
        if (s.column == nullptr || !s.column(s.context, c, info)) info.name[0] = '\0';
        info.name[kGridNameSize - 1] = '\0';
        GridHeader& h = out.headers[out.headerCount++];
        h.rect = GridRect{left, 0, right, v.headerHeight};
        h.column = c;
        h.tunable = info.tunable;
        char name[kGridNameSize];
        CopyName(info.name, name, kGridNameSize);
        CutGridText(name, (right - left - 2 * kTextPadding) / v.charWidth, 1, h.name, kGridNameSize);
    }

    // The first pass of cells.
    out.pass = 0;
    out.moreCells = false;
    out.nextColumn = v.firstColumn;
    out.nextIndex = -1;
    out.nextScanned = 0;
    LayCells(s, out);
}

bool NextGridCells(const GridSource& s, GridLayout& out) {
    if (!out.moreCells) return false;
    ++out.pass;
    LayCells(s, out);
    return true;
}

GridHit GridHitTest(const GridLayout& layout, int32_t x, int32_t y) {
    GridHit hit = {GridHitKind::kNothing, -1, -1, -1};
    const auto inside = [x, y](const GridRect& r) { return x >= r.left && x < r.right && y >= r.top && y < r.bottom; };
    for (int32_t i = 0; i < layout.headerCount && i < kGridMaxColumns; ++i) {
        if (inside(layout.headers[i].rect)) {
            hit.kind = GridHitKind::kHeader;
            hit.column = layout.headers[i].column;
            return hit;
        }
    }
    for (int32_t i = 0; i < layout.cellCount && i < kGridMaxCells; ++i) {
        const GridCell& cell = layout.cells[i];
        if (inside(cell.rect)) {
            hit.kind = GridHitKind::kCell;
            hit.column = cell.column;
            hit.index = cell.index;
            hit.id = cell.id;
            return hit;
        }
    }
    return hit;
}

GridHit GridHitTestAllPasses(const GridSource& s, GridLayout& layout, int32_t x, int32_t y) {
    GridHit hit = GridHitTest(layout, x, y);
    if (hit.kind != GridHitKind::kNothing || (layout.pass == 0 && !layout.moreCells)) return hit;
    // The cells of every pass, from the first.
    LayoutGrid(s, layout.view, layout.now, layout.selection, layout);
    for (;;) {
        hit = GridHitTest(layout, x, y);
        if (hit.kind != GridHitKind::kNothing || !NextGridCells(s, layout)) return hit;
    }
}

int32_t GridWheelMinutes(int32_t delta, int32_t minutesPerNotch, int32_t& remainder) {
    // A notch is at most a day, a delta at most what a WORD holds: the
    // products stay far inside 32 bits.
    minutesPerNotch = Clamp(minutesPerNotch, 0, kMinutesPerDay);
    delta = Clamp(delta, -0x8000, 0x7FFF);
    // Kept in notch-sized units of a minute: delta x minutes a notch.
    if ((remainder < 0 && delta > 0) || (remainder > 0 && delta < 0)) remainder = 0;
    if (remainder <= -kGridWheelNotch || remainder >= kGridWheelNotch) remainder = 0;
    const int32_t total = remainder + delta * minutesPerNotch;
    const int32_t minutes = total / kGridWheelNotch;
    remainder = total - minutes * kGridWheelNotch;
    return minutes;
}

bool GridProgrammeAt(const GridSource& s, int32_t column, int64_t time, GridSelection& out) {
    if (column < 0 || column >= ColumnCount(s)) return false;
    const int32_t count = CountOf(s, column);
    const int32_t first = FirstIndex(s, column, time, count);
    int32_t last = -1;
    GridProgramme p;
    int64_t end = 0;
    for (int32_t i = first, scanned = 0; i < count && scanned < kGridScanLimit; ++i, ++scanned) {
        if (!Span(s, column, i, count, p, end)) continue;
        if (end > time) return Select(s, column, i, out);
        last = i;
    }
    // Everything ended before `time`: the last that did.
    for (int32_t i = first - 1, scanned = 0; last < 0 && i >= 0 && scanned < kGridScanLimit; --i, ++scanned) {
        if (Span(s, column, i, count, p, end)) last = i;
    }
    return last >= 0 && Select(s, column, last, out);
}

void ShowGridSelection(const GridSource& s, GridViewport& v, const GridSelection& sel) {
    Sanitise(v);
    int32_t index = -1;
    if (!Resolve(s, sel, index)) return;
    GridProgramme p;
    int64_t end = 0;
    if (!Span(s, sel.column, index, CountOf(s, sel.column), p, end)) return;
    if (end <= v.dayStart || p.start >= v.dayStart + kSecondsPerDay) v.dayStart = GridDayOf(p.start);
    const int64_t top = ViewTop(v);
    const int32_t visible = VisibleSeconds(v);
    const int64_t bottom = top + visible;
    // Its start's minute: where the view goes when it starts outside.
    const int64_t startMinute = p.start < v.dayStart ? 0 : (p.start - v.dayStart) / 60;
    if (p.start < top || p.start >= bottom) {
        v.firstMinute = static_cast<int32_t>(startMinute);
    } else if (end > bottom && visible > 0) {
        // Begun in view but running past its bottom: down until its end
        // shows, or, when it is longer than the view, its start at the top.
        const int64_t endAtBottom = end - visible - v.dayStart;
        const int64_t minute = endAtBottom <= 0 ? 0 : (endAtBottom + 59) / 60;
        v.firstMinute = static_cast<int32_t>(minute < startMinute ? minute : startMinute);
    }
    const int32_t whole = WholeColumns(v);
    if (sel.column < v.firstColumn) v.firstColumn = sel.column;
    if (sel.column >= v.firstColumn + whole) v.firstColumn = sel.column - whole + 1;
    ClampGridView(s, v);
}

bool MoveGridSelection(const GridSource& s, const GridDays& days, int64_t now, GridKey key, GridViewport& v,
                       GridSelection& sel) {
    Sanitise(v);
    const int32_t columns = ColumnCount(s);
    int32_t index = -1;
    const bool selected = Resolve(s, sel, index);
    GridProgramme p;
    int64_t end = 0;
    const bool placed = selected && Span(s, sel.column, index, CountOf(s, sel.column), p, end);
    const int64_t top = ViewTop(v);
    const int64_t middle = top + VisibleSeconds(v) / 2;
    GridSelection next = kNoGridSelection;
    switch (key) {
        case GridKey::kLeft:
        case GridKey::kRight: {
            if (columns == 0) return false;
            const int32_t step = key == GridKey::kLeft ? -1 : 1;
            const int32_t column = selected ? sel.column + step : v.firstColumn;
            if (column < 0 || column >= columns) return false;
            int64_t time = middle;
            if (placed) {
                const bool onAir = now >= 0 && p.start <= now && now < end;
                time = onAir ? now : p.start;
                if (time < top && end > top) time = top;
            }
            if (!GridProgrammeAt(s, column, time, next)) {
                // An empty column: the selection moves on without a programme.
                return false;
            }
            break;
        }
        case GridKey::kUp:
        case GridKey::kDown: {
            if (!selected) {
                if (!GridProgrammeAt(s, v.firstColumn, top, next)) return false;
                break;
            }
            const int32_t step = key == GridKey::kUp ? -1 : 1;
            const int32_t count = CountOf(s, sel.column);
            int32_t i = index + step;
            for (int32_t looked = 0; i >= 0 && i < count && looked < kGridScanLimit; i += step, ++looked) {
                GridProgramme q;
                int64_t qEnd = 0;
                if (Span(s, sel.column, i, count, q, qEnd)) break;
            }
            if (i < 0 || i >= count || !Select(s, sel.column, i, next)) return false;
            break;
        }
        case GridKey::kPageUp:
        case GridKey::kPageDown: {
            int32_t day = -1;
            for (int32_t d = 0; d < days.count && d < kGridMaxDays; ++d) {
                if (days.start[d] == v.dayStart) day = d;
            }
            if (day < 0) return false;
            day += key == GridKey::kPageUp ? -1 : 1;
            if (day < 0 || day >= days.count) return false;
            const int64_t oldDay = v.dayStart;
            v.dayStart = days.start[day];
            int64_t offset = static_cast<int64_t>(v.firstMinute) * 60;
            if (placed && p.start >= oldDay && p.start < oldDay + kSecondsPerDay) offset = p.start - oldDay;
            if (selected && GridProgrammeAt(s, sel.column, v.dayStart + offset, next)) {
                GridProgramme q;
                int64_t qEnd = 0;
                Read(s, next.column, next.index, q);
                if (!Span(s, next.column, next.index, CountOf(s, next.column), q, qEnd) || qEnd <= v.dayStart ||
                    q.start >= v.dayStart + kSecondsPerDay) {
                    next = kNoGridSelection;  // nothing of it on that day
                }
            }
            sel = next;
            if (sel.column >= 0) ShowGridSelection(s, v, sel);
            return true;
        }
        case GridKey::kHome: {
            if (now < 0) return false;
            v.dayStart = GridDayOf(now);
            v.firstMinute = SecondOfDay(now) / 60 - 30;
            const int32_t column = selected ? sel.column : v.firstColumn;
            if (GridProgrammeAt(s, column, now, next)) {
                sel = next;
            }
            ClampGridView(s, v);
            return true;
        }
    }
    if (next.column == sel.column && next.id == sel.id && next.index == sel.index) return false;
    sel = next;
    ShowGridSelection(s, v, sel);
    return true;
}
