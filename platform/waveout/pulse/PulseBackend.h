// The sound-server backend (libpulse; PipeWire's pulse server speaks the same protocol).
#pragma once

#include "platform/waveout/AudioSink.h"

namespace platform {

// The server's sinks by description, and as the default the server's default sink, wherever
// the server sends it. False when no server answers within a short time, or it has no sinks;
// a server is never started for this.
bool ListServerSinks(BackendDevices* found);

AudioBackend& PulseBackend();

}  // namespace platform
