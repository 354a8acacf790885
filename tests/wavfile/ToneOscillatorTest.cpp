#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "wavfile/ToneOscillator.h"

namespace {

constexpr double kStepConstant = 6.283185307;

int BytesOf(char kind) {
    return kind == '8' ? 1 : kind == '2' ? 3 : (kind == '3' || kind == 'A') ? 4 : 2;
}

// Reads the sample at index i back from the rendered bytes.
int64_t SampleAt(const std::vector<uint8_t>& data, char kind, size_t i) {
    const int b = BytesOf(kind);
    uint32_t raw = 0;
    for (int k = 0; k < b; ++k) {
        raw |= static_cast<uint32_t>(data.at(i * b + k)) << (8 * k);
    }
    switch (kind) {
        case '8':
            return raw;
        case '2':
            return (raw & 0x800000u) ? static_cast<int64_t>(raw) - 0x1000000 : raw;
        case '3':
            return static_cast<int32_t>(raw);
        case 'A':
            return raw;
        default:
            return static_cast<int16_t>(raw);
    }
}

TEST(ToneOscillator, SilentChannelsCarryTheLayoutsSilence) {
    for (char kind : {'8', '1', '2', '3', 'A'}) {
        const uint8_t mask[3] = {0, 1, 0};
        TToneOscillator osc;
        osc.Init(1, 1000.0, 8000.0, 1.0, 3, mask, kind);
        const int b = BytesOf(kind);
        std::vector<uint8_t> out(8 * 3 * b, 0xEE);
        osc.Render(out.data(), static_cast<int32_t>(out.size()));
        const uint8_t silence = kind == '8' ? 128 : 0;
        bool sounded = false;
        for (int f = 0; f < 8; ++f) {
            for (int ch : {0, 2}) {
                for (int k = 0; k < b; ++k) {
                    ASSERT_EQ(out[(f * 3 + ch) * b + k], silence) << kind << " frame " << f;
                }
            }
            sounded |= SampleAt(out, kind, f * 3 + 1) != SampleAt(out, kind, 1);
        }
        EXPECT_TRUE(sounded) << kind;
    }
}

TEST(ToneOscillator, GainAboveFullScaleSaturates) {
    struct Row {
        char kind;
        int64_t top;
        int64_t bottom;
    };
    const Row rows[] = {
        {'8', 255, 0},
        {'1', 32767, -32768},
        {'2', 0x7FFFFF, -0x800000},
        {'3', std::numeric_limits<int32_t>::max(), std::numeric_limits<int32_t>::min()},
    };
    for (const Row& row : rows) {
        for (double gain : {2.0, 1.0e6, std::numeric_limits<double>::infinity()}) {
            const uint8_t mask[1] = {1};
            TToneOscillator osc;
            osc.Init(1, 1000.0, 8000.0, gain, 1, mask, row.kind);
            std::vector<uint8_t> out(16 * BytesOf(row.kind));
            osc.Render(out.data(), static_cast<int32_t>(out.size()));
            int64_t high = row.bottom, low = row.top;
            for (int i = 1; i < 16; ++i) {
                const int64_t s = SampleAt(out, row.kind, i);
                const double sine = std::sin(i * (kStepConstant / 8.0));
                if (std::fabs(sine) > 0.6) {  // well beyond full scale: exactly at the limit
                    EXPECT_EQ(s, sine > 0 ? row.top : row.bottom) << row.kind << " " << gain;
                }
                high = std::max(high, s);
                low = std::min(low, s);
            }
            EXPECT_EQ(high, row.top) << row.kind;
            EXPECT_EQ(low, row.bottom) << row.kind;
        }
    }
}

TEST(ToneOscillator, NonFiniteSettingsRenderWithoutFault) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    for (char kind : {'8', '1', '2', '3', 'A'}) {
        for (auto [frequency, gain] : {std::pair{inf, 1.0}, std::pair{nan, 1.0},
                                       std::pair{1000.0, nan}, std::pair{1000.0, 1e300}}) {
            const uint8_t mask[2] = {1, 1};
            TToneOscillator osc;
            osc.Init(1, frequency, 48000.0, gain, 2, mask, kind);
            std::vector<uint8_t> out(64);
            EXPECT_GT(osc.Render(out.data(), static_cast<int32_t>(out.size())), 0);
        }
    }
}

TEST(ToneOscillator, WholeFramesForOddBufferSizes) {
    struct Row {
        char kind;
        uint16_t channels;
        int32_t size;
        int32_t produced;
    };
    const Row rows[] = {
        {'2', 2, 65536, 65520},  // 10922 frames cut to 10920
        {'1', 2, 7, 4},         {'8', 6, 17, 12}, {'A', 8, 31, 0},
        {'2', 2, 47, 24},       {'1', 2, -8, 0},
    };
    for (const Row& row : rows) {
        std::vector<uint8_t> mask(row.channels, 1);
        TToneOscillator osc;
        osc.Init(1, 1000.0, 48000.0, 1.0, row.channels, mask.data(), row.kind);
        std::vector<uint8_t> out(row.size > 0 ? row.size + 4 : 4, 0xEE);
        EXPECT_EQ(osc.Render(out.data(), row.size), row.produced)
            << row.kind << " x" << row.channels << " size " << row.size;
        for (size_t i = row.produced; i < out.size(); ++i) {
            ASSERT_EQ(out[i], 0xEE) << "wrote past the frames it reported";
        }
    }
}

// Many reads of awkward sizes follow one continuous sine: no read restarts or skips phase.
TEST(ToneOscillator, PhaseContinuesAcrossReads) {
    const double rate = 48000.0, frequency = 1000.0;
    const uint8_t mask[2] = {1, 1};
    TToneOscillator osc;
    osc.Init(1, frequency, rate, 1.0, 2, mask, '3');
    std::vector<int32_t> samples;
    const int32_t sizes[] = {8, 65536, 13, 4096, 1000, 65536, 65536, 24, 7, 32768};
    for (int round = 0; round < 8; ++round) {
        for (int32_t size : sizes) {
            std::vector<uint8_t> out(size);
            const int32_t got = osc.Render(out.data(), size);
            for (int32_t i = 0; i < got / 4; i += 2) {
                samples.push_back(static_cast<int32_t>(SampleAt(out, '3', i)));
                ASSERT_EQ(SampleAt(out, '3', i), SampleAt(out, '3', i + 1));
            }
        }
    }
    ASSERT_GT(samples.size(), 200000u);  // about ten phase wraps
    for (size_t n = 0; n < samples.size(); ++n) {
        const double ideal = std::sin(2.0 * M_PI * frequency * static_cast<double>(n) / rate);
        ASSERT_NEAR(samples[n] / 2147483647.0, ideal, 1e-4) << "frame " << n;
    }
    EXPECT_LE(osc.Phase, TToneOscillator::PhaseWrap + osc.PhaseStep * 16384);
}

TEST(ToneOscillator, NothingRenderedWithoutMaskOrChannels) {
    std::vector<uint8_t> out(64, 0xEE);
    TToneOscillator fresh;
    EXPECT_EQ(fresh.Render(out.data(), 64), 0);
    const uint8_t mask[2] = {1, 1};
    TToneOscillator osc;
    osc.Init(1, 1000.0, 48000.0, 1.0, 2, mask, '1');
    osc.DetachMask();
    EXPECT_EQ(osc.Render(out.data(), 64), 0);
    EXPECT_EQ(osc.Render(nullptr, 64), 0);
    EXPECT_EQ(out, std::vector<uint8_t>(64, 0xEE));
}

}  // namespace
