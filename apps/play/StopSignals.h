// SIGINT and SIGTERM end the run as closing the window does: the window is closed, which
// stops the timer, destroys the player and releases the device; the exit code stays 0.
#pragma once

#include <platform/window.h>

// Blocks the two signals in every thread and starts the thread that waits for them. Call
// first thing in main, before any other thread exists.
void InstallStopSignals();
// The status window is being built: a stop waits until it runs.
void StopSignalsCreating();
// The status window is running: a stop closes it (also one that came while it was built).
void StopSignalsRunning(HWND window);
// The run is over: a stop has nothing left to close.
void StopSignalsRunEnded();
