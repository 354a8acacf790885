// The dialog manager behind DialogBoxParamA and MessageBoxA: a window of the dialog class
// with its controls, a procedure that sees every message first, and the modal loop.
#pragma once

#include <string>
#include <vector>

#include <platform/dialog.h>
#include "platform/window/DisplayBackend.h"

namespace platform {

inline constexpr const char* kDialogClass = "#32770";

// Dialog units to pixels with the base units of the dialog font (MS Shell Dlg, 8 points):
// a character cell of 6 x 13 pixels; x units are quarters, y units eighths of it.
inline constexpr int kDialogBaseX = 6;
inline constexpr int kDialogBaseY = 13;
RECT DialogUnitsToPixels(int x, int y, int cx, int cy);

struct DialogControl {
    const char* className;
    int id;
    std::string text;
    RECT rect;  // pixels in the dialog's client area
    DWORD style;
};

// Creates the dialog window (not yet visible) and its controls in order; each control gets
// the font when one is given.
HWND CreateDialogWindow(const char* title, DWORD style, const RECT& rect,
                        const std::vector<DialogControl>& controls, DLGPROC procedure, HFONT font);
// Shows the dialog and dispatches messages until EndDialog; then destroys it and returns the
// result. Without a screen (or off the thread that serves it) it ends at once through the
// default button.
INT_PTR RunModalDialog(HWND dialog, ModalKind kind, int defaultId);

}  // namespace platform
