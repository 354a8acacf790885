#include "wavfile/ToneOscillator.h"

#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>

namespace {

// Integer layouts saturate: a gain above 1 drives the value past full scale, and converting
// an out-of-range floating value to an integer is undefined. Beyond +-2 every integer layout
// is saturated already, so clamping there first keeps the single-precision steps finite.
double LimitForInteger(double v) {
    if (std::isnan(v)) {
        return 0.0;
    }
    return v > 2.0 ? 2.0 : (v < -2.0 ? -2.0 : v);
}

int32_t SaturateToInt32(double x) {
    if (x >= 2147483647.0) {
        return std::numeric_limits<int32_t>::max();
    }
    if (x <= -2147483648.0) {
        return std::numeric_limits<int32_t>::min();
    }
    return static_cast<int32_t>(x);
}

void PutLE(uint8_t* out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out[i] = static_cast<uint8_t>(value >> (8 * i));
    }
}

void EncodePcm8(double v, uint8_t* out) {
    const float scaled = static_cast<float>(LimitForInteger(v)) * 127.0f + 128.0f;
    out[0] = scaled >= 255.0f ? 255 : (scaled <= 0.0f ? 0 : static_cast<uint8_t>(scaled));
}

void EncodePcm16(double v, uint8_t* out) {
    const float scaled = static_cast<float>(LimitForInteger(v)) * 32767.0f;
    const int32_t sample =
        scaled >= 32767.0f ? 32767 : (scaled <= -32768.0f ? -32768 : static_cast<int32_t>(scaled));
    PutLE(out, static_cast<uint32_t>(sample), 2);
}

void EncodePcm24(double v, uint8_t* out) {
    const double single = static_cast<float>(LimitForInteger(v));
    const int32_t x = SaturateToInt32(single * 2147483647.0);
    PutLE(out, static_cast<uint32_t>(x) >> 8, 3);
}

void EncodePcm32(double v, uint8_t* out) {
    PutLE(out, static_cast<uint32_t>(SaturateToInt32(LimitForInteger(v) * 2147483647.0)), 4);
}

void EncodeFloat32(double v, uint8_t* out) {
    float sample;
    if (std::isnan(v)) {
        sample = 0.0f;
    } else if (std::fabs(v) > FLT_MAX) {
        // What IEEE rounding gives, without the out-of-range conversion.
        sample = v > 0 ? std::numeric_limits<float>::infinity()
                       : -std::numeric_limits<float>::infinity();
    } else {
        sample = static_cast<float>(v);
    }
    std::memcpy(out, &sample, 4);  // the machine is little-endian, as the layout is
}

}  // namespace

void TToneOscillator::Init(int32_t wave, double frequency, double sampleRate, double gain,
                           uint16_t channels, const uint8_t* mask, char sampleKind) {
    Wave = wave;
    Phase = 0.0;
    PhaseStep = TwoPi / (sampleRate / frequency);
    Gain = gain;
    ChannelCount = channels;
    Mask = mask;
    SampleKind =
        (sampleKind >= 'a' && sampleKind <= 'z') ? static_cast<char>(sampleKind - 32) : sampleKind;
}

int32_t TToneOscillator::BytesPerSample(char sampleKind) {
    switch (sampleKind) {
        case '8':
            return 1;
        case '2':
            return 3;
        case '3':
        case 'A':
            return 4;
        default:
            return 2;
    }
}

template <int Bytes, typename Encode>
void TToneOscillator::RenderFrames(uint8_t* out, int32_t frames, uint8_t silence, Encode encode) {
    // Locals, since stores through the byte pointer could alias every member.
    const uint8_t* const mask = Mask;
    const int channels = ChannelCount;
    const double step = PhaseStep;
    const double gain = Gain;
    double phase = Phase;
    uint8_t sample[Bytes];
    for (int32_t frame = 0; frame < frames; ++frame) {
        const double s = std::sin(phase);
        phase += step;
        encode(s * gain, sample);
        for (int c = 0; c < channels; ++c) {
            if (mask[c] != 0) {
                std::memcpy(out, sample, Bytes);
            } else {
                std::memset(out, silence, Bytes);
            }
            out += Bytes;
        }
    }
    Phase = phase;
}

int32_t TToneOscillator::Render(void* buffer, int32_t size) {
    const int32_t bytes = BytesPerSample(SampleKind);
    int32_t frames = 0;
    if (buffer != nullptr && Mask != nullptr && ChannelCount != 0 && size > 0) {
        frames = size / (ChannelCount * bytes);
    }
    if (SampleKind == '2') {
        frames -= frames % 4;
    }
    auto* out = static_cast<uint8_t*>(buffer);
    switch (SampleKind) {
        case '8':
            // Unsigned 8-bit samples are centred on 128, so that is what silence carries.
            RenderFrames<1>(out, frames, 128, EncodePcm8);
            break;
        case '2':
            RenderFrames<3>(out, frames, 0, EncodePcm24);
            break;
        case '3':
            RenderFrames<4>(out, frames, 0, EncodePcm32);
            break;
        case 'A':
            RenderFrames<4>(out, frames, 0, EncodeFloat32);
            break;
        default:
            RenderFrames<2>(out, frames, 0, EncodePcm16);
            break;
    }
    if (Phase > PhaseWrap) {
        Phase -= PhaseWrap;
    }
    return frames * ChannelCount * bytes;
}
