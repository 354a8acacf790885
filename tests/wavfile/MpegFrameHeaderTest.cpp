// Frame-header words decoded through the constant tables: every version row, both layers,
// the rejected layers and the reserved sample-rate index.
#include <gtest/gtest.h>

#include <string>

#include "support/MpegBytes.h"
#include "wavfile/MpegFrameHeader.h"

namespace {

using testsupport::MpegHeaderWord;

struct DecodeRow {
    uint32_t version, layer, bitRateIndex, rateIndex, mode;
    int32_t result;
    const char* name;
    int32_t channels, rate, bitRate;
};

TEST(MpegFrameHeader, DecodesTablesByVersionLayerAndIndex) {
    const DecodeRow rows[] = {
        // MPEG-1 layer II.
        {3, 2, 8, 0, 0, 0, "MPEG2", 2, 44100, 128000},
        {3, 2, 14, 1, 3, 0, "MPEG2", 1, 48000, 384000},
        {3, 2, 1, 2, 1, 0, "MPEG2", 2, 32000, 32000},
        {3, 2, 12, 1, 2, 0, "MPEG2", 2, 48000, 256000},
        // MPEG-2 layer II shares the MPEG-2 table with layer III.
        {2, 2, 1, 0, 0, 0, "MPEG2", 2, 22050, 8000},
        {2, 2, 8, 1, 3, 0, "MPEG2", 1, 24000, 64000},
        {2, 2, 14, 2, 1, 0, "MPEG2", 2, 16000, 160000},
        // Layer III, one row per version.
        {3, 1, 9, 0, 1, 0, "MP3", 2, 44100, 128000},
        {3, 1, 14, 1, 0, 0, "MP3", 2, 48000, 320000},
        {3, 1, 1, 2, 3, 0, "MP3", 1, 32000, 32000},
        {3, 1, 2, 0, 3, 0, "MP3", 1, 44100, 40000},
        {2, 1, 1, 0, 3, 0, "MP3", 1, 22050, 8000},
        {2, 1, 8, 1, 1, 0, "MP3", 2, 24000, 64000},
        {2, 1, 13, 2, 2, 0, "MP3", 2, 16000, 144000},
        {2, 1, 14, 0, 0, 0, "MP3", 2, 22050, 160000},
        // Free format and the invalid index give a bit rate of 0.
        {3, 2, 0, 0, 0, 0, "MPEG2", 2, 44100, 0},
        {3, 1, 15, 0, 0, 0, "MP3", 2, 44100, 0},
        {2, 1, 15, 1, 0, 0, "MP3", 2, 24000, 0},
        // Layer I and the reserved layer are not decoded.
        {3, 3, 8, 0, 0, 6, nullptr, 0, 0, 0},
        {2, 3, 8, 0, 0, 6, nullptr, 0, 0, 0},
        {3, 0, 8, 0, 0, 6, nullptr, 0, 0, 0},
        // The reserved sample-rate index would mean a rate of 0.
        {3, 2, 8, 3, 0, 6, nullptr, 0, 0, 0},
        {2, 1, 8, 3, 0, 6, nullptr, 0, 0, 0},
    };
    for (const DecodeRow& row : rows) {
        const uint32_t word =
            MpegHeaderWord(row.version, row.layer, row.bitRateIndex, row.rateIndex, row.mode);
        SCOPED_TRACE(testing::Message() << std::hex << word);
        ASSERT_TRUE(IsFrameHeader(word));
        MpegFrameInfo info{"untouched", -1, -1, -1};
        ASSERT_EQ(ReadFrameInfo(word, &info), row.result);
        if (row.result != 0) {
            EXPECT_STREQ(info.Name, "untouched");
            continue;
        }
        EXPECT_STREQ(info.Name, row.name);
        EXPECT_EQ(info.Channels, row.channels);
        EXPECT_EQ(info.SampleRate, row.rate);
        EXPECT_EQ(info.BitRate, row.bitRate);
    }
}

TEST(MpegFrameHeader, OtherBitsAreIgnored) {
    const uint32_t word = MpegHeaderWord(3, 1, 9, 0, 1);
    MpegFrameInfo plain{}, noisy{};
    ASSERT_EQ(ReadFrameInfo(word, &plain), 0);
    // Protection, padding, private, mode extension, copyright, original, emphasis.
    ASSERT_EQ(ReadFrameInfo(word ^ 0x0001033Fu, &noisy), 0);
    EXPECT_STREQ(plain.Name, noisy.Name);
    EXPECT_EQ(plain.BitRate, noisy.BitRate);
    EXPECT_EQ(plain.SampleRate, noisy.SampleRate);
    EXPECT_EQ(plain.Channels, noisy.Channels);
}

TEST(MpegFrameHeader, SyncNeedsTwelveTopBits) {
    EXPECT_TRUE(IsFrameHeader(0xFFF00000u));
    EXPECT_TRUE(IsFrameHeader(0xFFFFFFFFu));
    EXPECT_FALSE(IsFrameHeader(0xFFE00000u));  // MPEG-2.5 sync: not admitted
    EXPECT_FALSE(IsFrameHeader(0x7FF00000u));
    EXPECT_FALSE(IsFrameHeader(0xFFEFFFFFu));
    const uint8_t bytes[4] = {0xFF, 0xFB, 0x90, 0x64};
    EXPECT_EQ(BigEndianWord(bytes), 0xFFFB9064u);
}

}  // namespace
