// The RIFF WAVE type on files built byte by byte, and peers as oracles: sox and soxi read what
// it writes and make WAV files it must read exactly; twolame and lame make MPEG streams whose
// format mpg123 describes.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <numeric>
#include <sstream>
#include <string>
#include <vector>

#include "support/FillingDisk.h"
#include "support/Noise.h"
#include "support/TempDir.h"
#include "wavfile/WavFileTypeWav.h"

namespace {

using Bytes = std::vector<uint8_t>;
using testsupport::FillingDisk;
using testsupport::NoiseBytes;
using testsupport::ReadBytes;
using testsupport::TempDir;
using testsupport::WriteBytes;

Bytes LE32(uint32_t value) {
    return {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
            static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
}

struct Chunk {
    std::string id;
    Bytes data;
    uint32_t sizeField = UINT32_MAX;  // UINT32_MAX: the real size
};

void AppendChunk(Bytes& out, const Chunk& chunk) {
    out.insert(out.end(), chunk.id.begin(), chunk.id.end());
    const Bytes size = LE32(
        chunk.sizeField != UINT32_MAX ? chunk.sizeField : static_cast<uint32_t>(chunk.data.size()));
    out.insert(out.end(), size.begin(), size.end());
    out.insert(out.end(), chunk.data.begin(), chunk.data.end());
    out.resize(out.size() + chunk.data.size() % 2, 0);
}

// "RIFF", size, form type and the chunks, each padded to an even length.
Bytes Riff(const std::vector<Chunk>& chunks, const std::string& form = "WAVE") {
    Bytes inner(form.begin(), form.end());
    for (const Chunk& chunk : chunks) {
        AppendChunk(inner, chunk);
    }
    Bytes out;
    AppendChunk(out, {"RIFF", inner});
    return out;
}

Bytes Slice(const Bytes& bytes, size_t from, size_t count) {
    return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(from),
                 bytes.begin() + static_cast<std::ptrdiff_t>(from + count));
}

// The rest of the audio, read in blocks of `block` bytes.
Bytes ReadAll(TWavFileBase& file, int32_t block) {
    Bytes out(static_cast<size_t>(block));
    size_t at = 0;
    for (int32_t got; (got = file.Read(out.data() + at, block)) > 0;) {
        at += static_cast<size_t>(got);
        out.resize(at + static_cast<size_t>(block));
    }
    out.resize(at);
    return out;
}

using FormatSetter = std::function<void(TWavFmt&)>;

const FormatSetter kPcm16Stereo = [](TWavFmt& f) { f.SetFormatByName("PCM16", 2, 44100); };
const FormatSetter kPcm8Mono = [](TWavFmt& f) { f.SetFormatByName("PCM8", 1, 8000); };
const FormatSetter kMpeg = [](TWavFmt& f) { f.SetFormat("MP3", 2, 44100, 128000); };

// What this type writes: RIFF, a 40-byte "fmt ", a fact chunk (the sample count) for tags
// other than 1 and 3, the data and one pad byte when the data is odd.
Bytes WrittenLayout(const FormatSetter& setFormat, const Bytes& audio) {
    TWavFmt format;
    setFormat(format);
    std::vector<Chunk> chunks = {{"fmt ", Bytes(format.WaveFormat, format.WaveFormat + 40)}};
    if (format.FormatTag() != 1 && format.FormatTag() != 3) {
        chunks.push_back({"fact", LE32(static_cast<uint32_t>(audio.size() / format.BlockAlign() *
                                                             format.SamplesPerFrame))});
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
        const Bytes audio = NoiseBytes(at + c.atLimit, 5);
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
        char text[64];
        EXPECT_STREQ(TWavFileBase::GetErrorText(closed, text), "TWavFile - Write failed");
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
        ASSERT_EQ(file->Write(NoiseBytes(417, 1).data(), 417), 417);
        ASSERT_EQ(file->Close(), 0);
        std::ifstream in(path, std::ios::binary);
        Bytes head(80);
        in.read(reinterpret_cast<char*>(head.data()), 80);
        EXPECT_EQ(Slice(head, 4, 4), LE32(72 + dataBytes + 417 + 1));
        EXPECT_EQ(Slice(head, 76, 4), LE32(dataBytes + 417));
        EXPECT_EQ(Slice(head, 68, 4), LE32(factCount)) << framesBefore;
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
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::string path = dir.File("out.wav");
        const size_t written = std::accumulate(c.pieces.begin(), c.pieces.end(), size_t{0});
        const size_t total = std::accumulate(c.appended.begin(), c.appended.end(), written);
        const Bytes audio = NoiseBytes(total, 7);

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
    const Bytes audio = NoiseBytes(1000, 9);
    Bytes longFormat = NoiseBytes(50, 4);
    std::copy(fmt.begin(), fmt.end(), longFormat.begin());
    const Bytes mpegFmt = Slice(WrittenLayout(kMpeg, {}), 20, 40);
    Bytes mpegZeroAverage = mpegFmt;
    std::fill(mpegZeroAverage.begin() + 8, mpegZeroAverage.begin() + 12, 0);
    const Bytes list = {'I', 'N', 'F', 'O', 'I', 'C', 'M', 'T', 1, 0, 0, 0, 'x', 0};
    const Bytes plain = Riff({{"fmt ", fmt}, {"data", Slice(audio, 0, 400)}});
    Bytes trailingByte = plain;
    trailingByte.push_back(0);
    Bytes dataOutside = Riff({{"fmt ", fmt}});
    AppendChunk(dataOutside, {"data", NoiseBytes(8, 1)});
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
         Riff({{"fmt ", fmt}, {"data", NoiseBytes(3, 1)}}),
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
         Riff({{"junk", NoiseBytes(3, 2)},
               {"fmt ", fmt},
               {"LIST", NoiseBytes(5, 5)},
               {"data", audio},
               {"LIST", NoiseBytes(7, 6)}}),
         0, 0, audio},
        {"partial last block", Riff({{"fmt ", fmt}, {"data", NoiseBytes(1001, 9)}}), 0, 0, audio},
        {"size beyond the file", Riff({{"fmt ", fmt}, {"data", NoiseBytes(400, 9), 100000}}), 0, 0,
         Slice(audio, 0, 400)},
        {"size beyond 2 GiB", Riff({{"fmt ", fmt}, {"data", NoiseBytes(400, 9), 0xFFFFFFFFu}}), 0, 0,
         Slice(audio, 0, 400)},
        {"mpeg, zero average", Riff({{"fmt ", mpegZeroAverage}, {"data", NoiseBytes(835, 9)}}), 0, 0,
         NoiseBytes(834, 9)},
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
    const Bytes frames = NoiseBytes(834 + 417, 5);
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

// Runs a shell command; its standard output, or "<failed>" when it does not exit with 0.
std::string Shell(const std::string& command, const char* errors = " 2>/dev/null") {
    FILE* pipe = ::popen((command + errors).c_str(), "r");
    if (pipe == nullptr) {
        return "<failed>";
    }
    std::string out;
    char buffer[256];
    for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
        out.append(buffer, got);
    }
    return ::pclose(pipe) == 0 ? out : "<failed>";
}

// Rate, channels, bits and frames as soxi reads them, one a line.
std::string Soxi(const std::string& path) {
    return Shell("for o in r c b s; do soxi -$o '" + path + "'; done");
}

// The audio as sox decodes it, in the file's own encoding.
Bytes SoxRaw(TempDir& dir, const std::string& path) {
    const std::string raw = dir.File("peer.raw");
    return Shell("sox '" + path + "' -t raw '" + raw + "'") == "<failed>" ? Bytes{}
                                                                          : ReadBytes(raw);
}

// sox makes a file in each encoding: this type reads sox's audio from it and appends to it as
// sox reads it; a new file of that format by name holds what sox and soxi read back.
TEST(WavSoxPeer, ReadsAppendsAndWritesWhatSoxReads) {
    struct Case {
        const char* options;
        int channels, rate, bits;
        uint16_t tag;
        const char* name;
    };
    const Case cases[] = {
        {"-b 8", 1, 8000, 8, 1, "PCM8"},
        {"-b 16", 2, 44100, 16, 1, "PCM16"},
        {"-b 32", 2, 48000, 32, 0xFFFE, "PCM32"},
        {"-e floating-point -b 32", 8, 44100, 32, 3, "FLOAT32"},
        {"-b 24", 6, 48000, 24, 0xFFFE, "PCM24"},
        {"-t wavpcm -b 24", 2, 48000, 24, 1, "PCM24"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.options) + " x" + std::to_string(c.channels));
        TempDir dir;
        const std::string made = dir.File("sox.wav");
        // 0.0501 s: an odd frame count, so 8-bit mono data is odd and gets a pad byte
        ASSERT_NE(
            Shell("sox -n -r " + std::to_string(c.rate) + " -c " + std::to_string(c.channels) +
                  " " + c.options + " '" + made + "' synth 0.0501 sine 440 sine 1200 vol 0.7"),
            "<failed>");
        const Bytes audio = SoxRaw(dir, made);
        ASSERT_FALSE(audio.empty());
        const std::string ours = dir.File("ours.wav");
        {
            auto file = Create(made, "r");
            ASSERT_EQ(file->ReadHeader(0), 0);
            EXPECT_EQ(file->FormatTag(), c.tag);
            EXPECT_EQ(file->Channels(), c.channels);
            EXPECT_EQ(file->SamplesPerSec(), static_cast<uint32_t>(c.rate));
            EXPECT_EQ(file->BitsPerSample(), c.bits);
            char name[32] = {};
            file->GetFormatName(name, nullptr, nullptr);
            EXPECT_STREQ(name, c.name);
            EXPECT_EQ(ReadAll(*file, 4096), audio);
            int32_t error = -1;
            auto copy = CreateWavFile(ours.c_str(), "w", &error);
            ASSERT_EQ(copy->SetFormatByName(c.name, c.channels, c.rate), 0);
            ASSERT_EQ(copy->WriteHeader(), 0);
            const auto size = static_cast<int32_t>(audio.size());
            ASSERT_EQ(copy->Write(audio.data(), size), size);
        }
        const size_t frames = audio.size() / (c.channels * c.bits / 8);
        EXPECT_EQ(Soxi(ours), std::to_string(c.rate) + "\n" + std::to_string(c.channels) + "\n" +
                                  std::to_string(c.bits) + "\n" + std::to_string(frames) + "\n");
        EXPECT_EQ(SoxRaw(dir, ours), audio);
        // Appending keeps sox's header and continues its audio.
        auto file = Create(made, "a");
        ASSERT_EQ(file->ReadHeader(1), 0);
        const auto more =
            static_cast<int32_t>(audio.size() / file->BlockAlign() / 2 * file->BlockAlign());
        ASSERT_EQ(file->Write(audio.data(), more), more);
        file.reset();
        Bytes both = audio;
        both.insert(both.end(), audio.begin(), audio.begin() + more);
        EXPECT_EQ(SoxRaw(dir, made), both);
    }
}

