// How the program meets signals. SIGINT and SIGTERM end the run at any moment, as closing the
// window does: a box or dialog that waits for OK goes, a pause between loop passes ends, the
// player is destroyed and the device released; the exit code stays 0. SIGPIPE never ends the
// program: output into a closed pipe is dropped.
#pragma once

#include <platform/window.h>

// Call first thing in main, before any other thread exists: ignores SIGPIPE, blocks the two
// stop signals in every thread and starts the thread that waits for them. A stop then quits
// the main thread's message loops, modal ones included, and wakes PauseUnlessStopped.
void InstallStopSignals();
// True once a stop signal has come.
bool StopRequested();
// Waits the milliseconds unless a stop comes first; false when it did (or had already).
bool PauseUnlessStopped(DWORD milliseconds);
