// The wave-output contract on a real sound server: the test bed's private PulseAudio with
// its null sink "Test Sink", whose monitor is recorded with pacat while we play.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <thread>

#include "platform/WaveOutHarness.h"
#include "support/MpegReference.h"
#include "support/PulseRecording.h"
#include "support/SoundServer.h"
#include "support/TempDir.h"

using namespace waveouttest;
using namespace std::chrono_literals;

namespace {

constexpr uint32_t kSinkRate = 48000;

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

    // Plays the audio in headers of `piece` bytes and returns the time from restart to the
    // last MM_WOM_DONE; closes the device right after it.
    double Play(UINT device, const FormatImage& format, const std::vector<uint8_t>& audio,
                size_t piece, DWORD stretch = 10000) {
        CallbackThread callback;
        HWAVEOUT out = OpenDevice(device, format, callback.Window());
        EXPECT_EQ(waveOutPause(out), MMSYSERR_NOERROR);
        if (stretch != 10000) {
            EXPECT_EQ(waveOutMessage(out, WODM_TIMESTRETCH, stretch, 0), MMSYSERR_NOERROR);
        }
        HeaderSet headers(audio, HeaderSet::Even(audio.size(), piece));
        EXPECT_EQ(headers.WriteAll(out), MMSYSERR_NOERROR);
        const Clock::time_point started = Clock::now();
        EXPECT_EQ(waveOutRestart(out), MMSYSERR_NOERROR);
        EXPECT_TRUE(callback.WaitFor(MM_WOM_DONE, headers.Size(), 20s));
        const double took = std::chrono::duration<double>(Clock::now() - started).count();
        EXPECT_EQ(waveOutClose(out), MMSYSERR_NOERROR);  // cuts nothing audible
        return took;
    }

    UINT sink_ = 0;
    testsupport::TempDir dir_;
};

using testsupport::Audible;
using testsupport::FindAudio;

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
        Play(device, FormatImage::Pcm(2, kSinkRate, 16), audio, 65536);
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

// A 1 kHz tone opened at 1.1 times its rate sounds at 1.1 kHz and ends sooner.
TEST_F(WaveOutPulse, ScaledRatePlaysTheToneHigher) {
    Recorder recorder(dir_.File("rate.raw"));
    const std::vector<uint8_t> audio = StereoTone(1000, 1000, kSinkRate, kSinkRate);
    const double took = Play(sink_, FormatImage::Pcm(2, 52800, 16), audio, 65536);
    std::this_thread::sleep_for(200ms);
    const std::vector<uint8_t> heard = Audible(recorder.Stop());
    EXPECT_NEAR(MeasureFrequency(heard, 2, 0, kSinkRate), 1100, 5);
    EXPECT_NEAR(heard.size() / 4.0 / kSinkRate, 1 / 1.1, 0.02);
    EXPECT_NEAR(took, 1 / 1.1, 0.25);
}

// Stretch 11000 makes it 10 % longer at the same pitch.
TEST_F(WaveOutPulse, StretchPlaysLongerAtTheSamePitch) {
    Recorder recorder(dir_.File("stretch.raw"));
    const std::vector<uint8_t> audio = StereoTone(800, 800, kSinkRate, kSinkRate * 2);
    const double took = Play(sink_, FormatImage::Pcm(2, kSinkRate, 16), audio, 65536, 11000);
    std::this_thread::sleep_for(200ms);
    const std::vector<uint8_t> heard = Audible(recorder.Stop());
    EXPECT_NEAR(heard.size() / 4.0 / kSinkRate, 2.2, 0.04);
    EXPECT_NEAR(MeasureFrequency(heard, 2, 0, kSinkRate), 800, 4);
    EXPECT_GE(took, 2.2 - 0.05);
}

// MPEG layer III through the server: the recording holds what mpg123 -s decodes.
TEST_F(WaveOutPulse, MpegPlaysAsTheReferenceDecodes) {
    const testsupport::MpegReference reference = testsupport::MakeMpegReference(
        dir_, "-r 48000 -c 2", "synth 1 sine 300 sine 500 gain -3", "lame --quiet -b 160");
    if (!reference.missing.empty()) {
        GTEST_SKIP() << reference.missing << " is missing";
    }
    const std::vector<uint8_t>& expected = reference.decoded;
    ASSERT_GT(expected.size(), 96000u + 4096);
    Recorder recorder(dir_.File("mpeg.raw"));
    Play(sink_, FormatImage::Mpeg(2, 48000, ACM_MPEG_LAYER3), reference.coded, 4000);
    std::this_thread::sleep_for(300ms);
    const std::vector<uint8_t> recording = recorder.Stop();
    // The decoder's first samples are near silence: match from the middle.
    const std::vector<uint8_t> middle(expected.begin() + 96000, expected.begin() + 96000 + 4096);
    const size_t at = FindAudio(recording, middle);
    ASSERT_NE(at, std::string::npos);
    ASSERT_GE(at, 96000u);
    const size_t start = at - 96000;
    ASSERT_GE(recording.size(), start + expected.size());
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(),
                           recording.begin() + static_cast<ptrdiff_t>(start)));
}

