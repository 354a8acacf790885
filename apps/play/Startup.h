// The program's entry after the command line has been rebuilt, and what happens before the
// status window runs: the device list shortcut, the option check, the pause schedule,
// placement next to a running instance, the client-area size and the message loop.
#pragma once

#include <memory>

#include <platform/window.h>
#include "apps/play/CommandLine.h"

inline constexpr int kClientWidth = 240;
inline constexpr int kClientHeight = 80;
inline constexpr int kOuterWidth = 240;
inline constexpr int kOuterHeight = 100;
inline constexpr int kInstanceOffset = 25;

// The windowed entry with the parsed command line: returns the exit code. The texts the
// command line points into must outlive the run.
int QuindleMain(HINSTANCE instance, std::unique_ptr<CommandLine> commandLine, int showCommand);
bool StartInstance(HINSTANCE instance, int showCommand, std::unique_ptr<CommandLine> commandLine);
bool CheckOptions();

// Top-left corner for a new window: beside the running instance's window when that leaves
// it inside the desktop, else the desktop's corner.
POINT PlaceBesideInstance(const RECT& desktop, const RECT* instance);
// The outer size that makes the client area exactly 240 x 80; false when it already is.
bool ClientFixUp(const RECT& outer, const RECT& client, int* width, int* height);
