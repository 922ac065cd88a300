#include "tools/host/host_log.h"

#include <windows.h>

#include <cstdarg>

namespace {

struct LogState {
    CRITICAL_SECTION lock;
    LARGE_INTEGER start;
    LARGE_INTEGER frequency;
    std::FILE* file;
    LogState() : file(nullptr) {
        InitializeCriticalSection(&lock);
        QueryPerformanceFrequency(&frequency);
        QueryPerformanceCounter(&start);
    }
};

LogState& Log() {
    static LogState state;
    return state;
}

}  // namespace

void SetLogFile(std::FILE* file) { Log().file = file; }

void HostLog(const char* format, ...) {
    LogState& log = Log();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    const double seconds = static_cast<double>(now.QuadPart - log.start.QuadPart) /
                           static_cast<double>(log.frequency.QuadPart);
    char line[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    EnterCriticalSection(&log.lock);
    std::FILE* out = log.file != nullptr ? log.file : stderr;
    std::fprintf(out, "[host %8.3f] %s\n", seconds, line);
    std::fflush(out);
    LeaveCriticalSection(&log.lock);
}
