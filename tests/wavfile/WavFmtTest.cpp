#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>

#include "wavfile/WavFmt.h"

namespace {

using namespace WavFmtOffset;

constexpr uint8_t kPcmGuid[16] = {0x01, 0, 0, 0,    0, 0,    0x10, 0,
                                  0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71};
constexpr uint8_t kFloatGuid[16] = {0x03, 0, 0, 0,    0, 0,    0x10, 0,
                                    0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71};

struct ByNameCase {
    const char* name;
    int32_t channels;
    int32_t rate;
    int32_t result;
    uint16_t tag;
    uint16_t blockAlign;
    uint16_t bits;
    uint32_t average;
    uint16_t extension;
};

TEST(WavFmt, SetFormatByNameTable) {
    const ByNameCase cases[] = {
        {"pcm16", 2, 44100, 0, 1, 4, 16, 176400, 0},
        {"PCM8", 1, 8000, 0, 1, 1, 8, 8000, 0},
        {"Pcm24", 2, 96000, 0, 1, 6, 24, 576000, 0},
        {"PCM32", 1, 48000, 0, 1, 4, 32, 192000, 0},
        {"float32", 2, 48000, 0, 3, 8, 32, 384000, 0},
        {"PCM24", 6, 48000, 0, 0xFFFE, 18, 24, 864000, 22},
        {"FLOAT32", 8, 44100, 0, 0xFFFE, 32, 32, 1411200, 22},
        {"mp3", 2, 44100, 0, 80, 835, 16, 31963, 22},
        {"xMPEG2y", 1, 48000, 0, 80, 768, 16, 31994, 22},
        // Whole-string comparisons: near misses are refused.
        {"PCM16X", 2, 44100, 1, 0, 0, 0, 0, 0},
        {"PCM", 2, 44100, 1, 0, 0, 0, 0, 0},
        {"", 2, 44100, 1, 0, 0, 0, 0, 0},
        // MPEG names are plain formats only.
        {"MP3", 4, 44100, 1, 0xFFFE, 0, 0, 0, 22},
    };
    for (const ByNameCase& c : cases) {
        TWavFmt fmt;
        EXPECT_EQ(fmt.SetFormatByName(c.name, c.channels, c.rate), c.result) << c.name;
        EXPECT_EQ(fmt.FormatTag(), c.tag) << c.name;
        EXPECT_EQ(fmt.Channels(), c.channels) << c.name;
        EXPECT_EQ(fmt.SamplesPerSec(), static_cast<uint32_t>(c.rate)) << c.name;
        EXPECT_EQ(fmt.BlockAlign(), c.blockAlign) << c.name;
        EXPECT_EQ(fmt.BitsPerSample(), c.bits) << c.name;
        EXPECT_EQ(fmt.AvgBytesPerSec(), c.average) << c.name;
        EXPECT_EQ(fmt.Get16(ExtensionSize), c.extension) << c.name;
    }
}

TEST(WavFmt, ExtensibleFieldsAndGuids) {
    TWavFmt fmt;
    ASSERT_EQ(fmt.SetFormatByName("PCM24", 6, 48000), 0);
    EXPECT_EQ(fmt.Get16(ValidBits), 24);
    EXPECT_EQ(fmt.Get32(ChannelMask), 0x3Fu);
    EXPECT_EQ(std::memcmp(fmt.WaveFormat + SubFormat, kPcmGuid, 16), 0);

    ASSERT_EQ(fmt.SetFormatByName("FLOAT32", 3, 48000), 0);
    EXPECT_EQ(std::memcmp(fmt.WaveFormat + SubFormat, kFloatGuid, 16), 0);
    EXPECT_EQ(fmt.Get16(ValidBits), 32);

    const std::pair<int, uint32_t> masks[] = {{3, 3}, {4, 0x33}, {5, 3},  {6, 0x3F},
                                              {7, 3}, {8, 0x3F}, {16, 3}, {128, 3}};
    for (auto [channels, mask] : masks) {
        ASSERT_EQ(fmt.SetFormatByName("PCM16", channels, 44100), 0);
        EXPECT_EQ(fmt.Get32(ChannelMask), mask) << channels;
    }
}

TEST(WavFmt, SetFormatAndMpegLayout) {
    struct Case {
        const char* name;
        int32_t channels, rate, bitRate;
        uint16_t layer, mode, blockAlign;
        uint32_t average, headBitRate;
    };
    const Case cases[] = {
        {"MP3", 2, 44100, 128000, 4, 2, 417, 15962, 128000},
        // Lower case is not MPEG to SetFormat: it goes by name and ends at 256 kbit/s.
        {"mp3", 2, 44100, 128000, 4, 2, 835, 31963, 256000},
        {"MPEG2", 1, 48000, 256000, 2, 8, 768, 31994, 256000},
        {"MPEG2", 2, 22050, 32000, 2, 2, 209, 4000, 32000},
    };
    for (const Case& c : cases) {
        TWavFmt fmt;
        EXPECT_EQ(fmt.SetFormat(c.name, c.channels, c.rate, c.bitRate), 0);
        EXPECT_EQ(fmt.FormatTag(), 80);
        EXPECT_EQ(fmt.Get16(HeadLayer), c.layer) << c.name;
        EXPECT_EQ(fmt.Get16(HeadMode), c.mode) << c.name;
        EXPECT_EQ(fmt.BlockAlign(), c.blockAlign) << c.name << c.rate;
        EXPECT_EQ(fmt.AvgBytesPerSec(), c.average) << c.name << c.rate;
        EXPECT_EQ(fmt.Get32(HeadBitRate), c.headBitRate) << c.name;
        EXPECT_EQ(fmt.SamplesPerFrame, 1152u);
        EXPECT_EQ(fmt.BitsPerSample(), 16);
        EXPECT_EQ(fmt.Get16(ExtensionSize), 22);
        EXPECT_EQ(fmt.Get16(HeadModeExt), 15);
        EXPECT_EQ(fmt.Get16(HeadEmphasis), 1);
        EXPECT_EQ(fmt.Get16(HeadFlags), 0x18);
        EXPECT_EQ(fmt.Get32(PtsLow), 0u);
        EXPECT_EQ(fmt.Get32(PtsHigh), 0u);
    }
}

TEST(WavFmt, OnlyTheFirst31CharactersAreNamedButSetFormatSearchesAll) {
    const std::string name = std::string(31, 'x') + "MP3";
    TWavFmt byName;
    EXPECT_EQ(byName.SetFormatByName(name.c_str(), 2, 44100), 1);
    TWavFmt generic;
    EXPECT_EQ(generic.SetFormat(name.c_str(), 2, 44100, 128000), 0);
    EXPECT_EQ(generic.FormatTag(), 80);
    EXPECT_EQ(generic.Get16(HeadLayer), 4);
}

TEST(WavFmt, ZeroDivisorsGiveZeroNotAFault) {
    TWavFmt fmt;
    EXPECT_EQ(fmt.SetFormat("MP3", 2, 99, 128000), 0);
    EXPECT_EQ(fmt.BlockAlign(), 0);
    EXPECT_EQ(fmt.AvgBytesPerSec(), 0u);
    EXPECT_EQ(fmt.SetFormat("MPEG2", 2, 0, 0), 0);
    EXPECT_EQ(fmt.BlockAlign(), 0);
    // A negative bit rate is carried through in unsigned arithmetic without a fault.
    EXPECT_EQ(fmt.SetMpegFormat("MP3", 2, 44100, -128000), 0);
}

TEST(WavFmt, AverageUsesUnsigned32BitArithmetic) {
    TWavFmt fmt;
    // 50,000,000 x 100 wraps in 32 bits to 705,032,704 before the divisions.
    ASSERT_EQ(fmt.SetFormatByName("PCM16", 2, 50000000), 0);
    EXPECT_EQ(fmt.AvgBytesPerSec(), 705032704u * 4u / 100u);
}

TEST(WavFmt, FormatTextAndName) {
    struct Case {
        const char* setName;
        int32_t channels, rate, bitRate;
        const char* text;
        const char* shortName;
    };
    const Case cases[] = {
        {"PCM16", 2, 44100, 0, "Stereo, 44100, PCM16", "PCM16"},
        {"PCM8", 1, 8000, 0, "Mono, 8000, PCM8", "PCM8"},
        {"FLOAT32", 2, 96000, 0, "Stereo, 96000, FLOAT32", "FLOAT32"},
        {"MPEG2", 2, 48000, 256000, "Stereo, 48000, MPEG2/kb=256", "MPEG2"},
        {"MP3", 1, 44100, 128000, "Mono, 44100, MP3/kb=128", "MP3"},
        {"PCM24", 6, 48000, 0, "6-Ch, 48000, ", "PCM24"},
        {"FLOAT32", 4, 48000, 0, "4-Ch, 48000, ", "FLOAT32"},
    };
    for (const Case& c : cases) {
        TWavFmt fmt;
        ASSERT_EQ(fmt.SetFormat(c.setName, c.channels, c.rate, c.bitRate), 0);
        char* text = nullptr;
        EXPECT_EQ(fmt.GetFormatText(&text), 0);
        EXPECT_EQ(text, fmt.FormatText);
        EXPECT_STREQ(text, c.text);
        char name[16] = "untouched";
        int32_t channels = 0, rate = 0, bitRate = -1;
        EXPECT_EQ(fmt.GetFormatInfo(name, &channels, &rate, &bitRate), 0);
        EXPECT_STREQ(name, c.shortName);
        EXPECT_EQ(channels, c.channels);
        EXPECT_EQ(rate, c.rate);
        EXPECT_EQ(bitRate, c.bitRate);
    }
}

TEST(WavFmt, TagCornerCasesOfNameAndText) {
    TWavFmt fresh;
    char name[16] = "keep";
    int32_t channels = -1, rate = -1;
    char* text = nullptr;
    fresh.GetFormatName(name, &channels, &rate);
    EXPECT_STREQ(name, "keep");
    EXPECT_EQ(fresh.SamplesPerFrame, 0u);
    EXPECT_EQ(channels, 0);
    fresh.GetFormatText(&text);
    EXPECT_STREQ(text, "0-Ch, 0, ");

    // An MPEG record read from a file with layer field 1: text says MPEG2, name says MP3.
    TWavFmt layer1;
    layer1.SetFormat("MPEG2", 2, 44100, 192000);
    layer1.Set16(HeadLayer, 1);
    layer1.GetFormatText(&text);
    EXPECT_STREQ(text, "Stereo, 44100, MPEG2/kb=192");
    layer1.GetFormatName(name, &channels, &rate);
    EXPECT_STREQ(name, "MP3");

    // PCM with an odd bit depth.
    TWavFmt odd;
    odd.SetFormatByName("PCM16", 2, 8000);
    odd.Set16(BitsPerSample, 12);
    odd.GetFormatText(&text);
    EXPECT_STREQ(text, "Stereo, 8000, PCM??");
    odd.GetFormatName(name, &channels, &rate);
    EXPECT_STREQ(name, "unknown");

    // Tags known by name only.
    TWavFmt ac2;
    ac2.Set16(FormatTag, 48);
    ac2.Set16(Channels, 2);
    ac2.GetFormatName(name, &channels, &rate);
    EXPECT_STREQ(name, "AC2");
    EXPECT_EQ(ac2.SamplesPerFrame, 512u);
    ac2.GetFormatText(&text);
    EXPECT_STREQ(text, "Stereo, 0, AC2");
    ac2.Set16(FormatTag, 85);
    ac2.GetFormatName(name, &channels, &rate);
    EXPECT_STREQ(name, "MP3");
    EXPECT_EQ(ac2.SamplesPerFrame, 1152u);
}

TEST(WavFmt, FloatIsRecognisedOnlyByTheWholeGuid) {
    TWavFmt fmt;
    ASSERT_EQ(fmt.SetFormatByName("FLOAT32", 3, 48000), 0);
    char name[16] = {};
    int32_t channels = 0, rate = 0;
    fmt.GetFormatName(name, &channels, &rate);
    EXPECT_STREQ(name, "FLOAT32");
    fmt.WaveFormat[SubFormat + 15] ^= 1;  // last GUID byte differs: integer PCM by bits
    fmt.GetFormatName(name, &channels, &rate);
    EXPECT_STREQ(name, "PCM32");
}

TEST(WavFmt, ImageRoundTripAndFrameSizes) {
    TWavFmt source;
    ASSERT_EQ(source.SetFormat("MP3", 2, 44100, 128000), 0);
    uint8_t image[40];
    EXPECT_EQ(source.CopyFormatTo(image), 0);
    EXPECT_EQ(std::memcmp(image, source.WaveFormat, 40), 0);
    // Little-endian layout at fixed offsets.
    EXPECT_EQ(image[0], 80);
    EXPECT_EQ(image[1], 0);
    EXPECT_EQ(image[4] | image[5] << 8 | image[6] << 16, 44100);
    EXPECT_EQ(image[12] | image[13] << 8, 417);

    TWavFmt copy;
    copy.SamplesPerFrame = 7;
    EXPECT_EQ(copy.CopyFormatFrom(image), 0);
    EXPECT_EQ(copy.SamplesPerFrame, 1152u);
    EXPECT_EQ(std::memcmp(copy.WaveFormat, image, 40), 0);
    EXPECT_EQ(copy.GetFrameBytes(), 1);
    EXPECT_EQ(copy.GetBytesPerSecond(), 16000);

    TWavFmt pcm;
    pcm.SetFormatByName("PCM24", 2, 48000);
    pcm.CopyFormatTo(image);
    copy.CopyFormatFrom(image);
    EXPECT_EQ(copy.SamplesPerFrame, 1u);
    EXPECT_EQ(copy.GetFrameBytes(), 6);
    EXPECT_EQ(copy.GetBytesPerSecond(), 288000);
    EXPECT_EQ(copy.GetSampleRate(), 48000);
    EXPECT_EQ(copy.GetChannels(), 2);
}

TEST(WavFmt, FrameSizeOfAnyRecordReadFromAFile) {
    // A "fmt " chunk may hold any 16-bit channel count and sample width.
    struct Case {
        uint16_t tag, channels, bits;
        int32_t frameBytes, bytesPerSecond;
    };
    const Case cases[] = {
        {WAVE_TAG_PCM, 65282, 65296, 532831684, INT32_MAX},
        {WAVE_TAG_EXTENSIBLE, 65535, 65535, 536854528, INT32_MAX},
        {WAVE_TAG_FLOAT, 2, 32, 8, 384000},
    };
    for (const Case& c : cases) {
        uint8_t image[40] = {};
        image[0] = static_cast<uint8_t>(c.tag);
        image[1] = static_cast<uint8_t>(c.tag >> 8);
        image[2] = static_cast<uint8_t>(c.channels);
        image[3] = static_cast<uint8_t>(c.channels >> 8);
        image[4] = 0x80;  // 48000
        image[5] = 0xBB;
        image[14] = static_cast<uint8_t>(c.bits);
        image[15] = static_cast<uint8_t>(c.bits >> 8);
        TWavFmt fmt;
        fmt.CopyFormatFrom(image);
        EXPECT_EQ(fmt.GetFrameBytes(), c.frameBytes) << c.channels;
        EXPECT_EQ(fmt.GetBytesPerSecond(), c.bytesPerSecond) << c.channels;
    }
}

TEST(WavFmt, SamplesFromBytesTruncatesAndNeverWraps) {
    TWavFmt pcm;
    pcm.SetFormatByName("PCM16", 2, 44100);  // block align 4
    TWavFmt mpeg;
    mpeg.SetFormat("MP3", 2, 44100, 128000);  // block align 417
    TWavFmt none;                             // block align 0
    struct Case {
        TWavFmt* fmt;
        int32_t bytes;
        uint32_t perFrame;
        int32_t samples;
    };
    const Case cases[] = {
        {&pcm, 1001, 1, 250},
        {&pcm, 3, 1, 0},
        {&pcm, -5, 1, -1},
        {&mpeg, 4170, 1152, 11520},
        {&mpeg, 4169, 1152, 10368},
        {&none, 10, 3, 30},
        {&mpeg, INT32_MAX, 1152, INT32_MAX},  // 5,149,957,848 samples clamp, no wrap
        {&none, INT32_MAX, 2, INT32_MAX},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.fmt->SamplesFromBytes(c.bytes, c.perFrame), c.samples) << c.bytes;
    }
}

}  // namespace
