#include "platform/waveout/StreamFormat.h"

#include <bit>
#include <cstring>

namespace platform {
namespace {

constexpr uint8_t kSubFormatTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                        0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
constexpr uint16_t kMaxChannels = 32;
constexpr uint32_t kMaxRate = 768000;

uint16_t Le16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}
uint32_t Le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// The channel order of a plain (non-extensible) format with more than two channels.
constexpr uint32_t kDefaultMasks[9] = {0, 0x4, 0x3, 0x7, 0x33, 0x37, 0x3F, 0x13F, 0x63F};

bool PcmBitsValid(uint16_t bits) {
    return bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

}  // namespace

size_t BytesPerSample(SampleType type) {
    switch (type) {
        case SampleType::U8:
            return 1;
        case SampleType::S16:
            return 2;
        case SampleType::S24:
            return 3;
        case SampleType::S32:
        case SampleType::F32:
            return 4;
    }
    return 1;
}

SinkFormat StreamFormat::ForSink() const {
    SinkFormat sink;
    sink.rate = rate;
    sink.channels = channels;
    if (coding == Coding::Mpeg) {
        sink.type = SampleType::S16;
    } else if (coding == Coding::Float) {
        sink.type = SampleType::F32;
    } else {
        switch (bitsPerSample) {
            case 8:
                sink.type = SampleType::U8;
                break;
            case 16:
                sink.type = SampleType::S16;
                break;
            case 24:
                sink.type = SampleType::S24;
                break;
            default:
                sink.type = SampleType::S32;
                break;
        }
    }
    uint32_t mask = channelMask;
    if (mask == 0 && channels < std::size(kDefaultMasks)) {
        mask = kDefaultMasks[channels];
    }
    for (uint16_t i = 0; i < channels; ++i) {
        const uint32_t speaker = mask & (~mask + 1);  // lowest set bit, 0 when none is left
        sink.speakers.push_back(speaker);
        mask &= ~speaker;
    }
    return sink;
}

MMRESULT ReadStreamFormat(const void* image, StreamFormat* format) {
    uint8_t bytes[40] = {};
    std::memcpy(bytes, image, 18);
    const uint16_t extension = Le16(bytes + 16);
    std::memcpy(bytes + 18, static_cast<const uint8_t*>(image) + 18,
                extension < 22 ? extension : 22);

    StreamFormat f;
    f.tag = Le16(bytes);
    f.channels = Le16(bytes + 2);
    f.rate = Le32(bytes + 4);
    f.blockAlign = Le16(bytes + 12);
    f.bitsPerSample = Le16(bytes + 14);
    if (f.channels == 0 || f.channels > kMaxChannels || f.rate == 0 || f.rate > kMaxRate) {
        return WAVERR_BADFORMAT;
    }
    switch (f.tag) {
        case WAVE_FORMAT_PCM:
            if (!PcmBitsValid(f.bitsPerSample)) {
                return WAVERR_BADFORMAT;
            }
            f.coding = StreamFormat::Coding::Pcm;
            break;
        case WAVE_FORMAT_IEEE_FLOAT:
            if (f.bitsPerSample != 32) {
                return WAVERR_BADFORMAT;
            }
            f.coding = StreamFormat::Coding::Float;
            break;
        case WAVE_FORMAT_EXTENSIBLE: {
            if (extension < 22 || std::memcmp(bytes + 26, kSubFormatTail, 14) != 0) {
                return WAVERR_BADFORMAT;
            }
            const uint32_t subFormat = Le32(bytes + 24);
            const uint16_t validBits = Le16(bytes + 18);
            if (validBits > f.bitsPerSample) {
                return WAVERR_BADFORMAT;
            }
            f.channelMask = Le32(bytes + 20);
            if (subFormat == WAVE_FORMAT_PCM && PcmBitsValid(f.bitsPerSample)) {
                f.coding = StreamFormat::Coding::Pcm;
            } else if (subFormat == WAVE_FORMAT_IEEE_FLOAT && f.bitsPerSample == 32) {
                f.coding = StreamFormat::Coding::Float;
            } else {
                return WAVERR_BADFORMAT;
            }
            // Valid bits below the container size: the samples sit in the high bits, so
            // playing the whole container is exact.
            break;
        }
        case WAVE_FORMAT_MPEG: {
            if (extension < 22 || f.channels > 2) {
                return WAVERR_BADFORMAT;
            }
            const uint16_t layer = Le16(bytes + 18);
            if (layer != ACM_MPEG_LAYER1 && layer != ACM_MPEG_LAYER2 && layer != ACM_MPEG_LAYER3) {
                return WAVERR_BADFORMAT;
            }
            f.coding = StreamFormat::Coding::Mpeg;
            f.mpegLayer = std::countr_zero(layer) + 1;
            break;
        }
        case WAVE_FORMAT_MPEGLAYER3:
            if (f.channels > 2) {
                return WAVERR_BADFORMAT;
            }
            f.coding = StreamFormat::Coding::Mpeg;
            f.mpegLayer = 3;
            break;
        default:
            return WAVERR_BADFORMAT;  // AC2 (48) and everything unknown
    }
    if (f.coding != StreamFormat::Coding::Mpeg &&
        f.blockAlign != f.channels * (f.bitsPerSample / 8)) {
        return WAVERR_BADFORMAT;
    }
    *format = f;
    return MMSYSERR_NOERROR;
}

}  // namespace platform
