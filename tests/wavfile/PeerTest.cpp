// Peers as oracles: sox and soxi read what the RIFF WAVE type writes and make WAV files it must
// read exactly; twolame and lame make MPEG streams whose format mpg123 describes.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "support/TempDir.h"
#include "wavfile/RiffBytes.h"
#include "wavfile/WavFileTypeWav.h"

using rifftest::Bytes;
using rifftest::ReadAll;
using testsupport::ReadBytes;
using testsupport::TempDir;

namespace {

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

bool Have(const char* tools) {
    return Shell(std::string("for t in ") + tools + "; do command -v $t || exit 1; done") !=
           "<failed>";
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

std::unique_ptr<TWavFileBase> Open(const std::string& path, const char* mode, int32_t flag) {
    int32_t error = -1;
    auto file = CreateWavFile(path.c_str(), mode, &error);
    EXPECT_EQ(error, 0);
    EXPECT_EQ(flag < 0 ? file->WriteHeader() : file->ReadHeader(flag), 0);
    return file;
}

// sox makes a file in each encoding: this type reads sox's audio from it and appends to it as
// sox reads it; a new file of that format by name holds what sox and soxi read back.
TEST(WavSoxPeer, ReadsAppendsAndWritesWhatSoxReads) {
    if (!Have("sox soxi")) {
        GTEST_SKIP() << "sox not installed";
    }
    struct Case {
        const char* options;
        int channels, rate, bits;
        uint16_t tag;
        const char* name;
    };
    const Case cases[] = {
        {"-b 8", 1, 8000, 8, 1, "PCM8"},
        {"-b 16", 2, 44100, 16, 1, "PCM16"},
        {"-b 24", 2, 96000, 24, 0xFFFE, "PCM24"},
        {"-b 32", 2, 48000, 32, 0xFFFE, "PCM32"},
        {"-e floating-point -b 32", 8, 44100, 32, 3, "FLOAT32"},
        {"-e floating-point -b 32", 2, 44100, 32, 3, "FLOAT32"},
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
            auto file = Open(made, "r", 0);
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
        auto file = Open(made, "a", 1);
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
    if (!Have("sox twolame lame mpg123")) {
        GTEST_SKIP() << "sox, twolame, lame or mpg123 not installed";
    }
    struct Row {
        int rate, channels;
        const char* encoder;  // the input and output file names follow
        bool tagged;
    };
    const Row rows[] = {
        {48000, 2, "twolame --quiet -b 256", false},
        {16000, 1, "twolame --quiet -m m -b 32", false},  // MPEG-2
        {32000, 1, "lame --quiet -t -m m -b 64", false},  // no info frame
        {24000, 2, "lame --quiet -b 64", false},
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

        auto file = Open(out, "r", 0);
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
