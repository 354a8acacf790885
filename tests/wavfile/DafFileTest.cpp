// DAF files: the uninterpreted 256-byte header, the MPEG or 16-bit PCM data behind it, and
// the zeroed header written when one is created.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/MpegBytes.h"
#include "support/TempDir.h"
#include "wavfile/WavFileTypeDAF.h"

namespace {

using testsupport::MpegHeaderWord;
using testsupport::PutBE32;
using testsupport::ReadBytes;
using testsupport::TempDir;
using testsupport::WriteBytes;

// A header that would confuse anything that looked into it: a frame sync and "ID3".
std::vector<uint8_t> BusyHeader() {
    std::vector<uint8_t> header(256, 0xA5);
    header[0] = 'I', header[1] = 'D', header[2] = '3';
    header[10] = 0xFF, header[11] = 0xFB, header[12] = 0x90, header[13] = 0x64;
    return header;
}

TEST(DafFile, DataBehindTheHeaderChoosesTheFormat) {
    struct Row {
        const char* what;
        std::vector<uint8_t> data;
        int32_t result;
        uint16_t tag;
        uint16_t channels;
        uint32_t rate;
    };
    std::vector<uint8_t> layer3;
    PutBE32(layer3, MpegHeaderWord(3, 1, 9, 0, 3));
    layer3.resize(600, 0x11);
    std::vector<uint8_t> layer2;
    PutBE32(layer2, MpegHeaderWord(2, 2, 8, 1, 0));
    layer2.resize(300, 0x22);
    std::vector<uint8_t> layer1;
    PutBE32(layer1, MpegHeaderWord(3, 3, 8, 0, 0));
    layer1.resize(300, 0x33);
    const std::vector<uint8_t> pcm(1000, 0x07);
    const Row rows[] = {
        {"MPEG-1 layer III", layer3, 0, WAVE_TAG_MPEG, 1, 44100},
        {"MPEG-2 layer II", layer2, 0, WAVE_TAG_MPEG, 2, 24000},
        {"PCM", pcm, 0, WAVE_TAG_PCM, 2, 44100},
        {"layer I", layer1, 6, 0, 0, 0},
        {"three bytes", {1, 2, 3}, 6, 0, 0, 0},
    };
    TempDir dir;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        std::vector<uint8_t> bytes = BusyHeader();
        bytes.insert(bytes.end(), row.data.begin(), row.data.end());
        const std::string path = dir.File("a.DAF");
        WriteBytes(path, bytes);
        for (int32_t flag : {0, 1}) {
            int32_t error = -1;
            auto file = CreateWavFile(path.c_str(), "r", &error);
            ASSERT_NE(dynamic_cast<TWavFileTypeDAF*>(file.get()), nullptr);
            ASSERT_EQ(error, 0);
            ASSERT_EQ(file->ReadHeader(flag), row.result);
            EXPECT_EQ(file->FormatTag(), row.tag);
            if (row.result != 0) {
                EXPECT_EQ(file->DataLength, 0);
                continue;
            }
            EXPECT_EQ(file->Channels(), row.channels);
            EXPECT_EQ(file->SamplesPerSec(), row.rate);
            EXPECT_EQ(file->DataLength, static_cast<int32_t>(row.data.size()));
            std::vector<uint8_t> got(row.data.size() + 10);
            const int32_t read = file->Read(got.data(), static_cast<int32_t>(got.size()));
            if (flag == 0) {
                ASSERT_EQ(read, static_cast<int32_t>(row.data.size()));
                got.resize(read);
                EXPECT_EQ(got, row.data);
            } else {
                EXPECT_EQ(read, 0);
            }
        }
    }
}

TEST(DafFile, CreatingWritesAZeroHeaderBeforeTheData) {
    TempDir dir;
    const std::string path = dir.File("new.daf");
    WriteBytes(path, std::vector<uint8_t>(5000, 0x77));  // truncated by creation
    std::vector<uint8_t> data(1500, 0x42);
    data[0] = 1;
    data[1499] = 2;
    {
        int32_t error = -1;
        auto file = CreateWavFile(path.c_str(), "w", &error);
        ASSERT_EQ(error, 0);
        EXPECT_EQ(file->WriteHeader(), 0);
        EXPECT_EQ(file->Write(data.data(), 1000), 1000);
        EXPECT_EQ(file->Write(data.data() + 1000, 500), 500);
        EXPECT_EQ(file->DataLength, 1500);
    }
    std::vector<uint8_t> expected(256 + data.size(), 0);
    std::copy(data.begin(), data.end(), expected.begin() + 256);
    EXPECT_EQ(ReadBytes(path), expected);

    // Appending opens for reading only: nothing is written, the count still grows.
    int32_t error = -1;
    auto append = CreateWavFile(path.c_str(), "a", &error);
    ASSERT_EQ(error, 0);
    ASSERT_EQ(append->ReadHeader(1), 0);
    EXPECT_EQ(append->Write(data.data(), 10), 0);
    EXPECT_EQ(append->DataLength, 1510);
    EXPECT_EQ(ReadBytes(path).size(), 1756u);
}

TEST(DafFile, OpenFailures) {
    TempDir dir;
    int32_t error = -1;
    auto missing = CreateWavFile(dir.File("missing.daf").c_str(), "r", &error);
    EXPECT_EQ(error, 11);
    EXPECT_EQ(missing->ReadHeader(0), 6);
    auto uncreatable = CreateWavFile(dir.File("no/such/dir.daf").c_str(), "w", &error);
    EXPECT_EQ(error, 11);
    // A header that cannot be written in full is reported, not passed over.
    TWavFileTypeDAF full("", "w", &error);
    EXPECT_EQ(full.Open("/dev/full", MMIO_CREATE | MMIO_READWRITE), 9);
}

}  // namespace
