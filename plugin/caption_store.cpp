#include "plugin/caption_store.h"

#include <cstring>

#include "text/shift_jis_text.h"

namespace {

// Copies up to `length` bytes of one row into `out` (capacity bytes), ending
// at a whole character; returns the bytes copied.
int32_t CopyRow(char* out, int32_t capacity, const char* row, int32_t length) {
    int32_t n = 0;
    int32_t i = 0;
    while (i < length) {
        const int32_t width = IsShiftJisLeadByte(static_cast<uint8_t>(row[i])) ? 2 : 1;
        // A lead byte whose trail byte the row does not hold is dropped.
        if (i + width > length || n + width > capacity - 1) break;
        std::memcpy(out + n, row + i, static_cast<size_t>(width));
        n += width;
        i += width;
    }
    out[n] = '\0';
    return n;
}

void AddLine(CaptionStore& s, const char* row, int32_t length) {
    if (s.lineCount == s.lineLimit) {
        s.firstLine = (s.firstLine + 1) % kCaptionRecentLines;
        --s.lineCount;
    }
    const int32_t at = (s.firstLine + s.lineCount) % kCaptionRecentLines;
    CopyRow(s.lines[at], kCaptionLineSize, row, length);
    ++s.lineCount;
}

// Calls `each(row, length)` for every non-empty row of the text. A double
// byte character is skipped whole, so a trail byte of 0x0A or 0x0D never
// ends a row (Shift_JIS trail bytes are 0x40 and above, but the text came
// from the stream's decoder and is read defensively).
template <typename Each>
void ForEachRow(const char* text, int32_t length, Each each) {
    int32_t start = 0;
    int32_t i = 0;
    while (i <= length) {
        if (i == length || text[i] == '\n' || text[i] == '\r' || text[i] == '\0') {
            if (i > start) each(text + start, i - start);
            if (i == length || text[i] == '\0') return;
            ++i;
            start = i;
            continue;
        }
        i += IsShiftJisLeadByte(static_cast<uint8_t>(text[i])) && i + 1 < length ? 2 : 1;
    }
}

}  // namespace

void ClearCaptionStore(CaptionStore& s, int32_t lineLimit) {
    s.current[0] = '\0';
    s.firstLine = 0;
    s.lineCount = 0;
    s.lineLimit = lineLimit < 1 ? 1 : (lineLimit > kCaptionRecentLines ? kCaptionRecentLines : lineLimit);
}

bool ShowCaption(CaptionStore& s, const char* rows, int32_t length) {
    if (rows == nullptr || length < 0) length = 0;
    // The current caption as the window shows it: rows joined by "\r\n".
    char shown[kCaptionTextSize];
    shown[0] = '\0';
    int32_t used = 0;
    bool full = false;
    ForEachRow(rows, length, [&](const char* row, int32_t n) {
        if (full) return;
        if (used > 0) {
            // A row that does not fit with its line break is left out.
            if (used + 2 >= kCaptionTextSize - 1) {
                full = true;
                return;
            }
            shown[used++] = '\r';
            shown[used++] = '\n';
        }
        used += CopyRow(shown + used, kCaptionTextSize - used, row, n);
    });
    if (std::strcmp(shown, s.current) == 0) return false;
    std::memcpy(s.current, shown, static_cast<size_t>(used) + 1);
    ForEachRow(rows, length, [&](const char* row, int32_t n) { AddLine(s, row, n); });
    return true;
}

bool ClearCaption(CaptionStore& s) {
    if (s.current[0] == '\0') return false;
    s.current[0] = '\0';
    return true;
}

int32_t FormatRecentLines(const CaptionStore& s, char* out, int32_t size) {
    if (out == nullptr || size <= 0) return 0;
    out[0] = '\0';
    // From the newest line back, find the oldest one from which all fit.
    int32_t first = s.lineCount;
    int32_t total = 0;
    while (first > 0) {
        const char* line = s.lines[(s.firstLine + first - 1) % kCaptionRecentLines];
        const int32_t n = static_cast<int32_t>(std::strlen(line)) + 2;
        if (total + n > size - 1) break;
        total += n;
        --first;
    }
    int32_t used = 0;
    for (int32_t i = first; i < s.lineCount; ++i) {
        const char* line = s.lines[(s.firstLine + i) % kCaptionRecentLines];
        const int32_t n = static_cast<int32_t>(std::strlen(line));
        std::memcpy(out + used, line, static_cast<size_t>(n));
        used += n;
        out[used++] = '\r';
        out[used++] = '\n';
    }
    out[used] = '\0';
    return used;
}
