// Format records, the factory, and the plain-file base every type builds on.
#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "support/TempDir.h"
#include "wavfile/WavFileBase.h"
#include "wavfile/WavFileTypeDAF.h"
#include "wavfile/WavFileTypeGenerator.h"
#include "wavfile/WavFileTypeMP23.h"
#include "wavfile/WavFileTypeNullRecord.h"
#include "wavfile/WavFileTypeWav.h"

using testsupport::ReadBytes;
using testsupport::TempDir;
using testsupport::WriteBytes;

namespace {

size_t OpenDescriptors() {
    return static_cast<size_t>(std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                                             std::filesystem::directory_iterator{}));
}

// The name chooses the type; a file that cannot be opened still gives an object that reads
// nothing.
TEST(WavFileFactory, NameChoosesTheTypeAndModeTheOpening) {
    struct Case {
        const char* name;
        const char* mode;
        const char* type;
        int32_t error;
    };
    const Case cases[] = {
        {"null", "w", "N", 0},         {"nUlL", "", "N", 0},       {"null", "r", "N", 11},
        {"null", "a", "N", 11},        {"null.wav", "w", "W", 0},  {"X.WAV", "w", "W", 0},
        {"missing.wav", "r", "W", 11}, {"x.DaF", "r", "D", 11},    {"daf", "r", "M", 11},
        {"x.daf.mp3", "r", "M", 11},   {"", "r", "M", 11},         {"~F440", "r", "G", 0},
        {"~F440", "w", "G", 9},        {"~F440", nullptr, "G", 9}, {"~C3", "r", "G", 11},
    };
    TempDir dir;
    for (const Case& c : cases) {
        const bool bare = std::string(c.name).find('.') == std::string::npos;
        const std::string path = bare ? c.name : dir.File(c.name);
        int32_t error = -1;
        auto file = CreateWavFile(path.c_str(), c.mode, &error);
        ASSERT_NE(file, nullptr);
        EXPECT_EQ(error, c.error) << c.name << " " << (c.mode ? c.mode : "(null)");
        const char type = dynamic_cast<TWavFileTypeNullRecord*>(file.get())  ? 'N'
                          : dynamic_cast<TWavFileTypeWav*>(file.get())       ? 'W'
                          : dynamic_cast<TWavFileTypeDAF*>(file.get())       ? 'D'
                          : dynamic_cast<TWavFileTypeMP23*>(file.get())      ? 'M'
                          : dynamic_cast<TWavFileTypeGenerator*>(file.get()) ? 'G'
                                                                             : '?';
        EXPECT_EQ(type, c.type[0]) << c.name;
        char buffer[8];
        if (c.error == WAVFILE_OPEN_FAILED && c.type[0] != 'G') {  // no file: nothing to read
            EXPECT_EQ(file->Read(buffer, sizeof buffer), 0) << c.name;
        }
    }
}

TEST(PlainFileBase, SeekOriginsAndCounts) {
    TempDir dir;
    const std::string path = dir.File("seek.bin");
    WriteBytes(path, {10, 11, 12, 13, 14, 15, 16, 17});
    TWavFileBase file(path.c_str(), "r", nullptr);
    ASSERT_EQ(file.Open(path.c_str(), 0x40), 0);
    file.DataLength = 8;
    const int32_t steps[][3] = {
        // offset, origin, the byte then read (-1: none)
        {3, WAVSEEK_START, 13},
        {0, WAVSEEK_CURRENT, 14},
        {-2, WAVSEEK_END, 16},
        {0, WAVSEEK_END, -1},
        {2, 7, -1},  // another origin is the current position
        {0, WAVSEEK_START, 10},
        {-9, WAVSEEK_CURRENT, 11},  // before the start: not moved
    };
    for (const auto& [offset, origin, expected] : steps) {
        EXPECT_EQ(file.Seek(offset, origin), offset < -8 ? WAVFILE_READ_FAILED : 0);
        uint8_t byte = 0;
        EXPECT_EQ(file.Read(&byte, 1), expected < 0 ? 0 : 1);
        EXPECT_EQ(expected < 0 ? -1 : byte, expected) << offset << "/" << origin;
    }
    EXPECT_EQ(file.ReadCount, 5);  // seeking never changes the count
    uint8_t rest[16];
    EXPECT_EQ(file.Read(rest, 16), 6);
    EXPECT_EQ(file.GetRemainingBytes(), 0);  // read past DataLength: 0, not negative
    EXPECT_EQ(file.Read(rest, -4), 0);
    EXPECT_EQ(file.Write(rest, -4), 0);
}

TEST(PlainFileBase, ReopeningClosesTheOldHandle) {
    TempDir dir;
    const std::string path = dir.File("a.bin");
    WriteBytes(path, {1});
    TWavFileBase file(path.c_str(), "r", nullptr);
    ASSERT_EQ(file.Open(path.c_str(), 0x40), 0);
    const size_t before = OpenDescriptors();
    for (int i = 0; i < 20; ++i) {
        ASSERT_EQ(file.Open(path.c_str(), 0x40), 0);
    }
    EXPECT_EQ(OpenDescriptors(), before);
}

TEST(PlainFileBase, CountsClampInsteadOfOverflowing) {
    TWavFileBase file("x", "w", nullptr);
    file.DataLength = INT32_MAX - 10;
    char data[100] = {};
    EXPECT_EQ(file.Write(data, 100), 0);  // no file: nothing written
    EXPECT_EQ(file.GetDataLength(), INT32_MAX);

    // A sparse 3 GiB file: positions beyond 2 GiB read as the largest signed value.
    TempDir dir;
    const std::string path = dir.File("big.bin");
    WriteBytes(path, {});
    ASSERT_EQ(::truncate(path.c_str(), 3LL << 30), 0);
    PlainFile* plain = PlainFileOpen(path.c_str(), "rb");
    ASSERT_NE(plain, nullptr);
    EXPECT_EQ(PlainFileSeek(plain, 0, PLAINSEEK_END), 0);
    EXPECT_EQ(PlainFileTell(plain), INT32_MAX);
    EXPECT_EQ(PlainFileSeek(plain, -16, PLAINSEEK_END), 0);
    uint8_t buffer[32];
    EXPECT_EQ(PlainFileRead(buffer, 1, 32, plain), 16);
    EXPECT_EQ(PlainFileSeek(plain, 5, PLAINSEEK_START), 0);
    EXPECT_EQ(PlainFileTell(plain), 5);
    EXPECT_EQ(PlainFileRead(buffer, INT32_MAX, 2, plain), 0);  // absurd sizes: nothing
    EXPECT_EQ(PlainFileClose(plain), 0);
}

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
    EXPECT_EQ(fmt.Get32(WavFmtOffset::ChannelMask), 3u);
    char name[16] = {};
    fmt.GetFormatName(name, nullptr, nullptr);
    EXPECT_STREQ(name, "FLOAT32");
    fmt.WaveFormat[WavFmtOffset::SubFormat + 15] ^=
        1;  // last GUID byte differs: integer PCM by bits
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
        fmt.Set16(WavFmtOffset::FormatTag, static_cast<uint16_t>(tag));
        fmt.Set16(WavFmtOffset::Channels, static_cast<uint16_t>(channels));
        fmt.Set16(WavFmtOffset::BitsPerSample, static_cast<uint16_t>(bits));
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
