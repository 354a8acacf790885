// "Null Output": a device without hardware. It keeps 100 ms of audio and plays it by the
// monotonic clock at the opened rate, so timing, positions and notifications behave as on a
// real device. It is always listed, last, and is the default when no sound system answers.
#pragma once

#include "platform/waveout/AudioSink.h"

namespace platform {

AudioBackend& NullOutputBackend();

}  // namespace platform
