#include "apps/play/MainWindow.h"

#include <cstdio>
#include <string>

#include <platform/dialog.h>
#include "apps/play/DeviceDirectory.h"
#include "apps/play/ShellState.h"
#include "apps/play/StartFailure.h"
#include "apps/play/StopSignals.h"

namespace {

struct RowPlace {
    HWND ShellState::*row;
    const char* text;
    int y;
    int height;
};

// The position row is taller than the space left: the client area's edge cuts it.
constexpr RowPlace kRows[] = {
    {&ShellState::rowDevice, "Device", 0, 20},
    {&ShellState::rowFile, "File", 20, 20},
    {&ShellState::rowFormat, "Format", 40, 20},
    {&ShellState::rowPosition, "Position", 60, 80},
};

float PercentFactor(int32_t percent) {
    return static_cast<float>(percent) / 100.0f;
}

// Stops the timer, releases the player (stopping the device first) and ends the message
// loop. A second call, from a destruction after the run already ended, finds nothing to do.
void EndRun(HWND window) {
    KillTimer(window, shell.timerId);
    shell.player.reset();
    PostQuitMessage(0);
}

std::string PositionText() {
    if (shell.showBytes) {
        uint32_t bytes = 0;
        shell.player->GetPositionBytes(&bytes);
        return std::to_string(bytes);
    }
    char* text = nullptr;
    shell.player->GetTimeText(&text);
    return text;
}

LRESULT OnTimer(HWND window) {
    if (!shell.player) {
        return 0;
    }
    // A hidden row is never drawn: nothing to ask or format.
    const std::string position = IsWindowVisible(window) ? PositionText() : std::string();
    const int32_t state = shell.player->GetState();
    // The tick that ends a run that played leaves the last position played in the row (the
    // stopped player would give 0): the terminal's status line ends on it. The state is read
    // after the position, so a reading taken once the player stopped is never kept as such.
    const bool keepLast = state == PLAYER_STOPPED && !shell.looping && shell.positionShown;
    if (!position.empty() && !keepLast) {
        SetWindowTextA(shell.rowPosition, position.c_str());
        shell.positionShown = state != PLAYER_STOPPED;
    }
    if (state != PLAYER_STOPPED) {
        return 0;
    }
    if (!shell.looping) {
        EndRun(window);
        return 0;
    }
    shell.player->Close();
    // No device is open during the pause, so a stop signal ends it at once; the quit message
    // it posted then ends the run.
    if (shell.loopDelay.enabled &&
        !PauseUnlessStopped(static_cast<DWORD>(NextLoopPause(&shell.loopDelay)))) {
        return 0;
    }
    StartPlayback();
    shell.player->Restart();
    return 0;
}

// The "Starting Error" box, and the reason on standard error. On a screen the box waits for
// a click, so the line comes at once; without one the box is a line on standard error too,
// and the reason follows it.
void ReportFailedStart(HWND window) {
    StartFailure failure;
    failure.systemError = GetLastError();  // first, before another call can change it
    failure.byDevice = shell.player->GetErrorKind() == 0;
    failure.fileName = shell.fileName;
    WAVEOUTCAPSA caps{};
    if (waveOutGetDevCapsA(static_cast<UINT>(shell.deviceId), &caps, sizeof caps) ==
        MMSYSERR_NOERROR) {
        failure.deviceName = caps.szPname;
    }
    char* text = nullptr;
    shell.player->GetErrorText(&text);
    failure.errorText = text;
    const std::string line = StartFailureLine(failure);
    if (shell.onScreen) {
        std::fputs(line.c_str(), stderr);
    }
    MessageBoxA(window, text, "Starting Error", MB_OK);
    if (!shell.onScreen) {
        std::fputs(line.c_str(), stderr);
    }
}

}  // namespace

int32_t StartPlayback() {
    shell.fileName = shell.commandLine->ArgumentAt(0);
    int32_t device = -1;  // the wave mapper
    const char* deviceText = nullptr;
    if (shell.commandLine->FindOption('D', &deviceText) && deviceText != nullptr) {
        device = ChooseDevice(deviceText, nullptr);
        if (device == -1) {
            return 0;  // nothing matched: the device list has been shown
        }
    }
    int32_t punchIn = 0;
    shell.commandLine->FindOptionInt('P', &punchIn);
    shell.looping = shell.commandLine->FindOption('L', nullptr) && !shell.hidden;
    int32_t ratePercent = 100;
    shell.commandLine->FindOptionInt('S', &ratePercent);
    shell.stretchPercent = 100;
    shell.commandLine->FindOptionInt('T', &shell.stretchPercent);
    shell.deviceId = device;
    SetLastError(ERROR_SUCCESS);  // what is left after a failure is the failing call's
    return shell.player->Start(device, shell.fileName, punchIn, PercentFactor(ratePercent),
                               PercentFactor(shell.stretchPercent));
}

void OnCreate(HWND window) {
    shell.statusWindow = window;
    shell.player = std::make_unique<WavePlayer>(window);
    for (const RowPlace& place : kRows) {
        shell.*place.row =
            CreateWindowExA(0, "STATIC", place.text, WS_CHILD | WS_VISIBLE, 0, place.y, 240,
                            place.height, window, nullptr, shell.appInstance, nullptr);
    }
    if (StartPlayback() != 0) {
        ReportFailedStart(window);
    }
    SetWindowTextA(shell.rowFile, shell.fileName);
    char* format = nullptr;
    shell.player->GetFormatText(&format);
    if (format != nullptr) {
        std::string row = format;
        if (shell.stretchPercent != 100) {
            char suffix[24];
            std::snprintf(suffix, sizeof suffix, ", %d%%", shell.stretchPercent);
            row += suffix;
        }
        SetWindowTextA(shell.rowFormat, row.c_str());
    }
    WAVEOUTCAPSA* caps = nullptr;
    shell.player->GetDeviceCaps(&caps);
    if (caps != nullptr) {
        SetWindowTextA(shell.rowDevice, caps->szPname);
    }
    shell.timerId = SetTimer(window, kRefreshTimerId, kRefreshPeriodMs, nullptr);
    if (!StopRequested()) {  // a stop during the start: the run ends before anything is heard
        shell.player->Restart();
    }
}

LRESULT MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE:
            OnCreate(window);
            break;
        case WM_TIMER:
            return OnTimer(window);
        case WM_DESTROY:
            EndRun(window);
            return 0;
        default:
            break;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}
