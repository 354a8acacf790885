// Modal dialogs: creation from templates, the default dialog procedure, the modal loop that
// keeps dispatching the thread's other messages, and the control helpers.
#include "platform/window/Dialogs.h"

#include <strings.h>

#include <mutex>
#include <unordered_map>

#include <platform/gdi.h>
#include <platform/kernel.h>
#include "platform/window/DisplayBackend.h"
#include "platform/window/WindowObject.h"

namespace platform {
namespace {

struct DialogState {
    DLGPROC procedure = nullptr;
    INT_PTR result = 0;
    bool ended = false;
};

std::mutex dialogsMutex;
std::unordered_map<HWND, DialogState>& Dialogs() {
    static auto* dialogs = new std::unordered_map<HWND, DialogState>();
    return *dialogs;
}

DLGPROC ProcedureOfDialog(HWND dialog) {
    std::lock_guard<std::mutex> lock(dialogsMutex);
    auto found = Dialogs().find(dialog);
    return found != Dialogs().end() ? found->second.procedure : nullptr;
}

bool HasEnded(HWND dialog) {
    std::lock_guard<std::mutex> lock(dialogsMutex);
    auto found = Dialogs().find(dialog);
    return found == Dialogs().end() || found->second.ended;
}

// What the dialog procedure leaves unhandled: closing means cancelling (which a dialog
// without a cancel handler ignores); everything else is the default window behaviour.
LRESULT DialogWindowProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    DLGPROC procedure = ProcedureOfDialog(dialog);
    if (procedure != nullptr) {
        const INT_PTR handled = procedure(dialog, message, wParam, lParam);
        if (handled != 0 || message == WM_INITDIALOG) {
            return handled;
        }
    }
    if (message == WM_CLOSE) {
        PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDCANCEL)));
        return 0;
    }
    return DefWindowProcA(dialog, message, wParam, lParam);
}

void RegisterDialogClass() {
    static std::once_flag once;
    std::call_once(once, [] {
        WNDCLASSEXA windowClass{};
        windowClass.cbSize = sizeof windowClass;
        windowClass.lpfnWndProc = DialogWindowProc;
        windowClass.lpszClassName = kDialogClass;
        RegisterClassExA(&windowClass);
    });
}

int Scale(int value, int numerator, int denominator) {
    const long long scaled = static_cast<long long>(value) * numerator;
    return static_cast<int>((scaled + (scaled >= 0 ? denominator / 2 : -denominator / 2)) /
                            denominator);
}

}  // namespace

RECT DialogUnitsToPixels(int x, int y, int cx, int cy) {
    const int left = Scale(x, kDialogBaseX, 4);
    const int top = Scale(y, kDialogBaseY, 8);
    return RECT{left, top, left + Scale(cx, kDialogBaseX, 4), top + Scale(cy, kDialogBaseY, 8)};
}

