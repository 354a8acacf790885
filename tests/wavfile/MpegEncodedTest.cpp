// Real streams made here with twolame and lame: the format record must describe them as
// mpg123 reports them (version, layer, bit rate, sample rate, channels).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "support/TempDir.h"
#include "wavfile/WavFileBase.h"

namespace {

using testsupport::ReadBytes;
using testsupport::TempDir;

std::string RunCommand(const std::string& command) {
    std::string output;
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) {
        return output;
    }
    char chunk[512];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) {
        output.append(chunk, got);
    }
    pclose(pipe);
    return output;
}

bool HaveTool(const char* name) {
    return RunCommand(std::string("command -v ") + name + " >/dev/null && echo yes") == "yes\n";
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
    const std::string out = RunCommand("mpg123 -t -n 1 -v '" + path + "'");
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

TEST(MpegEncoded, FormatRecordMatchesTheEncoder) {
    for (const char* tool : {"sox", "twolame", "lame", "mpg123"}) {
        if (!HaveTool(tool)) {
            GTEST_SKIP() << tool << " is not installed";
        }
    }
    const EncodeRow rows[] = {
        {"MPEG-1 layer II stereo", 48000, 2, "twolame --quiet -b 256 IN OUT", false},
        {"MPEG-1 layer II mono", 32000, 1, "twolame --quiet -m m -b 96 IN OUT", false},
        {"MPEG-2 layer II stereo", 22050, 2, "twolame --quiet -b 64 IN OUT", false},
        {"MPEG-2 layer II mono", 16000, 1, "twolame --quiet -m m -b 32 IN OUT", false},
        {"MPEG-1 layer III", 44100, 2, "lame --quiet -b 128 IN OUT", false},
        {"MPEG-1 layer III mono, no info frame", 32000, 1, "lame --quiet -t -m m -b 64 IN OUT",
         false},
        {"MPEG-2 layer III", 24000, 2, "lame --quiet -b 64 IN OUT", false},
        {"MPEG-2 layer III mono", 16000, 1, "lame --quiet -m m -b 32 IN OUT", false},
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
