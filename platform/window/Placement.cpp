// Where windows are on the screen: client areas inside the desktop's frames, moving and
// sizing, the desktop window, and the search for top-level windows of any program.
#include <algorithm>

#include <platform/kernel.h>
#include <platform/window.h>
#include "platform/window/DisplayBackend.h"
#include "platform/window/WindowObject.h"

namespace platform {
namespace {

// Not a window object handle (those have the low four bits clear).
HWND const kDesktopWindow = reinterpret_cast<HWND>(static_cast<uintptr_t>(0x8));

}  // namespace

bool SpecialWindowRect(HWND window, RECT* rect) {
    if (window == kDesktopWindow) {
        *rect = Display().ScreenRect();
        return true;
    }
    if (window != nullptr && (reinterpret_cast<uintptr_t>(window) & 0xF) != 0) {
        return Display().ForeignWindowRect(window, rect);
    }
    return false;
}

}  // namespace platform

BOOL GetClientRect(HWND window, RECT* rect) {
    if (rect == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    RECT outer{};
    if (window == platform::kDesktopWindow) {
        outer = platform::Display().ScreenRect();
    } else if (!IsWindow(window) || !GetWindowRect(window, &outer)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    RECT frame{0, 0, 0, 0};
    if (window != platform::kDesktopWindow && GetParent(window) == nullptr) {
        frame = platform::Display().FrameInsets(window);
    }
    const LONG width = outer.right - outer.left - frame.left - frame.right;
    const LONG height = outer.bottom - outer.top - frame.top - frame.bottom;
    *rect = RECT{0, 0, std::max<LONG>(width, 0), std::max<LONG>(height, 0)};
    return TRUE;
}

BOOL SetWindowPos(HWND window, HWND /*insertAfter*/, int x, int y, int width, int height,
                  UINT flags) {
    RECT current{};
    if (!IsWindow(window) || !GetWindowRect(window, &current)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    if ((flags & SWP_NOMOVE) != 0) {
        x = current.left;
        y = current.top;
    }
    if ((flags & SWP_NOSIZE) != 0) {
        width = current.right - current.left;
        height = current.bottom - current.top;
    }
    if (x != current.left || y != current.top || width != current.right - current.left ||
        height != current.bottom - current.top) {
        MoveWindow(window, x, y, std::max(width, 0), std::max(height, 0), TRUE);
    }
    if ((flags & SWP_SHOWWINDOW) != 0) {
        ShowWindow(window, SW_SHOW);
    } else if ((flags & SWP_HIDEWINDOW) != 0) {
        ShowWindow(window, SW_HIDE);
    }
    return TRUE;
}

BOOL UpdateWindow(HWND window) {
    if (!IsWindow(window)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    platform::Display().Repaint(window);
    return TRUE;
}

HWND GetDesktopWindow() {
    return platform::kDesktopWindow;
}

HWND FindWindowA(LPCSTR className, LPCSTR windowName) {
    if (className == nullptr && windowName == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    HWND own = platform::FindTopLevelWindow(className, windowName);
    if (own != nullptr) {
        return own;
    }
    return platform::Display().FindForeignWindow(className, windowName);
}
