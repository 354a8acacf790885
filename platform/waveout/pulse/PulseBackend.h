// The sound-server backend (libpulse; PipeWire's pulse server speaks the same protocol).
#pragma once

#include <pulse/channelmap.h>
#include <pulse/def.h>
#include <pulse/sample.h>

#include "platform/waveout/AudioSink.h"

namespace platform {

// The server's sinks by description, and as the default the server's default sink, wherever
// the server sends it. False when no server answers within a short time, or it has no sinks;
// a server is never started for this.
bool ListServerSinks(BackendDevices* found);

AudioBackend& PulseBackend();

// The server's sample format and channel map for a format; false when it cannot describe it.
bool ToPulse(const SinkFormat& format, pa_sample_spec* spec, pa_channel_map* map);

// The server's buffering of a playback stream of that sample format.
pa_buffer_attr StreamBuffer(const pa_sample_spec& spec);

// A playback stream on the server's sink `target` (empty: the default), ready to play; null,
// with the error, when the server cannot be reached or refuses it.
std::unique_ptr<AudioSink> OpenServerStream(const std::string& target, const SinkFormat& format,
                                            std::function<void()> wake, MMRESULT* error);

}  // namespace platform
