// Signals that end a run early. SIGINT and SIGTERM are only noted, so that
// the run stops at its next step, removes what it had begun to write and
// then ends as the signal would have ended it. A blocking read or write is
// not restarted after them, so a run waiting for a pipe stops too.
//
// SIGPIPE and SIGXFSZ are ignored: a reader that closed its end of a pipe,
// and a file-size limit, come back as failed writes (EPIPE, EFBIG) that the
// run handles like any other, instead of killing it with a partial file
// left behind.
#ifndef KESTRIN_TOOLS_INFO_INTERRUPTION_H
#define KESTRIN_TOOLS_INFO_INTERRUPTION_H

void InstallInterruptionHandlers();

// The signal that asked the run to stop, or 0.
int PendingInterruption();

// Ends the process by `signal` with its default action (the shell then
// reports 128 + its number); returns 128 + the number where that is not
// possible, for the caller to exit with.
int EndBySignal(int signal);

// Ends the process as a write to a closed pipe ends it by default
// (SIGPIPE; 141 where there is none).
int EndByClosedPipe();

#endif