// A caller that writes late (an underrun) is no error: the first part plays out whole, the
// second part plays whole when it comes, each header comes back once heard, and the position
// counts both.
TEST_F(WaveOutPulse, UnderrunResumesWhenDataComes) {
    CallbackThread callback;
    HWAVEOUT out = OpenDevice(sink_, FormatImage::Pcm(2, kSinkRate, 16), callback.Window());
    ASSERT_NE(out, nullptr);
    // Each part (0.2 s) is shorter than the stream's start threshold (a quarter second), so the
    // server starts it only on the drain at the end of the queue, with all its bytes there: a
    // device thread held up by a busy machine cannot open a gap inside a part.
    const std::vector<uint8_t> audio = NoiseBytes(kSinkRate * 4 * 4 / 10, 777);
    HeaderSet headers(audio, {audio.size() / 2, audio.size() / 2});
    Recorder recorder(dir_.File("underrun.raw"));
    ASSERT_EQ(waveOutPrepareHeader(out, headers[0], sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    ASSERT_EQ(waveOutWrite(out, headers[0], sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    ASSERT_TRUE(callback.WaitFor(MM_WOM_DONE, 1, 3s));
    std::this_thread::sleep_for(300ms);
    const Clock::time_point second = Clock::now();
    ASSERT_EQ(waveOutPrepareHeader(out, headers[1], sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    ASSERT_EQ(waveOutWrite(out, headers[1], sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    ASSERT_TRUE(callback.WaitFor(MM_WOM_DONE, 2, 3s));
    EXPECT_GE(Clock::now() - second, 190ms) << "the second part came back before it was heard";
    MMTIME position{TIME_BYTES, {}};
    ASSERT_EQ(waveOutGetPosition(out, &position, sizeof position), MMSYSERR_NOERROR);
    EXPECT_EQ(position.u.cb, audio.size());
    EXPECT_EQ(waveOutClose(out), MMSYSERR_NOERROR);
    std::this_thread::sleep_for(200ms);
    const std::vector<uint8_t> recording = recorder.Stop();
    const std::vector<uint8_t> first(audio.begin(), audio.begin() + audio.size() / 2);
    const std::vector<uint8_t> last(audio.begin() + audio.size() / 2, audio.end());
    for (const auto* part : {&first, &last}) {
        const size_t at = FindAudio(recording, *part);
        ASSERT_NE(at, std::string::npos);
        ASSERT_GE(recording.size(), at + part->size());
        EXPECT_TRUE(
            std::equal(part->begin(), part->end(), recording.begin() + static_cast<ptrdiff_t>(at)));
    }
}

// A 5.1 extensible format is taken by the server with its channel map: the front-left tone
// arrives on the left of the stereo sink, the front-right silence leaves the right quiet.
TEST_F(WaveOutPulse, ExtensibleChannelsKeepTheirPlaces) {
    const FormatImage surround =
        FormatImage::Extensible(6, kSinkRate, 16, 16, 0x3F, WAVE_FORMAT_PCM);
    ASSERT_EQ(waveOutOpen(nullptr, sink_, surround.Get(), 0, 0, WAVE_FORMAT_QUERY),
              MMSYSERR_NOERROR);
    std::vector<uint8_t> audio(kSinkRate / 2 * 12, 0);
    const std::vector<uint8_t> tone = StereoTone(600, 600, kSinkRate, kSinkRate / 2);
    for (size_t frame = 0; frame < kSinkRate / 2; ++frame) {
        std::memcpy(&audio[frame * 12], &tone[frame * 4], 2);  // front left only
    }
    Recorder recorder(dir_.File("surround.raw"));
    Play(sink_, surround, audio, 65536);
    std::this_thread::sleep_for(200ms);
    const std::vector<uint8_t> heard = Audible(recorder.Stop());
    ASSERT_GT(heard.size(), kSinkRate / 4 * 4u);
    EXPECT_NEAR(MeasureFrequency(heard, 2, 0, kSinkRate), 600, 6);
    int16_t loudestRight = 0;
    for (size_t i = 2; i + 1 < heard.size(); i += 4) {
        int16_t v;
        std::memcpy(&v, &heard[i], 2);
        loudestRight = std::max<int16_t>(loudestRight, static_cast<int16_t>(std::abs(v)));
    }
    EXPECT_LT(loudestRight, 300);
}

// Pause holds the queue on the server too; reset returns everything at once.
TEST_F(WaveOutPulse, PauseHoldsAndResetReturnsAll) {
    CallbackThread callback;
    HWAVEOUT out = OpenDevice(sink_, FormatImage::Pcm(2, kSinkRate, 16), callback.Window());
    ASSERT_NE(out, nullptr);
    const std::vector<uint8_t> audio(kSinkRate * 4 * 3, 0);
    HeaderSet headers(audio, HeaderSet::Even(audio.size(), kSinkRate * 4 / 2));
    ASSERT_EQ(headers.WriteAll(out), MMSYSERR_NOERROR);
    ASSERT_TRUE(callback.WaitFor(MM_WOM_DONE, 1, 2s));
    ASSERT_EQ(waveOutPause(out), MMSYSERR_NOERROR);
    const size_t done = callback.Count(MM_WOM_DONE);
    MMTIME before{TIME_BYTES, {}}, after{TIME_BYTES, {}};
    ASSERT_EQ(waveOutGetPosition(out, &before, sizeof before), MMSYSERR_NOERROR);
    std::this_thread::sleep_for(700ms);
    ASSERT_EQ(waveOutGetPosition(out, &after, sizeof after), MMSYSERR_NOERROR);
    EXPECT_EQ(callback.Count(MM_WOM_DONE), done);
    EXPECT_NEAR(after.u.cb, before.u.cb, 4 * 480.0);
    EXPECT_EQ(waveOutClose(out), WAVERR_STILLPLAYING);
    ASSERT_EQ(waveOutReset(out), MMSYSERR_NOERROR);
    ASSERT_TRUE(callback.WaitFor(MM_WOM_DONE, headers.Size(), 1s));
    ASSERT_EQ(waveOutGetPosition(out, &after, sizeof after), MMSYSERR_NOERROR);
    EXPECT_EQ(after.u.cb, 0u);
    EXPECT_EQ(waveOutClose(out), MMSYSERR_NOERROR);
    EXPECT_TRUE(callback.WaitFor(MM_WOM_CLOSE, 1, 1s));
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
