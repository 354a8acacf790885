// The device list: one snapshot per process, taken at first use. In order: the sound
// server's sinks when a server answers (by description); otherwise the ALSA playback
// devices (when that backend is added, in DeviceList.cpp); last, always, "Null Output".
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

// Copies the name into szPname: at most 31 bytes, cut at a UTF-8 character boundary.
void CopyDeviceName(const std::string& name, char (&target)[32]);

}  // namespace platform
