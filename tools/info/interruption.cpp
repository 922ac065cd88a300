#include "tools/info/interruption.h"

#include <csignal>

#include <cstring>

#ifndef _WIN32
#include <signal.h>
#include <unistd.h>
#endif

namespace {

// Longest temporary path the handler can remove.
const size_t kTemporaryPathSize = 4096;

volatile std::sig_atomic_t g_pending = 0;
volatile std::sig_atomic_t g_hasTemporary = 0;
char g_temporary[kTemporaryPathSize];

extern "C" void NoteInterruption(int signal) {
    g_pending = signal;
#ifndef _WIN32
    if (g_hasTemporary) unlink(g_temporary);
    // Ends the process with the signal's own status once the handler
    // returns and the signal is unblocked.
    std::signal(signal, SIG_DFL);
    std::raise(signal);
#endif
}

}  // namespace

void RegisterTemporaryFile(const char* path) {
    g_hasTemporary = 0;
    const size_t length = std::strlen(path);
    // A longer path is removed by the polling run instead.
    if (length >= kTemporaryPathSize) return;
    std::memcpy(g_temporary, path, length + 1);
    g_hasTemporary = 1;
}

void ForgetTemporaryFile() { g_hasTemporary = 0; }

void InstallInterruptionHandlers() {
#ifdef _WIN32
    std::signal(SIGINT, NoteInterruption);
    std::signal(SIGTERM, NoteInterruption);
#else
    struct sigaction note;
    note.sa_handler = NoteInterruption;
    sigemptyset(&note.sa_mask);
    note.sa_flags = 0;  // no SA_RESTART: a blocked read or write returns EINTR
    sigaction(SIGINT, &note, nullptr);
    sigaction(SIGTERM, &note, nullptr);
    struct sigaction ignore;
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    ignore.sa_flags = 0;
    sigaction(SIGPIPE, &ignore, nullptr);
    sigaction(SIGXFSZ, &ignore, nullptr);
#endif
}

int PendingInterruption() { return g_pending; }

int EndBySignal(int signal) {
#ifndef _WIN32
    std::signal(signal, SIG_DFL);
    std::raise(signal);
#endif
    return 128 + signal;
}

int EndByClosedPipe() {
#ifdef SIGPIPE
    return EndBySignal(SIGPIPE);
#else
    return 128 + 13;
#endif
}
