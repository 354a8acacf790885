// The tone source: its settings, the file interface, and the samples the oscillator renders.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "wavfile/ToneOscillator.h"
#include "wavfile/WavFileTypeGenerator.h"

namespace {

int BytesOf(char kind) {
    return kind == '8' ? 1 : kind == '2' ? 3 : kind == '3' ? 4 : 2;
}

// The signed (PCM8: unsigned) sample at index i of the rendered bytes.
int64_t SampleAt(const std::vector<uint8_t>& data, char kind, size_t i) {
    const int b = BytesOf(kind);
    int64_t raw = 0;
    for (int k = 0; k < b; ++k) {
        raw |= static_cast<int64_t>(data.at(i * b + k)) << (8 * k);
    }
    const int64_t top = int64_t{1} << (8 * b - 1);
    return kind == '8' || raw < top ? raw : raw - 2 * top;
}

TEST(Generator, SettingsAreCheckedAndAppliedInOrder) {
    struct Row {
        const char* tone;
        int32_t result, channels;
        double frequency;
        const char* type;
        int32_t rate;
        std::vector<uint8_t> mask;
    };
    const std::vector<uint8_t> on2{1, 1};
    const Row rows[] = {
        {"~", 0, 2, 1000.0, "PCM32", 48000, on2},
        {"~c1,f2.5e3,a-6,s8000,tpcm8", 0, 1, 2500.0, "PCM8", 8000, {1}},
        {"~C3", 11, 2, 1000.0, "PCM32", 48000, on2},
        {"~C128", 0, 128, 1000.0, "PCM32", 48000, std::vector<uint8_t>(128, 1)},
        {"~TPCM16X", 11, 2, 1000.0, "PCM32", 48000, on2},
        {"~WSQUARE", 11, 2, 1000.0, "PCM32", 48000, on2},
        {"~B5,X1,z,F500", 0, 2, 500.0, "PCM32", 48000, on2},
        {"~C2,M01", 0, 2, 1000.0, "PCM32", 48000, {0, 1}},
        {"~C8,Mx0y0", 0, 8, 1000.0, "PCM32", 48000, {1, 0, 1, 0, 1, 1, 1, 1}},
        {"~S44100,F0,C1", 11, 2, 1000.0, "PCM32", 44100, on2},  // stops at the failing key
        {"F440", 11, 2, 1000.0, "PCM32", 48000, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.tone);
        int32_t error = -1;
        TWavFileTypeGenerator gen(row.tone, "r", &error);
        EXPECT_EQ(error, row.result);
        EXPECT_EQ(gen.ChannelCount, row.channels);
        EXPECT_EQ(gen.Frequency, row.frequency);
        EXPECT_STREQ(gen.SampleType, row.type);
        EXPECT_EQ(gen.SampleRate, row.rate);
        EXPECT_EQ(gen.ChannelMask, row.mask);
    }
}

TEST(Generator, ReadsAnEndlessTone) {
    int32_t error = -1;
    auto file = CreateWavFile("~F1000,S8000,TPCM16,C2,M10", "r", &error);
    ASSERT_EQ(file->ReadHeader(0), 0);
    EXPECT_EQ(file->BlockAlign(), 4);
    std::vector<uint8_t> buffer(65536);
    for (int i = 0; i < 20; ++i) {
        ASSERT_EQ(file->Read(buffer.data(), 65536), 65536);
    }
    for (size_t frame = 0; frame < 16; ++frame) {
        EXPECT_EQ(SampleAt(buffer, '1', 2 * frame + 1), 0);  // channel 1 silent
    }
    EXPECT_EQ(SampleAt(buffer, '1', 4), 32767);  // a quarter period in: full scale
    EXPECT_EQ(file->GetRemainingBytes(), 0);
    EXPECT_EQ(file->Write(buffer.data(), 16), 0);
    EXPECT_EQ(file->Read(buffer.data(), 3), 0);  // less than one frame
    EXPECT_EQ(file->Close(), 0);
    EXPECT_EQ(file->Read(buffer.data(), 65536), 0);
    ASSERT_EQ(file->Open("~TPCM8,C2,M01", MMIO_READ), 0);  // the tone starts over
    ASSERT_EQ(file->Read(buffer.data(), 4), 4);
    EXPECT_EQ(std::vector<uint8_t>(buffer.begin(), buffer.begin() + 3),
              (std::vector<uint8_t>{128, 128, 128}));  // silent channel, sin(0)
    EXPECT_GT(buffer[3], 128);
}

TEST(ToneOscillator, GainBeyondFullScaleSaturatesAndNonFiniteRendersWithoutFault) {
    const double inf = std::numeric_limits<double>::infinity();
    const std::pair<char, int64_t> rows[] = {
        {'8', 255}, {'1', 32767}, {'2', 0x7FFFFF}, {'3', INT32_MAX}};
    for (auto [kind, top] : rows) {
        for (double gain : {2.0, 1.0e6, inf}) {
            const uint8_t mask[1] = {1};
            TToneOscillator osc;
            osc.Init(1, 1000.0, 8000.0, gain, 1, mask, kind);
            std::vector<uint8_t> out(16 * BytesOf(kind));
            osc.Render(out.data(), static_cast<int32_t>(out.size()));
            for (int i = 1; i < 16; ++i) {
                const double sine = std::sin(i * M_PI / 4.0);
                if (std::fabs(sine) > 0.6) {
                    EXPECT_EQ(SampleAt(out, kind, i), sine > 0      ? top
                                                      : kind == '8' ? 0
                                                                    : -top - 1)
                        << kind << " " << gain;
                }
            }
        }
        for (auto [frequency, gain] : {std::pair{inf, 1.0}, {NAN, 1.0}, {1000.0, NAN}}) {
            const uint8_t mask[2] = {1, 1};
            TToneOscillator osc;
            osc.Init(1, frequency, 48000.0, gain, 2, mask, kind);
            std::vector<uint8_t> out(64);
            EXPECT_GT(osc.Render(out.data(), 64), 0);
        }
    }
}

// Reads of awkward sizes give whole frames only, written into buffers of exactly that size,
// and follow one continuous sine: no read restarts or skips phase.
TEST(ToneOscillator, PhaseContinuesAcrossReads) {
    const uint8_t mask[2] = {1, 1};
    TToneOscillator osc;
    osc.Init(1, 1000.0, 48000.0, 1.0, 2, mask, '3');
    size_t n = 0;
    for (int round = 0; round < 8; ++round) {
        for (int32_t size : {8, 65536, 13, 4096, 1000, 65530, 65536, 24, 7, 32768, -8}) {
            std::vector<uint8_t> out(static_cast<size_t>(std::max(size, 0)));
            const int32_t got = osc.Render(out.data(), size);
            ASSERT_EQ(got, std::max(size, 0) / 8 * 8);
            for (int32_t i = 0; i < got / 4; i += 2, ++n) {
                ASSERT_EQ(SampleAt(out, '3', i), SampleAt(out, '3', i + 1));
                ASSERT_NEAR(SampleAt(out, '3', i) / 2147483647.0,
                            std::sin(2.0 * M_PI * 1000.0 * static_cast<double>(n) / 48000.0), 1e-4)
                    << "frame " << n;
            }
        }
    }
    EXPECT_GT(n, 200000u);  // about ten phase wraps
}

}  // namespace
