// A snapshot of the wave-output devices: turns the text of option D into a device number and
// shows the device list dialog.
#pragma once

#include <cstdint>
#include <memory>

#include <platform/waveout.h>
#include <platform/window.h>

// Where the devices come from: the wave-output service, or a table in tests.
struct DeviceSource {
    UINT (*count)();
    MMRESULT (*capabilities)(UINT_PTR device, WAVEOUTCAPSA* caps, UINT size);
};

class DeviceDirectory {
  public:
    DeviceDirectory();
    explicit DeviceDirectory(const DeviceSource& source);
    ~DeviceDirectory();
    DeviceDirectory(const DeviceDirectory&) = delete;
    DeviceDirectory& operator=(const DeviceDirectory&) = delete;

    // A device number below the count, else the best match of the upper-cased names; -1 when
    // nothing matches (and for a missing text).
    int32_t FindDevice(const char* text);
    // The modal device list; returns when it is closed.
    void ShowDeviceList(HINSTANCE instance, HWND owner);

    int32_t DeviceCount() const { return deviceCount; }
    const WAVEOUTCAPSA* Capabilities(int32_t device) const;

  private:
    friend INT_PTR DeviceListDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
    BOOL FillDeviceList(HWND dialog);

    DeviceSource source;
    HFONT font = nullptr;
    int32_t deviceCount = 0;
    std::unique_ptr<WAVEOUTCAPSA[]> capabilities;
};

INT_PTR DeviceListDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// The device for the text of option D; when nothing matches, shows the device list (with the
// program's instance) and gives -1. A missing text gives -1 without the list: the caller
// treats a D without value as no D at all.
int32_t ChooseDevice(const char* text, HWND owner);
