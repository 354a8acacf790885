// The engine on the test bed's sound server: a WAVE file plays to its end, the sink hears
// exactly its audio, and the engine reports the end only after the audio has been heard.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "player/WavePlayer.h"
#include "support/PulseRecording.h"
#include "support/WaveFile.h"

using namespace std::chrono_literals;

namespace {

int32_t TestSink() {
    for (UINT i = 0; i < waveOutGetNumDevs(); ++i) {
        WAVEOUTCAPSA caps{};
        if (waveOutGetDevCapsA(i, &caps, sizeof caps) == MMSYSERR_NOERROR &&
            std::strcmp(caps.szPname, "Test Sink") == 0) {
            return static_cast<int32_t>(i);
        }
    }
    return -1;
}

TEST(PlayerOnSoundServer, WaveFilePlaysToTheEndBeforeStateZero) {
    const int32_t sink = TestSink();
    if (sink < 0) {
        if (std::getenv("QUINDLE_TESTBED") != nullptr) {
            FAIL() << "the test bed's sink is not listed";
        }
        GTEST_SKIP() << "no test bed sound server";
    }
    testsupport::TempDir dir;
    const std::string path = dir.File("two-seconds.wav");
    std::vector<uint8_t> audio(48000 * 4 * 2);
    uint32_t x = 12345;
    for (size_t i = 0; i < audio.size(); i += 2) {  // noise at about -12 dBFS
        x = x * 1664525u + 1013904223u;
        const auto v = static_cast<int16_t>(static_cast<int32_t>(x >> 16) / 4 - 8192 / 2);
        std::memcpy(&audio[i], &v, 2);
    }
    testsupport::WriteWaveFile(path, audio);

    testsupport::Recorder recorder(dir.File("heard.raw"));
    WavePlayer player(nullptr);
    ASSERT_EQ(player.Start(sink, path.c_str(), 0, 1.0f, 1.0f), 0);
    const auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(player.Restart(), 0);
    while (player.GetState() != PLAYER_STOPPED &&
           std::chrono::steady_clock::now() - started < 10s) {
        std::this_thread::sleep_for(5ms);
    }
    const double took =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    ASSERT_EQ(player.GetState(), PLAYER_STOPPED);
    EXPECT_EQ(player.Close(), 0);
    EXPECT_GE(took, 2.0 - 0.03) << "state 0 before the audio could have been heard";
    EXPECT_LT(took, 2.6);

    std::this_thread::sleep_for(300ms);
    const std::vector<uint8_t> recording = recorder.Stop();
    const size_t at = testsupport::FindAudio(recording, audio);
    ASSERT_NE(at, std::string::npos) << "the audio is not in the recording";
    ASSERT_GE(recording.size(), at + audio.size()) << "the end was cut";
    EXPECT_TRUE(
        std::equal(audio.begin(), audio.end(), recording.begin() + static_cast<ptrdiff_t>(at)));
}

}  // namespace
