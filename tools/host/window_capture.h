// What the viewer window shows, read back from the real window: its texts
// as the A functions return them (code page 932) converted to UTF-8, a check
// that they are well-formed Shift_JIS, and a picture of the window.
#ifndef KESTRIN_TOOLS_HOST_WINDOW_CAPTURE_H
#define KESTRIN_TOOLS_HOST_WINDOW_CAPTURE_H

#include <windows.h>

#include <cstdint>
#include <string>

// True when every byte sequence of `text` is Shift_JIS: single bytes
// 0x00-0x7F and 0xA1-0xDF, or a lead byte 0x81-0x9F / 0xE0-0xFC followed by
// a trail byte 0x40-0x7E / 0x80-0xFC. Any other byte, or a lead byte at the
// end, makes it false and sets *badOffset.
bool IsWellFormedShiftJis(const std::string& text, size_t* badOffset);

// Code page 932 to UTF-8.
std::string Cp932ToUtf8(const std::string& text);

// The dialog's caption, info text, clock and button labels as a report in
// UTF-8, one "name: text" line each (the info text's lines indented), headed
// by `title`.
std::string DescribeViewer(HWND dialog, const char* title);

// Checks every text of the dialog with IsWellFormedShiftJis; returns the
// number of texts that fail and logs each.
int CheckViewerTexts(HWND dialog);

// A 24-bit BMP of the window as it is on the screen, frame and caption
// included. The window is brought to the top and repainted first.
bool WriteWindowPicture(HWND window, const char* path);

#endif
