// The ALSA backend on the PCMs of a private .asoundrc: "qtap" (plug -> file -> the test bed's
// sink), "qlocked" (plug -> a test PCM: one holder at a time, no hardware pause, records what
// it played) and "qlockraw" (that PCM without the plug layer).
#include <gtest/gtest.h>

#include <stdlib.h>

#include <thread>

#include "platform/WaveOutHarness.h"
#include "support/AppletProcess.h"
#include "support/TempDir.h"
#include "support/WaveFile.h"

using namespace waveouttest;
using namespace std::chrono_literals;

namespace {

// The private configuration, in place before the first call into the service.
class AlsaTestBed {
  public:
    AlsaTestBed() {
        // The pulse PCM gets the server by name; the process forgets it.
        const char* server = std::getenv("PULSE_SERVER");
        server_ = server != nullptr ? server : "";
        unsetenv("PULSE_SERVER");
        unsetenv("PULSE_RUNTIME_PATH");
        const std::string config =
            "pcm.qsink { type pulse server \"" + server_ +
            "\" device testsink }\n"
            "pcm.qtap { type plug slave.pcm { type file slave.pcm \"qsink\" file \"" +
            Tap() + "\" format \"raw\" } }\n" + "pcm.!default { type null }\n" +
            "pcm_type.lockedpcm { lib \"" + LOCKED_PCM_PLUGIN + "\" }\n" +
            "pcm.qlockraw { type lockedpcm lockfile \"" + dir_.File("lock") + "\" file \"" +
            Played() + "\" }\n" + "pcm.qlocked { type plug slave.pcm \"qlockraw\" }\n";
        testsupport::WriteBytes(dir_.File(".asoundrc"),
                                std::vector<uint8_t>(config.begin(), config.end()));
        setenv("HOME", dir_.Path().c_str(), 1);
        setenv("WAVEOUT_ALSA_DEVICES", "qtap, qlocked,qlockraw", 1);
    }
    std::string Tap() const { return dir_.File("tap.raw"); }
    std::string Played() const { return dir_.File("played.raw"); }
    bool HasServer() const { return !server_.empty(); }

