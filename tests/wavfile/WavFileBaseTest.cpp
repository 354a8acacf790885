#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "support/TempDir.h"
#include "wavfile/WavFileBase.h"
#include "wavfile/WavFileTypeNullRecord.h"

using testsupport::ReadBytes;
using testsupport::TempDir;
using testsupport::WriteBytes;

namespace {

size_t OpenDescriptors() {
    return static_cast<size_t>(std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                                             std::filesystem::directory_iterator{}));
}

TEST(WavFileFactory, NullSinkOpensOnlyForWriting) {
    const std::pair<const char*, int32_t> cases[] = {{"w", 0}, {"", 0}, {"r", 11}, {"a", 11}};
    for (const char* name : {"null", "nUlL"}) {
        for (auto [mode, expected] : cases) {
            int32_t error = -1;
            auto file = CreateWavFile(name, mode, &error);
            ASSERT_NE(file, nullptr);
            EXPECT_NE(dynamic_cast<TWavFileTypeNullRecord*>(file.get()), nullptr) << name;
            EXPECT_EQ(error, expected) << name << " mode " << mode;
        }
    }
    TempDir dir;  // "null.wav" is a RIFF WAVE file, not the sink
    int32_t error = -1;
    auto file = CreateWavFile(dir.File("null.wav").c_str(), "w", &error);
    EXPECT_EQ(dynamic_cast<TWavFileTypeNullRecord*>(file.get()), nullptr);
}

TEST(WavFileFactory, AMissingFileStillReturnsAnObject) {
    TempDir dir;
    for (const char* name : {"missing.wav", "missing.mp3", "missing.daf", ""}) {
        int32_t error = 0;
        const std::string path = name[0] != '\0' ? dir.File(name) : std::string();
        auto file = CreateWavFile(path.c_str(), "r", &error);
        ASSERT_NE(file, nullptr);
        EXPECT_EQ(error, WAVFILE_OPEN_FAILED) << name;
        char buffer[8];
        EXPECT_EQ(file->Read(buffer, sizeof buffer), 0);
    }
}

TEST(PlainFileBase, OpenModesTruncateOrKeepReadOnly) {
    TempDir dir;
    const std::string path = dir.File("plain.bin");
    WriteBytes(path, {1, 2, 3, 4, 5, 6});

    // Appending flags open a plain file read-only: writes fail but the length still grows.
    TWavFileBase reader(path.c_str(), "a", nullptr);
    ASSERT_EQ(reader.Open(path.c_str(), OpenFlagsForMode("a")), 0);
    EXPECT_EQ(reader.Write("abc", 3), 0);
    EXPECT_EQ(reader.GetDataLength(), 3);
    EXPECT_EQ(ReadBytes(path).size(), 6u);
    EXPECT_EQ(reader.Close(), 0);

    // Creating flags truncate an existing file.
    TWavFileBase writer(path.c_str(), "w", nullptr);
    ASSERT_EQ(writer.Open(path.c_str(), OpenFlagsForMode("w")), 0);
    EXPECT_TRUE(ReadBytes(path).empty());
    EXPECT_EQ(writer.Write("hello", 5), 5);
    EXPECT_EQ(writer.GetDataLength(), 5);
    EXPECT_EQ(writer.Close(), 0);
    EXPECT_EQ(ReadBytes(path), (std::vector<uint8_t>{'h', 'e', 'l', 'l', 'o'}));

    EXPECT_EQ(reader.Open(dir.File("absent").c_str(), 0x40), WAVFILE_OPEN_FAILED);
}

TEST(PlainFileBase, SeekOriginsAndCounts) {
    TempDir dir;
    const std::string path = dir.File("seek.bin");
    WriteBytes(path, {10, 11, 12, 13, 14, 15, 16, 17});
    TWavFileBase file(path.c_str(), "r", nullptr);
    ASSERT_EQ(file.Open(path.c_str(), 0x40), 0);
    file.DataLength = 8;
    struct Step {
        int32_t offset, origin;
        int expectedByte;  // -1: at the end
    };
    const Step steps[] = {
        {3, WAVSEEK_START, 13},    {0, WAVSEEK_CURRENT, 14}, {-2, WAVSEEK_END, 16},
        {0, WAVSEEK_END, -1},      {0, WAVSEEK_START, 10},   {2, 7, 13},  // other = current
        {-9, WAVSEEK_CURRENT, 14},  // before the start: refused, not moved
    };
    for (const Step& step : steps) {
        EXPECT_EQ(file.Seek(step.offset, step.origin), step.offset < -8 ? WAVFILE_READ_FAILED : 0);
        uint8_t byte = 0;
        const int32_t got = file.Read(&byte, 1);
        if (step.expectedByte < 0) {
            EXPECT_EQ(got, 0);
        } else {
            EXPECT_EQ(got, 1);
            EXPECT_EQ(byte, step.expectedByte) << step.offset << "/" << step.origin;
        }
    }
    EXPECT_EQ(file.ReadCount, 6);  // seeking never changes the count
    EXPECT_EQ(file.GetRemainingBytes(), 2);
    uint8_t rest[16];
    EXPECT_EQ(file.Read(rest, 16), 3);
    EXPECT_EQ(file.GetRemainingBytes(), 0);  // read past DataLength: 0, not negative
    EXPECT_EQ(file.Read(rest, -4), 0);
    EXPECT_EQ(file.Write(rest, -4), 0);
    EXPECT_EQ(file.ReadCount, 9);
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

}  // namespace
