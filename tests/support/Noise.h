// Test audio that never repeats within a few seconds, so that a recording or a device's
// bytes can be matched exactly against what was written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace testsupport {

inline std::vector<uint8_t> NoiseBytes(size_t bytes, uint32_t seed = 12345) {
    std::vector<uint8_t> out(bytes);
    uint32_t state = seed;
    for (auto& b : out) {
        state = state * 1664525u + 1013904223u;
        b = static_cast<uint8_t>(state >> 24);
    }
    return out;
}

}  // namespace testsupport
