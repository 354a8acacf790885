// The device list: one snapshot per process, taken at first use. In order: the devices of the
// first sound system that answers (the sound server's sinks; otherwise ALSA's playback
// devices), then the devices of the backends tests added, last, always, "Null Output".
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/waveout/AudioSink.h"

namespace platform {

struct DeviceEntry {
    std::string name;       // as the desktop's sound settings show it; cut for szPname
    AudioBackend* backend;  // lives for the process
    std::string target;     // the backend's own name of the device
    uint16_t maxChannels;
};

struct DeviceList {
    std::vector<DeviceEntry> devices;
    // The system default device: the sound server's default sink, or ALSA's default. None
    // when neither answers, so that opening the default fails instead of playing into Null
    // Output unheard.
    std::optional<DeviceEntry> mapper;
};

const DeviceList& Devices();

// The sound systems built in, in the order they are asked; only the first that answers is
// listed. Defined by the source file the build chooses for the backends it has.
std::vector<AudioBackend*> SoundSystems();

// The one way in for tests: `backend` (a recording, failing or slow device, living for the
// process) lists its devices right before "Null Output". Only a call made before the device
// list is first used takes effect, so tests make it at start-up.
void AddTestBackend(AudioBackend* backend);

// Copies the name into szPname: at most 31 bytes, cut at a UTF-8 character boundary.
void CopyDeviceName(const std::string& name, char (&target)[32]);

}  // namespace platform
