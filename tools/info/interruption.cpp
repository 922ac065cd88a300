#include "tools/info/interruption.h"

#include <csignal>

#ifndef _WIN32
#include <signal.h>
#endif

namespace {

volatile std::sig_atomic_t g_pending = 0;

extern "C" void NoteInterruption(int signal) { g_pending = signal; }

}  // namespace

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