TEST(MpegPeer, FormatRecordMatchesTheEncoder) {
    struct Row {
        int rate, channels;
        const char* encoder;  // the input and output file names follow
        bool tagged;
    };
    const Row rows[] = {
        {48000, 2, "twolame --quiet -b 256", false},
        {16000, 1, "twolame --quiet -m m -b 32", false},  // MPEG-2
        {32000, 1, "lame --quiet -t -m m -b 64", false},  // no info frame
        {44100, 2, "lame --quiet -b 192 --id3v2-only --tt Title --ta Artist", true},
        {22050, 1, "lame --quiet -m m -b 48 --id3v2-only --tt Title", true},
    };
    TempDir dir;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.encoder);
        const std::string wav = dir.File("in.wav");
        const std::string out = dir.File(std::to_string(&row - rows) + ".mpa");
        Shell("sox -n -r " + std::to_string(row.rate) + " -c " + std::to_string(row.channels) +
              " -b 16 '" + wav + "' synth 0.5 sine 440");
        Shell(std::string(row.encoder) + " '" + wav + "' '" + out + "'");
        const Bytes bytes = ReadBytes(out);
        ASSERT_GT(bytes.size(), 100u);
        ASSERT_EQ(bytes[0] == 'I' && bytes[1] == 'D' && bytes[2] == '3', row.tagged);

        // mpg123 on the first frame: "MPEG 1.0 L III cbr128 44100 j-s".
        const std::string said = Shell("mpg123 -t -n 1 -v '" + out + "'", " 2>&1");
        const size_t at = said.find("\nMPEG ");
        ASSERT_NE(at, std::string::npos) << said;
        std::istringstream line(said.substr(at + 1, said.find('\n', at + 1) - at - 1));
        std::string mpeg, version, layerWord, layer, rateMode, mode;
        int rate = 0;
        line >> mpeg >> version >> layerWord >> layer >> rateMode >> rate >> mode;

        auto file = Create(out, "r");
        ASSERT_EQ(file->ReadHeader(0), 0);
        EXPECT_EQ(file->FormatTag(), WAVE_TAG_MPEG);
        EXPECT_EQ(file->SamplesPerSec(), static_cast<uint32_t>(rate));
        EXPECT_EQ(file->Channels(), mode == "mono" ? 1 : 2);
        EXPECT_EQ(file->Get16(WavFmtOffset::HeadLayer), layer == "II" ? 2 : 4);
        EXPECT_EQ(file->Get32(WavFmtOffset::HeadBitRate),
                  static_cast<uint32_t>(std::atoi(rateMode.c_str() + 3)) * 1000);
        EXPECT_EQ(version, rate >= 32000 ? "1.0" : "2.0");

        // The data is everything from the first frame on, handed out unchanged.
        const size_t start = !row.tagged ? 0
                                         : 10 + ((bytes[6] & 0x7F) << 21 | (bytes[7] & 0x7F) << 14 |
                                                 (bytes[8] & 0x7F) << 7 | (bytes[9] & 0x7F));
        EXPECT_EQ(file->DataLength, static_cast<int32_t>(bytes.size() - start));
        EXPECT_TRUE(ReadAll(*file, 4099) == Bytes(bytes.begin() + start, bytes.end()));
    }
}

}  // namespace
