// Signals that end a run early. On SIGINT and SIGTERM the temporary file of
// the run, if one is registered, is removed at once in the handler (unlink
// is safe there) and the process ends as the signal would have ended it,
// whatever it was doing or waiting for. Where a handler cannot remove an
// open file (Windows), the signal is only noted: the run stops at its next
// step, removes the file and then ends so.
//
// SIGPIPE and SIGXFSZ are ignored: a reader that closed its end of a pipe,
// and a file-size limit, come back as failed writes (EPIPE, EFBIG) that the
// run handles like any other, instead of killing it with a partial file
// left behind.
#ifndef KESTRIN_TOOLS_INFO_INTERRUPTION_H
#define KESTRIN_TOOLS_INFO_INTERRUPTION_H

void InstallInterruptionHandlers();

// The temporary file a signal must remove; forgotten when it was renamed
// into place or removed. One at a time.
void RegisterTemporaryFile(const char* path);
void ForgetTemporaryFile();

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
