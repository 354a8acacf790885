// Modal dialogs from dialog templates, their controls, and message boxes. Both run a modal
// loop that keeps dispatching the calling thread's other messages until they end.
#pragma once

#include <platform/resources.h>
#include <platform/types.h>
#include <platform/window.h>

using DLGPROC = INT_PTR (*)(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

#define IDOK 1
#define IDCANCEL 2
#define MB_OK 0x00000000L

// Shows the text under the caption with an OK button and waits until it is closed. Tabs in the
// text move to the next tab stop (eight average characters). Returns IDOK.
int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);

// Runs the dialog template of the module: creates the dialog and its controls, sends
// WM_INITDIALOG with param to the procedure, shows the dialog and dispatches messages until
// EndDialog. Returns the value given to EndDialog, or -1 when the template does not exist.
// Without a screen the dialog ends at once, as if its default button had been pressed.
INT_PTR DialogBoxParamA(HINSTANCE instance, LPCSTR templateName, HWND owner, DLGPROC procedure,
                        LPARAM param);
BOOL EndDialog(HWND dialog, INT_PTR result);
HWND GetDlgItem(HWND dialog, int id);
LRESULT SendDlgItemMessageA(HWND dialog, int id, UINT message, WPARAM wParam, LPARAM lParam);
BOOL SetDlgItemTextA(HWND dialog, int id, LPCSTR text);
