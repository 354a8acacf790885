// Peers as oracles: sox and soxi read what the RIFF WAVE type writes and make WAV files it must
// read exactly; twolame and lame make MPEG streams whose format mpg123 describes.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "support/TempDir.h"
#include "wavfile/RiffBytes.h"
#include "wavfile/WavFileTypeWav.h"

using rifftest::Bytes;
using rifftest::Pattern;
using rifftest::ReadAll;
using rifftest::Slice;
using testsupport::GetLE32;
using testsupport::ReadBytes;
using testsupport::TempDir;
using testsupport::WriteBytes;

namespace {

// Runs a shell command; its standard output, or "<failed>" when it does not exit with 0.
std::string RunCommand(const std::string& command, const char* errors = " 2>/dev/null") {
    FILE* pipe = ::popen((command + errors).c_str(), "r");
    if (pipe == nullptr) {
        return "<failed>";
    }
    std::string out;
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) {
        out += buffer;
    }
    return ::pclose(pipe) == 0 ? out : "<failed>";
}

bool HaveTools(const char* names) {
    return RunCommand(std::string("for t in ") + names + "; do command -v $t || exit 1; done") !=
           "<failed>";
}

std::string Soxi(const std::string& option, const std::string& path) {
    std::string out = RunCommand("soxi " + option + " '" + path + "'");
    while (!out.empty() && out.back() == '\n') {
        out.pop_back();
    }
    return out;
}

// The audio as sox decodes it, in the file's own encoding.
Bytes SoxRaw(TempDir& dir, const std::string& path) {
    const std::string raw = dir.File("peer.raw");
    if (RunCommand("sox '" + path + "' -t raw '" + raw + "'") == "<failed>") {
        return {};
    }
    return ReadBytes(raw);
}

// Audio that survives sox's conversion to its internal 32-bit samples unchanged.
Bytes PeerSafeAudio(TWavFmt& format, size_t frames) {
    Bytes out;
    const size_t samples = frames * format.Channels();
    char name[32] = {};
    format.GetFormatName(name, nullptr, nullptr);
    if (std::string(name) == "FLOAT32") {
        for (size_t i = 0; i < samples; ++i) {
            const float value = static_cast<float>(static_cast<int>(i % 200) - 100) / 256.0f;
            uint32_t bits;
            std::memcpy(&bits, &value, 4);
            testsupport::PutLE32(out, bits);
        }
        return out;
    }
    return Pattern(frames * format.BlockAlign(), 11);
}

TEST(WavSoxPeer, SoxReadsWhatThisTypeWrites) {
    if (!HaveTools("sox soxi")) {
        GTEST_SKIP() << "sox not installed";
    }
    struct Case {
        const char* name;
        int channels;
        int rate;
        std::vector<size_t> frames;  // frames per write
        bool appendLast;             // the last piece is appended after reopening
    };
    const Case cases[] = {
        {"PCM8", 1, 8000, {333, 2}, false},  // odd first write
        {"PCM24", 2, 96000, {500}, false},
        {"PCM32", 2, 48000, {256, 256}, false},
        {"FLOAT32", 2, 44100, {700}, false},
        {"PCM24", 6, 48000, {480}, false},  // extensible
        {"FLOAT32", 8, 48000, {100}, false},
        {"PCM8", 1, 11025, {1001, 6}, true},  // appended after odd data
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " x" + std::to_string(c.channels));
        TempDir dir;
        const std::string path = dir.File("ours.wav");
        TWavFmt format;
        ASSERT_EQ(format.SetFormatByName(c.name, c.channels, c.rate), 0);
        size_t totalFrames = 0;
        for (size_t f : c.frames) {
            totalFrames += f;
        }
        const Bytes audio = PeerSafeAudio(format, totalFrames);
        const size_t appendFrom = c.appendLast ? c.frames.size() - 1 : c.frames.size();
        size_t at = 0;
        {
            int32_t error = -1;
            auto file = CreateWavFile(path.c_str(), "w", &error);
            ASSERT_EQ(error, 0);
            file->CopyFormatFrom(format.WaveFormat);
            ASSERT_EQ(file->WriteHeader(), 0);
            for (size_t i = 0; i < appendFrom; ++i) {
                const auto bytes = static_cast<int32_t>(c.frames[i] * format.BlockAlign());
                ASSERT_EQ(file->Write(audio.data() + at, bytes), bytes);
                at += static_cast<size_t>(bytes);
            }
        }
        if (c.appendLast) {
            int32_t error = -1;
            auto file = CreateWavFile(path.c_str(), "a", &error);
            ASSERT_EQ(error, 0);
            ASSERT_EQ(file->ReadHeader(1), 0);
            const auto bytes = static_cast<int32_t>(audio.size() - at);
            ASSERT_EQ(file->Write(audio.data() + at, bytes), bytes);
        }
        EXPECT_EQ(Soxi("-r", path), std::to_string(c.rate));
        EXPECT_EQ(Soxi("-c", path), std::to_string(c.channels));
        EXPECT_EQ(Soxi("-b", path), std::to_string(format.BitsPerSample()));
        EXPECT_EQ(Soxi("-s", path), std::to_string(totalFrames));
        EXPECT_EQ(SoxRaw(dir, path), audio);
    }
}

