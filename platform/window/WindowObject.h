// What the message functions need to know about windows, from the window registry.
// Handles are never reused, so a stale handle is recognised instead of reaching a freed
// object.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <platform/window.h>
#include "platform/window/MessageQueue.h"

namespace platform {

// The procedure of a live window, or null.
WNDPROC ProcedureOf(HWND window);
// The queue of the thread that owns the window, or null for an unknown window.
std::shared_ptr<MessageQueue> QueueOf(HWND window);
// The window text, for DefWindowProcA's WM_SETTEXT, WM_GETTEXT and WM_GETTEXTLENGTH.
void SetTextOfWindow(HWND window, const char* text);
int CopyTextOfWindow(HWND window, char* buffer, int size);
int TextLengthOfWindow(HWND window);
// The live children of a window in creation order.
std::vector<HWND> ChildrenOf(HWND window);
std::string ClassNameOf(HWND window);
// The display moved or resized a window (the user dragged it, the desktop framed it): the
// rectangle changes without telling the display again.
void SetRectFromDisplay(HWND window, const RECT& rect);
// The newest top-level window of this process with the class (any case) and title (when not
// null), or null.
HWND FindTopLevelWindow(const char* className, const char* title);
// Handles that are not window objects: the desktop, another program's window.
bool SpecialWindowRect(HWND window, RECT* rect);

// Removes, without messages, every window that the ending thread's queue owns.
void ForgetWindowsOf(const MessageQueue* queue);

}  // namespace platform
