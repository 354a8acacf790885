// Playing a file never writes to it: for every kind of file the applet plays, its bytes and
// modification time are the same afterwards, and no process opened it for writing, wrote to
// it or changed its attributes while it played.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/WaveOutHarness.h"
#include "support/AppletProcess.h"
#include "support/FileWatch.h"
#include "support/TempDir.h"
#include "support/WaveFile.h"
#include "wavfile/WavFileBase.h"

using namespace std::chrono_literals;
using testsupport::Applet;
using testsupport::FileSnapshot;
using testsupport::FileWatch;

namespace {

constexpr uint32_t kRate = 44100;

std::string Wave(const std::string& path, const std::vector<uint8_t>& audio) {
    return testsupport::WriteWaveFile(path, audio, "PCM16", 2, kRate);
}

// A DAF file: 256 bytes of header, then the audio.
std::string Daf(const std::string& path, const std::vector<uint8_t>& audio) {
    std::vector<uint8_t> bytes(256, 0);
    bytes.insert(bytes.end(), audio.begin(), audio.end());
    testsupport::WriteBytes(path, bytes);
    return path;
}

TEST(ReadOnlyPlayback, NoKindOfFileIsWrittenByPlayingIt) {
    for (const char* tool : {"lame", "twolame"}) {
        if (!waveouttest::HaveTool(tool)) {
            GTEST_SKIP() << tool << " is missing";
        }
    }
    testsupport::TempDir dir;
    const std::vector<uint8_t> tone =
        waveouttest::StereoTone(440, 660, kRate, static_cast<size_t>(kRate * 0.4), 0.3);
    const std::string wav = Wave(dir.File("tone.wav"), tone);
    const std::string mp3 = dir.File("tone.mp3"), mp2 = dir.File("tone.mp2");
    ASSERT_EQ(waveouttest::Shell("lame --quiet -b 128 " + wav + " " + mp3), 0);
    ASSERT_EQ(waveouttest::Shell("twolame --quiet -b 192 " + wav + " " + mp2), 0);
    const std::string dafMpeg = Daf(dir.File("mpeg.daf"), testsupport::ReadBytes(mp2));
    std::vector<uint8_t> pcm = tone;
    pcm[0] = pcm[1] = 0;  // no frame sync where the audio starts
    const std::string dafPcm = Daf(dir.File("pcm.daf"), pcm);

    const bool server = std::system("pactl info >/dev/null 2>&1") == 0;
    // Sanitized builds start the program slowly: the plain run is left out there.
    const std::vector<std::vector<std::string>> optionSets = {
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
        {"/D:null", "/H"},
#endif
        {"/D:null", "/H", "/P:4000", "/S:110", "/T:90"},
        {"/D:Test Sink", "/H"},
    };
    for (const std::string& path : {wav, mp3, mp2, dafMpeg, dafPcm}) {
        const FileSnapshot before = FileSnapshot::Of(path);
        ASSERT_FALSE(before.bytes.empty()) << path;
        FileWatch watch(path);
        ASSERT_TRUE(watch.Valid());
        for (std::vector<std::string> options : optionSets) {
            if (options[0] == "/D:Test Sink" && !server) {
                continue;
            }
            options.push_back(path);
            Applet applet(options, "", "read-only-playback");
            EXPECT_EQ(applet.WaitExit(10s), 0) << path << ": " << applet.Err();
            EXPECT_EQ(applet.Err().find("Starting Error"), std::string::npos)
                << path << ": " << applet.Err();
        }
        watch.Poll(50);
        EXPECT_GE(watch.Opens(), 1u) << path << " was never opened";
        EXPECT_EQ(watch.Changes(), 0u) << path << " was opened for writing or changed";
        EXPECT_TRUE(FileSnapshot::Of(path) == before) << path << ": bytes or time changed";
    }
}

}  // namespace
