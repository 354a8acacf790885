// Plain Xlib work for the on-screen backend: the hidden stand-in that lets other programs
// find a window that is not shown, and the search for other programs' top-level windows.
#pragma once

#include <X11/Xlib.h>

#include <platform/window.h>

namespace platform::x11 {

// An unmapped window of the window class className (found by FindTopLevel) with WM_NAME
// title at the rectangle.
::Window CreateStandIn(::Display* display, const char* className, const char* title,
                       const RECT& rect);
void MoveStandIn(::Display* display, ::Window window, const RECT& rect);
// The program's file name, the instance part of its windows' WM_CLASS.
const char* ProgramName();
// WM_CLASS names the program; the window class is kept for FindTopLevel.
void SetClassAndTitle(::Display* display, ::Window window, const char* className,
                      const char* title);
bool WindowManagerRunning(::Display* display);
// Asks the window manager for a frame with a title, a menu and a close box only.
void SetCloseBoxOnly(::Display* display, ::Window window);
// Size hints for a window of this client size that cannot be resized (no maximise, no
// sizing border), and a frame with a close box only.
void SetFixedSize(::Display* display, ::Window window, int width, int height);

// The topmost top-level window (a child of the root, or of a window manager's frame) whose
// window class (as SetClassAndTitle keeps it) is exactly className and whose name is title
// when given; 0 when none.
::Window FindTopLevel(::Display* display, const char* className, const char* title);
// The outer rectangle of the window's frame: its ancestor just below the root, borders
// included. False when the window is gone.
bool OuterRect(::Display* display, ::Window window, RECT* rect);
// How far the frame around a mapped window reaches beyond it on each side.
RECT FrameInsets(::Display* display, ::Window window);

// Other programs' windows travel as window handles that are not window objects.
HWND HandleOf(::Window window);
::Window WindowOf(HWND handle);

}  // namespace platform::x11
