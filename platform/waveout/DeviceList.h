// The device list: one snapshot per process, taken at first use. In order: the sound
// server's sinks when a server answers (by description); otherwise the ALSA playback
// devices; then a device a test added; last, always, "Null Output".
#pragma once

#include <string>
#include <vector>

#include "platform/waveout/AudioSink.h"

namespace platform {

struct DeviceEntry {
    std::string name;       // as the desktop's sound settings show it; cut for szPname
    AudioBackend* backend;  // lives for the process
    std::string target;     // the backend's own name of the device; empty for its default
    uint16_t maxChannels;
};

struct DeviceList {
    std::vector<DeviceEntry> devices;
    DeviceEntry mapper;  // the system default device
};

const DeviceList& Devices();

// For tests: lists one device of `backend` right before "Null Output". Only a call made before
// the device list is first used takes effect.
void AddTestDevice(const std::string& name, AudioBackend* backend);

// Copies the name into szPname: at most 31 bytes, cut at a UTF-8 character boundary.
void CopyDeviceName(const std::string& name, char (&target)[32]);

}  // namespace platform
