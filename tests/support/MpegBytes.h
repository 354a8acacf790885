// Frame-header words built from their fields, for tests that write MPEG bytes by hand.
#pragma once

#include <cstdint>
#include <vector>

namespace testsupport {

// version: 3 = MPEG-1, 2 = MPEG-2; layer field: 2 = layer II, 1 = layer III.
constexpr uint32_t MpegHeaderWord(uint32_t version, uint32_t layer, uint32_t bitRateIndex,
                                  uint32_t rateIndex, uint32_t mode) {
    return 0xFFE00000u | version << 19 | layer << 17 | 1u << 16 | bitRateIndex << 12 |
           rateIndex << 10 | mode << 6;
}

inline void PutBE32(std::vector<uint8_t>& out, uint32_t word) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        out.push_back(static_cast<uint8_t>(word >> shift));
    }
}

}  // namespace testsupport