  private:
    std::string server_;
    testsupport::TempDir dir_;
};

const AlsaTestBed& Bed() {
    static const AlsaTestBed bed;
    return bed;
}
[[maybe_unused]] const AlsaTestBed& bedBeforeMain = Bed();

struct Device {
    const char* name;
    UINT id;
    std::string record;  // the file that shows what the device got
};

std::vector<Device> Devices() {
    std::vector<Device> devices;
    devices.push_back({"qlocked", FindDevice("qlocked"), Bed().Played()});
    if (Bed().HasServer()) {
        devices.push_back({"qtap", FindDevice("qtap"), Bed().Tap()});
    }
    return devices;
}

// Through the plug layer every rate, size and channel count is taken; the PCM alone takes
// only its own format. A query leaves the device free.
TEST(WaveOutAlsa, FormatQueryAsksThePcmAndKeepsNothing) {
    struct Case {
        const char* device;
        FormatImage format;
        MMRESULT expected;
    };
    const FormatImage surround = FormatImage::Extensible(6, 48000, 24, 24, 0x3F, WAVE_FORMAT_PCM);
    const Case cases[] = {
        {"qlocked", FormatImage::Pcm(2, 48000, 16), MMSYSERR_NOERROR},
        {"qlocked", FormatImage(WAVE_FORMAT_IEEE_FLOAT, 2, 44100, 32), MMSYSERR_NOERROR},
        {"qlocked", surround, MMSYSERR_NOERROR},
        {"qlocked", FormatImage::Mpeg(2, 44100, ACM_MPEG_LAYER3), MMSYSERR_NOERROR},
        {"qlockraw", FormatImage::Pcm(2, 48000, 16), MMSYSERR_NOERROR},
        {"qlockraw", FormatImage::Pcm(2, 44100, 16), WAVERR_BADFORMAT},
        {"qlockraw", FormatImage::Pcm(2, 48000, 12), WAVERR_BADFORMAT},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(
            waveOutOpen(nullptr, FindDevice(c.device), c.format.Get(), 0, 0, WAVE_FORMAT_QUERY),
            c.expected)
            << c.device << " " << c.format.Get()->nSamplesPerSec << " Hz";
    }
    // Nothing was kept: the device opens.
    HWAVEOUT out = OpenDevice(FindDevice("qlocked"), FormatImage::Pcm(2, 52800, 8), nullptr);
    EXPECT_EQ(waveOutClose(out), MMSYSERR_NOERROR);
}

// A device held by someone else fails the open at once with "in use", whether the holder is
// this process or another program; it opens again once let go.
TEST(WaveOutAlsa, BusyDeviceFailsTheOpenAtOnce) {
    const UINT locked = FindDevice("qlocked");
    const FormatImage format = FormatImage::Pcm(2, 48000, 16);
    HWAVEOUT holder = OpenDevice(locked, format, nullptr);
    ASSERT_NE(holder, nullptr);
    HWAVEOUT second = nullptr;
    const Clock::time_point before = Clock::now();
    EXPECT_EQ(waveOutOpen(&second, locked, format.Get(), 0, 0, CALLBACK_NULL), MMSYSERR_ALLOCATED);
    EXPECT_LT(Clock::now() - before, 500ms);
    EXPECT_EQ(waveOutClose(holder), MMSYSERR_NOERROR);

    if (HaveTool("aplay")) {
        testsupport::TempDir dir;
        const std::vector<uint8_t> silence(48000 * 4 * 3, 0);
        testsupport::WriteBytes(dir.File("silence.raw"), silence);
        const std::string pid = dir.File("pid");
        ASSERT_EQ(Shell("aplay -q -D qlocked -t raw -f S16_LE -r 48000 -c 2 " +
                        dir.File("silence.raw") + " & echo $! > " + pid),
                  0);
        std::this_thread::sleep_for(300ms);
        EXPECT_EQ(waveOutOpen(&second, locked, format.Get(), 0, 0, CALLBACK_NULL),
                  MMSYSERR_ALLOCATED)
            << "aplay holds the device";
        Shell("kill $(cat " + pid + ") 2>/dev/null; sleep 0.2");
    }
    HWAVEOUT again = OpenDevice(locked, format, nullptr);
    EXPECT_EQ(waveOutClose(again), MMSYSERR_NOERROR);
}

// Headers of odd sizes, paused midway with the hardware pause (qtap: the pulse PCM) and without
// (qlocked: dropped and re-primed): pause holds the queue and the position, and after restart
// the device gets every byte once; closing right after the last notification loses nothing.
TEST(WaveOutAlsa, PauseHoldsTheQueueAndLosesNothing) {
    for (const Device& device : Devices()) {
        CallbackThread callback;
        const std::vector<uint8_t> audio = NoiseBytes(48000 * 4, 777);  // 1 s
        HeaderSet headers(audio, {48001, 3, 20000, 38400, 65536, 20060});
        HWAVEOUT out = OpenDevice(device.id, FormatImage::Pcm(2, 48000, 16), callback.Window());
        ASSERT_NE(out, nullptr) << device.name;
        ASSERT_EQ(headers.WriteAll(out), MMSYSERR_NOERROR);
        std::this_thread::sleep_for(350ms);
        ASSERT_EQ(waveOutPause(out), MMSYSERR_NOERROR);
        const size_t doneAtPause = callback.Count(MM_WOM_DONE);
        const DWORD positionAtPause = PositionBytes(out);
        EXPECT_GT(positionAtPause, 48000u * 4 / 10) << device.name;
        EXPECT_LT(positionAtPause, 48000u * 4 / 2) << device.name;
        std::this_thread::sleep_for(400ms);
        EXPECT_EQ(callback.Count(MM_WOM_DONE), doneAtPause) << device.name;
        EXPECT_EQ(PositionBytes(out), positionAtPause) << device.name;
        ASSERT_EQ(waveOutRestart(out), MMSYSERR_NOERROR);
        ASSERT_TRUE(callback.WaitFor(MM_WOM_DONE, headers.Size(), 5s)) << device.name;
        EXPECT_EQ(PositionBytes(out), audio.size()) << device.name;
        ASSERT_EQ(waveOutClose(out), MMSYSERR_NOERROR);
        EXPECT_TRUE(testsupport::ReadBytes(device.record) == audio) << device.name;
    }
}

// The applet as a user runs it, hidden and without a display, on an ALSA PCM picked by name:
// the PCM's own format arrives byte for byte, another rate through the plug layer's
// converter, and the run ends once the audio has been played.
TEST(WaveOutAlsa, TheAppletPlaysAFileOnAnAlsaDevice) {
    struct Case {
        const char* tag;
        uint16_t channels;
        uint32_t rate;
        bool exact;  // the PCM's own format: what it played is the file's audio
    };
    const Case cases[] = {
        {"alsa-native", 2, 48000, true},
        {"alsa-converted", 1, 44100, false},
    };
    for (const Case& c : cases) {
        testsupport::TempDir dir;
        const double seconds = 1.0;
        const std::vector<uint8_t> audio =
            NoiseBytes(static_cast<size_t>(seconds * c.rate) * c.channels * 2, c.rate);
        const std::string path = testsupport::WriteWaveFile(
            dir.File("play.wav"), audio, "PCM16", c.channels, static_cast<int32_t>(c.rate));
        const Clock::time_point started = Clock::now();
        testsupport::Applet applet({"/D:qlocked", path, "/H"}, "", c.tag);
        ASSERT_EQ(applet.WaitExit(5s), 0) << c.tag << ": " << applet.Err();
        const double took = std::chrono::duration<double>(Clock::now() - started).count();
        EXPECT_EQ(applet.Err(), "") << c.tag;
        EXPECT_GE(took, seconds) << c.tag << ": ended before the audio was played";
        const double overhead = testsupport::kSanitized ? 2.5 : 0.6;
        EXPECT_LT(took, seconds + overhead) << c.tag << ": lingered after the end";
        const std::vector<uint8_t> played = testsupport::ReadBytes(Bed().Played());
        if (c.exact) {
            EXPECT_TRUE(played == audio) << c.tag << ": the device played other bytes";
        } else {
            // 16-bit stereo at 48 kHz behind the converter: the same length in time.
            EXPECT_NEAR(static_cast<double>(played.size()) / (48000 * 4), seconds, 0.01) << c.tag;
        }
    }
}

}  // namespace
