// The shell's program-wide values, shared by start-up and the status window. Touched only by
// the main thread.
#pragma once

#include <cstdint>
#include <memory>

#include <platform/window.h>
#include "apps/play/CommandLine.h"
#include "apps/play/Usage.h"
#include "player/WavePlayer.h"

struct ShellState {
    HINSTANCE appInstance = nullptr;
    std::unique_ptr<CommandLine> commandLine;
    char windowTitle[100] = {};
    char className[100] = {};
    bool showBytes = false;
    bool hidden = false;
    LoopDelay loopDelay;
    bool looping = false;
    int32_t stretchPercent = 100;
    const char* fileName = nullptr;
    std::unique_ptr<WavePlayer> player;
    HWND rowDevice = nullptr;
    HWND rowFile = nullptr;
    HWND rowFormat = nullptr;
    HWND rowPosition = nullptr;
    UINT_PTR timerId = 0;
    HWND statusWindow = nullptr;  // so that a run ended by a stop signal can close it
    int32_t deviceId = -1;        // of the last start: its name goes into a failure's line
    bool positionShown = false;   // the position row shows a reading taken while playing
    bool onScreen = false;        // boxes wait on a screen; else they are lines on the terminal
};

extern ShellState shell;
