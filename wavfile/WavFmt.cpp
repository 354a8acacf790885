#include "wavfile/WavFmt.h"

#include <cctype>
#include <climits>
#include <cstdio>
#include <cstring>

namespace {

constexpr uint8_t kPcmGuid[16] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                  0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
constexpr uint8_t kFloatGuid[16] = {0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                    0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

// Channel mask of the extensible format by channel count.
uint32_t ChannelMaskFor(int32_t channels) {
    if (channels == 4) {
        return 0x33;
    }
    if (channels == 6 || channels == 8) {
        return 0x3F;
    }
    return 3;
}

int32_t ClampToInt32(int64_t value) {
    if (value > INT32_MAX) {
        return INT32_MAX;
    }
    if (value < INT32_MIN) {
        return INT32_MIN;
    }
    return static_cast<int32_t>(value);
}

struct NamedPcm {
    const char* name;
    uint16_t bytesPerSample;
};
constexpr NamedPcm kPcmNames[] = {{"PCM8", 1}, {"PCM16", 2}, {"PCM24", 3}, {"PCM32", 4}};

}  // namespace

TWavFmt::TWavFmt() : WaveFormat{}, SamplesPerFrame(0) {}

uint16_t TWavFmt::Get16(int offset) const {
    return static_cast<uint16_t>(WaveFormat[offset] | WaveFormat[offset + 1] << 8);
}

uint32_t TWavFmt::Get32(int offset) const {
    return static_cast<uint32_t>(WaveFormat[offset]) |
           static_cast<uint32_t>(WaveFormat[offset + 1]) << 8 |
           static_cast<uint32_t>(WaveFormat[offset + 2]) << 16 |
           static_cast<uint32_t>(WaveFormat[offset + 3]) << 24;
}

void TWavFmt::Set16(int offset, uint32_t value) {
    WaveFormat[offset] = static_cast<uint8_t>(value);
    WaveFormat[offset + 1] = static_cast<uint8_t>(value >> 8);
}

void TWavFmt::Set32(int offset, uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        WaveFormat[offset + i] = static_cast<uint8_t>(value >> (8 * i));
    }
}

// Average bytes per second = ((rate x 100) / SamplesPerFrame) x block align / 100, unsigned
// 32-bit with truncating divisions. A zero SamplesPerFrame gives 0 instead of a fault.
void TWavFmt::DeriveAverage() {
    uint32_t average = 0;
    if (SamplesPerFrame != 0) {
        average = SamplesPerSec() * 100u / SamplesPerFrame * BlockAlign() / 100u;
    }
    Set32(WavFmtOffset::AvgBytesPerSec, average);
}

int32_t TWavFmt::SetFormatByName(const char* name, int32_t channels, int32_t samplesPerSec) {
    Set16(WavFmtOffset::FormatTag, 0);
    Set16(WavFmtOffset::Channels, static_cast<uint32_t>(channels));
    Set32(WavFmtOffset::SamplesPerSec, static_cast<uint32_t>(samplesPerSec));
    Set32(WavFmtOffset::AvgBytesPerSec, 0);
    Set16(WavFmtOffset::BlockAlign, 0);
    Set16(WavFmtOffset::BitsPerSample, 0);
    Set16(WavFmtOffset::ExtensionSize, 0);
    SamplesPerFrame = 1;

    char upper[32] = {};
    for (int i = 0; name != nullptr && name[i] != '\0' && i < 31; ++i) {
        upper[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(name[i])));
    }

    if (channels <= 2) {
        bool known = false;
        for (const NamedPcm& pcm : kPcmNames) {
            if (std::strcmp(upper, pcm.name) == 0) {
                Set16(WavFmtOffset::FormatTag, WAVE_TAG_PCM);
                Set16(WavFmtOffset::BlockAlign,
                      static_cast<uint32_t>(pcm.bytesPerSample * channels));
                Set16(WavFmtOffset::BitsPerSample, 8u * pcm.bytesPerSample);
                known = true;
                break;
            }
        }
        if (!known && std::strcmp(upper, "FLOAT32") == 0) {
            Set16(WavFmtOffset::FormatTag, WAVE_TAG_FLOAT);
            Set16(WavFmtOffset::BlockAlign, static_cast<uint32_t>(4 * channels));
            Set16(WavFmtOffset::BitsPerSample, 32);
            known = true;
        }
        if (!known) {
            if (std::strstr(upper, "MPEG2") == nullptr && std::strstr(upper, "MP3") == nullptr) {
                return 1;
            }
            SetMpegFormat(upper, channels, samplesPerSec, 256000);
        }
        DeriveAverage();
        return 0;
    }

    Set16(WavFmtOffset::FormatTag, WAVE_TAG_EXTENSIBLE);
    Set16(WavFmtOffset::ExtensionSize, 22);
    std::memcpy(WaveFormat + WavFmtOffset::SubFormat, kPcmGuid, sizeof kPcmGuid);
    bool known = false;
    for (const NamedPcm& pcm : kPcmNames) {
        if (std::strcmp(upper, pcm.name) == 0) {
            Set16(WavFmtOffset::BlockAlign, static_cast<uint32_t>(pcm.bytesPerSample * channels));
            Set16(WavFmtOffset::BitsPerSample, 8u * pcm.bytesPerSample);
            known = true;
            break;
        }
    }
    if (!known && std::strcmp(upper, "FLOAT32") == 0) {
        Set16(WavFmtOffset::BlockAlign, static_cast<uint32_t>(4 * channels));
        Set16(WavFmtOffset::BitsPerSample, 32);
        std::memcpy(WaveFormat + WavFmtOffset::SubFormat, kFloatGuid, sizeof kFloatGuid);
        known = true;
    }
    if (!known) {
        return 1;
    }
    Set16(WavFmtOffset::ValidBits, BitsPerSample());
    Set32(WavFmtOffset::ChannelMask, ChannelMaskFor(channels));
    DeriveAverage();
    return 0;
}

