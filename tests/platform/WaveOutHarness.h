// Test signals for the wave-output and conversion tests, and a shell for the end-to-end tests.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "support/Noise.h"

namespace waveouttest {

using testsupport::NoiseBytes;

// Interleaved 16-bit stereo: a sine on the left, another on the right.
inline std::vector<uint8_t> StereoTone(double leftHz, double rightHz, uint32_t rate,
                                       size_t frames) {
    std::vector<uint8_t> out(frames * 4);
    for (size_t i = 0; i < frames * 2; ++i) {
        const double hz = i % 2 == 0 ? leftHz : rightHz;
        const auto v = static_cast<int16_t>(
            std::lround(0.5 * 32767 * std::sin(2 * M_PI * hz * double(i / 2) / rate)));
        std::memcpy(&out[i * 2], &v, 2);
    }
    return out;
}

// Frequency of one channel of 16-bit audio from its rising zero crossings.
inline double MeasureFrequency(const std::vector<uint8_t>& pcm, int channels, int channel,
                               uint32_t rate) {
    const size_t frames = pcm.size() / (2 * channels);
    int crossings = 0;
    size_t first = 0, last = 0;
    int16_t previous = 0;
    for (size_t i = 0; i < frames; ++i) {
        int16_t v;
        std::memcpy(&v, &pcm[(i * channels + channel) * 2], 2);
        if (i > 0 && previous < 0 && v >= 0) {
            first = crossings == 0 ? i : first;
            last = i;
            ++crossings;
        }
        previous = v;
    }
    if (crossings < 2) {
        return 0;
    }
    return (crossings - 1) * static_cast<double>(rate) / static_cast<double>(last - first);
}

inline int Shell(const std::string& command) {
    return std::system(command.c_str());
}

}  // namespace waveouttest
