#include "plugin/window_position.h"

#include <cstdint>

namespace {

// Win32 moves a minimised top-level window to this point.
const int32_t kMinimisedPosition = -32000;

// Arithmetic in 64 bits: rectangles come from a settings file and may hold
// any int32 value.
int64_t Width(const ScreenRect& r) { return static_cast<int64_t>(r.right) - r.left; }
int64_t Height(const ScreenRect& r) { return static_cast<int64_t>(r.bottom) - r.top; }

int64_t Min(int64_t a, int64_t b) { return a < b ? a : b; }
int64_t Max(int64_t a, int64_t b) { return a > b ? a : b; }

// Length of the overlap of [a0, a1) and [b0, b1), 0 when they are apart.
int64_t Overlap(int64_t a0, int64_t a1, int64_t b0, int64_t b1) {
    const int64_t length = Min(a1, b1) - Max(a0, b0);
    return length > 0 ? length : 0;
}

// Gap between [a0, a1) and [b0, b1), 0 when they overlap or touch.
int64_t Gap(int64_t a0, int64_t a1, int64_t b0, int64_t b1) {
    if (a1 < b0) return b0 - a1;
    if (b1 < a0) return a0 - b1;
    return 0;
}

bool IsEmpty(const ScreenRect& r) { return Width(r) <= 0 || Height(r) <= 0; }

bool Reachable(const ScreenRect& window, const ScreenRect& area) {
    const int64_t needX = Min(kMinimumVisible, Max(Width(window), 1));
    const int64_t needY = Min(kMinimumVisible, Max(Height(window), 1));
    return Overlap(window.left, window.right, area.left, area.right) >= needX &&
           Overlap(window.top, window.bottom, area.top, area.bottom) >= needY;
}

// The start of a span of `length` moved into [low, high): its start when it
// fits there already, else against the nearer end; against `low` when it is
// longer than the range.
int64_t ClampSpan(int64_t start, int64_t length, int64_t low, int64_t high) {
    if (start + length > high) start = high - length;
    if (start < low) start = low;
    return start;
}

int32_t ToInt32(int64_t v) {
    if (v > INT32_MAX) return INT32_MAX;
    if (v < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(v);
}

}  // namespace

bool PositionToSave(const WindowPlacement& p, int32_t* left, int32_t* top) {
    ScreenRect r;
    switch (p.show) {
        case WindowShow::kMinimised:
            return false;
        case WindowShow::kMaximised:
            r = p.normal;
            break;
        case WindowShow::kNormal:
        default:
            r = p.window;
            break;
    }
    if (r.left <= kMinimisedPosition && r.top <= kMinimisedPosition) return false;
    *left = r.left;
    *top = r.top;
    return true;
}

ScreenRect PlaceOnScreen(const ScreenRect& window, const ScreenRect* workAreas, int32_t count) {
    if (workAreas == nullptr || count <= 0) return window;
    if (count > kMaxMonitors) count = kMaxMonitors;

    int32_t nearest = -1;
    int64_t nearestDistance = 0;
    for (int32_t i = 0; i < count; ++i) {
        const ScreenRect& area = workAreas[i];
        if (IsEmpty(area)) continue;
        if (Reachable(window, area)) return window;
        // Squared distance between the rectangles; the first of equals wins,
        // and the platform lists the primary monitor first.
        const int64_t dx = Gap(window.left, window.right, area.left, area.right);
        const int64_t dy = Gap(window.top, window.bottom, area.top, area.bottom);
        // Each gap is below 2^33: the squares cannot overflow.
        const int64_t distance = dx * dx + dy * dy;
        if (nearest < 0 || distance < nearestDistance) {
            nearest = i;
            nearestDistance = distance;
        }
    }
    if (nearest < 0) return window;

    const ScreenRect& area = workAreas[nearest];
    const int64_t width = Max(Width(window), 0);
    const int64_t height = Max(Height(window), 0);
    const int64_t left = ClampSpan(window.left, width, area.left, area.right);
    const int64_t top = ClampSpan(window.top, height, area.top, area.bottom);
    ScreenRect placed;
    placed.left = ToInt32(left);
    placed.top = ToInt32(top);
    placed.right = ToInt32(left + width);
    placed.bottom = ToInt32(top + height);
    return placed;
}

ScreenRect WorkspaceToScreen(const ScreenRect& r, const ScreenRect& monitor,
                             const ScreenRect& workArea) {
    const int64_t dx = static_cast<int64_t>(workArea.left) - monitor.left;
    const int64_t dy = static_cast<int64_t>(workArea.top) - monitor.top;
    ScreenRect s;
    s.left = ToInt32(r.left + dx);
    s.top = ToInt32(r.top + dy);
    s.right = ToInt32(r.right + dx);
    s.bottom = ToInt32(r.bottom + dy);
    return s;
}
