#include "wavfile/WavFileTypeGenerator.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr long kChannelCounts[] = {1, 2, 4, 6, 8, 16, 32, 48, 64, 80, 96, 112, 128};
constexpr const char* kSampleTypes[] = {"PCM8", "PCM16", "PCM24", "PCM32", "FLOAT32"};
constexpr long kMinSampleRate = 8000;
constexpr long kMaxSampleRate = 192000;

char Upper(char c) {
    return static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
}

}  // namespace

TWavFileTypeGenerator::TWavFileTypeGenerator(const char* name, const char* mode, int32_t* error)
    : TWavFileBase(name, mode, error) {
    const int32_t result =
        (mode != nullptr && Upper(mode[0]) == 'R') ? ParseSpec(name) : WAVFILE_WRITE_FAILED;
    if (error != nullptr) {
        *error = result;
    }
}

TWavFileTypeGenerator::~TWavFileTypeGenerator() {
    TWavFileTypeGenerator::Close();
}

int32_t TWavFileTypeGenerator::Open(const char* name, uint32_t flags) {
    if ((flags & MMIO_CREATE) != 0) {
        return WAVFILE_WRITE_FAILED;
    }
    File.reset();
    DataLength = 0;
    ReadCount = 0;
    return ParseSpec(name);
}

int32_t TWavFileTypeGenerator::Close() {
    Oscillator.DetachMask();
    ChannelMask = {};
    return WAVFILE_OK;
}

int32_t TWavFileTypeGenerator::Seek(int32_t /*offset*/, int32_t /*origin*/) {
    return WAVFILE_OK;
}

int32_t TWavFileTypeGenerator::Write(const void* /*data*/, int32_t /*count*/) {
    return 0;
}

int32_t TWavFileTypeGenerator::Read(void* buffer, int32_t count) {
    return Oscillator.Render(buffer, count);
}

int32_t TWavFileTypeGenerator::WriteHeader() {
    return WAVFILE_OK;
}

int32_t TWavFileTypeGenerator::ReadHeader(int32_t /*flag*/) {
    SetFormatByName(SampleType, ChannelCount, SampleRate);
    return WAVFILE_OK;
}

void TWavFileTypeGenerator::RestoreDefaults() {
    Wave = 1;
    ChannelCount = 2;
    Frequency = 1000.0;
    Amplitude = 0.0;
    std::strcpy(SampleType, "PCM32");
    SampleRate = 48000;
}

bool TWavFileTypeGenerator::ApplySetting(char key, const char* value) {
    switch (key) {
        case 'A':
            Amplitude = std::strtod(value, nullptr);
            return true;
        case 'C': {
            const long count = std::strtol(value, nullptr, 10);
            if (value[0] == '\0' || std::find(std::begin(kChannelCounts), std::end(kChannelCounts),
                                              count) == std::end(kChannelCounts)) {
                return false;
            }
            ChannelCount = static_cast<int32_t>(count);
            ChannelMask.assign(static_cast<size_t>(count), 1);
            return true;
        }
        case 'F': {
            const double frequency = std::strtod(value, nullptr);
            if (frequency == 0.0) {
                return false;
            }
            Frequency = frequency;
            return true;
        }
        case 'M': {
            if (ChannelMask.empty()) {
                ChannelMask.assign(static_cast<size_t>(ChannelCount), 1);
            }
            const size_t positions = std::min(std::strlen(value), ChannelMask.size());
            for (size_t i = 0; i < positions; ++i) {
                if (value[i] == '0') {
                    ChannelMask[i] = 0;
                }
            }
            return true;
        }
        case 'S': {
            const long rate = std::strtol(value, nullptr, 10);
            if (rate < kMinSampleRate || rate > kMaxSampleRate) {
                return false;
            }
            SampleRate = static_cast<int32_t>(rate);
            return true;
        }
        case 'T': {
            std::string type(value);
            for (size_t i = 0; i < type.size() && i < 5; ++i) {
                type[i] = Upper(type[i]);
            }
            for (const char* known : kSampleTypes) {
                if (type == known) {
                    std::strcpy(SampleType, known);
                    return true;
                }
            }
            return false;
        }
        case 'W':
            if (strcasecmp(value, "SINE") != 0) {
                return false;
            }
            Wave = 1;
            return true;
        default:
            return true;  // other keys are ignored
    }
}

int32_t TWavFileTypeGenerator::ParseSpec(const char* name) {
    RestoreDefaults();
    if (name == nullptr || name[0] != '~') {
        return WAVFILE_OPEN_FAILED;
    }
    // Every parse starts from a fresh mask, so the mask always has one entry per channel.
    Oscillator.DetachMask();
    ChannelMask.clear();

    int32_t result = WAVFILE_OK;
    const std::string settings(name + 1);
    size_t start = 0;
    while (start <= settings.size()) {
        size_t end = settings.find(',', start);
        if (end == std::string::npos) {
            end = settings.size();
        }
        if (end > start) {
            const std::string setting = settings.substr(start, end - start);
            if (!ApplySetting(Upper(setting[0]), setting.c_str() + 1)) {
                result = WAVFILE_OPEN_FAILED;
                break;
            }
        }
        start = end + 1;
    }

    if (ChannelMask.empty()) {
        ChannelMask.assign(static_cast<size_t>(ChannelCount), 1);
    }
    const double gain = std::pow(10.0, Amplitude / 20.0);
    Oscillator.Init(Wave, Frequency, static_cast<double>(SampleRate), gain,
                    static_cast<uint16_t>(ChannelCount), ChannelMask.data(), SampleType[3]);
    return result;
}
