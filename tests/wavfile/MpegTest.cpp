// MPEG and DAF files written byte by byte: where the first frame is found (at the start, behind
// ID3v2 tags, at the edges of the scan window, behind the 256-byte DAF header), the format it
// gives, and the files that have none.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/TempDir.h"
#include "wavfile/WavFileTypeDAF.h"
#include "wavfile/WavFileTypeMP23.h"

namespace {

using Bytes = std::vector<uint8_t>;
using testsupport::ReadBytes;
using testsupport::TempDir;
using testsupport::WriteBytes;

// A frame-header word. version: 3 = MPEG-1, 2 = MPEG-2; layer field: 2 = layer II, 1 = layer III.
constexpr uint32_t Word(uint32_t version, uint32_t layer, uint32_t bitRateIndex, uint32_t rateIndex,
                        uint32_t mode) {
    return 0xFFE00000u | version << 19 | layer << 17 | 1u << 16 | bitRateIndex << 12 |
           rateIndex << 10 | mode << 6;
}

// An ID3v2 tag of synch-safe size `size`, with a footer that looks like a frame start: taking
// the tag as ten bytes shorter would find it instead of the real frame.
Bytes Id3Tag(uint32_t size, bool footer) {
    Bytes tag = {'I', 'D', '3', 4, 0, static_cast<uint8_t>(footer ? 0x10 : 0)};
    for (int shift = 21; shift >= 0; shift -= 7) {
        tag.push_back(static_cast<uint8_t>((size >> shift) & 0x7F));
    }
    tag.insert(tag.end(), size, 0x20);
    if (footer) {
        tag.insert(tag.end(), {0xFF, 0xFD, 0x94, 0, 0, 0, 0, 0, 0, 0});
    }
    return tag;
}

// A DAF header that would confuse anything that looked into it: "ID3" and a frame sync.
Bytes DafHeader() {
    Bytes header(256, 0xA5);
    header[0] = 'I', header[1] = 'D', header[2] = '3';
    header[10] = 0xFF, header[11] = 0xFB, header[12] = 0x90, header[13] = 0x64;
    return header;
}

// `prefix`, `junk` zero bytes, then a frame: the header word and a body without sync patterns.
Bytes WithFrame(Bytes prefix, size_t junk, uint32_t header, size_t body = 1000) {
    prefix.insert(prefix.end(), junk, 0);
    for (int shift = 24; shift >= 0; shift -= 8) {
        prefix.push_back(static_cast<uint8_t>(header >> shift));
    }
    prefix.insert(prefix.end(), body, 0x55);
    return prefix;
}

std::unique_ptr<TWavFileBase> OpenBytes(TempDir& dir, const char* name, const Bytes& bytes) {
    WriteBytes(dir.File(name), bytes);
    int32_t error = -1;
    auto file = CreateWavFile(dir.File(name).c_str(), "r", &error);
    EXPECT_EQ(error, 0);
    return file;
}

TEST(MpegSearch, FrameOffsetsAroundTagsAndTheScanWindow) {
    constexpr uint32_t kLayer2 = Word(3, 2, 8, 1, 0);
    struct Row {
        const char* what;
        Bytes prefix;
        size_t junk;
        int32_t result;
    };
    const Row rows[] = {
        {"frame at 0", {}, 0, 0},
        {"frame 8188 in", {}, 8188, 0},
        {"frame 8189 in", {}, 8189, 6},
        {"frame 8192 in: final test", {}, 8192, 0},
        {"frame 8193 in", {}, 8193, 6},
        {"tag", Id3Tag(300, false), 0, 0},
        {"tag with footer", Id3Tag(300, true), 0, 0},
        {"tag, all size bytes", Id3Tag((1u << 21) + (2u << 14) + (3u << 7) + 4, false), 0, 0},
        {"tag, frame 8189 after", Id3Tag(100, false), 8189, 6},
        {"footer tag, frame 8192 after", Id3Tag(100, true), 8192, 0},
    };
    TempDir dir;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const Bytes bytes = WithFrame(row.prefix, row.junk, kLayer2);
        auto file = OpenBytes(dir, "search.mp2", bytes);
        uint32_t header = 0xDEADBEEF;
        ASSERT_EQ(dynamic_cast<TWavFileTypeMP23&>(*file).FindFrameHeader(&header), row.result);
        EXPECT_EQ(header, row.result == 0 ? kLayer2 : 0u);
        ASSERT_EQ(file->ReadHeader(0), row.result);
        if (row.result != 0) {
            EXPECT_EQ(file->FormatTag(), 0);
            continue;
        }
        const size_t frame = row.prefix.size() + row.junk;
        Bytes data(bytes.size());
        data.resize(static_cast<size_t>(file->Read(data.data(), 100000)));
        EXPECT_EQ(data, Bytes(bytes.begin() + frame, bytes.end()));
    }
}

