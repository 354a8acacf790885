// "Null Output": a device without hardware. It keeps 100 ms of audio and plays it by the
// monotonic clock at the opened rate, so timing, positions and notifications behave as on a
// real device.
#pragma once

#include <functional>

#include "platform/waveout/AudioSink.h"

namespace platform {

AudioBackend& NullOutputBackend();

// For tests: every byte written to a Null Output sink is also handed to the tap (called on
// the device thread). An empty function removes the tap.
using NullOutputTap = std::function<void(const uint8_t* data, size_t bytes)>;
void SetNullOutputTap(NullOutputTap tap);

}  // namespace platform
