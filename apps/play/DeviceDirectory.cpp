#include "apps/play/DeviceDirectory.h"

#include <cstring>
#include <string>
#include <vector>

#include <platform/dialog.h>
#include <platform/gdi.h>
#include "apps/play/DeviceMatch.h"
#include "apps/play/ShellState.h"
#include "resources/Resources.h"

namespace {

constexpr DeviceSource kWaveOutService = {waveOutGetNumDevs, waveOutGetDevCapsA};

}  // namespace

DeviceDirectory::DeviceDirectory() : DeviceDirectory(kWaveOutService) {}

DeviceDirectory::DeviceDirectory(const DeviceSource& deviceSource) : source(deviceSource) {
    deviceCount = static_cast<int32_t>(source.count());
    if (deviceCount <= 0) {
        deviceCount = 0;
        return;
    }
    capabilities = std::make_unique<WAVEOUTCAPSA[]>(static_cast<size_t>(deviceCount));
    for (int32_t i = 0; i < deviceCount; ++i) {
        WAVEOUTCAPSA& caps = capabilities[static_cast<size_t>(i)];
        std::memset(&caps, 0, sizeof caps);  // a failed request leaves an empty name
        source.capabilities(static_cast<UINT_PTR>(i), &caps, sizeof caps);
        caps.szPname[sizeof caps.szPname - 1] = '\0';
        const std::string upper = UpperCaseUtf8(caps.szPname, sizeof caps.szPname - 1);
        std::memcpy(caps.szPname, upper.c_str(), upper.size() + 1);
    }
}

DeviceDirectory::~DeviceDirectory() {
    deviceCount = 0;
}

const WAVEOUTCAPSA* DeviceDirectory::Capabilities(int32_t device) const {
    return device >= 0 && device < deviceCount ? &capabilities[static_cast<size_t>(device)]
                                               : nullptr;
}

int32_t DeviceDirectory::FindDevice(const char* text) {
    if (text == nullptr) {
        return -1;
    }
    std::vector<std::string> names;
    for (int32_t i = 0; i < deviceCount; ++i) {
        names.emplace_back(capabilities[static_cast<size_t>(i)].szPname);
    }
    return MatchDevice(names, text);
}

void DeviceDirectory::ShowDeviceList(HINSTANCE instance, HWND owner) {
    font = CreateFontA(16, 8, 0, 0, 0, FALSE, FALSE, FALSE, ANSI_CHARSET, OUT_DEFAULT_PRECIS,
                       CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, FIXED_PITCH, "Courier New");
    DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_DEVICE_LIST), owner, DeviceListDialogProc,
                    reinterpret_cast<LPARAM>(this));
    DeleteObject(font);
    font = nullptr;
}

// The names as the service reports them, in its own letter case.
BOOL DeviceDirectory::FillDeviceList(HWND dialog) {
    std::vector<std::string> names;
    for (int32_t i = 0; i < deviceCount; ++i) {
        WAVEOUTCAPSA caps{};
        source.capabilities(static_cast<UINT_PTR>(i), &caps, sizeof caps);
        caps.szPname[sizeof caps.szPname - 1] = '\0';
        names.emplace_back(caps.szPname);
    }
    const std::string text = DeviceListText(names);
    SendDlgItemMessageA(dialog, IDC_DEVICE_LIST_TEXT, WM_SETFONT, reinterpret_cast<WPARAM>(font),
                        FALSE);
    SetDlgItemTextA(dialog, IDC_DEVICE_LIST_TEXT, text.c_str());
    return TRUE;
}

// Escape (the cancel command) is not handled, so it leaves the list open.
INT_PTR DeviceListDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            return reinterpret_cast<DeviceDirectory*>(lParam)->FillDeviceList(dialog);
        case WM_COMMAND:
            if (LOWORD(wParam) == IDOK) {
                EndDialog(dialog, 1);
            }
            break;
        case WM_SYSCOMMAND:
            if (LOWORD(wParam) == SC_CLOSE) {
                EndDialog(dialog, 1);
            }
            break;
        default:
            break;
    }
    return FALSE;
}

int32_t ChooseDevice(const char* text, HWND owner) {
    if (text == nullptr) {
        return -1;
    }
    DeviceDirectory directory;
    const int32_t device = directory.FindDevice(text);
    if (device == -1) {
        directory.ShowDeviceList(shell.appInstance, owner);
    }
    return device;
}
