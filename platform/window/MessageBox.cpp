// Message boxes: a dialog of their own with the text and an OK button, sized to the text and
// centred on the screen.
#include <algorithm>

#include <platform/dialog.h>
#include "platform/window/Dialogs.h"

namespace {

constexpr int kMargin = 12;
constexpr int kButtonWidth = 75;
constexpr int kButtonHeight = 23;
constexpr int kTextId = 0xFFFF;
constexpr DWORD kStaticNoPrefix = 0x0080L;

// Only an OK button: OK, Escape and the close box all answer IDOK.
INT_PTR MessageBoxProc(HWND box, UINT message, WPARAM wParam, LPARAM /*lParam*/) {
    if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
        EndDialog(box, IDOK);
        return TRUE;
    }
    return FALSE;
}

}  // namespace

int MessageBoxA(HWND /*owner*/, LPCSTR text, LPCSTR caption, UINT /*type*/) {
    text = text != nullptr ? text : "";
    caption = caption != nullptr ? caption : "Error";
    const RECT screen = platform::Display().ScreenRect();
    const int screenWidth = screen.right - screen.left;
    const int screenHeight = screen.bottom - screen.top;
    // Lines wider than the screen leaves room for break between words.
    int textWidth = 0;
    int textHeight = 0;
    platform::Display().MeasureText(text, nullptr, std::max(screenWidth - 6 * kMargin, 100),
                                    &textWidth, &textHeight);
    const int width =
        std::min(std::max(textWidth, kButtonWidth + 2 * kMargin) + 2 * kMargin, screenWidth);
    const int height =
        std::min(textHeight + 3 * kMargin + kButtonHeight + kMargin / 2, screenHeight);
    const int left = screen.left + std::max((screenWidth - width) / 2, 0);
    const int top = screen.top + std::max((screenHeight - height) / 2, 0);
    const int buttonTop = height - kMargin - kButtonHeight;
    const int buttonLeft = (width - kButtonWidth) / 2;

    const std::vector<platform::DialogControl> controls = {
        {"STATIC", kTextId, text, RECT{kMargin, kMargin, width - kMargin, buttonTop - kMargin / 2},
         WS_CHILD | WS_VISIBLE | SS_LEFT | kStaticNoPrefix},
        {"BUTTON", IDOK, "OK",
         RECT{buttonLeft, buttonTop, buttonLeft + kButtonWidth, buttonTop + kButtonHeight},
         WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON},
    };
    HWND box = platform::CreateDialogWindow(caption, WS_POPUP | WS_CAPTION | WS_SYSMENU,
                                            RECT{left, top, left + width, top + height}, controls,
                                            MessageBoxProc, nullptr);
    if (box == nullptr) {
        return 0;
    }
    platform::RunModalDialog(box, platform::ModalKind::MessageBox, IDOK);
    return IDOK;
}
