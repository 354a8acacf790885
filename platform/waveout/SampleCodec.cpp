#include "platform/waveout/SampleCodec.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace platform {
namespace {

int32_t ReadS24(const uint8_t* p) {
    const uint32_t value = static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                           static_cast<uint32_t>(p[2]) << 16;
    return static_cast<int32_t>(value << 8) >> 8;
}

void WriteS24(uint8_t* p, int32_t value) {
    p[0] = static_cast<uint8_t>(value);
    p[1] = static_cast<uint8_t>(value >> 8);
    p[2] = static_cast<uint8_t>(value >> 16);
}

template <typename T>
T Load(const uint8_t* p) {
    T value;
    std::memcpy(&value, p, sizeof value);
    return value;
}

template <typename T>
void Store(uint8_t* p, T value) {
    std::memcpy(p, &value, sizeof value);
}

float Read(SampleType type, const uint8_t* p) {
    switch (type) {
        case SampleType::U8:
            return (static_cast<float>(p[0]) - 128.0f) / 128.0f;
        case SampleType::S16:
            return static_cast<float>(Load<int16_t>(p)) / 32768.0f;
        case SampleType::S24:
            return static_cast<float>(ReadS24(p)) / 8388608.0f;
        case SampleType::S32:
            return static_cast<float>(Load<int32_t>(p) / 2147483648.0);
        case SampleType::F32:
            return Load<float>(p);
    }
    return 0.0f;
}

void Write(SampleType type, uint8_t* p, float value) {
    if (std::isnan(value)) {
        value = 0.0f;
    }
    const double v = std::clamp(static_cast<double>(value), -1.0, 1.0);
    switch (type) {
        case SampleType::U8:
            Store<uint8_t>(
                p, static_cast<uint8_t>(std::clamp(std::lround(v * 128.0) + 128, 0L, 255L)));
            break;
        case SampleType::S16:
            Store<int16_t>(
                p, static_cast<int16_t>(std::clamp(std::lround(v * 32768.0), -32768L, 32767L)));
            break;
        case SampleType::S24:
            WriteS24(p, static_cast<int32_t>(
                            std::clamp(std::lround(v * 8388608.0), -8388608L, 8388607L)));
            break;
        case SampleType::S32:
            Store<int32_t>(p, static_cast<int32_t>(std::clamp(std::llround(v * 2147483648.0),
                                                              -2147483648LL, 2147483647LL)));
            break;
        case SampleType::F32:
            Store<float>(p, value);
            break;
    }
}

bool RightSide(uint32_t speaker) {
    return (speaker & (0x2 | 0x20 | 0x80 | 0x400 | 0x4000 | 0x20000)) != 0;
}
bool LeftSide(uint32_t speaker) {
    return (speaker & (0x1 | 0x10 | 0x40 | 0x200 | 0x1000 | 0x8000)) != 0;
}

}  // namespace

void SamplesToFloat(SampleType type, const uint8_t* data, size_t bytes, std::vector<float>* out) {
    const size_t width = BytesPerSample(type);
    const size_t count = bytes / width;
    out->reserve(out->size() + count);
    for (size_t i = 0; i < count; ++i) {
        out->push_back(Read(type, data + i * width));
    }
}

void FloatToSamples(SampleType type, const float* samples, size_t count,
                    std::vector<uint8_t>* out) {
    const size_t width = BytesPerSample(type);
    const size_t start = out->size();
    out->resize(start + count * width);
    for (size_t i = 0; i < count; ++i) {
        Write(type, out->data() + start + i * width, samples[i]);
    }
}

std::vector<float> ChannelGains(const SinkFormat& format, DWORD volume) {
    const float left = static_cast<float>(volume & 0xFFFF) / 65535.0f;
    const float right = static_cast<float>(volume >> 16) / 65535.0f;
    std::vector<float> gains(format.channels, left);
    if (format.channels == 1) {
        return gains;  // mono follows the low word
    }
    for (size_t i = 0; i < gains.size(); ++i) {
        const uint32_t speaker = i < format.speakers.size() ? format.speakers[i] : 0;
        gains[i] = RightSide(speaker) ? right : LeftSide(speaker) ? left : std::max(left, right);
    }
    return gains;
}

void ApplyGain(SampleType type, const std::vector<float>& gains, uint8_t* data, size_t bytes) {
    const size_t width = BytesPerSample(type);
    const size_t channels = gains.size();
    const size_t count = bytes / width;
    if (channels == 0 ||
        std::all_of(gains.begin(), gains.end(), [](float g) { return g == 1.0f; })) {
        return;  // full volume: the samples pass unchanged
    }
    for (size_t i = 0; i < count; ++i) {
        const float gain = gains[i % channels];
        if (gain == 1.0f) {
            continue;
        }
        uint8_t* p = data + i * width;
        switch (type) {
            case SampleType::S16:  // the common case, kept in integers
                Store<int16_t>(p, static_cast<int16_t>(std::lround(Load<int16_t>(p) * gain)));
                break;
            default:
                Write(type, p, Read(type, p) * gain);
                break;
        }
    }
}

}  // namespace platform
