// sox as a real peer: files this type writes must be read right by sox and soxi, and WAV files
// made by sox must be read here with their format and exactly their audio bytes.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
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
std::string RunCommand(const std::string& command) {
    FILE* pipe = ::popen((command + " 2>/dev/null").c_str(), "r");
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

bool HaveSox() {
    return RunCommand("command -v sox && command -v soxi") != "<failed>";
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
    if (!HaveSox()) {
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
        {"PCM16", 2, 44100, {1000}, false},
        {"PCM8", 1, 8000, {333, 2}, false},  // odd first write
        {"PCM24", 2, 96000, {500}, false},
        {"PCM32", 2, 48000, {256, 256}, false},
        {"FLOAT32", 2, 44100, {700}, false},
        {"PCM24", 6, 48000, {480}, false},  // extensible
        {"FLOAT32", 8, 48000, {100}, false},
        {"PCM8", 1, 11025, {1001, 6}, true},  // appended after odd data
        {"PCM16", 2, 44100, {4410, 4410}, true},
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
    if (!HaveSox()) {
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
        {"-b 24", 4, 96000, 24, 0xFFFE, "PCM24"},
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

}  // namespace
