// Where the MPEG type finds the first frame in files written byte by byte: at the start,
// behind ID3v2 tags with and without footer, and at the edges of the scan window.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/MpegBytes.h"
#include "support/TempDir.h"
#include "wavfile/WavFileTypeMP23.h"

namespace {

using testsupport::MpegHeaderWord;
using testsupport::PutBE32;
using testsupport::TempDir;
using testsupport::WriteBytes;

constexpr uint32_t kLayer2Header = MpegHeaderWord(3, 2, 8, 1, 0);  // 48 kHz, 128 kbit/s

// An ID3v2 tag header of synch-safe size `size`, followed by `size` bytes (and a footer).
std::vector<uint8_t> Id3Tag(uint32_t size, bool footer, uint8_t fill = 0x20) {
    std::vector<uint8_t> tag = {'I', 'D', '3', 4, 0, static_cast<uint8_t>(footer ? 0x10 : 0)};
    for (int shift = 21; shift >= 0; shift -= 7) {
        tag.push_back(static_cast<uint8_t>((size >> shift) & 0x7F));
    }
    tag.insert(tag.end(), size, fill);
    if (footer) {
        // A footer that looks like a frame start: taking the tag as ten bytes shorter would
        // find this instead of the real frame.
        const uint8_t fake[10] = {0xFF, 0xFD, 0x94, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
        tag.insert(tag.end(), fake, fake + 10);
    }
    return tag;
}

// One frame: the header word and a body without sync patterns.
void PutFrame(std::vector<uint8_t>& out, uint32_t header, size_t body = 400) {
    PutBE32(out, header);
    out.insert(out.end(), body, 0x55);
}

struct SearchRow {
    const char* what;
    std::vector<uint8_t> prefix;  // tag bytes, if any
    size_t junk;                  // zero bytes between the tag and the frame
    int32_t result;
};

TEST(MpegSearch, FrameOffsetsAroundTagsAndTheScanWindow) {
    const SearchRow rows[] = {
        {"frame at 0", {}, 0, 0},
        {"frame 8188 in", {}, 8188, 0},
        {"frame 8189 in", {}, 8189, 6},
        {"frame 8192 in: final test", {}, 8192, 0},
        {"frame 8193 in", {}, 8193, 6},
        {"tag without footer", Id3Tag(300, false), 0, 0},
        {"tag with footer", Id3Tag(300, true), 0, 0},
        {"tag, all size bytes", Id3Tag((1u << 21) + (2u << 14) + (3u << 7) + 4, false), 0, 0},
        {"tag, frame 8189 after", Id3Tag(100, false), 8189, 6},
        {"footer tag, frame 8192 after", Id3Tag(100, true), 8192, 0},
    };
    TempDir dir;
    for (const SearchRow& row : rows) {
        SCOPED_TRACE(row.what);
        std::vector<uint8_t> bytes = row.prefix;
        bytes.insert(bytes.end(), row.junk, 0x00);
        const size_t frameOffset = bytes.size();
        PutFrame(bytes, kLayer2Header);
        const std::string path = dir.File("search.mp2");
        WriteBytes(path, bytes);

        int32_t error = -1;
        auto file = CreateWavFile(path.c_str(), "r", &error);
        ASSERT_EQ(error, 0);
        auto* mpeg = dynamic_cast<TWavFileTypeMP23*>(file.get());
        ASSERT_NE(mpeg, nullptr);
        uint32_t header = 0xDEADBEEF;
        ASSERT_EQ(mpeg->FindFrameHeader(&header), row.result);
        if (row.result != 0) {
            EXPECT_EQ(header, 0u);
            EXPECT_EQ(mpeg->ReadHeader(0), 6);
            EXPECT_EQ(mpeg->FormatTag(), 0);  // untouched
            continue;
        }
        EXPECT_EQ(header, kLayer2Header);
        ASSERT_EQ(mpeg->ReadHeader(0), 0);
        EXPECT_EQ(mpeg->DataLength, static_cast<int32_t>(bytes.size() - frameOffset));
        uint8_t first[4] = {};
        ASSERT_EQ(mpeg->Read(first, 4), 4);
        EXPECT_EQ(
            std::vector<uint8_t>(first, first + 4),
            std::vector<uint8_t>(bytes.begin() + frameOffset, bytes.begin() + frameOffset + 4));
    }
}

TEST(MpegSearch, ShortAndBrokenFilesFailWithoutFault) {
    struct Row {
        const char* what;
        std::vector<uint8_t> bytes;
    };
    std::vector<uint8_t> truncatedTag = Id3Tag(1000, false);
    truncatedTag.resize(600);
    std::vector<uint8_t> header3 = {0xFF, 0xFD, 0x94};
    const Row rows[] = {
        {"empty", {}},
        {"three bytes of a header", header3},
        {"ID3 and nothing", {'I', 'D', '3'}},
        {"ID3 with a cut header", {'I', 'D', '3', 4, 0, 0, 0}},
        {"tag longer than the file", truncatedTag},
        {"8195 zero bytes", std::vector<uint8_t>(8195, 0)},
        {"largest synch-safe tag", Id3Tag(0, false)},
    };
    TempDir dir;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        std::vector<uint8_t> bytes = row.bytes;
        if (std::string(row.what) == "largest synch-safe tag") {
            bytes[6] = bytes[7] = bytes[8] = bytes[9] = 0xFF;  // masked to 7 bits each
        }
        const std::string path = dir.File("broken.mp3");
        WriteBytes(path, bytes);
        int32_t error = -1;
        auto file = CreateWavFile(path.c_str(), "r", &error);
        ASSERT_EQ(error, 0);
        EXPECT_EQ(file->ReadHeader(0), 6);
        EXPECT_EQ(file->DataLength, 0);
    }
}

TEST(MpegHeader, UndecodableFirstFrameFails) {
    TempDir dir;
    for (uint32_t header :
         {MpegHeaderWord(3, 3, 8, 0, 0),                  // layer I
          MpegHeaderWord(3, 0, 8, 0, 0),                  // reserved layer
          MpegHeaderWord(3, 2, 8, 3, 0),                  // reserved sample rate
          MpegHeaderWord(2, 1, 8, 3, 3), 0xFFE39064u}) {  // MPEG-2.5 sync: not admitted
        std::vector<uint8_t> bytes;
        PutFrame(bytes, header);
        const std::string path = dir.File("bad.mp2");
        WriteBytes(path, bytes);
        int32_t error = -1;
        auto file = CreateWavFile(path.c_str(), "r", &error);
        EXPECT_EQ(file->ReadHeader(0), 6) << std::hex << header;
        EXPECT_EQ(file->FormatTag(), 0);
    }
}

TEST(MpegHeader, FormatRecordAndPositionAfterReadHeader) {
    struct Row {
        uint32_t header;
        uint16_t channels;
        uint32_t rate;
        uint32_t bitRate;
        uint16_t layer;
        uint16_t mode;
        uint16_t blockAlign;
    };
    const Row rows[] = {
        {MpegHeaderWord(3, 2, 12, 1, 0), 2, 48000, 256000, 2, 2, 768},
        {MpegHeaderWord(3, 1, 9, 0, 1), 2, 44100, 128000, 4, 2, 417},
        {MpegHeaderWord(2, 2, 8, 0, 3), 1, 22050, 64000, 2, 8, 418},
        {MpegHeaderWord(2, 1, 8, 1, 3), 1, 24000, 64000, 4, 8, 384},
        {MpegHeaderWord(3, 1, 0, 0, 2), 2, 44100, 0, 4, 2, 0},
    };
    TempDir dir;
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << std::hex << row.header);
        std::vector<uint8_t> bytes = Id3Tag(50, false);
        PutFrame(bytes, row.header, 1000);
        const std::string path = dir.File("fmt.mp3");
        WriteBytes(path, bytes);
        for (int32_t flag : {0, 1}) {
            int32_t error = -1;
            auto file = CreateWavFile(path.c_str(), "r", &error);
            ASSERT_EQ(file->ReadHeader(flag), 0);
            EXPECT_EQ(file->FormatTag(), WAVE_TAG_MPEG);
            EXPECT_EQ(file->Channels(), row.channels);
            EXPECT_EQ(file->SamplesPerSec(), row.rate);
            EXPECT_EQ(file->Get32(WavFmtOffset::HeadBitRate), row.bitRate);
            EXPECT_EQ(file->Get16(WavFmtOffset::HeadLayer), row.layer);
            EXPECT_EQ(file->Get16(WavFmtOffset::HeadMode), row.mode);
            EXPECT_EQ(file->BlockAlign(), row.blockAlign);
            EXPECT_EQ(file->SamplesPerFrame, 1152u);
            EXPECT_EQ(file->DataLength, 1004);
            std::vector<uint8_t> data(2000);
            // Prepared for reading: the whole frame; prepared for appending: at the end.
            EXPECT_EQ(file->Read(data.data(), 2000), flag == 0 ? 1004 : 0);
        }
    }
}

}  // namespace