int32_t TWavFmt::SetFormat(const char* name, int32_t channels, int32_t samplesPerSec,
                           int32_t bitRate) {
    int32_t result;
    if (name != nullptr &&
        (std::strstr(name, "MPEG2") != nullptr || std::strstr(name, "MP3") != nullptr)) {
        result = SetMpegFormat(name, channels, samplesPerSec, bitRate);
    } else {
        result = SetFormatByName(name, channels, samplesPerSec);
    }
    if (result == 0) {
        DeriveAverage();
    }
    return result;
}

int32_t TWavFmt::SetMpegFormat(const char* name, int32_t channels, int32_t samplesPerSec,
                               int32_t bitRate) {
    Set32(WavFmtOffset::SamplesPerSec, static_cast<uint32_t>(samplesPerSec));
    Set16(WavFmtOffset::FormatTag, WAVE_TAG_MPEG);
    SamplesPerFrame = 1152;
    Set16(WavFmtOffset::BitsPerSample, 16);
    Set16(WavFmtOffset::ExtensionSize, 22);
    Set16(WavFmtOffset::Channels, static_cast<uint32_t>(channels));
    Set16(WavFmtOffset::HeadModeExt, 15);
    Set16(WavFmtOffset::HeadEmphasis, 1);
    Set16(WavFmtOffset::HeadFlags, 0x18);
    Set32(WavFmtOffset::PtsLow, 0);
    Set32(WavFmtOffset::PtsHigh, 0);
    Set16(WavFmtOffset::HeadMode, channels == 1 ? 8 : 2);
    Set32(WavFmtOffset::HeadBitRate, static_cast<uint32_t>(bitRate));
    Set16(WavFmtOffset::HeadLayer, name != nullptr && std::strstr(name, "MP3") != nullptr ? 4 : 2);

    // Frame length 144 x bit rate / rate, as ((kbit/s x 368640) / (rate / 100)) >> 8 in
    // unsigned 32-bit. A rate below 100 has no frame length: 0.
    const uint32_t rateHundreds = static_cast<uint32_t>(samplesPerSec) / 100u;
    uint32_t blockAlign = 0;
    if (rateHundreds != 0) {
        const auto scaled = static_cast<uint32_t>(static_cast<int64_t>(bitRate / 1000) * 368640);
        blockAlign = (scaled / rateHundreds) >> 8;
    }
    Set16(WavFmtOffset::BlockAlign, blockAlign);
    return 0;
}

int32_t TWavFmt::GetFormatName(char* name, int32_t* channels, int32_t* samplesPerSec) {
    if (channels != nullptr) {
        *channels = Channels();
    }
    if (samplesPerSec != nullptr) {
        *samplesPerSec = static_cast<int32_t>(SamplesPerSec());
    }
    auto pcmName = [this]() -> const char* {
        switch (BitsPerSample()) {
            case 8:
                return "PCM8";
            case 16:
                return "PCM16";
            case 24:
                return "PCM24";
            case 32:
                return "PCM32";
            default:
                return "unknown";
        }
    };
    const char* text = nullptr;
    switch (FormatTag()) {
        case WAVE_TAG_PCM:
            SamplesPerFrame = 1;
            text = pcmName();
            break;
        case WAVE_TAG_FLOAT:
            SamplesPerFrame = 1;
            text = "FLOAT32";
            break;
        case WAVE_TAG_AC2:
            SamplesPerFrame = 512;
            text = "AC2";
            break;
        case WAVE_TAG_MPEG:
            SamplesPerFrame = 1152;
            text = Get16(WavFmtOffset::HeadLayer) == 2 ? "MPEG2" : "MP3";
            break;
        case WAVE_TAG_MPEGLAYER3:
            SamplesPerFrame = 1152;
            text = "MP3";
            break;
        case WAVE_TAG_EXTENSIBLE:
            SamplesPerFrame = 1;
            text = std::memcmp(WaveFormat + WavFmtOffset::SubFormat, kFloatGuid,
                               sizeof kFloatGuid) == 0
                       ? "FLOAT32"
                       : pcmName();
            break;
        default:
            break;
    }
    if (text != nullptr && name != nullptr) {
        std::strcpy(name, text);
    }
    return 0;
}

