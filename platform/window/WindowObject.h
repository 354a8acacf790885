// What the message functions need to know about windows, from the window registry.
// Handles are never reused, so a stale handle is recognised instead of reaching a freed
// object.
#pragma once

#include <memory>

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
// Removes, without messages, every window that the ending thread's queue owns.
void ForgetWindowsOf(const MessageQueue* queue);

}  // namespace platform
