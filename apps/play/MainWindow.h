// The status window: its procedure (registered with the window class) creates the player and
// the four rows, starts playback from the options, refreshes the position every 50 ms, loops
// with its pause schedule, and ends the run when playback is over or the window closes.
#pragma once

#include <cstdint>

#include <platform/window.h>

LRESULT MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void OnCreate(HWND window);
int32_t StartPlayback();

inline constexpr UINT_PTR kRefreshTimerId = 1;
inline constexpr UINT kRefreshPeriodMs = 50;
