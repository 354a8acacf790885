// Writes a RIFF WAVE file with our own writer, checking every step, for tests that need one.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "wavfile/WavFileBase.h"

namespace testsupport {

inline std::string WriteWaveFile(const std::string& path, const std::vector<uint8_t>& audio,
                                 const char* type = "PCM16", int32_t channels = 2,
                                 int32_t rate = 48000) {
    int32_t error = -1;
    auto file = CreateWavFile(path.c_str(), "w", &error);
    EXPECT_EQ(error, 0) << path;
    EXPECT_EQ(file->SetFormatByName(type, channels, rate), 0) << type;
    EXPECT_EQ(file->WriteHeader(), 0) << path;
    EXPECT_EQ(file->Write(audio.data(), static_cast<int32_t>(audio.size())),
              static_cast<int32_t>(audio.size()))
        << path;
    return path;
}

}  // namespace testsupport