HWND CreateDialogWindow(const char* title, DWORD style, const RECT& rect,
                        const std::vector<DialogControl>& controls, DLGPROC procedure, HFONT font) {
    RegisterDialogClass();
    HWND dialog = CreateWindowExA(0, kDialogClass, title, style & ~WS_VISIBLE, rect.left, rect.top,
                                  rect.right - rect.left, rect.bottom - rect.top, nullptr, nullptr,
                                  nullptr, nullptr);
    if (dialog == nullptr) {
        return nullptr;
    }
    {
        std::lock_guard<std::mutex> lock(dialogsMutex);
        Dialogs()[dialog] = DialogState{procedure, 0, false};
    }
    for (const DialogControl& control : controls) {
        HWND item = CreateWindowExA(
            0, control.className, control.text.c_str(), control.style, control.rect.left,
            control.rect.top, control.rect.right - control.rect.left,
            control.rect.bottom - control.rect.top, dialog,
            reinterpret_cast<HMENU>(static_cast<intptr_t>(control.id)), nullptr, nullptr);
        if (item != nullptr && font != nullptr) {
            SendMessageA(item, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
        }
    }
    return dialog;
}

INT_PTR RunModalDialog(HWND dialog, ModalKind kind, int defaultId) {
    // Only the thread that serves the screen can wait for a click; anywhere else a dialog
    // would wait forever, so it ends at once as it does without a screen.
    if (!Display().HasScreen() || !Display().IsGuiThread()) {
        Display().ModalWithoutScreen(dialog, kind);
        if (!HasEnded(dialog)) {
            SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(defaultId, BN_CLICKED),
                         reinterpret_cast<LPARAM>(GetDlgItem(dialog, defaultId)));
        }
        if (!HasEnded(dialog)) {
            EndDialog(dialog, defaultId);
        }
    } else {
        if (!HasEnded(dialog)) {
            ShowWindow(dialog, SW_SHOW);
            UpdateWindow(dialog);
        }
        MSG message;
        while (!HasEnded(dialog) && IsWindow(dialog)) {
            const BOOL got = GetMessageA(&message, nullptr, 0, 0);
            if (got == 0) {
                // A quit message ends the dialog and, posted again, the caller's loop too.
                PostQuitMessage(static_cast<int>(message.wParam));
                break;
            }
            if (got < 0) {
                break;
            }
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
    INT_PTR result = 0;
    {
        std::lock_guard<std::mutex> lock(dialogsMutex);
        auto found = Dialogs().find(dialog);
        if (found != Dialogs().end()) {
            result = found->second.result;
            Dialogs().erase(found);
        }
    }
    DestroyWindow(dialog);
    return result;
}

}  // namespace platform

INT_PTR DialogBoxParamA(HINSTANCE instance, LPCSTR templateName, HWND owner, DLGPROC procedure,
                        LPARAM param) {
    const ResourceDialog* dialog = platform::FindDialog(instance, templateName);
    if (dialog == nullptr || procedure == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    RECT rect = platform::DialogUnitsToPixels(dialog->x, dialog->y, dialog->cx, dialog->cy);
    RECT ownerRect{};
    if (owner != nullptr && GetWindowRect(owner, &ownerRect)) {
        const RECT frame = platform::Display().FrameInsets(owner);
        const LONG dx = ownerRect.left + frame.left;
        const LONG dy = ownerRect.top + frame.top;
        rect = RECT{rect.left + dx, rect.top + dy, rect.right + dx, rect.bottom + dy};
    }
    HFONT font = nullptr;
    if ((dialog->style & DS_SETFONT) != 0) {
        const int pixels = (dialog->pointSize * 96 + 36) / 72;
        font = CreateFontA(-pixels, 0, 0, 0, dialog->weight, dialog->italic, 0, 0, dialog->charset,
                           OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH,
                           dialog->fontName);
    }
    std::vector<platform::DialogControl> controls;
    int defaultId = IDOK;
    HWND firstTabStop = nullptr;
    for (int i = 0; i < dialog->itemCount; ++i) {
        const ResourceDialogItem& item = dialog->items[i];
        controls.push_back({item.className, item.id, item.text != nullptr ? item.text : "",
                            platform::DialogUnitsToPixels(item.x, item.y, item.cx, item.cy),
                            item.style});
        if (strcasecmp(item.className, "BUTTON") == 0 && (item.style & 0xF) == BS_DEFPUSHBUTTON) {
            defaultId = item.id;
        }
    }
    HWND window =
        platform::CreateDialogWindow(dialog->title, dialog->style, rect, controls, procedure, font);
    if (window == nullptr) {
        if (font != nullptr) {
            DeleteObject(font);
        }
        return -1;
    }
    for (int i = 0; i < dialog->itemCount && firstTabStop == nullptr; ++i) {
        if ((dialog->items[i].style & WS_TABSTOP) != 0) {
            firstTabStop = GetDlgItem(window, dialog->items[i].id);
        }
    }
    SendMessageA(window, WM_INITDIALOG, reinterpret_cast<WPARAM>(firstTabStop), param);
    const INT_PTR result = platform::RunModalDialog(window, platform::ModalKind::Dialog, defaultId);
    if (font != nullptr) {
        DeleteObject(font);
    }
    return result;
}

BOOL EndDialog(HWND dialog, INT_PTR result) {
    {
        std::lock_guard<std::mutex> lock(platform::dialogsMutex);
        auto found = platform::Dialogs().find(dialog);
        if (found == platform::Dialogs().end()) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        found->second.result = result;
        found->second.ended = true;
    }
    PostMessageA(dialog, WM_NULL, 0, 0);  // the modal loop looks again
    return TRUE;
}

HWND GetDlgItem(HWND dialog, int id) {
    for (HWND child : platform::ChildrenOf(dialog)) {
        if (GetWindowLongPtrA(child, GWLP_ID) == id) {
            return child;
        }
    }
    return nullptr;
}

LRESULT SendDlgItemMessageA(HWND dialog, int id, UINT message, WPARAM wParam, LPARAM lParam) {
    HWND item = GetDlgItem(dialog, id);
    return item != nullptr ? SendMessageA(item, message, wParam, lParam) : 0;
}

BOOL SetDlgItemTextA(HWND dialog, int id, LPCSTR text) {
    HWND item = GetDlgItem(dialog, id);
    if (item == nullptr) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    return SetWindowTextA(item, text);
}
