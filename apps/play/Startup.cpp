#include "apps/play/Startup.h"

#include <cstdio>
#include <memory>
#include <utility>

#include <platform/dialog.h>
#include <platform/resources.h>
#include "apps/play/DeviceDirectory.h"
#include "apps/play/MainWindow.h"
#include "apps/play/ShellState.h"
#include "apps/play/StopSignals.h"
#include "apps/play/Usage.h"
#include "resources/Resources.h"

POINT PlaceBesideInstance(const RECT& desktop, const RECT* instance) {
    if (instance != nullptr && instance->bottom + kInstanceOffset <= desktop.bottom &&
        instance->right + kInstanceOffset <= desktop.right) {
        return POINT{instance->left + kInstanceOffset, instance->top + kInstanceOffset};
    }
    return POINT{0, 0};
}

// The frame may be thinner than the 20 pixels the outer height allows for (no window
// manager draws none at all), so a client area that is too large is corrected as well.
bool ClientFixUp(const RECT& outer, const RECT& client, int* width, int* height) {
    const int clientWidth = client.right - client.left;
    const int clientHeight = client.bottom - client.top;
    if (clientWidth == kClientWidth && clientHeight == kClientHeight) {
        return false;
    }
    *width = outer.right - outer.left + (kClientWidth - clientWidth);
    *height = outer.bottom - outer.top + (kClientHeight - clientHeight);
    return true;
}

bool CheckOptions() {
    const std::string message = BuildOptionMessage(*shell.commandLine, &shell.showBytes);
    if (message.empty()) {
        return true;
    }
    MessageBoxA(nullptr, message.c_str(), kProgramTitle, MB_OK);
    return false;
}

bool StartInstance(HINSTANCE instance, int showCommand, std::unique_ptr<CommandLine> commandLine) {
    shell.appInstance = instance;
    shell.commandLine = std::move(commandLine);

    if (shell.commandLine->FindOption('E', nullptr)) {
        DeviceDirectory directory;
        directory.ShowDeviceList(shell.appInstance, nullptr);
        return false;
    }
    if (!CheckOptions()) {
        return false;
    }
    const char* pauses = nullptr;
    const bool hasPauses = shell.commandLine->FindOption('I', &pauses);
    shell.loopDelay = ParseLoopDelay(hasPauses, pauses);
    shell.hidden = shell.commandLine->FindOption('H', nullptr);

    RECT desktop{};
    GetWindowRect(GetDesktopWindow(), &desktop);
    RECT neighbour{};
    HWND running = FindWindowA(shell.className, nullptr);
    const bool found = running != nullptr && GetWindowRect(running, &neighbour);
    const POINT position = PlaceBesideInstance(desktop, found ? &neighbour : nullptr);

    HWND window = CreateWindowExA(0, shell.className, shell.windowTitle, WS_CAPTION | WS_SYSMENU,
                                  position.x, position.y, kOuterWidth, kOuterHeight, nullptr,
                                  nullptr, shell.appInstance, nullptr);
    if (window == nullptr) {
        return false;
    }
    if (StopRequested()) {  // a stop came while the window was built: it never shows
        DestroyWindow(window);
        return false;
    }
    RECT outer{};
    RECT client{};
    GetWindowRect(window, &outer);
    GetClientRect(window, &client);
    int width = 0;
    int height = 0;
    if (ClientFixUp(outer, client, &width, &height)) {
        SetWindowPos(window, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER);
    }
    if (!shell.hidden) {
        ShowWindow(window, showCommand);
        UpdateWindow(window);
    }
    return true;
}

int QuindleMain(HINSTANCE instance, std::unique_ptr<CommandLine> commandLine, int showCommand) {
    std::snprintf(shell.windowTitle, sizeof shell.windowTitle, "%s%s", "Quindle64.exe",
                  " Version 1.14");
    LoadStringA(instance, IDS_CLASS_NAME, shell.className, sizeof shell.className);

    WNDCLASSEXA windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS;
    windowClass.lpfnWndProc = MainWindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_QUINDLE));
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<uintptr_t>(COLOR_WINDOW + 1));
    windowClass.lpszMenuName = MAKEINTRESOURCEA(IDM_QUINDLE);
    windowClass.lpszClassName = shell.className;
    windowClass.hIconSm = LoadIconA(instance, MAKEINTRESOURCEA(IDI_QUINDLE_SMALL));
    RegisterClassExA(&windowClass);

    if (!StartInstance(instance, showCommand, std::move(commandLine))) {
        return 0;
    }
    MSG message{};
    BOOL got = 0;
    while ((got = GetMessageA(&message, nullptr, 0, 0)) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    // A stop signal ended the loop while the run was on: end it as closing the window does.
    if (shell.player != nullptr && IsWindow(shell.statusWindow)) {
        DestroyWindow(shell.statusWindow);
    }
    shell.commandLine.reset();
    return got == 0 ? static_cast<int>(message.wParam) : 0;
}
