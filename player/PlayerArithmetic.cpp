#include "player/PlayerArithmetic.h"

#include <climits>
#include <cmath>
#include <cstdio>

namespace {

// The low 32 bits of a float truncated toward zero; 0 where the value has no integer.
uint32_t TruncateToLow32(float value) {
    if (!std::isfinite(value) || std::fabs(value) >= 9.2e18f) {
        return 0;
    }
    return static_cast<uint32_t>(static_cast<int64_t>(value));
}

}  // namespace

uint32_t ScaleRate(uint32_t rate, float factor) {
    const float scaled = static_cast<float>(rate) * factor;
    return TruncateToLow32(scaled);
}

uint32_t StretchValue(float factor) {
    const uint32_t value = TruncateToLow32(factor * 10000.0f);
    return value - 1000u > 14000u ? 10000u : value;
}

uint32_t VolumeWord(float level) {
    if (!(level >= 0.0f)) {
        level = 0.0f;  // below zero, or not a number
    } else if (level > 1.0f) {
        level = 1.0f;
    }
    const auto word = static_cast<uint32_t>(level * 65535.0f);
    return word * 0x10001u;
}

uint32_t MillisecondsFromPosition(const MMTIME& time, TWavFmt& format) {
    uint64_t samples = 0;
    switch (time.wType) {
        case TIME_BYTES: {
            const int32_t bytes =
                time.u.cb > INT32_MAX ? INT32_MAX : static_cast<int32_t>(time.u.cb);
            const int32_t counted = format.SamplesFromBytes(bytes, format.SamplesPerFrame);
            samples = counted > 0 ? static_cast<uint64_t>(counted) : 0;
            break;
        }
        case TIME_SAMPLES:
            samples = time.u.sample;
            break;
        default:
            return time.u.ms;
    }
    const uint32_t rateHundreds = format.SamplesPerSec() / 100u;
    if (rateHundreds == 0) {
        return 0;
    }
    return static_cast<uint32_t>(samples * 10u / rateHundreds);
}

void FormatTimeText(uint32_t milliseconds, char* text, size_t size) {
    const auto ms = static_cast<int32_t>(milliseconds);
    const long hours = (ms / 3600000) % 60;
    const long minutes = (ms / 60000) % 60;
    const long seconds = (ms / 1000) % 60;
    const long hundredths = (ms % 1000) / 10;
    std::snprintf(text, size, "%02ld:%02ld:%02ld:%02ld", hours, minutes, seconds, hundredths);
}

int32_t WholeFramePunchIn(int32_t bytes, const TWavFmt& format) {
    const uint16_t tag = format.FormatTag();
    const int32_t frame = format.BlockAlign();
    if (bytes <= 0 || tag == WAVE_TAG_MPEG || tag == WAVE_TAG_MPEGLAYER3 || frame <= 1) {
        return bytes;
    }
    return bytes / frame * frame;
}