int32_t TWavFmt::GetFormatInfo(char* name, int32_t* channels, int32_t* samplesPerSec,
                               int32_t* bitRate) {
    GetFormatName(name, channels, samplesPerSec);
    if (bitRate != nullptr) {
        *bitRate = FormatTag() == WAVE_TAG_MPEG
                       ? static_cast<int32_t>(Get32(WavFmtOffset::HeadBitRate))
                       : 0;
    }
    return 0;
}

int32_t TWavFmt::GetFormatText(char** text) {
    const int rate = static_cast<int32_t>(SamplesPerSec());
    int used;
    if (Channels() == 1) {
        used = std::snprintf(FormatText, sizeof FormatText, "Mono, %d, ", rate);
    } else if (Channels() == 2) {
        used = std::snprintf(FormatText, sizeof FormatText, "Stereo, %d, ", rate);
    } else {
        used = std::snprintf(FormatText, sizeof FormatText, "%d-Ch, %d, ", Channels(), rate);
    }
    const size_t left = sizeof FormatText - static_cast<size_t>(used);
    char* tail = FormatText + used;
    switch (FormatTag()) {
        case WAVE_TAG_PCM: {
            const uint16_t bits = BitsPerSample();
            const bool known = bits == 8 || bits == 16 || bits == 24 || bits == 32;
            if (known) {
                std::snprintf(tail, left, "PCM%u", static_cast<unsigned>(bits));
            } else {
                std::snprintf(tail, left, "PCM??");
            }
            break;
        }
        case WAVE_TAG_FLOAT:
            std::snprintf(tail, left, "FLOAT32");
            break;
        case WAVE_TAG_MPEG: {
            char kbits[10];
            std::snprintf(kbits, sizeof kbits, "%d",
                          static_cast<int>(Get32(WavFmtOffset::HeadBitRate) / 1000u));
            std::snprintf(tail, left, "%s%s",
                          Get16(WavFmtOffset::HeadLayer) == 4 ? "MP3/kb=" : "MPEG2/kb=", kbits);
            break;
        }
        case WAVE_TAG_AC2:
            std::snprintf(tail, left, "AC2");
            break;
        case WAVE_TAG_MPEGLAYER3:
            std::snprintf(tail, left, "MP3");
            break;
        default:
            break;
    }
    if (text != nullptr) {
        *text = FormatText;
    }
    return 0;
}

// Samples in a byte count: (bytes / block align) x samples per frame, or bytes x samples per
// frame without a block align.
int64_t TWavFmt::SamplesFromBytesWide(int32_t bytes, uint32_t samplesPerFrame) {
    const int64_t blocks = BlockAlign() != 0 ? bytes / BlockAlign() : bytes;
    return blocks * static_cast<int64_t>(samplesPerFrame);
}

int32_t TWavFmt::SamplesFromBytes(int32_t bytes, uint32_t samplesPerFrame) {
    return ClampToInt32(SamplesFromBytesWide(bytes, samplesPerFrame));
}

int32_t TWavFmt::GetFrameBytes() {
    const uint16_t tag = FormatTag();
    if (tag == WAVE_TAG_PCM || tag == WAVE_TAG_FLOAT || tag == WAVE_TAG_EXTENSIBLE) {
        // Both fields are 16-bit: their product does not fit a signed 32-bit integer.
        return static_cast<int32_t>(int64_t{BitsPerSample()} * Channels() / 8);
    }
    return 1;
}

int32_t TWavFmt::GetBytesPerSecond() {
    if (FormatTag() == WAVE_TAG_MPEG) {
        return static_cast<int32_t>(Get32(WavFmtOffset::HeadBitRate) >> 3);
    }
    return ClampToInt32(static_cast<int64_t>(GetFrameBytes()) * SamplesPerSec());
}

int32_t TWavFmt::GetSampleRate() {
    return static_cast<int32_t>(SamplesPerSec());
}

int32_t TWavFmt::GetChannels() {
    return Channels();
}

int32_t TWavFmt::CopyFormatTo(void* dest40) {
    std::memcpy(dest40, WaveFormat, sizeof WaveFormat);
    return 0;
}

int32_t TWavFmt::CopyFormatFrom(const void* source40) {
    std::memcpy(WaveFormat, source40, sizeof WaveFormat);
    SamplesPerFrame = FormatTag() == WAVE_TAG_MPEG ? 1152 : 1;
    return 0;
}