struct TopChunk {
    std::string id;
    Bytes data;
};

// The top-level chunks inside a RIFF WAVE file as sox wrote it.
std::vector<TopChunk> SplitChunks(const Bytes& file) {
    std::vector<TopChunk> chunks;
    size_t at = 12;
    while (at + 8 <= file.size()) {
        const uint32_t size = GetLE32(file, at + 4);
        const size_t end = std::min(file.size(), at + 8 + size);
        chunks.push_back({std::string(file.begin() + static_cast<std::ptrdiff_t>(at),
                                      file.begin() + static_cast<std::ptrdiff_t>(at + 4)),
                          Bytes(file.begin() + static_cast<std::ptrdiff_t>(at + 8),
                                file.begin() + static_cast<std::ptrdiff_t>(end))});
        at = at + 8 + size + (size & 1u);
    }
    return chunks;
}

// The same chunks with LIST chunks of odd length before and after the data.
Bytes WithListChunks(const std::vector<TopChunk>& chunks) {
    const Bytes list = {'I', 'N', 'F', 'O', 'I', 'C', 'M', 'T', 3, 0, 0, 0, 'a', 'b', 'c'};
    std::vector<rifftest::Chunk> out;
    for (const TopChunk& chunk : chunks) {
        if (chunk.id == "data") {
            out.push_back({"LIST", list});
            out.push_back({chunk.id, chunk.data});
            out.push_back({"LIST", list});
        } else {
            out.push_back({chunk.id, chunk.data});
        }
    }
    return rifftest::Riff(out);
}

TEST(WavSoxPeer, ReadsWhatSoxWrites) {
    if (!HaveTools("sox soxi")) {
        GTEST_SKIP() << "sox not installed";
    }
    struct Case {
        const char* options;
        int channels;
        int rate;
        int bits;
        uint16_t tag;
        const char* name;
    };
    const Case cases[] = {
        {"-b 8", 1, 8000, 8, 1, "PCM8"},
        {"-b 16", 2, 44100, 16, 1, "PCM16"},
        {"-b 24", 2, 48000, 24, 0xFFFE, "PCM24"},
        {"-b 32", 2, 48000, 32, 0xFFFE, "PCM32"},
        {"-e floating-point -b 32", 2, 44100, 32, 3, "FLOAT32"},
        {"-b 16", 6, 48000, 16, 0xFFFE, "PCM16"},
        {"-t wavpcm -b 24", 2, 48000, 24, 1, "PCM24"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.options) + " x" + std::to_string(c.channels));
        TempDir dir;
        const std::string made = dir.File("sox.wav");
        ASSERT_NE(
            RunCommand("sox -n -r " + std::to_string(c.rate) + " -c " + std::to_string(c.channels) +
                       " " + c.options + " '" + made + "' synth 0.05 sine 440 sine 1200 vol 0.7"),
            "<failed>");
        const Bytes audio = SoxRaw(dir, made);
        ASSERT_FALSE(audio.empty());
        const std::string listed = dir.File("listed.wav");
        WriteBytes(listed, WithListChunks(SplitChunks(ReadBytes(made))));

        for (const std::string& path : {made, listed}) {
            SCOPED_TRACE(path);
            int32_t error = -1;
            auto file = CreateWavFile(path.c_str(), "r", &error);
            ASSERT_EQ(error, 0);
            ASSERT_EQ(file->ReadHeader(0), 0);
            EXPECT_EQ(file->FormatTag(), c.tag);
            EXPECT_EQ(file->Channels(), c.channels);
            EXPECT_EQ(file->SamplesPerSec(), static_cast<uint32_t>(c.rate));
            EXPECT_EQ(file->BitsPerSample(), c.bits);
            EXPECT_EQ(file->SamplesPerFrame, 1u);
            char name[32] = {};
            int32_t channels = 0;
            int32_t rate = 0;
            file->GetFormatName(name, &channels, &rate);
            EXPECT_STREQ(name, c.name);
            EXPECT_EQ(file->GetDataLength(), static_cast<int32_t>(audio.size()));
            EXPECT_EQ(ReadAll(*file, 4096), audio);
        }

        // Appending to sox's file keeps its header and continues its audio.
        int32_t error = -1;
        auto file = CreateWavFile(made.c_str(), "a", &error);
        ASSERT_EQ(error, 0);
        ASSERT_EQ(file->ReadHeader(1), 0);
        const size_t block = file->BlockAlign();
        const Bytes more = Slice(audio, 0, audio.size() / block / 2 * block);
        ASSERT_EQ(file->Write(more.data(), static_cast<int32_t>(more.size())),
                  static_cast<int32_t>(more.size()));
        file.reset();
        Bytes both = audio;
        both.insert(both.end(), more.begin(), more.end());
        EXPECT_EQ(SoxRaw(dir, made), both);
        EXPECT_EQ(Soxi("-c", made), std::to_string(c.channels));
    }
}

