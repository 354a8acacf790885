#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "player/PlayerArithmetic.h"

namespace {

TEST(PlayerArithmetic, RateScalingInSinglePrecision) {
    struct Case {
        uint32_t rate;
        float factor;
        uint32_t scaled;
    };
    const Case cases[] = {
        {48000, 0.9f, 43200},  // a double product would truncate to 43199
        {48000, 1.0f, 48000},
        {48000, 1.1f, 52800},
        {44100, 0.5f, 22050},
        {44100, 1.1f, 48510},
        {48000, 0.0f, 0},
        {48000, -1.0f, 0xFFFF4480u},
        {48000, std::numeric_limits<float>::quiet_NaN(), 0},
        {48000, std::numeric_limits<float>::infinity(), 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ScaleRate(c.rate, c.factor), c.scaled) << c.rate << " x " << c.factor;
    }
}

TEST(PlayerArithmetic, StretchValues) {
    const std::pair<float, uint32_t> cases[] = {
        {0.1f, 1000},   {1.5f, 15000},  {0.09f, 10000},
        {1.51f, 10000}, {0.0f, 10000},  {1.1f, 11000},
        {0.9f, 9000},   {-1.0f, 10000}, {std::numeric_limits<float>::quiet_NaN(), 10000},
    };
    for (auto [factor, value] : cases) {
        EXPECT_EQ(StretchValue(factor), value) << factor;
    }
}

TEST(PlayerArithmetic, VolumeWords) {
    const std::pair<float, uint32_t> cases[] = {
        {0.5f, 0x7FFF7FFFu}, {1.0f, 0xFFFFFFFFu}, {1.5f, 0xFFFFFFFFu},
        {-1.0f, 0u},         {0.0f, 0u},          {std::numeric_limits<float>::quiet_NaN(), 0u},
    };
    for (auto [level, word] : cases) {
        EXPECT_EQ(VolumeWord(level), word) << level;
    }
}

TEST(PlayerArithmetic, PositionToMilliseconds) {
    TWavFmt pcm22;
    pcm22.SetFormatByName("PCM16", 2, 22050);  // block align 4
    TWavFmt mpeg;
    mpeg.SetFormat("MP3", 2, 44100, 128000);  // block align 417, 1152 samples per frame
    TWavFmt slow;
    slow.SetFormatByName("PCM16", 2, 99);
    TWavFmt pcm48;
    pcm48.SetFormatByName("PCM16", 2, 48000);
    struct Case {
        TWavFmt* format;
        UINT type;
        DWORD value;
        uint32_t ms;
    };
    const Case cases[] = {
        {&pcm22, TIME_SAMPLES, 22050, 1002},  // the rate loses its remainder first: /220
        {&pcm22, TIME_BYTES, 88200, 1002},
        {&pcm22, TIME_MS, 1234, 1234},
        {&mpeg, TIME_BYTES, 417 * 100, 115200 * 10 / 441},
        {&slow, TIME_SAMPLES, 5000, 0},  // below 100 Hz: no division by zero
        {&pcm48, TIME_SAMPLES, 48000u * 3600u * 24u, 86400000u},  // a day does not wrap
    };
    for (const Case& c : cases) {
        MMTIME time = {};
        time.wType = c.type;
        time.u.cb = c.value;
        EXPECT_EQ(MillisecondsFromPosition(time, *c.format), c.ms) << c.type << " " << c.value;
    }
}

TEST(PlayerArithmetic, TimeText) {
    const std::pair<uint32_t, const char*> cases[] = {
        {0, "00:00:00:00"},        {999, "00:00:00:99"},
        {3723450, "01:02:03:45"},  {219600000, "01:00:00:00"},  // hours wrap at 60
        {86400000, "24:00:00:00"},
    };
    for (auto [ms, text] : cases) {
        char buffer[256];
        FormatTimeText(ms, buffer, sizeof buffer);
        EXPECT_STREQ(buffer, text) << ms;
    }
}

}  // namespace
