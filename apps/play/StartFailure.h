// The line a failed start adds on standard error, in the form Linux tools use: the program,
// what failed (the file, or the device) and the reason.
#pragma once

#include <string>

#include <platform/types.h>

struct StartFailure {
    bool byDevice = false;  // the wave-output service refused; else the file layer
    const char* fileName = nullptr;
    const char* deviceName = nullptr;  // null: the default device, which names none unreached
    DWORD systemError = 0;             // the thread's last error right after the start
    const char* errorText = nullptr;   // the engine's text, as the box shows it
};

// "quindle64: <name>: <reason>\n". A file's reason is the system's for the failing call; a
// tone's is its settings; a file that opened but holds no playable audio gives the file
// layer's reason, a device the service's.
std::string StartFailureLine(const StartFailure& failure);
