// The status window's procedure, registered with the window class.
#pragma once

#include <platform/window.h>

LRESULT MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