TEST(MpegSearch, FilesWithoutADecodableFrameFailWithoutFault) {
    Bytes cutTag = Id3Tag(1000, false);
    cutTag.resize(600);
    Bytes hugeTag = Id3Tag(0, false);
    hugeTag[6] = hugeTag[7] = hugeTag[8] = hugeTag[9] = 0xFF;  // masked to 7 bits each
    const std::pair<const char*, Bytes> rows[] = {
        {"e.mp3", {}},
        {"e.mp3", {0xFF, 0xFD, 0x94}},
        {"e.mp3", {'I', 'D', '3', 4, 0, 0, 0}},
        {"e.mp3", cutTag},
        {"e.mp3", hugeTag},
        {"e.mp3", Bytes(8195, 0)},
        {"e.mp3", WithFrame({}, 0, Word(3, 3, 8, 0, 0))},  // layer I
        {"e.mp3", WithFrame({}, 0, Word(3, 0, 8, 0, 0))},  // reserved layer
        {"e.mp3", WithFrame({}, 0, Word(3, 2, 8, 3, 0))},  // reserved rate
        {"e.mp3", WithFrame({}, 0, 0xFFE39064u)},          // MPEG-2.5 sync
        {"e.daf", WithFrame(DafHeader(), 0, Word(3, 3, 8, 0, 0))},
        {"e.daf", Bytes(259, 0)},  // less than one word behind the header
    };
    TempDir dir;
    for (const auto& [name, bytes] : rows) {
        auto opened = OpenBytes(dir, name, bytes);
        EXPECT_EQ(opened->ReadHeader(0), 6) << name << " " << bytes.size();
        EXPECT_EQ(opened->FormatTag(), 0);
        EXPECT_EQ(opened->DataLength, 0);
    }
}

// The format of the first frame, and the position: at the frame for reading, at the end for
// appending. A DAF file without a frame behind its header holds 16-bit stereo PCM.
TEST(MpegFormat, RecordAndPositionAfterReadHeader) {
    struct Row {
        const char* name;
        Bytes bytes;
        uint16_t tag, channels;
        uint32_t rate, bitRate;
        uint16_t layer, blockAlign;
    };
    const Bytes tag = Id3Tag(50, false);
    const Row rows[] = {
        {"a.mp2", WithFrame(tag, 0, Word(3, 2, 12, 1, 0)), 80, 2, 48000, 256000, 2, 768},
        {"a.mp3", WithFrame(tag, 0, Word(3, 1, 9, 0, 1)), 80, 2, 44100, 128000, 4, 417},
        {"a.mp3", WithFrame({}, 0, Word(2, 2, 8, 0, 3)), 80, 1, 22050, 64000, 2, 418},
        {"a.mp3", WithFrame({}, 0, Word(2, 1, 8, 1, 3)), 80, 1, 24000, 64000, 4, 384},
        {"a.mp3", WithFrame({}, 0, Word(3, 1, 0, 0, 2)), 80, 2, 44100, 0, 4, 0},  // free format
        {"a.DAF", WithFrame(DafHeader(), 0, Word(3, 1, 9, 0, 3)), 80, 1, 44100, 128000, 4, 417},
        {"a.daf", WithFrame(DafHeader(), 0, 0x07070707u), 1, 2, 44100, 0, 0, 4},
    };
    TempDir dir;
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << row.name << " " << &row - rows);
        for (int32_t flag : {0, 1}) {
            auto file = OpenBytes(dir, row.name, row.bytes);
            ASSERT_EQ(file->ReadHeader(flag), 0);
            EXPECT_EQ(file->FormatTag(), row.tag);
            EXPECT_EQ(file->Channels(), row.channels);
            EXPECT_EQ(file->SamplesPerSec(), row.rate);
            EXPECT_EQ(file->BlockAlign(), row.blockAlign);
            if (row.tag == WAVE_TAG_MPEG) {
                EXPECT_EQ(file->Get32(WavFmtOffset::HeadBitRate), row.bitRate);
                EXPECT_EQ(file->Get16(WavFmtOffset::HeadLayer), row.layer);
            }
            EXPECT_EQ(file->DataLength, 1004);
            Bytes data(2000);
            data.resize(static_cast<size_t>(file->Read(data.data(), 2000)));
            EXPECT_EQ(data, flag == 0 ? Bytes(row.bytes.end() - 1004, row.bytes.end()) : Bytes{});
        }
    }
}

TEST(DafFile, CreatingWritesAZeroHeaderBeforeTheData) {
    TempDir dir;
    const std::string path = dir.File("new.daf");
    WriteBytes(path, Bytes(5000, 0x77));  // truncated by creation
    const Bytes data = WithFrame({}, 0, 0x01020304u, 1496);
    {
        int32_t error = -1;
        auto file = CreateWavFile(path.c_str(), "w", &error);
        ASSERT_EQ(error, 0);
        EXPECT_EQ(file->WriteHeader(), 0);
        EXPECT_EQ(file->Write(data.data(), 1000), 1000);
        EXPECT_EQ(file->Write(data.data() + 1000, 500), 500);
    }
    Bytes expected(256 + data.size(), 0);
    std::copy(data.begin(), data.end(), expected.begin() + 256);
    EXPECT_EQ(ReadBytes(path), expected);

    // Appending opens for reading only: nothing is written.
    int32_t error = -1;
    auto append = CreateWavFile(path.c_str(), "a", &error);
    ASSERT_EQ(append->ReadHeader(1), 0);
    EXPECT_EQ(append->Write(data.data(), 10), 0);
    EXPECT_EQ(ReadBytes(path), expected);
    // A header that cannot be written in full is reported, not passed over.
    TWavFileTypeDAF full("", "w", &error);
    EXPECT_EQ(full.Open("/dev/full", MMIO_CREATE | MMIO_READWRITE), 9);
}

}  // namespace
