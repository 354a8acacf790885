#include "apps/play/MainWindow.h"

// Closing the window ends the run; everything else is the default behaviour.
LRESULT MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}