// What mpg123 says of the first frame: "MPEG 1.0 L III cbr128 44100 j-s".
struct ToolView {
    std::string version;
    int layer = 0;
    int bitRate = 0;  // kbit/s
    int rate = 0;
    int channels = 0;
};

ToolView AskMpg123(const std::string& path) {
    const std::string out = RunCommand("mpg123 -t -n 1 -v '" + path + "'", " 2>&1");
    ToolView view;
    size_t at = out.find("\nMPEG ");  // the banner line also names MPEG
    if (at == std::string::npos) {
        return view;
    }
    ++at;
    std::istringstream line(out.substr(at, out.find('\n', at) - at));
    std::string mpeg, layerWord, layerRoman, rateMode, mode;
    line >> mpeg >> view.version >> layerWord >> layerRoman >> rateMode >> view.rate >> mode;
    view.layer = static_cast<int>(layerRoman.size());  // I, II, III
    view.bitRate = std::atoi(rateMode.c_str() + 3);
    view.channels = mode == "mono" ? 1 : 2;
    return view;
}

struct EncodeRow {
    const char* what;
    int inputRate;
    int inputChannels;
    const char* encoder;  // command with IN and OUT placeholders
    bool tagged;
};

std::string Substitute(std::string text, const std::string& key, const std::string& value) {
    for (size_t at; (at = text.find(key)) != std::string::npos;) {
        text.replace(at, key.size(), value);
    }
    return text;
}

TEST(MpegPeer, FormatRecordMatchesTheEncoder) {
    if (!HaveTools("sox twolame lame mpg123")) {
        GTEST_SKIP() << "sox, twolame, lame or mpg123 not installed";
    }
    const EncodeRow rows[] = {
        {"MPEG-1 layer II stereo", 48000, 2, "twolame --quiet -b 256 IN OUT", false},
        {"MPEG-2 layer II mono", 16000, 1, "twolame --quiet -m m -b 32 IN OUT", false},
        {"MPEG-1 layer III mono, no info frame", 32000, 1, "lame --quiet -t -m m -b 64 IN OUT",
         false},
        {"MPEG-2 layer III", 24000, 2, "lame --quiet -b 64 IN OUT", false},
        {"MPEG-1 layer III tagged", 44100, 2,
         "lame --quiet -b 192 --id3v2-only --tt Title --ta Artist IN OUT", true},
        {"MPEG-2 layer III tagged", 22050, 1,
         "lame --quiet -m m -b 48 --id3v2-only --tt Title IN OUT", true},
    };
    TempDir dir;
    for (const EncodeRow& row : rows) {
        SCOPED_TRACE(row.what);
        const std::string wav = dir.File("in.wav");
        const std::string out = dir.File("out.mpa");
        std::remove(out.c_str());
        RunCommand("sox -n -r " + std::to_string(row.inputRate) + " -c " +
                   std::to_string(row.inputChannels) + " -b 16 '" + wav + "' synth 0.5 sine 440");
        RunCommand(
            Substitute(Substitute(row.encoder, "IN", "'" + wav + "'"), "OUT", "'" + out + "'"));
        const std::vector<uint8_t> bytes = ReadBytes(out);
        ASSERT_GT(bytes.size(), 100u);
        ASSERT_EQ(bytes[0] == 'I' && bytes[1] == 'D' && bytes[2] == '3', row.tagged);

        const ToolView tool = AskMpg123(out);
        ASSERT_GT(tool.rate, 0) << "mpg123 did not describe the stream";

        int32_t error = -1;
        auto file = CreateWavFile(out.c_str(), "r", &error);
        ASSERT_EQ(error, 0);
        ASSERT_EQ(file->ReadHeader(0), 0);
        EXPECT_EQ(file->FormatTag(), WAVE_TAG_MPEG);
        EXPECT_EQ(file->SamplesPerSec(), static_cast<uint32_t>(tool.rate));
        EXPECT_EQ(file->Channels(), tool.channels);
        EXPECT_EQ(file->Get16(WavFmtOffset::HeadLayer), tool.layer == 2 ? 2 : 4);
        EXPECT_EQ(file->Get32(WavFmtOffset::HeadBitRate),
                  static_cast<uint32_t>(tool.bitRate) * 1000);
        EXPECT_EQ(tool.version, tool.rate >= 32000 ? "1.0" : "2.0");

        // The data is everything from the first frame on, handed out unchanged.
        size_t start = 0;
        if (row.tagged) {
            start = 10 + ((bytes[6] & 0x7F) << 21 | (bytes[7] & 0x7F) << 14 |
                          (bytes[8] & 0x7F) << 7 | (bytes[9] & 0x7F));
        }
        EXPECT_EQ(file->DataLength, static_cast<int32_t>(bytes.size() - start));
        std::vector<uint8_t> data(bytes.size());
        std::vector<uint8_t> all;
        for (int32_t got; (got = file->Read(data.data(), 4099)) > 0;) {
            all.insert(all.end(), data.begin(), data.begin() + got);
        }
        EXPECT_TRUE(all == std::vector<uint8_t>(bytes.begin() + start, bytes.end()));
    }
}

}  // namespace
