// The host's log of what it does and what the plug-in asks of it: one line
// per event with the time since start, from any thread.
#ifndef KESTRIN_TOOLS_HOST_HOST_LOG_H
#define KESTRIN_TOOLS_HOST_HOST_LOG_H

#include <cstdio>

// Where the log goes (stderr until set). The file is not closed by the log.
void SetLogFile(std::FILE* file);

// printf-style; a line end is added.
#ifdef __GNUC__
__attribute__((format(printf, 1, 2)))
#endif
void HostLog(const char* format, ...);

#endif
