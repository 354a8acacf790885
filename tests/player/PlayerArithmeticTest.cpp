#include <gtest/gtest.h>

#include <cmath>

#include "player/PlayerArithmetic.h"

namespace {

TEST(PlayerArithmetic, RateStretchAndVolumeFromTheFactor) {
    const struct {
        float factor;
        uint32_t scaled, stretch, volume;  // rate 48000 scaled
    } cases[] = {
        {0.9f, 43200, 9000, 0xE665E665u},  // a double product would truncate to 43199
        {1.1f, 52800, 11000, 0xFFFFFFFFu},  {0.5f, 24000, 5000, 0x7FFF7FFFu},
        {1.5f, 72000, 15000, 0xFFFFFFFFu},  {0.1f, 4800, 1000, 0x19991999u},
        {1.51f, 72480, 10000, 0xFFFFFFFFu},  // stretch out of range: none
        {0.09f, 4320, 10000, 0x170A170Au},  {0.0f, 0, 10000, 0},
        {-1.0f, 0xFFFF4480u, 10000, 0},     {NAN, 0, 10000, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ScaleRate(48000, c.factor), c.scaled) << c.factor;
        EXPECT_EQ(StretchValue(c.factor), c.stretch) << c.factor;
        EXPECT_EQ(VolumeWord(c.factor), c.volume) << c.factor;
    }
    EXPECT_EQ(ScaleRate(44100, 1.1f), 48510u);
    EXPECT_EQ(ScaleRate(48000, INFINITY), 0u);
}

TEST(PlayerArithmetic, PositionToMillisecondsAndText) {
    TWavFmt pcm22, mpeg, slow, pcm48;
    pcm22.SetFormatByName("PCM16", 2, 22050);
    mpeg.SetFormat("MP3", 2, 44100, 128000);  // 417 bytes and 1152 samples a frame
    slow.SetFormatByName("PCM16", 2, 99);
    pcm48.SetFormatByName("PCM16", 2, 48000);
    const struct {
        TWavFmt* format;
        UINT type;
        DWORD value;
        uint32_t ms;
        const char* text;
    } cases[] = {
        {&pcm22, TIME_SAMPLES, 22050, 1002, "00:00:01:00"},  // the rate loses its remainder: /220
        {&pcm22, TIME_BYTES, 88200, 1002, "00:00:01:00"},
        {&pcm22, TIME_MS, 3723450, 3723450, "01:02:03:45"},
        {&mpeg, TIME_BYTES, 417 * 100, 115200 * 10 / 441, "00:00:02:61"},
        {&slow, TIME_SAMPLES, 5000, 0, "00:00:00:00"},  // below 100 Hz: no division by zero
        {&pcm48, TIME_SAMPLES, 48000u * 3600u * 24u, 86400000u, "24:00:00:00"},  // no wrap
        {&pcm48, TIME_MS, 219600000, 219600000, "01:00:00:00"},                  // hours wrap at 60
    };
    for (const auto& c : cases) {
        MMTIME time = {};
        time.wType = c.type;
        time.u.cb = c.value;
        const uint32_t ms = MillisecondsFromPosition(time, *c.format);
        EXPECT_EQ(ms, c.ms) << c.type << " " << c.value;
        char buffer[256];
        FormatTimeText(ms, buffer, sizeof buffer);
        EXPECT_STREQ(buffer, c.text) << ms;
    }
}

}  // namespace
