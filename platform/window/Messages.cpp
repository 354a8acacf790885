// Posting, sending, retrieving and dispatching messages, the default window procedure and
// timers, on top of the per-thread queues.
#include <chrono>

#include <platform/kernel.h>
#include <platform/window.h>
#include "platform/window/MessageQueue.h"
#include "platform/window/WindowObject.h"

using platform::CurrentQueue;
using platform::QueueOf;

BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    const MSG posted{window, message, wParam, lParam, GetTickCount(), {0, 0}};
    if (window == nullptr) {
        return CurrentQueue().Post(posted) ? TRUE : FALSE;
    }
    std::shared_ptr<platform::MessageQueue> queue = QueueOf(window);
    if (queue == nullptr || !queue->Post(posted)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    return TRUE;
}

BOOL PostThreadMessageA(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam) {
    std::shared_ptr<platform::MessageQueue> queue = platform::QueueOfThread(threadId);
    if (queue == nullptr ||
        !queue->Post(MSG{nullptr, message, wParam, lParam, GetTickCount(), {0, 0}})) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return TRUE;
}

LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    std::shared_ptr<platform::MessageQueue> queue = QueueOf(window);
    if (queue == nullptr) {
        return 0;
    }
    if (queue.get() == &CurrentQueue()) {
        WNDPROC procedure = platform::ProcedureOf(window);
        return procedure != nullptr ? procedure(window, message, wParam, lParam) : 0;
    }
    LRESULT result = 0;
    queue->SendFromOtherThread(MSG{window, message, wParam, lParam, GetTickCount(), {0, 0}},
                               &result);
    return result;
}

void PostQuitMessage(int exitCode) {
    CurrentQueue().PostQuit(exitCode);
}

BOOL GetMessageA(MSG* message, HWND window, UINT filterMin, UINT filterMax) {
    if (message == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    if (window != nullptr && QueueOf(window).get() != &CurrentQueue()) {
        // An unknown window, or one of another thread: nothing can arrive for it here, but a
        // pending quit is still delivered so that a loop filtering on it can end.
        if (CurrentQueue().Retrieve(message, nullptr, WM_QUIT, WM_QUIT, false, true)) {
            return FALSE;
        }
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return -1;
    }
    CurrentQueue().Retrieve(message, window, filterMin, filterMax, true, true);
    return message->message == WM_QUIT ? FALSE : TRUE;
}

BOOL PeekMessageA(MSG* message, HWND window, UINT filterMin, UINT filterMax, UINT remove) {
    if (message == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return CurrentQueue().Retrieve(message, window, filterMin, filterMax, false,
                                   (remove & PM_REMOVE) != 0)
               ? TRUE
               : FALSE;
}

// Keyboard input arrives already as characters from the display backend.
BOOL TranslateMessage(const MSG* /*message*/) {
    return FALSE;
}

LRESULT DispatchMessageA(const MSG* message) {
    if (message == nullptr || message->hwnd == nullptr) {
        return 0;
    }
    if (message->message == WM_TIMER && message->lParam != 0) {
        auto procedure = reinterpret_cast<TIMERPROC>(message->lParam);
        procedure(message->hwnd, WM_TIMER, message->wParam, GetTickCount());
        return 0;
    }
    WNDPROC procedure = platform::ProcedureOf(message->hwnd);
    if (procedure == nullptr) {
        return 0;
    }
    return procedure(message->hwnd, message->message, message->wParam, message->lParam);
}

LRESULT DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CLOSE:
            DestroyWindow(window);
            return 0;
        case WM_SETTEXT:
            platform::SetTextOfWindow(window, reinterpret_cast<const char*>(lParam));
            return TRUE;
        case WM_GETTEXT:
            return platform::CopyTextOfWindow(window, reinterpret_cast<char*>(lParam),
                                              static_cast<int>(wParam));
        case WM_GETTEXTLENGTH:
            return platform::TextLengthOfWindow(window);
        default:
            return 0;
    }
}

LRESULT CallWindowProcA(WNDPROC procedure, HWND window, UINT message, WPARAM wParam,
                        LPARAM lParam) {
    return procedure != nullptr ? procedure(window, message, wParam, lParam) : 0;
}

UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT milliseconds, TIMERPROC procedure) {
    if (window == nullptr) {
        return CurrentQueue().SetTimer(nullptr, id, milliseconds, procedure);
    }
    std::shared_ptr<platform::MessageQueue> queue = QueueOf(window);
    if (queue == nullptr) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    return queue->SetTimer(window, id, milliseconds, procedure);
}

BOOL KillTimer(HWND window, UINT_PTR id) {
    std::shared_ptr<platform::MessageQueue> queue =
        window == nullptr ? platform::CurrentQueuePtr() : QueueOf(window);
    if (queue == nullptr || !queue->KillTimer(window, id)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return TRUE;
}

DWORD GetTickCount() {
    using namespace std::chrono;
    return static_cast<DWORD>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}
