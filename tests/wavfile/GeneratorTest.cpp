#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "wavfile/WavFileTypeGenerator.h"

namespace {

struct SettingsRow {
    const char* tone;
    int32_t result;
    int32_t channels;
    double frequency;
    double amplitude;
    const char* type;
    int32_t rate;
    std::vector<uint8_t> mask;
};

TEST(GeneratorSettings, SettingsAreCheckedAndAppliedInOrder) {
    const std::vector<uint8_t> on2{1, 1};
    const SettingsRow rows[] = {
        {"~", 0, 2, 1000.0, 0.0, "PCM32", 48000, on2},
        {"~,,F440,,", 0, 2, 440.0, 0.0, "PCM32", 48000, on2},
        {"~c1,f2.5e3,a-6,s8000,tpcm8", 0, 1, 2500.0, -6.0, "PCM8", 8000, {1}},
        {"~C3", 11, 2, 1000.0, 0.0, "PCM32", 48000, on2},
        {"~C256", 11, 2, 1000.0, 0.0, "PCM32", 48000, on2},
        {"~C128", 0, 128, 1000.0, 0.0, "PCM32", 48000, std::vector<uint8_t>(128, 1)},
        {"~S7999", 11, 2, 1000.0, 0.0, "PCM32", 48000, on2},
        {"~S192001", 11, 2, 1000.0, 0.0, "PCM32", 48000, on2},
        {"~Fabc", 11, 2, 1000.0, 0.0, "PCM32", 48000, on2},
        {"~TPCM16X", 11, 2, 1000.0, 0.0, "PCM32", 48000, on2},
        {"~WSQUARE", 11, 2, 1000.0, 0.0, "PCM32", 48000, on2},
        {"~B5,X1,z,F500", 0, 2, 500.0, 0.0, "PCM32", 48000, on2},
        {"~C2,M01", 0, 2, 1000.0, 0.0, "PCM32", 48000, {0, 1}},
        {"~M01,C2", 0, 2, 1000.0, 0.0, "PCM32", 48000, on2},
        {"~C8,Mx0y0", 0, 8, 1000.0, 0.0, "PCM32", 48000, {1, 0, 1, 0, 1, 1, 1, 1}},
        {"~S44100,F0,C1", 11, 2, 1000.0, 0.0, "PCM32", 44100, on2},
        {"F440", 11, 2, 1000.0, 0.0, "PCM32", 48000, {}},
    };
    for (const SettingsRow& row : rows) {
        SCOPED_TRACE(row.tone);
        int32_t error = -1;
        TWavFileTypeGenerator gen(row.tone, "r", &error);
        EXPECT_EQ(error, row.result);
        EXPECT_EQ(gen.ChannelCount, row.channels);
        EXPECT_EQ(gen.Frequency, row.frequency);
        EXPECT_EQ(gen.Amplitude, row.amplitude);
        EXPECT_STREQ(gen.SampleType, row.type);
        EXPECT_EQ(gen.SampleRate, row.rate);
        EXPECT_EQ(gen.ChannelMask, row.mask);
        EXPECT_EQ(gen.Wave, 1);
        if (!row.mask.empty()) {
            EXPECT_EQ(gen.Oscillator.ChannelCount, row.channels);
            EXPECT_DOUBLE_EQ(gen.Oscillator.PhaseStep, 6.283185307 / (row.rate / row.frequency));
        }
    }
}

TEST(GeneratorSettings, EachParseStartsFromTheDefaults) {
    int32_t error = -1;
    TWavFileTypeGenerator gen("~C1,F440,S8000,TPCM8,A-3,M0", "r", &error);
    ASSERT_EQ(error, 0);
    std::vector<uint8_t> buffer(64);
    gen.Read(buffer.data(), 64);
    EXPECT_NE(gen.Oscillator.Phase, 0.0);
    // A parse without C gets two channels and a fresh two-entry mask, M applying to it.
    ASSERT_EQ(gen.ParseSpec("~M00"), 0);
    EXPECT_EQ(gen.ChannelCount, 2);
    EXPECT_EQ(gen.Frequency, 1000.0);
    EXPECT_EQ(gen.Amplitude, 0.0);
    EXPECT_STREQ(gen.SampleType, "PCM32");
    EXPECT_EQ(gen.SampleRate, 48000);
    EXPECT_EQ(gen.ChannelMask, (std::vector<uint8_t>{0, 0}));
    EXPECT_EQ(gen.Oscillator.Phase, 0.0);
    EXPECT_EQ(gen.Read(buffer.data(), 64), 64);
    EXPECT_EQ(buffer, std::vector<uint8_t>(64, 0));
}

TEST(GeneratorModes, OnlyReadingIsPossible) {
    const std::pair<const char*, int32_t> modes[] = {
        {"r", 0}, {"read", 0}, {"w", 9}, {"a", 9}, {nullptr, 9},
    };
    for (auto [mode, result] : modes) {
        int32_t error = -1;
        auto file = CreateWavFile("~F440", mode, &error);
        ASSERT_NE(dynamic_cast<TWavFileTypeGenerator*>(file.get()), nullptr);
        EXPECT_EQ(error, result) << (mode ? mode : "(none)");
    }
    int32_t error = -1;
    auto bad = CreateWavFile("~F440,C3", "r", &error);
    EXPECT_EQ(error, 11);
    TWavFileTypeGenerator gen("~", "r", &error);
    EXPECT_EQ(gen.Open("~F220", MMIO_CREATE | MMIO_READWRITE), 9);
    EXPECT_EQ(gen.Frequency, 1000.0);  // not parsed
    EXPECT_EQ(gen.Open("~F220", MMIO_READ | MMIO_DENYNONE), 0);
    EXPECT_EQ(gen.Frequency, 220.0);
    EXPECT_EQ(gen.Open("x", MMIO_READ), 11);
}

TEST(GeneratorFile, ReadsAnEndlessToneAndNothingElse) {
    int32_t error = -1;
    auto file = CreateWavFile("~F1000,S8000,TPCM16,C2,M10", "r", &error);
    ASSERT_EQ(error, 0);
    ASSERT_EQ(file->ReadHeader(0), 0);
    std::vector<uint8_t> buffer(65536);
    for (int i = 0; i < 20; ++i) {
        ASSERT_EQ(file->Read(buffer.data(), 65536), 65536);
    }
    // 8 frames per period; channel 1 silent.
    const int16_t* samples = reinterpret_cast<const int16_t*>(buffer.data());
    for (int frame = 0; frame < 16; ++frame) {
        EXPECT_EQ(samples[2 * frame + 1], 0);
    }
    EXPECT_EQ(samples[2 * 2], 32767);  // a quarter period in: full scale
    EXPECT_EQ(file->ReadCount, 0);
    EXPECT_EQ(file->DataLength, 0);
    EXPECT_EQ(file->GetRemainingBytes(), 0);
    EXPECT_EQ(file->Write(buffer.data(), 16), 0);
    EXPECT_EQ(file->Seek(0, WAVSEEK_START), 0);
    EXPECT_EQ(file->WriteHeader(), 0);
    EXPECT_EQ(file->Read(buffer.data(), 3), 0);  // less than one frame
    EXPECT_EQ(file->Close(), 0);
    EXPECT_EQ(file->Read(buffer.data(), 65536), 0);  // closed: the mask is gone
    // Opened again, the tone starts over.
    ASSERT_EQ(file->Open("~TPCM8,C2,M01", MMIO_READ), 0);
    ASSERT_EQ(file->Read(buffer.data(), 4), 4);
    EXPECT_EQ(buffer[0], 128);  // silent 8-bit channel
    EXPECT_EQ(buffer[1], 128);  // sin(0)
    EXPECT_EQ(buffer[2], 128);
    EXPECT_GT(buffer[3], 128);
}

}  // namespace
