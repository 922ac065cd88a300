// What the caption view shows, kept on the window's thread alone: the
// caption on screen now and the recent lines, both Shift_JIS.
//
// Fixed memory: the recent lines are a ring of kCaptionRecentLines lines of
// at most kCaptionLineSize bytes; a longer row is cut at a whole character.
#ifndef KESTRIN_PLUGIN_CAPTION_STORE_H
#define KESTRIN_PLUGIN_CAPTION_STORE_H

#include <cstdint>

// The caption on screen: at most a screen of rows, lines separated by
// "\r\n", terminator included.
const int32_t kCaptionTextSize = 1024;
// One recent line, terminator included: 127 full-width characters.
const int32_t kCaptionLineSize = 256;
// The most recent lines kept, and the default of "CaptionLines".
const int32_t kCaptionRecentLines = 200;
// All recent lines as one text ("\r\n" after each), terminator included.
const int32_t kCaptionRecentTextSize = kCaptionRecentLines * (kCaptionLineSize + 2) + 1;

struct CaptionStore {
    char current[kCaptionTextSize];
    char lines[kCaptionRecentLines][kCaptionLineSize];
    int32_t firstLine;  // index of the oldest line in the ring
    int32_t lineCount;
    int32_t lineLimit;  // lines kept, 1 .. kCaptionRecentLines
};

// Empty, keeping `lineLimit` lines (cut to 1 .. kCaptionRecentLines).
void ClearCaptionStore(CaptionStore& store, int32_t lineLimit);

// A new caption on screen: its rows (Shift_JIS, separated by "\n", "\r\n" is
// read as one break; empty rows are left out). `rows` need not be
// terminated beyond `length`. The rows become the current caption, and each
// joins the recent lines, the oldest giving way when the limit is reached.
// A caption equal to the current one (a statement sent again) adds nothing.
// Returns true when anything changed.
bool ShowCaption(CaptionStore& store, const char* rows, int32_t length);

// The screen was cleared: no current caption; the recent lines stay.
// Returns true when there was one.
bool ClearCaption(CaptionStore& store);

// The recent lines, oldest first, each followed by "\r\n", into `out` of
// `size` bytes, always terminated. When they do not all fit, the oldest are
// left out (whole lines only). Returns the length written.
int32_t FormatRecentLines(const CaptionStore& store, char* out, int32_t size);

#endif
