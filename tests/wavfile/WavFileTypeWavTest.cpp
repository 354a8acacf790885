#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <numeric>
#include <string>
#include <vector>

#include "support/FillingDisk.h"
#include "support/TempDir.h"
#include "wavfile/RiffBytes.h"
#include "wavfile/WavFileTypeWav.h"

using rifftest::Bytes;
using rifftest::Chunk;
using rifftest::Pattern;
using rifftest::ReadAll;
using rifftest::Riff;
using rifftest::Slice;
using testsupport::FillingDisk;
using testsupport::GetLE32;
using testsupport::ReadBytes;
using testsupport::TempDir;
using testsupport::WriteBytes;

namespace {

using FormatSetter = std::function<void(TWavFmt&)>;

const FormatSetter kPcm16Stereo = [](TWavFmt& f) { f.SetFormatByName("PCM16", 2, 44100); };
const FormatSetter kPcm8Mono = [](TWavFmt& f) { f.SetFormatByName("PCM8", 1, 8000); };
const FormatSetter kMpeg = [](TWavFmt& f) { f.SetFormat("MP3", 2, 44100, 128000); };
const FormatSetter kPcm24Six = [](TWavFmt& f) { f.SetFormatByName("PCM24", 6, 48000); };
const FormatSetter kFloat = [](TWavFmt& f) { f.SetFormatByName("FLOAT32", 2, 48000); };

// What this type writes: RIFF, a 40-byte "fmt ", a fact chunk (the sample count) for tags
// other than 1 and 3, the data and one pad byte when the data is odd.
Bytes WrittenLayout(const FormatSetter& setFormat, const Bytes& audio) {
    TWavFmt format;
    setFormat(format);
    std::vector<Chunk> chunks = {{"fmt ", Bytes(format.WaveFormat, format.WaveFormat + 40)}};
    if (format.FormatTag() != 1 && format.FormatTag() != 3) {
        Bytes count;
        testsupport::PutLE32(count, static_cast<uint32_t>(audio.size() / format.BlockAlign() *
                                                          format.SamplesPerFrame));
        chunks.push_back({"fact", count});
    }
    chunks.push_back({"data", audio});
    return Riff(chunks);
}

std::unique_ptr<TWavFileBase> Create(const std::string& path, const char* mode) {
    int32_t error = -1;
    auto file = CreateWavFile(path.c_str(), mode, &error);
    EXPECT_EQ(error, 0) << path << " " << mode;
    return file;
}

// A new file with audio written in the given pieces, still open. The first write leaves a
// complete file on disk.
std::unique_ptr<TWavFileBase> StartNew(const std::string& path, const FormatSetter& setFormat,
                                       const Bytes& audio, const std::vector<size_t>& pieces) {
    auto file = Create(path, "w");
    setFormat(*file);
    EXPECT_EQ(file->WriteHeader(), 0);
    size_t at = 0;
    for (size_t piece : pieces) {
        EXPECT_EQ(file->Write(audio.data() + at, static_cast<int32_t>(piece)),
                  static_cast<int32_t>(piece));
        if (at == 0) {
            EXPECT_EQ(ReadBytes(path), WrittenLayout(setFormat, Slice(audio, 0, piece)));
        }
        at += piece;
    }
    return file;
}

// Header bytes as WriteHeader leaves them: the RIFF size 0 and the data size 40 until the
// first write finishes the file.
Bytes Unfinished(const FormatSetter& setFormat, const Bytes& audio) {
    Bytes bytes = WrittenLayout(setFormat, audio);
    const size_t dataSize = bytes.size() - audio.size() - 4;
    std::fill(bytes.begin() + 4, bytes.begin() + 8, 0);
    bytes[dataSize] = 40;
    std::fill(bytes.begin() + static_cast<std::ptrdiff_t>(dataSize) + 1,
              bytes.begin() + static_cast<std::ptrdiff_t>(dataSize) + 4, 0);
    return bytes;
}

// A disk that fills during the first write, a later write or the header update at Close: the
// call that meets it reports it, later calls do not claim success, and the file keeps what was
// on disk before without a size that claims bytes it lacks.
TEST(WavFileTypeWav, AFullDiskIsReportedAndDamagesNothing) {
    struct Case {
        const char* name;
        FormatSetter format;
        std::vector<size_t> before;  // writes done before the disk fills
        size_t atLimit;              // the write made after it
        uint64_t limit;              // 0: the file as it is then
        int32_t written;             // what that write returns
        int32_t writtenLater;        // ... and a small write after it
    };
    const Case cases[] = {
        {"first write", kPcm16Stereo, {}, 70000, 68 * 1024, 0, 0},
        {"later write", kPcm16Stereo, {4000}, 70000, 4068 + 1000, 0, 0},
        {"header update", kMpeg, {4170}, 834, 0, 834, 4},  // both only buffered
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::string path = dir.File("full.wav");
        const size_t at = std::accumulate(c.before.begin(), c.before.end(), size_t{0});
        const Bytes audio = Pattern(at + c.atLimit, 5);
        auto file = StartNew(path, c.format, audio, c.before);
        const Bytes onDisk = ReadBytes(path);
        int32_t written = -1;
        int32_t writtenLater = -1;
        int32_t closed = -1;
        {
            FillingDisk disk(c.limit != 0 ? c.limit : onDisk.size());
            written = file->Write(audio.data() + at, static_cast<int32_t>(c.atLimit));
            writtenLater = file->Write(audio.data(), 4);
            closed = file->Close();
        }
        EXPECT_EQ(written, static_cast<int32_t>(c.written));
        EXPECT_EQ(writtenLater, c.writtenLater);
        EXPECT_EQ(closed, WAVFILE_WRITE_FAILED);
        EXPECT_EQ(file->Close(), WAVFILE_WRITE_FAILED);
        const Bytes after = ReadBytes(path);
        if (c.before.empty()) {
            // Nothing was on disk: what reached it is the start of the unfinished file.
            const Bytes unfinished = Unfinished(c.format, audio);
            ASSERT_LE(after.size(), unfinished.size());
            EXPECT_EQ(after, Slice(unfinished, 0, after.size()));
        } else {
            ASSERT_GE(after.size(), onDisk.size());
            EXPECT_EQ(Slice(after, 0, onDisk.size()), onDisk);
        }
    }
}

// The fact count is an unsigned 32-bit field: more than 2^31 MPEG samples keep their true
// count, and only a count beyond 2^32 - 1 is cut. The audio already there is sparse.
TEST(WavFileTypeWav, FactCountUsesAllThirtyTwoBits) {
    const std::pair<uint32_t, uint32_t> cases[] = {
        {2000000, 2000001u * 1152u},  // 14.5 hours
        {5000000, UINT32_MAX},        // 5,760,001,152 samples: cut to the largest count
    };
    for (auto [framesBefore, factCount] : cases) {
        TempDir dir;
        const std::string path = dir.File("long.wav");
        const uint32_t dataBytes = framesBefore * 417u;
        const Bytes header = Riff({{"fmt ", Slice(WrittenLayout(kMpeg, {}), 20, 40)},
                                   {"fact", Bytes(4)},
                                   {"data", {}, dataBytes}});
        WriteBytes(path, header);
        std::filesystem::resize_file(path, header.size() + dataBytes);

        auto file = Create(path, "a");
        ASSERT_EQ(file->ReadHeader(1), 0);
        ASSERT_EQ(file->Write(Pattern(417, 1).data(), 417), 417);
        ASSERT_EQ(file->Close(), 0);
        std::ifstream in(path, std::ios::binary);
        Bytes head(80);
        in.read(reinterpret_cast<char*>(head.data()), 80);
        EXPECT_EQ(GetLE32(head, 4), 72 + dataBytes + 417 + 1);
        EXPECT_EQ(GetLE32(head, 76), dataBytes + 417);
        EXPECT_EQ(GetLE32(head, 68), factCount) << framesBefore;
    }
}

// New files written in pieces and then appended to: the file byte for byte after the first
// write and at the end, and the whole blocks of the audio read back.
TEST(WavFileTypeWav, WrittenAndAppendedFilesHaveTheExactLayout) {
    struct Case {
        const char* name;
        FormatSetter format;
        std::vector<size_t> pieces, appended;
        size_t fileLength;
    };
    const Case cases[] = {
        {"many blocks", kPcm16Stereo, {65536, 65536, 1000}, {400, 4}, 68 + 132476},
        {"odd pieces, odd total", kPcm8Mono, {1, 1, 1, 70002}, {}, 68 + 70005 + 1},
        {"odd data appended to", kPcm8Mono, {1001}, {2}, 68 + 1003 + 1},
        {"shorter than a block", kPcm16Stereo, {2, 4000, 2}, {}, 68 + 4004},
        {"appended to data shorter than a block", kPcm16Stereo, {2}, {6}, 68 + 8},
        {"appended to no data", kPcm16Stereo, {}, {8}, 68 + 8},
        {"mpeg, shorter than a frame", kMpeg, {100, 734}, {}, 80 + 834},
        {"mpeg, fact count grows", kMpeg, {4170}, {417, 417}, 80 + 5004},
        {"mpeg, nothing written", kMpeg, {}, {}, 80},
        {"extensible six channels", kPcm24Six, {18 * 100}, {}, 80 + 1800},
        {"float", kFloat, {800}, {}, 68 + 800},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::string path = dir.File("out.wav");
        const size_t written = std::accumulate(c.pieces.begin(), c.pieces.end(), size_t{0});
        const size_t total = std::accumulate(c.appended.begin(), c.appended.end(), written);
        const Bytes audio = Pattern(total, 7);

        auto file = StartNew(path, c.format, audio, c.pieces);
        EXPECT_EQ(file->Close(), 0);
        size_t at = written;
        file = Create(path, "a");
        ASSERT_EQ(file->ReadHeader(1), 0);  // an appender that writes nothing changes nothing
        for (size_t piece : c.appended) {
            ASSERT_EQ(file->Write(audio.data() + at, static_cast<int32_t>(piece)),
                      static_cast<int32_t>(piece));
            at += piece;
        }
        file.reset();
        const Bytes onDisk = ReadBytes(path);
        EXPECT_EQ(onDisk.size(), c.fileLength);
        EXPECT_EQ(onDisk, WrittenLayout(c.format, audio));

        TWavFmt format;
        c.format(format);
        const size_t whole = total / format.BlockAlign() * format.BlockAlign();
        auto reader = Create(path, "r");
        ASSERT_EQ(reader->ReadHeader(0), whole == 0 ? WAVFILE_NO_DATA_CHUNK : 0);
        EXPECT_EQ(0, std::memcmp(reader->WaveFormat, format.WaveFormat, 40));
        EXPECT_EQ(reader->SamplesPerFrame, format.SamplesPerFrame);
        EXPECT_EQ(ReadAll(*reader, 4096), Slice(audio, 0, whole));
    }
}

// Files from elsewhere, read or appended to: chunks in odd places, formats of odd sizes, sizes
// that lie, damage. A refused file is closed and, like every file here, left unchanged.
TEST(WavFileTypeWav, ForeignAndDamagedFiles) {
    const Bytes fmt = Slice(WrittenLayout(kPcm16Stereo, {}), 20, 16);  // the 16-byte PCM record
    const Bytes audio = Pattern(1000, 9);
    Bytes longFormat = Pattern(50, 4);
    std::copy(fmt.begin(), fmt.end(), longFormat.begin());
    const Bytes mpegFmt = Slice(WrittenLayout(kMpeg, {}), 20, 40);
    Bytes mpegZeroAverage = mpegFmt;
    std::fill(mpegZeroAverage.begin() + 8, mpegZeroAverage.begin() + 12, 0);
    const Bytes list = {'I', 'N', 'F', 'O', 'I', 'C', 'M', 'T', 1, 0, 0, 0, 'x', 0};
    const Bytes plain = Riff({{"fmt ", fmt}, {"data", Slice(audio, 0, 400)}});
    Bytes trailingByte = plain;
    trailingByte.push_back(0);
    Bytes dataOutside = Riff({{"fmt ", fmt}});
    rifftest::AppendChunk(dataOutside, {"data", Pattern(8, 1)});
    struct Case {
        const char* name;
        Bytes bytes;
        int32_t flag;  // 1: opened for appending
        int32_t result;
        Bytes expectAudio;
    };
    const Case cases[] = {
        {"empty file", {}, 0, WAVFILE_NOT_WAVE, {}},
        {"other form", Riff({{"fmt ", fmt}, {"data", audio}}, "AVI "), 0, WAVFILE_NOT_WAVE, {}},
        {"no fmt", Riff({{"data", audio}}), 0, WAVFILE_CORRUPT, {}},
        {"fmt cut short", Slice(plain, 0, 30), 0, WAVFILE_NO_FORMAT_CHUNK, {}},
        {"no whole block",
         Riff({{"fmt ", fmt}, {"data", Pattern(3, 1)}}),
         0,
         WAVFILE_NO_DATA_CHUNK,
         {}},
        {"data chunk outside the form", dataOutside, 0, WAVFILE_NO_DATA_CHUNK, {}},
        {"append: LIST after data",
         Riff({{"fmt ", fmt}, {"data", audio}, {"LIST", list}}),
         1,
         WAVFILE_APPEND_REFUSED,
         {}},
        {"append: byte after the form", trailingByte, 1, WAVFILE_APPEND_REFUSED, {}},
        {"50-byte fmt", Riff({{"fmt ", longFormat}, {"data", audio}}), 0, 0, audio},
        {"chunks all around",
         Riff({{"junk", Pattern(3, 2)},
               {"fmt ", fmt},
               {"LIST", Pattern(5, 5)},
               {"data", audio},
               {"LIST", Pattern(7, 6)}}),
         0, 0, audio},
        {"partial last block", Riff({{"fmt ", fmt}, {"data", Pattern(1001, 9)}}), 0, 0, audio},
        {"size beyond the file", Riff({{"fmt ", fmt}, {"data", Pattern(400, 9), 100000}}), 0, 0,
         Slice(audio, 0, 400)},
        {"size beyond 2 GiB", Riff({{"fmt ", fmt}, {"data", Pattern(400, 9), 0xFFFFFFFFu}}), 0, 0,
         Slice(audio, 0, 400)},
        {"mpeg, zero average", Riff({{"fmt ", mpegZeroAverage}, {"data", Pattern(835, 9)}}), 0, 0,
         Pattern(834, 9)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::string path = dir.File("odd.wav");
        WriteBytes(path, c.bytes);
        auto file = Create(path, c.flag != 0 ? "a" : "r");
        EXPECT_EQ(file->ReadHeader(c.flag), c.result);
        EXPECT_EQ(ReadAll(*file, 300), c.expectAudio);
        if (c.result != 0) {  // closed: nothing reaches the file
            EXPECT_EQ(file->Write("abcd", 4), 0);
            EXPECT_EQ(file->Close(), 0);
        }
        file.reset();
        EXPECT_EQ(ReadBytes(path), c.bytes);
    }
    // Appending puts a data size that claims too much right, and leaves a fact chunk too small
    // for the count alone rather than overflowing into the next chunk.
    const Bytes frames = Pattern(834 + 417, 5);
    const std::pair<Bytes, Bytes> appended[] = {
        {Riff({{"fmt ", fmt}, {"data", Slice(frames, 0, 834), 100000}}),
         Riff({{"fmt ", fmt}, {"data", frames}})},
        {Riff({{"fmt ", mpegFmt}, {"fact", {}}, {"data", Slice(frames, 0, 834)}}),
         Riff({{"fmt ", mpegFmt}, {"fact", {}}, {"data", frames}})},
    };
    for (const auto& [before, after] : appended) {
        TempDir dir;
        const std::string path = dir.File("f.wav");
        WriteBytes(path, before);
        auto file = Create(path, "a");
        ASSERT_EQ(file->ReadHeader(1), 0);
        ASSERT_EQ(file->Write(frames.data() + 834, 417), 417);
        file.reset();
        EXPECT_EQ(ReadBytes(path), after);
    }
}

}  // namespace
