#include <gtest/gtest.h>

#include <climits>
#include <tuple>

#include "wavfile/WavFmt.h"

namespace {

using namespace WavFmtOffset;

TEST(WavFmt, FormatsByNameAndMpegLayout) {
    struct Case {
        const char* name;
        int32_t channels, rate, bitRate, result;
        uint16_t tag, blockAlign;
        uint32_t average;
        const char* text;
    };
    const Case cases[] = {
        {"pcm16", 2, 44100, 0, 0, 1, 4, 176400, "Stereo, 44100, PCM16"},
        {"PCM8", 1, 8000, 0, 0, 1, 1, 8000, "Mono, 8000, PCM8"},
        {"float32", 2, 48000, 0, 0, 3, 8, 384000, "Stereo, 48000, FLOAT32"},
        {"PCM24", 6, 48000, 0, 0, 0xFFFE, 18, 864000, "6-Ch, 48000, "},
        {"MP3", 2, 44100, 128000, 0, 80, 417, 15962, "Stereo, 44100, MP3/kb=128"},
        {"MPEG2", 2, 22050, 32000, 0, 80, 209, 4000, "Stereo, 22050, MPEG2/kb=32"},
        {"mp3", 2, 44100, 128000, 0, 80, 835, 31963, "Stereo, 44100, MP3/kb=256"},
        {"MP3", 2, 99, 128000, 0, 80, 0, 0, "Stereo, 99, MP3/kb=128"},  // no division by 0
        {"PCM16", 2, 50000000, 0, 0, 1, 4, 705032704u * 4u / 100u, "Stereo, 50000000, PCM16"},
        {"PCM16X", 2, 44100, 0, 1, 0, 0, 0, "Stereo, 44100, "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TWavFmt fmt;
        EXPECT_EQ(fmt.SetFormat(c.name, c.channels, c.rate, c.bitRate), c.result);
        EXPECT_EQ(fmt.FormatTag(), c.tag);
        EXPECT_EQ(fmt.BlockAlign(), c.blockAlign);
        EXPECT_EQ(fmt.AvgBytesPerSec(), c.average);
        char* text = nullptr;
        fmt.GetFormatText(&text);
        EXPECT_STREQ(text, c.text);
    }
}

TEST(WavFmt, FloatIsRecognisedOnlyByTheWholeGuid) {
    TWavFmt fmt;
    ASSERT_EQ(fmt.SetFormatByName("FLOAT32", 3, 48000), 0);
    EXPECT_EQ(fmt.Get32(ChannelMask), 3u);
    char name[16] = {};
    fmt.GetFormatName(name, nullptr, nullptr);
    EXPECT_STREQ(name, "FLOAT32");
    fmt.WaveFormat[SubFormat + 15] ^= 1;  // last GUID byte differs: integer PCM by bits
    fmt.GetFormatName(name, nullptr, nullptr);
    EXPECT_STREQ(name, "PCM32");
}

// Records read from files may hold any 16-bit channel count and width; counts clamp, not wrap.
TEST(WavFmt, SizesOfAnyRecordNeverOverflow) {
    TWavFmt fmt;
    fmt.SetFormatByName("PCM16", 2, 48000);
    for (auto [tag, channels, bits, frameBytes] :
         {std::tuple{WAVE_TAG_PCM, 65282, 65296, 532831684},
          {WAVE_TAG_EXTENSIBLE, 65535, 65535, 536854528}}) {
        fmt.Set16(FormatTag, static_cast<uint16_t>(tag));
        fmt.Set16(Channels, static_cast<uint16_t>(channels));
        fmt.Set16(BitsPerSample, static_cast<uint16_t>(bits));
        EXPECT_EQ(fmt.GetFrameBytes(), frameBytes) << channels;
        EXPECT_EQ(fmt.GetBytesPerSecond(), INT32_MAX) << channels;
    }
    TWavFmt mpeg, none;
    mpeg.SetFormat("MP3", 2, 44100, 128000);
    EXPECT_EQ(mpeg.SamplesFromBytes(4169, 1152), 10368);
    EXPECT_EQ(mpeg.SamplesFromBytes(INT32_MAX, 1152), INT32_MAX);
    EXPECT_EQ(none.SamplesFromBytes(INT32_MAX, 2), INT32_MAX);
}

}  // namespace
