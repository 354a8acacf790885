// Sample conversion between the device's sample types and float, and the per-channel gain
// of waveOutSetVolume.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/waveout/AudioSink.h"

namespace platform {

// Appends `bytes` of interleaved samples of `type` to `out` as floats in [-1, 1).
void SamplesToFloat(SampleType type, const uint8_t* data, size_t bytes, std::vector<float>* out);
// Appends the floats as samples of `type`, rounded and clipped, to `out`.
void FloatToSamples(SampleType type, const float* samples, size_t count, std::vector<uint8_t>* out);

// Gain per channel from the volume word: low word left, high word right (0xFFFF = 1.0);
// channels on neither side take the louder of the two.
std::vector<float> ChannelGains(const SinkFormat& format, DWORD volume);
// Scales the interleaved samples in place.
void ApplyGain(SampleType type, const std::vector<float>& gains, uint8_t* data, size_t bytes);

}  // namespace platform
