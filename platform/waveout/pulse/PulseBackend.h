// The sound-server backend (libpulse; PipeWire's pulse server speaks the same protocol).
#pragma once

#include <string>
#include <vector>

#include "platform/waveout/AudioSink.h"

namespace platform {

struct PulseSinkInfo {
    std::string name;         // the server's sink name, used to open it
    std::string description;  // what the desktop's sound settings show
    uint16_t channels;
    bool isDefault;
};

// Asks the server for its sinks, in the server's order. False when no server answers within
// a short time; a server is never started for this.
bool ListPulseSinks(std::vector<PulseSinkInfo>* sinks);

AudioBackend& PulseBackend();

}  // namespace platform
