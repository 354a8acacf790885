// Choosing how windows are presented. Call once, on the thread that will run the windows,
// before the first window: the X display named by DISPLAY when it can be opened, otherwise
// the terminal (message boxes to standard error, dialog texts to standard output, nothing
// waits for a click).
#pragma once

namespace platform {

// True when windows go on a screen.
bool OpenDisplay();

}  // namespace platform
