// The wave output on the test bed's sound server; its null sink "Test Sink" is recorded.
#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "platform/WaveOutHarness.h"
#include "support/PulseRecording.h"
#include "support/SoundServer.h"
#include "support/TempDir.h"

using namespace waveouttest;
using namespace std::chrono_literals;

namespace {

constexpr uint32_t kSinkRate = 48000;

using testsupport::FindAudio;
using testsupport::Recorder;
class WaveOutPulse : public ::testing::Test {
  protected:
    void SetUp() override {
        sink_ = FindDevice("Test Sink");
        if (sink_ >= waveOutGetNumDevs()) {
            if (std::getenv("QUINDLE_TESTBED") != nullptr) {
                FAIL() << "the test bed's sink is not in the device list";
            }
            GTEST_SKIP() << "no test bed sound server (run under scripts/testbed.sh)";
        }
    }

    UINT sink_ = 0;
    testsupport::TempDir dir_;
};

TEST_F(WaveOutPulse, SinksAreListedByDescriptionBeforeNullOutput) {
    EXPECT_LT(sink_, NullOutput());
    EXPECT_EQ(NullOutput(), waveOutGetNumDevs() - 1);
    WAVEOUTCAPSA caps{};
    ASSERT_EQ(waveOutGetDevCapsA(WAVE_MAPPER, &caps, sizeof caps), MMSYSERR_NOERROR);
    EXPECT_STREQ(caps.szPname, "Test Sink") << "the mapper is the server's default sink";
}

// PCM16 at the sink's own format arrives bit for bit, and the last MM_WOM_DONE comes only
// after the audible end: closing right after it loses nothing.
TEST_F(WaveOutPulse, RecordingHoldsTheExactBytes) {
    for (UINT device : {sink_, WAVE_MAPPER}) {
        Recorder recorder(dir_.File("exact.raw"));
        const std::vector<uint8_t> audio = NoiseBytes(kSinkRate * 4 * 8 / 10);
        CallbackThread callback;
        HWAVEOUT out = OpenDevice(device, FormatImage::Pcm(2, kSinkRate, 16), callback.Window());
        HeaderSet headers(audio, HeaderSet::Even(audio.size(), 65536));
        ASSERT_EQ(headers.WriteAll(out), MMSYSERR_NOERROR);
        ASSERT_TRUE(callback.WaitFor(MM_WOM_DONE, headers.Size(), 20s));
        EXPECT_EQ(waveOutClose(out), MMSYSERR_NOERROR);  // cuts nothing audible
        std::this_thread::sleep_for(300ms);
        const std::vector<uint8_t> recording = recorder.Stop();
        const size_t at = FindAudio(recording, audio);
        ASSERT_NE(at, std::string::npos) << "the start of the audio is not in the recording";
        ASSERT_GE(recording.size(), at + audio.size()) << "the end was cut";
        EXPECT_TRUE(
            std::equal(audio.begin(), audio.end(), recording.begin() + static_cast<ptrdiff_t>(at)))
            << "the recording differs from what was played";
    }
}

// A sound server that goes away mid-playback: every queued header comes back, later ones
// too, and pausing, resetting and closing still return at once. The server is a second
// private one of the test bed's kind that this test starts and kills.
TEST_F(WaveOutPulse, ServerThatGoesAwayReturnsEverything) {
    testsupport::PrivateSoundServer privateServer;
    ASSERT_TRUE(privateServer.Start());
    const std::string server = privateServer.Address();
    CallbackThread callback;
    HWAVEOUT out = nullptr;
    MMRESULT opened = MMSYSERR_ERROR;
    {
        testsupport::ServerOverride use(server);  // the sink's connection goes to that server
        opened = waveOutOpen(&out, sink_, FormatImage::Pcm(2, kSinkRate, 16).Get(),
                             reinterpret_cast<DWORD_PTR>(callback.Window()), 0, CALLBACK_WINDOW);
    }
    ASSERT_EQ(opened, MMSYSERR_NOERROR);
    const std::vector<uint8_t> audio(kSinkRate * 4 * 4, 0);
    HeaderSet headers(audio, HeaderSet::Even(audio.size(), kSinkRate * 4 / 2));
    ASSERT_EQ(headers.WriteAll(out), MMSYSERR_NOERROR);
    std::this_thread::sleep_for(300ms);
    privateServer.Kill();
    ASSERT_TRUE(callback.WaitFor(MM_WOM_DONE, headers.Size(), 3s));
    // From now on the device reports that it is gone, and it still closes.
    WAVEHDR late{};
    std::vector<uint8_t> more(4800, 0);
    late.lpData = reinterpret_cast<LPSTR>(more.data());
    late.dwBufferLength = static_cast<DWORD>(more.size());
    ASSERT_EQ(waveOutPrepareHeader(out, &late, sizeof late), MMSYSERR_NOERROR);
    const Clock::time_point asked = Clock::now();
    EXPECT_EQ(waveOutWrite(out, &late, sizeof late), MMSYSERR_NODRIVER);
    EXPECT_EQ(waveOutPause(out), MMSYSERR_NODRIVER);
    EXPECT_EQ(waveOutRestart(out), MMSYSERR_NODRIVER);
    EXPECT_EQ(waveOutReset(out), MMSYSERR_NODRIVER);
    EXPECT_EQ(waveOutClose(out), MMSYSERR_NOERROR);
    EXPECT_LT(Clock::now() - asked, 500ms);
}

}  // namespace
